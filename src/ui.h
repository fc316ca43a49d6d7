// Greeter rendering, layout and the clock.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "picture.h"
#include "secret.h"
#include "text.h"
#include "x_owner.h"

struct Rgba {
    double red;
    double green;
    double blue;
    double alpha;
};

struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const Rect&) const = default;
};

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const Point&) const = default;
};

inline constexpr uint8_t POWER_OFF_BUTTON = 0;
inline constexpr uint8_t REBOOT_BUTTON = 1;
inline constexpr uint8_t CONSOLE_BUTTON = 2;
inline constexpr uint8_t NO_BUTTON = 3;
inline constexpr uint8_t LAYOUT_BUTTON = 4;

// Linux-PAM answers at most 512 bytes; the user-name cap keeps every drawn text within one
// X request.
inline constexpr size_t MAX_PASSWORD_BYTES = 512;
inline constexpr size_t MAX_USERNAME_BYTES = 256;
// XLookupString fills at most this many bytes per key press.
inline constexpr size_t KEY_TEXT_BYTES = 32;
// A full field and one more key fit a secret's pages: they never grow.
inline constexpr size_t PASSWORD_RESERVE = MAX_PASSWORD_BYTES + KEY_TEXT_BYTES;
static_assert(PASSWORD_RESERVE <= SecretText::DEFAULT_CAPACITY);

// Font sizes in points at scale 1.
struct FontSpec {
    int size;
    const char* style;  // appended to the pattern
};
inline constexpr FontSpec CLOCK_FONT{36, ":weight=light"};
inline constexpr FontSpec FIELD_FONT{14, ""};
inline constexpr FontSpec SMALL_FONT{12, ""};

inline constexpr const char* USERNAME_PLACEHOLDER = "Username";
inline constexpr const char* PASSWORD_PLACEHOLDER = "Password";
inline constexpr const char* NEW_PASSWORD_PLACEHOLDER = "New password";
inline constexpr const char* REPEAT_PASSWORD_PLACEHOLDER = "Repeat new password";
inline constexpr const char* LOGIN_LABEL = "Log In";
inline constexpr const char* POWER_OFF_LABEL = "Power Off";
inline constexpr const char* REBOOT_LABEL = "Reboot";
inline constexpr const char* CONSOLE_LABEL = "Console";
inline constexpr const char* CAPS_LOCK_TEXT = "Caps Lock is on";

// The colour table: there are no other drawing colours.
inline constexpr Rgba TEXT_COLOR{1.0, 1.0, 1.0, 1.0};
inline constexpr Rgba PLACEHOLDER_COLOR{1.0, 1.0, 1.0, 0.5};
inline constexpr Rgba MESSAGE_COLOR{1.0, 0.3, 0.3, 1.0};
inline constexpr Rgba FIELD_FOCUSED_COLOR{1.0, 1.0, 1.0, 0.18};
inline constexpr Rgba FIELD_COLOR{1.0, 1.0, 1.0, 0.12};
inline constexpr Rgba OUTLINE_FOCUSED_COLOR{1.0, 1.0, 1.0, 0.4};
inline constexpr Rgba OUTLINE_COLOR{1.0, 1.0, 1.0, 0.2};
inline constexpr Rgba AVATAR_SQUARE_COLOR = FIELD_COLOR;
inline constexpr Rgba AVATAR_HEAD_COLOR{1.0, 1.0, 1.0, 0.3};
inline constexpr Rgba AVATAR_BODY_COLOR{1.0, 1.0, 1.0, 0.2};
inline constexpr Rgba LOGIN_HOVERED_COLOR{0.31, 0.55, 1.0, 0.5};
inline constexpr Rgba LOGIN_COLOR{0.31, 0.55, 1.0, 0.3};
inline constexpr Rgba BOTTOM_BAR_COLOR{0.0, 0.0, 0.0, 0.3};
inline constexpr Rgba BUTTON_HOVERED_COLOR{1.0, 1.0, 1.0, 0.15};
inline constexpr Rgba BUTTON_COLOR{1.0, 1.0, 1.0, 0.1};

inline constexpr int32_t FIELD_WIDTH = 320;
inline constexpr int32_t FIELD_HEIGHT = 44;
inline constexpr int32_t GREETER_AVATAR_SIZE = 96;
// The message under the password field is centred and shortened to this width.
inline constexpr int32_t MESSAGE_WIDTH = 720;
inline constexpr int32_t MAX_SCALE = 4;

// What the password field asks for: the password, or while an expired one is changed, the new
// one and then the same again.
enum class PasswordPrompt : uint8_t { Password, NewPassword, RepeatNewPassword };

const char* password_placeholder(PasswordPrompt prompt);

// The showing's X resources, declared in the reverse of their release order: the Xft draw goes
// before the window (the server frees the window's render pictures with it, Xft's among them,
// and freeing that one afterwards is a protocol error), the window before its cursor, the fonts
// and the GC last.
struct GreeterHandles {
    GcOwner gc;
    FontOwner small_font;
    FontOwner field_font;
    FontOwner clock_font;
    CursorOwner cursor;
    WindowOwner window;
    DrawOwner draw;
};

// The state of one showing: X handles, fonts, typed texts and input state.
// The context owns its X resources and the texts (`release_greeter`); it borrows the display,
// visual and colormap.
struct GreeterContext {
    std::string username;
    SecretText password;
    std::optional<std::string> message;
    PasswordPrompt password_prompt = PasswordPrompt::Password;
    // While an expired password is changed: the current password and the first entry of the new
    // one.
    SecretText current_password;
    SecretText new_password;

