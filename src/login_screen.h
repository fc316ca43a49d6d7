// One showing of the login screen: window, grabs, event loop, input rules and teardown.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

#include "accessibility.h"
#include "config.h"
#include "covers.h"
#include "greeter_window.h"
#include "input.h"
#include "keyboard.h"
#include "login_flow.h"
#include "session_list.h"
#include "ui.h"

// StructureNotify, Exposure, PointerMotion, ButtonPress, KeyPress.
inline constexpr long GREETER_EVENT_MASK =
    KeyPressMask | ButtonPressMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
inline constexpr unsigned GREETER_CURSOR_SHAPE = 68;  // left_ptr
inline constexpr int SELECT_TIMEOUT_MS = 1000;
// Showings in a row that could not hold the keyboard before the daemon gives up.
inline constexpr int MAX_SHOWINGS_WITHOUT_INPUT = 3;

// Everything one showing owns; `close_login_screen` releases it (the destructor does too if the
// caller has not).
struct LoginScreen {
    Display* display = nullptr;
    Window root = 0;
    GreeterState state;
    GreeterView view;
    // How a submit is carried out: attempt_login, or a stand-in under test.
    LoginAttempt attempt;
    std::optional<BgraBuffer> avatar;
    // The sessions of this showing; the state holds their names.
    std::vector<DesktopSession> sessions;
    Backdrop backdrop;
    // The look asked for; large text is dropped where it does not fit.
    Look look;
    int minute_key = -1;
    // The last key press or click: after a minute without one, typed passwords go.
    std::chrono::steady_clock::time_point last_input;

    // -1 when the server lacks the extension.
    int xkb_event_base = -1;
    int randr_event_base = -1;
    Atom rules_names = 0;
    KeyboardState keyboard;
    // Set while events are read; acted on once the queue is empty.
    bool keyboard_stale = false;
    bool keyboard_changed = false;
    bool monitors_changed = false;

    LoginScreen() = default;
    LoginScreen(const LoginScreen&) = delete;
    LoginScreen& operator=(const LoginScreen&) = delete;
    ~LoginScreen();
};

// Shows a fresh greeter and returns the PID of the session a successful login started through
// `attempt`; nothing when the greeter could not grab the keyboard and pointer (it is then not
// shown).
std::optional<pid_t> run_login_screen(Display* display, const Config& config, LoginScreen& screen,
                                      LoginAttempt attempt);

// Hands what the greeter holds to `attempt`: the typed password, or while an expired one is
// changed, the current and the new one. A refusal becomes the state's message (and may start or
// end a change); the session process's PID when one started.
std::optional<pid_t> submit_login(GreeterState& state, SessionKind session,
                                  const LoginAttempt& attempt,
                                  const DesktopSession* desktop = nullptr);

// Unmaps the window and releases the grabs; the window stays.
void hide_login_screen(LoginScreen& screen);

// Releases everything bound to the window, destroys it, then releases the rest of the showing.
void close_login_screen(LoginScreen& screen);
