// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "xauth.h"

#include <X11/Xauth.h>
#include <X11/Xlib.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string bytes_of_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A private directory, removed with everything in it.
struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/xauth_test.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path + "'").c_str()); }
};

const std::string COOKIE_A = "0123456789abcdef";
const std::string COOKIE_B = "fedcba9876543210";

AuthEntry entry(unsigned short family, std::string address, std::string number,
                std::string data = COOKIE_A) {
    return {family, std::move(address), std::move(number), COOKIE_AUTH_NAME, std::move(data)};
}

}  // namespace

TEST(XauthDisplayNumber, TakesTheNumberBetweenColonAndScreen) {
    const struct {
        const char* name;
        const char* number;
    } cases[] = {
        {":0", "0"},      {":0.1", "0"},     {"host:12", "12"}, {"host:3.0", "3"},
        {"[::1]:7", "7"}, {"nodisplay", ""}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.number, display_number(c.name)) << c.name;
    }
}

TEST(XauthEntries, LocalCookieEntryIsFamilyLocalForTheHost) {
    const AuthEntry e = local_cookie_entry("box", "0", COOKIE_A);
    EXPECT_EQ(FamilyLocal, e.family);
    EXPECT_EQ("box", e.address);
    EXPECT_EQ("0", e.number);
    EXPECT_EQ("MIT-MAGIC-COOKIE-1", e.name);
    EXPECT_EQ(COOKIE_A, e.data);
}

TEST(XauthEntries, ReplaceDisplayEntries) {
    const AuthEntry fresh = entry(FamilyLocal, "box", "0", COOKIE_B);
    const struct {
        const char* what;
        std::vector<AuthEntry> existing;
        std::vector<AuthEntry> expected;
    } cases[] = {
        {"empty file", {}, {fresh}},
        {"old cookie of the same display", {entry(FamilyLocal, "box", "0")}, {fresh}},
        {"wildcard entry for the display", {entry(FamilyWild, "", "0")}, {fresh}},
        {"other display kept",
         {entry(FamilyLocal, "box", "1"), entry(FamilyLocal, "box", "0")},
         {fresh, entry(FamilyLocal, "box", "1")}},
        {"other host kept",
         {entry(FamilyLocal, "oldname", "0"), entry(FamilyInternet, "\x0a\x00\x00\x01", "0")},
         {fresh, entry(FamilyLocal, "oldname", "0"),
          entry(FamilyInternet, "\x0a\x00\x00\x01", "0")}},
        {"wildcard for another display kept",
         {entry(FamilyWild, "", "2")},
         {fresh, entry(FamilyWild, "", "2")}},
        {"several stale entries all go",
         {entry(FamilyLocal, "box", "0"), entry(FamilyLocal, "box", "1"),
          entry(FamilyWild, "", "0"), entry(FamilyLocal, "box", "0", COOKIE_B)},
         {fresh, entry(FamilyLocal, "box", "1")}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, replace_display_entries(c.existing, fresh)) << c.what;
    }
}

TEST(XauthEntries, UserAuthorityPath) {
    EXPECT_EQ("/home/ann/.Xauthority", user_xauthority_path("/home/ann"));
    EXPECT_EQ("/.Xauthority", user_xauthority_path(""));
}

TEST(XauthCookie, IsSixteenFreshBytes) {
    const Result<std::string> a = generate_cookie();
    const Result<std::string> b = generate_cookie();
    ASSERT_TRUE(a.ok()) << a.error();
    ASSERT_TRUE(b.ok()) << b.error();
    EXPECT_EQ(16u, a.value().size());
    EXPECT_EQ(16u, b.value().size());
    EXPECT_NE(a.value(), b.value());
}

