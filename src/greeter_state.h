// What one showing of the login screen holds apart from X: the typed texts, the focus, the
// prompt, the message, what the pointer is over. The input rules change it; drawing reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "secret.h"

inline constexpr uint8_t POWER_OFF_BUTTON = 0;
inline constexpr uint8_t REBOOT_BUTTON = 1;
inline constexpr uint8_t CONSOLE_BUTTON = 2;
inline constexpr uint8_t NO_BUTTON = 3;
inline constexpr uint8_t LAYOUT_BUTTON = 4;
inline constexpr uint8_t SESSION_BUTTON = 5;
inline constexpr uint8_t LOGIN_BUTTON = 6;
inline constexpr uint8_t ACCESS_BUTTON = 7;

// Linux-PAM answers at most 512 bytes; the user-name cap keeps every drawn text within one
// X request.
inline constexpr size_t MAX_PASSWORD_BYTES = 512;
inline constexpr size_t MAX_USERNAME_BYTES = 256;
// XLookupString fills at most this many bytes per key press.
inline constexpr size_t KEY_TEXT_BYTES = 32;
// A full field and one more key fit a secret's pages: they never grow.
inline constexpr size_t PASSWORD_RESERVE = MAX_PASSWORD_BYTES + KEY_TEXT_BYTES;
static_assert(PASSWORD_RESERVE <= SecretText::DEFAULT_CAPACITY);

// What the password field asks for: the password, or while an expired one is changed, the new
// one and then the same again.
enum class PasswordPrompt : uint8_t { Password, NewPassword, RepeatNewPassword };

struct GreeterState {
    std::string username;
    SecretText password;
    std::optional<std::string> message;
    PasswordPrompt password_prompt = PasswordPrompt::Password;
    // While an expired password is changed: the current password and the first entry of the new
    // one.
    SecretText current_password;
    SecretText new_password;

    bool password_focused = false;
    // The name field holds a name that whoever sits here did not type (the remembered user's, or
    // the one left after an idle minute) and the focus is in the password field: what is typed
    // there before a Tab was that person's own name, so Tab makes it the name.
    bool name_offered = false;
    bool login_hovered = false;
    uint8_t hovered_button = NO_BUTTON;
    // The button that has the keyboard focus (NO_BUTTON: a field has it, `password_focused`
    // says which).
    uint8_t focused_button = NO_BUTTON;
    // Power Off or Reboot chosen by keyboard and waiting for a second Return; NO_BUTTON for none.
    uint8_t confirming = NO_BUTTON;
    // The session button stands left of the power buttons (a narrow screen): Tab follows.
    bool session_at_left = false;
    bool caps_lock = false;
    // The active keyboard layout's name; empty with one layout (and then no layout button).
    std::string layout_label;

    // The session chooser: "Default" first, then the sessions' names; shown only with more than
    // one.
    std::vector<std::string> session_labels;
    size_t session_index = 0;
    // Chosen by hand in this showing: a name typed afterwards does not bring back its own.
    bool session_picked = false;
    bool chooser_open = false;
    size_t chooser_highlight = 0;
};
