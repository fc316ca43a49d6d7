#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "config.h"
#include "log.h"
#include "login_screen.h"
#include "supervise.h"
#include "xauth.h"
#include "xserver.h"

namespace {

constexpr const char* SYSTEM_CURSOR_PATH = "/usr/share/icons:/usr/share/pixmaps";

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

[[noreturn]] void stop_and_exit(pid_t x_pid) {
    stop_x_server(x_pid);
    std::exit(1);
}

// Nothing a session did to the server may reach the next user: a reset drops every client,
// every authorization (minted ones too), the host list, the root window's properties, the keymap
// and the lock state. The greeter's last showing goes with the old connection.
Display* reset_x_server(pid_t x_pid, Display* display, LoginScreen& screen, bool with_authority) {
    if (with_authority) {
        // The server reads its authority file again at the reset: the last session's cookie dies.
        const Result<Ok> renewed = prepare_server_authority();
        if (!renewed.ok()) {
            log_message(LogLevel::Error, "X: cannot renew the server cookie: " + renewed.error());
            stop_and_exit(x_pid);
        }
    }
    log_message(LogLevel::Info, "X: resetting the X server (PID " + std::to_string(x_pid) + ")");
    const auto started = std::chrono::steady_clock::now();
    begin_x_reset(x_pid, display);
    close_login_screen(screen);
    Display* fresh = finish_x_reset(x_pid, display);
    if (fresh == nullptr) {
        log_message(LogLevel::Error, "X: the X server ended or took no connection within " +
                                         std::to_string(RESET_CONNECT_TIMEOUT_MS / 1000) +
                                         " s of its reset");
        stop_and_exit(x_pid);
    }
    watch_connection(fresh, x_pid);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    log_message(LogLevel::Info, "X: the X server was reset, connected again after " +
                                    std::to_string(took.count()) + " ms");
    return fresh;
}

}  // namespace

int main() {
    ensure_standard_descriptors();
    ::signal(SIGPIPE, SIG_IGN);
    block_server_ready_signal();
    // libXcursor would otherwise look in $HOME, following links, as root.
    ::setenv("XCURSOR_PATH", SYSTEM_CURSOR_PATH, 1);

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
    watch_connection(display, x_pid);

    int showings_without_input = 0;
    for (;;) {
        log_message(LogLevel::Info, "Entering login screen");
        LoginScreen screen;
        const std::optional<pid_t> session = run_login_screen(display, config, screen);
        if (!session) {
            // Another client holds the keyboard or the pointer; the reset takes them away.
            if (++showings_without_input == MAX_SHOWINGS_WITHOUT_INPUT) {
                log_message(LogLevel::Error, "X: no login screen could hold the keyboard in " +
                                                 std::to_string(MAX_SHOWINGS_WITHOUT_INPUT) +
                                                 " showings; giving up");
                stop_and_exit(x_pid);
            }
            display = reset_x_server(x_pid, display, screen, authority.ok());
            continue;
        }
        showings_without_input = 0;
        hide_login_screen(screen);
        const int code = wait_for_child(*session, display);
        display = reset_x_server(x_pid, display, screen, authority.ok());
        log_message(LogLevel::Info,
                    "Session ended (code " + std::to_string(code) + "), re-showing login screen");
    }
}
