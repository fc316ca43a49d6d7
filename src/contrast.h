// Contrast between colours as low-vision guidelines measure it, and the high-contrast look's
// background.
#pragma once

#include "config.h"
#include "greeter_style.h"

// Relative luminance of an sRGB colour, 0 (black) to 1 (white).
double relative_luminance(double red, double green, double blue);
// (lighter + 0.05) / (darker + 0.05): 1 for equal colours, 21 for white on black.
double contrast_ratio(const Rgba& text, Rgb8 background);
// The fallback colour darkened toward black until every text colour of the high-contrast look
// reaches HIGH_CONTRAST_MIN_RATIO on it; black at worst.
Rgb8 high_contrast_background(Rgb8 fallback);
