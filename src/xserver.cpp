#include "xserver.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

pid_t start_x_server() {
    const std::string vt = "vt" + std::to_string(X_SERVER_VT);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return 0;
    }
    if (pid == 0) {
        ::execl(X_SERVER_PATH, "Xorg", X_DISPLAY_NAME, vt.c_str(), "-nolisten", "tcp",
                static_cast<char*>(nullptr));
        ::_exit(1);
    }
    return pid;
}

Display* connect_display() {
    for (int attempt = 0; attempt < CONNECT_ATTEMPTS; ++attempt) {
        if (Display* display = XOpenDisplay(X_DISPLAY_NAME)) {
            // Sessions must not inherit the daemon's connection.
            ::fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC);
            return display;
        }
        timespec pause{0, 500'000'000};
        while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
        }
    }
    return nullptr;
}

void stop_x_server(pid_t pid) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}
