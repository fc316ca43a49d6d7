// Rectangles and points in window pixels, for every unit that places or hit-tests something.
#pragma once

#include <cstdint>

struct Rect {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool operator==(const Rect&) const = default;
};

struct Point {
    int32_t x = 0;
    int32_t y = 0;
    bool operator==(const Point&) const = default;
};

// Half-open: the right and bottom edges are outside.
inline bool rect_contains(const Rect& rect, int32_t x, int32_t y) {
    // 64-bit sums: a rectangle near INT32_MAX must not wrap.
    return x >= rect.x && static_cast<int64_t>(x) < static_cast<int64_t>(rect.x) + rect.width &&
           y >= rect.y && static_cast<int64_t>(y) < static_cast<int64_t>(rect.y) + rect.height;
}
