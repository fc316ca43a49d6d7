// Full greeter redraw (background put, clock, draw_greeter, flush and a round trip) against the
// floor of one XPutImage of the whole screen plus a round trip, on Xvfb at 1920x1080.
// Usage: redraw_bench [DISPLAY] [ITERATIONS]; without a display it starts its own Xvfb.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_context.h"
#include "picture/picture.h"
#include "ui.h"

namespace {

constexpr int WIDTH = 1920;
constexpr int HEIGHT = 1080;
constexpr Rgb8 FALLBACK = DEFAULT_FALLBACK_RGB;

struct Xvfb {
    pid_t pid = 0;
    std::string display;
};

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::optional<Xvfb> start_xvfb() {
    for (int n = 97; n < 140; ++n) {
        const std::string num = std::to_string(n);
        if (exists("/tmp/.X" + num + "-lock") || exists("/tmp/.X11-unix/X" + num)) {
            continue;
        }
        const std::string display = ":" + num;
        const pid_t pid = ::fork();
        if (pid < 0) {
            return std::nullopt;
        }
        if (pid == 0) {
            ::execlp("Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "1920x1080x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && !exists("/tmp/.X11-unix/X" + num); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return Xvfb{pid, display};
    }
    return std::nullopt;
}

void stop_xvfb(const Xvfb& xvfb) {
    ::kill(xvfb.pid, SIGTERM);
    int status = 0;
    ::waitpid(xvfb.pid, &status, 0);
}

// A smooth picture, so the put carries real pixels.
BgraBuffer gradient() {
    BgraBuffer b(static_cast<size_t>(WIDTH) * HEIGHT * 4);
    for (int y = 0; y < HEIGHT; ++y) {
        for (int x = 0; x < WIDTH; ++x) {
            uint8_t* p = &b[(static_cast<size_t>(y) * WIDTH + x) * 4];
            p[0] = static_cast<uint8_t>(x * 255 / WIDTH);
            p[1] = static_cast<uint8_t>(y * 255 / HEIGHT);
            p[2] = static_cast<uint8_t>((x + y) & 0xff);
            p[3] = 255;
        }
    }
    return b;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

template <typename F>
double time_ms(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<Xvfb> xvfb;
    std::string display_name;
    if (argc > 1 && argv[1][0] != '\0') {
        display_name = argv[1];
    } else {
        xvfb = start_xvfb();
        if (!xvfb) {
            std::fprintf(stderr, "could not start Xvfb\n");
            return 1;
        }
        display_name = xvfb->display;
    }
    const int iterations = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;

    Display* display = XOpenDisplay(display_name.c_str());
    if (display == nullptr) {
        std::fprintf(stderr, "cannot open display %s\n", display_name.c_str());
        if (xvfb) {
            stop_xvfb(*xvfb);
        }
        return 1;
    }
    const int sn = DefaultScreen(display);
    GreeterView view;
    GreeterState state;
    init_bench_view(view, display, WIDTH, HEIGHT);
    view.area = Rect{0, 0, WIDTH, HEIGHT};
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.colormap = view.colormap;
    view.x.window = WindowOwner(
        display, XCreateWindow(display, RootWindow(display, sn), 0, 0, WIDTH, HEIGHT, 0, view.depth,
                               InputOutput, view.visual, CWOverrideRedirect | CWColormap, &attrs));
    XMapRaised(display, view.x.window);
    view.x.gc = GcOwner(display, XCreateGC(display, view.x.window, 0, nullptr));
    view.x.clock_font = FontOwner(display, open_font(display, sn, font_pattern(CLOCK_FONT, 1)));
    view.x.field_font = FontOwner(display, open_font(display, sn, font_pattern(FIELD_FONT, 1)));
    view.x.small_font = FontOwner(display, open_font(display, sn, font_pattern(SMALL_FONT, 1)));
    view.x.draw =
        DrawOwner(display, XftDrawCreate(display, view.x.window, view.visual, view.colormap));
    state.username = "alice";
    state.password = SecretText("password");
    XSync(display, False);

    const std::optional<BgraBuffer> background = gradient();
    BgraBuffer floor_pixels = *background;
    XImage* image =
        XCreateImage(display, view.visual, static_cast<unsigned>(view.depth), ZPixmap, 0,
                     reinterpret_cast<char*>(floor_pixels.data()), WIDTH, HEIGHT, 32, 0);

    const auto redraw = [&] {
        paint_background(view, FALLBACK, background);
        const std::string clock = clock_text(true);
        draw_greeter(view, state, clock, std::nullopt);
        XSync(display, False);
    };
    const auto greeter_only = [&] {
        draw_greeter(view, state, clock_text(true), std::nullopt);
        XSync(display, False);
    };
    const auto put_floor = [&] {
        XPutImage(display, view.x.window, view.x.gc, image, 0, 0, 0, 0, WIDTH, HEIGHT);
        XSync(display, False);
    };

    for (int i = 0; i < 10; ++i) {
        redraw();
        put_floor();
    }
    std::vector<double> redraws;
    std::vector<double> floors;
    std::vector<double> overlays;
    // Interleaved, so drift on a shared machine hits all three alike.
    for (int i = 0; i < iterations; ++i) {
        redraws.push_back(time_ms(redraw));
        floors.push_back(time_ms(put_floor));
        overlays.push_back(time_ms(greeter_only));
    }

    const double redraw_ms = median(redraws);
    const double floor_ms = median(floors);
    std::printf("display %s, %dx%d, %d iterations\n", display_name.c_str(), WIDTH, HEIGHT,
                iterations);
    std::printf("full redraw median:        %.3f ms\n", redraw_ms);
    std::printf("XPutImage floor median:    %.3f ms\n", floor_ms);
    std::printf("draw_greeter alone median: %.3f ms\n", median(overlays));
    std::printf("ratio redraw/floor:        %.2fx (goal <= 1.30x)\n", redraw_ms / floor_ms);

    image->data = nullptr;  // the pixels belong to floor_pixels
    XDestroyImage(image);
    state.password.wipe();
    release_greeter(view, state);
    XCloseDisplay(display);
    if (xvfb) {
        stop_xvfb(*xvfb);
    }
    return 0;
}
