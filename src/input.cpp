#include "input.h"

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "text.h"

static_assert(SESSION_CHOOSER_KEY == XK_F10);

namespace {

bool changing_password(const GreeterState& state) {
    return state.password_prompt != PasswordPrompt::Password;
}

// Return in the password field or "Log In": the login, or a step of the change of an expired
// password. An empty entry of a new password is not taken.
GreeterAction submit(GreeterState& state) {
    switch (state.password_prompt) {
        case PasswordPrompt::Password:
            state.name_offered = false;
            return GreeterAction::Submit;
        case PasswordPrompt::NewPassword:
            if (state.password.empty()) {
                return GreeterAction::Nothing;
            }
            // A copy, then the typed one wiped: the field's pages stay where they are.
            state.new_password = state.password.copy();
            state.password.wipe();
            state.password_prompt = PasswordPrompt::RepeatNewPassword;
            return GreeterAction::Repaint;
        case PasswordPrompt::RepeatNewPassword:
            break;
    }
    if (state.password.empty()) {
        return GreeterAction::Nothing;
    }
    const bool same = same_secret(state.password, state.new_password);
    state.password.wipe();
    if (!same) {
        state.new_password.wipe();
        state.password_prompt = PasswordPrompt::NewPassword;
        state.message = tr(PASSWORDS_DIFFER_MESSAGE);
        return GreeterAction::Repaint;
    }
    return GreeterAction::ChangePassword;
}

// Avatar loading is skipped for an empty user name: the current avatar stays.
GreeterAction to_password_field(GreeterState& state) {
    state.password_focused = true;
    return state.username.empty() ? GreeterAction::Repaint : GreeterAction::LoadAvatar;
}

// Tab in the password field while a name is on offer. Typed there first, then Tab: that was a
// name ("bob", Tab, password), now shown as the name, and the password field is empty for the
// password. Tab before typing accepts the offered name. The focus stays either way: typing on
// after the Tab never lands in the name field, where it would show.
GreeterAction take_offered_name(GreeterState& state) {
    state.name_offered = false;
    if (state.password.empty()) {
        return GreeterAction::Repaint;
    }
    const bool fits = state.password.size() <= MAX_USERNAME_BYTES;
    if (fits) {
        wipe_text(state.username);
        state.username.append(state.password.view());
    }
    state.password.wipe();
    return fits ? GreeterAction::LoadAvatar : GreeterAction::Repaint;
}

bool with_layout_button(const GreeterState& state) {
    return !state.layout_label.empty();
}

GreeterAction open_chooser(GreeterState& state) {
    state.chooser_open = true;
    state.chooser_highlight = state.session_index;
    return GreeterAction::Repaint;
}

GreeterAction pick_session(GreeterState& state, size_t index) {
    state.session_index = index;
    state.session_picked = true;
    state.chooser_open = false;
    return GreeterAction::Repaint;
}

// While the chooser is open every key is its own: nothing typed reaches a field.
GreeterAction chooser_key(GreeterState& state, unsigned long keysym) {
    const size_t last = state.session_labels.size() - 1;
    switch (keysym) {
        case XK_Up:
        case XK_KP_Up:
            state.chooser_highlight -= state.chooser_highlight > 0 ? 1 : 0;
            return GreeterAction::Repaint;
        case XK_Down:
        case XK_KP_Down:
            state.chooser_highlight += state.chooser_highlight < last ? 1 : 0;
            return GreeterAction::Repaint;
        case XK_Home:
            state.chooser_highlight = 0;
            return GreeterAction::Repaint;
        case XK_End:
            state.chooser_highlight = last;
            return GreeterAction::Repaint;
        case XK_Return:
        case XK_KP_Enter:
        case XK_space:
            return pick_session(state, std::min(state.chooser_highlight, last));
        case XK_Escape:
        case SESSION_CHOOSER_KEY:
            state.chooser_open = false;
            return GreeterAction::Repaint;
        default:
            return GreeterAction::Nothing;
    }
}

GreeterAction chooser_button(GreeterState& state, const GreeterLayout& layout, int32_t x,
                             int32_t y) {
    const std::optional<size_t> item =
        hit_chooser_item(layout, with_layout_button(state), state.session_labels.size(), x, y);
    if (item) {
        return pick_session(state, *item);
    }
    // A click elsewhere only closes it.
    state.chooser_open = false;
    return GreeterAction::Repaint;
}

void cancel_confirmation(GreeterState& state) {
    state.confirming = NO_BUTTON;
    state.message.reset();
}

// The focus on a field: `password` says which.
GreeterAction focus_field(GreeterState& state, bool password) {
    state.focused_button = NO_BUTTON;
    state.password_focused = password;
    state.name_offered = false;
    return GreeterAction::Repaint;
}

// Tab or Shift+Tab while a button has the focus: "Log In", the bar's buttons, then round to the
// name field (and back from "Log In" to the password field).
GreeterAction move_button_focus(GreeterState& state, bool backwards) {
    std::vector<uint8_t> order = bar_focus_order(state);
    order.insert(order.begin(), LOGIN_BUTTON);
    const auto at = std::find(order.begin(), order.end(), state.focused_button);
    if (at == order.end()) {
        return focus_field(state, false);
    }
    if (backwards) {
        return at == order.begin() ? focus_field(state, true)
                                   : (state.focused_button = *(at - 1), GreeterAction::Repaint);
    }
    return at + 1 == order.end() ? focus_field(state, false)
                                 : (state.focused_button = *(at + 1), GreeterAction::Repaint);
}

// Shift+Tab in a field: back to the name field, or from there to the bar's last button.
GreeterAction focus_backwards(GreeterState& state) {
    if (state.password_focused) {
        return focus_field(state, false);
    }
    state.focused_button = bar_focus_order(state).back();
    return GreeterAction::Repaint;
}

// Return or Space on the focused button: what a click on it does, except that Power Off and
// Reboot first ask for a second Return.
GreeterAction activate_button(GreeterState& state) {
    switch (state.focused_button) {
        case LOGIN_BUTTON:
            return submit(state);
        case SESSION_BUTTON:
            return has_session_choice(state) ? open_chooser(state) : GreeterAction::Nothing;
        case LAYOUT_BUTTON:
            return GreeterAction::NextLayout;
        case CONSOLE_BUTTON:
            return GreeterAction::Console;
        case ACCESS_BUTTON:
            return GreeterAction::NextLook;
        case POWER_OFF_BUTTON:
        case REBOOT_BUTTON:
            state.confirming = state.focused_button;
            state.message = tr(state.confirming == POWER_OFF_BUTTON ? CONFIRM_POWER_OFF_MESSAGE
                                                                    : CONFIRM_REBOOT_MESSAGE);
            return GreeterAction::Repaint;
        default:
            return GreeterAction::Nothing;
    }
}

// A key while Power Off or Reboot waits: Return carries it out, any other key only cancels.
GreeterAction confirm_key(GreeterState& state, unsigned long keysym) {
    const uint8_t button = state.confirming;
    cancel_confirmation(state);
    if (keysym != XK_Return && keysym != XK_KP_Enter) {
        return GreeterAction::Repaint;
    }
    return button == POWER_OFF_BUTTON ? GreeterAction::PowerOff : GreeterAction::Reboot;
}

// A key while a button has the focus: Tab moves on, Return or Space activates, Escape clears
// the form; nothing is typed.
GreeterAction button_key(GreeterState& state, unsigned long keysym) {
    switch (keysym) {
        case XK_Tab:
        case XK_ISO_Left_Tab:
            state.message.reset();
            return move_button_focus(state, keysym == XK_ISO_Left_Tab);
        case XK_Return:
        case XK_KP_Enter:
        case XK_space:
        case XK_KP_Space:
            return activate_button(state);
        default:
            return GreeterAction::Nothing;
    }
}

}  // namespace

