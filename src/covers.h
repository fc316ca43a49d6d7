// The background over the monitors: each its own cover of the picture, the fallback colour
// where no monitor is.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "background.h"
#include "config.h"
#include "cover_cache.h"
#include "geometry.h"
#include "monitors.h"

// Where covers go, in painting order: the monitors cut to the root, larger first, without
// repeats and without those wholly under later ones; the whole root when none is left.
std::vector<Rect> cover_rects(const std::vector<Monitor>& monitors, const Rect& root);

// The parts of `area` that none of `rects` covers, as rectangles that do not overlap.
std::vector<Rect> uncovered_rects(const Rect& area, const std::vector<Rect>& rects);

struct Backdrop {
    // The picture of the showing: chosen once, kept when the monitors change.
    BackgroundChoice choice;
    std::vector<Rect> covers;
    std::vector<Rect> uncovered;
    // One picture per distinct cover size, or why it could not be loaded.
    std::vector<Result<BgraBuffer, PictureError>> pictures;
    std::vector<size_t> picture_of;  // for each cover
    // What the pictures were made for; whether they were kept from an earlier showing.
    CoverKey key;
    bool reused = false;
};

Backdrop plan_backdrop(const std::vector<Monitor>& monitors, const Rect& root);

// Loads the chosen picture once for each distinct cover size, or takes the covers kept for it
// at these sizes; logs nothing.
void load_backdrop(Backdrop& backdrop);
// At the end of a showing: its covers are kept for the next one when they all loaded.
void keep_backdrop(Backdrop& backdrop);
// Writes the covers to the cache file unless it holds them already; a failure is a WARN line.
void save_backdrop(const Backdrop& backdrop);

// The background's lines for the log, once per showing: the choice (with the root's size), then
// the result for each distinct cover size.
void log_backdrop(const Backdrop& backdrop, const Rect& root);
// After the monitors changed: only the sizes the picture could not be loaded at.
void log_backdrop_failures(const Backdrop& backdrop);
