// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "input.h"

#include "ui.h"

#include <X11/keysym.h>

#include <string>
#include <vector>

namespace {

// A 1920 x 1080 screen at scale 1.
const GreeterLayout SCREEN = greeter_layout(1920, 1080);

// The state of a fresh showing with two keyboard layouts (so with a layout button).
GreeterState greeter() {
    GreeterState ctx;
    ctx.layout_label = "US";
    ctx.password = SecretText::with_capacity(PASSWORD_RESERVE);
    return ctx;
}

struct State {
    std::string username;
    std::string password;
    std::optional<std::string> message;
    bool password_focused = false;
};

void set(GreeterState& ctx, const State& s) {
    ctx.username = s.username;
    ctx.password = SecretText(s.password);
    ctx.message = s.message;
    ctx.password_focused = s.password_focused;
}

void expect_state(const GreeterState& ctx, const State& s, const std::string& label) {
    EXPECT_EQ(ctx.username, s.username) << label;
    EXPECT_EQ(ctx.password, s.password) << label;
    EXPECT_EQ(ctx.message, s.message) << label;
    EXPECT_EQ(ctx.password_focused, s.password_focused) << label;
}

const char* action_name(GreeterAction a) {
    switch (a) {
        case GreeterAction::Nothing:
            return "Nothing";
        case GreeterAction::Repaint:
            return "Repaint";
        case GreeterAction::LoadAvatar:
            return "LoadAvatar";
        case GreeterAction::DropAvatar:
            return "DropAvatar";
        case GreeterAction::Submit:
            return "Submit";
        case GreeterAction::ChangePassword:
            return "ChangePassword";
        case GreeterAction::PowerOff:
            return "PowerOff";
        case GreeterAction::Reboot:
            return "Reboot";
        case GreeterAction::Console:
            return "Console";
        case GreeterAction::NextLayout:
            return "NextLayout";
        case GreeterAction::NextLook:
            return "NextLook";
    }
    return "?";
}

}  // namespace

