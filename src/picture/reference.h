// The paths through a whole decoded picture: what the streamed entry points must match byte for
// byte. Only tests, fuzzing and benchmarks link them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "fd.h"
#include "picture/pixels.h"
#include "result.h"

Result<img::Picture, PictureError> open_picture(const std::string& path);

// Decodes an already opened file; `name` only decides the format by its extension.
Result<img::Picture, PictureError> decode_picture(UniqueFd fd, std::string_view name);

// Triangle filter of support 1, columns first into 32-bit floats, then rows.
img::Picture resize_triangle(const img::Picture& picture, uint32_t width, uint32_t height,
                             PictureSwitches switches = {});

// Only the part that survives the centre cut is ever computed.
BgraBuffer scale_to_cover(const img::Picture& picture, uint32_t screen_width,
                          uint32_t screen_height, PictureSwitches switches = {});
