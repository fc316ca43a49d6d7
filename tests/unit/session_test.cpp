#include "session.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_file(const std::string& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, separator)) {
        parts.push_back(part);
    }
    return parts;
}

// Runs `body` in a forked child and returns its wait status.
template <typename Body>
int status_of_child(Body body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        body();
        ::_exit(111);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return status;
}

int exit_status(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

// The account every Linux system has, used where a real identity change is needed.
struct Nobody {
    UserInfo user;
    bool found = false;
};

Nobody nobody_with_home(const std::string& home) {
    Nobody result;
    const passwd* entry = ::getpwnam("nobody");
    if (entry == nullptr) {
        return result;
    }
    result.user = UserInfo{home, "/bin/sh", entry->pw_uid, entry->pw_gid, entry->pw_name};
    result.found = true;
    return result;
}

// A home directory the test user owns; removed with everything in it.
struct SessionHome {
    std::string path;
    explicit SessionHome(const UserInfo* owner = nullptr) {
        char pattern[] = "/tmp/session_test.XXXXXX";
        path = ::mkdtemp(pattern);
        if (owner != nullptr) {
            (void)::chown(path.c_str(), owner->uid, owner->gid);
        }
    }
    ~SessionHome() { std::system(("rm -rf '" + path + "'").c_str()); }
};

bool running_as_root() {
    return ::geteuid() == 0;
}

}  // namespace

// The session process's report of a session that did not start: both forms of its text.
TEST(SessionReport, CarriesTheEnglishAndTheShownText) {
    const LaunchFailure pam = read_failure_report(
        failure_report('P', ScreenText{"Session open failed: Session_Err (14)", "Sitzung"}));
    EXPECT_TRUE(pam.from_pam);
    EXPECT_EQ(pam.text.english, "Session open failed: Session_Err (14)");
    EXPECT_EQ(pam.text.shown, "Sitzung");
    const LaunchFailure other = read_failure_report("Sfork() failed");
    EXPECT_FALSE(other.from_pam);
    EXPECT_EQ(other.text.english, "fork() failed");
    EXPECT_EQ(other.text.shown, "fork() failed");
}

TEST(SessionPaths, FollowTheUserRecord) {
    const UserInfo user{"/home/alice", "/bin/bash", 1000, 1000, "alice"};
    EXPECT_EQ(runtime_dir_path(1000), "/run/user/1000");
    EXPECT_EQ(runtime_dir_path(0), "/run/user/0");
    EXPECT_EQ(runtime_dir_path(4294967294u), "/run/user/4294967294");
    EXPECT_EQ(session_log_path(user), "/home/alice/session.log");
    EXPECT_EQ(start_script_path(user), "/home/alice/.xinitrc");
}

TEST(SessionEnvironment, TheFixedVariablesInOrderWithoutLdLibraryPath) {
    const UserInfo user{"/home/alice", "/bin/bash", 1001, 100, "alice"};
    const std::vector<EnvVar> expected = {
        {"HOME", "/home/alice"},
        {"USER", "alice"},
        {"SHELL", "/bin/bash"},
        {"DISPLAY", ":0"},
        {"XAUTHORITY", "/home/alice/.Xauthority"},
        {"PATH", "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"},
        {"XDG_RUNTIME_DIR", "/run/user/1001"},
        {"XKB_CONFIG_ROOT", "/usr/share/X11/xkb"},
    };
    EXPECT_EQ(session_environment(user, {}, true), expected);
}

TEST(SessionEnvironment, PamVariablesFollowTheFixedOnesWhichWin) {
    const UserInfo user{"/home/alice", "/bin/bash", 1001, 100, "alice"};
    const std::vector<EnvVar> pam = {
        {"XDG_SESSION_ID", "c7"},        {"HOME", "/elsewhere"}, {"LANG", "de_DE.UTF-8"},
        {"XDG_RUNTIME_DIR", "/tmp"},     {"LANG", "C"},          {"PATH", "/opt/bin"},
        {"LD_LIBRARY_PATH", "/opt/lib"},
    };
    std::vector<EnvVar> expected = session_environment(user, {}, true);
    // The session sets no LD_LIBRARY_PATH of its own; one from PAM passes as any other.
    expected.insert(
        expected.end(),
        {{"XDG_SESSION_ID", "c7"}, {"LANG", "de_DE.UTF-8"}, {"LD_LIBRARY_PATH", "/opt/lib"}});
    EXPECT_EQ(session_environment(user, pam, true), expected);

    // Without a usable runtime directory neither the fixed value nor PAM's is given.
    std::erase_if(expected, [](const EnvVar& v) { return v.first == "XDG_RUNTIME_DIR"; });
    EXPECT_EQ(session_environment(user, pam, false), expected);
}

