#include "session_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "desktop_entry.h"
#include "fd.h"
#include "log.h"
#include "owners.h"
#include "session.h"
#include "text.h"

namespace {

void warn(const std::string& path, const std::string& why) {
    log_message(LogLevel::Warn, "Sessions: skipping " + display_text(path, 300) + ": " + why);
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0;
}

// The entry runs as whoever logs in: a file that someone other than root could have written
// would run that someone's commands as them.
Result<std::string> read_entry_file(const std::string& path) {
    const UniqueFd fd = open_regular_file(path.c_str());
    if (!fd.valid()) {
        return Err{errno == EINVAL ? std::string("it is not a regular file")
                                   : os_error_text(errno)};
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        return Err{os_error_text(errno)};
    }
    if (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Err{"it is not root's, or others may write it"};
    }
    if (static_cast<unsigned long long>(info.st_size) > MAX_DESKTOP_ENTRY_BYTES) {
        return Err{"it is larger than " + std::to_string(MAX_DESKTOP_ENTRY_BYTES) + " bytes"};
    }
    std::string bytes;
    bytes.reserve(static_cast<size_t>(info.st_size));
    char chunk[4096];
    for (;;) {
        const ssize_t n = retry_on_eintr([&] { return ::read(fd.get(), chunk, sizeof chunk); });
        if (n < 0) {
            return Err{os_error_text(errno)};
        }
        if (n == 0) {
            break;
        }
        bytes.append(chunk, static_cast<size_t>(n));
        // The file may grow after fstat.
        if (bytes.size() > MAX_DESKTOP_ENTRY_BYTES) {
            return Err{"it is larger than " + std::to_string(MAX_DESKTOP_ENTRY_BYTES) + " bytes"};
        }
    }
    return bytes;
}

std::vector<std::string> entry_file_names(const std::string& dir) {
    std::vector<std::string> names;
    const UniqueDir listing(::opendir(dir.c_str()));
    if (!listing) {
        if (errno != ENOENT) {
            log_message(LogLevel::Warn, "Sessions: cannot read " + display_text(dir, 300) + ": " +
                                            os_error_text(errno));
        }
        return names;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() > DESKTOP_ENTRY_SUFFIX.size() && name.front() != '.' &&
            name.ends_with(DESKTOP_ENTRY_SUFFIX)) {
            names.emplace_back(name);
        }
    }
    // The same entries are read whatever order the folder lists them in.
    std::sort(names.begin(), names.end());
    return names;
}

std::string join_desktop_names(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ":") + name;
    }
    return joined;
}

}  // namespace

bool is_session_id(std::string_view id) {
    return !id.empty() && id.size() <= MAX_SESSION_ID_BYTES && id.front() != '.' &&
           id.find('/') == std::string_view::npos && is_valid_utf8(id) && !has_control_char(id) &&
           id.find_first_of("=:") == std::string_view::npos;
}

bool program_exists(std::string_view program, std::string_view search_path) {
    if (program.empty()) {
        return false;
    }
    if (program.find('/') != std::string_view::npos) {
        return program.front() == '/' && is_executable_file(std::string(program));
    }
    while (true) {
        const size_t end = search_path.find(':');
        const std::string_view folder = search_path.substr(0, end);
        if (!folder.empty() &&
            is_executable_file(std::string(folder) + "/" + std::string(program))) {
            return true;
        }
        if (end == std::string_view::npos) {
            return false;
        }
        search_path.remove_prefix(end + 1);
    }
}

std::vector<DesktopSession> list_sessions(const std::string& dir) {
    std::vector<DesktopSession> sessions;
    std::vector<std::string> names = entry_file_names(dir);
    if (names.size() > MAX_SESSIONS) {
        log_message(LogLevel::Warn, "Sessions: " + std::to_string(names.size()) + " entries in " +
                                        display_text(dir, 300) + "; reading the first " +
                                        std::to_string(MAX_SESSIONS));
        names.resize(MAX_SESSIONS);
    }
    for (const std::string& file_name : names) {
        std::string path = dir;
        path.append("/").append(file_name);
        const std::string id = file_name.substr(0, file_name.size() - DESKTOP_ENTRY_SUFFIX.size());
        if (!is_session_id(id)) {
            warn(path, "its name cannot name a session");
            continue;
        }
        const Result<std::string> bytes = read_entry_file(path);
        if (!bytes.ok()) {
            warn(path, bytes.error());
            continue;
        }
        Result<DesktopEntry> parsed = parse_desktop_entry(bytes.value());
        if (!parsed.ok()) {
            warn(path, parsed.error());
            continue;
        }
        DesktopEntry& entry = parsed.value();
        // Asked to be left out, or its desktop is not installed: no line, as other menus do.
        if (entry.hidden || entry.no_display ||
            (!entry.try_exec.empty() && !program_exists(entry.try_exec, SESSION_PATH_VALUE))) {
            continue;
        }
        sessions.push_back(DesktopSession{id, std::move(entry.name), std::move(entry.exec),
                                          join_desktop_names(entry.desktop_names)});
    }
    // "i3" among the others, not after every capital.
    const auto folded = [](const std::string& text) {
        std::string out = text;
        std::transform(out.begin(), out.end(), out.begin(),
                       [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
        return out;
    };
    std::sort(sessions.begin(), sessions.end(), [&](const auto& a, const auto& b) {
        const std::string fa = folded(a.name);
        const std::string fb = folded(b.name);
        return fa != fb ? fa < fb : a.id < b.id;
    });
    return sessions;
}

const DesktopSession* find_session(const std::vector<DesktopSession>& sessions,
                                   std::string_view id) {
    const auto found =
        std::find_if(sessions.begin(), sessions.end(), [&](const auto& s) { return s.id == id; });
    return found == sessions.end() ? nullptr : &*found;
}
