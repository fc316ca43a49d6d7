#include "picture/picture.h"

#include <memory>

#include "picture/bgra.h"
#include "picture/decoder.h"
#include "picture/pipeline.h"
#include "picture/reader.h"
#include "picture/resampler.h"

Result<img::Picture, PictureError> decode_picture_resized(UniqueFd fd, std::string_view name,
                                                          uint32_t width, uint32_t height,
                                                          PictureSwitches switches) {
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
    Result<Ok, PictureError> read = stream_resampled(
        *dec, whole_job(header.value(), width, height, switches), {&out.samples, bytes});
    if (!read.ok()) {
        return Err{read.error()};
    }
    return out;
}

BgraBuffer to_bgra(const img::Picture& picture) {
    BgraBuffer out(size_t{picture.width} * picture.height * 4);
    bgra_rows(picture.samples.data(), picture.type, picture.width, picture.height, out.data());
    return out;
}

Result<BgraBuffer, PictureError> load_cover(const std::string& path, uint32_t screen_width,
                                            uint32_t screen_height, PictureSwitches switches) {
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
    Result<Ok, PictureError> read =
        stream_resampled(*dec, cover_job(header.value(), screen_width, screen_height, switches),
                         {&buffer, bytes, true});
    if (!read.ok()) {
        return Err{read.error()};
    }
    return buffer;
}
