#include "last_user.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LastUser, ParsesOneTypableNameOfAtMost256Bytes) {
    const struct {
        std::string bytes;
        bool ok;
        std::string expected;  // the name, or the error
    } cases[] = {
        {"alice\n", true, "alice"},
        {"alice", true, "alice"},
        {"j\xC3\xB6rg\n", true, "j\xC3\xB6rg"},
        {std::string(256, 'a') + "\n", true, std::string(256, 'a')},
        {std::string(257, 'a'), false, "the name is longer than 256 bytes"},
        {"", false, "it holds no name"},
        {"\n", false, "it holds no name"},
        {"alice\n\n", false, "the name holds a control character"},
        {std::string("ali\0ce", 6), false, "the name holds a control character"},
        {"caf\xE9\n", false, "it is not valid UTF-8"},
    };
    for (const auto& c : cases) {
        const Result<std::string> parsed = parse_last_user(c.bytes);
        ASSERT_EQ(parsed.ok(), c.ok) << c.bytes;
        EXPECT_EQ(parsed.ok() ? parsed.value() : parsed.error(), c.expected);
    }
}

}  // namespace
