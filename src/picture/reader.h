// Reading a picture file through one 8 KiB buffer, and telling its format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fd.h"
#include "picture/pixels.h"
#include "result.h"

inline constexpr size_t READ_BUFFER_SIZE = 8192;

// The decoders take their bytes from here; `read_errno` tells a read error from bad data.
struct Reader {
    int fd = -1;
    uint8_t buffer[READ_BUFFER_SIZE];
    size_t pos = 0;
    size_t len = 0;
    int read_errno = 0;
};

// Refills the buffer from the start; the count read, 0 at the end or on error.
size_t reader_refill(Reader& reader);

// Makes at least `count` unread bytes available unless the file is shorter; how many there are.
size_t reader_peek(Reader& reader, size_t count);

// Io after a read error, otherwise Decode.
PictureError failure_kind(const Reader& reader);

// What a decoder learns from the header.
struct PictureHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    PixelType type = PixelType::Rgb8;
};

// The decoder's full-width rows: libpng keeps the previous and the current one and the reader
// takes one more (libjpeg needs fewer: its rows are at most 65535 pixels).
inline uint64_t decoder_row_bytes(const PictureHeader& header) {
    return 3 * (uint64_t{header.width} * bytes_per_pixel(header.type) + 1);
}

enum class PictureFormat { Png, Jpeg };

// The part of the last path component after its last "."; none when that component has no "."
// or its only "." is the first character (".face", ".png").
std::optional<std::string_view> file_extension(std::string_view path);

// PNG for "png", JPEG for "jpg" and "jpeg", ignoring ASCII case.
std::optional<PictureFormat> format_for_extension(std::string_view extension);

// By the extension of `name` when it has one, else by the first bytes (left unread).
Result<PictureFormat, PictureError> sniff_format(Reader& reader, std::string_view name);

// Only regular files, opened without waiting.
Result<UniqueFd, PictureError> open_for_reading(const std::string& path);
