#include "picture/bgra.h"

#include <cstring>
#include <vector>

namespace {

inline uint8_t to_8bit(uint8_t v) {
    return v;
}

inline uint8_t to_8bit(uint16_t v) {
    return static_cast<uint8_t>((uint32_t{v} * 255u + 32767u) / 65535u);
}

template <typename T>
void bgra_row_of(const T* source, uint32_t channels, size_t width, uint8_t* out) {
    switch (channels) {
        case 1:
            for (size_t x = 0; x < width; ++x) {
                uint8_t g = to_8bit(source[x]);
                out[4 * x] = g;
                out[4 * x + 1] = g;
                out[4 * x + 2] = g;
                out[4 * x + 3] = 255;
            }
            break;
        case 2:
            for (size_t x = 0; x < width; ++x) {
                uint8_t g = to_8bit(source[2 * x]);
                out[4 * x] = g;
                out[4 * x + 1] = g;
                out[4 * x + 2] = g;
                out[4 * x + 3] = to_8bit(source[2 * x + 1]);
            }
            break;
        case 3:
            for (size_t x = 0; x < width; ++x) {
                out[4 * x] = to_8bit(source[3 * x + 2]);
                out[4 * x + 1] = to_8bit(source[3 * x + 1]);
                out[4 * x + 2] = to_8bit(source[3 * x]);
                out[4 * x + 3] = 255;
            }
            break;
        default:
            for (size_t x = 0; x < width; ++x) {
                out[4 * x] = to_8bit(source[4 * x + 2]);
                out[4 * x + 1] = to_8bit(source[4 * x + 1]);
                out[4 * x + 2] = to_8bit(source[4 * x]);
                out[4 * x + 3] = to_8bit(source[4 * x + 3]);
            }
            break;
    }
}

}  // namespace

void bgra_row(const uint8_t* source, uint32_t channels, size_t width, uint8_t* out) {
    bgra_row_of(source, channels, width, out);
}

void bgra_row(const uint16_t* source, uint32_t channels, size_t width, uint8_t* out) {
    bgra_row_of(source, channels, width, out);
}

void bgra_rows(const uint8_t* samples, PixelType type, size_t width, size_t rows, uint8_t* out) {
    const uint32_t channels = channel_count(type);
    const size_t row_bytes = width * bytes_per_pixel(type);
    // 16-bit samples are copied out first: the bytes may sit at any address.
    std::vector<uint16_t> wide_row;
    for (size_t y = 0; y < rows; ++y) {
        const uint8_t* source = samples + row_bytes * y;
        uint8_t* target = out + width * 4 * y;
        if (bytes_per_sample(type) == 2) {
            wide_row.resize(width * channels);
            std::memcpy(wide_row.data(), source, row_bytes);
            bgra_row(wide_row.data(), channels, width, target);
        } else {
            bgra_row(source, channels, width, target);
        }
    }
}
