/* A client that stays connected while owning no resource at all: it frees the graphics context
 * Xlib makes at connection, writes its PID to standard output and waits to be ended. Exit
 * status 1 when the display cannot be opened, or (through Xlib) once the connection is lost, so
 * that the process lives exactly as long as its connection. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <unistd.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "x_bare_client: cannot open the display\n");
        return 1;
    }
    XFreeGC(display, DefaultGC(display, DefaultScreen(display)));
    XSync(display, False);
    printf("%d\n", (int)getpid());
    fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}
