#include "xserver.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

std::vector<std::string> x_server_arguments(const char* authority_path) {
    std::vector<std::string> arguments{"Xorg", X_DISPLAY_NAME, "vt" + std::to_string(X_SERVER_VT),
                                       "-nolisten", "tcp"};
    if (authority_path != nullptr) {
        arguments.insert(arguments.end(), {"-auth", authority_path});
    }
    return arguments;
}

pid_t start_x_server(const std::vector<std::string>& arguments) {
    // Built before the fork: the child only execs.
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return 0;
    }
    if (pid == 0) {
        ::execv(X_SERVER_PATH, argv.data());
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
