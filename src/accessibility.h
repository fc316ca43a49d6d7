// The look chosen at the login screen (high contrast, large text), kept for the next showing.
#pragma once

#include <string_view>

#include "result.h"

inline constexpr const char* ACCESSIBILITY_PATH = "/var/lib/vesko/accessibility";

struct Look {
    bool high_contrast = false;
    bool large_text = false;
    bool operator==(const Look&) const = default;
};

// "normal", "high_contrast", "large_text" or "high_contrast large_text", one final line feed
// allowed; anything else is an error.
Result<Look> parse_accessibility(std::string_view bytes);

// What the look button turns `look` into: each press changes one thing, so the four looks come
// round in the order normal, high contrast, both, large text.
Look next_look(Look look);

// The kept choice; `configured` when there is none, or (logged as a WARN) an unusable one.
Look load_look(Look configured);

// Replaces the file atomically (root's, 0600); the error says why it could not.
Result<Ok> save_look(Look look);