TEST(SessionRuntimeDir, OnlyTheUsersOwnPrivateDirectory) {
    const auto info = [](mode_t mode, uid_t owner) {
        struct stat st {};
        st.st_mode = mode;
        st.st_uid = owner;
        return st;
    };
    const struct {
        struct stat st;
        std::optional<std::string> problem;
    } cases[] = {
        {info(S_IFDIR | 0700, 1001), std::nullopt},
        {info(S_IFLNK | 0777, 1001), "it is a symbolic link"},
        {info(S_IFREG | 0700, 1001), "it is not a directory"},
        {info(S_IFDIR | 0700, 1002), "it belongs to uid 1002"},
        {info(S_IFDIR | 0700, 0), "it belongs to uid 0"},
        {info(S_IFDIR | 0755, 1001), "its mode is 0755"},
        {info(S_IFDIR | 01700, 1001), "its mode is 1700"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(runtime_dir_problem(c.st, 1001), c.problem) << c.st.st_mode;
    }
}

TEST(SessionShells, ListedShellsOnly) {
    const std::string shells =
        "# /etc/shells: valid login shells\n/bin/sh\n/bin/bash \n\n/usr/bin/zsh";
    EXPECT_TRUE(is_login_shell(shells, "/bin/sh"));
    EXPECT_TRUE(is_login_shell(shells, "/bin/bash"));
    EXPECT_TRUE(is_login_shell(shells, "/usr/bin/zsh"));
    EXPECT_FALSE(is_login_shell(shells, "/usr/sbin/nologin"));
    EXPECT_FALSE(is_login_shell(shells, "/bin/ba"));
    EXPECT_FALSE(is_login_shell(shells, ""));
    EXPECT_FALSE(is_login_shell(shells, "# /etc/shells: valid login shells"));
    EXPECT_FALSE(is_login_shell("", "/bin/sh"));
}

TEST(SessionEnvironment, UserComesFromTheCarriedNameWithInvalidBytesReplaced) {
    // Two accounts share ID 1000; the one who logged in is "bob", whatever getpwuid would say.
    const UserInfo bob{"/home/bob", "/bin/sh", 1000, 1000, "bob"};
    EXPECT_EQ(session_environment(bob, {}, true)[1], EnvVar("USER", "bob"));

    const UserInfo latin1{"/home/j\xf6rg", "/bin/sh", 1002, 1002, "j\xf6rg"};
    EXPECT_EQ(session_environment(latin1, {}, true)[1], EnvVar("USER", "j\xef\xbf\xbdrg"));
}

TEST(SessionProgramChoice, ScriptThroughShellElseOpenbox) {
    const UserInfo user{"/home/alice", "/bin/zsh", 1000, 1000, "alice"};
    const SessionProgram script = session_program(user, true);
    EXPECT_EQ(script.path, "/bin/sh");
    EXPECT_EQ(script.argv, (std::vector<std::string>{"sh", "/home/alice/.xinitrc"}));

    const SessionProgram fallback = session_program(user, false);
    EXPECT_EQ(fallback.path, "/usr/bin/openbox");
    EXPECT_EQ(fallback.argv, (std::vector<std::string>{"openbox"}));

    const DesktopSession xfce{"xfce", "Xfce Session", "startxfce4 --with-arg", "XFCE"};
    const SessionProgram chosen = session_program(user, true, &xfce);
    EXPECT_EQ(chosen.path, "/bin/sh");
    EXPECT_EQ(chosen.argv, (std::vector<std::string>{"sh", "-c", "exec startxfce4 --with-arg"}));
}

TEST(SessionIdentity, TakesTheUserIdentityForGood) {
    if (!running_as_root()) {
        GTEST_SKIP() << "needs root";
    }
    const Nobody nobody = nobody_with_home("/");
    ASSERT_TRUE(nobody.found);
    const UserInfo user = nobody.user;
    const int status = status_of_child([&] {
        if (!take_user_identity(user)) {
            ::_exit(10);
        }
        uid_t r = 0, e = 0, s = 0;
        gid_t rg = 0, eg = 0, sg = 0;
        ::getresuid(&r, &e, &s);
        ::getresgid(&rg, &eg, &sg);
        if (r != user.uid || e != user.uid || s != user.uid) {
            ::_exit(11);
        }
        if (rg != user.gid || eg != user.gid || sg != user.gid) {
            ::_exit(12);
        }
        if (::setuid(0) == 0 || ::seteuid(0) == 0 || ::setgid(0) == 0) {
            ::_exit(13);
        }
        // initgroups gave the groups of the name carried in the record, root's are gone.
        gid_t groups[256];
        const int count = ::getgroups(256, groups);
        if (count < 1 || std::find(groups, groups + count, 0u) != groups + count ||
            std::find(groups, groups + count, user.gid) == groups + count) {
            ::_exit(14);
        }
        ::_exit(0);
    });
    EXPECT_EQ(exit_status(status), 0);
}

TEST(SessionIdentity, RefusesWhatCannotBeTaken) {
    if (!running_as_root()) {
        GTEST_SKIP() << "needs root";
    }
    const UserInfo cases[] = {
        {"/", "/bin/sh", static_cast<uint32_t>(-1), 65534, "nobody"},  // setuid fails
        {"/", "/bin/sh", 65534, static_cast<uint32_t>(-1), "nobody"},  // setgid fails
        {"/", "/bin/sh", 65534, 65534, ""},                            // no name for initgroups
    };
    for (const UserInfo& user : cases) {
        const int status = status_of_child([&] {
            const bool taken = take_user_identity(user);
            ::_exit(taken ? 20 : (::geteuid() == 0 ? 21 : 22));
        });
        EXPECT_EQ(exit_status(status), 21) << "uid " << user.uid << " gid " << user.gid;
    }
}

TEST(SessionProcessSettings, RestoreUndoesLimitsPriorityAndUmask) {
    const int status = status_of_child([] {
        ::umask(022);
        const ProcessSettings saved = capture_process_settings();
        if (!saved.have_priority) {
            ::_exit(30);
        }
        // What pam_limits and pam_umask would do for a user.
        for (const int resource : {RLIMIT_NOFILE, RLIMIT_NPROC, RLIMIT_CORE}) {
            const rlimit lower{std::min<rlim_t>(8, saved.limits[resource].rlim_max),
                               saved.limits[resource].rlim_max};
            if (::setrlimit(resource, &lower) != 0) {
                ::_exit(31);
            }
        }
        ::setpriority(PRIO_PROCESS, 0, saved.priority + 5);
        ::umask(077);

        restore_process_settings(saved);

        for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
            rlimit now{};
            ::getrlimit(resource, &now);
            if (now.rlim_cur != saved.limits[resource].rlim_cur ||
                now.rlim_max != saved.limits[resource].rlim_max) {
                ::_exit(32);
            }
        }
        errno = 0;
        if (::getpriority(PRIO_PROCESS, 0) != saved.priority) {
            ::_exit(::geteuid() == 0 ? 33 : 0);
        }
        if (::umask(0) != 022 || saved.umask != 022) {
            ::_exit(34);
        }
        ::_exit(0);
    });
    EXPECT_EQ(exit_status(status), 0);
}

