#include "power.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// Every test writes below its own directory, never to the kernel's trigger.
struct PowerTempDir {
    std::string path;
    PowerTempDir() {
        char pattern[] = "/tmp/power_test.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~PowerTempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int open_descriptor_count() {
    int count = 0;
    for (int fd = 0; fd < 1024; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0) {
            ++count;
        }
    }
    return count;
}

}  // namespace

TEST(PowerConstants, MatchTheKernelInterfaces) {
    EXPECT_STREQ(SYSRQ_TRIGGER_PATH, "/proc/sysrq-trigger");
    EXPECT_STREQ(TTY0_PATH, "/dev/tty0");
    EXPECT_EQ(CONSOLE_VT, 2);
    EXPECT_EQ(SYSRQ_POWER_OFF, 0x6F);
    EXPECT_EQ(SYSRQ_REBOOT, 0x62);
}

TEST(PowerWriteSysrq, WritesExactlyTheOneByte) {
    PowerTempDir dir;
    for (const char command : {SYSRQ_POWER_OFF, SYSRQ_REBOOT}) {
        const std::string trigger = dir.path + "/trigger";
        const Result<Ok, int> result = write_sysrq_to(trigger.c_str(), command);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(read_file(trigger), std::string(1, command));
    }
}

TEST(PowerWriteSysrq, TruncatesWhatWasThere) {
    PowerTempDir dir;
    const std::string trigger = dir.path + "/trigger";
    std::ofstream(trigger) << "earlier bytes";
    ASSERT_TRUE(write_sysrq_to(trigger.c_str(), 'b').ok());
    EXPECT_EQ(read_file(trigger), "b");
}

TEST(PowerWriteSysrq, CreatesTheFileWithMode0666LessUmask) {
    PowerTempDir dir;
    const std::string trigger = dir.path + "/trigger";
    const mode_t old_mask = ::umask(022);
    const Result<Ok, int> result = write_sysrq_to(trigger.c_str(), 'o');
    ::umask(old_mask);
    ASSERT_TRUE(result.ok());
    struct stat st {};
    ASSERT_EQ(::stat(trigger.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST(PowerWriteSysrq, ReportsTheErrnoOfAFailedOpen) {
    PowerTempDir dir;
    const std::string missing_dir = dir.path + "/missing/trigger";
    const Result<Ok, int> missing = write_sysrq_to(missing_dir.c_str(), 'o');
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), ENOENT);

    const Result<Ok, int> directory = write_sysrq_to(dir.path.c_str(), 'o');
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error(), EISDIR);
}

TEST(PowerWriteSysrq, ReportsTheErrnoOfAFailedWrite) {
    // /dev/full accepts the open and refuses every write.
    const Result<Ok, int> result = write_sysrq_to("/dev/full", 'o');
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error(), ENOSPC);
}

TEST(PowerWriteSysrq, LeavesNoDescriptorOpen) {
    PowerTempDir dir;
    const std::string trigger = dir.path + "/trigger";
    const int before = open_descriptor_count();
    ASSERT_TRUE(write_sysrq_to(trigger.c_str(), 'o').ok());
    ASSERT_FALSE(write_sysrq_to("/dev/full", 'o').ok());
    ASSERT_FALSE(write_sysrq_to(dir.path.c_str(), 'o').ok());
    EXPECT_EQ(open_descriptor_count(), before);
}
