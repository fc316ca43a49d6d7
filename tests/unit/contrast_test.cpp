#include <gtest/gtest.h>

#include "accessibility.h"
#include "contrast.h"

TEST(HighContrast, ContrastRatios) {
    EXPECT_NEAR(contrast_ratio({1, 1, 1, 1}, Rgb8{0, 0, 0}), 21.0, 1e-9);
    EXPECT_NEAR(contrast_ratio({0, 0, 0, 1}, Rgb8{0, 0, 0}), 1.0, 1e-9);
    // #777777 on white is the well-known 4.48:1.
    EXPECT_NEAR(contrast_ratio({1, 1, 1, 1}, Rgb8{0x77, 0x77, 0x77}), 4.48, 0.01);
    // The normal look's red message would not do on black.
    EXPECT_LT(contrast_ratio(MESSAGE_COLOR, Rgb8{0, 0, 0}), HIGH_CONTRAST_MIN_RATIO);
}

// Whatever the fallback colour, every text of the high-contrast look reads at 7:1 or more on
// its background, on its dark-blue hover fill and on its black fills; a dark fallback is kept.
TEST(HighContrast, EveryTextReadsAtSevenToOne) {
    const Rgb8 fallbacks[] = {{0x1a, 0x1a, 0x2e}, {255, 255, 255}, {255, 255, 0}, {128, 128, 128},
                              {255, 0, 0},        {0, 0, 255},     {0, 0, 0},     {40, 200, 90}};
    const Palette& p = HIGH_CONTRAST_PALETTE;
    for (const Rgb8 fallback : fallbacks) {
        const Rgb8 bg = high_contrast_background(fallback);
        EXPECT_LE(bg.red, fallback.red);
        EXPECT_LE(bg.green, fallback.green);
        EXPECT_LE(bg.blue, fallback.blue);
        for (const Rgba& text : {p.text, p.placeholder, p.message, p.chooser_text}) {
            EXPECT_GE(contrast_ratio(text, bg), HIGH_CONTRAST_MIN_RATIO) << int{fallback.red};
            EXPECT_GE(contrast_ratio(text, Rgb8{0, 0, 128}), HIGH_CONTRAST_MIN_RATIO);
            EXPECT_GE(contrast_ratio(text, Rgb8{0, 0, 0}), HIGH_CONTRAST_MIN_RATIO);
        }
    }
    EXPECT_EQ(high_contrast_background({0x1a, 0x1a, 0x2e}), (Rgb8{0x1a, 0x1a, 0x2e}));
    // No translucent fill: every colour of the look is opaque.
    for (const Rgba& c : {p.field, p.field_focused, p.login, p.login_hovered, p.bottom_bar,
                          p.button, p.button_hovered, p.chooser, p.avatar_square, p.outline}) {
        EXPECT_EQ(c.alpha, 1.0);
    }
}

TEST(HighContrast, KeptChoiceIsOneWord) {
    const struct {
        const char* bytes;
        bool ok;
        bool high_contrast;
    } cases[] = {{"high_contrast\n", true, true},
                 {"high_contrast", true, true},
                 {"normal\n", true, false},
                 {"normal\n\n", false, false},
                 {"", false, false},
                 {"HIGH_CONTRAST", false, false},
                 {"high_contrast ", false, false}};
    for (const auto& c : cases) {
        const Result<bool> parsed = parse_accessibility(c.bytes);
        EXPECT_EQ(parsed.ok(), c.ok) << c.bytes;
        if (parsed.ok()) {
            EXPECT_EQ(parsed.value(), c.high_contrast) << c.bytes;
        }
    }
}
