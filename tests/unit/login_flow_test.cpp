#include "login_flow.h"

#include <gtest/gtest.h>

#include <string>

TEST(LoginFlow, EmptyFieldsAreRefusedBeforeAnythingElse) {
    struct Case {
        std::string username;
        std::string password;
        const char* error;
    };
    const Case cases[] = {
        {"", "", "Please enter a username"},
        {"", "secret", "Please enter a username"},
        {"alice", "", "Please enter a password"},
        {" ", "", "Please enter a password"},
    };
    for (const Case& c : cases) {
        SecretText password(c.password);
        SecretText unused;
        const Result<pid_t, LoginRefusal> result = attempt_login(
            {LoginMode::Normal, c.username, password, unused, SessionKind::Graphical});
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().message, c.error) << "'" << c.username << "'";
    }
}