TEST(XauthFile, WritesLibXauFormatWithMode0600) {
    TempDir dir;
    const std::string path = dir.path + "/auth";
    ::umask(022);
    const Result<Ok> written = write_authority_file(path, {entry(FamilyLocal, "box", "0")});
    ASSERT_TRUE(written.ok()) << written.error();

    // family, then address, number, name and data, each with a 16-bit big-endian length.
    const std::string expected = std::string("\x01\x00\x00\x03", 4) + "box" +
                                 std::string("\x00\x01", 2) + "0" + std::string("\x00\x12", 2) +
                                 "MIT-MAGIC-COOKIE-1" + std::string("\x00\x10", 2) + COOKIE_A;
    EXPECT_EQ(expected, bytes_of_file(path));
    EXPECT_EQ(expected, authority_bytes({entry(FamilyLocal, "box", "0")}));
    struct stat info {};
    ASSERT_EQ(0, ::stat(path.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
    EXPECT_EQ(::geteuid(), info.st_uid);
    EXPECT_NE(0, ::access((path + "-n").c_str(), F_OK)) << "temporary file left behind";
}

TEST(XauthFile, ReadsBackWhatWasWrittenAndReplacesTheOldFile) {
    TempDir dir;
    const std::string path = dir.path + "/auth";
    {
        std::ofstream old(path);
        old << "this is not what stays";
    }
    ::chmod(path.c_str(), 0644);
    const std::vector<AuthEntry> entries = {entry(FamilyLocal, "box", "0"),
                                            entry(FamilyWild, "", "1", COOKIE_B)};
    ASSERT_TRUE(write_authority_file(path, entries).ok());
    const Result<std::vector<AuthEntry>> read = read_authority_file(path);
    ASSERT_TRUE(read.ok()) << read.error();
    EXPECT_EQ(entries, read.value());
    struct stat info {};
    ASSERT_EQ(0, ::stat(path.c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 07777);
}

TEST(XauthFile, StaleTemporaryFileIsReplaced) {
    TempDir dir;
    const std::string path = dir.path + "/auth";
    {
        std::ofstream stale(path + "-n");
        stale << "left by a crash";
    }
    ASSERT_TRUE(write_authority_file(path, {entry(FamilyLocal, "box", "0")}).ok());
    const Result<std::vector<AuthEntry>> read = read_authority_file(path);
    ASSERT_TRUE(read.ok());
    EXPECT_EQ(std::vector<AuthEntry>{entry(FamilyLocal, "box", "0")}, read.value());
}

TEST(XauthFile, MissingFileHasNoEntriesAndUnwritableDirectoryIsAnError) {
    TempDir dir;
    const Result<std::vector<AuthEntry>> read = read_authority_file(dir.path + "/none");
    ASSERT_TRUE(read.ok());
    EXPECT_TRUE(read.value().empty());

    const Result<Ok> written =
        write_authority_file(dir.path + "/missing/auth", {entry(FamilyLocal, "box", "0")});
    ASSERT_FALSE(written.ok());
    EXPECT_EQ(
        "cannot create " + dir.path + "/missing/auth-n: No such file or directory (os error 2)",
        written.error());
}

TEST(XauthFile, UserAuthorityNeedsASessionCookie) {
    // No server cookie was made in this process.
    const Result<Ok> written = write_user_xauthority("/nonexistent");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ("no cookie for the session", written.error());
}

TEST(XauthFile, OnlyARegularFileIsRead) {
    TempDir dir;
    const std::string fifo = dir.path + "/fifo";
    const std::string link = dir.path + "/link";
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    ASSERT_TRUE(write_authority_file(dir.path + "/real", {entry(FamilyLocal, "box", "0")}).ok());
    ASSERT_EQ(0, ::symlink((dir.path + "/real").c_str(), link.c_str()));
    // A FIFO must not block the reader; a link is not followed.
    const Result<std::vector<AuthEntry>> from_fifo = read_authority_file(fifo);
    ASSERT_FALSE(from_fifo.ok());
    EXPECT_EQ("cannot read " + fifo + ": not a regular file", from_fifo.error());
    const Result<std::vector<AuthEntry>> from_link = read_authority_file(link);
    ASSERT_FALSE(from_link.ok());
    EXPECT_EQ("cannot read " + link + ": Too many levels of symbolic links (os error 40)",
              from_link.error());
}
