// The names an X display lives under in /tmp and the abstract socket space, made safe before the
// server starts. Anyone may create entries in /tmp and bind abstract names (they have no owner
// or permissions), so what is found there decides whether ":0" can be the daemon's.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

inline constexpr const char* X_SOCKET_DIR = "/tmp/.X11-unix";
inline constexpr mode_t X_SOCKET_DIR_MODE = 01777;

// "/tmp/.X{n}-lock", "/tmp/.X11-unix/X{n}" and the abstract name (without its leading NUL).
std::string x_lock_path(int number);
std::string x_socket_path(int number);

// The address of a Unix socket at `path`, or of the abstract name with the same bytes.
sockaddr_un unix_socket_address(const std::string& path, bool abstract, socklen_t& length);

// The PID a lock file names: ten characters, blank-padded, then a line feed (the X server's
// format); a bare number is accepted too. Nothing for anything else.
std::optional<pid_t> parse_lock_pid(std::string_view text);

// What was found for one display number.
struct DisplayNames {
    // Entries that were not root's and were removed, one line each for the log.
    std::vector<std::string> removed;
    // Why the number cannot be the daemon's (empty when it can).
    std::string taken;
};

// Makes X_SOCKET_DIR root's own directory with mode 1777; something else in its place is moved
// aside, never entered. The text says what was done ("" when it was right already).
Result<std::string> prepare_socket_dir();

// Removes a lock file or socket of display `number` that is not root's, then says whether the
// number is still taken: a live process in a root lock file, a socket file that answers, or an
// abstract name that someone holds.
DisplayNames claim_display_names(int number);
