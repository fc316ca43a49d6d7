// The pictures' vocabulary: pixel types, decoded pictures, BGRA buffers and why a picture failed.
#pragma once

#include <cstdint>
#include <vector>

#include "result.h"

// Exactly width x height x 4 bytes, rows top to bottom, each pixel blue, green, red, alpha
// (straight alpha). The consumer knows the size.
using BgraBuffer = std::vector<uint8_t>;

// The largest amount of memory the decoded samples of one picture may need.
inline constexpr uint64_t MAX_DECODE_BYTES = uint64_t{512} << 20;

enum class PixelType { Grey8, GreyAlpha8, Rgb8, Rgba8, Grey16, GreyAlpha16, Rgb16, Rgba16 };

constexpr uint32_t channel_count(PixelType type) {
    switch (type) {
        case PixelType::Grey8:
        case PixelType::Grey16:
            return 1;
        case PixelType::GreyAlpha8:
        case PixelType::GreyAlpha16:
            return 2;
        case PixelType::Rgb8:
        case PixelType::Rgb16:
            return 3;
        case PixelType::Rgba8:
        case PixelType::Rgba16:
            return 4;
    }
    return 4;
}

// 1 or 2.
constexpr uint32_t bytes_per_sample(PixelType type) {
    switch (type) {
        case PixelType::Grey16:
        case PixelType::GreyAlpha16:
        case PixelType::Rgb16:
        case PixelType::Rgba16:
            return 2;
        default:
            return 1;
    }
}

constexpr uint32_t bytes_per_pixel(PixelType type) {
    return channel_count(type) * bytes_per_sample(type);
}

// The X Rendering Extension headers (pulled in with Xft) take the global name Picture for an XID.
namespace img {

// A decoded picture in the decoder's own pixel type. Rows top to bottom without padding, channels
// in the order of the type's name; 16-bit samples are stored in the machine's byte order.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    PixelType type = PixelType::Rgba8;
    std::vector<uint8_t> samples;
};

}  // namespace img

enum class PictureError {
    Io,            // the file cannot be opened or read
    Unsupported,   // the extension names no supported format
    Unrecognised,  // no extension, and the first bytes are neither PNG nor JPEG
    Decode,        // not a valid picture (corrupt, truncated, hostile)
    TooLarge,      // the samples, or the memory to stream them, would be too much
};

const char* picture_error_text(PictureError error);

// width x height x bytes per pixel in 64 bits, or TooLarge past MAX_DECODE_BYTES.
inline Result<uint64_t, PictureError> checked_sample_bytes(uint32_t width, uint32_t height,
                                                           PixelType type) {
    // 64 bits: 65536 x 65536 x 4 is 0 in 32 bits and would slip through.
    const uint64_t bytes = uint64_t{width} * uint64_t{height} * uint64_t{bytes_per_pixel(type)};
    if (bytes > MAX_DECODE_BYTES) {
        return Err{PictureError::TooLarge};
    }
    return bytes;
}

// What streaming one picture may use. Tests turn each off to check that the plain path gives the
// same bytes; the avatar's decoding child has no second thread (its filter refuses clone).
struct PictureSwitches {
    bool wide_vectors = true;  // AVX2, where the processor has it
    bool second_thread = true;
};
