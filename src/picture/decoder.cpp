#include "picture/decoder.h"

Result<PictureHeader, PictureError> decoder_open(PictureDecoder& dec, int fd,
                                                 std::string_view name) {
    dec.reader.fd = fd;
    Result<PictureFormat, PictureError> format = sniff_format(dec.reader, name);
    if (!format.ok()) {
        return Err{format.error()};
    }
    dec.format = format.value();
    Result<PictureHeader, PictureError> header = dec.format == PictureFormat::Jpeg
                                                     ? jpeg_decoder_open(dec.jpeg, dec.reader)
                                                     : png_decoder_open(dec.png, dec.reader);
    if (header.ok()) {
        dec.header = header.value();
    }
    return header;
}

Result<Ok, PictureError> decoder_start(PictureDecoder& dec, uint32_t begin) {
    return dec.format == PictureFormat::Jpeg ? jpeg_decoder_start(dec.jpeg, begin)
                                             : png_decoder_start(dec.png, begin);
}

Result<Ok, PictureError> decoder_read_row(PictureDecoder& dec, uint8_t* out) {
    return dec.format == PictureFormat::Jpeg ? jpeg_decoder_read_row(dec.jpeg, out)
                                             : png_decoder_read_row(dec.png, out);
}

Result<Ok, PictureError> decoder_finish(PictureDecoder& dec) {
    return dec.format == PictureFormat::Jpeg ? jpeg_decoder_finish(dec.jpeg)
                                             : png_decoder_finish(dec.png);
}
