#include "log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "fd.h"

const char* log_level_name(LogLevel level) {
    switch (level) {
        case LogLevel::Debug:
            return "DEBUG";
        case LogLevel::Info:
            return "INFO";
        case LogLevel::Warn:
            return "WARN";
        case LogLevel::Error:
            return "ERROR";
    }
    return "INFO";
}

std::string format_log_line(const std::tm* local, LogLevel level, std::string_view message) {
    char stamp[64] = "??:??:??";
    if (local != nullptr) {
        std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", local->tm_year + 1900,
                      local->tm_mon + 1, local->tm_mday, local->tm_hour, local->tm_min,
                      local->tm_sec);
    }
    std::string line;
    line.reserve(message.size() + 40);
    line += '[';
    line += stamp;
    line += "] [";
    line += log_level_name(level);
    line += "] ";
    line += message;
    line += '\n';
    return line;
}

void append_log_file(const char* path, std::string_view line) {
    // The log carries typed user names (often a mistyped password) and hash previews, so a new
    // file is readable by root alone; an existing file keeps its mode.
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return;
    }
    (void)write_all(fd, line);
    ::close(fd);
}

namespace {

std::string line_now(LogLevel level, std::string_view message) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    const bool have_time = ::localtime_r(&now, &local) != nullptr;
    return format_log_line(have_time ? &local : nullptr, level, message);
}

}  // namespace

void log_message(LogLevel level, std::string_view message) {
    const std::string line = line_now(level, message);
    (void)write_all(STDERR_FILENO, line);
    append_log_file(LOG_PATH, line);
}

void log_private(LogLevel level, std::string_view message) {
    append_log_file(LOG_PATH, line_now(level, message));
}
