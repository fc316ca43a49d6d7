#include "pam_conversation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

// Calls the conversation as a module would, with one message per style.
struct Conversation {
    std::vector<pam_message> messages;
    std::vector<const pam_message*> pointers;
    pam_response* responses = nullptr;
    int rc = -1;

    Conversation(const std::vector<std::pair<int, const char*>>& sent,
                 PamCredentials& credentials) {
        for (const auto& [style, text] : sent) {
            messages.push_back(pam_message{style, text});
        }
        for (const pam_message& m : messages) {
            pointers.push_back(&m);
        }
        rc = pam_conversation(static_cast<int>(pointers.size()), pointers.data(), &responses,
                              &credentials);
    }
    ~Conversation() {
        if (rc == PAM_SUCCESS && responses != nullptr) {
            for (size_t i = 0; i < messages.size(); ++i) {
                std::free(responses[i].resp);
            }
            std::free(responses);
        }
    }
    std::string answer(size_t i) const {
        return responses[i].resp == nullptr ? "(null)" : responses[i].resp;
    }
};

TEST(PamConversation, AnswersEachStyle) {
    PamCredentials credentials;
    credentials.login = "alice";
    credentials.password = SecretText("s3cret");
    Conversation c({{PAM_TEXT_INFO, "Welcome"},
                    {PAM_PROMPT_ECHO_ON, "login: "},
                    {PAM_PROMPT_ECHO_OFF, "Password: "},
                    {PAM_TEXT_INFO, "Last login"},
                    {7, ""}},
                   credentials);
    ASSERT_EQ(c.rc, PAM_SUCCESS);
    ASSERT_NE(c.responses, nullptr);
    EXPECT_EQ(c.answer(0), "(null)");
    EXPECT_EQ(c.answer(1), "alice");
    EXPECT_EQ(c.answer(2), "s3cret");
    EXPECT_EQ(c.answer(3), "(null)");
    EXPECT_EQ(c.answer(4), "alice");
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(c.responses[i].resp_retcode, 0);
    }
    // Fresh copies, owned by the caller.
    EXPECT_NE(c.responses[2].resp, credentials.password.c_str());
}

// An error message is something to show, not a failure: the module decides what comes of it.
TEST(PamConversation, KeepsErrorAndInfoMessagesAndAnswersOnWithThePasswords) {
    PamCredentials credentials;
    credentials.login = "alice";
    credentials.password = SecretText("old pw");
    credentials.new_password = SecretText("new pw");
    credentials.changing = true;
    Conversation c({{PAM_TEXT_INFO, "Changing password for alice."},
                    {PAM_PROMPT_ECHO_OFF, "Current password: "},
                    {PAM_ERROR_MSG, "No \xFF way\n"},
                    {PAM_PROMPT_ECHO_OFF, "New password: "},
                    {PAM_ERROR_MSG, "\n"}},
                   credentials);
    ASSERT_EQ(c.rc, PAM_SUCCESS);
    EXPECT_EQ(c.answer(1), "old pw");
    EXPECT_EQ(c.answer(2), "(null)");
    EXPECT_EQ(c.answer(3), "new pw");
    EXPECT_EQ(credentials.messages,
              (std::vector<std::string>{"Changing password for alice.", "No \xEF\xBF\xBD way"}));
}

TEST(PamConversation, TextWithNulFails) {
    PamCredentials credentials;
    credentials.login = "alice";
    credentials.password = SecretText(std::string_view("pa\0ss", 5));
    Conversation echo_on({{PAM_PROMPT_ECHO_ON, "login: "}}, credentials);
    EXPECT_EQ(echo_on.rc, PAM_SUCCESS);
    Conversation echo_off({{PAM_PROMPT_ECHO_ON, "login: "}, {PAM_PROMPT_ECHO_OFF, "Password: "}},
                          credentials);
    EXPECT_EQ(echo_off.rc, PAM_CONV_ERR);
    EXPECT_EQ(echo_off.responses, nullptr);
}

