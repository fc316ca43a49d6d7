#include "picture/picture.h"

#include <gtest/gtest.h>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

TEST(BackgroundFormat, CorruptAndTruncatedFilesFail) {
    TempDir dir;
    img::Picture rgb = synthetic(64, 48, PixelType::Rgb8);
    std::vector<uint8_t> jpeg = encode_jpeg(rgb);
    write_png(dir.file("good.png"), rgb);
    std::vector<uint8_t> png = read_bytes(dir.file("good.png"));

    std::vector<uint8_t> garbage(3000);
    std::mt19937 rng(7);
    for (uint8_t& b : garbage) {
        b = static_cast<uint8_t>(rng());
    }
    write_bytes(dir.file("garbage.jpg"), garbage);
    write_bytes(dir.file("garbage.png"), garbage);
    write_bytes(dir.file("half.jpg"),
                std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + jpeg.size() / 2));
    write_bytes(dir.file("half.png"),
                std::vector<uint8_t>(png.begin(), png.begin() + png.size() / 2));
    write_bytes(dir.file("header.jpg"), std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + 40));
    std::vector<uint8_t> flipped = png;
    flipped[flipped.size() / 2] ^= 0x55;
    write_bytes(dir.file("flipped.png"), flipped);

    for (const char* name :
         {"garbage.jpg", "garbage.png", "half.jpg", "half.png", "header.jpg", "flipped.png"}) {
        auto r = open_picture(dir.file(name));
        ASSERT_FALSE(r.ok()) << name;
        EXPECT_EQ(r.error(), PictureError::Decode) << name;
        auto streamed = load_cover(dir.file(name), 32, 20);
        ASSERT_FALSE(streamed.ok()) << name;
        EXPECT_EQ(streamed.error(), PictureError::Decode) << name;
    }
}

TEST(BackgroundLimit, SampleBytesInSixtyFourBits) {
    struct Case {
        uint32_t width, height;
        PixelType type;
        bool ok;
    };
    const Case cases[] = {
        {65536, 65536, PixelType::Rgba8, false},  // 0 in 32 bits
        {16384, 8192, PixelType::Rgba8, true},    // exactly 512 MiB
        {16384, 8193, PixelType::Rgba8, false},  {100000, 100000, PixelType::Rgb8, false},
        {8192, 8192, PixelType::Rgba16, true},  // exactly 512 MiB again
        {8192, 8193, PixelType::Rgba16, false},  {4000, 3000, PixelType::Rgb16, true},
    };
    for (const Case& c : cases) {
        auto r = checked_sample_bytes(c.width, c.height, c.type);
        EXPECT_EQ(r.ok(), c.ok) << c.width << "x" << c.height;
        if (r.ok()) {
            EXPECT_EQ(r.value(), uint64_t{c.width} * c.height * bytes_per_pixel(c.type));
        } else {
            EXPECT_EQ(r.error(), PictureError::TooLarge);
        }
    }
}

TEST(BackgroundBgra, PixelTypesConvert) {
    struct Case {
        PixelType type;
        std::vector<uint32_t> samples;  // one pixel
        std::vector<uint8_t> bgra;
    };
    const Case cases[] = {
        {PixelType::Grey8, {77}, {77, 77, 77, 255}},
        {PixelType::GreyAlpha8, {77, 10}, {77, 77, 77, 10}},
        {PixelType::Rgb8, {1, 2, 3}, {3, 2, 1, 255}},
        {PixelType::Rgba8, {1, 2, 3, 4}, {3, 2, 1, 4}},
        {PixelType::Grey16, {65535}, {255, 255, 255, 255}},
        {PixelType::Grey16, {257 * 77}, {77, 77, 77, 255}},
        {PixelType::GreyAlpha16, {257 * 200 + 128, 0}, {200, 200, 200, 0}},
        {PixelType::Rgb16, {0, 128, 129}, {1, 0, 0, 255}},
        {PixelType::Rgba16, {65535, 32767, 32768, 257}, {128, 127, 255, 1}},
    };
    for (const Case& c : cases) {
        img::Picture p{1, 1, c.type, {}};
        p.samples.resize(bytes_per_pixel(c.type));
        for (size_t i = 0; i < c.samples.size(); ++i) {
            set_sample(p, i, c.samples[i]);
        }
        EXPECT_EQ(to_bgra(p), c.bgra) << int(c.type);
    }
}

TEST(BackgroundBgra, RowOrderAndLength) {
    img::Picture p = synthetic(5, 3, PixelType::Rgb8);
    BgraBuffer out = to_bgra(p);
    ASSERT_EQ(out.size(), 5u * 3u * 4u);
    // Pixel (4, 2): the last one.
    EXPECT_EQ(out[(2 * 5 + 4) * 4 + 0], p.samples[(2 * 5 + 4) * 3 + 2]);
    EXPECT_EQ(out[(2 * 5 + 4) * 4 + 2], p.samples[(2 * 5 + 4) * 3 + 0]);
    EXPECT_EQ(out, ref_to_bgra(p));
}

TEST(BackgroundCover, Geometry) {
    struct Case {
        uint32_t w, h, screen_w, screen_h;
        CoverGeometry expected;
    };
    const Case cases[] = {
        {4000, 3000, 1920, 1080, {1920, 1440, 0, 180}},
        {3264, 2448, 1680, 1050, {1680, 1259, 0, 104}},
        {960, 540, 1920, 1080, {1920, 1080, 0, 0}},
        {1920, 1080, 1920, 1080, {1920, 1080, 0, 0}},
        {1000, 1000, 1920, 1080, {1920, 1920, 0, 420}},
        {100, 4000, 1920, 1080, {1920, 76800, 0, 37860}},
        {4000, 1000, 1920, 1080, {4320, 1080, 1200, 0}},
        {1921, 1080, 1920, 1080, {1921, 1080, 0, 0}},
    };
    for (const Case& c : cases) {
        CoverGeometry g = cover_geometry(c.w, c.h, c.screen_w, c.screen_h);
        EXPECT_EQ(g.scaled_width, c.expected.scaled_width) << c.w << "x" << c.h;
        EXPECT_EQ(g.scaled_height, c.expected.scaled_height) << c.w << "x" << c.h;
        EXPECT_EQ(g.x0, c.expected.x0) << c.w << "x" << c.h;
        EXPECT_EQ(g.y0, c.expected.y0) << c.w << "x" << c.h;
    }
}

TEST(BackgroundErrors, Texts) {
    EXPECT_STREQ(picture_error_text(PictureError::Io), "the file cannot be read");
    EXPECT_STREQ(picture_error_text(PictureError::Unsupported), "the format is not supported");
    EXPECT_STREQ(picture_error_text(PictureError::Unrecognised), "the format is not recognised");
    EXPECT_STREQ(picture_error_text(PictureError::Decode), "the data is not a valid picture");
    EXPECT_STREQ(picture_error_text(PictureError::TooLarge), "the picture is too large");
}

}  // namespace
