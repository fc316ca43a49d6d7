// Each user's last chosen session, kept by root in /var/lib/vesko/sessions/UID (never in the
// user's home, which the user could point anywhere): the session's id and a line feed. "Default"
// is no file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "result.h"

inline constexpr const char* SESSION_CHOICE_PARENT = "/var/lib/vesko";
inline constexpr const char* SESSION_CHOICE_DIR = "/var/lib/vesko/sessions";
inline constexpr mode_t SESSION_CHOICE_DIR_MODE = 0700;
inline constexpr mode_t SESSION_CHOICE_MODE = 0600;

std::string session_choice_path(uint32_t uid);

// The id held by the file's bytes (one final line feed allowed), or why there is none.
Result<std::string> parse_session_choice(std::string_view bytes);

// The user's remembered session id; nothing when there is none, or (logged as a WARN) an
// unusable file.
std::optional<std::string> load_session_choice(uint32_t uid);

// Remembers `id` for the user atomically; an empty id ("Default") removes the file.
Result<Ok> save_session_choice(uint32_t uid, std::string_view id);
