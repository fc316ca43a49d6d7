#include "picture/png_decoder.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool ADDRESS_SANITIZER = true;
#else
constexpr bool ADDRESS_SANITIZER = false;
#endif

TEST(BackgroundBgra, DecodedPngTypes) {
    TempDir dir;
    for (PixelType type : ALL_TYPES) {
        img::Picture p = synthetic(13, 6, type, 3);
        const std::string path = dir.file("t" + std::to_string(int(type)) + ".png");
        write_png(path, p);
        auto decoded = open_picture(path);
        ASSERT_TRUE(decoded.ok()) << int(type);
        EXPECT_EQ(decoded.value().type, type);
        EXPECT_EQ(decoded.value().samples, p.samples) << int(type);
        BgraBuffer bgra = to_bgra(decoded.value());
        for (size_t i = 0; i < bgra.size(); i += 4) {
            if (channel_count(type) <= 2) {
                EXPECT_EQ(bgra[i], bgra[i + 1]);
                EXPECT_EQ(bgra[i], bgra[i + 2]);
            }
            if (channel_count(type) % 2 == 1) {
                EXPECT_EQ(bgra[i + 3], 255);
            }
        }
    }
}

TEST(BackgroundBgra, SixteenBitMatchesEightBitWithinOneStep) {
    TempDir dir;
    img::Picture wide = synthetic(20, 10, PixelType::Rgba16, 5);
    img::Picture narrow{20, 10, PixelType::Rgba8, {}};
    for (size_t i = 0; i < wide.samples.size() / 2; ++i) {
        narrow.samples.push_back(static_cast<uint8_t>(get_sample(wide, i) >> 8));
    }
    write_png(dir.file("wide.png"), wide);
    write_png(dir.file("narrow.png"), narrow);
    BgraBuffer a = to_bgra(open_picture(dir.file("wide.png")).value());
    BgraBuffer b = to_bgra(open_picture(dir.file("narrow.png")).value());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_LE(std::abs(int(a[i]) - int(b[i])), 1) << i;
    }
}

TEST(BackgroundBgra, PaletteExpands) {
    TempDir dir;
    write_palette_png(dir.file("plain.png"), 4, 2, false);
    write_palette_png(dir.file("alpha.png"), 4, 2, true);
    auto plain = open_picture(dir.file("plain.png"));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value().type, PixelType::Rgb8);
    EXPECT_EQ(to_bgra(plain.value())[0], 0);    // red: blue byte 0
    EXPECT_EQ(to_bgra(plain.value())[2], 255);  // red byte
    auto alpha = open_picture(dir.file("alpha.png"));
    ASSERT_TRUE(alpha.ok());
    EXPECT_EQ(alpha.value().type, PixelType::Rgba8);
    BgraBuffer bgra = to_bgra(alpha.value());
    EXPECT_EQ(bgra[3], 255);
    EXPECT_EQ(bgra[7], 128);
    EXPECT_EQ(bgra[8 + 3], 0);
    EXPECT_EQ(bgra[8 + 0], 255);  // fully transparent keeps its colour
}

TEST(BackgroundLimit, HugeHeaderFailsBeforeAllocating) {
    TempDir dir;
    write_bytes(dir.file("huge.png"), png_header_only(100000, 100000));
    write_bytes(dir.file("wrap.png"), png_header_only(65536, 65536, 6));
    write_bytes(dir.file("huge-face"), png_header_only(100000, 100000));
    // 470 MB of samples fit the limit, but not together with the decoder's rows of that width.
    write_bytes(dir.file("row.png"), png_header_only(117440517, 1, 6));
    // The child may not map more than 256 MiB beyond what it has: allocating the samples
    // (30 GB, or 16 GiB for 65536 x 65536 RGBA) would fail there instead of returning TooLarge.
    // The address sanitizer reserves far more address space than that, so there the limit is
    // left out.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!ADDRESS_SANITIZER) {
            rlimit limit{};
            std::ifstream statm("/proc/self/statm");
            size_t pages = 0;
            statm >> pages;
            limit.rlim_cur = limit.rlim_max = pages * 4096 + (size_t{256} << 20);
            ::setrlimit(RLIMIT_AS, &limit);
        }
        int failures = 0;
        for (const char* name : {"huge.png", "wrap.png", "huge-face", "row.png"}) {
            auto r = open_picture(dir.file(name));
            failures += !(!r.ok() && r.error() == PictureError::TooLarge);
            auto c = load_cover(dir.file(name), 1920, 1080);
            failures += !(!c.ok() && c.error() == PictureError::TooLarge);
        }
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
