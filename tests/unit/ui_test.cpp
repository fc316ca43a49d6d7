// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "ui.h"

#include <tuple>
#include <vector>

namespace {

GreeterContext laid_out(int32_t width, int32_t height) {
    const GreeterLayout l = greeter_layout(width, height);
    GreeterContext ctx;
    ctx.width = width;
    ctx.height = height;
    ctx.username_rect = l.username_rect;
    ctx.password_rect = l.password_rect;
    ctx.login_rect = l.login_rect;
    ctx.power_off_rect = l.power_off_rect;
    ctx.reboot_rect = l.reboot_rect;
    ctx.console_rect = l.console_rect;
    return ctx;
}

std::tm at(int hour, int minute) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

}  // namespace

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
    EXPECT_EQ(font_pattern(CLOCK_FONT, 2), "DejaVu Sans:size=72:weight=light");
    EXPECT_EQ(font_pattern(SMALL_FONT, 2), "DejaVu Sans:size=24");
}

TEST(UiLayout, ScaleOneIsTodaysScreen) {
    const GreeterLayout l = greeter_layout(Rect{0, 0, 1920, 1080}, 1);
    EXPECT_EQ(l.power_off_rect, greeter_layout(1920, 1080).power_off_rect);
    EXPECT_EQ(l.layout_rect, (Rect{1846, 1034, 64, 36}));
    EXPECT_EQ(l.caps_lock_baseline, l.message_baseline);
    EXPECT_EQ(font_pattern(CLOCK_FONT, 1), "DejaVu Sans:size=36:weight=light");
    EXPECT_EQ(font_pattern(FIELD_FONT, 1), "DejaVu Sans:size=14");
    EXPECT_EQ(font_pattern(SMALL_FONT, 1), "DejaVu Sans:size=12");
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
    const GreeterContext ctx = laid_out(1920, 1080);
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
        EXPECT_EQ(hit_power_button(ctx, x, y), button) << x << "," << y;
    }
}

TEST(UiHitTest, LayoutButtonOnlyWhenShown) {
    GreeterContext ctx = laid_out(1920, 1080);
    EXPECT_EQ(hit_power_button(ctx, 1846, 1034), NO_BUTTON);
    ctx.layout_rect = greeter_layout(1920, 1080).layout_rect;
    EXPECT_EQ(hit_power_button(ctx, 1846, 1034), LAYOUT_BUTTON);
    EXPECT_EQ(hit_power_button(ctx, 1909, 1069), LAYOUT_BUTTON);
    EXPECT_EQ(hit_power_button(ctx, 1910, 1050), NO_BUTTON);
}

TEST(UiHitTest, NothingBeforeFirstDrawing) {
    const GreeterContext ctx;
    EXPECT_EQ(hit_power_button(ctx, 0, 0), NO_BUTTON);
    EXPECT_EQ(hit_power_button(ctx, 734, 1034), NO_BUTTON);
}

TEST(UiColor, FillIsPremultiplied) {
    struct Case {
        Rgba color;
        uint16_t red, green, blue, alpha;
    };
    const std::vector<Case> cases = {
        {BUTTON_COLOR, 6553, 6553, 6553, 6553},
        {FIELD_COLOR, 7864, 7864, 7864, 7864},
        {BUTTON_HOVERED_COLOR, 9830, 9830, 9830, 9830},
        {FIELD_FOCUSED_COLOR, 11796, 11796, 11796, 11796},
        {OUTLINE_COLOR, 13107, 13107, 13107, 13107},
        {AVATAR_BODY_COLOR, 13107, 13107, 13107, 13107},
        {AVATAR_HEAD_COLOR, 19660, 19660, 19660, 19660},
        {OUTLINE_FOCUSED_COLOR, 26214, 26214, 26214, 26214},
        {LOGIN_HOVERED_COLOR, 10157, 18022, 32767, 32767},
        {LOGIN_COLOR, 6094, 10813, 19660, 19660},
        {BOTTOM_BAR_COLOR, 0, 0, 0, 19660},
        {Rgba{2.0, -1.0, 1.0, 1.0}, 65535, 0, 65535, 65535},
    };
    for (const Case& c : cases) {
        const XRenderColor x = fill_render_color(c.color);
        EXPECT_EQ(x.red, c.red);
        EXPECT_EQ(x.green, c.green);
        EXPECT_EQ(x.blue, c.blue);
        EXPECT_EQ(x.alpha, c.alpha);
    }
}

