#include "input.h"

#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "text.h"

namespace {

bool changing_password(const GreeterContext& ctx) {
    return ctx.password_prompt != PasswordPrompt::Password;
}

// Return in the password field or "Log In": the login, or a step of the change of an expired
// password. An empty entry of a new password is not taken.
GreeterAction submit(GreeterContext& ctx) {
    switch (ctx.password_prompt) {
        case PasswordPrompt::Password:
            ctx.name_offered = false;
            return GreeterAction::Submit;
        case PasswordPrompt::NewPassword:
            if (ctx.password.empty()) {
                return GreeterAction::Nothing;
            }
            // A copy, then the typed one wiped: the field's pages stay where they are.
            ctx.new_password = ctx.password.copy();
            ctx.password.wipe();
            ctx.password_prompt = PasswordPrompt::RepeatNewPassword;
            return GreeterAction::Repaint;
        case PasswordPrompt::RepeatNewPassword:
            break;
    }
    if (ctx.password.empty()) {
        return GreeterAction::Nothing;
    }
    const bool same = same_secret(ctx.password, ctx.new_password);
    ctx.password.wipe();
    if (!same) {
        ctx.new_password.wipe();
        ctx.password_prompt = PasswordPrompt::NewPassword;
        ctx.message = PASSWORDS_DIFFER_MESSAGE;
        return GreeterAction::Repaint;
    }
    return GreeterAction::ChangePassword;
}

// Avatar loading is skipped for an empty user name: the current avatar stays.
GreeterAction to_password_field(GreeterContext& ctx) {
    ctx.password_focused = true;
    return ctx.username.empty() ? GreeterAction::Repaint : GreeterAction::LoadAvatar;
}

// Tab in the password field while a name is on offer. Typed there first, then Tab: that was a
// name ("bob", Tab, password), now shown as the name, and the password field is empty for the
// password. Tab before typing accepts the offered name. The focus stays either way: typing on
// after the Tab never lands in the name field, where it would show.
GreeterAction take_offered_name(GreeterContext& ctx) {
    ctx.name_offered = false;
    if (ctx.password.empty()) {
        return GreeterAction::Repaint;
    }
    const bool fits = ctx.password.size() <= MAX_USERNAME_BYTES;
    if (fits) {
        wipe_text(ctx.username);
        ctx.username.append(ctx.password.view());
    }
    ctx.password.wipe();
    return fits ? GreeterAction::LoadAvatar : GreeterAction::Repaint;
}

}  // namespace

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

void offer_name(GreeterContext& ctx) {
    ctx.password_focused = true;
    ctx.name_offered = true;
}

GreeterAction handle_key(GreeterContext& ctx, unsigned long keysym, std::string_view text) {
    switch (keysym) {
        case XK_BackSpace:
            if (ctx.password_focused) {
                ctx.password.remove_last_char();
            } else {
                remove_last_char(ctx.username);
            }
            return GreeterAction::Repaint;
        case XK_Tab:
            // The user name is fixed while its expired password is changed.
            if (changing_password(ctx)) {
                return GreeterAction::Nothing;
            }
            ctx.message.reset();
            if (ctx.password_focused && ctx.name_offered) {
                return take_offered_name(ctx);
            }
            if (ctx.password_focused) {
                ctx.password_focused = false;
                return GreeterAction::Repaint;
            }
            return to_password_field(ctx);
        case XK_Return:
            if (ctx.password_focused) {
                return submit(ctx);
            }
            return to_password_field(ctx);
        case XK_Escape:
            wipe_text(ctx.username);
            ctx.password.wipe();
            ctx.current_password.wipe();
            ctx.new_password.wipe();
            ctx.password_prompt = PasswordPrompt::Password;
            ctx.message.reset();
            ctx.password_focused = false;
            ctx.name_offered = false;
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
    if (ctx.password_focused) {
        if (ctx.password.size() + text.size() > MAX_PASSWORD_BYTES || !ctx.password.append(text)) {
            return GreeterAction::Nothing;
        }
        return GreeterAction::Repaint;
    }
    if (ctx.username.size() + text.size() > MAX_USERNAME_BYTES) {
        return GreeterAction::Nothing;
    }
    ctx.username.append(text);
    return GreeterAction::Repaint;
}

GreeterAction handle_button(GreeterContext& ctx, int32_t x, int32_t y) {
    if (rect_contains(ctx.username_rect, x, y)) {
        if (changing_password(ctx)) {
            return GreeterAction::Nothing;
        }
        ctx.password_focused = false;
        ctx.name_offered = false;
        return GreeterAction::Repaint;
    }
    if (rect_contains(ctx.password_rect, x, y)) {
        if (ctx.password_focused) {
            return GreeterAction::Repaint;
        }
        return to_password_field(ctx);
    }
    if (rect_contains(ctx.login_rect, x, y)) {
        return submit(ctx);
    }
    switch (hit_power_button(ctx, x, y)) {
        case POWER_OFF_BUTTON:
            return GreeterAction::PowerOff;
        case REBOOT_BUTTON:
            return GreeterAction::Reboot;
        case CONSOLE_BUTTON:
            return GreeterAction::Console;
        case LAYOUT_BUTTON:
            return GreeterAction::NextLayout;
        default:
            return GreeterAction::Nothing;
    }
}

GreeterAction handle_motion(GreeterContext& ctx, int32_t x, int32_t y) {
    const bool login_hovered = rect_contains(ctx.login_rect, x, y);
    const uint8_t hovered_button = hit_power_button(ctx, x, y);
    const bool changed = login_hovered != ctx.login_hovered || hovered_button != ctx.hovered_button;
    ctx.login_hovered = login_hovered;
    ctx.hovered_button = hovered_button;
    return changed ? GreeterAction::Repaint : GreeterAction::Nothing;
}

bool forget_typed_passwords(GreeterContext& ctx) {
    if (ctx.password.empty() && ctx.current_password.empty() && ctx.new_password.empty() &&
        !changing_password(ctx) && !ctx.message) {
        return false;
    }
    ctx.password.wipe();
    ctx.current_password.wipe();
    ctx.new_password.wipe();
    ctx.password_prompt = PasswordPrompt::Password;
    ctx.message.reset();
    if (ctx.username.empty()) {
        ctx.password_focused = false;
        ctx.name_offered = false;
    } else {
        offer_name(ctx);
    }
    return true;
}

void apply_login_failure(GreeterContext& ctx, const std::string& error, bool password_expired) {
    const bool changing = changing_password(ctx);
    ctx.message = error;
    if (password_expired && !changing) {
        ctx.current_password = ctx.password.copy();
        ctx.message = PASSWORD_EXPIRED_MESSAGE;
    }
    ctx.password.wipe();
    ctx.new_password.wipe();
    if (!password_expired) {
        ctx.current_password.wipe();
        ctx.password_prompt = PasswordPrompt::Password;
        return;
    }
    ctx.password_prompt = PasswordPrompt::NewPassword;
    ctx.password_focused = true;
}
