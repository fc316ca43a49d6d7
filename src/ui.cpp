#include "ui.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "text.h"

namespace {

constexpr const char* FONT_FAMILY = "DejaVu Sans";

const Palette& palette_of(const GreeterView& view) {
    return view.high_contrast ? HIGH_CONTRAST_PALETTE : NORMAL_PALETTE;
}

uint16_t to_channel(double fraction) {
    const double scaled = std::clamp(fraction * 65535.0, 0.0, 65535.0);
    return static_cast<uint16_t>(scaled);
}

struct RenderPicture {
    Display* display = nullptr;
    Picture picture = 0;
    RenderPicture(Display* d, Drawable drawable, const XRenderPictFormat* format)
        : display(d), picture(XRenderCreatePicture(d, drawable, format, 0, nullptr)) {}
    RenderPicture(const RenderPicture&) = delete;
    RenderPicture& operator=(const RenderPicture&) = delete;
    ~RenderPicture() { XRenderFreePicture(display, picture); }
};

struct PixmapOwner {
    Display* display = nullptr;
    Pixmap pixmap = 0;
    GC gc = nullptr;
    PixmapOwner(Display* d, Drawable on, unsigned size, unsigned depth)
        : display(d), pixmap(XCreatePixmap(d, on, size, size, depth)) {
        gc = XCreateGC(d, pixmap, 0, nullptr);
    }
    PixmapOwner(const PixmapOwner&) = delete;
    PixmapOwner& operator=(const PixmapOwner&) = delete;
    ~PixmapOwner() {
        XFreeGC(display, gc);
        XFreePixmap(display, pixmap);
    }
};

// Puts width x height BGRA pixels at (x, y) of the drawable; false when Xlib could not wrap them.
bool put_bgra(Display* display, Drawable drawable, GC gc, Visual* visual, unsigned depth,
              const uint8_t* pixels, unsigned width, unsigned height, int x, int y) {
    // Xlib only reads the bytes; its C interface wants them non-const.
    char* data = const_cast<char*>(reinterpret_cast<const char*>(pixels));
    XImage* image = XCreateImage(display, visual, depth, ZPixmap, 0, data, width, height, 32, 0);
    if (image == nullptr) {
        return false;
    }
    XPutImage(display, drawable, gc, image, 0, 0, x, y, width, height);
    // Xlib must not free bytes it did not allocate.
    image->data = nullptr;
    XDestroyImage(image);
    return true;
}

void fill_rect(const GreeterView& view, int32_t x, int32_t y, int32_t width, int32_t height,
               const Rgba& color) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const XRenderColor render_color = fill_render_color(color);
    const XRenderPictFormat* format = XRenderFindVisualFormat(view.display, view.visual);
    if (format == nullptr) {
        return;
    }
    RenderPicture picture(view.display, view.x.window, format);
    XRenderFillRectangle(view.display, PictOpOver, picture.picture, &render_color, x, y,
                         static_cast<unsigned>(width), static_cast<unsigned>(height));
}

// A `thickness`-pixel outline just inside the field's rectangle.
void draw_field_outline(const GreeterView& view, const Rect& field, int32_t thickness,
                        const Rgba& color) {
    const int32_t t = thickness;
    fill_rect(view, field.x, field.y, field.width, t, color);
    fill_rect(view, field.x, field.y + field.height - t, field.width, t, color);
    fill_rect(view, field.x, field.y, t, field.height, color);
    fill_rect(view, field.x + field.width - t, field.y, t, field.height, color);
}

void draw_text(XftDraw* draw, std::string_view text, int32_t x, int32_t y, XftFont* font,
               const Rgba& color) {
    if (font == nullptr || draw == nullptr || text.empty() ||
        text.find('\0') != std::string_view::npos) {
        return;
    }
    XftColor xft_color = text_xft_color(color);
    XftDrawStringUtf8(draw, &xft_color, font, x, y, reinterpret_cast<const FcChar8*>(text.data()),
                      static_cast<int>(text.size()));
}

