#include "picture/jpeg_decoder.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

// Real photographs have about ten scans; thousands of tiny ones would pin the greeter. Every scan
// walks the blocks of its components, so large pictures get fewer: at most about a second.
constexpr int MIN_JPEG_SCAN_CAP = 16;
constexpr int MAX_JPEG_SCAN_CAP = 100;
constexpr uint64_t JPEG_SCAN_BLOCK_BUDGET = uint64_t{64} << 20;

// libjpeg's default error_exit ends the process.
[[noreturn]] void jpeg_error_jump(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<JpegErrorManager*>(cinfo->err)->jump, 1);
}

void jpeg_silent_output(j_common_ptr) {}

void jpeg_progress(j_common_ptr cinfo) {
    auto* dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > reinterpret_cast<JpegProgress*>(cinfo->progress)->max_scans) {
        jpeg_error_jump(cinfo);
    }
}

void jpeg_source_init(j_decompress_ptr) {}
void jpeg_source_term(j_decompress_ptr) {}

boolean jpeg_source_fill(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<JpegSource*>(cinfo->src);
    Reader& reader = *source->reader;
    if (reader.pos >= reader.len && reader_refill(reader) == 0) {
        // A truncated file is a broken file, not a grey-padded picture.
        jpeg_error_jump(reinterpret_cast<j_common_ptr>(cinfo));
    }
    source->pub.next_input_byte = reader.buffer + reader.pos;
    source->pub.bytes_in_buffer = reader.len - reader.pos;
    reader.pos = reader.len;
    return TRUE;
}

void jpeg_source_skip(j_decompress_ptr cinfo, long count) {
    if (count <= 0) {
        return;
    }
    jpeg_source_mgr* src = cinfo->src;
    auto remaining = static_cast<size_t>(count);
    while (remaining > src->bytes_in_buffer) {
        remaining -= src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
        jpeg_source_fill(cinfo);
    }
    src->next_input_byte += remaining;
    src->bytes_in_buffer -= remaining;
}

void cmyk_to_rgb(const uint8_t* cmyk, uint8_t* rgb, uint32_t width, bool inverted) {
    for (uint32_t x = 0; x < width; ++x) {
        uint32_t c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        rgb[0] = static_cast<uint8_t>((c * k + 127) / 255);
        rgb[1] = static_cast<uint8_t>((m * k + 127) / 255);
        rgb[2] = static_cast<uint8_t>((y * k + 127) / 255);
        cmyk += 4;
        rgb += 3;
    }
}

// Counts start-of-scan markers (0xFF 0xDA) in the whole file, up to `stop_at`, without moving the
// file offset. Entropy-coded data never holds 0xFF followed by 0xDA, so this counts the scans (and
// those of an embedded thumbnail) before the decoder allocates its coefficient buffer.
uint32_t count_jpeg_scans(int fd, uint32_t stop_at) {
    uint8_t buffer[READ_BUFFER_SIZE];
    uint32_t scans = 0;
    bool after_ff = false;
    off_t offset = 0;
    for (;;) {
        const ssize_t n =
            retry_on_eintr([&] { return ::pread(fd, buffer, sizeof buffer, offset); });
        if (n <= 0) {
            return scans;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (after_ff && buffer[i] == 0xDA && ++scans >= stop_at) {
                return scans;
            }
            after_ff = buffer[i] == 0xFF;
        }
        offset += n;
    }
}

// Only the library call under setjmp: nothing else lives across the jump.
bool read_scanline(JpegDecoder& dec, JSAMPROW row) {
    if (setjmp(dec.err.jump)) {
        return false;
    }
    jpeg_read_scanlines(&dec.cinfo, &row, 1);
    return true;
}

}  // namespace

