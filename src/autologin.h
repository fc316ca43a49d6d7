// The configured automatic login: once per boot, the user's session without the login screen.
#pragma once

#include <sys/types.h>

#include <optional>

#include "config.h"
#include "login_flow.h"

// Made before the first attempt; while it exists (until the next boot empties /run) a restarted
// daemon shows the login screen instead.
inline constexpr const char* AUTOLOGIN_MARKER_PATH = "/run/vesko/autologin-done";

// Starts the configured user's session through `attempt` (LoginMode::Automatic) when
// [autologin] names one, this boot has not had it yet, and the account is not root's. The
// session process's PID, or nothing (logged) and the login screen is shown as usual.
std::optional<pid_t> start_automatic_login(const Config& config, const LoginAttempt& attempt);
