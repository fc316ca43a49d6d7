#include "picture/jpeg_decoder.h"

#include <gtest/gtest.h>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

TEST(BackgroundFormat, ProgressiveScansAreCapped) {
    TempDir dir;
    img::Picture grey = synthetic(64, 64, PixelType::Grey8);
    write_bytes(dir.file("normal.jpg"), encode_jpeg(grey, {.progressive = true}));
    write_bytes(dir.file("hostile.jpg"), encode_jpeg(grey, {.many_scans = true}));

    auto normal = open_picture(dir.file("normal.jpg"));
    ASSERT_TRUE(normal.ok());
    EXPECT_EQ(normal.value().width, 64u);

    auto hostile = open_picture(dir.file("hostile.jpg"));
    ASSERT_FALSE(hostile.ok());
    EXPECT_EQ(hostile.error(), PictureError::Decode);
}

}  // namespace