void draw_centered_text(Display* display, XftDraw* draw, std::string_view text, int32_t center_x,
                        int32_t y, XftFont* font, const Rgba& color) {
    if (font == nullptr || draw == nullptr || text.empty() ||
        text.find('\0') != std::string_view::npos) {
        return;
    }
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text.data()),
                       static_cast<int>(text.size()), &extents);
    // Centring follows the pen advance, not the ink.
    draw_text(draw, text, center_x - extents.xOff / 2, y, font, color);
}

// False when nothing was drawn: a picture of another size than `at` is never stretched.
bool put_avatar(const GreeterView& view, const BgraBuffer& avatar, const Rect& at) {
    const auto size = static_cast<unsigned>(at.width);
    if (at.width <= 0 || avatar.size() != static_cast<size_t>(size) * size * 4) {
        return false;
    }
    const XRenderPictFormat* window_format = XRenderFindVisualFormat(view.display, view.visual);
    if (window_format == nullptr) {
        return false;
    }
    // A source with an alpha channel lets the background show through the disc's corners.
    const XRenderPictFormat* argb = XRenderFindStandardFormat(view.display, PictStandardARGB32);
    const bool with_alpha = argb != nullptr;
    BgraBuffer pixels = with_alpha ? premultiply_bgra(avatar) : avatar;
    const unsigned depth = with_alpha ? 32 : static_cast<unsigned>(view.depth);

    PixmapOwner pixmap(view.display, view.x.window, size, depth);
    if (!put_bgra(view.display, pixmap.pixmap, pixmap.gc, view.visual, depth, pixels.data(), size,
                  size, 0, 0)) {
        return false;
    }

    RenderPicture source(view.display, pixmap.pixmap, with_alpha ? argb : window_format);
    RenderPicture target(view.display, view.x.window, window_format);
    XRenderComposite(view.display, PictOpOver, source.picture, None, target.picture, 0, 0, 0, 0,
                     at.x, at.y, size, size);
    return true;
}

// The message cut to `width` pixels; the log keeps it whole.
std::string shown_message(const GreeterView& view, const std::string& message, int32_t width) {
    XftFont* font = view.x.small_font;
    if (font == nullptr || message.find('\0') != std::string::npos) {
        return message;
    }
    return shorten_to_width(message, width, [&](std::string_view text) {
        XGlyphInfo extents{};
        XftTextExtentsUtf8(view.display, font, reinterpret_cast<const FcChar8*>(text.data()),
                           static_cast<int>(text.size()), &extents);
        return int32_t{extents.xOff};
    });
}

}  // namespace

void paint_background(const GreeterView& view, Rgb8 fallback_color,
                      const std::optional<BgraBuffer>& background) {
    paint_background_at(view, fallback_color, background ? &*background : nullptr,
                        Rect{0, 0, view.width, view.height});
}

void paint_background_at(const GreeterView& view, Rgb8 fallback_color, const BgraBuffer* background,
                         const Rect& target) {
    const auto width = static_cast<unsigned>(std::max(target.width, 0));
    const auto height = static_cast<unsigned>(std::max(target.height, 0));
    if (background != nullptr) {
        if (background->size() >= size_t(width) * size_t(height) * 4) {
            put_bgra(view.display, view.x.window, view.x.gc, view.visual,
                     static_cast<unsigned>(view.depth), background->data(), width, height, target.x,
                     target.y);
        }
        return;
    }
    XColor color{};
    color.pixel = 0;
    color.red = static_cast<unsigned short>(fallback_color.red << 8);
    color.green = static_cast<unsigned short>(fallback_color.green << 8);
    color.blue = static_cast<unsigned short>(fallback_color.blue << 8);
    color.flags = 0;
    XAllocColor(view.display, DefaultColormap(view.display, DefaultScreen(view.display)), &color);
    XSetForeground(view.display, view.x.gc,
                   (static_cast<unsigned long>(fallback_color.red) << 16) |
                       (static_cast<unsigned long>(fallback_color.green) << 8) |
                       fallback_color.blue);
    XFillRectangle(view.display, view.x.window, view.x.gc, target.x, target.y, width, height);
}

