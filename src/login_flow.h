// One login attempt, from the login screen's submit to the started session process: the fields'
// checks, the PAM transaction up to the credentials (changing an expired password on the way when
// asked to), the account, the fork. The login screen is handed it as a callable (`LoginAttempt`)
// and so knows nothing of PAM or sessions.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "config.h"
#include "login_mode.h"
#include "result.h"
#include "secret.h"
#include "session_list.h"

// What the login screen submits; it keeps owning the texts.
struct LoginRequest {
    LoginMode mode = LoginMode::Normal;
    const std::string& username;
    // Normal: the typed password. ChangeExpiredPassword: the current password.
    SecretText& password;
    // ChangeExpiredPassword only: the new password.
    SecretText& new_password;
    SessionKind session = SessionKind::Graphical;
    // The chosen session's entry; null: "Default".
    const DesktopSession* desktop = nullptr;
};

// Why a login attempt started no session.
struct LoginRefusal {
    // The text the login screen shows, in its language.
    std::string message;
    // An expired password is in the way: the login screen asks for a new one.
    bool password_expired = false;
    // The same in English, for the log.
    std::string english;
};

// A process ID (the session process), or why not.
using LoginAttempt = std::function<Result<pid_t, LoginRefusal>(const LoginRequest&)>;

// The attempt itself. The passwords are wiped as soon as PAM has checked them, except a current
// password that has expired (Normal) or is still expired (ChangeExpiredPassword): the login
// screen keeps that one for the change. A Normal request with an empty field is refused before
// anything else.
Result<pid_t, LoginRefusal> attempt_login(const LoginRequest& request);