TEST(LoginScreenKeys, Table) {
    const std::optional<std::string> err = "Authentication failed";
    struct Case {
        const char* label;
        State before;
        unsigned long keysym;
        std::string text;
        GreeterAction action;
        State after;
    };
    const std::vector<Case> cases = {
        {"backspace user",
         {"bob", "", {}, false},
         XK_BackSpace,
         "\b",
         GreeterAction::Repaint,
         {"bo", "", {}, false}},
        {"backspace password",
         {"bob", "pw", err, true},
         XK_BackSpace,
         "\b",
         GreeterAction::Repaint,
         {"bob", "p", err, true}},
        {"backspace empty repaints",
         {"", "", {}, false},
         XK_BackSpace,
         "\b",
         GreeterAction::Repaint,
         {"", "", {}, false}},
        {"backspace two-byte char",
         {"j\xC3\xA9", "", {}, false},
         XK_BackSpace,
         "",
         GreeterAction::Repaint,
         {"j", "", {}, false}},
        {"backspace euro",
         {"", "a\xE2\x82\xAC", {}, true},
         XK_BackSpace,
         "",
         GreeterAction::Repaint,
         {"", "a", {}, true}},
        {"tab from user loads avatar",
         {"alice", "", err, false},
         XK_Tab,
         "\t",
         GreeterAction::LoadAvatar,
         {"alice", "", {}, true}},
        {"tab from empty user",
         {"", "", err, false},
         XK_Tab,
         "\t",
         GreeterAction::Repaint,
         {"", "", {}, true}},
        {"tab from password goes on to Log In",
         {"alice", "pw", err, true},
         XK_Tab,
         "\t",
         GreeterAction::Repaint,
         {"alice", "pw", {}, true}},
        {"shift+tab from password",
         {"alice", "pw", err, true},
         XK_ISO_Left_Tab,
         "",
         GreeterAction::Repaint,
         {"alice", "pw", {}, false}},
        {"return from user keeps message",
         {"alice", "", err, false},
         XK_Return,
         "\r",
         GreeterAction::LoadAvatar,
         {"alice", "", err, true}},
        {"return from empty user",
         {"", "", {}, false},
         XK_Return,
         "\r",
         GreeterAction::Repaint,
         {"", "", {}, true}},
        {"return in password submits",
         {"bob", "secret", err, true},
         XK_Return,
         "\r",
         GreeterAction::Submit,
         {"bob", "secret", err, true}},
        {"escape resets",
         {"bob", "secret", err, true},
         XK_Escape,
         "\x1b",
         GreeterAction::DropAvatar,
         {"", "", {}, false}},
        {"type into user",
         {"bo", "", err, false},
         XK_b,
         "b",
         GreeterAction::Repaint,
         {"bob", "", err, false}},
        {"type into password",
         {"bob", "p", {}, true},
         XK_w,
         "w",
         GreeterAction::Repaint,
         {"bob", "pw", {}, true}},
        {"type multi-byte",
         {"", "p", {}, true},
         0x10020ac,
         "\xE2\x82\xAC",
         GreeterAction::Repaint,
         {"", "p\xE2\x82\xAC", {}, true}},
        {"no text",
         {"bob", "", {}, false},
         XK_Shift_L,
         "",
         GreeterAction::Nothing,
         {"bob", "", {}, false}},
        {"control a",
         {"bob", "", {}, false},
         XK_a,
         "\x01",
         GreeterAction::Nothing,
         {"bob", "", {}, false}},
        {"delete",
         {"bob", "", {}, false},
         XK_Delete,
         "\x7f",
         GreeterAction::Nothing,
         {"bob", "", {}, false}},
        {"keypad enter",
         {"bob", "pw", {}, true},
         XK_KP_Enter,
         "\r",
         GreeterAction::Nothing,
         {"bob", "pw", {}, true}},
        {"c1 control",
         {"bob", "", {}, false},
         XK_a,
         "\xC2\x85",
         GreeterAction::Nothing,
         {"bob", "", {}, false}},
        {"control inside text",
         {"bob", "", {}, false},
         XK_a,
         "a\x02",
         GreeterAction::Nothing,
         {"bob", "", {}, false}},
        {"invalid utf-8 repaints",
         {"bob", "", {}, false},
         XK_eacute,
         "\xE9",
         GreeterAction::Repaint,
         {"bob", "", {}, false}},
        {"u+00a0 is typable",
         {"", "", {}, false},
         XK_nobreakspace,
         "\xC2\xA0",
         GreeterAction::Repaint,
         {"\xC2\xA0", "", {}, false}},
    };
    for (const Case& c : cases) {
        GreeterState ctx = greeter();
        set(ctx, c.before);
        const GreeterAction action = handle_key(ctx, c.keysym, c.text);
        EXPECT_EQ(action_name(action), action_name(c.action)) << c.label;
        expect_state(ctx, c.after, c.label);
    }
}

TEST(LoginScreenKeys, FieldCaps) {
    GreeterState ctx = greeter();
    ctx.password_focused = true;
    ctx.password = SecretText(std::string(510, 'x'));
    EXPECT_EQ(handle_key(ctx, XK_a, "a"), GreeterAction::Repaint);
    EXPECT_EQ(ctx.password.size(), 511u);
    // A three-byte character would pass the cap: ignored whole, without repaint.
    EXPECT_EQ(handle_key(ctx, 0x10020ac, "\xE2\x82\xAC"), GreeterAction::Nothing);
    EXPECT_EQ(handle_key(ctx, XK_a, "a"), GreeterAction::Repaint);
    EXPECT_EQ(ctx.password.size(), MAX_PASSWORD_BYTES);
    EXPECT_EQ(handle_key(ctx, XK_a, "a"), GreeterAction::Nothing);
    EXPECT_EQ(ctx.password.size(), MAX_PASSWORD_BYTES);

    ctx.password_focused = false;
    ctx.username = std::string(MAX_USERNAME_BYTES, 'u');
    EXPECT_EQ(handle_key(ctx, XK_a, "a"), GreeterAction::Nothing);
    EXPECT_EQ(ctx.username.size(), MAX_USERNAME_BYTES);
    EXPECT_EQ(handle_key(ctx, XK_BackSpace, ""), GreeterAction::Repaint);
    EXPECT_EQ(handle_key(ctx, XK_a, "a"), GreeterAction::Repaint);
    EXPECT_EQ(ctx.username.size(), MAX_USERNAME_BYTES);
}

