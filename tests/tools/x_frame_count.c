/* Counts the frames other clients paint for SECONDS through the RECORD extension: a frame is a
 * PutImage to the top row at least MIN_WIDTH pixels wide (the greeter puts its background
 * with one per cover at every full repaint; Xlib cuts a large one into strips). Prints one line per
 * frame with the milliseconds since the recording began, then "frames N". Exit status 1 when the
 * display or the extension cannot be had. */
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static long frames;
static int min_width;
static double started;

static double now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void on_data(XPointer unused, XRecordInterceptData* data) {
    (void)unused;
    if (data->category == XRecordFromClient && data->data_len * 4 >= sizeof(xPutImageReq)) {
        xPutImageReq request;
        memcpy(&request, data->data, sizeof request);
        if (request.reqType == X_PutImage && request.width >= min_width && request.dstY == 0) {
            ++frames;
            printf("frame %.0f ms %ux%u\n", now_ms() - started, request.width, request.height);
            fflush(stdout);
        }
    }
    XRecordFreeData(data);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: x_frame_count SECONDS MIN_WIDTH\n");
        return 2;
    }
    const double seconds = atof(argv[1]);
    min_width = atoi(argv[2]);
    Display* control = XOpenDisplay(NULL);
    Display* data = XOpenDisplay(NULL);
    int major = 0;
    int minor = 0;
    if (control == NULL || data == NULL || !XRecordQueryVersion(control, &major, &minor)) {
        fprintf(stderr, "x_frame_count: no display or no RECORD extension\n");
        return 1;
    }
    XRecordRange* range = XRecordAllocRange();
    range->core_requests.first = X_PutImage;
    range->core_requests.last = X_PutImage;
    XRecordClientSpec clients = XRecordAllClients;
    XRecordContext context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
    XSync(control, False);
    if (context == 0 || !XRecordEnableContextAsync(data, context, on_data, NULL)) {
        fprintf(stderr, "x_frame_count: cannot record\n");
        return 1;
    }
    started = now_ms();
    while (now_ms() - started < seconds * 1e3) {
        struct pollfd pfd = {ConnectionNumber(data), POLLIN, 0};
        (void)poll(&pfd, 1, 50);
        XRecordProcessReplies(data);
    }
    XRecordDisableContext(control, context);
    XSync(control, False);
    printf("frames %ld\n", frames);
    return 0;
}
