#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "autologin.h"
#include "config.h"
#include "cover_cache.h"
#include "fd.h"
#include "log.h"
#include "login_flow.h"
#include "login_screen.h"
#include "supervise.h"
#include "texts.h"
#include "x_names.h"
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

[[noreturn]] void give_up_connecting(pid_t x_pid) {
    log_message(LogLevel::Error, std::string("Could not connect to X display ") + x_display_name() +
                                     " after " + std::to_string(CONNECT_ATTEMPTS) + " retries");
    stop_and_exit(x_pid);
}

std::string pid_text(pid_t pid) {
    return "(PID " + std::to_string(pid) + ")";
}

// Anyone may plant entries in /tmp or bind the display's abstract name before the server
// starts. Whatever is not root's goes; whether ":0" is still taken decides where the server
// runs. True when it may be ":0".
bool clear_display_names() {
    const Result<std::string> dir = prepare_socket_dir();
    if (!dir.ok()) {
        log_message(LogLevel::Error, "X: " + dir.error());
    } else if (!dir.value().empty()) {
        log_message(LogLevel::Info, "X: " + dir.value());
    }
    const DisplayNames names = claim_display_names(X_DISPLAY_NUMBER);
    for (const std::string& removed : names.removed) {
        log_message(LogLevel::Info, "X: " + removed);
    }
    if (names.taken.empty()) {
        return true;
    }
    log_message(LogLevel::Info, std::string("X: display ") + X_DISPLAY_NAME + " is taken: " +
                                    names.taken + "; the X server picks a free display");
    return false;
}

// Reads the number a server started with -displayfd chose, and uses it from now on.
bool adopt_chosen_display(int fd) {
    char text[16] = {};
    const ssize_t got = retry_on_eintr([&] { return ::read(fd, text, sizeof text - 1); });
    const std::optional<int> number =
        got > 0 ? parse_display_number(std::string_view(text, static_cast<size_t>(got)))
                : std::nullopt;
    if (!number) {
        return false;
    }
    set_x_display_number(*number);
    log_message(LogLevel::Info, "X: the X server chose display " + x_display_name());
    if (const Result<Ok> renamed = rename_server_authority(); !renamed.ok()) {
        log_message(LogLevel::Error,
                    "X: cannot record the display in the server authority: " + renamed.error());
    }
    return true;
}

// Starts the X server and returns once it said it is ready; exits 1 when it cannot be had. A
// server that ends before it is ready (its names were taken meanwhile) is tried once more on a
// display of its own choice.
pid_t bring_up_x_server(const ServerAuthority& authority) {
    bool on_default = clear_display_names();
    for (int attempt = 0;; ++attempt) {
        UniqueFd chosen_read;
        UniqueFd chosen_write;
        std::vector<int> inherited;
        if (authority.inherited_fd >= 0) {
            inherited.push_back(authority.inherited_fd);
        }
        if (!on_default) {
            int ends[2] = {-1, -1};
            if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
                log_message(LogLevel::Error, "X: pipe: " + os_error_text(errno));
                std::exit(1);
            }
            chosen_read.reset(ends[0]);
            chosen_write.reset(ends[1]);
            inherited.push_back(ends[1]);
        }
        log_message(LogLevel::Info, std::string("Starting Xorg on ") +
                                        (on_default ? std::string("display ") + X_DISPLAY_NAME
                                                    : std::string("a free display")) +
                                        " vt" + std::to_string(X_SERVER_VT));
        const pid_t x_pid = start_x_server(
            x_server_arguments(authority.path, on_default ? -1 : chosen_write.get()), inherited);
        if (x_pid == 0) {
            log_message(LogLevel::Error, "Failed to start Xorg (fork/exec failed)");
            std::exit(1);
        }
        chosen_write.reset();
        log_message(LogLevel::Info, "Xorg started with PID " + std::to_string(x_pid));
        log_message(LogLevel::Info, "Waiting for X display to become available...");
        if (attempt == 0) {
            // While the server starts: the first greeter then shows the photo without decoding.
            preload_kept_covers();
        }
        switch (wait_server_ready(x_pid, CONNECT_ATTEMPTS * CONNECT_INTERVAL_MS)) {
            case ServerReadiness::Ready:
                if (!on_default && !adopt_chosen_display(chosen_read.get())) {
                    log_message(LogLevel::Error,
                                "X: the X server did not say which display it chose");
                    give_up_connecting(x_pid);
                }
                return x_pid;
            case ServerReadiness::TimedOut:
                log_message(LogLevel::Error,
                            "X: the X server " + pid_text(x_pid) + " was not ready within " +
                                std::to_string(CONNECT_ATTEMPTS * CONNECT_INTERVAL_MS / 1000) +
                                " s");
                give_up_connecting(x_pid);
            case ServerReadiness::Ended: {
                int status = 0;
                (void)::waitpid(x_pid, &status, 0);
                log_message(LogLevel::Error, "X: the X server " + pid_text(x_pid) +
                                                 " ended before it was ready (exit status " +
                                                 std::to_string(exit_code_from_status(status)) +
                                                 ")");
                if (attempt > 0 || !on_default) {
                    give_up_connecting(x_pid);
                }
                on_default = false;
                break;
            }
        }
    }
}

