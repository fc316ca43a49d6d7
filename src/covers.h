// The background over the monitors: each its own cover of the picture, the fallback colour
// where no monitor is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "background.h"
#include "config.h"
#include "monitors.h"
#include "ui.h"

// Where covers go, in painting order: the monitors cut to the root, larger first, without
// repeats and without those wholly under later ones; the whole root when none is left.
std::vector<Rect> cover_rects(const std::vector<Monitor>& monitors, const Rect& root);

// The parts of `area` that none of `rects` covers, as rectangles that do not overlap.
std::vector<Rect> uncovered_rects(const Rect& area, const std::vector<Rect>& rects);

struct Backdrop {
    std::vector<Rect> covers;
    std::vector<Rect> uncovered;
    // One picture per distinct cover size; none where it could not be loaded.
    std::vector<std::optional<BgraBuffer>> pictures;
    std::vector<size_t> picture_of;  // for each cover
};

Backdrop plan_backdrop(const std::vector<Monitor>& monitors, const Rect& root);

// Loads the day's picture once for each distinct cover size.
void load_backdrop(Backdrop& backdrop, const BackgroundConfig& config);

void paint_backdrop(const GreeterContext& ctx, const std::string& fallback_color,
                    const Backdrop& backdrop);
