// The monitors of the screen (RandR 1.5), the one the greeter is laid out on, and its scale.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "geometry.h"
#include "greeter_layout.h"

// The density at which scale 1 shows the login box at its intended physical size.
inline constexpr double REFERENCE_DPI = 96.0;
// How far text reaches past its baseline at scale 1 (the clock's digits above it, the message's
// descenders below), and the room the login box keeps from the edges and the bar.
inline constexpr int32_t CLOCK_RISE = 38;
inline constexpr int32_t TEXT_DESCENT = 5;
inline constexpr int32_t FIT_MARGIN = 16;

struct Monitor {
    std::string name;
    Rect rect;
    int32_t width_mm = 0;
    int32_t height_mm = 0;
    bool primary = false;
    bool operator==(const Monitor&) const = default;
};

// The common part of two rectangles; empty (all zero) when they do not overlap.
Rect intersect_rects(const Rect& a, const Rect& b);

// The server's monitors in its order; empty without RandR 1.5.
std::vector<Monitor> read_monitors(Display* display, Window root);

// The primary monitor; else the first that contains the root window's origin; else the whole
// root, as without RandR monitors. Cut to the root.
Monitor choose_monitor(const std::vector<Monitor>& monitors, int32_t root_width,
                       int32_t root_height);

// Whether the whole greeter (clock, avatar, fields, message area, buttons, the bar and its layout
// button) fits `area` at `scale`, with FIT_MARGIN times the scale to spare.
bool greeter_fits(const Rect& area, int32_t scale, bool large_text = false);

// `configured` 1 to MAX_SCALE, reduced until the greeter fits (never below 1). 0: among the
// scales that fit, the one that shows the login box closest to its physical size at scale 1 on
// a REFERENCE_DPI screen (density across the monitor; a tie goes to the larger); 1 when the
// monitor's physical size is unknown.
int32_t choose_scale(uint8_t configured, const Monitor& monitor, bool large_text = false);

// The RandR event base, or -1 without RandR; asks for screen changes on the root.
int watch_monitors(Display* display, Window root);
