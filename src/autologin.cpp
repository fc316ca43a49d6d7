#include "autologin.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "fd.h"
#include "log.h"
#include "secret.h"
#include "session_list.h"
#include "user.h"

namespace {

// True when this is the boot's first try. Without a marker, no automatic login: a daemon that
// restarted after a crash must not log someone in again and again.
bool claim_once_per_boot() {
    const UniqueFd marker(
        ::open(AUTOLOGIN_MARKER_PATH, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (marker.valid()) {
        return true;
    }
    if (errno == EEXIST) {
        log_message(LogLevel::Info, std::string("Automatic login: already done this boot (") +
                                        AUTOLOGIN_MARKER_PATH + "); showing the login screen");
    } else {
        log_message(LogLevel::Error, std::string("Automatic login: cannot create ") +
                                         AUTOLOGIN_MARKER_PATH + ": " + os_error_text(errno) +
                                         "; showing the login screen");
    }
    return false;
}

}  // namespace

std::optional<pid_t> start_automatic_login(const Config& config, const LoginAttempt& attempt) {
    const std::string& name = config.autologin.user;
    if (name.empty() || !claim_once_per_boot()) {
        return std::nullopt;
    }
    const std::optional<UserInfo> user = lookup_user(name);
    if (!user) {
        log_message(LogLevel::Error, "Automatic login: no user '" + name + "'");
        return std::nullopt;
    }
    if (user->uid == 0) {
        log_message(LogLevel::Error, "Automatic login refused for '" + name + "': it is root");
        return std::nullopt;
    }
    const std::vector<DesktopSession> sessions = list_sessions(config.session.sessions_dir);
    const DesktopSession* desktop = nullptr;
    if (!config.autologin.session.empty()) {
        desktop = find_session(sessions, config.autologin.session);
        if (desktop == nullptr) {
            log_message(LogLevel::Warn, "Automatic login: no session '" + config.autologin.session +
                                            "'; starting Default");
        }
    }
    log_message(LogLevel::Info, "Automatic login for '" + name + "'");
    SecretText no_password;
    SecretText no_new_password;
    const LoginRequest request{LoginMode::Automatic, name,   no_password, no_new_password,
                               config.session.kind,  desktop};
    Result<pid_t, LoginRefusal> started = attempt(request);
    if (!started.ok()) {
        log_message(LogLevel::Error,
                    "Automatic login failed for '" + name + "': " + started.error().english);
        return std::nullopt;
    }
    return started.value();
}
