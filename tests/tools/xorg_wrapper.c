/* Stands in for /usr/bin/Xorg in the sandbox: records its arguments, then runs Xvfb.
 * A shell script would lose argument zero, so this is compiled.
 * VESKO_TEST_SCREEN sets the screen (default 1920x1080x24); VESKO_TEST_XORG=never makes a
 * server that never accepts connections and notes the SIGTERM it receives. */
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void note_sigterm(int sig) {
    (void)sig;
    FILE* f = fopen("/tmp/xorg-sigterm", "w");
    if (f) {
        fputs("SIGTERM\n", f);
        fclose(f);
    }
    _exit(0);
}

int main(int argc, char** argv) {
    FILE* f = fopen("/tmp/xorg-args", "w");
    if (f) {
        for (int i = 0; i < argc; ++i) {
            fprintf(f, "%s\n", argv[i]);
        }
        fclose(f);
    }
    f = fopen("/tmp/xorg-pid", "w");
    if (f) {
        fprintf(f, "%d\n", (int)getpid());
        fclose(f);
    }
    const char* mode = getenv("VESKO_TEST_XORG");
    if (mode && strcmp(mode, "never") == 0) {
        signal(SIGTERM, note_sigterm);
        for (;;) {
            pause();
        }
    }
    /* A daemon started under faketime passes its preload on; the server keeps real time. */
    unsetenv("LD_PRELOAD");
    unsetenv("FAKETIME");
    const char* screen = getenv("VESKO_TEST_SCREEN");
    char* args[64];
    int n = 0;
    args[n++] = "Xvfb";
    for (int i = 1; i < argc && n < 56; ++i) {
        if (strncmp(argv[i], "vt", 2) == 0) {
            continue; /* Xvfb has no terminals */
        }
        args[n++] = argv[i];
    }
    args[n++] = "-screen";
    args[n++] = "0";
    args[n++] = (char*)(screen && *screen ? screen : "1920x1080x24");
    args[n] = NULL;
    execv("/usr/bin/Xvfb", args);
    perror("execv Xvfb");
    return 127;
}
