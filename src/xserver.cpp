#include "xserver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <string>

#include "fd.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int STOP_POLL_MS = 20;
constexpr int RESET_RETRY_MS = 20;
// How often the wait for the ready signal looks whether the server died instead.
constexpr long READY_SLICE_MS = 50;

sigset_t ready_signal_set() {
    sigset_t set;
    ::sigemptyset(&set);
    ::sigaddset(&set, SIGUSR1);
    return set;
}

// A ready signal left from the start or an earlier reset must not pass for this reset's.
void drop_pending_ready_signals() {
    const sigset_t set = ready_signal_set();
    const timespec now{0, 0};
    while (::sigtimedwait(&set, nullptr, &now) > 0) {
    }
}

// Left unreaped, so that the PID cannot be reused before the caller stops the server.
bool has_ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// True once the server `pid` sent its ready signal; false at `deadline` or when it died.
bool wait_ready_signal(pid_t pid, Clock::time_point deadline) {
    const sigset_t set = ready_signal_set();
    while (Clock::now() < deadline && !has_ended(pid)) {
        const timespec slice{0, READY_SLICE_MS * 1'000'000L};
        siginfo_t info{};
        if (::sigtimedwait(&set, &info, &slice) == SIGUSR1 && info.si_pid == pid) {
            return true;
        }
    }
    return false;
}

void quiet_exit(Display*, void*) {}

Display* open_display() {
    Display* display = XOpenDisplay(X_DISPLAY_NAME);
    if (display != nullptr) {
        // Sessions must not inherit the daemon's connection.
        ::fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    }
    return display;
}

}  // namespace

std::vector<std::string> x_server_arguments(const char* authority_path) {
    std::vector<std::string> arguments{"Xorg", X_DISPLAY_NAME, "vt" + std::to_string(X_SERVER_VT),
                                       "-nolisten", "tcp"};
    if (authority_path != nullptr) {
        arguments.insert(arguments.end(), {"-auth", authority_path});
    }
    return arguments;
}

void block_server_ready_signal() {
    const sigset_t set = ready_signal_set();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

pid_t start_x_server(const std::vector<std::string>& arguments) {
    // Built before the fork: the child only execs.
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return 0;
    }
    if (pid == 0) {
        // Ignored on entry is what makes the server announce each generation to its parent.
        ::signal(SIGUSR1, SIG_IGN);
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(X_SERVER_PATH, argv.data());
        ::_exit(1);
    }
    return pid;
}

Display* connect_display() {
    for (int attempt = 0; attempt < CONNECT_ATTEMPTS; ++attempt) {
        if (Display* display = open_display()) {
            return display;
        }
        sleep_ms(500);
    }
    return nullptr;
}

void begin_x_reset(pid_t pid, Display* display) {
    drop_pending_ready_signals();
    // The signal is pending in the server before it can see the connection close, so both make
    // one reset, not two.
    ::kill(pid, SIGHUP);
    XSetIOErrorExitHandler(display, quiet_exit, nullptr);
    ::shutdown(ConnectionNumber(display), SHUT_RDWR);
}

Display* finish_x_reset(pid_t pid, Display* display) {
    XCloseDisplay(display);
    const auto deadline = Clock::now() + std::chrono::milliseconds(RESET_CONNECT_TIMEOUT_MS);
    if (!wait_ready_signal(pid, deadline)) {
        return nullptr;
    }
    while (Clock::now() < deadline) {
        if (Display* reconnected = open_display()) {
            return reconnected;
        }
        sleep_ms(RESET_RETRY_MS);
    }
    return nullptr;
}

void stop_x_server(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < STOP_GRACE_MS; waited += STOP_POLL_MS) {
        const pid_t reaped = ::waitpid(pid, nullptr, WNOHANG);
        if (reaped == pid || (reaped < 0 && errno == ECHILD)) {
            return;
        }
        sleep_ms(STOP_POLL_MS);
    }
    // A server stuck at exit (real Xorg can hang there after a reset) must not outlive us.
    ::kill(pid, SIGKILL);
    (void)::waitpid(pid, nullptr, 0);
}
