// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "login_screen.h"

#include <vector>

// The submit hands the fields to the attempt it was given, and an expired password turns the
// next submit into a change with the kept current password.
TEST(LoginScreenSubmit, HandsTheFieldsToTheAttempt) {
    GreeterState state;
    state.username = "alice";
    state.password = SecretText("old");
    std::vector<LoginMode> modes;
    const LoginAttempt expired = [&](const LoginRequest& r) -> Result<pid_t, LoginRefusal> {
        modes.push_back(r.mode);
        EXPECT_EQ(r.username, "alice");
        EXPECT_EQ(r.password, "old");
        EXPECT_EQ(r.session, SessionKind::Console);
        return Err{
            LoginRefusal{"Authentication token expired", true, "Authentication token expired"}};
    };
    EXPECT_EQ(submit_login(state, SessionKind::Console, expired), std::nullopt);
    EXPECT_EQ(state.message, PASSWORD_EXPIRED_MESSAGE);
    EXPECT_EQ(state.password_prompt, PasswordPrompt::NewPassword);
    EXPECT_EQ(state.current_password, "old");
    EXPECT_TRUE(state.password.empty());

    state.password_prompt = PasswordPrompt::RepeatNewPassword;
    state.new_password = SecretText("new");
    const LoginAttempt accepted = [&](const LoginRequest& r) -> Result<pid_t, LoginRefusal> {
        modes.push_back(r.mode);
        EXPECT_EQ(r.password, "old");
        EXPECT_EQ(r.new_password, "new");
        return pid_t{42};
    };
    EXPECT_EQ(submit_login(state, SessionKind::Graphical, accepted), pid_t{42});
    EXPECT_EQ(modes, (std::vector<LoginMode>{LoginMode::Normal, LoginMode::ChangeExpiredPassword}));
}
