#include "background.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#include <dirent.h>
#include <fcntl.h>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "log.h"
#include "text.h"
#include "ui.h"

// ---------------------------------------------------------------------------------------------
// Pixel types, errors, format rules

uint32_t channel_count(PixelType type) {
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

uint32_t bytes_per_sample(PixelType type) {
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

uint32_t bytes_per_pixel(PixelType type) {
    return channel_count(type) * bytes_per_sample(type);
}

const char* picture_error_text(PictureError error) {
    switch (error) {
        case PictureError::Io:
            return "the file cannot be read";
        case PictureError::Unsupported:
            return "the format is not supported";
        case PictureError::Unrecognised:
            return "the format is not recognised";
        case PictureError::Decode:
            return "the data is not a valid picture";
        case PictureError::TooLarge:
            return "the picture is too large";
    }
    return "unknown picture error";
}

std::optional<std::string_view> file_extension(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    return name.substr(dot + 1);
}

namespace {

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<PictureFormat> format_for_extension(std::string_view extension) {
    if (equals_ignoring_ascii_case(extension, "png")) {
        return PictureFormat::Png;
    }
    if (equals_ignoring_ascii_case(extension, "jpg") ||
        equals_ignoring_ascii_case(extension, "jpeg")) {
        return PictureFormat::Jpeg;
    }
    return std::nullopt;
}

Result<uint64_t, PictureError> checked_sample_bytes(uint32_t width, uint32_t height,
                                                    PixelType type) {
    // 64 bits: 65536 x 65536 x 4 is 0 in 32 bits and would slip through.
    uint64_t bytes = uint64_t{width} * uint64_t{height} * uint64_t{bytes_per_pixel(type)};
    if (bytes > MAX_DECODE_BYTES) {
        return Err{PictureError::TooLarge};
    }
    return bytes;
}

namespace {

// ---------------------------------------------------------------------------------------------
// Reading the file through one 8 KiB buffer

constexpr size_t READ_BUFFER_SIZE = 8192;

struct Reader {
    int fd = -1;
    uint8_t buffer[READ_BUFFER_SIZE];
    size_t pos = 0;
    size_t len = 0;
    int read_errno = 0;
};

// Refills the buffer from the start; the count read, 0 at the end or on error.
size_t reader_refill(Reader& reader) {
    reader.pos = 0;
    reader.len = 0;
    for (;;) {
        ssize_t n = ::read(reader.fd, reader.buffer, READ_BUFFER_SIZE);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reader.read_errno = errno;
            return 0;
        }
        reader.len = static_cast<size_t>(n);
        return reader.len;
    }
}

// Makes at least `count` unread bytes available unless the file is shorter; how many there are.
size_t reader_peek(Reader& reader, size_t count) {
    if (reader.pos > 0) {
        std::memmove(reader.buffer, reader.buffer + reader.pos, reader.len - reader.pos);
        reader.len -= reader.pos;
        reader.pos = 0;
    }
    while (reader.len < count) {
        ssize_t n = ::read(reader.fd, reader.buffer + reader.len, READ_BUFFER_SIZE - reader.len);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            reader.read_errno = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        reader.len += static_cast<size_t>(n);
    }
    return reader.len;
}

PictureError failure_kind(const Reader& reader) {
    return reader.read_errno != 0 ? PictureError::Io : PictureError::Decode;
}

struct PictureHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    PixelType type = PixelType::Rgb8;
};

// ---------------------------------------------------------------------------------------------
// JPEG through libjpeg(-turbo)

// Real photographs have about ten scans; thousands of tiny ones would pin the greeter. Every scan
// walks the blocks of its components, so large pictures get fewer: at most about a second.
constexpr int MIN_JPEG_SCAN_CAP = 16;
constexpr int MAX_JPEG_SCAN_CAP = 100;
constexpr uint64_t JPEG_SCAN_BLOCK_BUDGET = uint64_t{64} << 20;

struct JpegProgress {
    jpeg_progress_mgr pub;
    int max_scans;
};

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

struct JpegSource {
    jpeg_source_mgr pub;
    Reader* reader;
};

struct JpegDecoder {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    JpegSource source;
    JpegProgress progress;
    bool created = false;
    bool cmyk = false;
    // One row of the decoder's own output: CMYK before conversion, or a row nobody wants.
    std::vector<uint8_t> spare_row;

    JpegDecoder() = default;
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;
    ~JpegDecoder() {
        if (created) {
            jpeg_destroy_decompress(&cinfo);
        }
    }
};

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

// Counts start-of-scan markers (0xFF 0xDA) in the whole file, up to `stop_at`, without moving the
// file offset. Entropy-coded data never holds 0xFF followed by 0xDA, so this counts the scans
// (and those of an embedded thumbnail) before the decoder allocates its coefficient buffer.
uint32_t count_jpeg_scans(int fd, uint32_t stop_at) {
    uint8_t buffer[READ_BUFFER_SIZE];
    uint32_t scans = 0;
    bool after_ff = false;
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0 && errno == EINTR) {
            continue;
        }
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

// Returns the header or the error; on success the decoder is ready to give rows.
Result<PictureHeader, PictureError> jpeg_open(JpegDecoder& dec, Reader& reader) {
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
    // JPEG widths fit in 16 bits.
    dec.spare_row.resize(size_t{header.width} * 4);
    jpeg_start_decompress(&dec.cinfo);
    return header;
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

// Hands rows [begin, end) to the sink and skips the others without colour conversion; reads to
// the end so a damaged tail fails the same way whatever part is shown.
template <typename Sink>
Result<Ok, PictureError> jpeg_read_rows(JpegDecoder& dec, Reader& reader, uint32_t begin,
                                        uint32_t end, Sink& sink) {
    if (setjmp(dec.err.jump)) {
        return Err{failure_kind(reader)};
    }
    j_decompress_ptr cinfo = &dec.cinfo;
    if (begin > 0) {
        jpeg_skip_scanlines(cinfo, begin);
    }
    while (cinfo->output_scanline < end) {
        JSAMPROW row = dec.cmyk ? dec.spare_row.data() : sink.row_buffer();
        jpeg_read_scanlines(cinfo, &row, 1);
        if (dec.cmyk) {
            cmyk_to_rgb(dec.spare_row.data(), sink.row_buffer(), cinfo->output_width,
                        cinfo->saw_Adobe_marker);
        }
        sink.row_done();
    }
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

// ---------------------------------------------------------------------------------------------
// PNG through libpng

// Ancillary chunks that are never used. libpng would read each whole into memory, at whatever
// length it declares (a hundred-byte file may claim 2 GiB); handled as unknown, they are skipped.
// Five bytes an entry: the name and a NUL.
constexpr png_byte PNG_SKIPPED_CHUNKS[] =
    "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0"
    "tIME\0zTXt";
constexpr int PNG_SKIPPED_CHUNK_COUNT = sizeof PNG_SKIPPED_CHUNKS / 5;

struct PngDecoder {
    png_structp png = nullptr;
    png_infop info = nullptr;
    bool interlaced = false;
    int passes = 1;
    size_t row_bytes = 0;
    std::vector<uint8_t> scratch;

    PngDecoder() = default;
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;
    ~PngDecoder() {
        if (png != nullptr) {
            png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        }
    }
};

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

Result<PictureHeader, PictureError> png_open(PngDecoder& dec, Reader& reader) {
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

    int color_type = png_get_color_type(dec.png, dec.info);
    int bit_depth = png_get_bit_depth(dec.png, dec.info);
    if (color_type == PNG_COLOR_TYPE_PALETTE || bit_depth < 8 ||
        png_get_valid(dec.png, dec.info, PNG_INFO_tRNS)) {
        png_set_expand(dec.png);
    }
    if (bit_depth == 16 && std::endian::native == std::endian::little) {
        png_set_swap(dec.png);
    }
    dec.interlaced = png_get_interlace_type(dec.png, dec.info) != PNG_INTERLACE_NONE;
    if (dec.interlaced) {
        dec.passes = png_set_interlace_handling(dec.png);
    }
    // png_read_update_info allocates row buffers for the declared width: a tiny file claiming
    // a width of two billion must be refused before that, from the header alone. Those rows
    // (libpng keeps the previous and the current one, and the reader one more) count towards the
    // limit too: a single row of 117 million pixels is within it by its samples alone.
    const uint32_t declared_width = png_get_image_width(dec.png, dec.info);
    const PixelType declared_type =
        png_expanded_type(color_type, bit_depth, png_get_valid(dec.png, dec.info, PNG_INFO_tRNS));
    const auto samples = checked_sample_bytes(
        declared_width, png_get_image_height(dec.png, dec.info), declared_type);
    const uint64_t working_rows =
        3 * (uint64_t{declared_width} * bytes_per_pixel(declared_type) + 1);
    if (!samples.ok() || samples.value() + working_rows > MAX_DECODE_BYTES) {
        return Err{PictureError::TooLarge};
    }
    png_read_update_info(dec.png, dec.info);

    PictureHeader header;
    header.width = png_get_image_width(dec.png, dec.info);
    header.height = png_get_image_height(dec.png, dec.info);
    bool wide = png_get_bit_depth(dec.png, dec.info) == 16;
    switch (png_get_channels(dec.png, dec.info)) {
        case 1:
            header.type = wide ? PixelType::Grey16 : PixelType::Grey8;
            break;
        case 2:
            header.type = wide ? PixelType::GreyAlpha16 : PixelType::GreyAlpha8;
            break;
        case 3:
            header.type = wide ? PixelType::Rgb16 : PixelType::Rgb8;
            break;
        case 4:
            header.type = wide ? PixelType::Rgba16 : PixelType::Rgba8;
            break;
        default:
            return Err{PictureError::Decode};
    }
    if (!checked_sample_bytes(header.width, header.height, header.type).ok()) {
        return Err{PictureError::TooLarge};
    }
    dec.row_bytes = size_t{header.width} * bytes_per_pixel(header.type);
    if (png_get_rowbytes(dec.png, dec.info) != dec.row_bytes) {
        return Err{PictureError::Decode};
    }
    return header;
}

// Every row is inflated (the format allows no skipping); only rows [begin, end) reach the sink.
template <typename Sink>
Result<Ok, PictureError> png_read_rows(PngDecoder& dec, Reader& reader, uint32_t height,
                                       uint32_t begin, uint32_t end, Sink& sink) {
    if (dec.interlaced) {
        // Adam7 needs the whole picture before any row is final; the size was checked.
        dec.scratch.resize(dec.row_bytes * height);
    } else {
        dec.scratch.resize(dec.row_bytes);
    }
    if (setjmp(png_jmpbuf(dec.png))) {
        return Err{failure_kind(reader)};
    }
    if (dec.interlaced) {
        // Pass by pass and row by row, as png_read_image does, but without its table of row
        // pointers: eight bytes a row, eight times the picture itself when it is one pixel wide.
        for (int pass = 0; pass < dec.passes; ++pass) {
            for (uint32_t y = 0; y < height; ++y) {
                png_read_row(dec.png, dec.scratch.data() + dec.row_bytes * y, nullptr);
            }
        }
        for (uint32_t y = begin; y < end; ++y) {
            std::memcpy(sink.row_buffer(), dec.scratch.data() + dec.row_bytes * y, dec.row_bytes);
            sink.row_done();
        }
        return Ok{};
    }
    for (uint32_t y = 0; y < height; ++y) {
        bool wanted = y >= begin && y < end;
        png_read_row(dec.png, wanted ? sink.row_buffer() : dec.scratch.data(), nullptr);
        if (wanted) {
            sink.row_done();
        }
    }
    return Ok{};
}

// ---------------------------------------------------------------------------------------------
// One opened picture file, either format

struct Decoder {
    Reader reader;
    PictureFormat format = PictureFormat::Png;
    PictureHeader header;
    JpegDecoder jpeg;
    PngDecoder png;
};

Result<PictureHeader, PictureError> decoder_open(Decoder& dec, int fd, std::string_view name) {
    dec.reader.fd = fd;
    if (std::optional<std::string_view> extension = file_extension(name)) {
        std::optional<PictureFormat> format = format_for_extension(*extension);
        if (!format) {
            return Err{PictureError::Unsupported};
        }
        dec.format = *format;
    } else {
        static constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 0x50, 0x4E, 0x47,
                                                     0x0D, 0x0A, 0x1A, 0x0A};
        size_t have = reader_peek(dec.reader, sizeof PNG_SIGNATURE);
        if (dec.reader.read_errno != 0) {
            return Err{PictureError::Io};
        }
        if (have >= 8 && std::memcmp(dec.reader.buffer, PNG_SIGNATURE, 8) == 0) {
            dec.format = PictureFormat::Png;
        } else if (have >= 2 && dec.reader.buffer[0] == 0xFF && dec.reader.buffer[1] == 0xD8) {
            dec.format = PictureFormat::Jpeg;
        } else {
            return Err{PictureError::Unrecognised};
        }
    }
    Result<PictureHeader, PictureError> header = dec.format == PictureFormat::Jpeg
                                                     ? jpeg_open(dec.jpeg, dec.reader)
                                                     : png_open(dec.png, dec.reader);
    if (header.ok()) {
        dec.header = header.value();
    }
    return header;
}

template <typename Sink>
Result<Ok, PictureError> decoder_read_rows(Decoder& dec, uint32_t begin, uint32_t end, Sink& sink) {
    if (dec.format == PictureFormat::Jpeg) {
        return jpeg_read_rows(dec.jpeg, dec.reader, begin, end, sink);
    }
    return png_read_rows(dec.png, dec.reader, dec.header.height, begin, end, sink);
}

// Collects every row into a Picture.
struct PictureSink {
    img::Picture* picture;
    size_t row_bytes;
    size_t next_row = 0;

    uint8_t* row_buffer() { return picture->samples.data() + row_bytes * next_row; }
    void row_done() { ++next_row; }
};

// ---------------------------------------------------------------------------------------------
// The triangle resampler, streamed row by row

float triangle(float x) {
    float a = std::fabs(x);
    return a < 1.0f ? 1.0f - a : 0.0f;
}

// For each output index of a region along one axis: the source indices with non-zero weight and
// their normalised weights. Weights that come out zero only ever add +0 to a non-negative sum,
// so dropping them keeps every result bit for bit.
struct AxisTaps {
    std::vector<uint32_t> first;
    std::vector<uint32_t> count;
    std::vector<uint32_t> offset;
    std::vector<float> weights;
    uint32_t max_count = 0;
    uint32_t source_begin = 0;
    uint32_t source_end = 0;
};

AxisTaps axis_taps(uint32_t source_length, uint32_t target_length, uint32_t region_begin,
                   uint32_t region_length) {
    AxisTaps taps;
    taps.first.reserve(region_length);
    taps.count.reserve(region_length);
    taps.offset.reserve(region_length);
    const float ratio = static_cast<float>(source_length) / static_cast<float>(target_length);
    const float support = ratio < 1.0f ? 1.0f : ratio;
    const int64_t n = source_length;
    std::vector<float> window;
    for (uint32_t k = 0; k < region_length; ++k) {
        const uint32_t i = region_begin + k;
        const float centre = (static_cast<float>(i) + 0.5f) * ratio;
        int64_t left = static_cast<int64_t>(std::floor(centre - support));
        left = std::clamp<int64_t>(left, 0, n - 1);
        int64_t right = static_cast<int64_t>(std::ceil(centre + support));
        right = std::clamp<int64_t>(right, left + 1, n);
        const float origin = centre - 0.5f;

        window.clear();
        float sum = 0.0f;
        for (int64_t j = left; j < right; ++j) {
            float w = triangle((static_cast<float>(j) - origin) / support);
            window.push_back(w);
            sum += w;
        }
        for (float& w : window) {
            w /= sum;
        }
        size_t lo = 0;
        size_t hi = window.size();
        while (lo < hi && window[lo] == 0.0f) {
            ++lo;
        }
        while (hi > lo && window[hi - 1] == 0.0f) {
            --hi;
        }
        if (lo == hi) {
            // Unreachable for a triangle of support >= 1; keep the nearest sample rather than
            // divide by nothing.
            lo = static_cast<size_t>(
                std::clamp<int64_t>(static_cast<int64_t>(std::floor(centre)), left, right - 1) -
                left);
            hi = lo + 1;
            window[lo] = 1.0f;
        }
        taps.first.push_back(static_cast<uint32_t>(left + static_cast<int64_t>(lo)));
        taps.count.push_back(static_cast<uint32_t>(hi - lo));
        taps.offset.push_back(static_cast<uint32_t>(taps.weights.size()));
        taps.weights.insert(taps.weights.end(), window.begin() + static_cast<ptrdiff_t>(lo),
                            window.begin() + static_cast<ptrdiff_t>(hi));
        taps.max_count = std::max(taps.max_count, static_cast<uint32_t>(hi - lo));
    }
    if (region_length > 0) {
        taps.source_begin = taps.first.front();
        taps.source_end = taps.first.back() + taps.count.back();
    }
    return taps;
}

// What the resampler's weight tables and row ring will take, estimated before any is built. The
// shape is only kept by the cover, not by the avatar's squeeze: a 40000000 x 1 picture squeezed
// to 96 x 96 would need gigabytes of weights.
constexpr uint64_t MAX_RESAMPLER_BYTES = uint64_t{256} << 20;

bool second_thread_allowed = true;

// Rows the decoder may run ahead of the resampler when both work at once.
constexpr uint32_t PIPELINE_AHEAD_ROWS = 16;
constexpr uint32_t PIPELINE_WAKE_ROWS = 8;

uint64_t resampler_bytes(uint32_t source_width, uint32_t source_height, uint32_t channels,
                         uint32_t sample_bytes, uint32_t target_width, uint32_t target_height,
                         uint32_t width, uint32_t height) {
    auto taps = [](uint32_t n, uint32_t m) {
        const double ratio = static_cast<double>(n) / static_cast<double>(m);
        return static_cast<uint64_t>(2.0 * std::max(ratio, 1.0)) + 3;
    };
    const uint64_t column_taps = taps(source_width, target_width);
    const uint64_t row_taps = taps(source_height, target_height);
    // Column weights are kept three times over (plain, padded, paired); the ring holds two
    // windows of whole source rows with their padding, or one and the rows read ahead.
    return uint64_t{width} * column_taps * 4 * 6 + uint64_t{height} * row_taps * 4 * 2 +
           (2 * row_taps + PIPELINE_AHEAD_ROWS) * (uint64_t{source_width} * channels + 2 * 32) *
               sample_bytes;
}

// Computes the region [x0, x0 + width) x [y0, y0 + height) of the source resampled to
// target_width x target_height. Source rows arrive in order into a ring just deep enough for one
// output row; an output row is made as soon as its last source row is in. The column pass works
// on blocks of BLOCK samples held in registers across all its taps, so each source sample is
// read once per tap and each float written once.
constexpr size_t BLOCK = 32;

size_t round_up(size_t n, size_t to) {
    return (n + to - 1) / to * to;
}

bool have_avx2();

template <typename T>
struct Resampler {
    uint32_t channels = 0;
    AxisTaps rows;
    AxisTaps cols;  // weights at a fixed stride of cols.max_count, zero-padded
    size_t row_stride = 0;
    uint32_t ring_rows = 0;
    std::vector<T> ring;
    std::vector<const T*> tap_rows;
    uint32_t next_source_row = 0;
    uint32_t next_output_row = 0;
    size_t middle_samples = 0;
    std::vector<float> middle;
    // For the two-pixel row pass: per pair of output pixels and tap, four copies of each weight.
    std::vector<float> pair_weights;
    std::vector<T> output;
};

// Gives every window the same number of weights: the row pass then runs a fixed count of taps
// and never mispredicts its loop. Extra zero weights add +0 to a non-negative sum: no bit
// changes.
void pad_taps(AxisTaps& taps) {
    const uint32_t stride = taps.max_count;
    std::vector<float> padded(taps.first.size() * stride, 0.0f);
    for (size_t i = 0; i < taps.first.size(); ++i) {
        std::copy_n(taps.weights.begin() + taps.offset[i], taps.count[i],
                    padded.begin() + static_cast<ptrdiff_t>(i * stride));
        taps.offset[i] = static_cast<uint32_t>(i * stride);
    }
    taps.weights = std::move(padded);
}

template <typename T>
void resampler_init(Resampler<T>& rs, uint32_t source_width, uint32_t source_height,
                    uint32_t channels, uint32_t target_width, uint32_t target_height, uint32_t x0,
                    uint32_t y0, uint32_t width, uint32_t height, bool pipelined = false) {
    rs.channels = channels;
    rs.rows = axis_taps(source_height, target_height, y0, height);
    rs.cols = axis_taps(source_width, target_width, x0, width);
    pad_taps(rs.cols);
    // Blocks may run past the row's end into zeros; never past the ring.
    rs.row_stride = round_up(size_t{source_width} * channels, BLOCK) + BLOCK;
    // Room for a window being read and for the decoder to fill the next one meanwhile.
    rs.ring_rows = std::max<uint32_t>(rs.rows.max_count, 1);
    if (pipelined) {
        rs.ring_rows += std::max(rs.ring_rows, PIPELINE_AHEAD_ROWS);
    }
    rs.ring.assign(rs.row_stride * rs.ring_rows, 0);
    rs.tap_rows.resize(rs.ring_rows);
    rs.next_source_row = rs.rows.source_begin;
    rs.next_output_row = 0;
    rs.middle_samples =
        round_up(size_t{rs.cols.source_end - rs.cols.source_begin} * channels, BLOCK);
    // The padded taps and the four-lane loads of RGB pixels read a little past the end.
    rs.middle.assign(rs.middle_samples + size_t{rs.cols.max_count + 1} * channels + 4, 0.0f);
    rs.output.resize(size_t{width} * channels);
    if (channels >= 3 && have_avx2()) {
        const uint32_t taps = rs.cols.max_count;
        rs.pair_weights.resize(size_t{width / 2} * taps * 8);
        for (size_t pair = 0; pair < width / 2; ++pair) {
            for (uint32_t t = 0; t < taps; ++t) {
                float* lanes = rs.pair_weights.data() + (pair * taps + t) * 8;
                std::fill_n(lanes, 4, rs.cols.weights[(2 * pair) * taps + t]);
                std::fill_n(lanes + 4, 4, rs.cols.weights[(2 * pair + 1) * taps + t]);
            }
        }
    }
}

// Where the decoder writes the next source row.
template <typename T>
uint8_t* resampler_slot(Resampler<T>& rs) {
    return reinterpret_cast<uint8_t*>(rs.ring.data() +
                                      rs.row_stride * (rs.next_source_row % rs.ring_rows));
}

// Starting from the first product instead of 0 + product is exact: every product is a
// non-negative finite float.
template <typename T>
void column_pass_plain(float* __restrict out, const T* const* rows, const float* weights,
                       uint32_t count, size_t samples) {
    const T* __restrict first = rows[0];
    const float w0 = weights[0];
    for (size_t i = 0; i < samples; ++i) {
        out[i] = static_cast<float>(first[i]) * w0;
    }
    for (uint32_t t = 1; t < count; ++t) {
        const T* __restrict row = rows[t];
        const float w = weights[t];
        for (size_t i = 0; i < samples; ++i) {
            out[i] += static_cast<float>(row[i]) * w;
        }
    }
}

#if defined(__x86_64__)

__attribute__((target("avx2"))) inline __m256 load8(const uint8_t* p) {
    return _mm256_cvtepi32_ps(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}

__attribute__((target("avx2"))) inline __m256 load8(const uint16_t* p) {
    return _mm256_cvtepi32_ps(
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}

// The same sums block by block, kept in registers across the taps. Wider vectors give the same
// bits: each lane is the same IEEE multiply and add, never fused.
template <typename T>
__attribute__((target("avx2"))) void column_pass_avx2(float* out, const T* const* rows,
                                                      const float* weights, uint32_t count,
                                                      size_t samples) {
    static_assert(BLOCK == 32);
    for (size_t e = 0; e < samples; e += BLOCK) {
        const T* row = rows[0] + e;
        __m256 w = _mm256_set1_ps(weights[0]);
        __m256 a0 = _mm256_mul_ps(load8(row), w);
        __m256 a1 = _mm256_mul_ps(load8(row + 8), w);
        __m256 a2 = _mm256_mul_ps(load8(row + 16), w);
        __m256 a3 = _mm256_mul_ps(load8(row + 24), w);
        for (uint32_t t = 1; t < count; ++t) {
            row = rows[t] + e;
            w = _mm256_set1_ps(weights[t]);
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(load8(row), w));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(load8(row + 8), w));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(load8(row + 16), w));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(load8(row + 24), w));
        }
        _mm256_storeu_ps(out + e, a0);
        _mm256_storeu_ps(out + e + 8, a1);
        _mm256_storeu_ps(out + e + 16, a2);
        _mm256_storeu_ps(out + e + 24, a3);
    }
}

bool wide_vectors_allowed = true;

bool have_avx2() {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 && wide_vectors_allowed;
}

#else

template <typename T>
void column_pass_avx2(float* out, const T* const* rows, const float* weights, uint32_t count,
                      size_t samples) {
    column_pass_plain(out, rows, weights, count, samples);
}

bool wide_vectors_allowed = true;

bool have_avx2() {
    return false;
}

#endif

template <typename T>
void vertical_pass(Resampler<T>& rs, uint32_t out_row) {
    const uint32_t first = rs.rows.first[out_row];
    const uint32_t count = rs.rows.count[out_row];
    const size_t column_offset = size_t{rs.cols.source_begin} * rs.channels;
    for (uint32_t t = 0; t < count; ++t) {
        rs.tap_rows[t] =
            rs.ring.data() + rs.row_stride * ((first + t) % rs.ring_rows) + column_offset;
    }
    const float* weights = rs.rows.weights.data() + rs.rows.offset[out_row];
    if (have_avx2()) {
        column_pass_avx2(rs.middle.data(), rs.tap_rows.data(), weights, count, rs.middle_samples);
    } else {
        column_pass_plain(rs.middle.data(), rs.tap_rows.data(), weights, count, rs.middle_samples);
    }
}

template <typename T>
T round_sample(float value) {
    constexpr float max_value = sizeof(T) == 1 ? 255.0f : 65535.0f;
    float v = value < 0.0f ? 0.0f : (value > max_value ? max_value : value);
    // Half away from zero, like roundf; v - whole is exact for these magnitudes.
    auto whole = static_cast<uint32_t>(v);
    float fraction = v - static_cast<float>(whole);
    return static_cast<T>(whole + (fraction >= 0.5f ? 1u : 0u));
}

// Grey and grey + alpha: plain loops.
template <typename T, uint32_t C>
void horizontal_pass_narrow(Resampler<T>& rs) {
    const float* middle = rs.middle.data();
    T* out = rs.output.data();
    const uint32_t base = rs.cols.source_begin;
    const size_t width = rs.cols.first.size();
    const uint32_t taps = rs.cols.max_count;
    for (size_t x = 0; x < width; ++x) {
        const float* source = middle + size_t{rs.cols.first[x] - base} * C;
        const float* weights = rs.cols.weights.data() + size_t{taps} * x;
        float sum[C] = {};
        for (uint32_t t = 0; t < taps; ++t) {
            const float w = weights[t];
            for (uint32_t c = 0; c < C; ++c) {
                sum[c] += source[t * C + c] * w;
            }
        }
        for (uint32_t c = 0; c < C; ++c) {
            out[x * C + c] = round_sample<T>(sum[c]);
        }
    }
}

typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// Colour: one pixel is one four-lane vector; for RGB the fourth lane carries the next pixel's
// red along and is dropped.
template <typename T, uint32_t C>
void horizontal_pass_colour(Resampler<T>& rs, size_t x_begin) {
    const float* middle = rs.middle.data();
    T* out = rs.output.data();
    const uint32_t base = rs.cols.source_begin;
    const size_t width = rs.cols.first.size();
    const uint32_t taps = rs.cols.max_count;
    constexpr float max_value = sizeof(T) == 1 ? 255.0f : 65535.0f;
    const Float4 zero = {0.0f, 0.0f, 0.0f, 0.0f};
    const Float4 top = {max_value, max_value, max_value, max_value};
    const Float4 half = {0.5f, 0.5f, 0.5f, 0.5f};
    for (size_t x = x_begin; x < width; ++x) {
        const float* source = middle + size_t{rs.cols.first[x] - base} * C;
        const float* weights = rs.cols.weights.data() + size_t{taps} * x;
        Float4 sum = zero;
        for (uint32_t t = 0; t < taps; ++t) {
            Float4 pixel;
            std::memcpy(&pixel, source + C * t, sizeof pixel);
            sum += pixel * weights[t];
        }
        Float4 v = sum < zero ? zero : sum;
        v = v > top ? top : v;
        const Int4 whole = __builtin_convertvector(v, Int4);
        const Float4 fraction = v - __builtin_convertvector(whole, Float4);
        // A true comparison is -1 in every bit of the lane.
        const Int4 rounded = whole - (fraction >= half);
        for (uint32_t c = 0; c < C; ++c) {
            out[x * C + c] = static_cast<T>(rounded[c]);
        }
    }
}

#if defined(__x86_64__)

// The same per-lane arithmetic for two output pixels in one eight-lane vector.
template <typename T, uint32_t C>
__attribute__((target("avx2"))) void horizontal_pass_colour_avx2(Resampler<T>& rs) {
    const float* middle = rs.middle.data();
    T* out = rs.output.data();
    const uint32_t base = rs.cols.source_begin;
    const size_t width = rs.cols.first.size();
    const uint32_t taps = rs.cols.max_count;
    constexpr float max_value = sizeof(T) == 1 ? 255.0f : 65535.0f;
    const __m256 zero = _mm256_setzero_ps();
    const __m256 top = _mm256_set1_ps(max_value);
    const __m256 half = _mm256_set1_ps(0.5f);
    alignas(32) int32_t lanes[8];
    size_t x = 0;
    for (; x + 1 < width; x += 2) {
        const float* left = middle + size_t{rs.cols.first[x] - base} * C;
        const float* right = middle + size_t{rs.cols.first[x + 1] - base} * C;
        const float* weights = rs.pair_weights.data() + (x / 2) * taps * 8;
        __m256 sum = zero;
        for (uint32_t t = 0; t < taps; ++t) {
            const __m256 pixels =
                _mm256_set_m128(_mm_loadu_ps(right + C * t), _mm_loadu_ps(left + C * t));
            sum = _mm256_add_ps(sum, _mm256_mul_ps(pixels, _mm256_loadu_ps(weights + 8 * t)));
        }
        const __m256 v = _mm256_min_ps(_mm256_max_ps(sum, zero), top);
        const __m256i whole = _mm256_cvttps_epi32(v);
        const __m256 fraction = _mm256_sub_ps(v, _mm256_cvtepi32_ps(whole));
        const __m256i up = _mm256_castps_si256(_mm256_cmp_ps(fraction, half, _CMP_GE_OQ));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), _mm256_sub_epi32(whole, up));
        for (uint32_t c = 0; c < C; ++c) {
            out[x * C + c] = static_cast<T>(lanes[c]);
            out[(x + 1) * C + c] = static_cast<T>(lanes[4 + c]);
        }
    }
    horizontal_pass_colour<T, C>(rs, x);
}

