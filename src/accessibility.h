// The high-contrast look chosen at the login screen, kept for the next showing.
#pragma once

#include <optional>
#include <string_view>

#include "result.h"

inline constexpr const char* ACCESSIBILITY_PATH = "/var/lib/vesko/accessibility";
inline constexpr const char* ACCESSIBILITY_TEMP_PATH = "/var/lib/vesko/accessibility.new";

// "high_contrast" or "normal", one final line feed allowed; anything else is an error.
Result<bool> parse_accessibility(std::string_view bytes);

// The kept choice; `configured` when there is none, or (logged as a WARN) an unusable one.
bool load_high_contrast(bool configured);

// Replaces the file atomically (root's, 0600); the error says why it could not.
Result<Ok> save_high_contrast(bool high_contrast);
