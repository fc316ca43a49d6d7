#include "avatar_child.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <thread>

#include <gtest/gtest.h>

#include "avatar.h"
#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

TEST(AvatarChild, GivesWhatTheDaemonWouldHaveDecodedAndNothingElse) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer keeps a thread of its own; the child is forked from one";
#endif
    TempDir dir;
    img::Picture picture{50, 30, PixelType::Rgb8, std::vector<uint8_t>(50 * 30 * 3)};
    for (size_t i = 0; i < picture.samples.size(); ++i) {
        picture.samples[i] = static_cast<uint8_t>(i * 7);
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
    EXPECT_EQ(decode_avatar_in_child(user, candidates, AVATAR_SIZE), here);
    EXPECT_FALSE(decode_avatar_in_child(user, std::span(candidates).first(1), AVATAR_SIZE));
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "no child is left behind";
}

TEST(AvatarChild, FaultsAndThreads) {
    const size_t n = 36864;
    EXPECT_EQ(avatar_child_fault(0, n, n, false), std::nullopt);
    EXPECT_EQ(avatar_child_fault(AVATAR_CHILD_NO_PICTURE << 8, 0, n, false), std::nullopt);
    EXPECT_EQ(avatar_child_fault(SIGSEGV, 0, n, false), "the decoder was killed by signal 11");
    EXPECT_EQ(avatar_child_fault(SIGKILL, n + 1, n, false), "more than 36864 bytes");
    EXPECT_EQ(avatar_child_fault(0, n - 1, n, false),
              "the decoder ended with status 0 after 36863 of 36864 bytes");
    EXPECT_TRUE(is_single_threaded());
    std::thread other([] { ::usleep(100'000); });
    EXPECT_FALSE(is_single_threaded());
    other.join();
}

}  // namespace