// Nothing a session did to the server may reach the next user: a reset drops every client,
// every authorization (minted ones too), the host list, the root window's properties, the keymap
// and the lock state. The greeter's last showing goes with the old connection.
Display* reset_x_server(pid_t x_pid, Display* display, LoginScreen& screen) {
    if (x_server_ended(x_pid)) {
        log_message(LogLevel::Error, "X: the X server " + pid_text(x_pid) + " has ended");
        stop_and_exit(x_pid);
    }
    // The server reads its authority file again at the reset: the last session's cookie dies.
    if (const Result<Ok> renewed = renew_server_authority(); !renewed.ok()) {
        log_message(LogLevel::Error, "X: cannot renew the server cookie: " + renewed.error() +
                                         "; the current cookie stays");
    }
    log_message(LogLevel::Info, "X: resetting the X server " + pid_text(x_pid));
    const auto started = std::chrono::steady_clock::now();
    begin_x_reset(x_pid, display);
    close_login_screen(screen);
    std::string refused;
    Display* fresh = finish_x_reset(x_pid, display, refused);
    if (fresh == nullptr) {
        if (!refused.empty()) {
            log_message(LogLevel::Error, "X: " + refused);
        }
        log_message(LogLevel::Error, "X: the X server ended or took no connection within " +
                                         std::to_string(RESET_CONNECT_TIMEOUT_MS / 1000) +
                                         " s of its reset");
        stop_and_exit(x_pid);
    }
    watch_connection(fresh);
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
    // Before any thread: it may set LANGUAGE.
    const std::string language = init_texts(locale_environment(), VESKO_LOCALE_DIR);

    std::string file_error;
    const Result<ServerAuthority> authority = create_server_authority(file_error);
    if (!file_error.empty()) {
        log_message(LogLevel::Error, std::string("X: cannot write server authority ") +
                                         SERVER_AUTHORITY_PATH + ": " + file_error);
    }
    if (!authority.ok()) {
        // Never a server that admits anyone: without a cookie there is no login screen.
        log_message(LogLevel::Error, "X: no cookie for the X server: " + authority.error());
        std::exit(1);
    }
    log_message(LogLevel::Info, "X: server authority written to " + authority.value().path);

    const pid_t x_pid = bring_up_x_server(authority.value());
    std::string refused;
    Display* display = connect_display(x_pid, RESET_CONNECT_TIMEOUT_MS, refused);
    if (display == nullptr) {
        if (!refused.empty()) {
            log_message(LogLevel::Error, "X: " + refused);
        }
        give_up_connecting(x_pid);
    }
    log_message(LogLevel::Info, "Connected to X display");
    // A protocol error (a session client can provoke one at will) must not end the daemon.
    XSetErrorHandler(x_error_handler);
    watch_connection(display);

    if (const std::optional<pid_t> session = start_automatic_login(config, attempt_login)) {
        LoginScreen none;
        const int code = wait_for_child(*session, display);
        display = reset_x_server(x_pid, display, none);
        log_message(LogLevel::Info,
                    "Session ended (code " + std::to_string(code) + "), re-showing login screen");
    }

    int showings_without_input = 0;
    for (;;) {
        log_message(LogLevel::Info, "Entering login screen");
        // At every showing, so that each logs the same lines (the start-up's are fixed).
        log_message(LogLevel::Info, language);
        LoginScreen screen;
        const std::optional<pid_t> session =
            run_login_screen(display, config, screen, attempt_login);
        if (!session) {
            // Another client holds the keyboard or the pointer, or the connection was killed:
            // the reset takes them away.
            if (!connection_lost() && ++showings_without_input == MAX_SHOWINGS_WITHOUT_INPUT) {
                log_message(LogLevel::Error, "X: no login screen could hold the keyboard in " +
                                                 std::to_string(MAX_SHOWINGS_WITHOUT_INPUT) +
                                                 " showings; giving up");
                stop_and_exit(x_pid);
            }
            display = reset_x_server(x_pid, display, screen);
            continue;
        }
        showings_without_input = 0;
        hide_login_screen(screen);
        const int code = wait_for_child(*session, display);
        display = reset_x_server(x_pid, display, screen);
        log_message(LogLevel::Info,
                    "Session ended (code " + std::to_string(code) + "), re-showing login screen");
    }
}
