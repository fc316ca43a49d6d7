#include <gtest/gtest.h>

#include "accessibility.h"
#include "contrast.h"

// Whatever the fallback colour, every text of the high-contrast look reads at 7:1 or more on its
// background (the colour darkened, a dark one kept) and on its black and dark-blue fills.
TEST(HighContrast, EveryTextReadsAtSevenToOne) {
    EXPECT_NEAR(contrast_ratio({1, 1, 1, 1}, Rgb8{0, 0, 0}), 21.0, 1e-9);
    EXPECT_NEAR(contrast_ratio({1, 1, 1, 1}, Rgb8{0x77, 0x77, 0x77}), 4.48, 0.01);
    EXPECT_LT(contrast_ratio(MESSAGE_COLOR, Rgb8{0, 0, 0}), 7.0);  // why the message turns yellow
    EXPECT_EQ(high_contrast_background({255, 255, 255}), (Rgb8{79, 79, 79}));
    EXPECT_EQ(high_contrast_background({0x1a, 0x1a, 0x2e}), (Rgb8{0x1a, 0x1a, 0x2e}));
    const Palette& p = HIGH_CONTRAST_PALETTE;
    for (const Rgb8 fallback : {Rgb8{255, 255, 0}, Rgb8{128, 128, 128}, Rgb8{255, 0, 0},
                                Rgb8{0, 0, 255}, Rgb8{40, 200, 90}}) {
        for (const Rgb8 bg : {high_contrast_background(fallback), Rgb8{0, 0, 0}, Rgb8{0, 0, 128}}) {
            for (const Rgba& text : {p.text, p.placeholder, p.message, p.chooser_text}) {
                EXPECT_GE(contrast_ratio(text, bg), HIGH_CONTRAST_MIN_RATIO) << int{bg.red};
            }
        }
    }
    for (const Rgba& fill : {p.field, p.login, p.bottom_bar, p.button, p.chooser}) {
        EXPECT_EQ(fill.alpha, 1.0);  // nothing translucent
    }
}

// The kept look: exactly one of the four choices; the button brings each round, one change a press.
TEST(LookButton, KeptChoicesAndTheirOrder) {
    EXPECT_EQ(parse_accessibility("high_contrast\n").value(), (Look{true, false}));
    EXPECT_EQ(parse_accessibility("normal").value(), (Look{false, false}));
    EXPECT_EQ(parse_accessibility("high_contrast large_text\n").value(), (Look{true, true}));
    using namespace std::literals;
    for (const std::string_view bad : {"normal\n\n"sv, ""sv, "large_text high_contrast"sv,
                                       "high_contrast "sv, "Normal"sv, "large_text\0"sv}) {
        EXPECT_FALSE(parse_accessibility(bad).ok()) << bad;
    }
    Look look;
    std::string order;
    for (int press = 0; press < 4; ++press) {
        look = next_look(look);
        order += std::to_string(look.high_contrast) + std::to_string(look.large_text) + " ";
    }
    EXPECT_EQ(order, "10 11 01 00 ");
}