std::vector<uint8_t> bar_focus_order(const GreeterState& state) {
    std::vector<uint8_t> order{ACCESS_BUTTON, POWER_OFF_BUTTON, REBOOT_BUTTON, CONSOLE_BUTTON};
    if (has_session_choice(state)) {
        order.insert(state.session_at_left ? order.begin() + 1 : order.end(), SESSION_BUTTON);
    }
    if (with_layout_button(state)) {
        order.push_back(LAYOUT_BUTTON);
    }
    return order;
}

bool expire_confirmation(GreeterState& state, std::chrono::steady_clock::duration since_input) {
    if (state.confirming == NO_BUTTON || since_input < POWER_CONFIRM_TIMEOUT) {
        return false;
    }
    cancel_confirmation(state);
    return true;
}

bool has_session_choice(const GreeterState& state) {
    return state.session_labels.size() > 1;
}

KeyText key_text_utf8(unsigned long keysym, std::string_view lookup) {
    KeyText text;
    bool ascii = !lookup.empty();
    for (const char c : lookup) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    if (ascii) {
        text.length = std::min(lookup.size(), sizeof text.bytes);
        std::memcpy(text.bytes, lookup.data(), text.length);
        return text;
    }
    const int n =
        xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(keysym), text.bytes, sizeof text.bytes);
    // n counts the terminating NUL; 0 means the keysym has no text, -1 a too small buffer.
    text.length = n > 1 ? static_cast<size_t>(n - 1) : 0;
    return text;
}