TEST(SessionProcessSettings, LoweredHardLimitsComeBackWhereThePrivilegeAllows) {
    const int status = status_of_child([] {
        const ProcessSettings saved = capture_process_settings();
        const rlimit original = saved.limits[RLIMIT_NOFILE];
        const rlimit lowered{64, 64};
        if (::setrlimit(RLIMIT_NOFILE, &lowered) != 0) {
            ::_exit(40);
        }
        // Whether this process may raise a hard limit again (CAP_SYS_RESOURCE).
        const rlimit probe{64, 65};
        const bool may_raise = ::setrlimit(RLIMIT_NOFILE, &probe) == 0;
        ::setrlimit(RLIMIT_NOFILE, &lowered);

        restore_process_settings(saved);

        rlimit now{};
        ::getrlimit(RLIMIT_NOFILE, &now);
        if (may_raise) {
            ::_exit(now.rlim_cur == original.rlim_cur && now.rlim_max == original.rlim_max ? 0
                                                                                           : 41);
        }
        // The soft limit goes as high as the remaining hard limit allows.
        ::_exit(now.rlim_cur == 64 && now.rlim_max == 64 ? 0 : 42);
    });
    EXPECT_EQ(exit_status(status), 0);
}

TEST(SessionProcessSettings, CapturesEveryLimit) {
    const ProcessSettings settings = capture_process_settings();
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
        rlimit now{};
        ASSERT_EQ(::getrlimit(resource, &now), 0);
        EXPECT_TRUE(settings.have_limit[resource]) << resource;
        EXPECT_EQ(settings.limits[resource].rlim_cur, now.rlim_cur) << resource;
        EXPECT_EQ(settings.limits[resource].rlim_max, now.rlim_max) << resource;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(settings.umask, mask);
}