    Display* display = nullptr;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    GreeterHandles x;

    Rect login_rect;
    Rect username_rect;
    Rect password_rect;
    Rect power_off_rect;
    Rect reboot_rect;
    Rect console_rect;
    Rect layout_rect;  // empty while there is one layout

    int screen = 0;
    int depth = 0;
    // The window's (the root's) size.
    int32_t width = 0;
    int32_t height = 0;
    // The monitor the greeter is laid out on, and the factor of every length.
    Rect area;
    int32_t scale = 1;

    bool password_focused = false;
    // The name field holds a name that whoever sits here did not type (the remembered user's, or
    // the one left after an idle minute) and the focus is in the password field: what is typed
    // there before a Tab was that person's own name, so Tab makes it the name.
    bool name_offered = false;
    bool login_hovered = false;
    uint8_t hovered_button = NO_BUTTON;
    bool caps_lock = false;
    // The active keyboard layout's name; empty with one layout.
    std::string layout_label;
};

// Every position of the greeter, from the screen size alone.
struct GreeterLayout {
    Point clock_baseline;  // x is the centre
    Rect avatar;
    Rect avatar_head;
    Rect avatar_body;
    Rect username_rect;
    Point username_text;
    Rect password_rect;
    Point password_text;
    Point message_baseline;  // x is the centre
    Rect login_rect;
    Point login_baseline;  // x is the centre
    Rect bottom_bar;
    Rect power_off_rect;
    Point power_off_baseline;  // x is the centre
    Rect reboot_rect;
    Point reboot_baseline;  // x is the centre
    Rect console_rect;
    Point console_baseline;  // x is the centre
    Rect layout_rect;
    Point layout_baseline;     // x is the centre
    Point caps_lock_baseline;  // x is the centre
    // Where the message goes while the Caps Lock warning takes its place: below "Log In".
    Point message_low_baseline;  // x is the centre
};

// Every position of the greeter on `area` (the chosen monitor) with every length times `scale`.
GreeterLayout greeter_layout(const Rect& area, int32_t scale);
// The whole screen at scale 1.
GreeterLayout greeter_layout(int32_t width, int32_t height);

// The Xft pattern of a font at a scale: "DejaVu Sans:size=36:weight=light" at scale 1.
std::string font_pattern(const FontSpec& font, int32_t scale);

// Half-open: the right and bottom edges are outside.
bool rect_contains(const Rect& rect, int32_t x, int32_t y);

// The bar's buttons: power off, reboot, console, then the layout button.
uint8_t hit_power_button(const GreeterContext& ctx, int32_t x, int32_t y);

// Premultiplied, for rectangle fills.
XRenderColor fill_render_color(const Rgba& color);
// The text colour's channels, not premultiplied.
XRenderColor text_render_color(const Rgba& color);
// What Xft is handed (pixel 0). Render composites glyphs with this colour as premultiplied, so
// the straight channels are scaled by alpha: otherwise the half-opaque placeholders saturate to
// full white. Opaque colours are unchanged.
XftColor text_xft_color(const Rgba& color);

// One U+2022 per byte of the password.
std::string password_bullets(std::string_view password);

// Straight-alpha BGRA to the premultiplied pixels of an ARGB32 render picture.
BgraBuffer premultiply_bgra(const BgraBuffer& straight);

XftFont* open_font(Display* display, int screen, const std::string& pattern);
// The clock, field and small fonts at the context's scale; closing leaves them absent.
void open_greeter_fonts(GreeterContext& ctx);
void close_greeter_fonts(GreeterContext& ctx);

void fill_rect(const GreeterContext& ctx, int32_t x, int32_t y, int32_t width, int32_t height,
               const Rgba& color);
// A `thickness`-pixel outline just inside the field's rectangle.
void draw_field_outline(const GreeterContext& ctx, const Rect& field, int32_t thickness,
                        const Rgba& color);
void draw_text(XftDraw* draw, std::string_view text, int32_t x, int32_t y, XftFont* font,
               const Rgba& color);
void draw_centered_text(Display* display, XftDraw* draw, std::string_view text, int32_t center_x,
                        int32_t y, XftFont* font, const Rgba& color);

// Puts width x height BGRA pixels at (x, y) of the drawable; false when Xlib could not wrap them.
bool put_bgra(Display* display, Drawable drawable, GC gc, Visual* visual, unsigned depth,
              const uint8_t* pixels, unsigned width, unsigned height, int x, int y);

// Puts the prepared screen picture on the greeter window, or fills it with the fallback colour.
void paint_background(const GreeterContext& ctx, const std::string& fallback_color,
                      const std::optional<BgraBuffer>& background);
// The same on one rectangle of the window; the picture has the rectangle's size.
void paint_background_at(const GreeterContext& ctx, const std::string& fallback_color,
                         const std::optional<BgraBuffer>& background, const Rect& target);

// Draws every element over the freshly painted background and records the hit rectangles.
void draw_greeter(GreeterContext& ctx, const std::string& clock,
                  const std::optional<BgraBuffer>& avatar);

// Frees the Xft draw, the fonts, the GC, then wipes and empties the texts.
void release_greeter(GreeterContext& ctx);

// "00:00" when `local` is null (local time unavailable).
std::string clock_text_at(const std::tm* local, bool clock_24h);
std::string clock_text(bool clock_24h);
// Hour times 60 plus minute, or -1 when `local` is null.
int minute_key_at(const std::tm* local);
