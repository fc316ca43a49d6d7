#include "picture/reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

size_t reader_refill(Reader& reader) {
    reader.pos = 0;
    reader.len = 0;
    const ssize_t n =
        retry_on_eintr([&] { return ::read(reader.fd, reader.buffer, READ_BUFFER_SIZE); });
    if (n < 0) {
        reader.read_errno = errno;
        return 0;
    }
    reader.len = static_cast<size_t>(n);
    return reader.len;
}

size_t reader_peek(Reader& reader, size_t count) {
    if (reader.pos > 0) {
        std::memmove(reader.buffer, reader.buffer + reader.pos, reader.len - reader.pos);
        reader.len -= reader.pos;
        reader.pos = 0;
    }
    while (reader.len < count) {
        const ssize_t n = retry_on_eintr([&] {
            return ::read(reader.fd, reader.buffer + reader.len, READ_BUFFER_SIZE - reader.len);
        });
        if (n < 0) {
            reader.read_errno = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        reader.len += static_cast<size_t>(n);
    }
    return reader.len;
}

PictureError failure_kind(const Reader& reader) {
    return reader.read_errno != 0 ? PictureError::Io : PictureError::Decode;
}

std::optional<std::string_view> file_extension(std::string_view path) {
    size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) {
        return std::nullopt;
    }
    return name.substr(dot + 1);
}

namespace {

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<PictureFormat> format_for_extension(std::string_view extension) {
    if (equals_ignoring_ascii_case(extension, "png")) {
        return PictureFormat::Png;
    }
    if (equals_ignoring_ascii_case(extension, "jpg") ||
        equals_ignoring_ascii_case(extension, "jpeg")) {
        return PictureFormat::Jpeg;
    }
    return std::nullopt;
}

Result<PictureFormat, PictureError> sniff_format(Reader& reader, std::string_view name) {
    if (std::optional<std::string_view> extension = file_extension(name)) {
        std::optional<PictureFormat> format = format_for_extension(*extension);
        if (!format) {
            return Err{PictureError::Unsupported};
        }
        return *format;
    }
    static constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};
    const size_t have = reader_peek(reader, sizeof PNG_SIGNATURE);
    if (reader.read_errno != 0) {
        return Err{PictureError::Io};
    }
    if (have >= 8 && std::memcmp(reader.buffer, PNG_SIGNATURE, 8) == 0) {
        return PictureFormat::Png;
    }
    if (have >= 2 && reader.buffer[0] == 0xFF && reader.buffer[1] == 0xD8) {
        return PictureFormat::Jpeg;
    }
    return Err{PictureError::Unrecognised};
}

// Opening a FIFO for reading would wait for a writer, and a device can give endless data.
Result<UniqueFd, PictureError> open_for_reading(const std::string& path) {
    UniqueFd fd = open_regular_file(path.c_str());
    if (!fd.valid()) {
        return Err{PictureError::Io};
    }
    return fd;
}
