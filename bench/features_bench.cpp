// What Caps Lock, keyboard layouts, several monitors, scale 2, high contrast and large text cost
// the greeter, each against the greeter without them in the same run, on Xvfb at 3840x1080: at the
// start of a showing (the X side of it: window, fonts, first paint, plus each feature's own
// requests) and per key (the full repaint a key press causes). Usage: features_bench [ITERATIONS];
// starts its own Xvfb.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_context.h"
#include "contrast.h"
#include "covers.h"
#include "keyboard.h"
#include "monitors.h"
#include "ui.h"

namespace {

constexpr int WIDTH = 3840;
constexpr int HEIGHT = 1080;
constexpr Rgb8 FALLBACK = DEFAULT_FALLBACK_RGB;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

pid_t start_xvfb(std::string& display) {
    for (int n = 97; n < 140; ++n) {
        const std::string num = std::to_string(n);
        if (exists("/tmp/.X" + num + "-lock") || exists("/tmp/.X11-unix/X" + num)) {
            continue;
        }
        display = ":" + num;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::execlp("Xvfb", "Xvfb", display.c_str(), "-nolisten", "tcp", "-screen", "0",
                     "3840x1080x24", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && !exists("/tmp/.X11-unix/X" + num); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return pid;
    }
    return -1;
}

BgraBuffer gradient(int width, int height) {
    BgraBuffer b(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
    for (size_t i = 0; i < b.size(); i += 4) {
        b[i] = static_cast<uint8_t>(i / 4 % 251);
        b[i + 1] = static_cast<uint8_t>(i / 4 / static_cast<size_t>(width) % 241);
        b[i + 3] = 255;
    }
    return b;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 == 1 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double time_ms(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

void declare_monitor(Display* display, Window root, const char* name, int x, bool primary) {
    XRRMonitorInfo* m = XRRAllocateMonitor(display, 0);
    m->name = XInternAtom(display, name, False);
    m->primary = primary;
    m->x = x;
    m->y = 0;
    m->width = WIDTH / 2;
    m->height = HEIGHT;
    m->mwidth = 508;
    m->mheight = 286;
    XRRSetMonitor(display, root, m);
    XRRFreeMonitors(m);
}

struct Case {
    const char* name;
    std::function<void()> run;
    std::vector<double> times;
};

void report(const char* title, std::vector<Case>& cases) {
    const double base = median(cases.front().times);
    std::printf("%s\n", title);
    for (Case& c : cases) {
        const double m = median(c.times);
        std::printf("  %-44s %8.3f ms  %5.2fx  %+8.3f ms\n", c.name, m, m / base, m - base);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int iterations = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    std::string name;
    const pid_t xvfb = start_xvfb(name);
    Display* display = xvfb > 0 ? XOpenDisplay(name.c_str()) : nullptr;
    if (display == nullptr) {
        std::fprintf(stderr, "could not start or open Xvfb\n");
        return 1;
    }
    const int sn = DefaultScreen(display);
    const Window root = RootWindow(display, sn);
    GreeterView view;
    GreeterState state;
    init_bench_view(view, display, WIDTH, HEIGHT);
    state.username = "alice";
    state.password = SecretText("password");

    const Rect whole{0, 0, WIDTH, HEIGHT};
    const Rect right{WIDTH / 2, 0, WIDTH / 2, HEIGHT};
    Backdrop one;
    one.covers = {whole};
    one.pictures = {gradient(WIDTH, HEIGHT)};
    one.picture_of = {0};
    Backdrop two;
    two.covers = {Rect{0, 0, WIDTH / 2, HEIGHT}, right};
    two.pictures = {gradient(WIDTH / 2, HEIGHT)};
    two.picture_of = {0, 0};

    // Today's X side of a showing: window, GC, fonts, drawing surface, first paint.
    const auto paint = [&](const Backdrop& backdrop) {
        if (view.high_contrast) {
            paint_background(view, high_contrast_background(FALLBACK), std::nullopt);
        } else {
            paint_backdrop(view, FALLBACK, backdrop);
        }
        draw_greeter(view, state, clock_text(true), std::nullopt);
        XSync(display, False);
    };
    const auto showing = [&](int32_t scale, const Backdrop& backdrop) {
        XSetWindowAttributes attrs{};
        attrs.override_redirect = True;
        attrs.colormap = view.colormap;
        view.x.window = WindowOwner(
            display, XCreateWindow(display, root, 0, 0, WIDTH, HEIGHT, 0, view.depth, InputOutput,
                                   view.visual, CWOverrideRedirect | CWColormap, &attrs));
        XMapRaised(display, view.x.window);
        view.x.gc = GcOwner(display, XCreateGC(display, view.x.window, 0, nullptr));
        view.scale = scale;
        const bool large = view.large_text;
        view.x.clock_font =
            FontOwner(display, open_font(display, sn, font_pattern(CLOCK_FONT, scale, large)));
        view.x.field_font =
            FontOwner(display, open_font(display, sn, font_pattern(FIELD_FONT, scale, large)));
        view.x.small_font =
            FontOwner(display, open_font(display, sn, font_pattern(SMALL_FONT, scale, large)));
        view.x.draw =
            DrawOwner(display, XftDrawCreate(display, view.x.window, view.visual, view.colormap));
        paint(backdrop);
    };
    const auto end_showing = [&] {
        (void)std::exchange(view.x, GreeterHandles{});
        XSync(display, False);
    };
    const auto redraw = [&](const Backdrop& backdrop) { paint(backdrop); };
    // Runs `f` in a look, and leaves the normal one.
    const auto in_look = [&](bool high_contrast, bool large_text, const std::function<void()>& f) {
        view.high_contrast = high_contrast;
        view.large_text = large_text;
        f();
        view.high_contrast = view.large_text = false;
    };

    bool two_layouts = false;
    std::vector<Case> startup = {
        {"showing as today (1 monitor, scale 1)",
         [&] {
             view.area = whole;
             showing(1, one);
         },
         {}},
        {"+ Caps Lock and layout state (no config)",
         [&] {
             view.area = whole;
             showing(1, one);
             watch_keyboard(display);
             read_keyboard(display, root);
             XSync(display, False);
         },
         {}},
        {"+ [ui] layouts set (us,de <-> us)",
         [&] {
             view.area = whole;
             showing(1, one);
             two_layouts = !two_layouts;
             set_layouts(display, root,
                         two_layouts ? std::vector<std::string>{"us", "de"}
                                     : std::vector<std::string>{"us"});
             read_keyboard(display, root);
             XSync(display, False);
         },
         {}},
        {"+ RandR monitors, 2 covers (pictures ready)",
         [&] {
             const std::vector<Monitor> monitors = read_monitors(display, root);
             view.area = choose_monitor(monitors, WIDTH, HEIGHT).rect;
             const Backdrop plan = plan_backdrop(monitors, whole);
             showing(1, two);
         },
         {}},
        {"scale 2 (fonts and first paint)",
         [&] {
             view.area = whole;
             showing(2, one);
         },
         {}},
        {"high contrast (solid background, outlines)",
         [&] {
             view.area = whole;
             in_look(true, false, [&] { showing(1, one); });
         },
         {}},
        {"large text (fonts and first paint)",
         [&] {
             view.area = whole;
             in_look(false, true, [&] { showing(1, one); });
         },
         {}},
    };
    declare_monitor(display, root, "L", 0, false);
    declare_monitor(display, root, "R", WIDTH / 2, true);
    XSync(display, False);
    for (int i = 0; i < iterations / 4 + 2; ++i) {
        for (Case& c : startup) {
            c.times.push_back(time_ms(c.run));
            end_showing();
        }
    }

    view.area = whole;
    showing(1, one);
    std::vector<Case> per_key = {
        {"repaint as today", [&] { redraw(one); }, {}},
        {"Caps Lock on (warning drawn)",
         [&] {
             state.caps_lock = true;
             redraw(one);
             state.caps_lock = false;
         },
         {}},
        {"two layouts (button drawn)",
         [&] {
             state.layout_label = "US";
             redraw(one);
             state.layout_label.clear();
         },
         {}},
        {"two monitors (two covers, box on one)",
         [&] {
             view.area = right;
             redraw(two);
             view.area = whole;
         },
         {}},
        {"high contrast", [&] { in_look(true, false, [&] { redraw(one); }); }, {}},
    };
    for (int i = 0; i < iterations; ++i) {
        for (Case& c : per_key) {
            c.times.push_back(time_ms(c.run));
        }
    }
    end_showing();
    view.area = whole;
    showing(2, one);
    std::vector<Case> scaled = {{"repaint at scale 2", [&] { redraw(one); }, {}}};
    for (int i = 0; i < iterations; ++i) {
        scaled.front().times.push_back(time_ms(scaled.front().run));
    }
    end_showing();
    // Large text needs its own fonts: a showing of its own, like scale 2.
    view.large_text = true;
    showing(1, one);
    std::vector<Case> large = {{"repaint with large text", [&] { redraw(one); }, {}}};
    for (int i = 0; i < iterations; ++i) {
        large.front().times.push_back(time_ms(large.front().run));
    }
    end_showing();
    view.large_text = false;

    std::printf("Xvfb %dx%d, medians of %d (start-up) and %d (per key) runs\n", WIDTH, HEIGHT,
                iterations / 4 + 2, iterations);
    report("start of a showing (X side), against today's:", startup);
    report("per key (full repaint), against today's:", per_key);
    const double base = median(per_key.front().times);
    const double s2 = median(scaled.front().times);
    std::printf("  %-44s %8.3f ms  %5.2fx  %+8.3f ms\n", "repaint at scale 2", s2, s2 / base,
                s2 - base);
    const double lt = median(large.front().times);
    std::printf("  %-44s %8.3f ms  %5.2fx  %+8.3f ms\n", "repaint with large text", lt, lt / base,
                lt - base);

    state.password.wipe();
    XCloseDisplay(display);
    ::kill(xvfb, SIGTERM);
    ::waitpid(xvfb, nullptr, 0);
    return 0;
}
