// The two processes of a session: the root session process that holds the PAM session, and the
// child that becomes the user's session program.
#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <initializer_list>
#include <span>

#include "auth.h"
#include "fd.h"
#include "log.h"
#include "power.h"
#include "runtime_dir.h"
#include "session.h"
#include "signal_defaults.h"
#include "supervise.h"
#include "text.h"
#include "xauth.h"
#include "xserver.h"

namespace {

// The session process takes these as messages, never as its end: it must outlive the session
// program to close the PAM session.
constexpr int WATCHED_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT, SIGCHLD};
// The watched signals that end the session; SIGCHLD also comes from what PAM modules start.
constexpr int TERMINATION_SIGNALS[] = {SIGTERM, SIGHUP, SIGINT};

sigset_t signal_set(std::span<const int> signals) {
    sigset_t set;
    ::sigemptyset(&set);
    for (const int signal_number : signals) {
        ::sigaddset(&set, signal_number);
    }
    return set;
}

sigset_t watched_signal_set() {
    return signal_set(WATCHED_SIGNALS);
}

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

// The daemon ignores SIGPIPE and blocks the X server's signal, and whoever started it may have
// ignored more (a shell's background job ignores SIGINT and SIGQUIT); programs need the defaults.
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

// One line for the daemon's log, through the session process (the child cannot write the log).
void notify(int fd, const std::string& line) {
    if (fd >= 0) {
        (void)write_all(fd, line + "\n");
    }
}

// Used only when it is a regular file: a FIFO there would block the start for ever, a link
// could point anywhere.
void redirect_output_to_session_log(const UserInfo& user, int notice_fd) {
    const std::string path = session_log_path(user);
    UniqueFd log_fd =
        open_regular_file(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW, SESSION_LOG_MODE);
    if (log_fd.valid() && ::ftruncate(log_fd.get(), 0) != 0) {
        log_fd.reset();
    }
    if (!log_fd.valid()) {
        const std::string why = errno == EINVAL ? "not a regular file" : os_error_text(errno);
        notify(notice_fd,
               "Session: cannot use " + path + ": " + why + "; the session's output is discarded");
        // Never the daemon's own terminal.
        point_at_dev_null({STDOUT_FILENO, STDERR_FILENO});
        return;
    }
    (void)::dup2(log_fd.get(), STDOUT_FILENO);
    (void)::dup2(log_fd.get(), STDERR_FILENO);
}

// The session's clients find the cookie through XAUTHORITY: in the home, or where the home
// cannot hold it, in the user's private directory. A server without authorization has none.
void place_cookie(const UserInfo& user, const SessionFallbacks& fallbacks) {
    if (!have_server_cookie()) {
        return;
    }
    const Result<Ok> in_home = write_user_xauthority(user.home);
    if (in_home.ok()) {
        return;
    }
    const std::string why = "Session: " + in_home.error();
    if (fallbacks.private_dir.empty()) {
        notify(fallbacks.notice_fd, why + "; the session has no cookie");
        return;
    }
    const std::string path = private_xauthority_path(fallbacks.private_dir);
    const Result<Ok> in_private = write_private_xauthority(path);
    if (!in_private.ok()) {
        notify(fallbacks.notice_fd,
               why + "; " + in_private.error() + "; the session has no cookie");
        return;
    }
    ::setenv("XAUTHORITY", path.c_str(), 1);
    notify(fallbacks.notice_fd, why + "; the session's cookie is in " + path);
}

// Without a usable runtime directory: a directory of the user's own for this session, made by
// root where nobody else can reach into it; it goes when the session ends.
struct SpareDir {
    std::string path;
    SpareDir() = default;
    SpareDir(const SpareDir&) = delete;
    SpareDir& operator=(const SpareDir&) = delete;
    ~SpareDir() {
        if (path.empty()) {
            return;
        }
        const UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (dir.valid()) {
            (void)::unlinkat(dir.get(), PRIVATE_AUTHORITY_NAME, 0);
        }
        // Anything else the user put there keeps it.
        (void)::rmdir(path.c_str());
    }
};

void make_spare_dir(const UserInfo& user, SpareDir& spare) {
    std::string path = SPARE_DIR_TEMPLATE;
    if (::mkdtemp(path.data()) == nullptr) {
        log_message(LogLevel::Warn,
                    "Session: cannot create a private directory in /tmp: " + os_error_text(errno));
        return;
    }
    spare.path = path;
    const UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid() || ::fchown(dir.get(), user.uid, user.gid) != 0) {
        log_message(LogLevel::Warn,
                    "Session: cannot hand " + path + " to the user: " + os_error_text(errno));
        spare.path.clear();
        (void)::rmdir(path.c_str());
        return;
    }
    log_message(LogLevel::Info, "Session: private directory " + path);
}

// Logs what the session child reports until it has started the session program (the pipe then
// closes); a termination signal stops the wait and stays pending for the caller.
void relay_notices(int notice_fd) {
    const sigset_t termination = signal_set(TERMINATION_SIGNALS);
    const UniqueFd signals(::signalfd(-1, &termination, SFD_CLOEXEC));
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{notice_fd, POLLIN, 0}, {signals.get(), POLLIN, 0}};
        if (retry_on_eintr([&] { return ::poll(fds, signals.valid() ? 2 : 1, -1); }) < 0 ||
            (fds[1].revents & POLLIN) != 0) {
            return;
        }
        char buffer[512];
        const ssize_t got =
            retry_on_eintr([&] { return ::read(notice_fd, buffer, sizeof buffer); });
        if (got <= 0) {
            return;
        }
        pending.append(buffer, static_cast<size_t>(got));
        for (size_t end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
            log_message(LogLevel::Warn, display_text(pending.substr(0, end), 1000));
            pending.erase(0, end + 1);
        }
    }
}