#else

template <typename T, uint32_t C>
void horizontal_pass_colour_avx2(Resampler<T>& rs) {
    horizontal_pass_colour<T, C>(rs, 0);
}

#endif

// The source row after the last one that output row `row` reads.
template <typename T>
uint32_t rows_needed_for(const Resampler<T>& rs, uint32_t row) {
    return rs.rows.first[row] + rs.rows.count[row];
}

template <typename T>
uint32_t output_row_count(const Resampler<T>& rs) {
    return static_cast<uint32_t>(rs.rows.first.size());
}

// Makes the next output row from the rows in the ring and hands it to `emit`.
template <typename T, typename Emit>
void resampler_emit_row(Resampler<T>& rs, Emit& emit) {
    vertical_pass(rs, rs.next_output_row);
    switch (rs.channels) {
        case 1:
            horizontal_pass_narrow<T, 1>(rs);
            break;
        case 2:
            horizontal_pass_narrow<T, 2>(rs);
            break;
        case 3:
            rs.pair_weights.empty() ? horizontal_pass_colour<T, 3>(rs, 0)
                                    : horizontal_pass_colour_avx2<T, 3>(rs);
            break;
        default:
            rs.pair_weights.empty() ? horizontal_pass_colour<T, 4>(rs, 0)
                                    : horizontal_pass_colour_avx2<T, 4>(rs);
            break;
    }
    emit(rs.output.data());
    ++rs.next_output_row;
}

