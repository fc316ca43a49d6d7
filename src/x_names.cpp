#include "x_names.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "fd.h"

namespace {

constexpr int MOVE_ASIDE_ATTEMPTS = 3;

std::string owner_text(const struct stat& info) {
    if (!S_ISREG(info.st_mode) && !S_ISSOCK(info.st_mode) && !S_ISDIR(info.st_mode)) {
        return "it was neither a file nor a socket";
    }
    return "it belonged to uid " + std::to_string(info.st_uid);
}

bool abstract_name_held(const std::string& name) {
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return false;
    }
    socklen_t length = 0;
    const sockaddr_un address = unix_socket_address(name, true, length);
    // Binding it ourselves is the only question the kernel answers; closing frees it again.
    return ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 &&
           errno == EADDRINUSE;
}

bool socket_answers(const std::string& path) {
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        return false;
    }
    socklen_t length = 0;
    const sockaddr_un address = unix_socket_address(path, false, length);
    return ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0;
}

bool process_alive(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string random_suffix() {
    unsigned char bytes[6] = {};
    (void)::getrandom(bytes, sizeof bytes, 0);
    std::string text;
    char hex[3];
    for (const unsigned char byte : bytes) {
        std::snprintf(hex, sizeof hex, "%02x", byte);
        text += hex;
    }
    return text;
}

Result<Ok> make_socket_dir() {
    if (::mkdir(X_SOCKET_DIR, 0700) != 0) {
        return Err{std::string("cannot create ") + X_SOCKET_DIR + ": " + os_error_text(errno)};
    }
    return Ok{};
}

}  // namespace

sockaddr_un unix_socket_address(const std::string& path, bool abstract, socklen_t& length) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const size_t offset = abstract ? 1 : 0;
    const size_t size = std::min(path.size(), sizeof address.sun_path - 1 - offset);
    std::memcpy(address.sun_path + offset, path.data(), size);
    // An abstract name is exactly its bytes, without a terminating NUL.
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + size +
                                    (abstract ? 0 : 1));
    return address;
}

std::string x_lock_path(int number) {
    return "/tmp/.X" + std::to_string(number) + "-lock";
}

std::string x_socket_path(int number) {
    return std::string(X_SOCKET_DIR) + "/X" + std::to_string(number);
}

std::optional<pid_t> parse_lock_pid(std::string_view text) {
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    pid_t pid = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
    if (error != std::errc() || end != text.data() + text.size() || pid <= 0) {
        return std::nullopt;
    }
    return pid;
}

Result<std::string> prepare_socket_dir() {
    std::string done;
    bool created = false;
    for (int attempt = 0; attempt < MOVE_ASIDE_ATTEMPTS; ++attempt) {
        struct stat info {};
        if (::lstat(X_SOCKET_DIR, &info) != 0) {
            if (errno != ENOENT) {
                return Err{std::string("cannot examine ") + X_SOCKET_DIR + ": " +
                           os_error_text(errno)};
            }
            // Made afresh is the usual case (the server would make it too): nothing to report.
            if (Result<Ok> made = make_socket_dir(); made.ok()) {
                created = true;
            } else if (errno != EEXIST) {
                return Err{made.error()};
            }
            continue;  // looked at again: someone may have been quicker
        }
        if (!S_ISDIR(info.st_mode) || info.st_uid != 0) {
            // A user's directory holds what they planted; it stays theirs, out of the way.
            const std::string aside = std::string(X_SOCKET_DIR) + ".moved-" + random_suffix();
            if (::rename(X_SOCKET_DIR, aside.c_str()) != 0) {
                return Err{std::string("cannot move ") + X_SOCKET_DIR +
                           " aside: " + os_error_text(errno)};
            }
            done = std::string("moved ") + X_SOCKET_DIR + " aside to " + aside + ": " +
                   (S_ISDIR(info.st_mode) ? owner_text(info) : "it was not a directory");
            continue;
        }
        const UniqueFd dir(::open(X_SOCKET_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened {};
        if (!dir.valid() || ::fstat(dir.get(), &opened) != 0 || opened.st_ino != info.st_ino ||
            opened.st_dev != info.st_dev) {
            continue;  // replaced meanwhile
        }
        if ((info.st_mode & 07777) != X_SOCKET_DIR_MODE) {
            if (::fchmod(dir.get(), X_SOCKET_DIR_MODE) != 0) {
                return Err{std::string("cannot set the mode of ") + X_SOCKET_DIR + ": " +
                           os_error_text(errno)};
            }
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", info.st_mode & 07777);
            if (done.empty() && !created) {
                done = std::string("set the mode of ") + X_SOCKET_DIR + " to 1777 (it was " + mode +
                       ")";
            }
        }
        return done;
    }
    return Err{std::string(X_SOCKET_DIR) + " keeps being replaced"};
}

DisplayNames claim_display_names(int number) {
    DisplayNames names;
    for (const std::string& path : {x_lock_path(number), x_socket_path(number)}) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0) {
            continue;
        }
        const bool usable = info.st_uid == 0 && (S_ISREG(info.st_mode) || S_ISSOCK(info.st_mode));
        if (!usable) {
            if (::unlink(path.c_str()) == 0) {
                names.removed.push_back("removed " + path + ": " + owner_text(info));
            } else {
                names.taken = "cannot remove " + path + ": " + os_error_text(errno);
            }
            continue;
        }
        if (S_ISREG(info.st_mode)) {
            // A dead PID is a stale lock, which the server clears itself.
            const std::optional<std::string> text = read_regular_file(path.c_str());
            const std::optional<pid_t> pid = text ? parse_lock_pid(*text) : std::nullopt;
            if (pid && process_alive(*pid)) {
                names.taken = path + " names the running process " + std::to_string(*pid);
            }
        } else if (socket_answers(path)) {
            names.taken = "a server answers on " + path;
        }
    }
    if (names.taken.empty() && abstract_name_held(x_socket_path(number))) {
        names.taken =
            "the abstract socket name @" + x_socket_path(number) + " is held by another process";
    }
    return names;
}
