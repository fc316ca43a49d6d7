#include "supervise.h"

#include <sys/wait.h>

#include <string>

#include "log.h"

int exit_code_from_status(int status) {
    if ((status & 0x7f) == 0) {
        return (status >> 8) & 0xff;
    }
    return 1;
}

int wait_for_child(pid_t pid) {
    log_message(LogLevel::Info, "Waiting for child PID " + std::to_string(pid) + " to exit");
    int status = 0;
    (void)::waitpid(pid, &status, 0);
    const int code = exit_code_from_status(status);
    log_message(LogLevel::Info,
                "Child PID " + std::to_string(pid) + " exited with code " + std::to_string(code));
    return code;
}
