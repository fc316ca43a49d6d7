// The monitors of the screen (RandR 1.5), the one the greeter is laid out on, and its scale.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui.h"

// Density from which automatic scaling doubles every length.
inline constexpr double HIGH_DENSITY_DPI = 144.0;

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

// `configured` 1 to MAX_SCALE as it is; 0 gives 2 from HIGH_DENSITY_DPI across the monitor on,
// and 1 below or when its physical size is unknown.
int32_t choose_scale(uint8_t configured, const Monitor& monitor);

// The RandR event base, or -1 without RandR; asks for screen changes on the root.
int watch_monitors(Display* display, Window root);
