// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "xauth.h"

#include <X11/Xauth.h>
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
    // No session authorization was prepared in this process.
    const Result<Ok> written = write_user_xauthority("/nonexistent");
    ASSERT_FALSE(written.ok());
    EXPECT_EQ("no cookie for the session", written.error());
}

TEST(XauthHosts, EntryText) {
    HostEntry si{FamilyServerInterpreted, "", "localuser", "bob"};
    const struct {
        HostEntry host;
        const char* text;
    } cases[] = {
        {{FamilyInternet, std::string("\x0a\x00\x00\x01", 4), "", ""}, "inet:10.0.0.1"},
        {{FamilyInternet6, std::string(15, '\0') + "\x01", "", ""}, "inet6:::1"},
        {{FamilyLocalHost, "", "", ""}, "local:"},
        {si, "si:localuser:bob"},
        {{FamilyInternet, "abc", "", ""}, "family 0 (3 bytes)"},
        {{FamilyChaos, "xy", "", ""}, "family 2 (2 bytes)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.text, host_entry_text(c.host));
    }
}

TEST(XauthHosts, RemovesOnlyWhatWasNotThereAtStartUp) {
    const HostEntry local{FamilyLocalHost, "", "", ""};
    const HostEntry root{FamilyServerInterpreted, "", "localuser", "root"};
    const HostEntry bob{FamilyServerInterpreted, "", "localuser", "bob"};
    const HostEntry bob_group{FamilyServerInterpreted, "", "localgroup", "bob"};
    const HostEntry inet{FamilyInternet, std::string("\x7f\x00\x00\x01", 4), "", ""};
    const struct {
        const char* what;
        std::vector<HostEntry> baseline;
        std::vector<HostEntry> now;
        std::vector<HostEntry> expected;
    } cases[] = {
        {"nothing changed", {root}, {root}, {}},
        {"empty at start", {}, {local, bob}, {local, bob}},
        {"start entries stay", {root, local}, {bob, local, root, inet}, {bob, inet}},
        {"type and value both count", {bob}, {bob_group, bob}, {bob_group}},
        {"entry removed by the session is not re-added", {root}, {}, {}},
        {"duplicates listed once", {}, {bob, bob}, {bob}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, hosts_to_remove(c.baseline, c.now)) << c.what;
    }
}

TEST(XauthClients, EveryoneButTheServerAndTheDaemon) {
    const XID mask = 0x1fffff;
    const XClient server{0x0, mask};
    const XClient a{0x200000, mask};
    const XClient daemon{0x400000, mask};
    const XClient b{0x600000, mask};
    const std::vector<XClient> clients = {server, a, daemon, b};
    const struct {
        const char* what;
        XID own_id;
        std::vector<XClient> expected;
    } cases[] = {
        {"own first id", 0x400000, {a, b}},
        {"own id inside the range", 0x400123, {a, b}},
        {"own client not listed", 0x800001, {a, daemon, b}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, clients_to_disconnect(clients, c.own_id)) << c.what;
    }
    EXPECT_TRUE(clients_to_disconnect({}, 0x400000).empty());
}

TEST(XauthClients, KillableResourceIsOneInTheClientsOwnRange) {
    const XClient client{0x200000, 0x1fffff};
    const struct {
        const char* what;
        std::vector<XID> resources;
        std::optional<XID> expected;
    } cases[] = {
        {"no resources", {}, std::nullopt},
        {"the default graphics context at the base", {0x200000}, 0x200000},
        {"the server's entries for selected events are skipped",
         {0x40200000, 0x40200001, 0x200003},
         0x200003},
        {"only server entries", {0x40200000}, std::nullopt},
        {"another client's window", {0x400001, 0x200007}, 0x200007},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, killable_resource(client, c.resources)) << c.what;
    }
}
