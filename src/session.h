// The login attempt, the session process and the session program's child.
//
// Three processes: the daemon authenticates and forks the session process; that one (root)
// opens the PAM session, which logind then ties to it, forks the child that becomes the user's
// session program, waits for it and closes the PAM session again. The daemon waits for the
// session process.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config.h"
#include "result.h"
#include "secret.h"
#include "session_list.h"
#include "texts.h"
#include "user.h"

struct PamClient;

inline constexpr const char* SESSION_PATH_VALUE =
    "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
inline constexpr const char* SESSION_XKB_CONFIG_ROOT = "/usr/share/X11/xkb";
inline constexpr const char* RUNTIME_DIR_PARENT = "/run/user";
// The private directory made for a session without a usable runtime directory.
inline constexpr const char* SPARE_DIR_TEMPLATE = "/tmp/vesko-session-XXXXXX";
inline constexpr mode_t RUNTIME_DIR_PARENT_MODE = 0755;
inline constexpr mode_t RUNTIME_DIR_MODE = 0700;
inline constexpr const char* LOGIN_SHELLS_PATH = "/etc/shells";
// After the session process forwarded a termination, before it kills the session program.
inline constexpr int SESSION_END_GRACE_MS = 2000;
// What a session prints may be secret (tokens, codes), and many homes are readable by all.
inline constexpr mode_t SESSION_LOG_MODE = 0600;
inline constexpr const char* SESSION_SHELL_PATH = "/bin/sh";
inline constexpr const char* SESSION_SHELL_ARG0 = "sh";
inline constexpr const char* FALLBACK_SESSION_PATH = "/usr/bin/openbox";
inline constexpr const char* FALLBACK_SESSION_ARG0 = "openbox";

struct stat;

using EnvVar = std::pair<std::string, std::string>;

// Why a launch failed: the text (in English for the log, and in the login screen's language),
// and whether the login screen shows it as it is (a PAM session failure) or after "Session
// launch failed: ".
struct LaunchFailure {
    ScreenText text;
    bool from_pam = false;
};

// What the session process reports when the session did not start: a kind byte ('P' a PAM
// session failure, 'S' any other), the English text, a NUL, the shown text.
std::string failure_report(char kind, const ScreenText& text);
// The failure that a report other than the start byte means.
LaunchFailure read_failure_report(std::string_view report);

// Looks the user up and forks the session process, which carries `client` on; the daemon's own
// copy is ended here either way. `desktop` is the chosen session's entry; null: "Default".
Result<pid_t, LaunchFailure> launch_session(std::unique_ptr<PamClient> client,
                                            const std::string& username, const std::string& display,
                                            bool graphical,
                                            const DesktopSession* desktop = nullptr);

// The forked session process: opens the PAM session, tells the daemon through `report_fd`
// whether the session started, runs it and closes the PAM session. Returns its exit status.
int run_session_process(PamClient& client, const UserInfo& user, bool graphical, int report_fd,
                        const DesktopSession* desktop = nullptr);

// A new process session and group that the daemon can end as a whole, with a standard input
// that is no terminal of the daemon's.
void detach_from_daemon();

// What the session child may fall back on.
struct SessionFallbacks {
    // A directory only the user can read, for the cookie when the home cannot hold it; empty
    // when there is none.
    std::string private_dir;
    // Where the child reports trouble for the daemon's log, one line each; -1: nowhere.
    int notice_fd = -1;
};

// Runs in the session program's forked child only; returns only when it could not be started.
void run_session_child(const UserInfo& user, const std::vector<EnvVar>& environment,
                       const SessionFallbacks& fallbacks = {},
                       const DesktopSession* desktop = nullptr);

std::string runtime_dir_path(uint32_t uid);
std::string session_log_path(const UserInfo& user);
std::string start_script_path(const UserInfo& user);

// The session's whole environment, in the order it is set: the fixed variables, then every
// other one of the PAM environment. Without a usable runtime directory XDG_RUNTIME_DIR is left
// out, PAM's included.
std::vector<EnvVar> session_environment(const UserInfo& user, const std::vector<EnvVar>& pam_env,
                                        bool with_runtime_dir);

// Why an existing runtime directory (as lstat saw it) must not be used, or nothing.
std::optional<std::string> runtime_dir_problem(const struct stat& info, uint32_t uid);

// Whether /etc/shells (its text) lists `shell`; comments and blank lines are ignored.
bool is_login_shell(std::string_view shells_file, std::string_view shell);

// The program the graphical session runs and its arguments, argument zero first.
struct SessionProgram {
    std::string path;
    std::vector<std::string> argv;
};
// A chosen session's Exec goes through the shell, which finds its program on the session's PATH.
SessionProgram session_program(const UserInfo& user, bool start_script_exists,
                               const DesktopSession* desktop = nullptr);

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
