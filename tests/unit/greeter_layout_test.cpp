#include "greeter_layout.h"

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "greeter_state.h"

TEST(UiLayout, FullHdRectangles) {
    const GreeterLayout l = greeter_layout(1920, 1080);
    EXPECT_EQ(l.username_rect, (Rect{800, 496, 320, 44}));
    EXPECT_EQ(l.password_rect, (Rect{800, 552, 320, 44}));
    EXPECT_EQ(l.login_rect, (Rect{800, 632, 320, 44}));
    EXPECT_EQ(l.power_off_rect, (Rect{734, 1034, 140, 36}));
    EXPECT_EQ(l.reboot_rect, (Rect{890, 1034, 140, 36}));
    EXPECT_EQ(l.console_rect, (Rect{1046, 1034, 140, 36}));
    EXPECT_EQ(l.bottom_bar, (Rect{0, 1024, 1920, 56}));
    EXPECT_EQ(l.clock_baseline, (Point{960, 330}));
    // The avatar covers (912, 380) to (1007, 475).
    EXPECT_EQ(l.avatar, (Rect{912, 380, 96, 96}));
    EXPECT_EQ(l.avatar_head, (Rect{944, 394, 32, 32}));
    EXPECT_EQ(l.avatar_body, (Rect{932, 422, 56, 56}));
}

TEST(UiLayout, FullHdTextOrigins) {
    const GreeterLayout l = greeter_layout(1920, 1080);
    EXPECT_EQ(l.username_text, (Point{812, 523}));
    EXPECT_EQ(l.password_text, (Point{812, 579}));
    EXPECT_EQ(l.message_baseline, (Point{960, 618}));
    EXPECT_EQ(l.login_baseline, (Point{960, 659}));
    EXPECT_EQ(l.power_off_baseline, (Point{804, 1057}));
    EXPECT_EQ(l.reboot_baseline, (Point{960, 1057}));
    EXPECT_EQ(l.console_baseline, (Point{1116, 1057}));
}

TEST(UiLayout, OddSizeRoundsCentreDown) {
    const GreeterLayout l = greeter_layout(1365, 767);
    // cx = 682, cy = 383
    EXPECT_EQ(l.clock_baseline, (Point{682, 173}));
    EXPECT_EQ(l.username_rect, (Rect{522, 339, 320, 44}));
    EXPECT_EQ(l.password_rect, (Rect{522, 395, 320, 44}));
    EXPECT_EQ(l.login_rect, (Rect{522, 475, 320, 44}));
    EXPECT_EQ(l.power_off_rect, (Rect{456, 721, 140, 36}));
    EXPECT_EQ(l.reboot_rect, (Rect{612, 721, 140, 36}));
    EXPECT_EQ(l.console_rect, (Rect{768, 721, 140, 36}));
    EXPECT_EQ(l.bottom_bar, (Rect{0, 711, 1365, 56}));
}

TEST(UiLayout, ScaledOnAMonitor) {
    // Scale 2 on the right half of a 3840-wide root: every length doubles around (2880, 540).
    const GreeterLayout l = greeter_layout(Rect{1920, 0, 1920, 1080}, 2);
    EXPECT_EQ(l.clock_baseline, (Point{2880, 120}));
    EXPECT_EQ(l.avatar, (Rect{2784, 220, 192, 192}));
    EXPECT_EQ(l.avatar_head, (Rect{2848, 248, 64, 64}));
    EXPECT_EQ(l.username_rect, (Rect{2560, 452, 640, 88}));
    EXPECT_EQ(l.username_text, (Point{2584, 506}));
    EXPECT_EQ(l.password_rect, (Rect{2560, 564, 640, 88}));
    EXPECT_EQ(l.login_rect, (Rect{2560, 724, 640, 88}));
    EXPECT_EQ(l.caps_lock_baseline, (Point{2880, 696}));
    EXPECT_EQ(l.message_low_baseline, (Point{2880, 856}));
    EXPECT_EQ(l.bottom_bar, (Rect{1920, 968, 1920, 112}));
    EXPECT_EQ(l.power_off_rect, (Rect{2428, 988, 280, 72}));
    EXPECT_EQ(l.reboot_rect, (Rect{2740, 988, 280, 72}));
    EXPECT_EQ(l.console_rect, (Rect{3052, 988, 280, 72}));
    EXPECT_EQ(l.console_baseline, (Point{3192, 1034}));
    EXPECT_EQ(l.layout_rect, (Rect{3692, 988, 128, 72}));
    EXPECT_EQ(l.layout_baseline, (Point{3756, 1034}));
    // No room beside the layout button: the session button goes after the contrast button at the
    // bar's left end, narrowed to the room before Power Off.
    EXPECT_EQ(l.access_rect, (Rect{1940, 988, 200, 72}));
    EXPECT_EQ(l.session_rect, (Rect{2160, 988, 228, 72}));
}

