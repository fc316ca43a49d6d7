#include "signal_defaults.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr int HELD[] = {SIGTERM, SIGHUP, SIGINT};

// The "SigBlk" and "SigIgn" lines of a program exec'd meanwhile, read through a pipe.
std::string started_program_signals() {
    int out[2];
    if (::pipe(out) != 0) {
        return "no pipe";
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::execl("/bin/grep", "grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status", nullptr);
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(out[0]);
    ::waitpid(pid, nullptr, 0);
    return text;
}

// Runs in a forked child, which sets up a session process's signals: 0 when all held.
int check_scope() {
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    ::sigemptyset(&blocked);
    for (const int s : {SIGTERM, SIGHUP, SIGINT, SIGCHLD, SIGUSR1}) {
        ::sigaddset(&blocked, s);
    }
    ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
    {
        const DefaultSignals defaults(HELD);
        if (started_program_signals() != "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n") {
            return 1;
        }
        // Held for later, and swallowed: neither ends this process now.
        ::raise(SIGTERM);
        ::raise(SIGUSR1);
        ::raise(SIGPIPE);
    }
    sigset_t mask;
    sigset_t pending;
    ::sigprocmask(SIG_SETMASK, nullptr, &mask);
    ::sigpending(&pending);
    if (::sigismember(&mask, SIGTERM) != 1 || ::sigismember(&mask, SIGUSR1) != 1 ||
        ::sigismember(&mask, SIGQUIT) != 0) {
        return 2;
    }
    if (::sigismember(&pending, SIGTERM) != 1 || ::sigismember(&pending, SIGUSR1) != 0 ||
        ::sigismember(&pending, SIGHUP) != 0) {
        return 3;
    }
    struct sigaction pipe_action {};
    struct sigaction term_action {};
    ::sigaction(SIGPIPE, nullptr, &pipe_action);
    ::sigaction(SIGTERM, nullptr, &term_action);
    if (pipe_action.sa_handler != SIG_IGN || term_action.sa_handler != SIG_DFL) {
        return 4;
    }
    return 0;
}

}  // namespace

TEST(DefaultSignals, ProgramsStartedMeanwhileGetTheDefaultsAndTerminationWaits) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(check_scope());
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
