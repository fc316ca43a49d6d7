// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "x_names.h"
#include "xserver.h"

#include <optional>
#include <string>
#include <vector>

TEST(XserverArguments, OnDisplayZeroOrOnAFreeOne) {
    const std::vector<std::string> on_zero = {
        "Xorg", ":0", "vt1", "-nolisten", "tcp", "-auth", "/run/vesko/xauth"};
    EXPECT_EQ(on_zero, x_server_arguments("/run/vesko/xauth"));
    const std::vector<std::string> free_one = {
        "Xorg", "vt1", "-nolisten", "tcp", "-auth", "/proc/self/fd/5", "-displayfd", "7"};
    EXPECT_EQ(free_one, x_server_arguments("/proc/self/fd/5", 7));
}

TEST(XserverNumbers, DisplayFdAndLockFile) {
    struct Case {
        const char* text;
        std::optional<int> display;
        std::optional<pid_t> lock_pid;
    };
    const Case cases[] = {
        {"1\n", 1, 1},
        {"12", 12, 12},
        {"      4242\n", std::nullopt, 4242},  // the server's lock format
        {"", std::nullopt, std::nullopt},
        {"\n", std::nullopt, std::nullopt},
        {"-1\n", std::nullopt, std::nullopt},
        {"0\n", 0, std::nullopt},
        {"1x\n", std::nullopt, std::nullopt},
        {"1\n\n", std::nullopt, std::nullopt},
        {"99999999999\n", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.display, parse_display_number(c.text)) << c.text;
        EXPECT_EQ(c.lock_pid, parse_lock_pid(c.text)) << c.text;
    }
    EXPECT_EQ("/tmp/.X1-lock", x_lock_path(1));
    EXPECT_EQ("/tmp/.X11-unix/X1", x_socket_path(1));
}
