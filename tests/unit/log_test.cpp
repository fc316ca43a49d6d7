#include "log.h"

#include <gtest/gtest.h>

TEST(Log, Placeholder) {
    EXPECT_STREQ(log_level_name(LogLevel::Debug), "DEBUG");
}
