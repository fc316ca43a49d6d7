#include "log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

std::tm broken_down(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return tm;
}

TEST(LogLine, Formats) {
    const std::tm morning = broken_down(2026, 3, 7, 8, 5, 9);
    const std::tm old = broken_down(999, 12, 31, 23, 59, 59);
    const struct {
        const std::tm* time;
        LogLevel level;
        const char* message;
        const char* line;
    } cases[] = {
        {&morning, LogLevel::Info, "Connected to X display",
         "[2026-03-07 08:05:09] [INFO] Connected to X display\n"},
        {&morning, LogLevel::Debug, "PAM: credentials set",
         "[2026-03-07 08:05:09] [DEBUG] PAM: credentials set\n"},
        {&morning, LogLevel::Warn, "w", "[2026-03-07 08:05:09] [WARN] w\n"},
        {&morning, LogLevel::Error, "e", "[2026-03-07 08:05:09] [ERROR] e\n"},
        {&old, LogLevel::Info, "x", "[0999-12-31 23:59:59] [INFO] x\n"},
        {nullptr, LogLevel::Info, "no clock", "[??:??:??] [INFO] no clock\n"},
        {&morning, LogLevel::Info, "", "[2026-03-07 08:05:09] [INFO] \n"},
        {&morning, LogLevel::Info, "two\nlines", "[2026-03-07 08:05:09] [INFO] two\\u000alines\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(format_log_line(c.time, c.level, c.message), c.line);
    }
}

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir_template[] = "/tmp/vesko-log-test.XXXXXX";
        ASSERT_NE(::mkdtemp(dir_template), nullptr);
        dir_ = dir_template;
        path_ = dir_ + "/vesko.log";
    }
    void TearDown() override {
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }
    std::string contents() const {
        std::ifstream in(path_);
        std::stringstream out;
        out << in.rdbuf();
        return out.str();
    }
    std::string dir_;
    std::string path_;
};

TEST_F(LogFile, IsCreatedReadableByItsOwnerOnly) {
    const mode_t old_mask = ::umask(0);
    append_log_file(path_.c_str(), "one\n");
    ::umask(old_mask);
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(LogFile, AppendsWithoutTruncatingAndKeepsAnExistingMode) {
    {
        std::ofstream out(path_);
        out << "earlier run\n";
    }
    ::chmod(path_.c_str(), 0640);
    append_log_file(path_.c_str(), "one\n");
    append_log_file(path_.c_str(), "two\n");
    EXPECT_EQ(contents(), "earlier run\none\ntwo\n");
    struct stat st {};
    ASSERT_EQ(::stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(LogFile, MissingDirectoryOrSymlinkIsSilentlySkipped) {
    append_log_file((dir_ + "/missing/vesko.log").c_str(), "lost\n");
    // A symbolic link planted in place of the log is not followed.
    const std::string target = dir_ + "/target";
    ASSERT_EQ(::symlink(target.c_str(), path_.c_str()), 0);
    append_log_file(path_.c_str(), "not through the link\n");
    EXPECT_NE(::access(target.c_str(), F_OK), 0);
    ::unlink(path_.c_str());
}

}  // namespace

TEST(LogLine, EscapesWhatWouldChangeHowALineReads) {
    EXPECT_EQ(escape_log_text("caf\xC3\xA9 \xF0\x9F\x99\x82"), "caf\xC3\xA9 \xF0\x9F\x99\x82");
    EXPECT_EQ(escape_log_text("a\xE2\x80\xAE"
                              "b\xE2\x80\xA8"
                              "c\xE2\x80\xA9\xE2\x81\xA6\xE2\x80\x8B"),
              "a\\u202eb\\u2028c\\u2029\\u2066\\u200b");
    EXPECT_EQ(escape_log_text("\t\x1B\x7F\xC2\x85\xF3\xA0\x80\x81\xFF"),
              "\\u0009\\u001b\\u007f\\u0085\\U000e0001\\xff");
}

TEST(LogLine, StandardErrorNamesOnlyKnownAccounts) {
    const TypedName known{"alice", true};
    const TypedName unknown{"aliceBob-secret-55", false};
    EXPECT_EQ(console_typed_line(known, "for user ", "!"), "for user 'alice'!");
    EXPECT_EQ(console_typed_line(unknown, "for user ", "!"), "for an unknown user!");
    EXPECT_EQ(console_typed_line(unknown, "getpwnam(", ")"), "getpwnam(an unknown user)");
    EXPECT_EQ(console_typed_line(unknown, "User ", " not found"), "An unknown user not found");
}
