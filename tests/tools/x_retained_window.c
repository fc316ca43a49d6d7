/* A client that leaves something behind: maps a window named by its argument, asks the server
 * to keep its resources after it goes (RetainPermanent) and exits. Exit status 1 when the
 * display cannot be opened. */
#include <X11/Xlib.h>
#include <stdio.h>

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "retained";
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "x_retained_window: cannot open the display\n");
        return 1;
    }
    Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 50, 50, 0, 0, 0);
    XStoreName(display, window, name);
    XMapWindow(display, window);
    XSetCloseDownMode(display, RetainPermanent);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
