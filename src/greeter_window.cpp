#include "greeter_window.h"

#include "fd.h"

// Both grabs or neither: a greeter that does not hold the keyboard would hand what is typed
// into it to whoever does.
bool grab_input(Display* display, Window window, Cursor cursor) {
    for (int waited = 0;; waited += GRAB_RETRY_MS) {
        const int keyboard =
            XGrabKeyboard(display, window, True, GrabModeAsync, GrabModeAsync, CurrentTime);
        const int pointer =
            keyboard == GrabSuccess
                ? XGrabPointer(display, window, True, ButtonPressMask | PointerMotionMask,
                               GrabModeAsync, GrabModeAsync, window, cursor, CurrentTime)
                : GrabNotViewable;
        if (keyboard == GrabSuccess && pointer == GrabSuccess) {
            return true;
        }
        XUngrabKeyboard(display, CurrentTime);
        if (waited >= GRAB_TIMEOUT_MS) {
            XUnmapWindow(display, window);
            XFlush(display);
            return false;
        }
        sleep_ms(GRAB_RETRY_MS);
    }
}

// The root's size: Xlib's DisplayWidth/Height are fixed when the connection opens, and a
// resolution change made during a session only shows in the root window's geometry.
void root_size(Display* display, Window root, unsigned& width, unsigned& height) {
    Window geometry_root = 0;
    int gx = 0;
    int gy = 0;
    unsigned border = 0;
    unsigned root_depth = 0;
    if (XGetGeometry(display, root, &geometry_root, &gx, &gy, &width, &height, &border,
                     &root_depth) == 0) {
        const int sn = DefaultScreen(display);
        width = static_cast<unsigned>(DisplayWidth(display, sn));
        height = static_cast<unsigned>(DisplayHeight(display, sn));
    }
}
