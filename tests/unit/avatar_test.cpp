#include "avatar.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "avatar_child.h"
#include "picture_fixtures.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/vesko-avatar-test.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

BgraBuffer filled(uint8_t blue, uint8_t green, uint8_t red, uint8_t alpha) {
    BgraBuffer pixels;
    for (int i = 0; i < AVATAR_SIZE * AVATAR_SIZE; ++i) {
        pixels.insert(pixels.end(), {blue, green, red, alpha});
    }
    return pixels;
}

const uint8_t* pixel_at(const BgraBuffer& pixels, int x, int y) {
    return pixels.data() + (size_t(y) * AVATAR_SIZE + size_t(x)) * 4;
}

std::vector<uint8_t> pixel(const BgraBuffer& pixels, int x, int y) {
    const uint8_t* p = pixel_at(pixels, x, y);
    return {p[0], p[1], p[2], p[3]};
}

TEST(AvatarMask, NamedPixels) {
    BgraBuffer pixels = filled(10, 20, 30, 255);
    avatar_mask(pixels);
    ASSERT_EQ(pixels.size(), 36864u);
    struct Case {
        int x, y;
        std::vector<uint8_t> bgra;
    };
    const Case cases[] = {
        {0, 0, {0, 0, 0, 0}},        {95, 0, {0, 0, 0, 0}},       {0, 95, {0, 0, 0, 0}},
        {95, 95, {0, 0, 0, 0}},      {47, 0, {10, 20, 30, 126}},  {48, 0, {10, 20, 30, 126}},
        {0, 47, {10, 20, 30, 126}},  {47, 95, {10, 20, 30, 126}}, {47, 47, {10, 20, 30, 255}},
        {48, 48, {10, 20, 30, 255}}, {47, 1, {10, 20, 30, 255}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pixel(pixels, c.x, c.y), c.bgra) << c.x << "," << c.y;
    }
}

TEST(AvatarMask, EveryPixelFollowsTheDisc) {
    BgraBuffer pixels = filled(1, 2, 3, 200);
    avatar_mask(pixels);
    int outside = 0, edge = 0, inside = 0;
    for (int y = 0; y < AVATAR_SIZE; ++y) {
        for (int x = 0; x < AVATAR_SIZE; ++x) {
            const double dx = x - 48 + 0.5, dy = y - 48 + 0.5;
            const double d = std::sqrt(dx * dx + dy * dy);
            const std::vector<uint8_t> p = pixel(pixels, x, y);
            if (d > 48) {
                ++outside;
                EXPECT_EQ(p, (std::vector<uint8_t>{0, 0, 0, 0})) << x << "," << y;
            } else if (d > 47) {
                ++edge;
                EXPECT_EQ(p[0], 1);
                EXPECT_EQ(p[2], 3);
                EXPECT_EQ(p[3], static_cast<uint8_t>(200 * (48 - d))) << x << "," << y;
                EXPECT_LT(p[3], 200);
            } else {
                ++inside;
                EXPECT_EQ(p, (std::vector<uint8_t>{1, 2, 3, 200})) << x << "," << y;
            }
        }
    }
    EXPECT_GT(outside, 0);
    EXPECT_GT(edge, 200);
    EXPECT_GT(inside, 6000);
}

TEST(AvatarMask, TransparentInsideStaysTransparentWithItsColour) {
    BgraBuffer pixels = filled(90, 80, 70, 0);
    avatar_mask(pixels);
    EXPECT_EQ(pixel(pixels, 47, 47), (std::vector<uint8_t>{90, 80, 70, 0}));
    EXPECT_EQ(pixel(pixels, 47, 0), (std::vector<uint8_t>{90, 80, 70, 0}));
}

TEST(AvatarCandidates, SearchOrder) {
    const std::array<std::string, 2> expected = {"/home/ann/.face",
                                                 "/home/ann/.config/vesko/avatar.png"};
    EXPECT_EQ(avatar_candidates("/home/ann"), expected);
}

