// The greeter view the drawing benchmarks share: the screen of `display`, at a fixed size.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

#include "ui.h"

inline void init_bench_view(GreeterView& view, Display* display, int32_t width, int32_t height) {
    const int sn = DefaultScreen(display);
    view.display = display;
    view.screen = sn;
    view.visual = DefaultVisual(display, sn);
    view.colormap = DefaultColormap(display, sn);
    view.depth = DefaultDepth(display, sn);
    view.width = width;
    view.height = height;
}