Result<PictureHeader, PictureError> jpeg_decoder_open(JpegDecoder& dec, Reader& reader) {
    dec.reader = &reader;
    dec.cinfo.err = jpeg_std_error(&dec.err.pub);
    dec.err.pub.error_exit = jpeg_error_jump;
    dec.err.pub.output_message = jpeg_silent_output;
    if (setjmp(dec.err.jump)) {
        return Err{failure_kind(reader)};
    }
    jpeg_create_decompress(&dec.cinfo);
    dec.created = true;
    dec.source.reader = &reader;
    dec.source.pub.init_source = jpeg_source_init;
    dec.source.pub.fill_input_buffer = jpeg_source_fill;
    dec.source.pub.skip_input_data = jpeg_source_skip;
    dec.source.pub.resync_to_restart = jpeg_resync_to_restart;
    dec.source.pub.term_source = jpeg_source_term;
    dec.source.pub.next_input_byte = nullptr;
    dec.source.pub.bytes_in_buffer = 0;
    dec.cinfo.src = &dec.source.pub;
    dec.progress.pub.progress_monitor = jpeg_progress;
    dec.progress.max_scans = MAX_JPEG_SCAN_CAP;
    dec.cinfo.progress = &dec.progress.pub;
    // A progressive file keeps every coefficient: at most twice the 8-bit samples.
    dec.cinfo.mem->max_memory_to_use = static_cast<long>(2 * MAX_DECODE_BYTES + (64 << 20));

    jpeg_read_header(&dec.cinfo, TRUE);
    uint64_t blocks = 0;
    for (int i = 0; i < dec.cinfo.num_components; ++i) {
        blocks += uint64_t{dec.cinfo.comp_info[i].width_in_blocks} *
                  dec.cinfo.comp_info[i].height_in_blocks;
    }
    dec.progress.max_scans = static_cast<int>(
        std::clamp<uint64_t>(JPEG_SCAN_BLOCK_BUDGET / std::max<uint64_t>(blocks, 1),
                             MIN_JPEG_SCAN_CAP, MAX_JPEG_SCAN_CAP));
    // Refused at once rather than after the coefficient buffer (up to a gigabyte) and the first
    // scans; the progress monitor stays the backstop.
    const auto cap = static_cast<uint32_t>(dec.progress.max_scans);
    if (dec.cinfo.progressive_mode && count_jpeg_scans(reader.fd, cap + 1) > cap) {
        return Err{PictureError::Decode};
    }

    PictureHeader header;
    header.width = dec.cinfo.image_width;
    header.height = dec.cinfo.image_height;
    switch (dec.cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            dec.cinfo.out_color_space = JCS_GRAYSCALE;
            header.type = PixelType::Grey8;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            dec.cinfo.out_color_space = JCS_CMYK;
            dec.cmyk = true;
            header.type = PixelType::Rgb8;
            break;
        default:
            dec.cinfo.out_color_space = JCS_RGB;
            header.type = PixelType::Rgb8;
            break;
    }
    if (!checked_sample_bytes(header.width, header.height, header.type).ok()) {
        return Err{PictureError::TooLarge};
    }
    return header;
}

Result<Ok, PictureError> jpeg_decoder_start(JpegDecoder& dec, uint32_t begin) {
    if (setjmp(dec.err.jump)) {
        return Err{failure_kind(*dec.reader)};
    }
    // JPEG widths fit in 16 bits.
    dec.spare_row.resize(size_t{dec.cinfo.image_width} * 4);
    jpeg_start_decompress(&dec.cinfo);
    if (begin > 0) {
        jpeg_skip_scanlines(&dec.cinfo, begin);
    }
    return Ok{};
}

Result<Ok, PictureError> jpeg_decoder_read_row(JpegDecoder& dec, uint8_t* out) {
    if (!read_scanline(dec, dec.cmyk ? dec.spare_row.data() : out)) {
        return Err{failure_kind(*dec.reader)};
    }
    if (dec.cmyk) {
        cmyk_to_rgb(dec.spare_row.data(), out, dec.cinfo.output_width, dec.cinfo.saw_Adobe_marker);
    }
    return Ok{};
}

Result<Ok, PictureError> jpeg_decoder_finish(JpegDecoder& dec) {
    if (setjmp(dec.err.jump)) {
        return Err{failure_kind(*dec.reader)};
    }
    j_decompress_ptr cinfo = &dec.cinfo;
    // A skip that reaches the last row returns without reading the data it skips, so stop one
    // row short and read that row.
    const JDIMENSION height = cinfo->output_height;
    if (cinfo->output_scanline + 1 < height) {
        jpeg_skip_scanlines(cinfo, height - 1 - cinfo->output_scanline);
    }
    if (cinfo->output_scanline < height) {
        JSAMPROW row = dec.spare_row.data();
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    return Ok{};
}
