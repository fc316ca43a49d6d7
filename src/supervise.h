// Waiting for the session process, and what happens to it when the display goes away.
#pragma once

#include <sys/types.h>

// As Xlib declares it; this header stays free of Xlib's macros.
typedef struct _XDisplay Display;  // NOLINT(bugprone-reserved-identifier): Xlib's own name

// After the session process was asked to end: its own grace for the session program, then
// time for the PAM modules to close the session. Only then is anything killed.
inline constexpr int SESSION_CLOSE_ALLOWANCE_MS = 10000;

// The session's exit status when it exited normally, 1 when a signal ended it.
int exit_code_from_status(int status);

// Blocks until the session process has ended, reaps it, ends what is left of its process group
// and returns its exit code. Meanwhile the display connection is watched: when it is lost, the
// session is ended (the session process first closes the PAM session) and the wait returns.
int wait_for_child(pid_t pid, Display* display);

// From now on a lost connection on `display` is noted instead of ending the daemon: Xlib's calls
// on it return at once and `connection_lost` says so. Called for every new connection.
void watch_connection(Display* display);

// Whether the connection given to `watch_connection` was lost (a killed client, a dead server).
bool connection_lost();
