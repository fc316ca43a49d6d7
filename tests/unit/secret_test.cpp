#include "secret.h"

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

// The VmFlags of the mapping that holds `address` ("dd": no dump, "wf": wiped on fork).
std::string vm_flags_of(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = reinterpret_cast<uintptr_t>(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long begin = 0;
        unsigned long end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx ", &begin, &end) == 2) {
            inside = at >= begin && at < end;
        } else if (inside && line.rfind("VmFlags:", 0) == 0) {
            return line + " ";
        }
    }
    return "";
}

TEST(Secret, EditsInPlaceZeroesWhatGoesAndNeverGrows) {
    SecretText secret("pa\xC3\xA4");
    const char* storage = secret.view().data();
    EXPECT_TRUE(secret.append("s"));
    secret.remove_last_char();
    secret.remove_last_char();
    EXPECT_EQ(secret, "pa");
    EXPECT_STREQ(secret.c_str(), "pa");
    EXPECT_EQ(std::string(storage + 2, 3), std::string(3, '\0'));
    EXPECT_FALSE(secret.append(std::string(secret.capacity() - 1, 'x')));
    EXPECT_EQ(secret, "pa") << "a refused append changes nothing";
    SecretText copy = secret.copy();
    SecretText moved = std::move(secret);
    moved.wipe();
    EXPECT_EQ(moved.view().data(), storage) << "the pages stay for the next text";
    EXPECT_EQ(std::string(storage, 2), std::string(2, '\0'));
    EXPECT_TRUE(same_secret(copy, SecretText("pa")) && !same_secret(copy, SecretText("pb")));
}

TEST(Secret, KeptOutOfCoreDumpsAndForkedChildren) {
    const SecretText secret("hunter2");
    const std::string flags = vm_flags_of(secret.view().data());
    EXPECT_NE(flags.find(" dd "), std::string::npos) << flags;
    EXPECT_NE(flags.find(" wf "), std::string::npos) << flags;
#ifndef __SANITIZE_ADDRESS__  // ASan's mlock does nothing and says it worked
    EXPECT_EQ(flags.find(" lo ") != std::string::npos, secret.locked()) << flags;
#endif
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(secret.empty() && secret.view().data()[0] == '\0' ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(status, 0) << "the child saw the secret";
    EXPECT_EQ(secret, "hunter2");
}

}  // namespace