TEST(UiLayout, ScaleOneIsTodaysScreen) {
    const GreeterLayout l = greeter_layout(Rect{0, 0, 1920, 1080}, 1);
    EXPECT_EQ(l.power_off_rect, greeter_layout(1920, 1080).power_off_rect);
    EXPECT_EQ(l.layout_rect, (Rect{1846, 1034, 64, 36}));
    EXPECT_EQ(l.caps_lock_baseline, l.message_baseline);
}

TEST(UiHitTest, HalfOpenRectangles) {
    const Rect r{10, 20, 30, 40};
    const std::vector<std::tuple<int32_t, int32_t, bool>> cases = {
        {10, 20, true}, {39, 59, true},  {40, 20, false}, {10, 60, false},
        {9, 20, false}, {10, 19, false}, {25, 40, true},  {39, 60, false},
    };
    for (const auto& [x, y, inside] : cases) {
        EXPECT_EQ(rect_contains(r, x, y), inside) << x << "," << y;
    }
    EXPECT_FALSE(rect_contains(Rect{}, 0, 0));
}

TEST(UiHitTest, PowerButtons) {
    const GreeterLayout l = greeter_layout(1920, 1080);
    const std::vector<std::tuple<int32_t, int32_t, uint8_t>> cases = {
        {734, 1034, POWER_OFF_BUTTON}, {873, 1069, POWER_OFF_BUTTON},
        {874, 1034, NO_BUTTON},  // first pixel right of "Power Off" (cx - 86)
        {890, 1050, REBOOT_BUTTON},    {1029, 1034, REBOOT_BUTTON},
        {1030, 1034, NO_BUTTON},       {1046, 1034, CONSOLE_BUTTON},
        {1185, 1069, CONSOLE_BUTTON},  {1186, 1069, NO_BUTTON},
        {734, 1070, NO_BUTTON},        {734, 1033, NO_BUTTON},
        {960, 540, NO_BUTTON},
    };
    for (const auto& [x, y, button] : cases) {
        EXPECT_EQ(hit_bar_button(l, false, x, y), button) << x << "," << y;
    }
}

TEST(UiHitTest, LayoutButtonOnlyWhenShown) {
    const GreeterLayout l = greeter_layout(1920, 1080);
    EXPECT_EQ(hit_bar_button(l, false, 1846, 1034), NO_BUTTON);
    EXPECT_EQ(hit_bar_button(l, true, 1846, 1034), LAYOUT_BUTTON);
    EXPECT_EQ(hit_bar_button(l, true, 1909, 1069), LAYOUT_BUTTON);
    EXPECT_EQ(hit_bar_button(l, true, 1910, 1050), NO_BUTTON);
}

// Only the layout of the greeter's own area is hit: with no area yet, nothing.
TEST(UiHitTest, NothingOffTheLayout) {
    const GreeterLayout none = greeter_layout(Rect{}, 1);
    EXPECT_EQ(hit_bar_button(none, true, 0, 0), NO_BUTTON);
    EXPECT_EQ(hit_bar_button(none, true, 734, 1034), NO_BUTTON);
}
