#include "background.h"

#include <fcntl.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Helpers: scratch directories, synthetic pictures, PNG and JPEG writers

struct TempDir {
    fs::path path;
    TempDir() {
        char pattern[] = "/tmp/vesko-background-test.XXXXXX";
        path = ::mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    std::string file(const std::string& name) const { return (path / name).string(); }
};

void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t sample_max(PixelType type) {
    return bytes_per_sample(type) == 2 ? 65535 : 255;
}

uint32_t get_sample(const img::Picture& p, size_t index) {
    if (bytes_per_sample(p.type) == 2) {
        uint16_t v;
        std::memcpy(&v, p.samples.data() + index * 2, 2);
        return v;
    }
    return p.samples[index];
}

void set_sample(img::Picture& p, size_t index, uint32_t value) {
    if (bytes_per_sample(p.type) == 2) {
        auto v = static_cast<uint16_t>(value);
        std::memcpy(p.samples.data() + index * 2, &v, 2);
    } else {
        p.samples[index] = static_cast<uint8_t>(value);
    }
}

// Smooth gradients with noise, touching both ends of the sample range.
img::Picture synthetic(uint32_t width, uint32_t height, PixelType type, uint32_t seed = 1) {
    img::Picture p{width, height, type, {}};
    const uint32_t channels = channel_count(type);
    p.samples.resize(size_t{width} * height * bytes_per_pixel(type));
    std::mt19937 rng(seed);
    const double max = sample_max(type);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (uint32_t c = 0; c < channels; ++c) {
                double base = 0.5 + 0.45 * std::sin(0.21 * x * (c + 1) + 0.13 * y) *
                                        std::cos(0.07 * y * (c + 2));
                double noise = (double(rng() % 1000) / 1000.0 - 0.5) * 0.2;
                double v = std::clamp(base + noise, 0.0, 1.0);
                if ((x + y + c) % 17 == 0) {
                    v = 1.0;
                } else if ((x * 3 + y + c) % 19 == 0) {
                    v = 0.0;
                }
                set_sample(p, (size_t{y} * width + x) * channels + c,
                           static_cast<uint32_t>(std::lround(v * max)));
            }
        }
    }
    return p;
}

int png_color_type(PixelType type) {
    switch (channel_count(type)) {
        case 1:
            return PNG_COLOR_TYPE_GRAY;
        case 2:
            return PNG_COLOR_TYPE_GRAY_ALPHA;
        case 3:
            return PNG_COLOR_TYPE_RGB;
        default:
            return PNG_COLOR_TYPE_RGBA;
    }
}

struct PngOptions {
    bool interlaced = false;
};