void paint_backdrop(const GreeterView& view, Rgb8 fallback_color, const Backdrop& backdrop) {
    for (size_t i = 0; i < backdrop.covers.size(); ++i) {
        const size_t p = i < backdrop.picture_of.size() ? backdrop.picture_of[i] : SIZE_MAX;
        const BgraBuffer* picture = p < backdrop.pictures.size() && backdrop.pictures[p].ok()
                                        ? &backdrop.pictures[p].value()
                                        : nullptr;
        paint_background_at(view, fallback_color, picture, backdrop.covers[i]);
    }
    for (const Rect& rect : backdrop.uncovered) {
        paint_background_at(view, fallback_color, nullptr, rect);
    }
}

std::string font_pattern(const FontSpec& font, int32_t scale, bool large_text) {
    return std::string(FONT_FAMILY) +
           ":size=" + std::to_string(scaled_length(font.size, scale, large_text)) + font.style;
}

const char* password_placeholder(PasswordPrompt prompt) {
    switch (prompt) {
        case PasswordPrompt::NewPassword:
            return NEW_PASSWORD_PLACEHOLDER;
        case PasswordPrompt::RepeatNewPassword:
            return REPEAT_PASSWORD_PLACEHOLDER;
        case PasswordPrompt::Password:
            break;
    }
    return PASSWORD_PLACEHOLDER;
}

XRenderColor fill_render_color(const Rgba& c) {
    XRenderColor out{};
    out.red = to_channel(c.red * c.alpha);
    out.green = to_channel(c.green * c.alpha);
    out.blue = to_channel(c.alpha * c.blue);
    out.alpha = to_channel(c.alpha);
    return out;
}

XRenderColor text_render_color(const Rgba& c) {
    XRenderColor out{};
    out.red = to_channel(c.red);
    out.green = to_channel(c.green);
    out.blue = to_channel(c.blue);
    out.alpha = to_channel(c.alpha);
    return out;
}

XftColor text_xft_color(const Rgba& c) {
    XftColor out{};
    out.pixel = 0;
    out.color = fill_render_color(c);
    return out;
}

std::string password_bullets(std::string_view password) {
    std::string bullets;
    bullets.reserve(password.size() * 3);
    for (size_t i = 0; i < password.size(); ++i) {
        bullets += "\xE2\x80\xA2";
    }
    return bullets;
}

BgraBuffer premultiply_bgra(const BgraBuffer& straight) {
    BgraBuffer out(straight.size());
    for (size_t i = 0; i + 3 < straight.size(); i += 4) {
        const unsigned a = straight[i + 3];
        for (size_t k = 0; k < 3; ++k) {
            // Rounded division by 255.
            const unsigned v = straight[i + k] * a + 127;
            out[i + k] = static_cast<uint8_t>((v + (v >> 8)) >> 8);
        }
        out[i + 3] = static_cast<uint8_t>(a);
    }
    return out;
}

XftFont* open_font(Display* display, int screen, const std::string& pattern) {
    return XftFontOpenName(display, screen, pattern.c_str());
}

void open_greeter_fonts(GreeterView& view) {
    const auto open = [&](const FontSpec& spec) {
        return FontOwner(view.display, open_font(view.display, view.screen,
                                                 font_pattern(spec, view.scale, view.large_text)));
    };
    view.x.clock_font = open(CLOCK_FONT);
    view.x.field_font = open(FIELD_FONT);
    view.x.small_font = open(SMALL_FONT);
}

void close_greeter_fonts(GreeterView& view) {
    for (FontOwner* font : {&view.x.clock_font, &view.x.field_font, &view.x.small_font}) {
        font->reset();
    }
}

