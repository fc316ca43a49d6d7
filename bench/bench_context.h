// The greeter context the drawing benchmarks share: the screen of `display`, at a fixed size.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>

#include "ui.h"

inline void init_bench_context(GreeterContext& ctx, Display* display, int32_t width,
                               int32_t height) {
    const int sn = DefaultScreen(display);
    ctx.display = display;
    ctx.screen = sn;
    ctx.visual = DefaultVisual(display, sn);
    ctx.colormap = DefaultColormap(display, sn);
    ctx.depth = DefaultDepth(display, sn);
    ctx.width = width;
    ctx.height = height;
}