void write_png(const std::string& path, const img::Picture& p, PngOptions options = {}) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
    const int depth = bytes_per_sample(p.type) == 2 ? 16 : 8;
    png_set_IHDR(png, info, p.width, p.height, depth, png_color_type(p.type),
                 options.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (depth == 16) {
        png_set_swap(png);
    }
    const size_t row_bytes = size_t{p.width} * bytes_per_pixel(p.type);
    std::vector<png_bytep> rows(p.height);
    for (uint32_t y = 0; y < p.height; ++y) {
        rows[y] = const_cast<png_bytep>(p.samples.data() + row_bytes * y);
    }
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// A palette PNG of width x height whose index is (x + y) % 4, with optional tRNS.
void write_palette_png(const std::string& path, uint32_t width, uint32_t height, bool with_trns) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color palette[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
    png_set_PLTE(png, info, palette, 4);
    png_byte alpha[4] = {255, 128, 0, 255};
    if (with_trns) {
        png_set_tRNS(png, info, alpha, 4, nullptr);
    }
    png_write_info(png, info);
    std::vector<uint8_t> row(width);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            row[x] = static_cast<uint8_t>((x + y) % 4);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

struct JpegOptions {
    int quality = 90;
    bool subsample = true;     // 4:2:0
    bool progressive = false;  // the library's standard progression
    bool many_scans = false;   // a valid progression of more than a hundred scans
    bool no_trailing_eoi = false;
};

// Grey8 or Rgb8 pictures only.
std::vector<uint8_t> encode_jpeg(const img::Picture& p, JpegOptions options = {}) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = p.width;
    cinfo.image_height = p.height;
    const bool grey = p.type == PixelType::Grey8;
    cinfo.input_components = grey ? 1 : 3;
    cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, options.quality, TRUE);
    if (!grey) {
        int factor = options.subsample ? 2 : 1;
        cinfo.comp_info[0].h_samp_factor = factor;
        cinfo.comp_info[0].v_samp_factor = factor;
    }
    std::vector<jpeg_scan_info> scans;
    if (options.many_scans) {
        // One component, successive approximation: DC first and refinement, then each AC
        // coefficient on its own, first and refinement: 128 scans.
        scans.push_back({1, {0}, 0, 0, 0, 1});
        for (int k = 1; k < 64; ++k) {
            scans.push_back({1, {0}, k, k, 0, 1});
        }
        scans.push_back({1, {0}, 0, 0, 1, 0});
        for (int k = 1; k < 64; ++k) {
            scans.push_back({1, {0}, k, k, 1, 0});
        }
        cinfo.scan_info = scans.data();
        cinfo.num_scans = static_cast<int>(scans.size());
    } else if (options.progressive) {
        jpeg_simple_progression(&cinfo);
    }
    jpeg_start_compress(&cinfo, TRUE);
    const size_t row_bytes = size_t{p.width} * cinfo.input_components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(p.samples.data() + row_bytes * cinfo.next_scanline);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    jpeg_destroy_compress(&cinfo);
    if (options.no_trailing_eoi) {
        bytes.resize(bytes.size() - 2);
    }
    return bytes;
}

