// Placeholder showing until the greeter lands: a mapped full-screen window and an idle loop.
#include "login_screen.h"

#include <poll.h>

pid_t run_login_screen(Display* display, const Config&, LoginScreen& screen) {
    screen.display = display;
    const int sn = DefaultScreen(display);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    screen.window = XCreateWindow(
        display, RootWindow(display, sn), 0, 0, static_cast<unsigned>(DisplayWidth(display, sn)),
        static_cast<unsigned>(DisplayHeight(display, sn)), 0, CopyFromParent, InputOutput,
        CopyFromParent, CWOverrideRedirect, &attrs);
    XMapRaised(display, screen.window);
    XFlush(display);
    for (;;) {
        pollfd pfd{ConnectionNumber(display), POLLIN, 0};
        ::poll(&pfd, 1, 1000);
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }
}

void hide_login_screen(LoginScreen& screen) {
    XUnmapWindow(screen.display, screen.window);
}

void close_login_screen(LoginScreen& screen) {
    XDestroyWindow(screen.display, screen.window);
}
