// Waiting for the session process, and what happens to it when the display goes away.
#pragma once

#include <sys/types.h>

// As Xlib declares it; this header stays free of Xlib's macros.
typedef struct _XDisplay Display;  // NOLINT(bugprone-reserved-identifier): Xlib's own name

// The session's exit status when it exited normally, 1 when a signal ended it.
int exit_code_from_status(int status);

// Blocks until the session process has ended, reaps it, ends what is left of its process group
// and returns its exit code. Meanwhile the display connection is watched: losing it ends the
// session and the daemon.
int wait_for_child(pid_t pid, Display* display);

// A lost connection on `display` stays fatal, but first ends the session that is running and
// stops the X server `x_server`, so that nothing of either outlives the daemon. Called for every
// new connection.
void watch_connection(Display* display, pid_t x_server);
