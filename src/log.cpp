#include "log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "fd.h"
#include "text.h"

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

namespace {

// Cc, Cf, Zl and Zp of Unicode 15: what changes how a line reads without being seen.
bool hides_in_a_line(char32_t c) {
    struct Range {
        char32_t first;
        char32_t last;
    };
    static constexpr Range RANGES[] = {
        {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},
        {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},
        {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x2028, 0x202E},
        {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},
        {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
        {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
    };
    for (const Range& range : RANGES) {
        if (c >= range.first && c <= range.last) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string escape_log_text(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    size_t pos = 0;
    while (pos < message.size()) {
        const size_t start = pos;
        const std::optional<char32_t> c = next_code_point(message, pos);
        char escaped[16];
        if (!c) {
            for (size_t i = start; i < pos; ++i) {
                std::snprintf(escaped, sizeof escaped, "\\x%02x",
                              static_cast<unsigned>(static_cast<unsigned char>(message[i])));
                out += escaped;
            }
        } else if (hides_in_a_line(*c)) {
            std::snprintf(escaped, sizeof escaped, *c > 0xFFFF ? "\\U%08x" : "\\u%04x",
                          static_cast<unsigned>(*c));
            out += escaped;
        } else {
            out.append(message.substr(start, pos - start));
        }
    }
    return out;
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
    line += escape_log_text(message);
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

void log_split(LogLevel level, std::string_view file_message, std::string_view console_message) {
    (void)write_all(STDERR_FILENO, line_now(level, console_message));
    append_log_file(LOG_PATH, line_now(level, file_message));
}

std::string console_typed_line(const TypedName& name, std::string_view before,
                               std::string_view after) {
    if (name.known) {
        return std::string(before) + "'" + std::string(name.name) + "'" + std::string(after);
    }
    for (const std::string_view word : {"user ", "User "}) {
        if (before.ends_with(word)) {
            before.remove_suffix(word.size());
        }
    }
    std::string line(before);
    line += UNKNOWN_USER_TEXT;
    if (before.empty()) {
        line[0] = 'A';
    }
    line += after;
    return line;
}

void log_typed_name(LogLevel level, const TypedName& name, std::string_view before,
                    std::string_view after) {
    const std::string file_line =
        std::string(before) + "'" + std::string(name.name) + "'" + std::string(after);
    log_split(level, file_line, console_typed_line(name, before, after));
}

void log_private(LogLevel level, std::string_view message) {
    append_log_file(LOG_PATH, line_now(level, message));
}
