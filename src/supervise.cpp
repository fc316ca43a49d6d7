#include "supervise.h"

#include <X11/Xlib.h>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "fd.h"
#include "log.h"

namespace {

constexpr int LEFTOVER_GRACE_MS = 2000;  // after SIGTERM and before SIGKILL
constexpr long GRACE_STEP_MS = 100;

// Set by the connection's exit handler, cleared for each new connection.
bool lost = false;

bool group_gone(pid_t group) {
    return ::kill(-group, 0) != 0 && errno == ESRCH;
}

// The session process is its own process-session and group leader, so its programs share its ID
// as their group, unless they left it themselves. The leader is gone already.
void end_leftovers(pid_t group) {
    if (::kill(-group, SIGTERM) != 0) {
        return;  // nothing left
    }
    log_message(LogLevel::Info, "Ending session PID " + std::to_string(group));
    for (int waited = 0; waited < LEFTOVER_GRACE_MS && !group_gone(group);
         waited += GRACE_STEP_MS) {
        sleep_ms(GRACE_STEP_MS);
    }
    ::kill(-group, SIGKILL);
}

// The session process passes SIGTERM on to its program, kills it after its own grace and then
// closes the PAM session: nothing may be killed before it is done. Returns once it has ended
// (unreaped), or killed after the allowance when a module hangs.
void end_session_process(pid_t pid, int pidfd) {
    log_message(LogLevel::Info,
                "X: ending the session (PID " + std::to_string(pid) + "), whose display is gone");
    ::kill(-pid, SIGTERM);
    pollfd ended{pidfd, POLLIN, 0};
    if (pidfd < 0 ||
        retry_on_eintr([&] { return ::poll(&ended, 1, SESSION_CLOSE_ALLOWANCE_MS); }) <= 0) {
        log_message(LogLevel::Warn,
                    "Session PID " + std::to_string(pid) + " did not close its session within " +
                        std::to_string(SESSION_CLOSE_ALLOWANCE_MS / 1000) + " s; killing it");
        ::kill(-pid, SIGKILL);
    }
}

// Xlib calls this first; what follows is up to the connection's exit handler.
int note_connection_error(Display*) {
    return 0;
}

// Returning makes every later call on the connection fail at once instead of ending the daemon.
void on_connection_lost(Display*, void*) {
    if (!lost) {
        lost = true;
        log_message(LogLevel::Error, "Lost the connection to the X display");
    }
}

// Returns once `pid` has ended (not yet reaped), or the display was lost. Events arriving
// meanwhile are stale: the next showing starts from an empty queue anyway.
void wait_while_watching_display(pid_t pid, int pidfd, Display* display) {
    if (pidfd < 0 || display == nullptr) {
        return;  // the plain blocking wait follows
    }
    while (!lost) {
        pollfd fds[2] = {{pidfd, POLLIN, 0}, {ConnectionNumber(display), POLLIN, 0}};
        if (retry_on_eintr([&] { return ::poll(fds, 2, -1); }) < 0) {
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        if (fds[1].revents != 0) {
            // On a closed connection this ends in on_connection_lost.
            while (!lost && XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
            }
        }
    }
    end_session_process(pid, pidfd);
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
    const UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    wait_while_watching_display(pid, pidfd.get(), display);
    int status = 0;
    (void)::waitpid(pid, &status, 0);
    const int code = exit_code_from_status(status);
    log_message(LogLevel::Info,
                "Child PID " + std::to_string(pid) + " exited with code " + std::to_string(code));
    end_leftovers(pid);
    return code;
}

void watch_connection(Display* display) {
    lost = false;
    XSetIOErrorHandler(note_connection_error);
    XSetIOErrorExitHandler(display, on_connection_lost, nullptr);
}

bool connection_lost() {
    return lost;
}
