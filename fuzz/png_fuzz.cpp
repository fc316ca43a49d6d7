// The picture pipeline on a file named *.png holding the fuzz input. The mutator repairs chunk
// checksums after each mutation, so mutated chunks reach the decoder instead of failing the CRC.
#include <zlib.h>

#include "picture_checks.h"

namespace {

uint32_t read_be32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

void fix_chunk_crcs(uint8_t* data, size_t size) {
    size_t at = 8;  // after the signature
    while (at + 12 <= size) {
        const uint64_t length = read_be32(data + at);
        if (at + 12 + length > size) {
            return;
        }
        const uLong crc = crc32(0L, data + at + 4, static_cast<uInt>(length + 4));
        uint8_t* out = data + at + 8 + length;
        out[0] = static_cast<uint8_t>(crc >> 24);
        out[1] = static_cast<uint8_t>(crc >> 16);
        out[2] = static_cast<uint8_t>(crc >> 8);
        out[3] = static_cast<uint8_t>(crc);
        at += 12 + length;
    }
}

}  // namespace

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned int /*seed*/) {
    size = LLVMFuzzerMutate(data, size, max_size);
    fix_chunk_crcs(data, size);
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check_picture_file(data, size, "png");
    return 0;
}
