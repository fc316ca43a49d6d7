#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config.h"
#include "log.h"
#include "login_screen.h"
#include "supervise.h"
#include "xauth.h"
#include "xserver.h"

namespace {

// Later opens must never land on 0, 1 or 2 and be mistaken for standard streams.
void ensure_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR);
        }
    }
}

int x_error_handler(Display* display, XErrorEvent* event) {
    char text[256] = "";
    XGetErrorText(display, event->error_code, text, sizeof text);
    char resource[32];
    std::snprintf(resource, sizeof resource, "0x%lx", event->resourceid);
    log_message(LogLevel::Error, std::string("X error: ") + text + " (request " +
                                     std::to_string(event->request_code) + "." +
                                     std::to_string(event->minor_code) + ", resource " + resource +
                                     ")");
    return 0;
}

}  // namespace

int main() {
    ensure_standard_descriptors();
    ::signal(SIGPIPE, SIG_IGN);

    log_message(LogLevel::Info, "vesko starting");
    const Config config = load_config();

    // Without the file the server still starts, as one without authorization: a broken /run must
    // not lock everyone out.
    const Result<Ok> authority = prepare_server_authority();
    if (authority.ok()) {
        log_message(LogLevel::Info,
                    std::string("X: server authority written to ") + SERVER_AUTHORITY_PATH);
    } else {
        log_message(LogLevel::Error, std::string("X: cannot write server authority ") +
                                         SERVER_AUTHORITY_PATH + ": " + authority.error());
    }

    log_message(LogLevel::Info, std::string("Starting Xorg on display ") + X_DISPLAY_NAME + " vt" +
                                    std::to_string(X_SERVER_VT));
    const pid_t x_pid =
        start_x_server(x_server_arguments(authority.ok() ? SERVER_AUTHORITY_PATH : nullptr));
    if (x_pid == 0) {
        log_message(LogLevel::Error, "Failed to start Xorg (fork/exec failed)");
        std::exit(1);
    }
    log_message(LogLevel::Info, "Xorg started with PID " + std::to_string(x_pid));

    log_message(LogLevel::Info, "Waiting for X display to become available...");
    Display* display = connect_display();
    if (display == nullptr) {
        log_message(LogLevel::Error, std::string("Could not connect to X display ") +
                                         X_DISPLAY_NAME + " after " +
                                         std::to_string(CONNECT_ATTEMPTS) + " retries");
        stop_x_server(x_pid);
        std::exit(1);
    }
    log_message(LogLevel::Info, "Connected to X display");
    // A protocol error (a session client can provoke one at will) must not end the daemon.
    XSetErrorHandler(x_error_handler);
    install_connection_loss_handler();
    const XAccessBaseline baseline = record_access_baseline(display);

    for (;;) {
        log_message(LogLevel::Info, "Entering login screen");
        // Made now, so that the session child forked by the login carries it.
        prepare_session_authorization(display, baseline);
        LoginScreen screen;
        const pid_t session = run_login_screen(display, config, screen);
        hide_login_screen(screen);
        const int code = wait_for_child(session, display);
        // Before anything of the next showing exists, nothing of this session may be left.
        end_session_authorization(display, baseline);
        close_login_screen(screen);
        log_message(LogLevel::Info,
                    "Session ended (code " + std::to_string(code) + "), re-showing login screen");
    }
}
