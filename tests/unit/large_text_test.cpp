// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "monitors.h"
#include "ui.h"

// Large text: fonts and every length 1.5 times; where that does not fit at scale 1 it is not
// used, and where it fits the scale rule counts it.
TEST(LargeText, EverythingGrowsByHalf) {
    EXPECT_EQ(font_pattern(CLOCK_FONT, 1, true), "DejaVu Sans:size=54:weight=light");
    EXPECT_EQ(font_pattern(FIELD_FONT, 2, true), "DejaVu Sans:size=42");
    EXPECT_EQ(font_pattern(SMALL_FONT, 1, false), "DejaVu Sans:size=12");

    const Rect screen{0, 0, 1920, 1080};
    const GreeterLayout l = greeter_layout(screen, 1, true);
    EXPECT_EQ(l.username_rect, (Rect{720, 474, 480, 66}));
    EXPECT_EQ(l.login_rect, (Rect{720, 678, 480, 66}));
    EXPECT_EQ(l.avatar, (Rect{888, 300, 144, 144}));
    EXPECT_EQ(l.bottom_bar, (Rect{0, 996, 1920, 84}));
    EXPECT_EQ(l.reboot_rect, (Rect{855, 1011, 210, 54}));
    EXPECT_EQ(greeter_layout(screen, 1, false).username_rect, (Rect{800, 496, 320, 44}));

    const struct {
        Rect area;
        int32_t scale;
        bool fits;
    } cases[] = {
        {{0, 0, 1920, 1080}, 1, true},  {{0, 0, 1024, 768}, 1, false},
        {{0, 0, 1920, 1080}, 2, false}, {{0, 0, 3840, 2160}, 2, true},
        {{0, 0, 1280, 1024}, 1, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(greeter_fits(c.area, c.scale, true), c.fits) << c.area.width << " " << c.scale;
    }
    // A configured scale 2 comes down to 1 on a 1920x1080 monitor with large text.
    Monitor m;
    m.rect = screen;
    EXPECT_EQ(choose_scale(2, m, true), 1);
    EXPECT_EQ(choose_scale(2, m, false), 2);
}