// Takes the row just written into resampler_slot and emits every output row it completes.
template <typename T, typename Emit>
void resampler_commit(Resampler<T>& rs, Emit& emit) {
    const uint32_t y = rs.next_source_row++;
    while (rs.next_output_row < output_row_count(rs) &&
           rows_needed_for(rs, rs.next_output_row) <= y + 1) {
        resampler_emit_row(rs, emit);
    }
}

// Decoder rows go straight into the resampler's ring.
template <typename T, typename Emit>
struct ResamplerSink {
    Resampler<T>* rs;
    Emit* emit;

    uint8_t* row_buffer() { return resampler_slot(*rs); }
    void row_done() { resampler_commit(*rs, *emit); }
};

// The decoder fills the ring on the calling thread while a second thread resamples the rows
// already in it: on two cores the resampling then costs next to no wall time. The arithmetic is
// the same, so the bytes are too.
template <typename T, typename Emit>
struct PipelinedSink {
    Resampler<T>* rs;
    Emit* emit;
    std::mutex mutex;
    std::condition_variable changed;
    // Source rows below rs->next_source_row are in the ring; the decoder moves it under `mutex`.
    uint32_t oldest_needed = 0;  // source rows below this are no longer read
    bool input_ended = false;    // the decoder has stopped, at the end or on a failure
    bool output_done = false;    // every output row was emitted
    // Who sleeps on `changed`: a wake-up for every row would cost a system call per row.
    uint32_t worker_needs = 0;  // the next_source_row the resampler waits for; 0 when it runs
    bool decoder_waits = false;
    std::thread worker;

