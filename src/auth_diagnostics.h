// Diagnostic probes of the authentication set-up, logged around each PAM transaction.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log.h"
#include "secret.h"

inline constexpr size_t HASH_PREVIEW_BYTES = 10;

// A hash of up to 10 bytes whole; a longer one as "{first 10 bytes}...(len={bytes})", the cut
// moved back to the start of a character it would split.
std::string hash_preview(std::string_view hash);

// ["a", "b"]: each name quoted, with backslash escapes for quotes, backslashes and control
// characters.
std::string format_name_list(const std::vector<std::string>& names);

// The first line of a shadow file's text that begins with "{user}:" (line feeds split lines, a
// carriage return before one is dropped).
std::optional<std::string_view> find_shadow_line(std::string_view shadow, std::string_view user);

// The second colon-separated field of a shadow line (the hash), if the line has one.
std::optional<std::string_view> shadow_hash_field(std::string_view line);

// Both only log, and never fail.
void diagnose_before_pam(const TypedName& user, const SecretText& password);
void diagnose_after_pam_init(const TypedName& user);