TEST(LoginScreenKeys, PasswordNeverMovesWhileGrowing) {
    GreeterState ctx = greeter();
    ctx.password_focused = true;
    const char* storage = ctx.password.view().data();
    for (size_t i = 0; i < MAX_PASSWORD_BYTES + 10; ++i) {
        (void)handle_key(ctx, XK_a, "a");
    }
    EXPECT_EQ(ctx.password.view().data(), storage);
    EXPECT_EQ(ctx.password.size(), MAX_PASSWORD_BYTES);
}

TEST(LoginScreenKeys, RemovedBytesAreZeroed) {
    std::string text;
    text.reserve(64);
    text = "ab\xE2\x82\xAC";
    const char* storage = text.data();
    remove_last_char(text);
    EXPECT_EQ(text, "ab");
    EXPECT_EQ(storage[3], '\0');
    EXPECT_EQ(storage[4], '\0');
    remove_last_char(text);
    remove_last_char(text);
    remove_last_char(text);
    EXPECT_EQ(text, "");
}

TEST(LoginScreenKeys, EscapeAndFailureWipeThePassword) {
    GreeterState ctx = greeter();
    ctx.password_focused = true;
    for (const char c : std::string("secret")) {
        (void)handle_key(ctx, c, std::string(1, c));
    }
    const char* storage = ctx.password.view().data();
    apply_login_failure(ctx, "Authentication failed");
    EXPECT_EQ(ctx.password, "");
    EXPECT_EQ(ctx.message, "Authentication failed");
    EXPECT_TRUE(ctx.password_focused);
    EXPECT_EQ(std::string(storage, 6), std::string(6, '\0'));

    (void)handle_key(ctx, XK_x, "x");
    apply_login_failure(ctx, "Please enter a password");
    EXPECT_EQ(ctx.message, "Please enter a password");

    (void)handle_key(ctx, XK_y, "y");
    (void)handle_key(ctx, XK_Escape, "\x1b");
    EXPECT_EQ(storage[0], '\0');
}

TEST(LoginScreenKeys, TextFromKeysymIsUtf8) {
    struct Case {
        const char* label;
        unsigned long keysym;
        std::string lookup;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"ascii", XK_a, "a", "a"},
        {"latin-1 e acute", XK_eacute, "\xE9", "\xC3\xA9"},
        {"a diaeresis", XK_adiaeresis, "\xE4", "\xC3\xA4"},
        {"sharp s", XK_ssharp, "\xDF", "\xC3\x9F"},
        {"euro as unicode keysym", 0x10020ac, "", "\xE2\x82\xAC"},
        {"euro sign keysym", XK_EuroSign, "", "\xE2\x82\xAC"},
        {"control a keeps its control byte", XK_a, "\x01", "\x01"},
        {"keypad enter", XK_KP_Enter, "\r", "\r"},
        {"shift", XK_Shift_L, "", ""},
        {"left arrow", XK_Left, "", ""},
        {"no symbol", NoSymbol, "", ""},
    };
    for (const Case& c : cases) {
        const KeyText text = key_text_utf8(c.keysym, c.lookup);
        EXPECT_EQ(std::string(text.view()), c.expected) << c.label;
    }
}

