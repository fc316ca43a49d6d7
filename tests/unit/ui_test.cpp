// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "ui.h"

#include "text.h"

#include <tuple>
#include <vector>

namespace {

std::tm at(int hour, int minute) {
    std::tm t{};
    t.tm_hour = hour;
    t.tm_min = minute;
    return t;
}

}  // namespace

TEST(UiFonts, PatternsAtScaleOne) {
    EXPECT_EQ(font_pattern(CLOCK_FONT, 1), "DejaVu Sans:size=36:weight=light");
    EXPECT_EQ(font_pattern(FIELD_FONT, 1), "DejaVu Sans:size=14");
    EXPECT_EQ(font_pattern(SMALL_FONT, 1), "DejaVu Sans:size=12");
}

TEST(UiFonts, PatternsScaled) {
    EXPECT_EQ(font_pattern(CLOCK_FONT, 2), "DejaVu Sans:size=72:weight=light");
    EXPECT_EQ(font_pattern(SMALL_FONT, 2), "DejaVu Sans:size=24");
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
