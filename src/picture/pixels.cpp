#include "picture/pixels.h"

const char* picture_error_text(PictureError error) {
    switch (error) {
        case PictureError::Io:
            return "the file cannot be read";
        case PictureError::Unsupported:
            return "the format is not supported";
        case PictureError::Unrecognised:
            return "the format is not recognised";
        case PictureError::Decode:
            return "the data is not a valid picture";
        case PictureError::TooLarge:
            return "the picture is too large";
    }
    return "unknown picture error";
}
