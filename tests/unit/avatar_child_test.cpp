#include "avatar_child.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

#include "avatar.h"
#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

int exited(int code) {
    return code << 8;
}

TEST(AvatarChild, WhatCountsAsAFault) {
    const size_t n = 36864;
    const struct {
        int status;
        size_t bytes;
        bool timed_out;
        const char* fault;  // null: no fault
    } cases[] = {
        {exited(0), n, false, nullptr},
        {exited(AVATAR_CHILD_NO_PICTURE), 0, false, nullptr},
        {SIGSEGV, 0, false, "the decoder was killed by signal 11"},
        {SIGKILL, 100, true, "no answer within 2000 ms"},
        {SIGKILL, n + 1, false, "more than 36864 bytes"},
        {exited(0), n - 1, false, "the decoder ended with status 0 after 36863 of 36864 bytes"},
        {exited(AVATAR_CHILD_NO_PICTURE), 5, false,
         "the decoder ended with status 3 after 5 of 36864 bytes"},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> fault = avatar_child_fault(c.status, c.bytes, n, c.timed_out);
        EXPECT_EQ(fault.value_or("(none)"), c.fault != nullptr ? c.fault : "(none)");
    }
}

TEST(AvatarChild, GivesWhatTheDaemonWouldHaveDecoded) {
    TempDir dir;
    img::Picture picture{50, 30, PixelType::Rgb8, {}};
    for (uint32_t i = 0; i < 50 * 30 * 3; ++i) {
        picture.samples.push_back(static_cast<uint8_t>(i * 7));
    }
    write_png(dir.file("avatar.png"), picture);
    ASSERT_EQ(::mkfifo(dir.file(".face").c_str(), 0600), 0);
    const std::string candidates[] = {dir.file(".face"), dir.file("avatar.png")};

    std::vector<UniqueFd> files;
    files.emplace_back(::open(candidates[1].c_str(), O_RDONLY | O_CLOEXEC));
    const std::optional<BgraBuffer> here =
        decode_first_avatar(files, std::span(candidates).subspan(1), AVATAR_SIZE);
    ASSERT_TRUE(here.has_value());

    const passwd* me = ::getpwuid(::geteuid());
    ASSERT_NE(me, nullptr);
    const UserInfo user{dir.path.string(), "/bin/sh", me->pw_uid, me->pw_gid, me->pw_name};
    const std::optional<BgraBuffer> there = decode_avatar_in_child(user, candidates, AVATAR_SIZE);
    ASSERT_TRUE(there.has_value());
    EXPECT_EQ(*there, *here);
    EXPECT_FALSE(decode_avatar_in_child(user, std::span(candidates).first(1), AVATAR_SIZE));
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "no child is left behind";
}

TEST(AvatarChild, ForksOnlyWithoutOtherThreads) {
    EXPECT_TRUE(is_single_threaded());
    std::thread other([] { ::usleep(100'000); });
    EXPECT_FALSE(is_single_threaded());
    other.join();
    EXPECT_TRUE(is_single_threaded());
}

}  // namespace
