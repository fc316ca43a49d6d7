// Prints the ink width in pixels of a text drawn in the greeter's message font (or with "field" its
// field font) on the display: x_text_width TEXT [SCALE [field]]. The tests compare it with what a
// screenshot shows.
#include <X11/Xft/Xft.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ui.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: x_text_width TEXT [SCALE [field]]\n");
        return 2;
    }
    const int32_t scale = argc >= 3 ? std::atoi(argv[2]) : 1;
    const bool field = argc == 4 && std::strcmp(argv[3], "field") == 0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x_text_width: cannot open the display\n");
        return 1;
    }
    const std::string pattern = font_pattern(field ? FIELD_FONT : SMALL_FONT, scale);
    XftFont* font = XftFontOpenName(display, DefaultScreen(display), pattern.c_str());
    if (font == nullptr) {
        std::fprintf(stderr, "x_text_width: cannot open %s\n", pattern.c_str());
        return 1;
    }
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(argv[1]),
                       static_cast<int>(std::strlen(argv[1])), &extents);
    std::printf("%d\n", extents.width);
    XftFontClose(display, font);
    XCloseDisplay(display);
    return 0;
}
