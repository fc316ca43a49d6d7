// PNG through libpng, handing out one row at a time.
#pragma once

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/reader.h"
#include "result.h"

struct PngDecoder {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Reader* reader = nullptr;
    PictureHeader header;
    bool interlaced = false;
    int passes = 1;
    size_t row_bytes = 0;
    uint32_t begin = 0;     // the first row handed out
    uint32_t next_row = 0;  // the next row libpng gives, or with interlacing, handed out
    // A row nobody wants, or with interlacing the whole picture.
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

// Reads the header and sets up the expansion to the header's pixel type. Too many samples, or
// rows too wide for the limit, are refused before libpng allocates its rows.
Result<PictureHeader, PictureError> png_decoder_open(PngDecoder& dec, Reader& reader);

// Allocates the rows, with row `begin` the first handed out. An interlaced picture is read
// whole here: Adam7 needs all of it before any row is final.
Result<Ok, PictureError> png_decoder_start(PngDecoder& dec, uint32_t begin);

// The next row, in the header's pixel type. Every row is inflated (the format allows no
// skipping); the rows before `begin` are read past.
Result<Ok, PictureError> png_decoder_read_row(PngDecoder& dec, uint8_t* out);

// Inflates the remaining rows, so a damaged tail fails the same way whatever part was shown.
Result<Ok, PictureError> png_decoder_finish(PngDecoder& dec);
