// Waiting for the session process.
#pragma once

#include <sys/types.h>

// The session's exit status when it exited normally, 1 when a signal ended it.
int exit_code_from_status(int status);

int wait_for_child(pid_t pid);
