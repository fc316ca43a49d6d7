// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "covers.h"
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
        int32_t height_px;
        int32_t width_mm;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {0, 1920, 1080, 508, 1},  // 96 dpi
        {0, 3840, 1080, 677, 2},  // 144.07 dpi: the box's size is nearer at 2
        {0, 3840, 1080, 678, 1},  // 143.86 dpi: nearer at 1
        {0, 3840, 1080, 0, 1},    // size unknown
        {0, 3840, 1080, -5, 1},
        // Configured: as it is where the greeter fits, else the largest scale that fits.
        {3, 3840, 2160, 508, 3},
        {1, 3840, 1080, 300, 1},
        {4, 3840, 2160, 0, 4},
        {2, 1920, 1080, 0, 2},
        {3, 1920, 1080, 508, 2},
        {4, 1920, 1080, 0, 2},
        {2, 1366, 768, 0, 1},
        {4, 640, 480, 0, 1},  // nothing fits: never below 1
    };
    for (const Case& c : cases) {
        const Monitor m = monitor("M", {0, 0, c.width_px, c.height_px}, true, c.width_mm);
        EXPECT_EQ(choose_scale(c.configured, m), c.expected)
            << int(c.configured) << " " << c.width_px << "x" << c.height_px << "/" << c.width_mm;
    }
}

// Real panels with the sizes their EDID reports: the login box as near as the monitor lets it to
// its size on a 96 dpi screen at scale 1, and never larger than the monitor.
TEST(MonitorChoice, AutomaticScaleOnRealPanels) {
    struct Case {
        const char* panel;
        int32_t width_px;
        int32_t height_px;
        int32_t width_mm;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"10.1in 1280x800 (150 dpi; 2 does not fit)", 1280, 800, 217, 1},
        {"12.5in 1600x900 (147 dpi; 2 does not fit)", 1600, 900, 277, 1},
        {"13.3in 2560x1600 (227 dpi)", 2560, 1600, 286, 2},
        {"14in 2880x1800 (242 dpi)", 2880, 1800, 302, 3},
        {"15.6in 3840x2160 (284 dpi)", 3840, 2160, 344, 3},
        {"24in 1920x1200 (94 dpi)", 1920, 1200, 518, 1},
        {"27in 2560x1440 (109 dpi)", 2560, 1440, 597, 1},
        {"27in 3840x2160 (163 dpi)", 3840, 2160, 597, 2},
        {"32in 3840x2160 (138 dpi)", 3840, 2160, 708, 1},
        {"projector 1920x1080, no size", 1920, 1080, 0, 1},
    };
    for (const Case& c : cases) {
        Monitor m = monitor("M", {0, 0, c.width_px, c.height_px}, true, c.width_mm);
        EXPECT_EQ(choose_scale(0, m), c.expected) << c.panel;
        EXPECT_TRUE(greeter_fits(m.rect, c.expected)) << c.panel;
        // Placed anywhere on a larger screen, a monitor gets the same.
        m.rect.x = 1920;
        m.rect.y = 300;
        EXPECT_EQ(choose_scale(0, m), c.expected) << c.panel << " at (1920, 300)";
    }
}

TEST(MonitorCovers, OnePerMonitorLargerFirstFallbackElsewhere) {
    const Rect root{0, 0, 3840, 1080};
    const Monitor whole = monitor("screen", root);
    const Monitor left = monitor("L", {0, 0, 1920, 1080});
    const Monitor right = monitor("R", {1920, 0, 1920, 1080}, true);
    struct Case {
        const char* label;
        std::vector<Monitor> monitors;
        std::vector<Rect> covers;
        std::vector<Rect> uncovered;
    };
    const std::vector<Case> cases = {
        {"no monitors: the root", {}, {root}, {}},
        {"one monitor as large as the root: as without monitors", {whole}, {root}, {}},
        // Xvfb lists its whole screen beside the declared monitors: it is wholly under them.
        {"side by side", {right, left, whole}, {right.rect, left.rect}, {}},
        {"a monitor inside a larger one goes on top", {whole, left}, {root, left.rect}, {}},
        {"mirrored: one cover",
         {left, monitor("M", left.rect)},
         {left.rect},
         {{1920, 0, 1920, 1080}}},
        {"a smaller monitor leaves the fallback around it",
         {left, monitor("S", {1920, 180, 1280, 720})},
         {left.rect, {1920, 180, 1280, 720}},
         {{1920, 0, 1920, 180}, {3200, 180, 640, 720}, {1920, 900, 1920, 180}}},
        {"cut to the root",
         {monitor("X", {3000, -100, 1000, 2000})},
         {{3000, 0, 840, 1080}},
         {{0, 0, 3000, 1080}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(cover_rects(c.monitors, root), c.covers) << c.label;
        EXPECT_EQ(uncovered_rects(root, cover_rects(c.monitors, root)), c.uncovered) << c.label;
    }
}
