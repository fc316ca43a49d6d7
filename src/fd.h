// Descriptors: a move-only owner, and the few ways the daemon opens, reads and waits.
#pragma once

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Repeats a system call that a signal interrupted; returns its last result.
template <typename Call>
auto retry_on_eintr(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR) {
        result = call();
    }
    return result;
}

// Sleeps the whole time, however often a signal interrupts.
inline void sleep_ms(long ms) {
    timespec left{ms / 1000, (ms % 1000) * 1'000'000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

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

// Opens `path` only when it is a regular file, without ever blocking: a FIFO would wait for a
// writer, a device could be anything. `extra_flags` adds O_NOFOLLOW, O_WRONLY, O_CREAT and the
// like; `mode` is for O_CREAT. The descriptor returned blocks again as usual. Invalid when the
// open failed (errno says why) or the file is not regular (errno is EINVAL).
inline UniqueFd open_regular_file(const char* path, int extra_flags = O_RDONLY, mode_t mode = 0) {
    UniqueFd fd(retry_on_eintr(
        [&] { return ::open(path, extra_flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode); }));
    struct stat info {};
    if (!fd.valid()) {
        return fd;
    }
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        return UniqueFd();
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    (void)::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Appends everything left to read from `fd` to `bytes`; false when a read fails. What passed
// through the stack buffer may be secret, so it is wiped.
inline bool read_all_into(int fd, std::string& bytes) {
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const ssize_t n = retry_on_eintr([&] { return ::read(fd, chunk, sizeof chunk); });
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes.append(chunk, static_cast<size_t>(n));
    }
    ::explicit_bzero(chunk, sizeof chunk);
    return ok;
}

// Writes all of `bytes`; false when a write fails (errno says why; EIO when nothing was taken).
inline bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = retry_on_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
        if (n <= 0) {
            if (n == 0) {
                errno = EIO;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
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

// A regular file whole, read without ever blocking on a FIFO or a device; nothing otherwise.
inline std::optional<std::string> read_regular_file(const char* path) {
    const UniqueFd fd = open_regular_file(path);
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return std::nullopt;
    }
    return read_all(fd.get(), static_cast<size_t>(st.st_size));
}
