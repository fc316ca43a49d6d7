// One showing of the login screen: window, grabs, event loop, input rules and teardown.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string_view>

#include "background.h"
#include "config.h"
#include "ui.h"

// StructureNotify, Exposure, PointerMotion, ButtonPress, KeyPress.
inline constexpr long GREETER_EVENT_MASK =
    KeyPressMask | ButtonPressMask | PointerMotionMask | ExposureMask | StructureNotifyMask;
inline constexpr unsigned GREETER_CURSOR_SHAPE = 68;  // left_ptr
inline constexpr int SELECT_TIMEOUT_MS = 1000;
// Another client may hold the keyboard or pointer for a moment; longer, and it is an attack.
inline constexpr int GRAB_TIMEOUT_MS = 1000;
inline constexpr int GRAB_RETRY_MS = 50;
// Showings in a row that could not hold the keyboard before the daemon gives up.
inline constexpr int MAX_SHOWINGS_WITHOUT_INPUT = 3;

inline constexpr const char* PASSWORD_EXPIRED_MESSAGE =
    "Your password has expired. Choose a new one.";
inline constexpr const char* PASSWORDS_DIFFER_MESSAGE = "The passwords do not match";

// Everything one showing owns; `close_login_screen` releases it (the destructor does too if the
// caller has not).
struct LoginScreen {
    Display* display = nullptr;
    Cursor cursor = 0;
    GreeterContext ctx;
    std::optional<BgraBuffer> avatar;
    std::optional<BgraBuffer> background;
    int minute_key = -1;

    LoginScreen() = default;
    LoginScreen(const LoginScreen&) = delete;
    LoginScreen& operator=(const LoginScreen&) = delete;
    ~LoginScreen();
};

// Shows a fresh greeter and returns the PID of the session a successful login started; nothing
// when the greeter could not grab the keyboard and pointer (it is then not shown).
std::optional<pid_t> run_login_screen(Display* display, const Config& config, LoginScreen& screen);

// Unmaps the window and releases the grabs; the window stays.
void hide_login_screen(LoginScreen& screen);

// Releases everything bound to the window, destroys it, then releases the rest of the showing.
void close_login_screen(LoginScreen& screen);

// What the X side does after the input rules changed the state.
enum class GreeterAction {
    Nothing,
    Repaint,
    LoadAvatar,  // then repaint
    DropAvatar,  // then repaint
    Submit,
    ChangePassword,  // the new password was typed twice alike
    PowerOff,
    Reboot,
    Console,
};

// A key's text: at most KEY_TEXT_BYTES bytes, wiped by the caller after use.
struct KeyText {
    char bytes[KEY_TEXT_BYTES] = {};
    size_t length = 0;
    std::string_view view() const { return {bytes, length}; }
};

// The key's text as UTF-8. `lookup` is what XLookupString gave: its ASCII answers (including the
// control characters it makes for Control+key) are kept as they are; anything else comes from
// the keysym, since XLookupString in the C locale answers Latin-1 bytes or nothing.
KeyText key_text_utf8(unsigned long keysym, std::string_view lookup);

// Text entry: whether the text may be typed at all (no C0 or C1 control character).
bool is_typable_text(std::string_view utf8);

// The input rules. They change the context's input state and say what the X side must do.
GreeterAction handle_key(GreeterContext& ctx, unsigned long keysym, std::string_view text);
GreeterAction handle_button(GreeterContext& ctx, int32_t x, int32_t y);
GreeterAction handle_motion(GreeterContext& ctx, int32_t x, int32_t y);
// A refused login or change: the message, the password emptied. An expired password becomes the
// current one and the field asks for a new one; a refusal that is not about an expired password
// ends a change.
void apply_login_failure(GreeterContext& ctx, const std::string& error,
                         bool password_expired = false);

// Removes the last UTF-8 character, zeroing its bytes first.
void remove_last_char(std::string& text);
