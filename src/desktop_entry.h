// Reading one X session's desktop entry (/usr/share/xsessions/NAME.desktop): the keys a login
// screen needs, with the Exec line's field codes removed. No file system here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

// Real entries are a few hundred bytes; anything near this is not one.
inline constexpr size_t MAX_DESKTOP_ENTRY_BYTES = size_t{64} * 1024;
// Drawn on a button and in the list.
inline constexpr size_t MAX_SESSION_NAME_BYTES = 128;

struct DesktopEntry {
    std::string name;
    // With field codes removed and the string escapes undone: a shell command line.
    std::string exec;
    std::string try_exec;
    std::vector<std::string> desktop_names;
    bool hidden = false;
    bool no_display = false;
};

// The [Desktop Entry] group's keys; the error says why the text is no usable entry (binary, not
// UTF-8, too long, no Name or Exec, a field code the format does not know).
Result<DesktopEntry> parse_desktop_entry(std::string_view text);

// The Exec value with %f %F %u %U %d %D %n %N %i %c %k %v %m removed and %% made %; an unknown
// code or a lone % at the end is an error.
Result<std::string> strip_field_codes(std::string_view exec);

// The string escapes of the format: \s \n \t \r \\ ; any other backslash stays as it is.
std::string unescape_desktop_value(std::string_view value);
