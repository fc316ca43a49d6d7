// The name of the last user whose session started, offered at the next showing when
// [ui] remember_user is on.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

inline constexpr const char* LAST_USER_DIR = "/var/lib/vesko";
inline constexpr const char* LAST_USER_PATH = "/var/lib/vesko/last-user";
inline constexpr mode_t LAST_USER_DIR_MODE = 0700;
inline constexpr mode_t LAST_USER_MODE = 0600;
inline constexpr size_t LAST_USER_NAME_BYTES = 256;
// The name and a line feed; a bigger file is not read at all.
inline constexpr size_t LAST_USER_FILE_BYTES = LAST_USER_NAME_BYTES + 1;

// The name held by the file's bytes (one final line feed allowed), or why there is none.
Result<std::string> parse_last_user(std::string_view bytes);

// The remembered name; nothing when there is no file, or (logged as a WARN) an unusable one.
std::optional<std::string> load_last_user();

// Replaces the file atomically with the name; the error says why it could not.
Result<Ok> save_last_user(std::string_view name);
