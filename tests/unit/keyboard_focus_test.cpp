// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "input.h"

#include <X11/keysym.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::string focus_of(const GreeterState& state) {
    switch (state.focused_button) {
        case NO_BUTTON:
            return state.password_focused ? "password" : "name";
        case LOGIN_BUTTON:
            return "Log In";
        case POWER_OFF_BUTTON:
            return "Power Off";
        case REBOOT_BUTTON:
            return "Reboot";
        case CONSOLE_BUTTON:
            return "Console";
        case SESSION_BUTTON:
            return "session";
        case LAYOUT_BUTTON:
            return "layout";
        case ACCESS_BUTTON:
            return "Contrast";
        default:
            return "?";
    }
}

GreeterState greeter(bool sessions, bool layouts) {
    GreeterState state;
    state.password = SecretText::with_capacity(PASSWORD_RESERVE);
    if (sessions) {
        state.session_labels = {"Default", "Xfce Session"};
    }
    if (layouts) {
        state.layout_label = "US";
    }
    return state;
}

// Where each press of `keysym` puts the focus, from the name field of a fresh greeter.
std::vector<std::string> walk(bool sessions, bool layouts, unsigned long keysym, size_t presses) {
    GreeterState state = greeter(sessions, layouts);
    std::vector<std::string> stops;
    for (size_t i = 0; i < presses; ++i) {
        EXPECT_EQ(handle_key(state, keysym, ""), GreeterAction::Repaint);
        stops.push_back(focus_of(state));
    }
    return stops;
}

}  // namespace

