#include "ui.h"

#include <X11/Xutil.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config.h"

namespace {

// The login box at scale 1, in pixels from the centre of its monitor (negative is above).
constexpr int32_t CLOCK_BASELINE = -210;
constexpr int32_t AVATAR_TOP = -160;
constexpr int32_t AVATAR_HEAD_TOP = -146;
constexpr int32_t AVATAR_HEAD_SIZE = 32;
constexpr int32_t AVATAR_BODY_TOP = -118;
constexpr int32_t AVATAR_BODY_SIZE = 56;
constexpr int32_t USERNAME_TOP = -44;
constexpr int32_t PASSWORD_TOP = 12;
constexpr int32_t MESSAGE_BASELINE = 78;
constexpr int32_t LOGIN_TOP = 92;
// Where the message goes while the Caps Lock warning takes its place.
constexpr int32_t MESSAGE_LOW_BASELINE = 158;
// A field's text: from the field's left edge, and its baseline from the field's top.
constexpr int32_t FIELD_TEXT_INSET = 12;
constexpr int32_t FIELD_TEXT_BASELINE = 27;
// The power buttons' centres, left and right of the middle one.
constexpr int32_t POWER_BUTTON_SPACING = 156;

// Power-button labels sit this far above the screen's bottom edge.
constexpr int32_t POWER_LABEL_RISE = 23;
constexpr int32_t BUTTON_WIDTH = 140;
constexpr int32_t BUTTON_HEIGHT = 36;
// The bar's buttons stand this far from its top, bottom and right edges.
constexpr int32_t BAR_MARGIN = 10;
constexpr int32_t LAYOUT_BUTTON_WIDTH = 64;
constexpr const char* FONT_FAMILY = "DejaVu Sans";

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

// False when nothing was drawn: a picture of another size than `at` is never stretched.
bool put_avatar(const GreeterContext& ctx, const BgraBuffer& avatar, const Rect& at) {
    const auto size = static_cast<unsigned>(at.width);
    if (at.width <= 0 || avatar.size() != static_cast<size_t>(size) * size * 4) {
        return false;
    }
    const XRenderPictFormat* window_format = XRenderFindVisualFormat(ctx.display, ctx.visual);
    if (window_format == nullptr) {
        return false;
    }
    // A source with an alpha channel lets the background show through the disc's corners.
    const XRenderPictFormat* argb = XRenderFindStandardFormat(ctx.display, PictStandardARGB32);
    const bool with_alpha = argb != nullptr;
    BgraBuffer pixels = with_alpha ? premultiply_bgra(avatar) : avatar;
    const unsigned depth = with_alpha ? 32 : static_cast<unsigned>(ctx.depth);

    PixmapOwner pixmap(ctx.display, ctx.x.window, size, depth);
    if (!put_bgra(ctx.display, pixmap.pixmap, pixmap.gc, ctx.visual, depth, pixels.data(), size,
                  size, 0, 0)) {
        return false;
    }

    RenderPicture source(ctx.display, pixmap.pixmap, with_alpha ? argb : window_format);
    RenderPicture target(ctx.display, ctx.x.window, window_format);
    XRenderComposite(ctx.display, PictOpOver, source.picture, None, target.picture, 0, 0, 0, 0,
                     at.x, at.y, size, size);
    return true;
}

// The message cut to the message area; the log keeps it whole.
std::string shown_message(const GreeterContext& ctx, const std::string& message) {
    XftFont* font = ctx.x.small_font;
    if (font == nullptr || message.find('\0') != std::string::npos) {
        return message;
    }
    return shorten_to_width(message, MESSAGE_WIDTH * ctx.scale, [&](std::string_view text) {
        XGlyphInfo extents{};
        XftTextExtentsUtf8(ctx.display, font, reinterpret_cast<const FcChar8*>(text.data()),
                           static_cast<int>(text.size()), &extents);
        return int32_t{extents.xOff};
    });
}

}  // namespace

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

void paint_background(const GreeterContext& ctx, const std::string& fallback_color,
                      const std::optional<BgraBuffer>& background) {
    paint_background_at(ctx, fallback_color, background, Rect{0, 0, ctx.width, ctx.height});
}

