#include "picture/pipeline.h"

#include <fcntl.h>

#include <gtest/gtest.h>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

// A row as wide as the picture is the decoder's, whatever survives the cut: 97 KB of PNG may
// declare rows of 100 MB, three of which libpng and the reader would hold.
TEST(BackgroundLimit, WideRowsAreRefusedBeforeStreaming) {
    auto cover = [](uint32_t w, uint32_t h, PixelType type, uint32_t screen_w, uint32_t screen_h) {
        const PictureHeader header{w, h, type};
        return streaming_bytes(header, cover_job(header, screen_w, screen_h, {}));
    };
    EXPECT_GT(cover(100000000, 1, PixelType::Grey8, 1920, 1080), MAX_STREAMING_BYTES);
    EXPECT_LE(cover(40000000, 1, PixelType::Grey8, 192, 108), MAX_STREAMING_BYTES);
    // A photo streams in a few megabytes, the ring holding whole rows.
    EXPECT_LT(cover(4000, 3000, PixelType::Rgb8, 1920, 1080), uint64_t{4} << 20);
    EXPECT_LT(cover(100, 4000, PixelType::Rgb8, 1920, 1080), uint64_t{4} << 20);
}

// The avatar's way in: a file decoded straight to 96 x 96.
Result<img::Picture, PictureError> squeeze_file(const TempDir& dir, const char* name,
                                                PictureSwitches switches = {}) {
    return decode_picture_resized(UniqueFd(::open(dir.file(name).c_str(), O_RDONLY)), name, 96, 96,
                                  switches);
}

// Squeezed to 96 x 96 without keeping the shape, a 40000000 x 1 picture would need gigabytes of
// filter weights; it is refused instead.
TEST(BackgroundLimit, AbsurdShapeIsRefusedBeforeResampling) {
    TempDir dir;
    img::Picture line{40000000, 1, PixelType::Grey8, std::vector<uint8_t>(40000000, 9)};
    write_png(dir.file("line.png"), line);
    int fd = ::open(dir.file("line.png").c_str(), O_RDONLY);
    auto r = decode_picture_resized(UniqueFd(fd), "line.png", 96, 96);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), PictureError::TooLarge);
    // The cover keeps the shape and needs little.
    auto cover = load_cover(dir.file("line.png"), 192, 108);
    ASSERT_TRUE(cover.ok());
    EXPECT_EQ(cover.value()[0], 9);
}

TEST(BackgroundCover, StreamedDecodeGivesTheSameBytes) {
    TempDir dir;
    struct Case {
        const char* name;
        uint32_t w, h, screen_w, screen_h;
    };
    img::Picture rgb = synthetic(400, 300, PixelType::Rgb8, 11);
    img::Picture tall = synthetic(10, 400, PixelType::Rgb8, 12);
    write_bytes(dir.file("photo.jpg"), encode_jpeg(rgb));
    write_bytes(dir.file("full.jpg"), encode_jpeg(rgb, {.subsample = false}));
    write_bytes(dir.file("progressive.jpeg"), encode_jpeg(rgb, {.progressive = true}));
    write_bytes(dir.file("grey.jpg"), encode_jpeg(synthetic(400, 300, PixelType::Grey8, 13)));
    write_bytes(dir.file("tall.jpg"), encode_jpeg(tall));
    write_png(dir.file("photo.png"), rgb);
    write_png(dir.file("tall.png"), tall);
    write_png(dir.file("interlaced.png"), synthetic(120, 90, PixelType::Rgba16, 14),
              {.interlaced = true});
    write_png(dir.file("ga.png"), synthetic(120, 90, PixelType::GreyAlpha8, 15));
    // Most columns cut away: the ring keeps only those read.
    img::Picture wide = synthetic(600, 40, PixelType::Rgb8, 16);
    write_bytes(dir.file("wide.jpg"), encode_jpeg(wide));
    write_png(dir.file("wide.png"), wide);
    fs::copy_file(dir.file("photo.jpg"), dir.file(".face"));
    const Case cases[] = {
        {"photo.jpg", 400, 300, 192, 108},
        {"photo.jpg", 400, 300, 77, 91},
        {"photo.jpg", 400, 300, 500, 200},
        {"full.jpg", 400, 300, 192, 108},
        {"progressive.jpeg", 400, 300, 192, 108},
        {"grey.jpg", 400, 300, 192, 108},
        {"tall.jpg", 10, 400, 192, 108},
        {"photo.png", 400, 300, 192, 108},
        {"tall.png", 10, 400, 192, 108},
        {"interlaced.png", 120, 90, 64, 64},
        {"ga.png", 120, 90, 50, 20},
        {".face", 400, 300, 100, 100},
        {"wide.jpg", 600, 40, 64, 64},
        {"wide.png", 600, 40, 64, 64},
    };
    for (const Case& c : cases) {
        auto picture = open_picture(dir.file(c.name));
        ASSERT_TRUE(picture.ok()) << c.name;
        ASSERT_EQ(picture.value().width, c.w);
        auto streamed = load_cover(dir.file(c.name), c.screen_w, c.screen_h);
        ASSERT_TRUE(streamed.ok()) << c.name;
        EXPECT_EQ(first_difference(streamed.value(),
                                   scale_to_cover(picture.value(), c.screen_w, c.screen_h)),
                  "")
            << c.name << " on " << c.screen_w << "x" << c.screen_h;
        EXPECT_EQ(
            first_difference(streamed.value(), ref_cover(picture.value(), c.screen_w, c.screen_h)),
            "")
            << c.name << " on " << c.screen_w << "x" << c.screen_h;
    }
}

