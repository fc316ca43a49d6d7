#include "secret.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// The VmFlags line of the mapping that holds `address`.
std::string vm_flags_of(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<uintptr_t>(address);
    std::string line;
    bool inside = false;
    while (std::getline(smaps, line)) {
        unsigned long begin = 0;
        unsigned long end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2) {
            inside = at >= begin && at < end;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line;
        }
    }
    return "";
}

TEST(Secret, EditsInPlaceAndZeroesWhatGoes) {
    SecretText secret("pa\xC3\xA4");
    const char* storage = secret.view().data();
    EXPECT_TRUE(secret.append("ss"));
    EXPECT_EQ(secret, "pa\xC3\xA4ss");
    EXPECT_STREQ(secret.c_str(), "pa\xC3\xA4ss");
    secret.remove_last_char();
    secret.remove_last_char();
    secret.remove_last_char();
    EXPECT_EQ(secret, "pa");
    EXPECT_EQ(storage[2], '\0');
    EXPECT_EQ(storage[3], '\0');
    EXPECT_FALSE(secret.append(std::string(secret.capacity() - 1, 'x')));
    EXPECT_EQ(secret, "pa") << "a refused append changes nothing";
    secret.wipe();
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(secret.view().data(), storage) << "the pages stay for the next text";
    EXPECT_EQ(std::string(storage, 2), std::string(2, '\0'));
    EXPECT_STREQ(SecretText().c_str(), "");
}

TEST(Secret, MovesAndCopiesOwnTheirPages) {
    SecretText first("one");
    SecretText second = std::move(first);
    EXPECT_TRUE(first.empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
    EXPECT_EQ(second, "one");
    SecretText copy = second.copy();
    second.wipe();
    EXPECT_EQ(copy, "one");
    EXPECT_TRUE(same_secret(copy, SecretText("one")));
    EXPECT_FALSE(same_secret(copy, SecretText("onf")));
    EXPECT_FALSE(same_secret(copy, SecretText("on")));
}

TEST(Secret, KeptOutOfCoreDumpsAndForkedChildren) {
    const SecretText secret("hunter2");
    const std::string flags = vm_flags_of(secret.view().data());
    EXPECT_NE(flags.find(" dd"), std::string::npos) << flags;
    EXPECT_NE(flags.find(" wf"), std::string::npos) << flags;
    EXPECT_EQ(flags.find(" lo") != std::string::npos, secret.locked()) << flags;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const char* bytes = secret.view().data();
        ::_exit(secret.empty() && bytes[0] == '\0' ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child saw the secret";
    EXPECT_EQ(secret, "hunter2");
}

TEST(Secret, ReadsAFileThatFitsAndRefusesOneThatGrew) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "root:$y$abc:1::::::\n", 20), 20);
    ::close(ends[1]);
    SecretText exact = SecretText::with_capacity(20);
    EXPECT_TRUE(exact.read_all_from(ends[0]));
    EXPECT_EQ(exact, "root:$y$abc:1::::::\n");
    ::close(ends[0]);

    // The pages hold a little more than asked for; one byte past them is refused.
    SecretText small = SecretText::with_capacity(20);
    const std::string grown(small.capacity() + 1, 'x');
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], grown.data(), grown.size()), static_cast<ssize_t>(grown.size()));
    ::close(ends[1]);
    EXPECT_FALSE(small.read_all_from(ends[0]));
    EXPECT_TRUE(small.empty());
    ::close(ends[0]);
}

}  // namespace
