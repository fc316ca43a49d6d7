// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "xserver.h"

#include <string>
#include <vector>

TEST(XserverArguments, PlainAndWithAuthority) {
    const std::vector<std::string> plain = {"Xorg", ":0", "vt1", "-nolisten", "tcp"};
    EXPECT_EQ(plain, x_server_arguments(nullptr));
    const std::vector<std::string> with_auth = {
        "Xorg", ":0", "vt1", "-nolisten", "tcp", "-auth", "/run/vesko/xauth"};
    EXPECT_EQ(with_auth, x_server_arguments("/run/vesko/xauth"));
}
