// Finding an account in the password database.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct UserInfo {
    std::string home;
    std::string shell;
    uint32_t uid = 0;
    uint32_t gid = 0;
    // The name the database gave; users that share an ID must not become each other.
    std::string name;
};

// The entry for `name`, copied out of the C library's static storage at once, with invalid
// UTF-8 in the home and shell replaced; nothing for an unknown name or one holding a NUL.
// (The PAM environment set-up keeps its own fixed-buffer lookup: its limits are part of the
// transaction's behaviour.)
std::optional<UserInfo> lookup_user(std::string_view name);