TEST(AvatarOpen, OnlyRegularFilesAndNeverBlocks) {
    TempDir dir;
    write_text(dir.file("plain"), "x");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0644), 0);
    fs::create_directory(dir.file("folder"));
    fs::create_symlink(dir.file("fifo"), dir.file("fifo-link"));
    fs::create_symlink(dir.file("plain"), dir.file("plain-link"));

    const uid_t uid = ::geteuid();
    const gid_t gid = ::getegid();
    const passwd* me = ::getpwuid(uid);
    const char* name = me != nullptr ? me->pw_name : "root";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(open_as_user(dir.file("plain"), name, uid, gid).valid());
    EXPECT_TRUE(open_as_user(dir.file("plain-link"), name, uid, gid).valid());
    EXPECT_FALSE(open_as_user(dir.file("fifo"), name, uid, gid).valid());
    EXPECT_FALSE(open_as_user(dir.file("fifo-link"), name, uid, gid).valid());
    EXPECT_FALSE(open_as_user(dir.file("folder"), name, uid, gid).valid());
    EXPECT_FALSE(open_as_user(dir.file("missing"), name, uid, gid).valid());
    EXPECT_FALSE(open_as_user("/dev/null", name, uid, gid).valid());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(AvatarOpen, UsesTheUsersFileSystemIdentity) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to switch the file-system identity";
    }
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    TempDir dir;
    ::chmod(dir.path.c_str(), 0755);
    write_text(dir.file("secret.png"), "root only");
    ::chmod(dir.file("secret.png").c_str(), 0600);
    write_text(dir.file("group.png"), "root group");
    ::chmod(dir.file("group.png").c_str(), 0640);
    write_text(dir.file("public.png"), "anyone");
    ::chmod(dir.file("public.png").c_str(), 0644);
    fs::create_symlink(dir.file("secret.png"), dir.file(".face"));

    EXPECT_FALSE(open_as_user(dir.file("secret.png"), "nobody", uid, gid).valid());
    EXPECT_FALSE(open_as_user(dir.file(".face"), "nobody", uid, gid).valid());
    // Root's own supplementary groups must not let the group bits through.
    EXPECT_FALSE(open_as_user(dir.file("group.png"), "nobody", uid, gid).valid());
    EXPECT_TRUE(open_as_user(dir.file("public.png"), "nobody", uid, gid).valid());
    // The daemon's identity is back at once.
    EXPECT_EQ(::setfsuid(static_cast<uid_t>(-1)), 0);
    EXPECT_EQ(::setfsgid(static_cast<gid_t>(-1)), 0);
    EXPECT_TRUE(open_as_user(dir.file("secret.png"), "root", 0, 0).valid());
    UniqueFd fd(::open(dir.file("secret.png").c_str(), O_RDONLY));
    EXPECT_TRUE(fd.valid());
}

// The only account the stand-in lookup knows: this process's user, with a scratch home.
std::string& stand_in_home() {
    static std::string home;
    return home;
}

std::optional<UserInfo> stand_in_lookup(std::string_view name) {
    const passwd* me = ::getpwuid(::geteuid());
    if (name != "face-owner" || me == nullptr) {
        return std::nullopt;
    }
    return UserInfo{stand_in_home(), "/bin/sh", me->pw_uid, me->pw_gid, me->pw_name};
}

TEST(AvatarLoad, TheGivenLookupFindsTheHome) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP()
        << "ThreadSanitizer keeps a thread of its own; the decoding child is forked from one";
#endif
    TempDir dir;
    img::Picture picture{40, 30, PixelType::Rgb8, std::vector<uint8_t>(40 * 30 * 3)};
    for (size_t i = 0; i < picture.samples.size(); ++i) {
        picture.samples[i] = static_cast<uint8_t>(i * 5);
    }
    picture_fixtures::write_png(dir.file(".face"), picture);
    stand_in_home() = dir.path.string();
    std::vector<UniqueFd> files;
    files.emplace_back(::open(dir.file(".face").c_str(), O_RDONLY | O_CLOEXEC));
    const std::string names[] = {dir.file(".face")};
    std::optional<BgraBuffer> expected = decode_first_avatar(files, names, AVATAR_SIZE);
    ASSERT_TRUE(expected.has_value());
    avatar_mask(*expected);

    EXPECT_EQ(load_avatar("face-owner", AVATAR_SIZE, stand_in_lookup), expected);
    EXPECT_EQ(load_avatar("someone-else", AVATAR_SIZE, stand_in_lookup), std::nullopt);
}

TEST(AvatarLoad, NoPictureGivesNone) {
    EXPECT_FALSE(load_avatar(std::string_view("root\0x", 6)).has_value());
    EXPECT_FALSE(load_avatar("no-such-user-vesko-test").has_value());
    EXPECT_FALSE(load_avatar("").has_value());
    EXPECT_FALSE(load_avatar("root ").has_value());
}

}  // namespace
