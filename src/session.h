// The login attempt and the session process.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "result.h"

inline constexpr const char* SESSION_PATH_VALUE =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
inline constexpr const char* SESSION_LD_LIBRARY_PATH = "/usr/lib/x86_64-linux-gnu:/usr/lib";
inline constexpr const char* SESSION_XKB_CONFIG_ROOT = "/usr/share/X11/xkb";
inline constexpr mode_t RUNTIME_DIR_MODE = 0700;
inline constexpr mode_t SESSION_LOG_MODE = 0644;
inline constexpr const char* SESSION_SHELL_PATH = "/bin/sh";
inline constexpr const char* SESSION_SHELL_ARG0 = "sh";
inline constexpr const char* FALLBACK_SESSION_PATH = "/usr/bin/openbox";
inline constexpr const char* FALLBACK_SESSION_ARG0 = "openbox";

struct UserInfo {
    std::string home;
    std::string shell;
    uint32_t uid = 0;
    uint32_t gid = 0;
    // The name the login found; users that share an ID must not become each other.
    std::string name;
};

// A process ID, or the text the login screen shows.
Result<pid_t> attempt_login(const std::string& username, const std::string& password,
                            const std::string& session_kind);

Result<pid_t> launch_session(const std::string& username, const std::string& display,
                             bool graphical);

// Runs in the forked child only; returns only when the session could not be started.
void run_session_child(const UserInfo& user, bool graphical);

// Only the exact text "graphical" starts a graphical session; anything else is the console kind.
bool is_graphical_kind(std::string_view session_kind);
const char* session_kind_label(bool graphical);

std::string runtime_dir_path(uint32_t uid);
std::string session_log_path(const UserInfo& user);
std::string start_script_path(const UserInfo& user);

using EnvVar = std::pair<std::string, std::string>;
// The session's whole environment, in the order it is set.
std::vector<EnvVar> session_environment(const UserInfo& user);

// The program the graphical session runs and its arguments, argument zero first.
struct SessionProgram {
    std::string path;
    std::vector<std::string> argv;
};
SessionProgram session_program(const UserInfo& user, bool start_script_exists);

// Gives up root for the user: initgroups, setgid, setuid, then checks that the real and
// effective IDs all changed and that root cannot be taken back.
bool take_user_identity(const UserInfo& user);

// What PAM modules such as pam_limits and pam_umask change in the calling process.
struct ProcessSettings {
    std::array<rlimit, RLIM_NLIMITS> limits{};
    std::array<bool, RLIM_NLIMITS> have_limit{};
    int priority = 0;
    bool have_priority = false;
    mode_t umask = 022;
};
ProcessSettings capture_process_settings();
void restore_process_settings(const ProcessSettings& settings);