TEST(LoginScreenKeys, TypedPasswordReachesTheField) {
    GreeterState ctx = greeter();
    ctx.password_focused = true;
    const std::vector<std::pair<unsigned long, std::string>> keys = {
        {XK_p, "p"},     {XK_adiaeresis, "\xE4"}, {XK_s, "s"}, {XK_s, "s"},
        {XK_w, "w"},     {XK_odiaeresis, "\xF6"}, {XK_r, "r"}, {XK_d, "d"},
        {0x10020ac, ""},
    };
    for (const auto& [keysym, lookup] : keys) {
        const KeyText text = key_text_utf8(keysym, lookup);
        EXPECT_EQ(handle_key(ctx, keysym, text.view()), GreeterAction::Repaint);
    }
    EXPECT_EQ(ctx.password, "p\xC3\xA4ssw\xC3\xB6rd\xE2\x82\xAC");
}

TEST(LoginScreenPointer, Clicks) {
    const std::optional<std::string> err = "Authentication failed";
    struct Case {
        const char* label;
        State before;
        int32_t x, y;
        GreeterAction action;
        State after;
    };
    const std::vector<Case> cases = {
        {"username field",
         {"bob", "pw", err, true},
         800,
         496,
         GreeterAction::Repaint,
         {"bob", "pw", err, false}},
        {"password field loads avatar",
         {"bob", "", err, false},
         1119,
         595,
         GreeterAction::LoadAvatar,
         {"bob", "", err, true}},
        {"password field, empty name",
         {"", "", {}, false},
         900,
         560,
         GreeterAction::Repaint,
         {"", "", {}, true}},
        {"password field already focused",
         {"bob", "x", {}, true},
         900,
         560,
         GreeterAction::Repaint,
         {"bob", "x", {}, true}},
        {"log in from user field",
         {"bob", "", {}, false},
         960,
         650,
         GreeterAction::Submit,
         {"bob", "", {}, false}},
        {"power off",
         {"bob", "", {}, false},
         734,
         1034,
         GreeterAction::PowerOff,
         {"bob", "", {}, false}},
        {"reboot", {"", "", {}, false}, 960, 1050, GreeterAction::Reboot, {"", "", {}, false}},
        {"console", {"", "", {}, true}, 1100, 1050, GreeterAction::Console, {"", "", {}, true}},
        {"layout", {"", "x", {}, true}, 1878, 1050, GreeterAction::NextLayout, {"", "x", {}, true}},
        {"right of power off",
         {"", "", {}, false},
         874,
         1034,
         GreeterAction::Nothing,
         {"", "", {}, false}},
        {"below user field",
         {"", "", {}, false},
         900,
         540,
         GreeterAction::Nothing,
         {"", "", {}, false}},
        {"empty space", {"", "", err, true}, 10, 10, GreeterAction::Nothing, {"", "", err, true}},
    };
    for (const Case& c : cases) {
        GreeterState ctx = greeter();
        set(ctx, c.before);
        EXPECT_EQ(action_name(handle_button(ctx, SCREEN, c.x, c.y)), action_name(c.action))
            << c.label;
        expect_state(ctx, c.after, c.label);
    }
}

TEST(LoginScreenPointer, HoverRepaintsOnlyOnChange) {
    GreeterState ctx = greeter();
    struct Step {
        int32_t x, y;
        GreeterAction action;
        bool login;
        uint8_t button;
    };
    const std::vector<Step> steps = {
        {10, 10, GreeterAction::Nothing, false, NO_BUTTON},
        {800, 632, GreeterAction::Repaint, true, NO_BUTTON},
        {1000, 660, GreeterAction::Nothing, true, NO_BUTTON},
        {1120, 660, GreeterAction::Repaint, false, NO_BUTTON},
        {750, 1040, GreeterAction::Repaint, false, POWER_OFF_BUTTON},
        {760, 1041, GreeterAction::Nothing, false, POWER_OFF_BUTTON},
        {900, 1041, GreeterAction::Repaint, false, REBOOT_BUTTON},
        {1050, 1041, GreeterAction::Repaint, false, CONSOLE_BUTTON},
        {1050, 1000, GreeterAction::Repaint, false, NO_BUTTON},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(action_name(handle_motion(ctx, SCREEN, s.x, s.y)), action_name(s.action))
            << s.x << "," << s.y;
        EXPECT_EQ(ctx.login_hovered, s.login);
        EXPECT_EQ(ctx.hovered_button, s.button);
    }
}

