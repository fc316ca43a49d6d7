// Starting the X server once, connecting to it, resetting it between sessions, stopping it.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <string>
#include <vector>

inline constexpr const char* X_DISPLAY_NAME = ":0";
inline constexpr int X_SERVER_VT = 1;
inline constexpr const char* X_SERVER_PATH = "/usr/bin/Xorg";
inline constexpr int CONNECT_ATTEMPTS = 30;
// A server that has not taken the daemon back this long after a reset is stuck.
inline constexpr int RESET_CONNECT_TIMEOUT_MS = 15000;
// Between SIGTERM and SIGKILL when the server is stopped.
inline constexpr int STOP_GRACE_MS = 5000;

// The X server's argument list, argument zero first: "Xorg", ":0", "vt1", "-nolisten", "tcp",
// then "-auth" and the path when there is an authority file (`authority_path` not null).
std::vector<std::string> x_server_arguments(const char* authority_path);

// The server tells its parent with SIGUSR1 when it accepts connections, at start and after every
// reset, if it inherits SIGUSR1 ignored. Blocked here, the signal waits for `finish_x_reset`
// instead of ending the daemon; must be called before `start_x_server`.
void block_server_ready_signal();

// The X server child's PID, or 0 when it could not be forked.
pid_t start_x_server(const std::vector<std::string>& arguments);

// An open connection to ":0", or null after every attempt failed.
Display* connect_display();

// First half of a reset: sends the server SIGHUP, then shuts the daemon's connection without a
// request (a client left holding a server grab would block any). Whatever still uses `display`
// afterwards talks to nobody; `finish_x_reset` closes it.
void begin_x_reset(pid_t pid, Display* display);

// Second half: frees `display`, waits for the reset server's ready signal and connects again.
// Null when that did not happen within RESET_CONNECT_TIMEOUT_MS, or the server died.
Display* finish_x_reset(pid_t pid, Display* display);

// SIGTERM, then SIGKILL if the server has not ended within STOP_GRACE_MS; reaps it.
void stop_x_server(pid_t pid);
