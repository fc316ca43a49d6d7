// Starting the X server once, connecting to it, resetting it between sessions, stopping it.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* X_DISPLAY_NAME = ":0";
inline constexpr int X_DISPLAY_NUMBER = 0;
inline constexpr int X_SERVER_VT = 1;
inline constexpr const char* X_SERVER_PATH = "/usr/bin/Xorg";
inline constexpr int CONNECT_ATTEMPTS = 30;
inline constexpr int CONNECT_INTERVAL_MS = 500;
// A server that has not taken the daemon back this long after a reset is stuck.
inline constexpr int RESET_CONNECT_TIMEOUT_MS = 15000;
// Between SIGTERM and SIGKILL when the server is stopped.
inline constexpr int STOP_GRACE_MS = 5000;

// The display the daemon's server runs on: ":0", or the one the server chose when the names of
// ":0" were held by someone else. Sessions and cookies use it.
const std::string& x_display_name();
void set_x_display_number(int number);

// The X server's argument list, argument zero first: "Xorg", ":0", "vt1", "-nolisten", "tcp",
// "-auth", the authority file. With `display_fd` >= 0 the server picks a free display itself and
// writes its number there: "-displayfd", the descriptor, in place of ":0".
std::vector<std::string> x_server_arguments(const std::string& authority_path, int display_fd = -1);

// The display number an X server wrote to its -displayfd descriptor ("1\n").
std::optional<int> parse_display_number(std::string_view text);

// The server tells its parent with SIGUSR1 when it accepts connections, at start and after every
// reset, if it inherits SIGUSR1 ignored. Blocked here, the signal waits for the daemon instead
// of ending it; must be called before `start_x_server`.
void block_server_ready_signal();

// The X server child's PID, or 0 when it could not be forked. `inherited` are descriptors the
// server keeps across its exec (everything else the daemon holds is close-on-exec).
pid_t start_x_server(const std::vector<std::string>& arguments,
                     const std::vector<int>& inherited = {});

enum class ServerReadiness { Ready, Ended, TimedOut };

// Waits for the ready signal of the server `pid`; stops at once when the server has ended.
ServerReadiness wait_server_ready(pid_t pid, int timeout_ms);

// The server `pid` has ended (it is left unreaped).
bool x_server_ended(pid_t pid);

// A connection to the daemon's own server, the one with PID `pid` running as root: whoever
// answers on the display's sockets is asked who they are (SO_PEERCRED) before the cookie goes
// out, and again on the connection made. Null, with the reason in `refused` when it was someone
// else, after `timeout_ms` of attempts.
Display* connect_display(pid_t pid, int timeout_ms, std::string& refused);

// First half of a reset: sends the server SIGHUP, then shuts the daemon's connection without a
// request (a client left holding a server grab would block any). Whatever still uses `display`
// afterwards talks to nobody; `finish_x_reset` closes it.
void begin_x_reset(pid_t pid, Display* display);

// Second half: frees `display`, waits for the reset server's ready signal and connects again.
// Null when that did not happen within RESET_CONNECT_TIMEOUT_MS, or the server died.
Display* finish_x_reset(pid_t pid, Display* display, std::string& refused);

// SIGTERM, then SIGKILL if the server has not ended within STOP_GRACE_MS; reaps it.
void stop_x_server(pid_t pid);