TEST(PamConversation, RefusesEmptyRequests) {
    PamCredentials credentials;
    pam_response* responses = nullptr;
    EXPECT_EQ(pam_conversation(0, nullptr, &responses, &credentials), PAM_CONV_ERR);
    const pam_message m{PAM_PROMPT_ECHO_ON, "login:"};
    const pam_message* pointers[] = {&m};
    EXPECT_EQ(pam_conversation(1, pointers, &responses, nullptr), PAM_CONV_ERR);
    EXPECT_EQ(responses, nullptr);
}

TEST(PamConversation, ClassifiesPrompts) {
    const struct {
        int style;
        const char* prompt;
        bool changing;
        PromptAnswer answer;
    } cases[] = {
        {PAM_PROMPT_ECHO_OFF, "Password: ", false, PromptAnswer::Password},
        {PAM_PROMPT_ECHO_OFF, "New password: ", false, PromptAnswer::Password},
        {PAM_PROMPT_ECHO_OFF, "Password: ", true, PromptAnswer::NewPassword},
        {PAM_PROMPT_ECHO_OFF, "New password: ", true, PromptAnswer::NewPassword},
        {PAM_PROMPT_ECHO_OFF, "Retype new password: ", true, PromptAnswer::NewPassword},
        {PAM_PROMPT_ECHO_OFF, "Current password: ", true, PromptAnswer::Password},
        {PAM_PROMPT_ECHO_OFF, "(current) UNIX password: ", true, PromptAnswer::Password},
        {PAM_PROMPT_ECHO_OFF, "Enter OLD password:", true, PromptAnswer::Password},
        // Whole words only.
        {PAM_PROMPT_ECHO_OFF, "Threshold password: ", true, PromptAnswer::NewPassword},
        {PAM_PROMPT_ECHO_OFF, "Currently: ", true, PromptAnswer::NewPassword},
        {PAM_PROMPT_ECHO_ON, "login: ", true, PromptAnswer::Login},
        {PAM_PROMPT_ECHO_ON, "Current password: ", false, PromptAnswer::Login},
        {7, "", false, PromptAnswer::Login},
        {PAM_TEXT_INFO, "Current password", true, PromptAnswer::None},
        {PAM_ERROR_MSG, "Password: ", false, PromptAnswer::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(classify_prompt(c.style, c.prompt, c.changing), c.answer)
            << c.style << " '" << c.prompt << "' changing=" << c.changing;
    }
}

TEST(PamConversation, KeepsTheLastMessagesCleanedAndCut) {
    std::vector<std::string> kept;
    keep_module_message(kept, "first");
    keep_module_message(kept, " \t\r\n");
    keep_module_message(kept, "second\n");
    EXPECT_EQ(kept, (std::vector<std::string>{"first", "second"}));
    for (size_t i = 2; i < KEPT_MODULE_MESSAGES; ++i) {
        keep_module_message(kept, "more");
    }
    keep_module_message(kept, std::string(10'000'000, 'y'));
    ASSERT_EQ(kept.size(), KEPT_MODULE_MESSAGES);
    EXPECT_EQ(kept.front(), "second");
    EXPECT_EQ(kept.back(), std::string(MODULE_MESSAGE_BYTES, 'y'));
}

TEST(PamConversation, MessagesJoinedInOneLine) {
    struct Case {
        std::vector<std::string> messages;
        std::string joined;
    };
    const std::vector<Case> cases = {
        {{"The account is locked due to 3 failed logins.", "(10 minutes left to unlock)"},
         "The account is locked due to 3 failed logins. (10 minutes left to unlock)"},
        {{"Password expired", "Contact the administrator"},
         "Password expired; Contact the administrator"},
        {{"(1 minute left)", "Try later!", "Really?", "Done"},
         "(1 minute left) Try later! Really? Done"},
        {{"Same.", "Same.", "Other"}, "Same. Other"},
        {{"Only one"}, "Only one"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(join_module_messages(c.messages), c.joined) << c.joined;
    }
}

}  // namespace