uint32_t crc32_of(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

// A PNG whose IHDR declares width x height (RGB 8-bit) followed by one empty IDAT and IEND.
std::vector<uint8_t> png_header_only(uint32_t width, uint32_t height, uint8_t color_type = 2) {
    std::vector<uint8_t> out = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&out](const char* type, std::vector<uint8_t> data) {
        auto be32 = [&out](uint32_t v) {
            for (int shift = 24; shift >= 0; shift -= 8) {
                out.push_back(static_cast<uint8_t>(v >> shift));
            }
        };
        be32(static_cast<uint32_t>(data.size()));
        std::vector<uint8_t> crc_input(type, type + 4);
        crc_input.insert(crc_input.end(), data.begin(), data.end());
        out.insert(out.end(), crc_input.begin(), crc_input.end());
        be32(crc32_of(crc_input));
    };
    std::vector<uint8_t> ihdr;
    for (uint32_t v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            ihdr.push_back(static_cast<uint8_t>(v >> shift));
        }
    }
    ihdr.insert(ihdr.end(), {8, color_type, 0, 0, 0});
    chunk("IHDR", ihdr);
    chunk("IDAT", {0x78, 0x9c, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    chunk("IEND", {});
    return out;
}

// ---------------------------------------------------------------------------------------------
// The plain reference: the filter exactly as written, whole picture, no shortcuts

struct RefAxis {
    int64_t left = 0;
    std::vector<float> weights;
};

RefAxis ref_axis(uint32_t n, uint32_t m, uint32_t i) {
    const float ratio = static_cast<float>(n) / static_cast<float>(m);
    const float s = std::max(ratio, 1.0f);
    const float c = (static_cast<float>(i) + 0.5f) * ratio;
    int64_t left = static_cast<int64_t>(std::floor(c - s));
    left = std::clamp<int64_t>(left, 0, int64_t{n} - 1);
    int64_t right = static_cast<int64_t>(std::ceil(c + s));
    right = std::clamp<int64_t>(right, left + 1, int64_t{n});
    RefAxis axis;
    axis.left = left;
    float sum = 0.0f;
    for (int64_t j = left; j < right; ++j) {
        float x = (static_cast<float>(j) - (c - 0.5f)) / s;
        float w = std::fabs(x) < 1.0f ? 1.0f - std::fabs(x) : 0.0f;
        axis.weights.push_back(w);
        sum += w;
    }
    for (float& w : axis.weights) {
        w /= sum;
    }
    return axis;
}

img::Picture ref_resize(const img::Picture& p, uint32_t width, uint32_t height) {
    if (width == p.width && height == p.height) {
        return p;
    }
    const uint32_t channels = channel_count(p.type);
    std::vector<float> middle(size_t{p.width} * height * channels);
    for (uint32_t oy = 0; oy < height; ++oy) {
        RefAxis axis = ref_axis(p.height, height, oy);
        for (uint32_t x = 0; x < p.width; ++x) {
            for (uint32_t c = 0; c < channels; ++c) {
                float t = 0.0f;
                for (size_t k = 0; k < axis.weights.size(); ++k) {
                    size_t y = size_t(axis.left) + k;
                    t += static_cast<float>(get_sample(p, (y * p.width + x) * channels + c)) *
                         axis.weights[k];
                }
                middle[(size_t{oy} * p.width + x) * channels + c] = t;
            }
        }
    }
    img::Picture out{width, height, p.type, {}};
    out.samples.resize(size_t{width} * height * bytes_per_pixel(p.type));
    const float max = static_cast<float>(sample_max(p.type));
    for (uint32_t ox = 0; ox < width; ++ox) {
        RefAxis axis = ref_axis(p.width, width, ox);
        for (uint32_t y = 0; y < height; ++y) {
            for (uint32_t c = 0; c < channels; ++c) {
                float t = 0.0f;
                for (size_t k = 0; k < axis.weights.size(); ++k) {
                    size_t x = size_t(axis.left) + k;
                    t += middle[(size_t{y} * p.width + x) * channels + c] * axis.weights[k];
                }
                float v = std::round(std::clamp(t, 0.0f, max));
                set_sample(out, (size_t{y} * width + ox) * channels + c, static_cast<uint32_t>(v));
            }
        }
    }
    return out;
}

uint8_t ref_to_8bit(uint32_t v, PixelType type) {
    if (bytes_per_sample(type) == 1) {
        return static_cast<uint8_t>(v);
    }
    return static_cast<uint8_t>(std::lround(v * 255.0 / 65535.0));
}

BgraBuffer ref_to_bgra(const img::Picture& p) {
    BgraBuffer out;
    const uint32_t channels = channel_count(p.type);
    for (size_t i = 0; i < size_t{p.width} * p.height; ++i) {
        uint32_t r, g, b, a = sample_max(p.type);
        if (channels <= 2) {
            r = g = b = get_sample(p, i * channels);
            if (channels == 2) {
                a = get_sample(p, i * channels + 1);
            }
        } else {
            r = get_sample(p, i * channels);
            g = get_sample(p, i * channels + 1);
            b = get_sample(p, i * channels + 2);
            if (channels == 4) {
                a = get_sample(p, i * channels + 3);
            }
        }
        for (uint32_t v : {b, g, r, a}) {
            out.push_back(ref_to_8bit(v, p.type));
        }
    }
    return out;
}

BgraBuffer ref_cover(const img::Picture& p, uint32_t screen_width, uint32_t screen_height) {
    const CoverGeometry g = cover_geometry(p.width, p.height, screen_width, screen_height);
    img::Picture scaled = ref_resize(p, g.scaled_width, g.scaled_height);
    img::Picture cut{screen_width, screen_height, p.type, {}};
    const size_t bpp = bytes_per_pixel(p.type);
    for (uint32_t y = 0; y < screen_height; ++y) {
        const uint8_t* row =
            scaled.samples.data() + ((size_t{g.y0} + y) * scaled.width + g.x0) * bpp;
        cut.samples.insert(cut.samples.end(), row, row + size_t{screen_width} * bpp);
    }
    return ref_to_bgra(cut);
}

// First differing byte, for readable failures.
std::string first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) {
        return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return "byte " + std::to_string(i) + ": " + std::to_string(a[i]) + " vs " +
                   std::to_string(b[i]);
        }
    }
    return "";
}

