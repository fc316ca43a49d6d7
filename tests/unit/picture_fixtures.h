// Shared by the picture tests: scratch directories, synthetic pictures, PNG and JPEG writers, and
// the plain reference resampler every fast path is compared with byte for byte.
#pragma once

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "picture/picture.h"
#include "picture/pipeline.h"
#include "picture/reference.h"

namespace picture_fixtures {

namespace fs = std::filesystem;

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

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline uint32_t sample_max(PixelType type) {
    return bytes_per_sample(type) == 2 ? 65535 : 255;
}

inline uint32_t get_sample(const img::Picture& p, size_t index) {
    if (bytes_per_sample(p.type) == 2) {
        uint16_t v;
        std::memcpy(&v, p.samples.data() + index * 2, 2);
        return v;
    }
    return p.samples[index];
}

inline void set_sample(img::Picture& p, size_t index, uint32_t value) {
    if (bytes_per_sample(p.type) == 2) {
        auto v = static_cast<uint16_t>(value);
        std::memcpy(p.samples.data() + index * 2, &v, 2);
    } else {
        p.samples[index] = static_cast<uint8_t>(value);
    }
}

// Smooth gradients with noise, touching both ends of the sample range.
inline img::Picture synthetic(uint32_t width, uint32_t height, PixelType type, uint32_t seed = 1) {
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

inline int png_color_type(PixelType type) {
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

inline void write_png(const std::string& path, const img::Picture& p, PngOptions options = {}) {
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
inline void write_palette_png(const std::string& path, uint32_t width, uint32_t height,
                              bool with_trns) {
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
inline std::vector<uint8_t> encode_jpeg(const img::Picture& p, JpegOptions options = {}) {
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

inline uint32_t crc32_of(const std::vector<uint8_t>& bytes) {
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
inline std::vector<uint8_t> png_header_only(uint32_t width, uint32_t height,
                                            uint8_t color_type = 2) {
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

// The plain reference: the filter exactly as written, whole picture, no shortcuts.

struct RefAxis {
    int64_t left = 0;
    std::vector<float> weights;
};

inline RefAxis ref_axis(uint32_t n, uint32_t m, uint32_t i) {
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

inline img::Picture ref_resize(const img::Picture& p, uint32_t width, uint32_t height) {
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

inline uint8_t ref_to_8bit(uint32_t v, PixelType type) {
    if (bytes_per_sample(type) == 1) {
        return static_cast<uint8_t>(v);
    }
    return static_cast<uint8_t>(std::lround(v * 255.0 / 65535.0));
}

inline BgraBuffer ref_to_bgra(const img::Picture& p) {
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

inline BgraBuffer ref_cover(const img::Picture& p, uint32_t screen_width, uint32_t screen_height) {
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
inline std::string first_difference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
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

inline constexpr PixelType ALL_TYPES[] = {
    PixelType::Grey8,  PixelType::GreyAlpha8,  PixelType::Rgb8,  PixelType::Rgba8,
    PixelType::Grey16, PixelType::GreyAlpha16, PixelType::Rgb16, PixelType::Rgba16};

}  // namespace picture_fixtures
