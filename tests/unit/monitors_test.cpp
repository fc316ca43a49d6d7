// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "monitors.h"

#include <vector>

namespace {

Monitor monitor(const char* name, Rect rect, bool primary = false, int32_t mm = 0) {
    return Monitor{name, rect, mm, 0, primary};
}

}  // namespace

TEST(MonitorChoice, PrimaryThenOriginThenRoot) {
    const Monitor left = monitor("L", {0, 0, 1920, 1080});
    const Monitor right = monitor("R", {1920, 0, 1920, 1080});
    const Monitor right_primary = monitor("R", {1920, 0, 1920, 1080}, true);
    const Monitor whole = monitor("screen", {0, 0, 3840, 1080});
    struct Case {
        const char* label;
        std::vector<Monitor> monitors;
        Monitor expected;
    };
    const std::vector<Case> cases = {
        {"primary wins over the origin", {whole, left, right_primary}, right_primary},
        {"no primary: first containing the origin", {right, whole, left}, whole},
        {"no RandR monitors: the root", {}, monitor("", {0, 0, 3840, 1080})},
        {"none primary, none at the origin: the root", {right}, monitor("", {0, 0, 3840, 1080})},
        // A primary wholly off the root does not count; one partly off is cut to the root.
        {"primary off the root", {monitor("X", {5000, 0, 100, 100}, true), left}, left},
        {"primary cut to the root",
         {monitor("P", {3000, -100, 1920, 1280}, true)},
         monitor("P", {3000, 0, 840, 1080}, true)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(choose_monitor(c.monitors, 3840, 1080), c.expected) << c.label;
    }
}

TEST(MonitorChoice, ScaleFromDensity) {
    struct Case {
        uint8_t configured;
        int32_t width_px;
        int32_t width_mm;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {0, 1920, 508, 1},                     // 96 dpi
        {0, 3840, 677, 2},                     // 144.07 dpi
        {0, 3840, 678, 1},                     // 143.86 dpi
        {0, 3840, 0, 1},                       // size unknown
        {0, 3840, -5, 1},  {3, 1920, 508, 3},  // configured: as it is
        {1, 3840, 300, 1}, {4, 1920, 0, 4},
    };
    for (const Case& c : cases) {
        const Monitor m = monitor("M", {0, 0, c.width_px, 1080}, true, c.width_mm);
        EXPECT_EQ(choose_scale(c.configured, m), c.expected)
            << int(c.configured) << " " << c.width_px << "/" << c.width_mm;
    }
}