// The pointer hits only what the layout of the greeter's own area puts there: on a monitor that
// is not there yet (no area), nothing.
TEST(LoginScreenPointer, NothingHitsOffTheLayout) {
    GreeterState ctx;
    const GreeterLayout none = greeter_layout(Rect{}, 1);
    EXPECT_EQ(handle_button(ctx, none, 0, 0), GreeterAction::Nothing);
    EXPECT_EQ(handle_motion(ctx, none, 960, 650), GreeterAction::Nothing);
}

TEST(LoginScreenFlow, AvatarKeptWhenNameErased) {
    // alice, Tab (avatar), Shift+Tab back, erase, Tab: loading is skipped for an empty name.
    GreeterState ctx = greeter();
    for (const char c : std::string("alice")) {
        (void)handle_key(ctx, c, std::string(1, c));
    }
    EXPECT_EQ(handle_key(ctx, XK_Tab, "\t"), GreeterAction::LoadAvatar);
    EXPECT_EQ(handle_key(ctx, XK_ISO_Left_Tab, ""), GreeterAction::Repaint);
    for (int i = 0; i < 5; ++i) {
        (void)handle_key(ctx, XK_BackSpace, "\b");
    }
    EXPECT_EQ(ctx.username, "");
    EXPECT_EQ(handle_key(ctx, XK_Tab, "\t"), GreeterAction::Repaint);
    EXPECT_TRUE(ctx.password_focused);
}

TEST(LoginScreenFlow, TextIsSubmittedAsTyped) {
    GreeterState ctx = greeter();
    for (const char c : std::string(" bob ")) {
        (void)handle_key(ctx, c, std::string(1, c));
    }
    (void)handle_key(ctx, XK_Tab, "\t");
    for (const char c : std::string("p a s")) {
        (void)handle_key(ctx, c, std::string(1, c));
    }
    EXPECT_EQ(handle_key(ctx, XK_Return, "\r"), GreeterAction::Submit);
    EXPECT_EQ(ctx.username, " bob ");
    EXPECT_EQ(ctx.password, "p a s");
}

void type(GreeterState& ctx, const std::string& text) {
    for (const char c : text) {
        (void)handle_key(ctx, static_cast<unsigned char>(c), std::string(1, c));
    }
}

