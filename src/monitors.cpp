#include "monitors.h"

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>
#include <memory>

Rect intersect_rects(const Rect& a, const Rect& b) {
    const int64_t x0 = std::max<int64_t>(a.x, b.x);
    const int64_t y0 = std::max<int64_t>(a.y, b.y);
    const int64_t x1 = std::min<int64_t>(int64_t{a.x} + a.width, int64_t{b.x} + b.width);
    const int64_t y1 = std::min<int64_t>(int64_t{a.y} + a.height, int64_t{b.y} + b.height);
    if (x1 <= x0 || y1 <= y0) {
        return Rect{};
    }
    return Rect{static_cast<int32_t>(x0), static_cast<int32_t>(y0), static_cast<int32_t>(x1 - x0),
                static_cast<int32_t>(y1 - y0)};
}

std::vector<Monitor> read_monitors(Display* display, Window root) {
    int event_base = 0;
    int error_base = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(display, &event_base, &error_base) ||
        !XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5)) {
        return {};
    }
    int count = 0;
    const std::unique_ptr<XRRMonitorInfo, void (*)(XRRMonitorInfo*)> list(
        XRRGetMonitors(display, root, True, &count), XRRFreeMonitors);
    std::vector<Monitor> monitors;
    for (int i = 0; list && i < count; ++i) {
        const XRRMonitorInfo& info = list.get()[i];
        Monitor m;
        if (char* name = XGetAtomName(display, info.name)) {
            m.name = name;
            XFree(name);
        }
        m.rect = Rect{info.x, info.y, info.width, info.height};
        m.width_mm = info.mwidth;
        m.height_mm = info.mheight;
        m.primary = info.primary != 0;
        monitors.push_back(std::move(m));
    }
    return monitors;
}

Monitor choose_monitor(const std::vector<Monitor>& monitors, int32_t root_width,
                       int32_t root_height) {
    const Rect root{0, 0, root_width, root_height};
    const auto usable = [&](const Monitor& m) { return intersect_rects(m.rect, root).width > 0; };
    auto chosen = std::find_if(monitors.begin(), monitors.end(),
                               [&](const Monitor& m) { return m.primary && usable(m); });
    if (chosen == monitors.end()) {
        chosen = std::find_if(monitors.begin(), monitors.end(), [&](const Monitor& m) {
            return usable(m) && rect_contains(m.rect, 0, 0);
        });
    }
    if (chosen == monitors.end()) {
        return Monitor{"", root, 0, 0, false};
    }
    Monitor m = *chosen;
    m.rect = intersect_rects(m.rect, root);
    return m;
}

bool greeter_fits(const Rect& area, int32_t scale, bool large_text) {
    const GreeterLayout l = greeter_layout(area, scale, large_text);
    const int32_t s = std::clamp(scale, 1, MAX_SCALE);
    const auto px = [&](int32_t length) { return scaled_length(length, s, large_text); };
    const int32_t margin = px(FIT_MARGIN);
    const int64_t right = int64_t{area.x} + area.width;
    const int32_t message_left = l.message_baseline.x - px(MESSAGE_WIDTH / 2);
    const int64_t message_right = int64_t{message_left} + px(MESSAGE_WIDTH);
    const int64_t console_right = int64_t{l.console_rect.x} + l.console_rect.width;
    return l.clock_baseline.y - px(CLOCK_RISE) - margin >= area.y &&
           l.message_low_baseline.y + px(TEXT_DESCENT) + margin <= l.bottom_bar.y &&
           message_left - margin >= area.x && message_right + margin <= right &&
           l.access_rect.x + l.access_rect.width + margin <= l.power_off_rect.x &&
           console_right + margin <= l.layout_rect.x &&
           (l.session_rect.x >= console_right ||
            (l.session_rect.width >= px(SESSION_BUTTON_MIN_WIDTH) &&
             l.session_rect.x + l.session_rect.width + margin <= l.power_off_rect.x));
}

int32_t choose_scale(uint8_t configured, const Monitor& monitor, bool large_text) {
    const auto fits = [&](int32_t scale) { return greeter_fits(monitor.rect, scale, large_text); };
    if (configured != 0) {
        int32_t scale = std::min<int32_t>(configured, MAX_SCALE);
        while (scale > 1 && !fits(scale)) {
            --scale;
        }
        return scale;
    }
    if (monitor.width_mm <= 0 || monitor.rect.width <= 0) {
        return 1;
    }
    const double dpi = monitor.rect.width * 25.4 / monitor.width_mm;
    // The box's physical size goes with scale / dpi; at the reference it is 1 / REFERENCE_DPI.
    int32_t best = 1;
    double best_distance = std::abs(1.0 / dpi - 1.0 / REFERENCE_DPI);
    for (int32_t scale = 2; scale <= MAX_SCALE && fits(scale); ++scale) {
        const double distance = std::abs(scale / dpi - 1.0 / REFERENCE_DPI);
        if (distance <= best_distance + 1e-12) {
            best = scale;
            best_distance = distance;
        }
    }
    return best;
}

int watch_monitors(Display* display, Window root) {
    int event_base = 0;
    int error_base = 0;
    if (!XRRQueryExtension(display, &event_base, &error_base)) {
        return -1;
    }
    XRRSelectInput(display, root, RRScreenChangeNotifyMask);
    return event_base;
}
