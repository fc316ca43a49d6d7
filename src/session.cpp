#include "session.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>

#include "auth.h"
#include "fd.h"
#include "log.h"
#include "power.h"
#include "text.h"
#include "xauth.h"
#include "xserver.h"

namespace {

// Descriptors that PAM modules or libraries opened without close-on-exec must not reach the
// session either.
void mark_inherited_descriptors_close_on_exec() {
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) == 0) {
        return;
    }
    long max_fd = ::sysconf(_SC_OPEN_MAX);
    if (max_fd < 0 || max_fd > 65536) {
        max_fd = 65536;
    }
    for (int fd = 3; fd < max_fd; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0 && (flags & FD_CLOEXEC) == 0) {
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
        }
    }
}

// Puts /dev/null on each of the given standard descriptors; closes them if that is impossible.
void point_at_dev_null(std::initializer_list<int> targets) {
    UniqueFd null_fd(::open("/dev/null", O_RDWR | O_CLOEXEC));
    for (const int target : targets) {
        if (!null_fd.valid() || ::dup2(null_fd.get(), target) < 0) {
            ::close(target);
        }
    }
}

// The daemon may have been started from a root shell: without a new process session and a
// fresh standard input the user's programs could read from, or push commands into, that terminal.
void detach_from_daemon() {
    (void)::setsid();
    point_at_dev_null({STDIN_FILENO});
    mark_inherited_descriptors_close_on_exec();
}

// The daemon ignores SIGPIPE, and whoever started it may have ignored more (a shell's
// background job ignores SIGINT and SIGQUIT); ordinary programs need the defaults.
void reset_signals() {
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (signal_number != SIGKILL && signal_number != SIGSTOP) {
            ::signal(signal_number, SIG_DFL);
        }
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

void redirect_output_to_session_log(const UserInfo& user) {
    const std::string path = session_log_path(user);
    const UniqueFd log_fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, SESSION_LOG_MODE));
    if (!log_fd.valid()) {
        // Never the daemon's own terminal.
        point_at_dev_null({STDOUT_FILENO, STDERR_FILENO});
        return;
    }
    (void)::dup2(log_fd.get(), STDOUT_FILENO);
    (void)::dup2(log_fd.get(), STDERR_FILENO);
}

Result<pid_t> authenticate_and_launch(const std::string& username, const std::string& password,
                                      const std::string& session_kind) {
    log_message(LogLevel::Info, "Attempting login for user '" + username + "'");
    const Result<Ok> auth = authenticate_user(username, password);
    if (!auth.ok()) {
        log_message(LogLevel::Warn,
                    "Authentication failed for '" + username + "': " + auth.error());
        return Err{auth.error()};
    }
    log_message(LogLevel::Info, "Authentication succeeded for user '" + username + "'");

    const bool graphical = is_graphical_kind(session_kind);
    log_message(LogLevel::Info, std::string("Launching ") + session_kind_label(graphical) +
                                    " session for '" + username + "'");
    Result<pid_t> launched = launch_session(username, X_DISPLAY_NAME, graphical);
    if (!launched.ok()) {
        log_message(LogLevel::Error,
                    "Session launch failed for '" + username + "': " + launched.error());
        return Err{"Session launch failed: " + launched.error()};
    }
    log_message(LogLevel::Info, "Session launched with PID " + std::to_string(launched.value()));
    return launched;
}

}  // namespace

bool is_graphical_kind(std::string_view session_kind) {
    return session_kind == "graphical";
}

const char* session_kind_label(bool graphical) {
    return graphical ? "graphical" : "console";
}

std::string runtime_dir_path(uint32_t uid) {
    return "/run/user/" + std::to_string(uid);
}

std::string session_log_path(const UserInfo& user) {
    return user.home + "/session.log";
}

std::string start_script_path(const UserInfo& user) {
    return user.home + "/.xinitrc";
}

std::vector<EnvVar> session_environment(const UserInfo& user) {
    return {
        {"HOME", user.home},
        {"USER", utf8_lossy(user.name)},
        {"SHELL", user.shell},
        {"DISPLAY", X_DISPLAY_NAME},
        {"XAUTHORITY", user_xauthority_path(user.home)},
        {"PATH", SESSION_PATH_VALUE},
        {"XDG_RUNTIME_DIR", runtime_dir_path(user.uid)},
        {"LD_LIBRARY_PATH", SESSION_LD_LIBRARY_PATH},
        {"XKB_CONFIG_ROOT", SESSION_XKB_CONFIG_ROOT},
    };
}

SessionProgram session_program(const UserInfo& user, bool start_script_exists) {
    if (start_script_exists) {
        // Run as the shell's argument, so the script needs no execute permission.
        return {SESSION_SHELL_PATH, {SESSION_SHELL_ARG0, start_script_path(user)}};
    }
    return {FALLBACK_SESSION_PATH, {FALLBACK_SESSION_ARG0}};
}

