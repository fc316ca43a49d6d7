#include "picture/reader.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

TEST(BackgroundFormat, ExtensionRules) {
    struct Case {
        const char* path;
        std::optional<std::string_view> extension;
    };
    const Case cases[] = {
        {"/a/b/photo.png", "png"}, {"/a/b/photo.tar.JPEG", "JPEG"}, {"/home/x/.face", std::nullopt},
        {".png", std::nullopt},    {"/a.b/face", std::nullopt},     {"a.", ""},
        {"README", std::nullopt},  {"/x/.dawn.png", "png"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(file_extension(c.path), c.extension) << c.path;
    }
    EXPECT_EQ(format_for_extension("png"), PictureFormat::Png);
    EXPECT_EQ(format_for_extension("PnG"), PictureFormat::Png);
    EXPECT_EQ(format_for_extension("jpg"), PictureFormat::Jpeg);
    EXPECT_EQ(format_for_extension("JPEG"), PictureFormat::Jpeg);
    EXPECT_EQ(format_for_extension("gif"), std::nullopt);
    EXPECT_EQ(format_for_extension("jpe"), std::nullopt);
    EXPECT_EQ(format_for_extension(""), std::nullopt);
}

TEST(BackgroundFormat, ExtensionDecidesNotContent) {
    TempDir dir;
    img::Picture rgb = synthetic(16, 8, PixelType::Rgb8);
    const std::vector<uint8_t> jpeg = encode_jpeg(rgb);
    write_bytes(dir.file("a.PNG"), jpeg);
    write_bytes(dir.file("b.jpg"), jpeg);
    write_bytes(dir.file("c.gif"), jpeg);

    auto wrong = open_picture(dir.file("a.PNG"));
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error(), PictureError::Decode);

    auto right = open_picture(dir.file("b.jpg"));
    ASSERT_TRUE(right.ok());
    EXPECT_EQ(right.value().width, 16u);
    EXPECT_EQ(right.value().height, 8u);
    EXPECT_EQ(right.value().type, PixelType::Rgb8);

    auto gif = open_picture(dir.file("c.gif"));
    ASSERT_FALSE(gif.ok());
    EXPECT_EQ(gif.error(), PictureError::Unsupported);
}

TEST(BackgroundFormat, NoExtensionUsesFirstBytes) {
    TempDir dir;
    img::Picture rgba = synthetic(7, 5, PixelType::Rgba8);
    write_png(dir.file("face.png"), rgba);
    fs::copy_file(dir.file("face.png"), dir.file(".face"));
    write_bytes(dir.file("jpegface"), encode_jpeg(synthetic(9, 9, PixelType::Grey8)));
    write_bytes(dir.file("gifface"), {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    write_bytes(dir.file("empty"), {});
    write_bytes(dir.file("short"), {0xFF});

    auto png = open_picture(dir.file(".face"));
    ASSERT_TRUE(png.ok());
    EXPECT_EQ(png.value().type, PixelType::Rgba8);
    EXPECT_EQ(png.value().samples, rgba.samples);

    auto jpeg = open_picture(dir.file("jpegface"));
    ASSERT_TRUE(jpeg.ok());
    EXPECT_EQ(jpeg.value().type, PixelType::Grey8);
    EXPECT_EQ(jpeg.value().width, 9u);

    for (const char* name : {"gifface", "empty", "short"}) {
        auto r = open_picture(dir.file(name));
        ASSERT_FALSE(r.ok()) << name;
        EXPECT_EQ(r.error(), PictureError::Unrecognised) << name;
    }
}

TEST(BackgroundFormat, IoErrors) {
    TempDir dir;
    fs::create_directory(dir.file("folder.png"));
    fs::create_directory(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.png").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", dir.file("zero.jpg"));
    for (const char* name : {"missing.png", "folder.png", "folder", "fifo.png", "zero.jpg"}) {
        auto r = open_picture(dir.file(name));
        ASSERT_FALSE(r.ok()) << name;
        EXPECT_EQ(r.error(), PictureError::Io) << name;
        auto streamed = load_cover(dir.file(name), 16, 9);
        ASSERT_FALSE(streamed.ok()) << name;
        EXPECT_EQ(streamed.error(), PictureError::Io) << name;
    }
}

}  // namespace