TEST(KeyboardFocus, TabOrderFollowsTheScreen) {
    using Stops = std::vector<std::string>;
    const struct {
        bool sessions;
        bool layouts;
        Stops forward;
    } cases[] = {
        {false,
         false,
         {"password", "Log In", "Contrast", "Power Off", "Reboot", "Console", "name"}},
        {false,
         true,
         {"password", "Log In", "Contrast", "Power Off", "Reboot", "Console", "layout", "name"}},
        {true,
         false,
         {"password", "Log In", "Contrast", "Power Off", "Reboot", "Console", "session", "name"}},
        {true,
         true,
         {"password", "Log In", "Contrast", "Power Off", "Reboot", "Console", "session", "layout",
          "name"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(walk(c.sessions, c.layouts, XK_Tab, c.forward.size()), c.forward)
            << c.sessions << c.layouts;
        // Shift+Tab walks the same round the other way.
        Stops backward(c.forward.rbegin() + 1, c.forward.rend());
        backward.emplace_back("name");
        EXPECT_EQ(walk(c.sessions, c.layouts, XK_ISO_Left_Tab, backward.size()), backward)
            << c.sessions << c.layouts;
    }
}

TEST(KeyboardFocus, ReturnAndSpaceActivateTheFocusedButton) {
    const struct {
        uint8_t button;
        unsigned long keysym;
        GreeterAction action;
    } cases[] = {
        {LOGIN_BUTTON, XK_Return, GreeterAction::Submit},
        {LOGIN_BUTTON, XK_space, GreeterAction::Submit},
        {CONSOLE_BUTTON, XK_Return, GreeterAction::Console},
        {CONSOLE_BUTTON, XK_space, GreeterAction::Console},
        {LAYOUT_BUTTON, XK_KP_Enter, GreeterAction::NextLayout},
        {ACCESS_BUTTON, XK_space, GreeterAction::ToggleContrast},
        {SESSION_BUTTON, XK_space, GreeterAction::Repaint},
        {POWER_OFF_BUTTON, XK_Return, GreeterAction::Repaint},
        {REBOOT_BUTTON, XK_space, GreeterAction::Repaint},
    };
    for (const auto& c : cases) {
        GreeterState state = greeter(true, true);
        state.username = "alice";
        state.focused_button = c.button;
        EXPECT_EQ(handle_key(state, c.keysym, c.keysym == XK_space ? " " : "\r"), c.action)
            << int{c.button};
        EXPECT_EQ(state.chooser_open, c.button == SESSION_BUTTON);
        EXPECT_EQ(state.username, "alice");  // a space is never typed while a button has focus
        EXPECT_TRUE(state.password.empty());
    }
}

// Power Off and Reboot by keyboard: a second Return carries them out; any other key, a click or
// five quiet seconds cancel, and the cancelling key does nothing else.
TEST(KeyboardFocus, PowerNeedsASecondReturn) {
    const GreeterLayout screen = greeter_layout(1920, 1080);
    const struct {
        uint8_t button;
        const char* prompt;
        unsigned long second;
        GreeterAction action;
        uint8_t focus_after;
    } cases[] = {
        {POWER_OFF_BUTTON, "Press Return again to power off", XK_Return, GreeterAction::PowerOff,
         POWER_OFF_BUTTON},
        {REBOOT_BUTTON, "Press Return again to reboot", XK_Return, GreeterAction::Reboot,
         REBOOT_BUTTON},
        {REBOOT_BUTTON, "Press Return again to reboot", XK_KP_Enter, GreeterAction::Reboot,
         REBOOT_BUTTON},
        {POWER_OFF_BUTTON, "Press Return again to power off", XK_space, GreeterAction::Repaint,
         POWER_OFF_BUTTON},
        {REBOOT_BUTTON, "Press Return again to reboot", XK_Tab, GreeterAction::Repaint,
         REBOOT_BUTTON},
        {REBOOT_BUTTON, "Press Return again to reboot", XK_Escape, GreeterAction::Repaint,
         REBOOT_BUTTON},
        {REBOOT_BUTTON, "Press Return again to reboot", XK_F10, GreeterAction::Repaint,
         REBOOT_BUTTON},
    };
    for (const auto& c : cases) {
        GreeterState state = greeter(true, false);
        state.focused_button = c.button;
        EXPECT_EQ(handle_key(state, XK_Return, "\r"), GreeterAction::Repaint);
        EXPECT_EQ(state.confirming, c.button);
        EXPECT_EQ(state.message, c.prompt);
        EXPECT_EQ(handle_key(state, c.second, ""), c.action) << c.second;
        EXPECT_EQ(state.confirming, NO_BUTTON);
        EXPECT_FALSE(state.message);
        EXPECT_EQ(state.focused_button, c.focus_after);
        EXPECT_FALSE(state.chooser_open);
    }

    // A click cancels and still does what it does: here, nothing but the repaint.
    GreeterState state = greeter(false, false);
    state.focused_button = REBOOT_BUTTON;
    (void)handle_key(state, XK_Return, "\r");
    EXPECT_EQ(handle_button(state, screen, 5, 5), GreeterAction::Repaint);
    EXPECT_EQ(state.confirming, NO_BUTTON);
    EXPECT_EQ(handle_key(state, XK_Return, "\r"), GreeterAction::Repaint);  // asks again

    const struct {
        std::chrono::steady_clock::duration quiet;
        bool expired;
    } waits[] = {{0s, false}, {4999ms, false}, {5s, true}, {60s, true}};
    for (const auto& w : waits) {
        GreeterState waiting = greeter(false, false);
        waiting.focused_button = POWER_OFF_BUTTON;
        (void)handle_key(waiting, XK_Return, "\r");
        EXPECT_EQ(expire_confirmation(waiting, w.quiet), w.expired);
        EXPECT_EQ(waiting.confirming == NO_BUTTON, w.expired);
        EXPECT_EQ(waiting.message.has_value(), !w.expired);
    }
    GreeterState idle = greeter(false, false);
    EXPECT_FALSE(expire_confirmation(idle, 60s));
}

// On a button nothing is typed or erased; a click on a field or Escape takes the focus back.
TEST(KeyboardFocus, ButtonsTakeNoText) {
    const GreeterLayout screen = greeter_layout(1920, 1080);
    GreeterState state = greeter(false, false);
    state.username = "bob";
    state.focused_button = CONSOLE_BUTTON;
    EXPECT_EQ(handle_key(state, XK_a, "a"), GreeterAction::Nothing);
    EXPECT_EQ(handle_key(state, XK_BackSpace, "\b"), GreeterAction::Nothing);
    EXPECT_EQ(state.username, "bob");
    EXPECT_EQ(handle_button(state, screen, 900, 570), GreeterAction::LoadAvatar);
    EXPECT_EQ(focus_of(state), "password");
    state.focused_button = LOGIN_BUTTON;
    EXPECT_EQ(handle_key(state, XK_Escape, "\x1b"), GreeterAction::DropAvatar);
    EXPECT_EQ(focus_of(state), "name");
}
