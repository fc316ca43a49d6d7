// Pictures: the ways in that the greeter uses, each a streamed pass from file to result.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fd.h"
#include "picture/pixels.h"
#include "result.h"

// Decodes and resamples to width x height in one streamed pass, without holding the full-size
// picture; `name` only decides the format by its extension.
Result<img::Picture, PictureError> decode_picture_resized(UniqueFd fd, std::string_view name,
                                                          uint32_t width, uint32_t height,
                                                          PictureSwitches switches = {});

BgraBuffer to_bgra(const img::Picture& picture);

// The picture scaled to cover screen_width x screen_height and cut at the centre (see
// cover_geometry), streamed from the decoder: only the part that survives the cut is computed.
Result<BgraBuffer, PictureError> load_cover(const std::string& path, uint32_t screen_width,
                                            uint32_t screen_height, PictureSwitches switches = {});

// Raised whenever the covers load_cover makes for the same file could change: covers kept from
// an earlier version are then made again.
inline constexpr uint32_t COVER_SCALING_VERSION = 1;
