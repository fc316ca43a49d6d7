#include "fd.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include <gtest/gtest.h>

#include "owners.h"

namespace {

struct TempDir {
    std::string path;
    TempDir() {
        char pattern[] = "/tmp/fd_test.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() { (void)std::system(("rm -rf '" + path + "'").c_str()); }
};

}  // namespace

TEST(FdRegularFile, OnlyRegularFilesOpenAndNothingBlocks) {
    TempDir dir;
    const std::string file = dir.path + "/file";
    const std::string fifo = dir.path + "/fifo";
    const std::string link = dir.path + "/link";
    ASSERT_EQ(0, ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0600)));
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, ::symlink(file.c_str(), link.c_str()));

    const UniqueFd regular = open_regular_file(file.c_str());
    ASSERT_TRUE(regular.valid());
    EXPECT_EQ(0, ::fcntl(regular.get(), F_GETFL) & O_NONBLOCK) << "blocks again as usual";
    EXPECT_NE(0, ::fcntl(regular.get(), F_GETFD) & FD_CLOEXEC);

    // Neither the reader nor the writer of a FIFO without a peer may wait.
    EXPECT_FALSE(open_regular_file(fifo.c_str()).valid());
    EXPECT_EQ(EINVAL, errno);
    EXPECT_FALSE(open_regular_file(fifo.c_str(), O_WRONLY).valid());
    EXPECT_FALSE(open_regular_file(dir.path.c_str()).valid());
    EXPECT_EQ(EINVAL, errno);
    EXPECT_TRUE(open_regular_file(link.c_str()).valid());
    EXPECT_FALSE(open_regular_file(link.c_str(), O_RDONLY | O_NOFOLLOW).valid());
    EXPECT_EQ(ELOOP, errno);
    EXPECT_FALSE(open_regular_file((dir.path + "/none").c_str()).valid());
    EXPECT_EQ(ENOENT, errno);
}

TEST(FdTempFile, RemovedUnlessCommitted) {
    TempDir dir;
    const std::string temp = dir.path + "/temp";
    const std::string destination = dir.path + "/destination";
    {
        ASSERT_EQ(0, ::close(::open(temp.c_str(), O_WRONLY | O_CREAT, 0600)));
        TempFile dropped(temp);
    }
    EXPECT_NE(0, ::access(temp.c_str(), F_OK));
    {
        ASSERT_EQ(0, ::close(::open(temp.c_str(), O_WRONLY | O_CREAT, 0600)));
        TempFile kept(temp);
        EXPECT_TRUE(kept.commit(destination));
    }
    EXPECT_EQ(0, ::access(destination.c_str(), F_OK));
    EXPECT_NE(0, ::access(temp.c_str(), F_OK));
}
