// UTF-8 helpers shared by every unit that turns C strings into text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

bool is_valid_utf8(std::string_view bytes);

// The code point of the valid UTF-8 sequence at `pos`, which moves past it; nothing for bytes
// that are not one (`pos` then moves past the broken sequence, as U+FFFD would replace it).
std::optional<char32_t> next_code_point(std::string_view bytes, size_t& pos);

// Every byte sequence that is not valid UTF-8 becomes U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// Whether the text holds a C0 or C1 control character or DEL; bytes that are not UTF-8 are not
// control characters here.
bool has_control_char(std::string_view utf8);

// Length in bytes of the last whole UTF-8 character of a text (0 for an empty text).
size_t last_utf8_char_length(std::string_view text);

// Zeroes a secret's bytes, then empties it (the capacity stays, so no copy is left behind).
void wipe_text(std::string& text);

// Without the blanks (isspace in the C locale) at either end.
std::string_view trim_space(std::string_view text);

// Hands a secret over: `to` is wiped first, so a reallocation frees no readable copy, and `from`
// after the copy.
void move_secret(std::string& to, std::string& from);

// Text fit for the screen and the log: invalid UTF-8 becomes U+FFFD, each control character (C0,
// DEL, C1) a blank, blanks at either end go, and the rest is cut to at most `max_bytes` without
// splitting a character.
std::string display_text(std::string_view bytes, size_t max_bytes);

// "…" (U+2026), which marks a text shortened to fit.
inline constexpr const char* ELLIPSIS = "\xE2\x80\xA6";

// `text` when `measure` finds it no wider than `width`; otherwise its longest beginning of whole
// characters (trailing blanks dropped) that fits with ELLIPSIS after it, or ELLIPSIS alone.
// `measure` must not shrink as a text grows.
std::string shorten_to_width(std::string_view text, int32_t width,
                             const std::function<int32_t(std::string_view)>& measure);
