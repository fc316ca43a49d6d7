// The PAM client: one whole transaction per login attempt, with its diagnostic probes.
#pragma once

#include <string>

#include "result.h"

inline constexpr const char* PAM_SERVICE = "vesko";

// Runs start, authenticate, account check, credentials, session open and close, and end.
// The error is the text the login screen shows.
Result<Ok> authenticate_user(const std::string& username, const std::string& password);