// The child half of a login without PAM and X: a real identity change, environment, session
// log and start script, observed through what the script records.
class SessionChild : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!running_as_root()) {
            GTEST_SKIP() << "needs root";
        }
        const Nobody probe = nobody_with_home("");
        ASSERT_TRUE(probe.found);
        home_ = std::make_unique<SessionHome>(&probe.user);
        user_ = nobody_with_home(home_->path).user;
    }

    // Runs the session child, detached as the session process detaches, with ignored and
    // blocked signals, descriptors without close-on-exec, a standard input that is not
    // /dev/null and a given standard error.
    int run_child(const std::string& stderr_path = "/dev/null") {
        return status_of_child([&] {
            ::signal(SIGPIPE, SIG_IGN);
            ::signal(SIGINT, SIG_IGN);
            ::signal(SIGHUP, SIG_IGN);
            sigset_t blocked;
            ::sigemptyset(&blocked);
            ::sigaddset(&blocked, SIGUSR1);
            ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
            // Stands in for the terminal the daemon may have been started from.
            ::dup2(::open("/dev/zero", O_RDONLY), STDIN_FILENO);
            const int err = ::open(stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, STDERR_FILENO);
            detach_from_daemon();
            run_session_child(user_, session_environment(user_, {}, true));
        });
    }

    std::string home() const { return home_->path; }

    UserInfo user_;
    std::unique_ptr<SessionHome> home_;
};