    PipelinedSink(Resampler<T>& resampler, Emit& emitter)
        : rs(&resampler), emit(&emitter), oldest_needed(resampler.rows.source_begin) {}
    PipelinedSink(const PipelinedSink&) = delete;
    PipelinedSink& operator=(const PipelinedSink&) = delete;
    ~PipelinedSink() { finish(); }

    // False when no thread could be started; the caller then resamples in line.
    bool start() {
        if (!second_thread_allowed) {
            return false;
        }
        try {
            worker = std::thread([this] { resample_all(); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    // Waits until the row about to be written no longer holds one the resampler reads.
    uint8_t* row_buffer() {
        std::unique_lock lock(mutex);
        decoder_waits = true;
        changed.wait(
            lock, [this] { return rs->next_source_row < uint64_t{oldest_needed} + rs->ring_rows; });
        decoder_waits = false;
        return resampler_slot(*rs);
    }

    void row_done() {
        bool wake = false;
        {
            std::lock_guard lock(mutex);
            ++rs->next_source_row;
            wake = worker_needs != 0 && rs->next_source_row >= worker_needs;
        }
        if (wake) {
            changed.notify_all();
        }
    }

    // Ends the input and waits for the resampler; true when every output row was made.
    bool finish() {
        {
            std::lock_guard lock(mutex);
            input_ended = true;
        }
        changed.notify_all();
        if (worker.joinable()) {
            worker.join();
        }
        return output_done;
    }

    void resample_all() {
        const uint32_t rows = output_row_count(*rs);
        for (uint32_t row = 0; row < rows; ++row) {
            const uint32_t needed = rows_needed_for(*rs, row);
            {
                std::unique_lock lock(mutex);
                // Once asleep, wait for a few rows more than needed: fewer wake-ups.
                worker_needs = rs->next_source_row >= needed
                                   ? 0
                                   : std::min(needed + PIPELINE_WAKE_ROWS, rs->rows.source_end);
                changed.wait(lock,
                             [&] { return rs->next_source_row >= worker_needs || input_ended; });
                worker_needs = 0;
                if (rs->next_source_row < needed) {
                    return;
                }
            }
            resampler_emit_row(*rs, *emit);
            bool wake = false;
            {
                std::lock_guard lock(mutex);
                // After the last row nothing is read any more.
                oldest_needed = row + 1 < rows ? rs->rows.first[row + 1] : UINT32_MAX;
                output_done = row + 1 == rows;
                wake = decoder_waits;
            }
            if (wake) {
                changed.notify_all();
            }
        }
    }
};

// Feeds the decoder's rows to the resampler, on a second thread where one can be started.
template <typename T, typename Emit>
Result<Ok, PictureError> decode_into_resampler(Decoder& dec, Resampler<T>& rs, Emit& emit) {
    PipelinedSink<T, Emit> pipeline(rs, emit);
    if (!pipeline.start()) {
        ResamplerSink<T, Emit> sink{&rs, &emit};
        return decoder_read_rows(dec, rs.rows.source_begin, rs.rows.source_end, sink);
    }
    Result<Ok, PictureError> read =
        decoder_read_rows(dec, rs.rows.source_begin, rs.rows.source_end, pipeline);
    const bool complete = pipeline.finish();
    if (!read.ok()) {
        return Err{read.error()};
    }
    if (!complete) {
        return Err{PictureError::Decode};
    }
    return Ok{};
}

inline uint8_t to_8bit(uint8_t v) {
    return v;
}

inline uint8_t to_8bit(uint16_t v) {
    return static_cast<uint8_t>((uint32_t{v} * 255u + 32767u) / 65535u);
}

template <typename T>
void bgra_row(const T* source, uint32_t channels, size_t width, uint8_t* out) {
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

// Output rows become BGRA rows of the screen buffer.
template <typename T>
struct BgraEmit {
    BgraBuffer* buffer;
    uint32_t channels;
    uint32_t width;
    size_t bytes;  // of the whole buffer
    size_t next_row = 0;

    void operator()(const T* row) {
        // Sized here, with the first row: on the resampling thread, while the decoder works.
        if (buffer->size() != bytes) {
            buffer->resize(bytes);
        }
        bgra_row(row, channels, width, buffer->data() + size_t{width} * 4 * next_row);
        ++next_row;
    }
};

// Output rows become rows of an img::Picture of the source's pixel type.
template <typename T>
struct PictureEmit {
    img::Picture* picture;
    size_t row_bytes;
    size_t next_row = 0;

    void operator()(const T* row) {
        std::memcpy(picture->samples.data() + row_bytes * next_row, row, row_bytes);
        ++next_row;
    }
};

// Feeds the rows of an in-memory picture that the resampler needs.
template <typename T, typename Emit>
void resample_picture(const img::Picture& picture, Resampler<T>& rs, Emit& emit) {
    const size_t row_bytes = size_t{picture.width} * bytes_per_pixel(picture.type);
    for (uint32_t y = rs.rows.source_begin; y < rs.rows.source_end; ++y) {
        std::memcpy(resampler_slot(rs), picture.samples.data() + row_bytes * y, row_bytes);
        resampler_commit(rs, emit);
    }
}

template <typename T>
img::Picture resize_picture(const img::Picture& picture, uint32_t width, uint32_t height) {
    img::Picture out;
    out.width = width;
    out.height = height;
    out.type = picture.type;
    const size_t row_bytes = size_t{width} * bytes_per_pixel(picture.type);
    out.samples.resize(row_bytes * height);
    Resampler<T> rs;
    resampler_init(rs, picture.width, picture.height, channel_count(picture.type), width, height, 0,
                   0, width, height);
    PictureEmit<T> emit{&out, row_bytes};
    resample_picture(picture, rs, emit);
    return out;
}

template <typename T>
BgraBuffer cover_picture(const img::Picture& picture, uint32_t screen_width,
                         uint32_t screen_height) {
    const CoverGeometry g =
        cover_geometry(picture.width, picture.height, screen_width, screen_height);
    const size_t bytes = size_t{screen_width} * screen_height * 4;
    BgraBuffer buffer;
    Resampler<T> rs;
    const uint32_t channels = channel_count(picture.type);
    resampler_init(rs, picture.width, picture.height, channels, g.scaled_width, g.scaled_height,
                   g.x0, g.y0, screen_width, screen_height);
    BgraEmit<T> emit{&buffer, channels, screen_width, bytes};
    resample_picture(picture, rs, emit);
    return buffer;
}

template <typename T>
Result<BgraBuffer, PictureError> cover_stream(Decoder& dec, uint32_t screen_width,
                                              uint32_t screen_height) {
    const PictureHeader& h = dec.header;
    const CoverGeometry g = cover_geometry(h.width, h.height, screen_width, screen_height);
    const size_t bytes = size_t{screen_width} * screen_height * 4;
    BgraBuffer buffer;
    Resampler<T> rs;
    const uint32_t channels = channel_count(h.type);
    resampler_init(rs, h.width, h.height, channels, g.scaled_width, g.scaled_height, g.x0, g.y0,
                   screen_width, screen_height, true);
    BgraEmit<T> emit{&buffer, channels, screen_width, bytes};
    Result<Ok, PictureError> read = decode_into_resampler(dec, rs, emit);
    if (!read.ok()) {
        return Err{read.error()};
    }
    return buffer;
}

template <typename T>
Result<img::Picture, PictureError> resize_stream(Decoder& dec, uint32_t width, uint32_t height) {
    const PictureHeader& h = dec.header;
    if (resampler_bytes(h.width, h.height, channel_count(h.type), sizeof(T), width, height, width,
                        height) > MAX_RESAMPLER_BYTES) {
        return Err{PictureError::TooLarge};
    }
    img::Picture out;
    out.width = width;
    out.height = height;
    out.type = h.type;
    const size_t row_bytes = size_t{width} * bytes_per_pixel(h.type);
    out.samples.resize(row_bytes * height);
    Resampler<T> rs;
    resampler_init(rs, h.width, h.height, channel_count(h.type), width, height, 0, 0, width, height,
                   true);
    PictureEmit<T> emit{&out, row_bytes};
    Result<Ok, PictureError> read = decode_into_resampler(dec, rs, emit);
    if (!read.ok()) {
        return Err{read.error()};
    }
    return out;
}

// Only regular files: opening a FIFO for reading would wait for a writer, and a device can give
// endless data. O_NONBLOCK keeps the open itself from waiting.
Result<UniqueFd, PictureError> open_for_reading(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return Err{PictureError::Io};
    }
    return fd;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The pipeline's public operations

void allow_wide_vectors(bool allowed) {
    wide_vectors_allowed = allowed;
}

void allow_second_thread(bool allowed) {
    second_thread_allowed = allowed;
}

Result<img::Picture, PictureError> decode_picture(UniqueFd fd, std::string_view name) {
    auto dec = std::make_unique<Decoder>();
    Result<PictureHeader, PictureError> header = decoder_open(*dec, fd.get(), name);
    if (!header.ok()) {
        return Err{header.error()};
    }
    img::Picture picture;
    picture.width = header.value().width;
    picture.height = header.value().height;
    picture.type = header.value().type;
    // Checked against MAX_DECODE_BYTES when the header was read.
    const size_t row_bytes = size_t{picture.width} * bytes_per_pixel(picture.type);
    picture.samples.resize(row_bytes * picture.height);
    PictureSink sink{&picture, row_bytes};
    Result<Ok, PictureError> read = decoder_read_rows(*dec, 0, picture.height, sink);
    if (!read.ok()) {
        return Err{read.error()};
    }
    return picture;
}

Result<img::Picture, PictureError> open_picture(const std::string& path) {
    Result<UniqueFd, PictureError> fd = open_for_reading(path);
    if (!fd.ok()) {
        return Err{fd.error()};
    }
    return decode_picture(std::move(fd.value()), path);
}

Result<img::Picture, PictureError> decode_picture_resized(UniqueFd fd, std::string_view name,
                                                          uint32_t width, uint32_t height) {
    auto dec = std::make_unique<Decoder>();
    Result<PictureHeader, PictureError> header = decoder_open(*dec, fd.get(), name);
    if (!header.ok()) {
        return Err{header.error()};
    }
    if (width == 0 || height == 0) {
        return img::Picture{width, height, header.value().type, {}};
    }
    if (bytes_per_sample(header.value().type) == 2) {
        return resize_stream<uint16_t>(*dec, width, height);
    }
    return resize_stream<uint8_t>(*dec, width, height);
}

img::Picture resize_triangle(const img::Picture& picture, uint32_t width, uint32_t height) {
    if (width == picture.width && height == picture.height) {
        return picture;
    }
    if (width == 0 || height == 0 || picture.width == 0 || picture.height == 0) {
        img::Picture out{width, height, picture.type, {}};
        out.samples.resize(size_t{width} * height * bytes_per_pixel(picture.type));
        return out;
    }
    if (bytes_per_sample(picture.type) == 2) {
        return resize_picture<uint16_t>(picture, width, height);
    }
    return resize_picture<uint8_t>(picture, width, height);
}

BgraBuffer to_bgra(const img::Picture& picture) {
    const size_t width = picture.width;
    BgraBuffer out(width * picture.height * 4);
    const uint32_t channels = channel_count(picture.type);
    const size_t row_bytes = width * bytes_per_pixel(picture.type);
    std::vector<uint16_t> wide_row;
    for (size_t y = 0; y < picture.height; ++y) {
        const uint8_t* source = picture.samples.data() + row_bytes * y;
        uint8_t* target = out.data() + width * 4 * y;
        if (bytes_per_sample(picture.type) == 2) {
            wide_row.resize(width * channels);
            std::memcpy(wide_row.data(), source, row_bytes);
            bgra_row(wide_row.data(), channels, width, target);
        } else {
            bgra_row(source, channels, width, target);
        }
    }
    return out;
}

CoverGeometry cover_geometry(uint32_t picture_width, uint32_t picture_height, uint32_t screen_width,
                             uint32_t screen_height) {
    const double scale =
        std::max(static_cast<double>(screen_width) / static_cast<double>(picture_width),
                 static_cast<double>(screen_height) / static_cast<double>(picture_height));
    auto whole = [](double v) -> uint32_t {
        v = std::trunc(v);
        if (!(v > 0.0)) {
            return 0;
        }
        if (v >= 4294967295.0) {
            return UINT32_MAX;
        }
        return static_cast<uint32_t>(v);
    };
    CoverGeometry g;
    g.scaled_width = std::max(whole(picture_width * scale), screen_width);
    g.scaled_height = std::max(whole(picture_height * scale), screen_height);
    g.x0 = (g.scaled_width - screen_width) / 2;
    g.y0 = (g.scaled_height - screen_height) / 2;
    return g;
}

BgraBuffer scale_to_cover(const img::Picture& picture, uint32_t screen_width,
                          uint32_t screen_height) {
    if (picture.width == 0 || picture.height == 0 || screen_width == 0 || screen_height == 0) {
        return BgraBuffer(size_t{screen_width} * screen_height * 4);
    }
    if (bytes_per_sample(picture.type) == 2) {
        return cover_picture<uint16_t>(picture, screen_width, screen_height);
    }
    return cover_picture<uint8_t>(picture, screen_width, screen_height);
}

Result<BgraBuffer, PictureError> load_cover(const std::string& path, uint32_t screen_width,
                                            uint32_t screen_height) {
    Result<UniqueFd, PictureError> fd = open_for_reading(path);
    if (!fd.ok()) {
        return Err{fd.error()};
    }
    auto dec = std::make_unique<Decoder>();
    Result<PictureHeader, PictureError> header = decoder_open(*dec, fd.value().get(), path);
    if (!header.ok()) {
        return Err{header.error()};
    }
    if (screen_width == 0 || screen_height == 0) {
        return BgraBuffer{};
    }
    if (bytes_per_sample(header.value().type) == 2) {
        return cover_stream<uint16_t>(*dec, screen_width, screen_height);
    }
    return cover_stream<uint8_t>(*dec, screen_width, screen_height);
}

// ---------------------------------------------------------------------------------------------
// Choosing the background for the time of day

DayPeriod day_period_for_hour(uint8_t hour, const BackgroundConfig& config) {
    if (hour >= config.night_start || hour < config.morning_start) {
        return DayPeriod::Night;
    }
    if (hour >= config.evening_start) {
        return DayPeriod::Evening;
    }
    if (hour >= config.afternoon_start) {
        return DayPeriod::Afternoon;
    }
    return DayPeriod::Morning;
}

const char* day_period_dir_name(DayPeriod period) {
    switch (period) {
        case DayPeriod::Morning:
            return "morning";
        case DayPeriod::Afternoon:
            return "afternoon";
        case DayPeriod::Evening:
            return "evening";
        case DayPeriod::Night:
            return "night";
    }
    return "night";
}

const char* day_period_display_name(DayPeriod period) {
    switch (period) {
        case DayPeriod::Morning:
            return "Morning";
        case DayPeriod::Afternoon:
            return "Afternoon";
        case DayPeriod::Evening:
            return "Evening";
        case DayPeriod::Night:
            return "Night";
    }
    return "Night";
}

bool is_background_name(std::string_view name) {
    std::optional<std::string_view> extension = file_extension(name);
    return extension.has_value() && format_for_extension(*extension).has_value();
}

std::vector<std::string> list_backgrounds(const std::string& dir) {
    std::vector<std::string> paths;
    std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
    if (!stream) {
        return paths;
    }
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(stream.get());
        if (entry == nullptr) {
            // A failed read ends the listing here; what was read so far still counts.
            break;
        }
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (is_background_name(name)) {
            paths.push_back(dir + "/" + std::string(name));
        }
    }
    // std::string compares as unsigned bytes: case-sensitive, "img10" before "img2".
    std::sort(paths.begin(), paths.end());
    return paths;
}

uint32_t daily_seed(const std::tm& local) {
    return static_cast<uint32_t>(local.tm_yday) * 31u + static_cast<uint32_t>(local.tm_year);
}

std::optional<BgraBuffer> load_background(const BackgroundConfig& config, uint32_t width,
                                          uint32_t height) {
    // Runs beside the login screen's thread: no shared static broken-down time.
    std::tm broken_down{};
    std::time_t now = std::time(nullptr);
    const std::tm* local = ::localtime_r(&now, &broken_down);
    const uint8_t hour = local != nullptr ? static_cast<uint8_t>(local->tm_hour) : 12;
    const DayPeriod period = day_period_for_hour(hour, config);
    log_message(LogLevel::Info, "Background: hour=" + std::to_string(hour) +
                                    " period=" + day_period_display_name(period) + " screen=" +
                                    std::to_string(width) + "x" + std::to_string(height));

    const std::vector<std::string> candidates =
        list_backgrounds(std::string(BACKGROUNDS_DIR) + "/" + day_period_dir_name(period));
    if (candidates.empty()) {
        log_message(LogLevel::Warn, "Background: no image found, will use fallback color");
        return std::nullopt;
    }

    now = std::time(nullptr);
    local = ::localtime_r(&now, &broken_down);
    const uint32_t seed = local != nullptr ? daily_seed(*local) : 0;
    const std::string& path = candidates[seed % candidates.size()];
    log_message(LogLevel::Info, "Background: selected image '" + utf8_lossy(path) + "'");

    Result<BgraBuffer, PictureError> buffer = load_cover(path, width, height);
    if (!buffer.ok()) {
        log_message(LogLevel::Error, "Background: failed to load '" + utf8_lossy(path) + "'");
        return std::nullopt;
    }
    log_message(LogLevel::Info, "Background: loaded and scaled (" +
                                    std::to_string(buffer.value().size()) + " bytes)");
    return std::move(buffer.value());
}

// ---------------------------------------------------------------------------------------------
// Painting

void paint_background(const GreeterContext& ctx, const std::string& fallback_color,
                      const std::optional<BgraBuffer>& background) {
    paint_background_at(ctx, fallback_color, background, Rect{0, 0, ctx.width, ctx.height});
}

void paint_background_at(const GreeterContext& ctx, const std::string& fallback_color,
                         const std::optional<BgraBuffer>& background, const Rect& target) {
    const auto width = static_cast<unsigned>(std::max(target.width, 0));
    const auto height = static_cast<unsigned>(std::max(target.height, 0));
    if (background) {
        const size_t needed = size_t(width) * size_t(height) * 4;
        if (background->size() < needed) {
            return;
        }
        // Xlib only reads the bytes; its C interface wants them non-const.
        char* data = const_cast<char*>(reinterpret_cast<const char*>(background->data()));
        XImage* image = XCreateImage(ctx.display, ctx.visual, static_cast<unsigned>(ctx.depth),
                                     ZPixmap, 0, data, width, height, 32, 0);
        if (image == nullptr) {
            return;
        }
        XPutImage(ctx.display, ctx.window, ctx.gc, image, 0, 0, target.x, target.y, width, height);
        // The login screen owns the buffer; XDestroyImage would free it.
        image->data = nullptr;
        XDestroyImage(image);
        return;
    }
    const Rgb8 rgb = parse_hex_color(fallback_color);
    XColor color{};
    color.pixel = 0;
    color.red = static_cast<unsigned short>(rgb.red << 8);
    color.green = static_cast<unsigned short>(rgb.green << 8);
    color.blue = static_cast<unsigned short>(rgb.blue << 8);
    color.flags = 0;
    XAllocColor(ctx.display, DefaultColormap(ctx.display, DefaultScreen(ctx.display)), &color);
    XSetForeground(ctx.display, ctx.gc,
                   (static_cast<unsigned long>(rgb.red) << 16) |
                       (static_cast<unsigned long>(rgb.green) << 8) | rgb.blue);
    XFillRectangle(ctx.display, ctx.window, ctx.gc, target.x, target.y, width, height);
}