bool is_typable_text(std::string_view utf8) {
    return !has_control_char(utf8);
}

void remove_last_char(std::string& text) {
    const size_t n = last_utf8_char_length(text);
    const size_t keep = text.size() - n;
    explicit_bzero(text.data() + keep, n);
    text.resize(keep);
}

void offer_name(GreeterState& state) {
    state.focused_button = NO_BUTTON;
    state.password_focused = true;
    state.name_offered = true;
}

GreeterAction handle_key(GreeterState& state, unsigned long keysym, std::string_view text) {
    if (state.chooser_open && has_session_choice(state)) {
        return chooser_key(state, keysym);
    }
    if (state.confirming != NO_BUTTON) {
        return confirm_key(state, keysym);
    }
    if (keysym == SESSION_CHOOSER_KEY) {
        return has_session_choice(state) ? open_chooser(state) : GreeterAction::Nothing;
    }
    if (state.focused_button != NO_BUTTON && keysym != XK_Escape) {
        return button_key(state, keysym);
    }
    switch (keysym) {
        case XK_BackSpace:
            if (state.password_focused) {
                state.password.remove_last_char();
            } else {
                remove_last_char(state.username);
            }
            return GreeterAction::Repaint;
        case XK_Tab:
            // The user name is fixed while its expired password is changed.
            if (changing_password(state)) {
                return GreeterAction::Nothing;
            }
            state.message.reset();
            if (state.password_focused && state.name_offered) {
                return take_offered_name(state);
            }
            if (state.password_focused) {
                state.focused_button = LOGIN_BUTTON;
                return GreeterAction::Repaint;
            }
            return to_password_field(state);
        case XK_ISO_Left_Tab:
            if (changing_password(state)) {
                return GreeterAction::Nothing;
            }
            state.message.reset();
            return focus_backwards(state);
        case XK_Return:
            if (state.password_focused) {
                return submit(state);
            }
            return to_password_field(state);
        case XK_Escape:
            wipe_text(state.username);
            state.password.wipe();
            state.current_password.wipe();
            state.new_password.wipe();
            state.password_prompt = PasswordPrompt::Password;
            state.message.reset();
            state.password_focused = false;
            state.name_offered = false;
            state.focused_button = NO_BUTTON;
            return GreeterAction::DropAvatar;
        default:
            break;
    }
    if (text.empty()) {
        return GreeterAction::Nothing;
    }
    if (!is_valid_utf8(text)) {
        return GreeterAction::Repaint;
    }
    if (!is_typable_text(text)) {
        return GreeterAction::Nothing;
    }
    if (state.password_focused) {
        if (state.password.size() + text.size() > MAX_PASSWORD_BYTES ||
            !state.password.append(text)) {
            return GreeterAction::Nothing;
        }
        return GreeterAction::Repaint;
    }
    if (state.username.size() + text.size() > MAX_USERNAME_BYTES) {
        return GreeterAction::Nothing;
    }
    state.username.append(text);
    return GreeterAction::Repaint;
}