namespace {

// The session button, and the list above it while the chooser is open.
void draw_session_chooser(const GreeterView& view, const GreeterLayout& l,
                          const GreeterState& state) {
    const Palette& p = palette_of(view);
    const bool with_layout = !state.layout_label.empty();
    const size_t count = state.session_labels.size();
    const auto label = [&](const Rect& r, const std::string& text, const Rgba& color) {
        // The label fits the button, with a margin of a fifth of the button's height each side.
        const int32_t width = r.width - 2 * r.height / 5;
        draw_centered_text(view.display, view.x.draw, shown_message(view, text, width),
                           r.x + r.width / 2, r.y + l.button_text_rise, view.x.small_font, color);
    };
    const Rect button = session_button_rect(l, with_layout);
    fill_rect(
        view, button.x, button.y, button.width, button.height,
        state.hovered_button == SESSION_BUTTON || state.chooser_open ? p.button_hovered : p.button);
    if (p.button_outline.alpha > 0.0) {
        draw_field_outline(view, button, 2 * view.scale, p.button_outline);
    }
    label(button, state.session_labels[std::min(state.session_index, count - 1)], p.text);
    if (!state.chooser_open) {
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const Rect r = chooser_item_rect(l, with_layout, i, count);
        fill_rect(view, r.x, r.y, r.width, r.height,
                  i == state.chooser_highlight ? p.chooser_highlight : p.chooser);
        label(r, state.session_labels[i], i == state.session_index ? p.text : p.chooser_text);
    }
}

}  // namespace

