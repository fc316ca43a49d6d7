#include "xserver.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <ctime>
#include <string>

#include "fd.h"
#include "x_names.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int STOP_POLL_MS = 20;
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

// True once the server `pid` sent its ready signal; false at `deadline` or when it died.
bool wait_ready_signal(pid_t pid, Clock::time_point deadline) {
    const sigset_t set = ready_signal_set();
    while (Clock::now() < deadline && !x_server_ended(pid)) {
        const timespec slice{0, READY_SLICE_MS * 1'000'000L};
        siginfo_t info{};
        if (::sigtimedwait(&set, &info, &slice) == SIGUSR1 && info.si_pid == pid) {
            return true;
        }
    }
    return false;
}

int display_number = X_DISPLAY_NUMBER;
std::string display_name = X_DISPLAY_NAME;

// The pause between connection attempts once the server said it is ready.
constexpr int CONNECT_RETRY_MS = 20;

void quiet_exit(Display*, void*) {}

// Who is at the other end of `fd`; empty when it is the server `pid`, running as root.
std::string stranger_at(int fd, pid_t pid) {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return "cannot ask who answers: " + os_error_text(errno);
    }
    if (peer.pid == pid && peer.uid == 0) {
        return "";
    }
    return "process " + std::to_string(peer.pid) + " of uid " + std::to_string(peer.uid) +
           " answers in the place of the X server (PID " + std::to_string(pid) + ")";
}

// The socket Xlib would reach first: the abstract name, else the file (as libxcb tries them).
UniqueFd raw_display_socket() {
    const std::string path = x_socket_path(display_number);
    for (const bool abstract : {true, false}) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        socklen_t length = 0;
        const sockaddr_un address = unix_socket_address(path, abstract, length);
        if (fd.valid() &&
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            return fd;
        }
    }
    return UniqueFd();
}

// One attempt. Never sends the cookie to a stranger: the first question is asked on a bare
// socket that carries nothing, the second on the connection made, before anything is drawn.
Display* open_display(pid_t pid, std::string& refused) {
    {
        const UniqueFd probe = raw_display_socket();
        if (!probe.valid()) {
            return nullptr;
        }
        refused = stranger_at(probe.get(), pid);
        if (!refused.empty()) {
            return nullptr;
        }
    }
    Display* display = XOpenDisplay(display_name.c_str());
    if (display == nullptr) {
        return nullptr;
    }
    refused = stranger_at(ConnectionNumber(display), pid);
    if (!refused.empty()) {
        XSetIOErrorExitHandler(display, quiet_exit, nullptr);
        XCloseDisplay(display);
        return nullptr;
    }
    // Sessions must not inherit the daemon's connection.
    ::fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
    return display;
}

Display* connect_until(pid_t pid, Clock::time_point deadline, std::string& refused) {
    for (;;) {
        if (Display* display = open_display(pid, refused)) {
            return display;
        }
        if (!refused.empty() || Clock::now() >= deadline || x_server_ended(pid)) {
            return nullptr;
        }
        sleep_ms(CONNECT_RETRY_MS);
    }
}

}  // namespace

const std::string& x_display_name() {
    return display_name;
}

void set_x_display_number(int number) {
    display_number = number;
    display_name = ":" + std::to_string(number);
}

std::vector<std::string> x_server_arguments(const std::string& authority_path, int display_fd) {
    std::vector<std::string> arguments{"Xorg"};
    if (display_fd < 0) {
        arguments.emplace_back(X_DISPLAY_NAME);
    }
    arguments.insert(arguments.end(), {"vt" + std::to_string(X_SERVER_VT), "-nolisten", "tcp",
                                       "-auth", authority_path});
    if (display_fd >= 0) {
        arguments.insert(arguments.end(), {"-displayfd", std::to_string(display_fd)});
    }
    return arguments;
}

std::optional<int> parse_display_number(std::string_view text) {
    if (!text.empty() && text.back() == '\n') {
        text.remove_suffix(1);
    }
    int number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || number < 0) {
        return std::nullopt;
    }
    return number;
}

void block_server_ready_signal() {
    const sigset_t set = ready_signal_set();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
}

pid_t start_x_server(const std::vector<std::string>& arguments, const std::vector<int>& inherited) {
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
        for (const int fd : inherited) {
            ::fcntl(fd, F_SETFD, 0);
        }
        ::execv(X_SERVER_PATH, argv.data());
        ::_exit(1);
    }
    return pid;
}

ServerReadiness wait_server_ready(pid_t pid, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    if (wait_ready_signal(pid, deadline)) {
        return ServerReadiness::Ready;
    }
    return x_server_ended(pid) ? ServerReadiness::Ended : ServerReadiness::TimedOut;
}

bool x_server_ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

Display* connect_display(pid_t pid, int timeout_ms, std::string& refused) {
    refused.clear();
    return connect_until(pid, Clock::now() + std::chrono::milliseconds(timeout_ms), refused);
}

void begin_x_reset(pid_t pid, Display* display) {
    drop_pending_ready_signals();
    // The signal is pending in the server before it can see the connection close, so both make
    // one reset, not two.
    ::kill(pid, SIGHUP);
    XSetIOErrorExitHandler(display, quiet_exit, nullptr);
    ::shutdown(ConnectionNumber(display), SHUT_RDWR);
}

Display* finish_x_reset(pid_t pid, Display* display, std::string& refused) {
    refused.clear();
    XCloseDisplay(display);
    const auto deadline = Clock::now() + std::chrono::milliseconds(RESET_CONNECT_TIMEOUT_MS);
    if (!wait_ready_signal(pid, deadline)) {
        return nullptr;
    }
    return connect_until(pid, deadline, refused);
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
