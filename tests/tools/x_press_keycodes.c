/* Presses and releases each given keycode through XTEST, as a keyboard would: the server's
 * active layout decides the keysym. (xdotool picks keys by keysym and switches the layout for
 * them.) Exit status 1 when the display cannot be opened or XTEST is missing. */
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(NULL);
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    if (display == NULL ||
        !XTestQueryExtension(display, &event_base, &error_base, &major, &minor)) {
        fprintf(stderr, "x_press_keycodes: no display with XTEST\n");
        return 1;
    }
    const struct timespec pause = {0, 30 * 1000 * 1000};
    for (int i = 1; i < argc; ++i) {
        const unsigned code = (unsigned)strtoul(argv[i], NULL, 10);
        XTestFakeKeyEvent(display, code, True, CurrentTime);
        XTestFakeKeyEvent(display, code, False, CurrentTime);
        XSync(display, False);
        nanosleep(&pause, NULL);
    }
    XCloseDisplay(display);
    return 0;
}