void draw_greeter(const GreeterView& view, const GreeterState& state, const std::string& clock,
                  const std::optional<BgraBuffer>& avatar) {
    const GreeterLayout l = greeter_layout(view.area, view.scale, view.large_text);
    const Palette& p = palette_of(view);
    // High contrast: 2-pixel outlines on every field and button.
    const int32_t outline = view.high_contrast ? 2 * view.scale : view.scale;
    const auto fill = [&](const Rect& r, const Rgba& color) {
        fill_rect(view, r.x, r.y, r.width, r.height, color);
        if (p.button_outline.alpha > 0.0) {
            draw_field_outline(view, r, outline, p.button_outline);
        }
    };

    draw_centered_text(view.display, view.x.draw, clock, l.clock_baseline.x, l.clock_baseline.y,
                       view.x.clock_font, p.text);

    if (!avatar || !put_avatar(view, *avatar, l.avatar)) {
        fill(l.avatar, p.avatar_square);
        fill(l.avatar_head, p.avatar_head);
        fill(l.avatar_body, p.avatar_body);
    }

    const bool field_focus = state.focused_button == NO_BUTTON;
    const bool user_focused = field_focus && !state.password_focused;
    const bool password_focused = field_focus && state.password_focused;
    fill(l.username_rect, user_focused ? p.field_focused : p.field);
    draw_field_outline(view, l.username_rect, outline,
                       user_focused ? p.outline_focused : p.outline);
    if (state.username.empty()) {
        draw_text(view.x.draw, tr(USERNAME_PLACEHOLDER), l.username_text.x, l.username_text.y,
                  view.x.field_font, p.placeholder);
    } else {
        draw_text(view.x.draw, state.username, l.username_text.x, l.username_text.y,
                  view.x.field_font, p.text);
    }

    fill(l.password_rect, password_focused ? p.field_focused : p.field);
    draw_field_outline(view, l.password_rect, outline,
                       password_focused ? p.outline_focused : p.outline);
    if (state.password.empty()) {
        draw_text(view.x.draw, tr(password_placeholder(state.password_prompt)), l.password_text.x,
                  l.password_text.y, view.x.field_font, p.placeholder);
    } else {
        draw_text(view.x.draw, password_bullets(state.password.view()), l.password_text.x,
                  l.password_text.y, view.x.field_font, p.text);
    }

    if (state.caps_lock) {
        draw_centered_text(view.display, view.x.draw, tr(CAPS_LOCK_TEXT), l.caps_lock_baseline.x,
                           l.caps_lock_baseline.y, view.x.small_font, p.placeholder);
    }
    if (state.message) {
        const Point& at = state.caps_lock ? l.message_low_baseline : l.message_baseline;
        draw_centered_text(view.display, view.x.draw,
                           shown_message(view, *state.message,
                                         scaled_length(MESSAGE_WIDTH, view.scale, view.large_text)),
                           at.x, at.y, view.x.small_font, p.message);
    }

    fill(l.login_rect, state.login_hovered ? p.login_hovered : p.login);
    draw_centered_text(view.display, view.x.draw, tr(LOGIN_LABEL), l.login_baseline.x,
                       l.login_baseline.y, view.x.field_font, p.text);

    fill(l.bottom_bar, p.bottom_bar);

    const auto button = [&](const Rect& r, uint8_t index, const char* label,
                            const Point& baseline) {
        fill(r, state.hovered_button == index ? p.button_hovered : p.button);
        draw_centered_text(view.display, view.x.draw, label, baseline.x, baseline.y,
                           view.x.small_font, p.text);
    };
    button(l.power_off_rect, POWER_OFF_BUTTON, tr(POWER_OFF_LABEL), l.power_off_baseline);
    button(l.reboot_rect, REBOOT_BUTTON, tr(REBOOT_LABEL), l.reboot_baseline);
    button(l.console_rect, CONSOLE_BUTTON, tr(CONSOLE_LABEL), l.console_baseline);
    if (!state.layout_label.empty()) {
        button(l.layout_rect, LAYOUT_BUTTON, state.layout_label.c_str(), l.layout_baseline);
    }
    button(l.access_rect, ACCESS_BUTTON, tr(ACCESS_LABEL), l.access_baseline);
    if (state.session_labels.size() > 1) {
        draw_session_chooser(view, l, state);
    }
    if (const std::optional<Rect> focused = button_rect(l, state.focused_button)) {
        // Over the button's edge: the white ring on it, the black one just outside.
        const int32_t t = FOCUS_RING_WIDTH * view.scale;
        const Rect& r = *focused;
        draw_field_outline(view, Rect{r.x - t, r.y - t, r.width + 2 * t, r.height + 2 * t}, t,
                           FOCUS_RING_OUTER_COLOR);
        // High contrast outlines every button in white already: its ring is yellow.
        draw_field_outline(view, r, t,
                           view.high_contrast ? p.outline_focused : FOCUS_RING_INNER_COLOR);
    }
}

void release_greeter(GreeterView& view, GreeterState& state) {
    // The handles go together, in the reverse of their declaration.
    (void)std::exchange(view.x, GreeterHandles{});
    wipe_text(state.username);
    state.password.wipe();
    state.current_password.wipe();
    state.new_password.wipe();
    state.message.reset();
}

std::string clock_text_at(const std::tm* local, bool clock_24h) {
    if (local == nullptr) {
        return "00:00";
    }
    char text[32];
    const int hour = std::clamp(local->tm_hour, 0, 23);
    const int minute = std::clamp(local->tm_min, 0, 59);
    if (clock_24h) {
        std::snprintf(text, sizeof text, "%02d:%02d", hour, minute);
    } else {
        const int dial = hour % 12 == 0 ? 12 : hour % 12;
        std::snprintf(text, sizeof text, "%d:%02d %s", dial, minute, hour < 12 ? "AM" : "PM");
    }
    return text;
}

std::string clock_text(bool clock_24h) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    return clock_text_at(::localtime_r(&now, &local), clock_24h);
}

int minute_key_at(const std::tm* local) {
    if (local == nullptr) {
        return -1;
    }
    return local->tm_hour * 60 + local->tm_min;
}
