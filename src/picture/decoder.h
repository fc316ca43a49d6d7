// One opened picture file of either format: the header, then its rows one at a time.
#pragma once

#include <cstdint>
#include <string_view>

#include "picture/jpeg_decoder.h"
#include "picture/png_decoder.h"
#include "picture/reader.h"
#include "result.h"

struct PictureDecoder {
    Reader reader;
    PictureFormat format = PictureFormat::Png;
    PictureHeader header;
    JpegDecoder jpeg;
    PngDecoder png;
};

// Tells the format and reads the header; nothing for the picture's rows is allocated yet.
Result<PictureHeader, PictureError> decoder_open(PictureDecoder& dec, int fd,
                                                 std::string_view name);

// Rows from `begin` on will be asked for, in order.
Result<Ok, PictureError> decoder_start(PictureDecoder& dec, uint32_t begin);

// The next row: header.width pixels of header.type.
Result<Ok, PictureError> decoder_read_row(PictureDecoder& dec, uint8_t* out);

// Reads past the rows nobody asked for to the end of the picture.
Result<Ok, PictureError> decoder_finish(PictureDecoder& dec);
