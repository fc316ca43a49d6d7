#include "session.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "auth.h"
#include "fd.h"
#include "log.h"
#include "text.h"
#include "xauth.h"
#include "xserver.h"

namespace {

// What the session process tells the daemon: this byte, or a failure byte and the text.
constexpr char REPORT_STARTED = '0';

Result<UserInfo, ScreenText> find_user(const TypedName& typed, std::optional<UserInfo> user) {
    if (!user) {
        log_typed_name(LogLevel::Error, typed, "User ", " not found in /etc/passwd");
        return Err{screen_text(N_("User '%s' not found"), typed.name)};
    }
    return std::move(*user);
}

// Accounts such as SFTP-only ones keep a password but must not get a session.
Result<Ok, ScreenText> check_login_shell(const std::string& username, const UserInfo& user) {
    const std::optional<std::string> shells = read_regular_file(LOGIN_SHELLS_PATH);
    if (shells && is_login_shell(*shells, user.shell)) {
        return Ok{};
    }
    log_message(LogLevel::Error, "User '" + username + "': shell '" + user.shell +
                                     "' is not listed in " + LOGIN_SHELLS_PATH);
    return Err{screen_text(N_("User '%s' has no login shell"), username)};
}

// The session process's word on the start of the session; it has opened the PAM session and
// started the session program when the answer is success.
Result<Ok, LaunchFailure> read_report(int fd) {
    const std::optional<std::string> report = read_all(fd);
    if (report && *report == std::string(1, REPORT_STARTED)) {
        return Ok{};
    }
    if (!report || report->size() < 2) {
        return Err{LaunchFailure{
            screen_text(N_("the session process ended without starting the session"))}};
    }
    return Err{read_failure_report(*report)};
}

}  // namespace

std::string failure_report(char kind, const ScreenText& text) {
    std::string report(1, kind);
    report += text.english;
    report += '\0';
    report += text.shown;
    return report;
}

LaunchFailure read_failure_report(std::string_view report) {
    const std::string_view text = report.substr(std::min<size_t>(report.size(), 1));
    const size_t end = text.find('\0');
    const std::string english(text.substr(0, end));
    const std::string shown =
        end == std::string_view::npos ? english : std::string(text.substr(end + 1));
    return LaunchFailure{ScreenText{english, shown}, !report.empty() && report.front() == 'P'};
}

std::string runtime_dir_path(uint32_t uid) {
    return std::string(RUNTIME_DIR_PARENT) + "/" + std::to_string(uid);
}

std::string session_log_path(const UserInfo& user) {
    return user.home + "/session.log";
}

std::string start_script_path(const UserInfo& user) {
    return user.home + "/.xinitrc";
}

std::vector<EnvVar> session_environment(const UserInfo& user, const std::vector<EnvVar>& pam_env,
                                        bool with_runtime_dir) {
    std::vector<EnvVar> environment{
        {"HOME", user.home},
        {"USER", utf8_lossy(user.name)},
        {"SHELL", user.shell},
        {"DISPLAY", x_display_name()},
        {"XAUTHORITY", user_xauthority_path(user.home)},
        {"PATH", SESSION_PATH_VALUE},
        {"XDG_RUNTIME_DIR", runtime_dir_path(user.uid)},
        {"XKB_CONFIG_ROOT", SESSION_XKB_CONFIG_ROOT},
    };
    for (const EnvVar& variable : pam_env) {
        // The fixed ones win, and of PAM's the first.
        const auto same_name = [&](const EnvVar& v) { return v.first == variable.first; };
        if (std::none_of(environment.begin(), environment.end(), same_name)) {
            environment.push_back(variable);
        }
    }
    if (!with_runtime_dir) {
        std::erase_if(environment, [](const EnvVar& v) { return v.first == "XDG_RUNTIME_DIR"; });
    }
    return environment;
}

std::optional<std::string> runtime_dir_problem(const struct stat& info, uint32_t uid) {
    if (S_ISLNK(info.st_mode)) {
        return "it is a symbolic link";
    }
    if (!S_ISDIR(info.st_mode)) {
        return "it is not a directory";
    }
    if (info.st_uid != uid) {
        return "it belongs to uid " + std::to_string(info.st_uid);
    }
    if ((info.st_mode & 07777) != RUNTIME_DIR_MODE) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
        return std::string("its mode is ") + mode;
    }
    return std::nullopt;
}

bool is_login_shell(std::string_view shells_file, std::string_view shell) {
    while (!shells_file.empty()) {
        const size_t end = shells_file.find('\n');
        std::string_view line = shells_file.substr(0, end);
        shells_file =
            end == std::string_view::npos ? std::string_view() : shells_file.substr(end + 1);
        while (!line.empty() &&
               (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (!line.empty() && line.front() != '#' && line == shell) {
            return true;
        }
    }
    return false;
}

SessionProgram session_program(const UserInfo& user, bool start_script_exists,
                               const DesktopSession* desktop) {
    if (desktop != nullptr) {
        return {SESSION_SHELL_PATH, {SESSION_SHELL_ARG0, "-c", "exec " + desktop->exec}};
    }
    if (start_script_exists) {
        // Run as the shell's argument, so the script needs no execute permission.
        return {SESSION_SHELL_PATH, {SESSION_SHELL_ARG0, start_script_path(user)}};
    }
    return {FALLBACK_SESSION_PATH, {FALLBACK_SESSION_ARG0}};
}

Result<pid_t, LaunchFailure> launch_session(std::unique_ptr<PamClient> client,
                                            const std::string& username, const std::string& display,
                                            bool graphical, const DesktopSession* desktop) {
    std::optional<UserInfo> entry = lookup_user(username);
    const TypedName typed{username, entry.has_value()};
    log_typed_name(LogLevel::Info, typed, "launch_session: user=",
                   " display='" + display + "' graphical=" + (graphical ? "true" : "false"));
    Result<UserInfo, ScreenText> found = find_user(typed, std::move(entry));
    if (found.ok()) {
        if (Result<Ok, ScreenText> shell = check_login_shell(username, found.value());
            !shell.ok()) {
            found = Err{shell.error()};
        }
    }
    if (!found.ok()) {
        release_pam_client(*client);
        return Err{LaunchFailure{found.error()}};
    }
    const UserInfo& user = found.value();
    log_message(LogLevel::Info, "User '" + username + "': uid=" + std::to_string(user.uid) +
                                    " gid=" + std::to_string(user.gid) + " home='" + user.home +
                                    "' shell='" + user.shell + "'");

    int report[2] = {-1, -1};
    const pid_t pid = ::pipe2(report, O_CLOEXEC) == 0 ? ::fork() : -1;
    if (pid < 0) {
        log_message(LogLevel::Error, "fork() failed");
        for (const int fd : report) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
        release_pam_client(*client);
        return Err{LaunchFailure{screen_text(N_("fork() failed"))}};
    }
    if (pid == 0) {
        ::close(report[0]);
        // Never back into the daemon's code: no exit handlers, destructors or shared buffers.
        ::_exit(run_session_process(*client, user, graphical, report[1], desktop));
    }
    ::close(report[1]);
    const UniqueFd reader(report[0]);
    abandon_pam_client(*client);
    const Result<Ok, LaunchFailure> started = read_report(reader.get());
    if (!started.ok()) {
        (void)::waitpid(pid, nullptr, 0);
        return Err{started.error()};
    }
    log_message(LogLevel::Info, "Session child forked with PID " + std::to_string(pid));
    return pid;
}
