// The X sessions a person may choose at the login screen: the desktop entries of the sessions
// folder that can run here, read at each showing, sorted by name after "Default".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "texts.h"

inline constexpr const char* DEFAULT_SESSION_LABEL = N_("Default");
inline constexpr std::string_view DESKTOP_ENTRY_SUFFIX = ".desktop";
// Entries read from the folder at most; more are left out with a WARN.
inline constexpr size_t MAX_SESSIONS = 48;
// A session's id (its file name without ".desktop") is stored and set in the environment.
inline constexpr size_t MAX_SESSION_ID_BYTES = 200;

struct DesktopSession {
    // The file name without ".desktop": DESKTOP_SESSION and XDG_SESSION_DESKTOP.
    std::string id;
    std::string name;
    // Run as /bin/sh -c 'exec EXEC'.
    std::string exec;
    // XDG_CURRENT_DESKTOP: DesktopNames joined with ':'.
    std::string current_desktop;
    bool operator==(const DesktopSession&) const = default;
};

// Whether a file name (NAME.desktop) names a session the store and the environment can hold.
bool is_session_id(std::string_view id);

// Whether `program` is an executable file: a path with '/' as it is, a bare name searched in
// the ':'-separated `search_path`.
bool program_exists(std::string_view program, std::string_view search_path);

// The folder's usable sessions, sorted by name (then id); what cannot be used is logged as a
// WARN, except entries that ask to be hidden and those whose TryExec program is missing.
std::vector<DesktopSession> list_sessions(const std::string& dir);

// The session with `id`, or nullptr.
const DesktopSession* find_session(const std::vector<DesktopSession>& sessions,
                                   std::string_view id);
