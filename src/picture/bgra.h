// Samples of any pixel type as BGRA pixels: grey spread over the three colours, no alpha as
// opaque, 16 bits rounded to 8.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/pixels.h"

// One row of `width` pixels of `channels` samples each.
void bgra_row(const uint8_t* source, uint32_t channels, size_t width, uint8_t* out);
void bgra_row(const uint16_t* source, uint32_t channels, size_t width, uint8_t* out);

// `rows` rows of `width` pixels of `type` as BGRA pixels.
void bgra_rows(const uint8_t* samples, PixelType type, size_t width, size_t rows, uint8_t* out);
