// What a login attempt is for, from the login screen's submit down to the PAM transaction.
#pragma once

#include <cstdint>

enum class LoginMode : uint8_t {
    Normal,
    // The account's password has expired: the current password authenticates, then PAM changes
    // it to the new one (typed twice alike) before the session starts.
    ChangeExpiredPassword,
    // The configured automatic login: its own PAM service, no password and no prompt.
    Automatic,
};