// A report that cannot be written reads as "ended without starting" in the daemon.
void report(int fd, std::string_view text) {
    (void)write_all(fd, text);
    ::close(fd);
}

// Waits for the session program. A termination (the daemon ending the session, or the daemon's
// own death) is passed on to the session's process group; whatever has not ended after the
// grace time is killed.
int wait_for_session_program(pid_t child) {
    const sigset_t set = watched_signal_set();
    bool ending = false;
    timespec grace_end{};
    for (;;) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) {
            return status;
        }
        siginfo_t info{};
        int received = 0;
        if (ending) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const long left_ms = (grace_end.tv_sec - now.tv_sec) * 1000 +
                                 (grace_end.tv_nsec - now.tv_nsec) / 1'000'000;
            if (left_ms <= 0) {
                ::kill(child, SIGKILL);
                (void)::waitpid(child, &status, 0);
                return status;
            }
            const timespec wait{left_ms / 1000, (left_ms % 1000) * 1'000'000};
            received = ::sigtimedwait(&set, &info, &wait);
        } else {
            received = ::sigwaitinfo(&set, &info);
        }
        if (received > 0 && received != SIGCHLD && !ending) {
            ending = true;
            ::clock_gettime(CLOCK_MONOTONIC, &grace_end);
            grace_end.tv_sec += SESSION_END_GRACE_MS / 1000;
            // The group is this process's own: the signal it gets back is taken as a message.
            ::kill(0, SIGTERM);
        }
    }
}

}  // namespace

void detach_from_daemon() {
    (void)::setsid();
    point_at_dev_null({STDIN_FILENO});
}

int run_session_process(PamClient& client, const UserInfo& user, bool graphical, int report_fd,
                        const DesktopSession* desktop) {
    detach_from_daemon();
    const sigset_t set = watched_signal_set();
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    // When the daemon dies (its service stopped), the session ends with it.
    const pid_t daemon = ::getppid();
    (void)::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != daemon) {
        ::raise(SIGTERM);
    }

    // As logind itself decides whether seat0 has terminals.
    const bool seat_has_terminals = ::access(TTY0_PATH, F_OK) == 0;
    const Result<Ok, PamFailure> opened = [&] {
        // What the modules start (a keyring daemon) must not inherit this process's signals.
        const DefaultSignals defaults(TERMINATION_SIGNALS);
        return open_pam_session(
            client,
            session_pam_items(seat_has_terminals ? std::optional<int>(X_SERVER_VT) : std::nullopt,
                              desktop));
    }();
    if (!opened.ok()) {
        const PamFailure& failure = opened.error();
        report(report_fd, failure_report('P', ScreenText{failure.logged, failure.shown}));
        return 1;
    }
    forget_password(client);
    const auto close_session = [&] {
        const DefaultSignals defaults(TERMINATION_SIGNALS);
        release_pam_client(client);
    };
    if (!graphical) {
        report(report_fd, "0");
        switch_vt();
        close_session();
        return 0;
    }
    const RuntimeDir runtime_dir = prepare_runtime_dir(user);
    const bool with_runtime_dir = runtime_dir.usable;
    SpareDir spare;
    if (!with_runtime_dir) {
        make_spare_dir(user, spare);
    }
    SessionFallbacks fallbacks{with_runtime_dir ? runtime_dir_path(user.uid) : spare.path};
    const std::vector<EnvVar> environment =
        session_environment(user, pam_environment(client), with_runtime_dir);
    int notices[2] = {-1, -1};
    if (::pipe2(notices, O_CLOEXEC) != 0) {
        notices[0] = notices[1] = -1;
    }
    const UniqueFd notice_reader(notices[0]);
    UniqueFd notice_writer(notices[1]);
    const pid_t child = ::fork();
    if (child < 0) {
        log_message(LogLevel::Error, "fork() failed");
        report(report_fd, failure_report('S', screen_text(N_("fork() failed"))));
        close_session();
        if (runtime_dir.made) {
            remove_runtime_dir(user);
        }
        return 1;
    }
    if (child == 0) {
        ::close(report_fd);
        fallbacks.notice_fd = notice_writer.get();
        run_session_child(user, environment, fallbacks, desktop);
        ::_exit(1);
    }
    notice_writer.reset();
    report(report_fd, "0");
    if (notice_reader.valid()) {
        relay_notices(notice_reader.get());
    }
    const int status = wait_for_session_program(child);
    close_session();
    // Only one session of this daemon runs at a time: the directory it made is nobody else's.
    if (runtime_dir.made) {
        remove_runtime_dir(user);
    }
    return exit_code_from_status(status);
}

void run_session_child(const UserInfo& user, const std::vector<EnvVar>& environment,
                       const SessionFallbacks& fallbacks, const DesktopSession* desktop) {
    mark_inherited_descriptors_close_on_exec();
    // A session program must never start with root rights.
    if (!take_user_identity(user)) {
        ::_exit(1);
    }
    // Without its home the session starts at the root, never in the session process's directory.
    if (::chdir(user.home.c_str()) != 0) {
        (void)::chdir("/");
    }

    ::clearenv();
    for (const auto& [name, value] : environment) {
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    redirect_output_to_session_log(user, fallbacks.notice_fd);
    place_cookie(user, fallbacks);

    struct stat script_stat {};
    const bool script_exists = ::stat(start_script_path(user).c_str(), &script_stat) == 0;
    const SessionProgram program = session_program(user, script_exists, desktop);
    std::vector<char*> argv;
    for (const std::string& arg : program.argv) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    reset_signals();
    ::execv(program.path.c_str(), argv.data());
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
