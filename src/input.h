// The greeter's input rules: what a key, a click or a pointer move changes; no X requests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "greeter_layout.h"
#include "greeter_state.h"
#include "texts.h"

// In English; the state holds them translated.
inline constexpr const char* PASSWORD_EXPIRED_MESSAGE =
    N_("Your password has expired. Choose a new one.");
inline constexpr const char* PASSWORDS_DIFFER_MESSAGE = N_("The passwords do not match");
inline constexpr const char* CONFIRM_POWER_OFF_MESSAGE = N_("Press Return again to power off");
inline constexpr const char* CONFIRM_REBOOT_MESSAGE = N_("Press Return again to reboot");
// A keyboard Power Off or Reboot not confirmed within this time is cancelled.
inline constexpr std::chrono::seconds POWER_CONFIRM_TIMEOUT{5};
// Opens the session chooser from anywhere on the screen.
inline constexpr unsigned long SESSION_CHOOSER_KEY = 0xffc7;  // XK_F10

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
    NextLayout,  // the repaint follows the server's state event
    NextLook,
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

// The input rules. They change the greeter's state and say what the X side must do; the pointer
// is hit-tested against the layout the greeter is drawn with.
GreeterAction handle_key(GreeterState& state, unsigned long keysym, std::string_view text);
GreeterAction handle_button(GreeterState& state, const GreeterLayout& layout, int32_t x, int32_t y);
GreeterAction handle_motion(GreeterState& state, const GreeterLayout& layout, int32_t x, int32_t y);
// After INACTIVITY_WIPE_SECONDS without a key or click: every typed password goes, a change of an
// expired password is left for the normal prompt, the message goes, and a user name stays on
// offer. True when something changed (the screen needs painting).
inline constexpr int INACTIVITY_WIPE_SECONDS = 60;
bool forget_typed_passwords(GreeterState& state);

// A refused login or change: the message, the password emptied. An expired password becomes the
// current one and the field asks for a new one; a refusal that is not about an expired password
// ends a change.
void apply_login_failure(GreeterState& state, const std::string& error,
                         bool password_expired = false);

// Removes the last UTF-8 character, zeroing its bytes first.
void remove_last_char(std::string& text);

// Where Tab goes after "Log In": the bar's buttons that are shown, left to right.
std::vector<uint8_t> bar_focus_order(const GreeterState& state);

// A keyboard Power Off or Reboot left unconfirmed for POWER_CONFIRM_TIMEOUT since the last key
// or click is cancelled; true when it was (the screen needs painting).
bool expire_confirmation(GreeterState& state, std::chrono::steady_clock::duration since_input);

// Whether the session button is shown: there is more than "Default".
bool has_session_choice(const GreeterState& state);

// A name is on offer: the focus in the password field, a Tab there takes what was typed as the
// name.
void offer_name(GreeterState& state);
