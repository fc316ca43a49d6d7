/* Grabs the whole server (GrabServer) and keeps it: no other client is served until this
 * connection closes. Writes its PID to standard output once the grab holds, then waits to be
 * ended. Exit status 1 when the display cannot be opened. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <unistd.h>

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "x_server_grab: cannot open the display\n");
        return 1;
    }
    XGrabServer(display);
    XSync(display, False);
    printf("%d\n", (int)getpid());
    fflush(stdout);
    for (;;) {
        pause();
    }
}
