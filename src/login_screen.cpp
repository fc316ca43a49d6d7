#include "login_screen.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>

#include "avatar.h"
#include "fd.h"
#include "last_user.h"
#include "log.h"
#include "power.h"
#include "session.h"
#include "text.h"

namespace {

static_assert(LAST_USER_NAME_BYTES <= MAX_USERNAME_BYTES, "a remembered name fits the field");

std::string& focused_field(GreeterContext& ctx) {
    return ctx.password_focused ? ctx.password : ctx.username;
}

bool changing_password(const GreeterContext& ctx) {
    return ctx.password_prompt != PasswordPrompt::Password;
}

// Return in the password field or "Log In": the login, or a step of the change of an expired
// password. An empty entry of a new password is not taken.
GreeterAction submit(GreeterContext& ctx) {
    switch (ctx.password_prompt) {
        case PasswordPrompt::Password:
            return GreeterAction::Submit;
        case PasswordPrompt::NewPassword:
            if (ctx.password.empty()) {
                return GreeterAction::Nothing;
            }
            move_secret(ctx.new_password, ctx.password);
            ctx.password_prompt = PasswordPrompt::RepeatNewPassword;
            return GreeterAction::Repaint;
        case PasswordPrompt::RepeatNewPassword:
            break;
    }
    if (ctx.password.empty()) {
        return GreeterAction::Nothing;
    }
    const bool same = ctx.password == ctx.new_password;
    wipe_text(ctx.password);
    if (!same) {
        wipe_text(ctx.new_password);
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

void redraw(LoginScreen& screen, const Config& config) {
    paint_background(screen.ctx, config.background.fallback_color, screen.background);
    const std::string clock = clock_text(config.ui.clock_24h);
    draw_greeter(screen.ctx, clock, screen.avatar);
    XFlush(screen.display);
}

// The key's keysym and UTF-8 text; the caller wipes the text.
unsigned long lookup_key(XKeyEvent& event, KeyText& text) {
    char buffer[KEY_TEXT_BYTES] = {};
    KeySym keysym = NoSymbol;
    const int n = XLookupString(&event, buffer, sizeof buffer, &keysym, nullptr);
    text = key_text_utf8(keysym, std::string_view(buffer, n > 0 ? static_cast<size_t>(n) : 0));
    explicit_bzero(buffer, sizeof buffer);
    return keysym;
}

// Both grabs or neither: a greeter that does not hold the keyboard would hand what is typed
// into it to whoever does.
bool grab_input(Display* display, Window window, Cursor cursor) {
    for (int waited = 0;; waited += GRAB_RETRY_MS) {
        const int keyboard =
            XGrabKeyboard(display, window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
        const int pointer =
            keyboard == GrabSuccess
                ? XGrabPointer(display, window, True, ButtonPressMask | PointerMotionMask,
                               GrabModeAsync, GrabModeAsync, window, cursor, CurrentTime)
                : GrabNotViewable;
        if (keyboard == GrabSuccess && pointer == GrabSuccess) {
            return true;
        }
        XUngrabKeyboard(display, CurrentTime);
        if (waited >= GRAB_TIMEOUT_MS) {
            XUnmapWindow(display, window);
            XFlush(display);
            return false;
        }
        sleep_ms(GRAB_RETRY_MS);
    }
}

bool show(Display* display, const Config& config, LoginScreen& screen) {
    screen.display = display;
    GreeterContext& ctx = screen.ctx;
    const int sn = DefaultScreen(display);
    const Window root = RootWindow(display, sn);
    // Xlib's DisplayWidth/Height are fixed when the connection opens; a resolution change made
    // during a session only shows in the root window's geometry.
    Window geometry_root = 0;
    int gx = 0;
    int gy = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned root_depth = 0;
    if (XGetGeometry(display, root, &geometry_root, &gx, &gy, &width, &height, &border,
                     &root_depth) == 0) {
        width = static_cast<unsigned>(DisplayWidth(display, sn));
        height = static_cast<unsigned>(DisplayHeight(display, sn));
    }
    ctx.display = display;
    ctx.screen = sn;
    ctx.visual = DefaultVisual(display, sn);
    ctx.colormap = DefaultColormap(display, sn);
    ctx.depth = DefaultDepth(display, sn);
    ctx.width = static_cast<int32_t>(width);
    ctx.height = static_cast<int32_t>(height);
    log_message(LogLevel::Info, "Screen: " + std::to_string(width) + "x" + std::to_string(height) +
                                    " depth=" + std::to_string(ctx.depth) +
                                    " screen=" + std::to_string(sn));

    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.colormap = ctx.colormap;
    attrs.event_mask = GREETER_EVENT_MASK;
    ctx.window = XCreateWindow(display, root, 0, 0, width, height, 0, ctx.depth, InputOutput,
                               ctx.visual, CWOverrideRedirect | CWColormap | CWEventMask, &attrs);
    XMapRaised(display, ctx.window);

    screen.cursor = XCreateFontCursor(display, GREETER_CURSOR_SHAPE);
    XDefineCursor(display, ctx.window, screen.cursor);

    if (!grab_input(display, ctx.window, screen.cursor)) {
        log_message(LogLevel::Error,
                    "X: another client holds the keyboard or the pointer; the "
                    "login screen could not grab them within " +
                        std::to_string(GRAB_TIMEOUT_MS) + " ms");
        return false;
    }
    // Whatever was queued before this showing (input typed while a login was checked, events
    // sent to the hidden window) must not act on it.
    XSync(display, True);

    // The picture is prepared on a second thread while the fonts open: on two cores the greeter
    // appears sooner. Only this thread talks to the X server.
    std::optional<BgraBuffer> background;
    std::jthread loader;
    try {
        loader =
            std::jthread([&] { background = load_background(config.background, width, height); });
    } catch (const std::system_error&) {
        background = load_background(config.background, width, height);
    }

    ctx.gc = XCreateGC(display, ctx.window, 0, nullptr);
    ctx.clock_font = open_font(display, sn, CLOCK_FONT);
    ctx.field_font = open_font(display, sn, FIELD_FONT);
    ctx.small_font = open_font(display, sn, SMALL_FONT);
    ctx.draw = XftDrawCreate(display, ctx.window, ctx.visual, ctx.colormap);
    if (loader.joinable()) {
        loader.join();
    }
    screen.background = std::move(background);

    ctx.username.reserve(MAX_USERNAME_BYTES + KEY_TEXT_BYTES);
    for (std::string* secret : {&ctx.password, &ctx.current_password, &ctx.new_password}) {
        secret->reserve(PASSWORD_RESERVE);
    }
    ctx.password_focused = false;
    ctx.login_hovered = false;
    ctx.hovered_button = NO_BUTTON;
    screen.avatar.reset();
    screen.minute_key = -1;
    if (config.ui.remember_user) {
        if (std::optional<std::string> name = load_last_user()) {
            ctx.username.assign(*name);
            ctx.password_focused = true;
            screen.avatar = load_avatar(ctx.username);
        }
    }

    redraw(screen, config);
    return true;
}

void remember_user(const std::string& username) {
    const Result<Ok> saved = save_last_user(username);
    if (!saved.ok()) {
        log_message(LogLevel::Warn, "Cannot remember the last user: " + saved.error());
    }
}

void power_action(GreeterAction action) {
    if (action == GreeterAction::PowerOff) {
        log_message(LogLevel::Info, "Power: initiating power off via sysrq");
        (void)write_sysrq(SYSRQ_POWER_OFF);
    } else if (action == GreeterAction::Reboot) {
        log_message(LogLevel::Info, "Power: initiating reboot via sysrq");
        (void)write_sysrq(SYSRQ_REBOOT);
    } else {
        switch_vt();
    }
}

// Carries out what the input rules asked for; a PID when a session was started.
std::optional<pid_t> perform(LoginScreen& screen, const Config& config, GreeterAction action) {
    GreeterContext& ctx = screen.ctx;
    switch (action) {
        case GreeterAction::Nothing:
            return std::nullopt;
        case GreeterAction::LoadAvatar:
            screen.avatar = load_avatar(ctx.username);
            break;
        case GreeterAction::DropAvatar:
            screen.avatar.reset();
            break;
        case GreeterAction::Submit:
        case GreeterAction::ChangePassword: {
            Result<pid_t, LoginRefusal> result =
                action == GreeterAction::Submit
                    ? attempt_login(ctx.username, ctx.password, config.session.default_)
                    : attempt_password_change(ctx.username, ctx.current_password, ctx.new_password,
                                              config.session.default_);
            if (result.ok()) {
                if (config.ui.remember_user) {
                    remember_user(ctx.username);
                }
                return result.value();
            }
            apply_login_failure(ctx, result.error().message, result.error().password_expired);
            break;
        }
        case GreeterAction::PowerOff:
        case GreeterAction::Reboot:
        case GreeterAction::Console:
            power_action(action);
            return std::nullopt;
        case GreeterAction::Repaint:
            break;
    }
    redraw(screen, config);
    return std::nullopt;
}

std::optional<pid_t> handle_event(LoginScreen& screen, const Config& config, XEvent& event) {
    // Events sent by other clients, and events for an earlier greeter window, are not input.
    if (event.xany.send_event || event.xany.window != screen.ctx.window) {
        return std::nullopt;
    }
    GreeterContext& ctx = screen.ctx;
    switch (event.type) {
        case KeyPress: {
            KeyText text;
            const unsigned long keysym = lookup_key(event.xkey, text);
            const GreeterAction action = handle_key(ctx, keysym, text.view());
            explicit_bzero(text.bytes, sizeof text.bytes);
            return perform(screen, config, action);
        }
        case ButtonPress:
            return perform(screen, config, handle_button(ctx, event.xbutton.x, event.xbutton.y));
        case MotionNotify:
            return perform(screen, config, handle_motion(ctx, event.xmotion.x, event.xmotion.y));
        case Expose:
            return perform(screen, config, GreeterAction::Repaint);
        default:
            return std::nullopt;
    }
}

int current_minute_key() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    return minute_key_at(::localtime_r(&now, &local));
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

GreeterAction handle_key(GreeterContext& ctx, unsigned long keysym, std::string_view text) {
    switch (keysym) {
        case XK_BackSpace:
            remove_last_char(focused_field(ctx));
            return GreeterAction::Repaint;
        case XK_Tab:
            // The user name is fixed while its expired password is changed.
            if (changing_password(ctx)) {
                return GreeterAction::Nothing;
            }
            ctx.message.reset();
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
            wipe_text(ctx.password);
            wipe_text(ctx.current_password);
            wipe_text(ctx.new_password);
            ctx.password_prompt = PasswordPrompt::Password;
            ctx.message.reset();
            ctx.password_focused = false;
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
    std::string& field = focused_field(ctx);
    const size_t cap = ctx.password_focused ? MAX_PASSWORD_BYTES : MAX_USERNAME_BYTES;
    if (field.size() + text.size() > cap) {
        return GreeterAction::Nothing;
    }
    field.append(text);
    return GreeterAction::Repaint;
}

GreeterAction handle_button(GreeterContext& ctx, int32_t x, int32_t y) {
    if (rect_contains(ctx.username_rect, x, y)) {
        if (changing_password(ctx)) {
            return GreeterAction::Nothing;
        }
        ctx.password_focused = false;
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

void apply_login_failure(GreeterContext& ctx, const std::string& error, bool password_expired) {
    const bool changing = changing_password(ctx);
    ctx.message = error;
    if (password_expired && !changing) {
        move_secret(ctx.current_password, ctx.password);
        ctx.message = PASSWORD_EXPIRED_MESSAGE;
    }
    wipe_text(ctx.password);
    wipe_text(ctx.new_password);
    if (!password_expired) {
        wipe_text(ctx.current_password);
        ctx.password_prompt = PasswordPrompt::Password;
        return;
    }
    ctx.password_prompt = PasswordPrompt::NewPassword;
    ctx.password_focused = true;
}

std::optional<pid_t> run_login_screen(Display* display, const Config& config, LoginScreen& screen) {
    if (!show(display, config, screen)) {
        return std::nullopt;
    }
    const int fd = ConnectionNumber(display);
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        (void)::poll(&pfd, 1, SELECT_TIMEOUT_MS);

        const int key = current_minute_key();
        if (key != screen.minute_key) {
            redraw(screen, config);
            screen.minute_key = key;
        }

        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            const std::optional<pid_t> session = handle_event(screen, config, event);
            if (session) {
                return *session;
            }
        }
    }
}

void hide_login_screen(LoginScreen& screen) {
    if (screen.display == nullptr || screen.ctx.window == 0) {
        return;
    }
    XUnmapWindow(screen.display, screen.ctx.window);
    XUngrabKeyboard(screen.display, CurrentTime);
    XUngrabPointer(screen.display, CurrentTime);
    XFlush(screen.display);
}

void close_login_screen(LoginScreen& screen) {
    if (screen.display == nullptr) {
        return;
    }
    GreeterContext& ctx = screen.ctx;
    // The server frees the window's render pictures with the window, Xft's among them; freeing
    // that one afterwards is a protocol error.
    if (ctx.draw != nullptr) {
        XftDrawDestroy(ctx.draw);
        ctx.draw = nullptr;
    }
    if (ctx.window != 0) {
        XDestroyWindow(screen.display, ctx.window);
        ctx.window = 0;
    }
    if (screen.cursor != 0) {
        XFreeCursor(screen.display, screen.cursor);
        screen.cursor = 0;
    }
    screen.avatar.reset();
    release_greeter(ctx);
    screen.background.reset();
    XFlush(screen.display);
    screen.display = nullptr;
}

LoginScreen::~LoginScreen() {
    close_login_screen(*this);
}
