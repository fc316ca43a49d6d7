#include "login_flow.h"

#include "auth.h"
#include "log.h"
#include "session.h"
#include "texts.h"
#include "user.h"
#include "xserver.h"

namespace {

constexpr const char* ENTER_USERNAME = N_("Please enter a username");
constexpr const char* ENTER_PASSWORD = N_("Please enter a password");
// TRANSLATORS: %s is one of the reasons below ("User '%s' not found", ...), already translated.
constexpr const char* LAUNCH_FAILED = N_("Session launch failed: %s");

Result<pid_t, LoginRefusal> authenticate_and_launch(const LoginRequest& request) {
    const std::string& username = request.username;
    const bool changing = request.mode == LoginMode::ChangeExpiredPassword;
    // The name may be a password typed one field too early: the journal names it only once the
    // account exists.
    const TypedName typed{username, lookup_user(username).has_value()};
    log_typed_name(LogLevel::Info, typed, "Attempting login for user ");
    Result<std::unique_ptr<PamClient>, PamFailure> auth =
        begin_pam_login(typed, request.mode, request.password, request.new_password);
    const bool expired = !auth.ok() && auth.error().password_expired;
    // Nothing needs the typed passwords any more, unless an expired one is still to be changed.
    request.new_password.wipe();
    if (!expired) {
        request.password.wipe();
    }
    if (!auth.ok()) {
        const PamFailure& failure = auth.error();
        const char* what = expired && changing ? "Password change failed" : "Authentication failed";
        log_typed_name(LogLevel::Warn, typed, std::string(what) + " for ", ": " + failure.logged);
        if (expired && !changing) {
            log_typed_name(LogLevel::Info, typed, "The password of ",
                           " has expired: asking for a new one");
        }
        return Err{LoginRefusal{failure.shown, expired, failure.logged}};
    }
    log_typed_name(LogLevel::Info, typed, "Authentication succeeded for user ");

    log_typed_name(
        LogLevel::Info, typed,
        std::string("Launching ") + session_kind_label(request.session) + " session for ");
    if (request.desktop != nullptr) {
        log_message(LogLevel::Info,
                    "Session: '" + request.desktop->name + "' (" + request.desktop->id + ")");
    }
    Result<pid_t, LaunchFailure> launched =
        launch_session(std::move(auth.value()), username, x_display_name(),
                       request.session == SessionKind::Graphical, request.desktop);
    if (!launched.ok()) {
        const LaunchFailure& failure = launched.error();
        const ScreenText& why = failure.text;
        log_typed_name(LogLevel::Error, typed, "Session launch failed for ", ": " + why.english);
        if (failure.from_pam) {
            return Err{LoginRefusal{why.shown, false, why.english}};
        }
        return Err{LoginRefusal{fill_text(tr(LAUNCH_FAILED), why.shown), false,
                                fill_text(LAUNCH_FAILED, why.english)}};
    }
    log_message(LogLevel::Info, "Session launched with PID " + std::to_string(launched.value()));
    return launched.value();
}

// Authentication modules may change the daemon itself (limits, umask); that belongs to no one's
// session.
Result<pid_t, LoginRefusal> login_keeping_settings(const LoginRequest& request) {
    const ProcessSettings daemon_settings = capture_process_settings();
    Result<pid_t, LoginRefusal> result = authenticate_and_launch(request);
    restore_process_settings(daemon_settings);
    return result;
}

}  // namespace

Result<pid_t, LoginRefusal> attempt_login(const LoginRequest& request) {
    if (request.mode == LoginMode::Normal) {
        const auto refuse = [](const char* text) {
            return Err{LoginRefusal{tr(text), false, text}};
        };
        if (request.username.empty()) {
            return refuse(ENTER_USERNAME);
        }
        if (request.password.empty()) {
            return refuse(ENTER_PASSWORD);
        }
    }
    return login_keeping_settings(request);
}