const PixelType ALL_TYPES[] = {PixelType::Grey8, PixelType::GreyAlpha8, PixelType::Rgb8,
                               PixelType::Rgba8, PixelType::Grey16,     PixelType::GreyAlpha16,
                               PixelType::Rgb16, PixelType::Rgba16};

// ---------------------------------------------------------------------------------------------
// Format rules and errors

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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool ADDRESS_SANITIZER = true;
#else
constexpr bool ADDRESS_SANITIZER = false;
#endif

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

// ---------------------------------------------------------------------------------------------
// Pixel types and the BGRA layout

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

// ---------------------------------------------------------------------------------------------
// The resampler against the plain reference

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
    allow_wide_vectors(false);
    for (PixelType type : ALL_TYPES) {
        img::Picture p = synthetic(41, 29, type, 77);
        EXPECT_EQ(
            first_difference(resize_triangle(p, 19, 60).samples, ref_resize(p, 19, 60).samples), "")
            << int(type);
        EXPECT_EQ(first_difference(scale_to_cover(p, 23, 13), ref_cover(p, 23, 13)), "")
            << int(type);
    }
    allow_wide_vectors(true);
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

// ---------------------------------------------------------------------------------------------
// Covering the screen

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

// The avatar's way in: a file decoded straight to 96 x 96.
Result<img::Picture, PictureError> squeeze_file(const TempDir& dir, const char* name) {
    return decode_picture_resized(UniqueFd(::open(dir.file(name).c_str(), O_RDONLY)), name, 96, 96);
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
            allow_second_thread(threaded);
            auto cover = load_cover(dir.file(name), 320, 180);
            ASSERT_TRUE(cover.ok()) << name;
            EXPECT_EQ(first_difference(cover.value(), reference), "") << name << " " << threaded;
            auto avatar = squeeze_file(dir, name);
            ASSERT_TRUE(avatar.ok()) << name;
            EXPECT_EQ(first_difference(avatar.value().samples, squeezed), "")
                << name << " " << threaded;
        }
        allow_second_thread(true);
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

// ---------------------------------------------------------------------------------------------
// Choosing by the time of day

TEST(BackgroundPeriod, DefaultBoundaries) {
    const BackgroundConfig config;
    struct Case {
        uint8_t hour;
        DayPeriod period;
    };
    const Case cases[] = {
        {0, DayPeriod::Night},    {5, DayPeriod::Night},      {6, DayPeriod::Morning},
        {11, DayPeriod::Morning}, {12, DayPeriod::Afternoon}, {16, DayPeriod::Afternoon},
        {17, DayPeriod::Evening}, {20, DayPeriod::Evening},   {21, DayPeriod::Night},
        {23, DayPeriod::Night},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(day_period_for_hour(c.hour, config), c.period) << int(c.hour);
    }
}

TEST(BackgroundPeriod, OddSettings) {
    BackgroundConfig all_night;
    all_night.night_start = 5;
    all_night.morning_start = 6;
    BackgroundConfig no_afternoon;
    no_afternoon.afternoon_start = 18;
    no_afternoon.evening_start = 17;
    BackgroundConfig no_night;
    no_night.night_start = 24;
    no_night.morning_start = 0;
    for (uint8_t hour = 0; hour < 24; ++hour) {
        EXPECT_EQ(day_period_for_hour(hour, all_night), DayPeriod::Night) << int(hour);
        EXPECT_NE(day_period_for_hour(hour, no_afternoon), DayPeriod::Afternoon) << int(hour);
        EXPECT_NE(day_period_for_hour(hour, no_night), DayPeriod::Night) << int(hour);
    }
    EXPECT_EQ(day_period_for_hour(16, no_afternoon), DayPeriod::Morning);
    EXPECT_EQ(day_period_for_hour(17, no_afternoon), DayPeriod::Evening);
    EXPECT_EQ(day_period_for_hour(3, no_night), DayPeriod::Morning);
    EXPECT_EQ(day_period_for_hour(23, no_night), DayPeriod::Evening);
}

