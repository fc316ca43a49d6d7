#include "contrast.h"

#include <cmath>
#include <initializer_list>

namespace {

double linear(double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance_of(Rgb8 c) {
    return relative_luminance(c.red / 255.0, c.green / 255.0, c.blue / 255.0);
}

bool readable_on(Rgb8 background) {
    const Palette& p = HIGH_CONTRAST_PALETTE;
    for (const Rgba& text : {p.text, p.placeholder, p.message, p.chooser_text}) {
        if (contrast_ratio(text, background) < HIGH_CONTRAST_MIN_RATIO) {
            return false;
        }
    }
    return true;
}

}  // namespace

double relative_luminance(double red, double green, double blue) {
    return 0.2126 * linear(red) + 0.7152 * linear(green) + 0.0722 * linear(blue);
}

double contrast_ratio(const Rgba& text, Rgb8 background) {
    const double a = relative_luminance(text.red, text.green, text.blue);
    const double b = luminance_of(background);
    return a > b ? (a + 0.05) / (b + 0.05) : (b + 0.05) / (a + 0.05);
}

Rgb8 high_contrast_background(Rgb8 fallback) {
    // In sixteenths: the lightest shade of the colour that still reads.
    constexpr int STEPS = 16;
    for (int k = STEPS; k > 0; --k) {
        const auto shade = [&](uint8_t v) { return static_cast<uint8_t>(v * k / STEPS); };
        const Rgb8 c{shade(fallback.red), shade(fallback.green), shade(fallback.blue)};
        if (readable_on(c)) {
            return c;
        }
    }
    return Rgb8{0, 0, 0};
}
