#include "supervise.h"

#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

#include "fd.h"
#include "log.h"
#include "xserver.h"

namespace {

constexpr int SESSION_GRACE_STEPS = 20;  // after SIGTERM and before SIGKILL
constexpr long SESSION_GRACE_STEP_MS = 100;

// The session being waited for. The connection-loss handler ends what is left of it: while it
// runs, and also after its leader has gone, since the display usually dies under the session
// first. Cleared once its group is gone, so that a reused ID is never signalled.
pid_t last_session = 0;
pid_t x_server_pid = 0;

// The session child is its own process-session and group leader, so its programs share its ID
// as their group, unless they left it themselves.
void end_session_group(pid_t pid) {
    if (::kill(-pid, SIGTERM) != 0) {
        return;  // nothing left
    }
    log_message(LogLevel::Info, "Ending session PID " + std::to_string(pid));
    for (int step = 0; step < SESSION_GRACE_STEPS; ++step) {
        (void)::waitpid(pid, nullptr, WNOHANG);
        if (::kill(-pid, 0) != 0 && errno == ESRCH) {
            return;
        }
        sleep_ms(SESSION_GRACE_STEP_MS);
    }
    ::kill(-pid, SIGKILL);
    (void)::waitpid(pid, nullptr, 0);
}

// Xlib calls this first; what follows is up to the connection's exit handler.
int note_connection_error(Display*) {
    return 0;
}

void on_connection_lost(Display*, void*) {
    log_message(LogLevel::Error, "Lost the connection to the X display");
    if (last_session > 0) {
        end_session_group(last_session);
    }
    if (x_server_pid > 0) {
        log_message(LogLevel::Info,
                    "X: stopping the X server (PID " + std::to_string(x_server_pid) + ")");
        stop_x_server(x_server_pid);
    }
    std::exit(1);
}

// Returns once `pid` has ended (not yet reaped). Events arriving meanwhile are stale: the next
// showing starts from an empty queue anyway.
void wait_while_watching_display(pid_t pid, Display* display) {
    UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!pidfd.valid() || display == nullptr) {
        return;  // the plain blocking wait follows
    }
    for (;;) {
        pollfd fds[2] = {{pidfd.get(), POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
        if (retry_on_eintr([&] { return ::poll(fds, 2, -1); }) < 0) {
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents != 0) {
            // On a closed connection this ends in on_connection_lost.
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
            }
        }
    }
}

}  // namespace

int exit_code_from_status(int status) {
    if ((status & 0x7f) == 0) {
        return (status >> 8) & 0xff;
    }
    return 1;
}

int wait_for_child(pid_t pid, Display* display) {
    log_message(LogLevel::Info, "Waiting for child PID " + std::to_string(pid) + " to exit");
    last_session = pid;
    wait_while_watching_display(pid, display);
    int status = 0;
    (void)::waitpid(pid, &status, 0);
    const int code = exit_code_from_status(status);
    log_message(LogLevel::Info,
                "Child PID " + std::to_string(pid) + " exited with code " + std::to_string(code));
    end_session_group(pid);
    last_session = 0;
    return code;
}

void watch_connection(Display* display, pid_t x_server) {
    x_server_pid = x_server;
    XSetIOErrorHandler(note_connection_error);
    XSetIOErrorExitHandler(display, on_connection_lost, nullptr);
}
