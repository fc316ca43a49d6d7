#include "login_screen.h"

#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>
#include <thread>

#include "accessibility.h"
#include "avatar.h"
#include "contrast.h"
#include "fd.h"
#include "greeter_window.h"
#include "last_user.h"
#include "log.h"
#include "monitors.h"
#include "power.h"
#include "session_menu.h"
#include "supervise.h"
#include "text.h"

namespace {

static_assert(LAST_USER_NAME_BYTES <= MAX_USERNAME_BYTES, "a remembered name fits the field");

void redraw(LoginScreen& screen, const Config& config) {
    const Rgb8 fallback = config.background.fallback_rgb;
    if (screen.view.high_contrast) {
        paint_background(screen.view, high_contrast_background(fallback), std::nullopt);
    } else {
        paint_backdrop(screen.view, fallback, screen.backdrop);
    }
    const std::string clock = clock_text(config.ui.clock_24h);
    draw_greeter(screen.view, screen.state, clock, screen.avatar);
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

// The monitor the greeter goes on, its scale, and where the covers of the picture go.
void choose_area(LoginScreen& screen, const Config& config, Backdrop& plan) {
    GreeterView& view = screen.view;
    const std::vector<Monitor> monitors = read_monitors(screen.display, screen.root);
    plan = plan_backdrop(monitors, Rect{0, 0, view.width, view.height});
    const Monitor chosen = choose_monitor(monitors, view.width, view.height);
    view.area = chosen.rect;
    const bool wanted = screen.look.large_text;
    view.large_text = wanted && greeter_fits(chosen.rect, 1, true);
    if (wanted && !view.large_text) {
        log_message(LogLevel::Warn, "Monitor: large text does not fit " +
                                        std::to_string(chosen.rect.width) + "x" +
                                        std::to_string(chosen.rect.height) + ", using normal text");
    }
    view.scale = choose_scale(config.ui.scale, chosen, view.large_text);
    const GreeterLayout layout = greeter_layout(view.area, view.scale, view.large_text);
    screen.state.session_at_left = layout.session_rect.x < layout.power_off_rect.x;
    const Rect& a = view.area;
    log_message(LogLevel::Info,
                "Monitor: " + (chosen.name.empty() ? "(whole screen)" : chosen.name) + " " +
                    std::to_string(a.width) + "x" + std::to_string(a.height) + "+" +
                    std::to_string(a.x) + "+" + std::to_string(a.y) +
                    " scale=" + std::to_string(view.scale));
    if (view.scale < config.ui.scale) {
        log_message(LogLevel::Warn, "Monitor: scale " + std::to_string(config.ui.scale) +
                                        " does not fit " + std::to_string(a.width) + "x" +
                                        std::to_string(a.height) + ", using scale " +
                                        std::to_string(view.scale));
    }
}

int current_minute_key();
bool relayout(LoginScreen& screen, const Config& config);

// Where the greeter is drawn, and so what the pointer hits.
GreeterLayout layout_of(const LoginScreen& screen) {
    return greeter_layout(screen.view.area, screen.view.scale, screen.view.large_text);
}

// The avatar at the size the layout draws it.
std::optional<BgraBuffer> load_shown_avatar(const LoginScreen& screen) {
    return load_avatar(screen.state.username, layout_of(screen).avatar.width);
}

void show_keyboard(LoginScreen& screen) {
    screen.state.caps_lock = screen.keyboard.caps_lock;
    screen.state.layout_label = active_layout_label(screen.keyboard);
}

bool show(Display* display, const Config& config, LoginScreen& screen) {
    screen.display = display;
    GreeterView& view = screen.view;
    GreeterState& state = screen.state;
    const int sn = DefaultScreen(display);
    const Window root = RootWindow(display, sn);
    screen.root = root;
    unsigned width = 0;
    unsigned height = 0;
    root_size(display, root, width, height);
    view.display = display;
    view.screen = sn;
    view.visual = DefaultVisual(display, sn);
    view.colormap = DefaultColormap(display, sn);
    view.depth = DefaultDepth(display, sn);
    view.width = static_cast<int32_t>(width);
    view.height = static_cast<int32_t>(height);
    log_message(LogLevel::Info, "Screen: " + std::to_string(width) + "x" + std::to_string(height) +
                                    " depth=" + std::to_string(view.depth) +
                                    " screen=" + std::to_string(sn));
    screen.look = load_look(Look{config.ui.high_contrast, config.ui.large_text});
    view.high_contrast = screen.look.high_contrast;
    Backdrop backdrop;
    choose_area(screen, config, backdrop);

    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.colormap = view.colormap;
    attrs.event_mask = GREETER_EVENT_MASK;
    view.x.window = WindowOwner(
        display, XCreateWindow(display, root, 0, 0, width, height, 0, view.depth, InputOutput,
                               view.visual, CWOverrideRedirect | CWColormap | CWEventMask, &attrs));
    XMapRaised(display, view.x.window);

    screen.view.x.cursor = CursorOwner(display, XCreateFontCursor(display, GREETER_CURSOR_SHAPE));
    XDefineCursor(display, view.x.window, screen.view.x.cursor);

    if (!grab_input(display, view.x.window, screen.view.x.cursor)) {
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
    backdrop.choice = choose_background_now(config.background);
    std::jthread loader;
    try {
        loader = std::jthread([&] { load_backdrop(backdrop); });
    } catch (const std::system_error&) {
        load_backdrop(backdrop);
    }

    // Layouts from the configuration: the reset gave the server its own keymap back.
    if (!config.ui.layouts.empty()) {
        set_layouts(display, root, config.ui.layouts);
    }
    // Asked for before the first reading, so that no change falls between.
    screen.xkb_event_base = watch_keyboard(display);
    screen.randr_event_base = watch_monitors(display, root);
    XSelectInput(display, root, PropertyChangeMask | StructureNotifyMask);
    screen.rules_names = rules_names_atom(display);
    screen.keyboard = read_keyboard(display, root);
    show_keyboard(screen);

    view.x.gc = GcOwner(display, XCreateGC(display, view.x.window, 0, nullptr));
    open_greeter_fonts(view);
    view.x.draw =
        DrawOwner(display, XftDrawCreate(display, view.x.window, view.visual, view.colormap));
    if (loader.joinable()) {
        loader.join();
    }
    // Logged here, after the keyboard's lines: the same order at every showing.
    log_backdrop(backdrop, Rect{0, 0, view.width, view.height});
    screen.backdrop = std::move(backdrop);

    state.username.reserve(MAX_USERNAME_BYTES + KEY_TEXT_BYTES);
    state.password_focused = false;
    state.name_offered = false;
    state.login_hovered = false;
    state.hovered_button = NO_BUTTON;
    state.focused_button = NO_BUTTON;
    state.confirming = NO_BUTTON;
    screen.avatar.reset();
    // The first paint shows this minute: no second full paint follows at the first wake-up.
    screen.minute_key = current_minute_key();
    screen.last_input = std::chrono::steady_clock::now();
    load_session_menu(screen.sessions, state, config.session.sessions_dir);
    if (config.ui.remember_user) {
        if (std::optional<std::string> name = load_last_user()) {
            state.username.assign(*name);
            offer_name(state);
            screen.avatar = load_shown_avatar(screen);
            show_remembered_session(screen.sessions, state);
        }
    }

    redraw(screen, config);
    // After the first frame: the greeter does not wait for the disk.
    save_backdrop(screen.backdrop);
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
    GreeterState& state = screen.state;
    switch (action) {
        case GreeterAction::Nothing:
            return std::nullopt;
        case GreeterAction::LoadAvatar:
            screen.avatar = load_shown_avatar(screen);
            show_remembered_session(screen.sessions, state);
            break;
        case GreeterAction::DropAvatar:
            screen.avatar.reset();
            break;
        case GreeterAction::Submit:
        case GreeterAction::ChangePassword: {
            const std::optional<pid_t> session = submit_login(
                state, config.session.kind, screen.attempt, chosen_session(screen.sessions, state));
            if (session) {
                remember_session(screen.sessions, state);
                if (config.ui.remember_user) {
                    remember_user(state.username);
                }
                return session;
            }
            break;
        }
        case GreeterAction::PowerOff:
        case GreeterAction::Reboot:
        case GreeterAction::Console:
            power_action(action);
            return std::nullopt;
        case GreeterAction::NextLayout:
            lock_next_layout(screen.display, screen.keyboard);
            return std::nullopt;
        case GreeterAction::NextLook:
            // A look with large text is passed over where large text does not fit.
            for (int press = 0; press < 4; ++press) {
                screen.look = next_look(screen.look);
                if (!screen.look.large_text || greeter_fits(screen.view.area, 1, true)) {
                    break;
                }
            }
            screen.view.high_contrast = screen.look.high_contrast;
            if (const Result<Ok> saved = save_look(screen.look); !saved.ok()) {
                log_message(LogLevel::Warn, "Cannot keep the look: " + saved.error());
            }
            relayout(screen, config);
            break;
        case GreeterAction::Repaint:
            break;
    }
    redraw(screen, config);
    return std::nullopt;
}

// Keyboard and monitor changes; true when the event was one.
bool follow_server(LoginScreen& screen, XEvent& event) {
    if (screen.xkb_event_base >= 0 && event.type == screen.xkb_event_base) {
        screen.keyboard_stale |= follow_keyboard_event(screen.keyboard, event);
        screen.keyboard_changed = true;
        return true;
    }
    if (event.type == PropertyNotify && event.xproperty.window == screen.root) {
        if (event.xproperty.atom == screen.rules_names) {
            screen.keyboard_stale = screen.keyboard_changed = true;
        }
        return true;
    }
    if (screen.randr_event_base >= 0 &&
        event.type == screen.randr_event_base + RRScreenChangeNotify) {
        XRRUpdateConfiguration(&event);
        screen.monitors_changed = true;
        return true;
    }
    // xrandr --setmonitor announces itself only this way.
    if (event.type == ConfigureNotify && event.xconfigure.window == screen.root) {
        screen.monitors_changed = true;
        return true;
    }
    return false;
}

// Lays the greeter out again on the monitors as they are now; true when anything moved.
bool relayout(LoginScreen& screen, const Config& config) {
    GreeterView& view = screen.view;
    GreeterState& state = screen.state;
    unsigned width = 0;
    unsigned height = 0;
    root_size(screen.display, screen.root, width, height);
    const int32_t old_scale = view.scale;
    const bool old_large = view.large_text;
    const Rect old_area = view.area;
    const bool resized =
        static_cast<int32_t>(width) != view.width || static_cast<int32_t>(height) != view.height;
    if (resized) {
        view.width = static_cast<int32_t>(width);
        view.height = static_cast<int32_t>(height);
        XMoveResizeWindow(screen.display, view.x.window, 0, 0, width, height);
    }
    Backdrop plan;
    choose_area(screen, config, plan);
    const bool moved = resized || view.area != old_area || view.scale != old_scale ||
                       view.large_text != old_large || plan.covers != screen.backdrop.covers ||
                       plan.uncovered != screen.backdrop.uncovered;
    if (plan.covers != screen.backdrop.covers) {
        plan.choice = screen.backdrop.choice;
        load_backdrop(plan);
        log_backdrop_failures(plan);
        screen.backdrop = std::move(plan);
    } else {
        screen.backdrop.uncovered = std::move(plan.uncovered);
    }
    if (view.scale != old_scale || view.large_text != old_large) {
        close_greeter_fonts(view);
        open_greeter_fonts(view);
        if (screen.avatar && !state.username.empty()) {
            screen.avatar = load_shown_avatar(screen);
        }
    }
    return moved;
}

// What the events just read changed, shown once for all of them.
void catch_up(LoginScreen& screen, const Config& config) {
    bool repaint = false;
    if (screen.monitors_changed) {
        screen.monitors_changed = false;
        // The server announces a monitor change that changes nothing as often as a real one.
        repaint = relayout(screen, config);
    }
    if (screen.keyboard_changed) {
        screen.keyboard_changed = false;
        if (screen.keyboard_stale) {
            screen.keyboard_stale = false;
            screen.keyboard = read_keyboard(screen.display, screen.root);
        }
        const bool caps_lock = screen.state.caps_lock;
        const std::string label = screen.state.layout_label;
        show_keyboard(screen);
        repaint =
            repaint || caps_lock != screen.state.caps_lock || label != screen.state.layout_label;
    }
    if (repaint) {
        redraw(screen, config);
    }
}

std::optional<pid_t> handle_event(LoginScreen& screen, const Config& config, XEvent& event) {
    // Events sent by other clients, and events for an earlier greeter window, are not input.
    if (event.xany.send_event || follow_server(screen, event) ||
        event.xany.window != screen.view.x.window) {
        return std::nullopt;
    }
    GreeterState& state = screen.state;
    if (event.type == KeyPress || event.type == ButtonPress) {
        screen.last_input = std::chrono::steady_clock::now();
    }
    switch (event.type) {
        case KeyPress: {
            KeyText text;
            const unsigned long keysym = lookup_key(event.xkey, text);
            const GreeterAction action = handle_key(state, keysym, text.view());
            explicit_bzero(text.bytes, sizeof text.bytes);
            return perform(screen, config, action);
        }
        case ButtonPress:
            return perform(
                screen, config,
                handle_button(state, layout_of(screen), event.xbutton.x, event.xbutton.y));
        case MotionNotify:
            return perform(
                screen, config,
                handle_motion(state, layout_of(screen), event.xmotion.x, event.xmotion.y));
        case Expose:
            // One repaint for a whole exposure: its last rectangle has a count of 0.
            if (event.xexpose.count > 0) {
                return std::nullopt;
            }
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

std::optional<pid_t> submit_login(GreeterState& state, SessionKind session,
                                  const LoginAttempt& attempt, const DesktopSession* desktop) {
    const bool changing = state.password_prompt != PasswordPrompt::Password;
    const LoginRequest request{changing ? LoginMode::ChangeExpiredPassword : LoginMode::Normal,
                               state.username,
                               changing ? state.current_password : state.password,
                               state.new_password,
                               session,
                               desktop};
    Result<pid_t, LoginRefusal> result = attempt(request);
    if (result.ok()) {
        return result.value();
    }
    apply_login_failure(state, result.error().message, result.error().password_expired);
    return std::nullopt;
}

std::optional<pid_t> run_login_screen(Display* display, const Config& config, LoginScreen& screen,
                                      LoginAttempt attempt) {
    screen.attempt = std::move(attempt);
    if (!show(display, config, screen)) {
        return std::nullopt;
    }
    const int fd = ConnectionNumber(display);
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        (void)::poll(&pfd, 1, SELECT_TIMEOUT_MS);
        if (connection_lost()) {
            return std::nullopt;
        }

        const int key = current_minute_key();
        if (key != screen.minute_key) {
            redraw(screen, config);
            screen.minute_key = key;
        }
        // Checked on the clock's wake-up: no timer of its own.
        if (expire_confirmation(screen.state,
                                std::chrono::steady_clock::now() - screen.last_input)) {
            redraw(screen, config);
        }
        if (std::chrono::steady_clock::now() - screen.last_input >=
                std::chrono::seconds(INACTIVITY_WIPE_SECONDS) &&
            forget_typed_passwords(screen.state)) {
            log_message(LogLevel::Info, "No input for " + std::to_string(INACTIVITY_WIPE_SECONDS) +
                                            " s: typed passwords wiped");
            redraw(screen, config);
        }

        while (XPending(display) > 0) {
            XEvent event{};
            XNextEvent(display, &event);
            const std::optional<pid_t> session = handle_event(screen, config, event);
            if (session) {
                return *session;
            }
        }
        if (connection_lost()) {
            return std::nullopt;
        }
        catch_up(screen, config);
    }
}

void hide_login_screen(LoginScreen& screen) {
    if (screen.display == nullptr || screen.view.x.window == 0) {
        return;
    }
    XUnmapWindow(screen.display, screen.view.x.window);
    // The session's changes to the root are none of the hidden greeter's business.
    XSelectInput(screen.display, screen.root, NoEventMask);
    XUngrabKeyboard(screen.display, CurrentTime);
    XUngrabPointer(screen.display, CurrentTime);
    XFlush(screen.display);
}

void close_login_screen(LoginScreen& screen) {
    if (screen.display == nullptr) {
        return;
    }
    release_greeter(screen.view, screen.state);
    screen.avatar.reset();
    keep_backdrop(screen.backdrop);
    screen.backdrop = Backdrop{};
    XFlush(screen.display);
    screen.display = nullptr;
}

LoginScreen::~LoginScreen() {
    close_login_screen(*this);
}
