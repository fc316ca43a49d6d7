// Greeter rendering, layout and the clock.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <optional>
#include <string>

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
};

struct GreeterContext {
    std::string username;
    std::string password;
    std::optional<std::string> message;

    Display* display = nullptr;
    Window window = 0;
    Visual* visual = nullptr;
    Colormap colormap = 0;
    GC gc = nullptr;
    XftFont* clock_font = nullptr;
    XftFont* field_font = nullptr;
    XftFont* small_font = nullptr;
    XftDraw* draw = nullptr;

    Rect login_rect;
    Rect username_rect;
    Rect password_rect;
    Rect power_off_rect;
    Rect reboot_rect;
    Rect console_rect;

    int screen = 0;
    int depth = 0;
    int32_t width = 0;
    int32_t height = 0;

    bool password_focused = false;
    bool login_hovered = false;
    uint8_t hovered_button = 3;
};
