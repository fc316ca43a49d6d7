/* A user's leftover that waits for the X server's abstract socket name (@/tmp/.X11-unix/XN, N
 * from argv[2], default 0) to come free, binds it, and notes in the file argv[1] "bound" and then
 * "uid=U pid=P" for every connection it is given; it answers nothing. Abstract names have no
 * owner or permissions, so any local process can do this. */
#define _GNU_SOURCE
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static void note(const char* path, const char* text) {
    FILE* f = fopen(path, "a");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: x_name_squatter LOG [DISPLAY_NUMBER]\n");
        return 2;
    }
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    const int length = snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                "/tmp/.X11-unix/X%s", argc > 2 ? argv[2] : "0");
    const socklen_t size = (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + length);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    while (bind(fd, (struct sockaddr*)&address, size) != 0) {
        usleep(10000);
    }
    listen(fd, 16);
    note(argv[1], "bound\n");
    for (;;) {
        const int client = accept(fd, NULL, NULL);
        if (client < 0) {
            continue;
        }
        struct ucred peer;
        socklen_t peer_size = sizeof peer;
        char line[64] = "uid=? pid=?\n";
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &peer_size) == 0) {
            snprintf(line, sizeof line, "uid=%u pid=%d\n", (unsigned)peer.uid, (int)peer.pid);
        }
        note(argv[1], line);
        close(client);
    }
}
