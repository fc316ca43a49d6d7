#include "picture/png_decoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// Ancillary chunks that are never used. libpng would read each whole into memory, at whatever
// length it declares (a hundred-byte file may claim 2 GiB); handled as unknown, they are skipped.
// Five bytes an entry: the name and a NUL.
constexpr png_byte PNG_SKIPPED_CHUNKS[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0"
    "tIME\0zTXt";
constexpr int PNG_SKIPPED_CHUNK_COUNT = sizeof PNG_SKIPPED_CHUNKS / 5;

// libpng's default error handler prints to standard error.
[[noreturn]] void png_error_jump(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void png_warning_silent(png_structp, png_const_charp) {}

void png_read_from(png_structp png, png_bytep out, size_t length) {
    Reader& reader = *static_cast<Reader*>(png_get_io_ptr(png));
    while (length > 0) {
        if (reader.pos >= reader.len && reader_refill(reader) == 0) {
            png_error(png, "unexpected end of file");
        }
        size_t n = std::min(length, reader.len - reader.pos);
        std::memcpy(out, reader.buffer + reader.pos, n);
        reader.pos += n;
        out += n;
        length -= n;
    }
}

// The pixel type the expansion below gives for a file's colour type and bit depth.
PixelType png_expanded_type(int color_type, int bit_depth, bool has_trns) {
    const bool wide = bit_depth == 16;
    switch (color_type) {
        case PNG_COLOR_TYPE_PALETTE:
            return has_trns ? PixelType::Rgba8 : PixelType::Rgb8;
        case PNG_COLOR_TYPE_GRAY:
            if (has_trns) {
                return wide ? PixelType::GreyAlpha16 : PixelType::GreyAlpha8;
            }
            return wide ? PixelType::Grey16 : PixelType::Grey8;
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return wide ? PixelType::GreyAlpha16 : PixelType::GreyAlpha8;
        case PNG_COLOR_TYPE_RGB:
            if (has_trns) {
                return wide ? PixelType::Rgba16 : PixelType::Rgba8;
            }
            return wide ? PixelType::Rgb16 : PixelType::Rgb8;
        default:
            return wide ? PixelType::Rgba16 : PixelType::Rgba8;
    }
}

}  // namespace

Result<PictureHeader, PictureError> png_decoder_open(PngDecoder& dec, Reader& reader) {
    dec.reader = &reader;
    dec.png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_jump, png_warning_silent);
    if (dec.png == nullptr) {
        return Err{PictureError::Decode};
    }
    dec.info = png_create_info_struct(dec.png);
    if (dec.info == nullptr) {
        return Err{PictureError::Decode};
    }
    if (setjmp(png_jmpbuf(dec.png))) {
        return Err{failure_kind(reader)};
    }
    png_set_read_fn(dec.png, &reader, png_read_from);
    // The sample limit decides, not libpng's own width and height limits.
    png_set_user_limits(dec.png, 0x7fffffff, 0x7fffffff);
    png_set_keep_unknown_chunks(dec.png, PNG_HANDLE_CHUNK_NEVER, PNG_SKIPPED_CHUNKS,
                                PNG_SKIPPED_CHUNK_COUNT);
    png_read_info(dec.png, dec.info);

    const int color_type = png_get_color_type(dec.png, dec.info);
    const int bit_depth = png_get_bit_depth(dec.png, dec.info);
    const bool has_trns = png_get_valid(dec.png, dec.info, PNG_INFO_tRNS) != 0;
    if (color_type == PNG_COLOR_TYPE_PALETTE || bit_depth < 8 || has_trns) {
        png_set_expand(dec.png);
    }
    if (bit_depth == 16 && std::endian::native == std::endian::little) {
        png_set_swap(dec.png);
    }
    dec.interlaced = png_get_interlace_type(dec.png, dec.info) != PNG_INTERLACE_NONE;
    if (dec.interlaced) {
        dec.passes = png_set_interlace_handling(dec.png);
    }
    PictureHeader& header = dec.header;
    header.width = png_get_image_width(dec.png, dec.info);
    header.height = png_get_image_height(dec.png, dec.info);
    header.type = png_expanded_type(color_type, bit_depth, has_trns);
    // libpng allocates its rows for the declared width when it starts: a tiny file claiming a
    // width of two billion must be refused before that, from the header alone. Those rows count
    // towards the limit too: a single row of 117 million pixels is within it by its samples alone.
    const auto samples = checked_sample_bytes(header.width, header.height, header.type);
    if (!samples.ok() || samples.value() + decoder_row_bytes(header) > MAX_DECODE_BYTES) {
        return Err{PictureError::TooLarge};
    }
    dec.row_bytes = size_t{header.width} * bytes_per_pixel(header.type);
    return header;
}

Result<Ok, PictureError> png_decoder_start(PngDecoder& dec, uint32_t begin) {
    dec.begin = begin;
    if (setjmp(png_jmpbuf(dec.png))) {
        return Err{failure_kind(*dec.reader)};
    }
    png_read_update_info(dec.png, dec.info);
    if (png_get_rowbytes(dec.png, dec.info) != dec.row_bytes ||
        png_get_channels(dec.png, dec.info) != channel_count(dec.header.type) ||
        png_get_bit_depth(dec.png, dec.info) != 8 * bytes_per_sample(dec.header.type)) {
        return Err{PictureError::Decode};
    }
    if (!dec.interlaced) {
        dec.scratch.resize(dec.row_bytes);
        return Ok{};
    }
    // Pass by pass and row by row, as png_read_image does, but without its table of row
    // pointers: eight bytes a row, eight times the picture itself when it is one pixel wide.
    // The size was checked.
    dec.scratch.resize(dec.row_bytes * dec.header.height);
    for (int pass = 0; pass < dec.passes; ++pass) {
        for (uint32_t y = 0; y < dec.header.height; ++y) {
            png_read_row(dec.png, dec.scratch.data() + dec.row_bytes * y, nullptr);
        }
    }
    dec.next_row = begin;
    return Ok{};
}

Result<Ok, PictureError> png_decoder_read_row(PngDecoder& dec, uint8_t* out) {
    if (dec.interlaced) {
        std::memcpy(out, dec.scratch.data() + dec.row_bytes * dec.next_row++, dec.row_bytes);
        return Ok{};
    }
    if (setjmp(png_jmpbuf(dec.png))) {
        return Err{failure_kind(*dec.reader)};
    }
    for (; dec.next_row < dec.begin; ++dec.next_row) {
        png_read_row(dec.png, dec.scratch.data(), nullptr);
    }
    png_read_row(dec.png, out, nullptr);
    ++dec.next_row;
    return Ok{};
}

Result<Ok, PictureError> png_decoder_finish(PngDecoder& dec) {
    if (dec.interlaced) {
        return Ok{};
    }
    if (setjmp(png_jmpbuf(dec.png))) {
        return Err{failure_kind(*dec.reader)};
    }
    for (; dec.next_row < dec.header.height; ++dec.next_row) {
        png_read_row(dec.png, dec.scratch.data(), nullptr);
    }
    return Ok{};
}
