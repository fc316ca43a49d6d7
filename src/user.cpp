#include "user.h"

#include <pwd.h>

#include "text.h"

std::optional<UserInfo> lookup_user(std::string_view name) {
    if (name.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string c_name(name);
    const passwd* entry = ::getpwnam(c_name.c_str());
    if (entry == nullptr) {
        return std::nullopt;
    }
    return UserInfo{utf8_lossy(entry->pw_dir != nullptr ? entry->pw_dir : ""),
                    utf8_lossy(entry->pw_shell != nullptr ? entry->pw_shell : ""), entry->pw_uid,
                    entry->pw_gid, entry->pw_name};
}