TEST(BackgroundCover, StreamedResizeGivesTheSameBytes) {
    TempDir dir;
    write_bytes(dir.file("photo.jpg"), encode_jpeg(synthetic(200, 100, PixelType::Rgb8, 21)));
    write_png(dir.file("face.png"), synthetic(50, 70, PixelType::Rgba16, 22));
    for (const char* name : {"photo.jpg", "face.png"}) {
        auto picture = open_picture(dir.file(name));
        ASSERT_TRUE(picture.ok());
        auto streamed = squeeze_file(dir, name);
        ASSERT_TRUE(streamed.ok()) << name;
        EXPECT_EQ(streamed.value().type, picture.value().type);
        EXPECT_EQ(
            first_difference(streamed.value().samples, ref_resize(picture.value(), 96, 96).samples),
            "")
            << name;
    }
}

// Pictures large enough that the decoder laps the ring many times while the second thread
// resamples, in both shapes of cut and with the avatar's many taps per row; the in-line path
// must give the same bytes.
TEST(BackgroundCover, SecondThreadGivesTheSameBytes) {
    TempDir dir;
    write_bytes(dir.file("tall.jpg"), encode_jpeg(synthetic(600, 1400, PixelType::Rgb8, 31)));
    write_png(dir.file("wide.png"), synthetic(1500, 90, PixelType::Rgba8, 32));
    for (const char* name : {"tall.jpg", "wide.png"}) {
        auto picture = open_picture(dir.file(name));
        ASSERT_TRUE(picture.ok()) << name;
        const BgraBuffer reference = ref_cover(picture.value(), 320, 180);
        const std::vector<uint8_t> squeezed = ref_resize(picture.value(), 96, 96).samples;
        for (bool threaded : {true, false}) {
            const PictureSwitches switches{.second_thread = threaded};
            auto cover = load_cover(dir.file(name), 320, 180, switches);
            ASSERT_TRUE(cover.ok()) << name;
            EXPECT_EQ(first_difference(cover.value(), reference), "") << name << " " << threaded;
            auto avatar = squeeze_file(dir, name, switches);
            ASSERT_TRUE(avatar.ok()) << name;
            EXPECT_EQ(first_difference(avatar.value().samples, squeezed), "")
                << name << " " << threaded;
        }
    }
}

// A file that ends while the second thread is resampling fails without hanging either thread.
TEST(BackgroundCover, TruncationWhileResamplingFails) {
    TempDir dir;
    const std::vector<uint8_t> jpeg = encode_jpeg(synthetic(500, 1600, PixelType::Rgb8, 33));
    write_png(dir.file("full.png"), synthetic(500, 1600, PixelType::Rgb8, 34));
    const std::vector<uint8_t> png = read_bytes(dir.file("full.png"));
    for (double kept : {0.3, 0.6, 0.9}) {
        write_bytes(
            dir.file("cut.jpg"),
            std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + ptrdiff_t(jpeg.size() * kept)));
        write_bytes(dir.file("cut.png"),
                    std::vector<uint8_t>(png.begin(), png.begin() + ptrdiff_t(png.size() * kept)));
        for (const char* name : {"cut.jpg", "cut.png"}) {
            auto cover = load_cover(dir.file(name), 100, 100);
            ASSERT_FALSE(cover.ok()) << name << " " << kept;
            EXPECT_EQ(cover.error(), PictureError::Decode) << name << " " << kept;
            auto avatar = squeeze_file(dir, name);
            ASSERT_FALSE(avatar.ok()) << name << " " << kept;
            EXPECT_EQ(avatar.error(), PictureError::Decode) << name << " " << kept;
        }
    }
}

}  // namespace
