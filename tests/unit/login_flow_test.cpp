#include "login_flow.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "texts.h"

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

// The screen gets the system's language; the log keeps English.
TEST(LoginFlow, RefusalInTheScreensLanguageAndInEnglish) {
    const char* language = std::getenv("LANGUAGE");
    const std::string saved = language != nullptr ? language : "";
    (void)init_texts(LocaleEnvironment{"", "", "de_DE.UTF-8", ""}, VESKO_BUILD_LOCALE_DIR);
    SecretText password("secret");
    SecretText unused;
    const Result<pid_t, LoginRefusal> result =
        attempt_login({LoginMode::Normal, "", password, unused, SessionKind::Graphical});
    (void)init_texts(LocaleEnvironment{"", "", "", saved}, VESKO_BUILD_LOCALE_DIR);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().message, "Bitte geben Sie einen Benutzernamen ein");
    EXPECT_EQ(result.error().english, "Please enter a username");
}
