// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "monitors.h"
#include "ui.h"

// Large text: fonts and lengths 1.5 times; the fit rule counts it, so scale 2 comes down to 1 on
// 1920x1080, and 1024x768 cannot take it at all.
TEST(LargeText, EverythingGrowsByHalfAndStillFits) {
    EXPECT_EQ(font_pattern(CLOCK_FONT, 1, true), "DejaVu Sans:size=54:weight=light");
    EXPECT_EQ(font_pattern(FIELD_FONT, 2, true), "DejaVu Sans:size=42");
    const Rect screen{0, 0, 1920, 1080};
    const GreeterLayout l = greeter_layout(screen, 1, true);
    EXPECT_EQ(l.username_rect, (Rect{720, 474, 480, 66}));
    EXPECT_EQ(l.reboot_rect, (Rect{855, 1011, 210, 54}));
    EXPECT_FALSE(greeter_fits({0, 0, 1024, 768}, 1, true));
    EXPECT_TRUE(greeter_fits({0, 0, 3840, 2160}, 2, true));
    Monitor m;
    m.rect = screen;
    EXPECT_EQ(choose_scale(2, m, true), 1);
    EXPECT_EQ(choose_scale(2, m, false), 2);
}
