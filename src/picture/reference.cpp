#include "picture/reference.h"

#include <memory>

#include "picture/decoder.h"
#include "picture/pipeline.h"
#include "picture/reader.h"
#include "picture/resampler.h"

namespace {

// Feeds the rows of an in-memory picture that the resampler reads.
void resample_picture(const img::Picture& picture, const ResampleJob& job,
                      const ResampledRows& out) {
    Resampler rs;
    resampler_init(rs, job);
    const size_t row_bytes = size_t{picture.width} * bytes_per_pixel(picture.type);
    uint32_t next_row = 0;
    for (uint32_t y = rs.rows.source_begin; y < rs.rows.source_end; ++y) {
        resampler_take_row(rs, y, picture.samples.data() + row_bytes * y);
        next_row = resampler_make_ready_rows(rs, y, next_row, out);
    }
}

PictureHeader header_of(const img::Picture& picture) {
    return PictureHeader{picture.width, picture.height, picture.type};
}

}  // namespace

Result<img::Picture, PictureError> decode_picture(UniqueFd fd, std::string_view name) {
    auto dec = std::make_unique<PictureDecoder>();
    Result<PictureHeader, PictureError> header = decoder_open(*dec, fd.get(), name);
    if (!header.ok()) {
        return Err{header.error()};
    }
    img::Picture picture{header.value().width, header.value().height, header.value().type, {}};
    // Checked against MAX_DECODE_BYTES when the header was read.
    const size_t row_bytes = size_t{picture.width} * bytes_per_pixel(picture.type);
    picture.samples.resize(row_bytes * picture.height);
    Result<Ok, PictureError> read = decoder_start(*dec, 0);
    for (uint32_t y = 0; read.ok() && y < picture.height; ++y) {
        read = decoder_read_row(*dec, picture.samples.data() + row_bytes * y);
    }
    if (read.ok()) {
        read = decoder_finish(*dec);
    }
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

img::Picture resize_triangle(const img::Picture& picture, uint32_t width, uint32_t height,
                             PictureSwitches switches) {
    if (width == picture.width && height == picture.height) {
        return picture;
    }
    img::Picture out{width, height, picture.type, {}};
    const size_t bytes = size_t{width} * height * bytes_per_pixel(picture.type);
    if (width == 0 || height == 0 || picture.width == 0 || picture.height == 0) {
        out.samples.resize(bytes);
        return out;
    }
    resample_picture(picture, whole_job(header_of(picture), width, height, switches),
                     {&out.samples, bytes});
    return out;
}

BgraBuffer scale_to_cover(const img::Picture& picture, uint32_t screen_width,
                          uint32_t screen_height, PictureSwitches switches) {
    const size_t bytes = size_t{screen_width} * screen_height * 4;
    BgraBuffer buffer;
    if (picture.width == 0 || picture.height == 0 || screen_width == 0 || screen_height == 0) {
        buffer.resize(bytes);
        return buffer;
    }
    resample_picture(picture, cover_job(header_of(picture), screen_width, screen_height, switches),
                     {&buffer, bytes, true});
    return buffer;
}