// An expired password: the name stays, the field asks for the new password twice, a mismatch
// or a refused change asks again, and Escape ends it all.
TEST(LoginScreenFlow, ChangingAnExpiredPassword) {
    GreeterState ctx = greeter();
    ctx.current_password = SecretText::with_capacity(PASSWORD_RESERVE);
    ctx.new_password = SecretText::with_capacity(PASSWORD_RESERVE);
    type(ctx, "alice");
    (void)handle_key(ctx, XK_Tab, "\t");
    type(ctx, "old pw");
    const char* typed = ctx.password.view().data();
    apply_login_failure(ctx, "You are required to change your password immediately.", true);
    expect_state(ctx, {"alice", "", "Your password has expired. Choose a new one.", true},
                 "expired");
    EXPECT_EQ(ctx.current_password, "old pw");
    EXPECT_EQ(std::string(typed, 6), std::string(6, '\0'));
    EXPECT_STREQ(password_placeholder(ctx.password_prompt), "New password");

    // The name is fixed meanwhile; an empty entry is not taken.
    EXPECT_EQ(handle_key(ctx, XK_Tab, "\t"), GreeterAction::Nothing);
    EXPECT_EQ(handle_button(ctx, SCREEN, 800, 496), GreeterAction::Nothing);
    EXPECT_EQ(handle_key(ctx, XK_Return, "\r"), GreeterAction::Nothing);
    EXPECT_TRUE(ctx.password_focused);

    type(ctx, "new pw 1");
    EXPECT_EQ(handle_key(ctx, XK_Return, "\r"), GreeterAction::Repaint);
    EXPECT_STREQ(password_placeholder(ctx.password_prompt), "Repeat new password");
    EXPECT_EQ(ctx.password, "");
    type(ctx, "new pw 2");
    EXPECT_EQ(handle_key(ctx, XK_Return, "\r"), GreeterAction::Repaint);
    expect_state(ctx, {"alice", "", "The passwords do not match", true}, "mismatch");
    EXPECT_EQ(ctx.new_password, "");
    EXPECT_EQ(ctx.password_prompt, PasswordPrompt::NewPassword);

    // A click on "Log In" takes the entry like Return.
    type(ctx, "abc");
    EXPECT_EQ(handle_button(ctx, SCREEN, 960, 650), GreeterAction::Repaint);
    type(ctx, "abc");
    EXPECT_EQ(handle_key(ctx, XK_Return, "\r"), GreeterAction::ChangePassword);
    EXPECT_EQ(ctx.new_password, "abc");
    EXPECT_EQ(ctx.password, "");

    apply_login_failure(ctx, "You must choose a longer password.", true);
    expect_state(ctx, {"alice", "", "You must choose a longer password.", true}, "refused");
    EXPECT_EQ(ctx.current_password, "old pw");
    EXPECT_EQ(ctx.new_password, "");
    EXPECT_EQ(ctx.password_prompt, PasswordPrompt::NewPassword);

    type(ctx, "x");
    EXPECT_EQ(handle_key(ctx, XK_Escape, "\x1b"), GreeterAction::DropAvatar);
    expect_state(ctx, {"", "", {}, false}, "escape");
    EXPECT_EQ(ctx.current_password, "");
    EXPECT_STREQ(password_placeholder(ctx.password_prompt), "Password");
}

// A refusal that is not about the expired password (the session did not start after the change)
// ends the change: the password field asks for the password again.
TEST(LoginScreenFlow, OtherRefusalEndsTheChange) {
    GreeterState ctx = greeter();
    set(ctx, {"alice", "old pw", {}, true});
    apply_login_failure(ctx, "", true);
    type(ctx, "new pw");
    apply_login_failure(ctx, "Session launch failed: User 'alice' has no login shell");
    expect_state(ctx, {"alice", "", "Session launch failed: User 'alice' has no login shell", true},
                 "after");
    EXPECT_EQ(ctx.current_password, "");
    EXPECT_EQ(ctx.password_prompt, PasswordPrompt::Password);
    EXPECT_EQ(handle_key(ctx, XK_Return, "\r"), GreeterAction::Submit);
}

TEST(LoginScreenText, ControlCharacterRule) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"a", true},
        {" ", true},
        {"~", true},
        {"\x1f", false},
        {"\x7f", false},
        {"\xC2\x80", false},
        {"\xC2\x9F", false},
        {"\xC2\xA0", true},
        {"\xE2\x82\xAC", true},
        {"\xF0\x9F\x98\x80", true},
        {"", true},
    };
    for (const auto& [text, typable] : cases) {
        EXPECT_EQ(is_typable_text(text), typable) << text;
    }
}

// A remembered name is on offer: its owner types the password and Return; someone else types
// a name, Tab, a password and Return; neither ever puts a password into the name field.
TEST(LoginScreenFlow, BothHabitsWithANameOnOffer) {
    const struct {
        std::vector<std::string> keys;  // "\t" Tab, "\r" Return, anything else typed
        GreeterAction last;
        const char* username;
        const char* password;
    } cases[] = {
        {{"alice pw", "\r"}, GreeterAction::Submit, "alice", "alice pw"},
        {{"bob", "\t"}, GreeterAction::LoadAvatar, "bob", ""},
        {{"bob", "\t", "bob pw", "\r"}, GreeterAction::Submit, "bob", "bob pw"},
        {{"\t", "alice pw", "\t"}, GreeterAction::Repaint, "alice", "alice pw"},
    };
    for (const auto& c : cases) {
        GreeterState ctx = greeter();
        ctx.username = "alice";
        offer_name(ctx);
        GreeterAction action = GreeterAction::Nothing;
        for (const std::string& key : c.keys) {
            const bool tab = key == "\t";
            action = tab || key == "\r" ? handle_key(ctx, tab ? XK_Tab : XK_Return, key)
                                        : (type(ctx, key), GreeterAction::Repaint);
        }
        EXPECT_EQ(action, c.last) << c.keys.size();
        EXPECT_EQ(ctx.username, c.username) << c.keys.size();
        EXPECT_EQ(ctx.password, c.password) << c.keys.size();
    }
}