bool take_user_identity(const UserInfo& user) {
    if (user.name.empty() || ::initgroups(user.name.c_str(), user.gid) != 0 ||
        ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
        return false;
    }
    uid_t ruid = 0, euid = 0, suid = 0;
    gid_t rgid = 0, egid = 0, sgid = 0;
    if (::getresuid(&ruid, &euid, &suid) != 0 || ::getresgid(&rgid, &egid, &sgid) != 0) {
        return false;
    }
    if (ruid != user.uid || euid != user.uid || suid != user.uid || rgid != user.gid ||
        egid != user.gid || sgid != user.gid) {
        return false;
    }
    // The decisive check: a process that can become root again never gave root up.
    return user.uid == 0 || ::setuid(0) != 0;
}

ProcessSettings capture_process_settings() {
    ProcessSettings settings;
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
        settings.have_limit[resource] = ::getrlimit(resource, &settings.limits[resource]) == 0;
    }
    errno = 0;
    settings.priority = ::getpriority(PRIO_PROCESS, 0);
    settings.have_priority = !(settings.priority == -1 && errno != 0);
    settings.umask = ::umask(0);
    ::umask(settings.umask);
    return settings;
}

void restore_process_settings(const ProcessSettings& settings) {
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
        if (!settings.have_limit[resource] ||
            ::setrlimit(resource, &settings.limits[resource]) == 0) {
            continue;
        }
        // Without CAP_SYS_RESOURCE a lowered hard limit stays; get the soft one back at least.
        rlimit now{};
        if (::getrlimit(resource, &now) == 0) {
            now.rlim_cur = std::min(settings.limits[resource].rlim_cur, now.rlim_max);
            (void)::setrlimit(resource, &now);
        }
    }
    if (settings.have_priority) {
        (void)::setpriority(PRIO_PROCESS, 0, settings.priority);
    }
    ::umask(settings.umask);
}

Result<pid_t> attempt_login(const std::string& username, const std::string& password,
                            const std::string& session_kind) {
    if (username.empty()) {
        return Err{"Please enter a username"};
    }
    if (password.empty()) {
        return Err{"Please enter a password"};
    }
    // PAM modules (pam_limits, pam_umask) change the daemon itself; what they set belongs to
    // this user's session only, which the forked child keeps.
    const ProcessSettings daemon_settings = capture_process_settings();
    Result<pid_t> result = authenticate_and_launch(username, password, session_kind);
    restore_process_settings(daemon_settings);
    return result;
}

Result<pid_t> launch_session(const std::string& username, const std::string& display,
                             bool graphical) {
    log_message(LogLevel::Info, "launch_session: user='" + username + "' display='" + display +
                                    "' graphical=" + (graphical ? "true" : "false"));
    const passwd* entry =
        username.find('\0') == std::string::npos ? ::getpwnam(username.c_str()) : nullptr;
    if (entry == nullptr) {
        log_message(LogLevel::Error, "User '" + username + "' not found in /etc/passwd");
        return Err{"User '" + username + "' not found"};
    }
    // The entry lives in the C library's static storage; copy it before anything else runs.
    const UserInfo user{utf8_lossy(entry->pw_dir), utf8_lossy(entry->pw_shell), entry->pw_uid,
                        entry->pw_gid, entry->pw_name};
    log_message(LogLevel::Info, "User '" + username + "': uid=" + std::to_string(user.uid) +
                                    " gid=" + std::to_string(user.gid) + " home='" + user.home +
                                    "' shell='" + user.shell + "'");

    const pid_t pid = ::fork();
    if (pid < 0) {
        log_message(LogLevel::Error, "fork() failed");
        return Err{"fork() failed"};
    }
    if (pid == 0) {
        run_session_child(user, graphical);
        // Never back into the daemon's code: no exit handlers, destructors or shared buffers.
        ::_exit(1);
    }
    log_message(LogLevel::Info, "Session child forked with PID " + std::to_string(pid));
    return pid;
}

void run_session_child(const UserInfo& user, bool graphical) {
    detach_from_daemon();
    // A session program must never start with root rights.
    if (!take_user_identity(user)) {
        ::_exit(1);
    }
    (void)::chdir(user.home.c_str());

    ::clearenv();
    for (const auto& [name, value] : session_environment(user)) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    // Usually a PAM session module made it already; failures leave the session without one.
    const std::string runtime_dir = runtime_dir_path(user.uid);
    (void)::mkdir(runtime_dir.c_str(), RUNTIME_DIR_MODE);
    (void)::chown(runtime_dir.c_str(), user.uid, user.gid);

    if (!graphical) {
        switch_vt();
        ::_exit(0);
    }

    redirect_output_to_session_log(user);
    // The session's clients find the cookie through XAUTHORITY. Without one (an X server started
    // without authorization has none) they connect as the server allows.
    (void)write_user_xauthority(user.home);

    struct stat script_stat {};
    const bool script_exists = ::stat(start_script_path(user).c_str(), &script_stat) == 0;
    const SessionProgram program = session_program(user, script_exists);
    std::vector<char*> argv;
    for (const std::string& arg : program.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    reset_signals();
    ::execv(program.path.c_str(), argv.data());
}