TEST(BackgroundPeriod, Names) {
    const std::pair<DayPeriod, std::pair<const char*, const char*>> names[] = {
        {DayPeriod::Morning, {"morning", "Morning"}},
        {DayPeriod::Afternoon, {"afternoon", "Afternoon"}},
        {DayPeriod::Evening, {"evening", "Evening"}},
        {DayPeriod::Night, {"night", "Night"}},
    };
    for (const auto& [period, name] : names) {
        EXPECT_STREQ(day_period_dir_name(period), name.first);
        EXPECT_STREQ(day_period_display_name(period), name.second);
    }
}

TEST(BackgroundSelection, ExtensionFilter) {
    const std::pair<const char*, bool> cases[] = {
        {"Sunset.JPG", true}, {"a.Jpeg", true},  {"b.PNG", true},       {".dawn.png", true},
        {"x.jpg", true},      {".png", false},   {"a.jpeg.txt", false}, {"a.webp", false},
        {"a.gif", false},     {"README", false}, {"a.", false},         {"..", false},
        {"photo.jpe", false},
    };
    for (const auto& [name, qualifies] : cases) {
        EXPECT_EQ(is_background_name(name), qualifies) << name;
    }
}

TEST(BackgroundSelection, ListingIsFilteredAndSortedByBytes) {
    TempDir dir;
    for (const char* name : {"img2.png", "a.png", "img10.png", "B.png", "notes.txt", ".dawn.png",
                             "Sunset.JPG", "z.jpeg.txt"}) {
        write_bytes(dir.file(name), {1});
    }
    fs::create_directory(dir.file("folder.png"));
    fs::create_directory(dir.file("sub"));
    write_bytes(dir.file("sub/inner.png"), {1});
    const std::string d = dir.path.string();
    const std::vector<std::string> expected = {
        d + "/.dawn.png",  d + "/B.png",     d + "/Sunset.JPG", d + "/a.png",
        d + "/folder.png", d + "/img10.png", d + "/img2.png",
    };
    EXPECT_EQ(list_backgrounds(d), expected);
    EXPECT_TRUE(list_backgrounds(d + "/missing").empty());
    EXPECT_TRUE(list_backgrounds(d + "/notes.txt").empty());
}

TEST(BackgroundSelection, DailySeed) {
    std::tm jan1{};
    jan1.tm_yday = 0;
    jan1.tm_year = 126;
    std::tm jan2 = jan1;
    jan2.tm_yday = 1;
    EXPECT_EQ(daily_seed(jan1), 126u);
    EXPECT_EQ(daily_seed(jan2), 157u);
    EXPECT_EQ(daily_seed(jan1) % 3, 0u);
    EXPECT_EQ(daily_seed(jan2) % 3, 1u);
    // With 31 pictures every day of a year picks the same one, and the next year another.
    for (int yday = 0; yday < 366; ++yday) {
        std::tm day = jan1;
        day.tm_yday = yday;
        EXPECT_EQ(daily_seed(day) % 31, 126u % 31);
        EXPECT_EQ(daily_seed(day) % 1, 0u);
    }
    std::tm next_year = jan1;
    next_year.tm_year = 127;
    EXPECT_NE(daily_seed(next_year) % 31, daily_seed(jan1) % 31);
}

TEST(BackgroundErrors, Texts) {
    EXPECT_STREQ(picture_error_text(PictureError::Io), "the file cannot be read");
    EXPECT_STREQ(picture_error_text(PictureError::Unsupported), "the format is not supported");
    EXPECT_STREQ(picture_error_text(PictureError::Unrecognised), "the format is not recognised");
    EXPECT_STREQ(picture_error_text(PictureError::Decode), "the data is not a valid picture");
    EXPECT_STREQ(picture_error_text(PictureError::TooLarge), "the picture is too large");
}

}  // namespace
