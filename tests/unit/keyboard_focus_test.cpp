// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "input.h"

#include <X11/keysym.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

// By button number (greeter_state.h); NO_BUTTON: the field `password_focused` names.
std::string focus_of(const GreeterState& s) {
    const char* names[] = {"Power Off", "Reboot",  "Console", "",
                           "layout",    "session", "Log In",  "Aa"};
    return s.focused_button == NO_BUTTON ? (s.password_focused ? "password" : "name")
                                         : names[s.focused_button];
}

GreeterState greeter(bool sessions, bool layouts, uint8_t focus = NO_BUTTON) {
    GreeterState state;
    state.password = SecretText::with_capacity(PASSWORD_RESERVE);
    state.session_labels = sessions ? std::vector<std::string>{"Default", "Xfce"}
                                    : std::vector<std::string>{"Default"};
    state.layout_label = layouts ? "US" : "";
    state.focused_button = focus;
    return state;
}

}  // namespace

// Each press of the key from the name field round to it again, "|" between the stops.
TEST(KeyboardFocus, TabAndShiftTabFollowTheScreen) {
    const struct {
        bool sessions, layouts;
        unsigned long key;
        const char* stops;
        bool session_at_left = false;
    } cases[] = {
        {false, false, XK_Tab, "password|Log In|Aa|Power Off|Reboot|Console|name"},
        {true, false, XK_Tab, "password|Log In|Aa|Power Off|Reboot|Console|session|name"},
        {true, true, XK_Tab, "password|Log In|Aa|Power Off|Reboot|Console|session|layout|name"},
        {false, true, XK_ISO_Left_Tab, "layout|Console|Reboot|Power Off|Aa|Log In|password|name"},
        // A narrow screen puts the session button after "Aa".
        {true, true, XK_Tab, "password|Log In|Aa|session|Power Off|Reboot|Console|layout|name",
         true},
    };
    for (const auto& c : cases) {
        GreeterState state = greeter(c.sessions, c.layouts);
        state.session_at_left = c.session_at_left;
        std::string walked;
        for (int i = 0; i < 12 && (walked.empty() || focus_of(state) != "name"); ++i) {
            EXPECT_EQ(handle_key(state, c.key, ""), GreeterAction::Repaint);
            walked += (walked.empty() ? "" : "|") + focus_of(state);
        }
        EXPECT_EQ(walked, c.stops);
    }
}

TEST(KeyboardFocus, ReturnOrSpaceActivatesAndPowerAsksOnce) {
    const struct {
        uint8_t button;
        unsigned long first, second;
        GreeterAction action;
    } cases[] = {
        {LOGIN_BUTTON, XK_space, 0, GreeterAction::Submit},
        {CONSOLE_BUTTON, XK_Return, 0, GreeterAction::Console},
        {LAYOUT_BUTTON, XK_KP_Enter, 0, GreeterAction::NextLayout},
        {ACCESS_BUTTON, XK_space, 0, GreeterAction::NextLook},
        {POWER_OFF_BUTTON, XK_Return, XK_Return, GreeterAction::PowerOff},
        {REBOOT_BUTTON, XK_space, XK_KP_Enter, GreeterAction::Reboot},
        {REBOOT_BUTTON, XK_Return, XK_space, GreeterAction::Repaint},  // cancelled, no more
        {POWER_OFF_BUTTON, XK_Return, XK_Tab, GreeterAction::Repaint},
    };
    for (const auto& c : cases) {
        GreeterState state = greeter(true, true, c.button);
        state.username = "alice";
        GreeterAction action = handle_key(state, c.first, c.first == XK_space ? " " : "\r");
        if (c.second != 0) {
            EXPECT_EQ(action, GreeterAction::Repaint);
            EXPECT_EQ(state.message, c.button == REBOOT_BUTTON ? "Press Return again to reboot"
                                                               : "Press Return again to power off");
            action = handle_key(state, c.second, "");
            EXPECT_FALSE(state.message);
            EXPECT_EQ(state.focused_button, c.button);
        }
        EXPECT_EQ(action, c.action) << int{c.button} << " " << c.second;
        EXPECT_EQ(state.username, "alice");  // nothing typed while a button has the focus
        EXPECT_EQ(handle_key(state, XK_a, "a"), GreeterAction::Nothing);
    }
    GreeterState state = greeter(true, false, SESSION_BUTTON);
    EXPECT_EQ(handle_key(state, XK_space, " "), GreeterAction::Repaint);
    EXPECT_TRUE(state.chooser_open);
}

// Cancelled by a click (which still does its own thing) or 5 s without a key or click.
TEST(KeyboardFocus, PowerQuestionEnds) {
    GreeterState state = greeter(false, false, REBOOT_BUTTON);
    (void)handle_key(state, XK_Return, "\r");
    EXPECT_EQ(handle_button(state, greeter_layout(1920, 1080), 900, 570), GreeterAction::Repaint);
    EXPECT_EQ(state.confirming, NO_BUTTON);
    EXPECT_EQ(focus_of(state), "password");  // a click on a field takes the focus back
    for (const auto& [quiet, expired] : {std::pair{4999ms, false}, std::pair{5000ms, true}}) {
        GreeterState waiting = greeter(false, false, POWER_OFF_BUTTON);
        (void)handle_key(waiting, XK_Return, "\r");
        EXPECT_EQ(expire_confirmation(waiting, quiet), expired);
        EXPECT_EQ(waiting.message.has_value(), !expired);
        EXPECT_EQ(handle_key(waiting, XK_Return, "\r"),
                  expired ? GreeterAction::Repaint : GreeterAction::PowerOff);
    }
}