void paint_background_at(const GreeterContext& ctx, const std::string& fallback_color,
                         const std::optional<BgraBuffer>& background, const Rect& target) {
    const auto width = static_cast<unsigned>(std::max(target.width, 0));
    const auto height = static_cast<unsigned>(std::max(target.height, 0));
    if (background) {
        if (background->size() >= size_t(width) * size_t(height) * 4) {
            put_bgra(ctx.display, ctx.x.window, ctx.x.gc, ctx.visual,
                     static_cast<unsigned>(ctx.depth), background->data(), width, height, target.x,
                     target.y);
        }
        return;
    }
    const Rgb8 rgb = parse_hex_color(fallback_color);
    XColor color{};
    color.pixel = 0;
    color.red = static_cast<unsigned short>(rgb.red << 8);
    color.green = static_cast<unsigned short>(rgb.green << 8);
    color.blue = static_cast<unsigned short>(rgb.blue << 8);
    color.flags = 0;
    XAllocColor(ctx.display, DefaultColormap(ctx.display, DefaultScreen(ctx.display)), &color);
    XSetForeground(ctx.display, ctx.x.gc,
                   (static_cast<unsigned long>(rgb.red) << 16) |
                       (static_cast<unsigned long>(rgb.green) << 8) | rgb.blue);
    XFillRectangle(ctx.display, ctx.x.window, ctx.x.gc, target.x, target.y, width, height);
}

GreeterLayout greeter_layout(const Rect& area, int32_t scale) {
    const int32_t s = std::clamp(scale, 1, MAX_SCALE);
    const int32_t cx = area.x + area.width / 2;
    const int32_t cy = area.y + area.height / 2;
    const int32_t bottom = area.y + area.height;
    const int32_t bar_height = BUTTON_HEIGHT * s + 2 * BAR_MARGIN * s;
    const int32_t button_y = bottom - (BUTTON_HEIGHT + BAR_MARGIN) * s;
    const int32_t label_y = bottom - POWER_LABEL_RISE * s;
    const int32_t field_x = cx - FIELD_WIDTH / 2 * s;
    const int32_t text_x = field_x + FIELD_TEXT_INSET * s;
    const auto field = [&](int32_t top) {
        return Rect{field_x, cy + top * s, FIELD_WIDTH * s, FIELD_HEIGHT * s};
    };
    const auto square = [&](int32_t top, int32_t size) {
        return Rect{cx - size / 2 * s, cy + top * s, size * s, size * s};
    };
    const auto button = [&](int32_t centre_offset) {
        return Rect{cx + (centre_offset - BUTTON_WIDTH / 2) * s, button_y, BUTTON_WIDTH * s,
                    BUTTON_HEIGHT * s};
    };
    GreeterLayout l;
    l.clock_baseline = {cx, cy + CLOCK_BASELINE * s};
    l.avatar = square(AVATAR_TOP, GREETER_AVATAR_SIZE);
    l.avatar_head = square(AVATAR_HEAD_TOP, AVATAR_HEAD_SIZE);
    l.avatar_body = square(AVATAR_BODY_TOP, AVATAR_BODY_SIZE);
    l.username_rect = field(USERNAME_TOP);
    l.username_text = {text_x, cy + (USERNAME_TOP + FIELD_TEXT_BASELINE) * s};
    l.password_rect = field(PASSWORD_TOP);
    l.password_text = {text_x, cy + (PASSWORD_TOP + FIELD_TEXT_BASELINE) * s};
    l.message_baseline = {cx, cy + MESSAGE_BASELINE * s};
    l.login_rect = field(LOGIN_TOP);
    l.login_baseline = {cx, cy + (LOGIN_TOP + FIELD_TEXT_BASELINE) * s};
    l.bottom_bar = {area.x, bottom - bar_height, area.width, bar_height};
    l.power_off_rect = button(-POWER_BUTTON_SPACING);
    l.power_off_baseline = {cx - POWER_BUTTON_SPACING * s, label_y};
    l.reboot_rect = button(0);
    l.reboot_baseline = {cx, label_y};
    l.console_rect = button(POWER_BUTTON_SPACING);
    l.console_baseline = {cx + POWER_BUTTON_SPACING * s, label_y};
    const int32_t right = area.x + area.width - BAR_MARGIN * s;
    l.layout_rect = {right - LAYOUT_BUTTON_WIDTH * s, button_y, LAYOUT_BUTTON_WIDTH * s,
                     BUTTON_HEIGHT * s};
    l.layout_baseline = {right - LAYOUT_BUTTON_WIDTH / 2 * s, label_y};
    l.caps_lock_baseline = l.message_baseline;
    l.message_low_baseline = {cx, cy + MESSAGE_LOW_BASELINE * s};
    return l;
}

