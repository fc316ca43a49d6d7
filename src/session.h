// The login attempt and the session process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "result.h"

struct UserInfo {
    std::string home;
    std::string shell;
    uint32_t uid = 0;
    uint32_t gid = 0;
    // The name the login found; users that share an ID must not become each other.
    std::string name;
};

// A process ID, or the text the login screen shows.
Result<pid_t> attempt_login(const std::string& username, const std::string& password,
                            const std::string& session_kind);

Result<pid_t> launch_session(const std::string& username, const std::string& display,
                             bool graphical);

// Runs in the forked child only; returns only when the session could not be started.
void run_session_child(const UserInfo& user, bool graphical);