TEST(SessionChooser, KeysAndPointerPickASession) {
    GreeterState state;
    EXPECT_EQ(handle_key(state, XK_F10, ""), GreeterAction::Nothing);  // only "Default"
    state.session_labels = {"Default", "MATE", "Xfce Session"};
    const Rect button = session_button_rect(SCREEN, false);
    EXPECT_EQ(handle_motion(state, SCREEN, button.x + 1, button.y + 1), GreeterAction::Repaint);
    EXPECT_EQ(state.hovered_button, SESSION_BUTTON);

    EXPECT_EQ(handle_key(state, XK_F10, ""), GreeterAction::Repaint);
    EXPECT_TRUE(state.chooser_open);
    const struct {
        unsigned long keysym;
        size_t highlight;
    } moves[] = {{XK_Up, 0}, {XK_Down, 1}, {XK_Down, 2}, {XK_Down, 2}, {XK_Home, 0}, {XK_End, 2}};
    for (const auto& move : moves) {
        EXPECT_EQ(handle_key(state, move.keysym, ""), GreeterAction::Repaint);
        EXPECT_EQ(state.chooser_highlight, move.highlight);
    }
    EXPECT_EQ(handle_key(state, XK_a, "a"), GreeterAction::Nothing);  // no text reaches a field
    EXPECT_TRUE(state.username.empty());
    EXPECT_EQ(handle_key(state, XK_Return, "\r"), GreeterAction::Repaint);
    EXPECT_FALSE(state.chooser_open);
    EXPECT_EQ(state.session_index, 2U);
    EXPECT_TRUE(state.session_picked);

    // Escape closes without a choice; the fields keep what was typed.
    state.username = "alice";
    handle_key(state, XK_F10, "");
    handle_key(state, XK_Up, "");
    EXPECT_EQ(handle_key(state, XK_Escape, "\x1b"), GreeterAction::Repaint);
    EXPECT_EQ(state.session_index, 2U);
    EXPECT_EQ(state.username, "alice");

    // The pointer: a click on the button opens, hovering highlights, a click picks.
    EXPECT_EQ(handle_button(state, SCREEN, button.x + 1, button.y + 1), GreeterAction::Repaint);
    ASSERT_TRUE(state.chooser_open);
    const Rect first = chooser_item_rect(SCREEN, false, 0, 3);
    const Rect second = chooser_item_rect(SCREEN, false, 1, 3);
    EXPECT_EQ(first.y + first.height, second.y);
    EXPECT_EQ(second.y + 2 * second.height, button.y);
    EXPECT_EQ(handle_motion(state, SCREEN, second.x + 5, second.y + 5), GreeterAction::Repaint);
    EXPECT_EQ(state.chooser_highlight, 1U);
    EXPECT_EQ(handle_button(state, SCREEN, second.x + 5, second.y + 5), GreeterAction::Repaint);
    EXPECT_EQ(state.session_index, 1U);
    EXPECT_FALSE(state.chooser_open);
    // A click elsewhere while open only closes it.
    handle_key(state, XK_F10, "");
    EXPECT_EQ(handle_button(state, SCREEN, SCREEN.login_rect.x + 1, SCREEN.login_rect.y + 1),
              GreeterAction::Repaint);
    EXPECT_FALSE(state.chooser_open);
    EXPECT_EQ(state.session_index, 1U);
}
