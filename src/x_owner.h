// Owners of X resources: each frees its resource on its display when it goes. Members of one
// record are freed in the reverse order of their declaration, so that order is the release
// order.
#pragma once

#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>

#include <utility>

// Converts to the raw handle, so that Xlib calls take it as it is.
template <typename Handle, void (*Free)(Display*, Handle)>
class XOwner {
  public:
    XOwner() = default;
    XOwner(Display* display, Handle handle) : display_(display), handle_(handle) {}
    XOwner(XOwner&& other) noexcept
        : display_(std::exchange(other.display_, nullptr)),
          handle_(std::exchange(other.handle_, Handle{})) {}
    XOwner& operator=(XOwner&& other) noexcept {
        if (this != &other) {
            reset();
            display_ = std::exchange(other.display_, nullptr);
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    XOwner(const XOwner&) = delete;
    XOwner& operator=(const XOwner&) = delete;
    ~XOwner() { reset(); }

    void reset() {
        if (display_ != nullptr && handle_ != Handle{}) {
            Free(display_, handle_);
        }
        display_ = nullptr;
        handle_ = Handle{};
    }
    Handle get() const { return handle_; }
    operator Handle() const { return handle_; }  // NOLINT(google-explicit-constructor)

  private:
    Display* display_ = nullptr;
    Handle handle_{};
};

namespace x_free {
inline void gc(Display* display, GC gc) {
    XFreeGC(display, gc);
}
inline void font(Display* display, XftFont* font) {
    XftFontClose(display, font);
}
inline void draw(Display*, XftDraw* draw) {
    XftDrawDestroy(draw);
}
inline void window(Display* display, Window window) {
    XDestroyWindow(display, window);
}
inline void cursor(Display* display, Cursor cursor) {
    XFreeCursor(display, cursor);
}
}  // namespace x_free

using GcOwner = XOwner<GC, x_free::gc>;
using FontOwner = XOwner<XftFont*, x_free::font>;
using DrawOwner = XOwner<XftDraw*, x_free::draw>;
using WindowOwner = XOwner<Window, x_free::window>;
using CursorOwner = XOwner<Cursor, x_free::cursor>;
