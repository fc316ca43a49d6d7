#include "picture.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "picture_decoder.h"
#include "picture_pipeline.h"
#include "picture_reader.h"
#include "resampler.h"

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

ResampleJob whole_job(const PictureHeader& header, uint32_t width, uint32_t height) {
    return ResampleJob{header.width, header.height, header.type, width, height, 0, 0,
                       width,        height};
}

ResampleJob cover_job(const PictureHeader& header, uint32_t screen_width, uint32_t screen_height) {
    const CoverGeometry g =
        cover_geometry(header.width, header.height, screen_width, screen_height);
    return ResampleJob{header.width, header.height, header.type,  g.scaled_width, g.scaled_height,
                       g.x0,         g.y0,          screen_width, screen_height};
}

PictureHeader header_of(const img::Picture& picture) {
    return PictureHeader{picture.width, picture.height, picture.type};
}

}  // namespace

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

Result<img::Picture, PictureError> decode_picture_resized(UniqueFd fd, std::string_view name,
                                                          uint32_t width, uint32_t height) {
    auto dec = std::make_unique<PictureDecoder>();
    Result<PictureHeader, PictureError> header = decoder_open(*dec, fd.get(), name);
    if (!header.ok()) {
        return Err{header.error()};
    }
    img::Picture out{width, height, header.value().type, {}};
    if (width == 0 || height == 0) {
        return out;
    }
    const size_t bytes = size_t{width} * height * bytes_per_pixel(out.type);
    Result<Ok, PictureError> read =
        stream_resampled(*dec, whole_job(header.value(), width, height), {&out.samples, bytes});
    if (!read.ok()) {
        return Err{read.error()};
    }
    return out;
}

img::Picture resize_triangle(const img::Picture& picture, uint32_t width, uint32_t height) {
    if (width == picture.width && height == picture.height) {
        return picture;
    }
    img::Picture out{width, height, picture.type, {}};
    const size_t bytes = size_t{width} * height * bytes_per_pixel(picture.type);
    if (width == 0 || height == 0 || picture.width == 0 || picture.height == 0) {
        out.samples.resize(bytes);
        return out;
    }
    resample_picture(picture, whole_job(header_of(picture), width, height), {&out.samples, bytes});
    return out;
}

BgraBuffer to_bgra(const img::Picture& picture) {
    BgraBuffer out(size_t{picture.width} * picture.height * 4);
    bgra_rows(picture.samples.data(), picture.type, picture.width, picture.height, out.data());
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
    const size_t bytes = size_t{screen_width} * screen_height * 4;
    BgraBuffer buffer;
    if (picture.width == 0 || picture.height == 0 || screen_width == 0 || screen_height == 0) {
        buffer.resize(bytes);
        return buffer;
    }
    resample_picture(picture, cover_job(header_of(picture), screen_width, screen_height),
                     {&buffer, bytes, true});
    return buffer;
}

Result<BgraBuffer, PictureError> load_cover(const std::string& path, uint32_t screen_width,
                                            uint32_t screen_height) {
    Result<UniqueFd, PictureError> fd = open_for_reading(path);
    if (!fd.ok()) {
        return Err{fd.error()};
    }
    auto dec = std::make_unique<PictureDecoder>();
    Result<PictureHeader, PictureError> header = decoder_open(*dec, fd.value().get(), path);
    if (!header.ok()) {
        return Err{header.error()};
    }
    BgraBuffer buffer;
    if (screen_width == 0 || screen_height == 0) {
        return buffer;
    }
    const size_t bytes = size_t{screen_width} * screen_height * 4;
    Result<Ok, PictureError> read = stream_resampled(
        *dec, cover_job(header.value(), screen_width, screen_height), {&buffer, bytes, true});
    if (!read.ok()) {
        return Err{read.error()};
    }
    return buffer;
}
