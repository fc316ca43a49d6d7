// JPEG through libjpeg(-turbo), handing out one row at a time.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "picture/reader.h"
#include "result.h"

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
    Reader* reader = nullptr;
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

// Reads the header. Too many scans and too many samples are refused before the decoder
// allocates anything for the picture.
Result<PictureHeader, PictureError> jpeg_decoder_open(JpegDecoder& dec, Reader& reader);

// Starts decompressing, with row `begin` the first handed out.
Result<Ok, PictureError> jpeg_decoder_start(JpegDecoder& dec, uint32_t begin);

// The next row: grey or RGB samples, the header's width.
Result<Ok, PictureError> jpeg_decoder_read_row(JpegDecoder& dec, uint8_t* out);

// Reads past the remaining rows to the end, so a damaged tail fails the same way whatever part
// was shown; the rows skipped are not colour-converted.
Result<Ok, PictureError> jpeg_decoder_finish(JpegDecoder& dec);
