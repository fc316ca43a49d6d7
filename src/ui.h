// The greeter on the screen: its X resources, drawing, and the clock.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "config.h"
#include "covers.h"
#include "geometry.h"
#include "greeter_layout.h"
#include "greeter_state.h"
#include "greeter_style.h"
#include "picture/pixels.h"
#include "x_owner.h"

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

// Where one showing is drawn: the X resources it owns (`release_greeter`), the display,
// visual and colormap it borrows, and the monitor's area and scale that place the layout.
struct GreeterView {
    Display* display = nullptr;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    GreeterHandles x;

    int screen = 0;
    int depth = 0;
    // The window's (the root's) size.
    int32_t width = 0;
    int32_t height = 0;
    // The monitor the greeter is laid out on, and the factor of every length.
    Rect area;
    int32_t scale = 1;
    // The high-contrast look instead of the normal one.
    bool high_contrast = false;
    // Every font and length 1.5 times.
    bool large_text = false;
};

// The Xft pattern of a font at a scale: "DejaVu Sans:size=36:weight=light" at scale 1, size 54
// with large text.
std::string font_pattern(const FontSpec& font, int32_t scale, bool large_text = false);

// Premultiplied, for rectangle fills.
XRenderColor fill_render_color(const Rgba& color);
// The text colour's channels, not premultiplied.
XRenderColor text_render_color(const Rgba& color);
// What Xft is handed (pixel 0). Render composites glyphs with this colour as premultiplied, so
// the straight channels are scaled by alpha: otherwise the half-opaque placeholders saturate to
// full white. Opaque colours are unchanged.
XftColor text_xft_color(const Rgba& color);

const char* password_placeholder(PasswordPrompt prompt);

// One U+2022 per byte of the password.
std::string password_bullets(std::string_view password);

// Straight-alpha BGRA to the premultiplied pixels of an ARGB32 render picture.
BgraBuffer premultiply_bgra(const BgraBuffer& straight);

XftFont* open_font(Display* display, int screen, const std::string& pattern);
// The clock, field and small fonts at the view's scale; closing leaves them absent.
void open_greeter_fonts(GreeterView& view);
void close_greeter_fonts(GreeterView& view);

// Puts the prepared screen picture on the greeter window, or fills it with the fallback colour.
void paint_background(const GreeterView& view, Rgb8 fallback_color,
                      const std::optional<BgraBuffer>& background);
// The same on one rectangle of the window; the picture has the rectangle's size. Null: the
// fallback colour.
void paint_background_at(const GreeterView& view, Rgb8 fallback_color, const BgraBuffer* background,
                         const Rect& target);

// Each cover's picture on its part of the window, the fallback colour wherever there is none.
void paint_backdrop(const GreeterView& view, Rgb8 fallback_color, const Backdrop& backdrop);

// Draws every element over the freshly painted background, where greeter_layout puts it.
void draw_greeter(const GreeterView& view, const GreeterState& state, const std::string& clock,
                  const std::optional<BgraBuffer>& avatar);

// Frees the Xft draw, the fonts, the GC, then wipes and empties the typed texts.
void release_greeter(GreeterView& view, GreeterState& state);

// "00:00" when `local` is null (local time unavailable).
std::string clock_text_at(const std::tm* local, bool clock_24h);
std::string clock_text(bool clock_24h);
// Hour times 60 plus minute, or -1 when `local` is null.
int minute_key_at(const std::tm* local);