GreeterLayout greeter_layout(int32_t width, int32_t height) {
    return greeter_layout(Rect{0, 0, width, height}, 1);
}

std::string font_pattern(const FontSpec& font, int32_t scale) {
    return std::string(FONT_FAMILY) + ":size=" + std::to_string(font.size * scale) + font.style;
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

bool rect_contains(const Rect& rect, int32_t x, int32_t y) {
    // 64-bit sums: a rectangle near INT32_MAX must not wrap.
    return x >= rect.x && static_cast<int64_t>(x) < static_cast<int64_t>(rect.x) + rect.width &&
           y >= rect.y && static_cast<int64_t>(y) < static_cast<int64_t>(rect.y) + rect.height;
}

uint8_t hit_power_button(const GreeterContext& ctx, int32_t x, int32_t y) {
    if (rect_contains(ctx.power_off_rect, x, y)) {
        return POWER_OFF_BUTTON;
    }
    if (rect_contains(ctx.reboot_rect, x, y)) {
        return REBOOT_BUTTON;
    }
    if (rect_contains(ctx.console_rect, x, y)) {
        return CONSOLE_BUTTON;
    }
    if (rect_contains(ctx.layout_rect, x, y)) {
        return LAYOUT_BUTTON;
    }
    return NO_BUTTON;
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

void open_greeter_fonts(GreeterContext& ctx) {
    const auto open = [&](const FontSpec& spec) {
        return FontOwner(ctx.display,
                         open_font(ctx.display, ctx.screen, font_pattern(spec, ctx.scale)));
    };
    ctx.x.clock_font = open(CLOCK_FONT);
    ctx.x.field_font = open(FIELD_FONT);
    ctx.x.small_font = open(SMALL_FONT);
}

void close_greeter_fonts(GreeterContext& ctx) {
    for (FontOwner* font : {&ctx.x.clock_font, &ctx.x.field_font, &ctx.x.small_font}) {
        font->reset();
    }
}

void fill_rect(const GreeterContext& ctx, int32_t x, int32_t y, int32_t width, int32_t height,
               const Rgba& color) {
    if (width <= 0 || height <= 0) {
        return;
    }
    const XRenderColor render_color = fill_render_color(color);
    const XRenderPictFormat* format = XRenderFindVisualFormat(ctx.display, ctx.visual);
    if (format == nullptr) {
        return;
    }
    RenderPicture picture(ctx.display, ctx.x.window, format);
    XRenderFillRectangle(ctx.display, PictOpOver, picture.picture, &render_color, x, y,
                         static_cast<unsigned>(width), static_cast<unsigned>(height));
}

void draw_field_outline(const GreeterContext& ctx, const Rect& field, int32_t thickness,
                        const Rgba& color) {
    const int32_t t = thickness;
    fill_rect(ctx, field.x, field.y, field.width, t, color);
    fill_rect(ctx, field.x, field.y + field.height - t, field.width, t, color);
    fill_rect(ctx, field.x, field.y, t, field.height, color);
    fill_rect(ctx, field.x + field.width - t, field.y, t, field.height, color);
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

void draw_greeter(GreeterContext& ctx, const std::string& clock,
                  const std::optional<BgraBuffer>& avatar) {
    const GreeterLayout l = greeter_layout(ctx.area, ctx.scale);
    const auto fill = [&](const Rect& r, const Rgba& color) {
        fill_rect(ctx, r.x, r.y, r.width, r.height, color);
    };

    draw_centered_text(ctx.display, ctx.x.draw, clock, l.clock_baseline.x, l.clock_baseline.y,
                       ctx.x.clock_font, TEXT_COLOR);

    if (!avatar || !put_avatar(ctx, *avatar, l.avatar)) {
        fill(l.avatar, AVATAR_SQUARE_COLOR);
        fill(l.avatar_head, AVATAR_HEAD_COLOR);
        fill(l.avatar_body, AVATAR_BODY_COLOR);
    }

    const bool user_focused = !ctx.password_focused;
    ctx.username_rect = l.username_rect;
    fill(l.username_rect, user_focused ? FIELD_FOCUSED_COLOR : FIELD_COLOR);
    draw_field_outline(ctx, l.username_rect, ctx.scale,
                       user_focused ? OUTLINE_FOCUSED_COLOR : OUTLINE_COLOR);
    if (ctx.username.empty()) {
        draw_text(ctx.x.draw, USERNAME_PLACEHOLDER, l.username_text.x, l.username_text.y,
                  ctx.x.field_font, PLACEHOLDER_COLOR);
    } else {
        draw_text(ctx.x.draw, ctx.username, l.username_text.x, l.username_text.y, ctx.x.field_font,
                  TEXT_COLOR);
    }

    ctx.password_rect = l.password_rect;
    fill(l.password_rect, ctx.password_focused ? FIELD_FOCUSED_COLOR : FIELD_COLOR);
    draw_field_outline(ctx, l.password_rect, ctx.scale,
                       ctx.password_focused ? OUTLINE_FOCUSED_COLOR : OUTLINE_COLOR);
    if (ctx.password.empty()) {
        draw_text(ctx.x.draw, password_placeholder(ctx.password_prompt), l.password_text.x,
                  l.password_text.y, ctx.x.field_font, PLACEHOLDER_COLOR);
    } else {
        draw_text(ctx.x.draw, password_bullets(ctx.password.view()), l.password_text.x,
                  l.password_text.y, ctx.x.field_font, TEXT_COLOR);
    }

    if (ctx.caps_lock) {
        draw_centered_text(ctx.display, ctx.x.draw, CAPS_LOCK_TEXT, l.caps_lock_baseline.x,
                           l.caps_lock_baseline.y, ctx.x.small_font, PLACEHOLDER_COLOR);
    }
    if (ctx.message) {
        const Point& at = ctx.caps_lock ? l.message_low_baseline : l.message_baseline;
        draw_centered_text(ctx.display, ctx.x.draw, shown_message(ctx, *ctx.message), at.x, at.y,
                           ctx.x.small_font, MESSAGE_COLOR);
    }

    ctx.login_rect = l.login_rect;
    fill(l.login_rect, ctx.login_hovered ? LOGIN_HOVERED_COLOR : LOGIN_COLOR);
    draw_centered_text(ctx.display, ctx.x.draw, LOGIN_LABEL, l.login_baseline.x, l.login_baseline.y,
                       ctx.x.field_font, TEXT_COLOR);

    fill(l.bottom_bar, BOTTOM_BAR_COLOR);

    const auto button = [&](Rect& recorded, const Rect& r, uint8_t index, const char* label,
                            const Point& baseline) {
        recorded = r;
        fill(r, ctx.hovered_button == index ? BUTTON_HOVERED_COLOR : BUTTON_COLOR);
        draw_centered_text(ctx.display, ctx.x.draw, label, baseline.x, baseline.y, ctx.x.small_font,
                           TEXT_COLOR);
    };
    button(ctx.power_off_rect, l.power_off_rect, POWER_OFF_BUTTON, POWER_OFF_LABEL,
           l.power_off_baseline);
    button(ctx.reboot_rect, l.reboot_rect, REBOOT_BUTTON, REBOOT_LABEL, l.reboot_baseline);
    button(ctx.console_rect, l.console_rect, CONSOLE_BUTTON, CONSOLE_LABEL, l.console_baseline);
    if (ctx.layout_label.empty()) {
        ctx.layout_rect = Rect{};
    } else {
        button(ctx.layout_rect, l.layout_rect, LAYOUT_BUTTON, ctx.layout_label.c_str(),
               l.layout_baseline);
    }
}

void release_greeter(GreeterContext& ctx) {
    // The handles go together, in the reverse of their declaration.
    (void)std::exchange(ctx.x, GreeterHandles{});
    wipe_text(ctx.username);
    ctx.password.wipe();
    ctx.current_password.wipe();
    ctx.new_password.wipe();
    ctx.message.reset();
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
