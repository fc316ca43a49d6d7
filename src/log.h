// The daemon's one log: standard error and /var/log/vesko.log, one line per call.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

enum class LogLevel { Debug, Info, Warn, Error };

inline constexpr const char* LOG_PATH = "/var/log/vesko.log";

const char* log_level_name(LogLevel level);

// The message as a line may hold it: every character that is not printable (C0 and C1 controls,
// DEL), every bidirectional or other format control and the line and paragraph separators become
// "\u202e" ("\U000e0001" beyond the first plane), and bytes that are not UTF-8 "\xff". Nothing
// typed or said by a PAM module can then reverse a line or pass for a second one.
std::string escape_log_text(std::string_view message);

// The line as written, line feed included, the message escaped. `local` is null when local time
// is unavailable.
std::string format_log_line(const std::tm* local, LogLevel level, std::string_view message);

// Appends `line` to the file at `path`, creating it 0600; never reports failure.
void append_log_file(const char* path, std::string_view line);

void log_message(LogLevel level, std::string_view message);

// To the log file only (root's alone), never to standard error, which the service manager files
// in a journal that more people may read: for lines that carry secrets.
void log_private(LogLevel level, std::string_view message);

// One line that reads differently in the two places: `file_message` in the log file (root's
// alone), `console_message` on standard error (the journal).
void log_split(LogLevel level, std::string_view file_message, std::string_view console_message);

// A user name as it was typed: it may be a password typed one field too early. `known` says
// whether the account exists.
struct TypedName {
    std::string_view name;
    bool known = false;
};

inline constexpr const char* UNKNOWN_USER_TEXT = "an unknown user";

// The line `before` + "'name'" + `after` in the log file. Standard error gets the same when the
// account exists, and otherwise "an unknown user" in place of the quoted name (a word "user "
// that ends `before` goes with it): "Attempting login for an unknown user".
void log_typed_name(LogLevel level, const TypedName& name, std::string_view before,
                    std::string_view after = {});
// What standard error gets of such a line.
std::string console_typed_line(const TypedName& name, std::string_view before,
                               std::string_view after);
