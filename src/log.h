// The daemon's one log: standard error and /var/log/vesko.log, one line per call.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

enum class LogLevel { Debug, Info, Warn, Error };

inline constexpr const char* LOG_PATH = "/var/log/vesko.log";

const char* log_level_name(LogLevel level);

// The line as written, line feed included. `local` is null when local time is unavailable.
std::string format_log_line(const std::tm* local, LogLevel level, std::string_view message);

// Appends `line` to the file at `path`, creating it 0600; never reports failure.
void append_log_file(const char* path, std::string_view line);

void log_message(LogLevel level, std::string_view message);

// To the log file only (root's alone), never to standard error, which the service manager files
// in a journal that more people may read: for lines that carry secrets.
void log_private(LogLevel level, std::string_view message);