TEST(UiColor, TextChannelsAreStraight) {
    struct Case {
        Rgba color;
        uint16_t red, green, blue, alpha;
    };
    const std::vector<Case> cases = {
        {TEXT_COLOR, 65535, 65535, 65535, 65535},
        {PLACEHOLDER_COLOR, 65535, 65535, 65535, 32767},
        {MESSAGE_COLOR, 65535, 19660, 19660, 65535},
    };
    for (const Case& c : cases) {
        const XRenderColor x = text_render_color(c.color);
        EXPECT_EQ(x.red, c.red);
        EXPECT_EQ(x.green, c.green);
        EXPECT_EQ(x.blue, c.blue);
        EXPECT_EQ(x.alpha, c.alpha);
    }
}

TEST(UiColor, XftGetsPremultipliedText) {
    struct Case {
        Rgba color;
        uint16_t red, green, blue, alpha;
    };
    const std::vector<Case> cases = {
        {TEXT_COLOR, 65535, 65535, 65535, 65535},
        {PLACEHOLDER_COLOR, 32767, 32767, 32767, 32767},
        {MESSAGE_COLOR, 65535, 19660, 19660, 65535},
    };
    for (const Case& c : cases) {
        const XftColor x = text_xft_color(c.color);
        EXPECT_EQ(x.pixel, 0u);
        EXPECT_EQ(x.color.red, c.red);
        EXPECT_EQ(x.color.green, c.green);
        EXPECT_EQ(x.color.blue, c.blue);
        EXPECT_EQ(x.color.alpha, c.alpha);
    }
}

TEST(UiText, OneBulletPerByte) {
    EXPECT_EQ(password_bullets(""), "");
    EXPECT_EQ(password_bullets("abcde"),
              "\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2\xE2\x80\xA2");
    // "é" is two bytes, so two bullets.
    EXPECT_EQ(password_bullets("\xC3\xA9"), "\xE2\x80\xA2\xE2\x80\xA2");
    EXPECT_EQ(password_bullets(std::string(512, 'x')).size(), 1536u);
}

TEST(UiText, WipeZeroesBeforeEmptying) {
    std::string secret;
    secret.reserve(PASSWORD_RESERVE);
    secret = "hunter2-hunter2-hunter2";
    const char* storage = secret.data();
    const size_t length = secret.size();
    wipe_text(secret);
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(secret.data(), storage);
    EXPECT_GE(secret.capacity(), PASSWORD_RESERVE);
    for (size_t i = 0; i < length; ++i) {
        EXPECT_EQ(storage[i], '\0') << i;
    }
}

TEST(UiAvatar, PremultipliesStraightAlpha) {
    const BgraBuffer straight = {
        255, 128, 0,   255,  // opaque: unchanged
        255, 128, 0,   0,    // transparent: all zero
        200, 100, 50,  128,  // half: rounded
        255, 255, 255, 1,
    };
    const BgraBuffer expected = {
        255, 128, 0, 255, 0, 0, 0, 0, 100, 50, 25, 128, 1, 1, 1, 1,
    };
    EXPECT_EQ(premultiply_bgra(straight), expected);
}

TEST(UiClock, BothModes) {
    struct Case {
        int hour, minute;
        const char* h24;
        const char* h12;
    };
    const std::vector<Case> cases = {
        {0, 0, "00:00", "12:00 AM"},   {0, 15, "00:15", "12:15 AM"},  {8, 5, "08:05", "8:05 AM"},
        {9, 7, "09:07", "9:07 AM"},    {11, 59, "11:59", "11:59 AM"}, {12, 0, "12:00", "12:00 PM"},
        {12, 30, "12:30", "12:30 PM"}, {13, 1, "13:01", "1:01 PM"},   {23, 59, "23:59", "11:59 PM"},
    };
    for (const Case& c : cases) {
        const std::tm t = at(c.hour, c.minute);
        EXPECT_EQ(clock_text_at(&t, true), c.h24);
        EXPECT_EQ(clock_text_at(&t, false), c.h12);
    }
}

TEST(UiClock, LocalTimeUnavailable) {
    EXPECT_EQ(clock_text_at(nullptr, true), "00:00");
    EXPECT_EQ(clock_text_at(nullptr, false), "00:00");
    EXPECT_EQ(minute_key_at(nullptr), -1);
}

TEST(UiClock, MinuteKey) {
    const std::tm midnight = at(0, 0);
    const std::tm late = at(23, 59);
    const std::tm morning = at(8, 5);
    EXPECT_EQ(minute_key_at(&midnight), 0);
    EXPECT_EQ(minute_key_at(&morning), 485);
    EXPECT_EQ(minute_key_at(&late), 1439);
}

TEST(UiClock, NowHasTheTemplateShape) {
    const std::string h24 = clock_text(true);
    ASSERT_EQ(h24.size(), 5u);
    EXPECT_EQ(h24[2], ':');
    const std::string h12 = clock_text(false);
    EXPECT_GE(h12.size(), 7u);
    EXPECT_LE(h12.size(), 8u);
    EXPECT_TRUE(h12.ends_with(" AM") || h12.ends_with(" PM")) << h12;
}
