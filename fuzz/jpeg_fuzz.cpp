// The picture pipeline on a file named *.jpg holding the fuzz input.
#include "picture_checks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::check_picture_file(data, size, "jpg");
    return 0;
}