GreeterAction handle_button(GreeterState& state, const GreeterLayout& layout, int32_t x,
                            int32_t y) {
    if (state.confirming != NO_BUTTON) {
        cancel_confirmation(state);
        const GreeterAction action = handle_button(state, layout, x, y);
        return action == GreeterAction::Nothing ? GreeterAction::Repaint : action;
    }
    if (state.chooser_open && has_session_choice(state)) {
        return chooser_button(state, layout, x, y);
    }
    if (has_session_choice(state) &&
        rect_contains(session_button_rect(layout, with_layout_button(state)), x, y)) {
        return open_chooser(state);
    }
    if (rect_contains(layout.username_rect, x, y)) {
        if (changing_password(state)) {
            return GreeterAction::Nothing;
        }
        return focus_field(state, false);
    }
    if (rect_contains(layout.password_rect, x, y)) {
        state.focused_button = NO_BUTTON;
        if (state.password_focused) {
            return GreeterAction::Repaint;
        }
        return to_password_field(state);
    }
    if (rect_contains(layout.login_rect, x, y)) {
        return submit(state);
    }
    switch (hit_bar_button(layout, !state.layout_label.empty(), x, y)) {
        case POWER_OFF_BUTTON:
            return GreeterAction::PowerOff;
        case REBOOT_BUTTON:
            return GreeterAction::Reboot;
        case CONSOLE_BUTTON:
            return GreeterAction::Console;
        case LAYOUT_BUTTON:
            return GreeterAction::NextLayout;
        case ACCESS_BUTTON:
            return GreeterAction::NextLook;
        default:
            return GreeterAction::Nothing;
    }
}

GreeterAction handle_motion(GreeterState& state, const GreeterLayout& layout, int32_t x,
                            int32_t y) {
    const bool login_hovered = rect_contains(layout.login_rect, x, y);
    uint8_t hovered_button = hit_bar_button(layout, with_layout_button(state), x, y);
    if (has_session_choice(state) &&
        rect_contains(session_button_rect(layout, with_layout_button(state)), x, y)) {
        hovered_button = SESSION_BUTTON;
    }
    bool changed = login_hovered != state.login_hovered || hovered_button != state.hovered_button;
    if (state.chooser_open && has_session_choice(state)) {
        if (const std::optional<size_t> item = hit_chooser_item(layout, with_layout_button(state),
                                                                state.session_labels.size(), x, y);
            item && *item != state.chooser_highlight) {
            state.chooser_highlight = *item;
            changed = true;
        }
    }
    state.login_hovered = login_hovered;
    state.hovered_button = hovered_button;
    return changed ? GreeterAction::Repaint : GreeterAction::Nothing;
}

bool forget_typed_passwords(GreeterState& state) {
    if (state.password.empty() && state.current_password.empty() && state.new_password.empty() &&
        !changing_password(state) && !state.message) {
        return false;
    }
    state.password.wipe();
    state.current_password.wipe();
    state.new_password.wipe();
    state.password_prompt = PasswordPrompt::Password;
    state.message.reset();
    if (state.username.empty()) {
        state.password_focused = false;
        state.name_offered = false;
    } else {
        offer_name(state);
    }
    return true;
}

void apply_login_failure(GreeterState& state, const std::string& error, bool password_expired) {
    const bool changing = changing_password(state);
    state.message = error;
    if (password_expired && !changing) {
        state.current_password = state.password.copy();
        state.message = tr(PASSWORD_EXPIRED_MESSAGE);
    }
    state.password.wipe();
    state.new_password.wipe();
    if (!password_expired) {
        state.current_password.wipe();
        state.password_prompt = PasswordPrompt::Password;
        return;
    }
    state.password_prompt = PasswordPrompt::NewPassword;
    state.password_focused = true;
}