TEST_F(SessionChild, StartScriptRunsAsTheUserWithTheFixedEnvironment) {
    write_file(home() + "/.xinitrc",
               "id -u > \"$HOME/id.out\"; id -g >> \"$HOME/id.out\"\n"
               "cat /proc/$$/environ > \"$HOME/environ.out\"\n"
               "pwd > \"$HOME/cwd.out\"\n"
               "find /proc/$$/fd -mindepth 1 -fprintf \"$HOME/fds.out\" '%f %l\\n'\n"
               "cut -d' ' -f6,7 /proc/$$/stat > \"$HOME/session.out\"; echo $$ >> "
               "\"$HOME/session.out\"\n"
               "grep '^Sig[IB][gl][nk]:' /proc/self/status > \"$HOME/sigign.out\"\n"
               "yes 2> \"$HOME/pipe.err\" | head -n1 > \"$HOME/pipe.out\"\n"
               "echo to-stdout; echo to-stderr >&2\n"
               "exit 3\n",
               0644);  // no execute permission: run through the shell
    write_file(home() + "/session.log", "left over from the last session\n", 0644);
    ::chown((home() + "/session.log").c_str(), user_.uid, user_.gid);
    const std::string stderr_path = home() + "/daemon-stderr";

    EXPECT_EQ(exit_status(run_child(stderr_path)), 3);

    EXPECT_EQ(read_file(home() + "/id.out"),
              std::to_string(user_.uid) + "\n" + std::to_string(user_.gid) + "\n");
    const std::vector<std::string> environ_vars = split(read_file(home() + "/environ.out"), '\0');
    const std::vector<std::string> expected_vars = {
        "HOME=" + home(),
        "USER=nobody",
        "SHELL=/bin/sh",
        "DISPLAY=:0",
        "XAUTHORITY=" + home() + "/.Xauthority",
        "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
        "XDG_RUNTIME_DIR=/run/user/" + std::to_string(user_.uid),
        "XKB_CONFIG_ROOT=/usr/share/X11/xkb",
    };
    EXPECT_EQ(environ_vars, expected_vars);
    EXPECT_EQ(read_file(home() + "/cwd.out"), home() + "\n");

    // Only the standard descriptors (and the shell's own hold on its script).
    std::vector<std::string> fds = split(read_file(home() + "/fds.out"), '\n');
    std::sort(fds.begin(), fds.end(), [](const std::string& a, const std::string& b) {
        return std::stoi(a) < std::stoi(b);
    });
    ASSERT_GE(fds.size(), 3u);
    EXPECT_EQ(fds[0], "0 /dev/null");
    EXPECT_EQ(fds[1], "1 " + home() + "/session.log");
    EXPECT_EQ(fds[2], "2 " + home() + "/session.log");
    for (size_t i = 3; i < fds.size(); ++i) {
        EXPECT_EQ(fds[i].substr(fds[i].find(' ')), " " + home() + "/.xinitrc") << fds[i];
    }

    // Its own process session, without a controlling terminal.
    const std::vector<std::string> session = split(read_file(home() + "/session.out"), '\n');
    ASSERT_EQ(session.size(), 2u);
    EXPECT_EQ(session[0], session[1] + " 0");

    EXPECT_EQ(read_file(home() + "/sigign.out"),
              "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
    EXPECT_EQ(read_file(home() + "/pipe.out"), "y\n");
    EXPECT_EQ(read_file(home() + "/pipe.err"), "");

    // Output went to a truncated session log, none of it to the daemon's standard error.
    EXPECT_EQ(read_file(home() + "/session.log"), "to-stdout\nto-stderr\n");
    EXPECT_EQ(read_file(stderr_path), "");
    struct stat log_stat {};
    ASSERT_EQ(::stat((home() + "/session.log").c_str(), &log_stat), 0);
    EXPECT_EQ(log_stat.st_uid, user_.uid);
    EXPECT_EQ(log_stat.st_mode & 0777, 0644u) << "an existing log keeps its mode";
}

TEST_F(SessionChild, NewSessionLogIsCreatedWithMode0600) {
    write_file(home() + "/.xinitrc", "echo hello\n", 0600);
    ::chown((home() + "/.xinitrc").c_str(), user_.uid, user_.gid);
    const mode_t old_mask = ::umask(022);
    const int status = run_child();
    ::umask(old_mask);
    EXPECT_EQ(exit_status(status), 0);
    struct stat log_stat {};
    ASSERT_EQ(::stat((home() + "/session.log").c_str(), &log_stat), 0);
    EXPECT_EQ(log_stat.st_mode & 0777, 0600u);
    EXPECT_EQ(read_file(home() + "/session.log"), "hello\n");
}

TEST_F(SessionChild, ExitStatusOfTheScriptIsTheChildStatus) {
    for (const int code : {0, 1, 255}) {
        write_file(home() + "/.xinitrc", "exit " + std::to_string(code) + "\n", 0644);
        EXPECT_EQ(exit_status(run_child()), code);
    }
    write_file(home() + "/.xinitrc", "kill -TERM $$\n", 0644);
    EXPECT_EQ(exit_status(run_child()), -SIGTERM);
}

TEST_F(SessionChild, DirectoryNamedStartScriptIsHandedToTheShell) {
    ASSERT_EQ(::mkdir((home() + "/.xinitrc").c_str(), 0755), 0);
    const int shell_status = std::system(("/bin/sh " + home() + "/.xinitrc 2>/dev/null").c_str());
    EXPECT_EQ(exit_status(run_child()), exit_status(shell_status));
}

TEST_F(SessionChild, UnwritableHomeSendsOutputToDevNullNotTheDaemon) {
    write_file(home() + "/.xinitrc", "echo to-stdout; echo to-stderr >&2; exit 4\n", 0644);
    ::chown(home().c_str(), 0, 0);
    ::chmod(home().c_str(), 0755);
    const std::string stderr_path = home() + "/daemon-stderr";
    EXPECT_EQ(exit_status(run_child(stderr_path)), 4);
    EXPECT_EQ(read_file(stderr_path), "");
    EXPECT_NE(::access((home() + "/session.log").c_str(), F_OK), 0);
}

TEST_F(SessionChild, RootOnlyScriptIsNotRunWithRootRights) {
    // Proof that the identity changed before the script was read: root may read it, nobody not.
    write_file(home() + "/.xinitrc", "exit 0\n", 0600);
    ::chown((home() + "/.xinitrc").c_str(), 0, 0);
    EXPECT_NE(exit_status(run_child()), 0);
}

TEST_F(SessionChild, ImpossibleIdentityEndsTheChildWithStatus1) {
    write_file(home() + "/.xinitrc", "touch \"$HOME/ran\"\n", 0644);
    user_.uid = static_cast<uint32_t>(-1);
    EXPECT_EQ(exit_status(run_child()), 1);
    EXPECT_NE(::access((home() + "/ran").c_str(), F_OK), 0);
    EXPECT_NE(::access((home() + "/session.log").c_str(), F_OK), 0);
}
