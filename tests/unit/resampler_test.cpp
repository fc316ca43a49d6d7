#include "picture/resampler.h"

#include <gtest/gtest.h>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

TEST(BackgroundResize, MatchesReferenceForEveryPixelType) {
    struct Size {
        uint32_t from_w, from_h, to_w, to_h;
    };
    const Size sizes[] = {
        {37, 23, 16, 9}, {37, 23, 80, 51}, {37, 23, 37, 50}, {37, 23, 12, 23},   {5, 3, 1, 1},
        {1, 1, 7, 5},    {64, 48, 31, 47}, {9, 40, 96, 96},  {200, 100, 96, 96}, {3, 90, 17, 4},
    };
    for (PixelType type : ALL_TYPES) {
        for (const Size& s : sizes) {
            img::Picture p = synthetic(s.from_w, s.from_h, type, s.from_w * 31 + s.to_h);
            img::Picture fast = resize_triangle(p, s.to_w, s.to_h);
            img::Picture plain = ref_resize(p, s.to_w, s.to_h);
            ASSERT_EQ(fast.width, s.to_w);
            ASSERT_EQ(fast.height, s.to_h);
            ASSERT_EQ(fast.type, type);
            EXPECT_EQ(first_difference(fast.samples, plain.samples), "")
                << "type " << int(type) << " " << s.from_w << "x" << s.from_h << " -> " << s.to_w
                << "x" << s.to_h;
        }
    }
}

// Without AVX2 the column and row passes run other loops; the bytes must not change.
TEST(BackgroundResize, PlainLoopsMatchReference) {
    const PictureSwitches plain{.wide_vectors = false};
    for (PixelType type : ALL_TYPES) {
        img::Picture p = synthetic(41, 29, type, 77);
        EXPECT_EQ(first_difference(resize_triangle(p, 19, 60, plain).samples,
                                   ref_resize(p, 19, 60).samples),
                  "")
            << int(type);
        EXPECT_EQ(first_difference(scale_to_cover(p, 23, 13, plain), ref_cover(p, 23, 13)), "")
            << int(type);
    }
}

TEST(BackgroundResize, SameSizeIsACopy) {
    img::Picture p = synthetic(11, 7, PixelType::Rgba16);
    img::Picture q = resize_triangle(p, 11, 7);
    EXPECT_EQ(q.samples, p.samples);
    EXPECT_EQ(q.type, p.type);
}

TEST(BackgroundResize, FlatPictureStaysFlat) {
    img::Picture p{30, 20, PixelType::Rgb8, std::vector<uint8_t>(30 * 20 * 3, 200)};
    img::Picture q = resize_triangle(p, 71, 9);
    EXPECT_EQ(q.samples, std::vector<uint8_t>(71 * 9 * 3, 200));
}

TEST(BackgroundCover, MatchesReferenceForEveryPixelType) {
    struct Case {
        uint32_t w, h, screen_w, screen_h;
    };
    const Case cases[] = {
        {40, 30, 19, 11},     // reduced, rows cut
        {30, 40, 19, 11},     // reduced, rows cut more
        {96, 54, 192, 108},   // exactly doubled, nothing cut
        {10, 400, 192, 108},  // the extreme shape, scaled down
        {50, 10, 24, 13},     // columns cut
        {19, 11, 19, 11},     // used pixel for pixel
        {33, 25, 17, 10},
    };
    for (PixelType type : ALL_TYPES) {
        for (const Case& c : cases) {
            img::Picture p = synthetic(c.w, c.h, type, c.w + c.screen_h);
            BgraBuffer fast = scale_to_cover(p, c.screen_w, c.screen_h);
            BgraBuffer plain = ref_cover(p, c.screen_w, c.screen_h);
            ASSERT_EQ(fast.size(), size_t{c.screen_w} * c.screen_h * 4);
            EXPECT_EQ(first_difference(fast, plain), "")
                << "type " << int(type) << " " << c.w << "x" << c.h << " on " << c.screen_w << "x"
                << c.screen_h;
        }
    }
}

TEST(BackgroundCover, SameSizeIsPixelForPixel) {
    img::Picture p = synthetic(19, 11, PixelType::Rgb8);
    EXPECT_EQ(scale_to_cover(p, 19, 11), to_bgra(p));
}

}  // namespace
