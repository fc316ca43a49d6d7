// Streaming a decoder's rows into the resampler, on a second thread where one can be started:
// the only unit that knows about threads.
#pragma once

#include <cstdint>

#include "picture/decoder.h"
#include "picture/resampler.h"
#include "result.h"

// The most that streaming one picture may take besides its result. The shape is only kept by the
// cover, not by the avatar's squeeze: a 40000000 x 1 picture squeezed to 96 x 96 would need
// gigabytes of weights. And whatever the shape, the decoder's rows are as wide as the picture.
inline constexpr uint64_t MAX_STREAMING_BYTES = uint64_t{256} << 20;

// What streaming `job` out of a picture with `header` takes besides its result: the decoder's
// rows, the resampler's weights and its ring with room to read ahead.
uint64_t streaming_bytes(const PictureHeader& header, const ResampleJob& job);

// Starts the opened decoder and resamples its picture as `job` says into `out`. Past
// MAX_STREAMING_BYTES it is refused (TooLarge) before anything is allocated for it.
Result<Ok, PictureError> stream_resampled(PictureDecoder& dec, ResampleJob job,
                                          const ResampledRows& out);

// Size the picture is scaled to before the centre cut, and the cut's top-left corner.
struct CoverGeometry {
    uint32_t scaled_width = 0;
    uint32_t scaled_height = 0;
    uint32_t x0 = 0;
    uint32_t y0 = 0;
};

CoverGeometry cover_geometry(uint32_t picture_width, uint32_t picture_height, uint32_t screen_width,
                             uint32_t screen_height);

// The whole picture to width x height.
ResampleJob whole_job(const PictureHeader& header, uint32_t width, uint32_t height,
                      PictureSwitches switches);

// The cover of screen_width x screen_height: the centre cut of the scaled picture.
ResampleJob cover_job(const PictureHeader& header, uint32_t screen_width, uint32_t screen_height,
                      PictureSwitches switches);
