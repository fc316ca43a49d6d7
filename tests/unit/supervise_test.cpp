#include "supervise.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// The status the kernel reports for a real child that ends the given way.
int real_status(int exit_status, int signal_number) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (signal_number != 0) {
            ::signal(signal_number, SIG_DFL);
            ::raise(signal_number);
            ::pause();
        }
        ::_exit(exit_status);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return status;
}

}  // namespace

TEST(SuperviseExitCode, ConstructedStatuses) {
    struct Case {
        int status;
        int code;
    };
    const Case cases[] = {
        {0, 0},               // waitpid failed and left the status at 0
        {0x0300, 3},          // exit(3)
        {0xff00, 255},        // exit(255)
        {0x0100, 1},          // exit(1)
        {SIGKILL, 1},         // killed
        {SIGTERM, 1},         // terminated
        {SIGSEGV | 0x80, 1},  // core dumped
        {0x137f, 1},          // stopped by SIGSTOP: not a normal exit
        {0xffff, 1},          // continued
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exit_code_from_status(c.status), c.code) << "status " << c.status;
    }
}

TEST(SuperviseExitCode, StatusesOfRealChildren) {
    struct Case {
        int exit_status;
        int signal_number;
        int code;
    };
    const Case cases[] = {
        {0, 0, 0},       {3, 0, 3},       {255, 0, 255},  {1, 0, 1},
        {0, SIGKILL, 1}, {0, SIGTERM, 1}, {0, SIGINT, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(exit_code_from_status(real_status(c.exit_status, c.signal_number)), c.code)
            << "exit " << c.exit_status << " signal " << c.signal_number;
    }
}
