// Move-only owner of a file descriptor.
#pragma once

#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Appends everything left to read from `fd` to `bytes`; false when a read fails. What passed
// through the stack buffer may be secret, so it is wiped.
inline bool read_all_into(int fd, std::string& bytes) {
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
    ::explicit_bzero(chunk, sizeof chunk);
    return ok;
}

// Everything left to read from `fd`; nothing when a read fails.
inline std::optional<std::string> read_all(int fd, size_t size_hint = 0) {
    std::string bytes;
    bytes.reserve(size_hint);
    if (!read_all_into(fd, bytes)) {
        return std::nullopt;
    }
    return bytes;
}
