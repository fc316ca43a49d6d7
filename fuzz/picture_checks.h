// Shared by the PNG and JPEG targets: the fuzz input as a file with a given extension, pushed
// through every entry of the picture pipeline, with the promises between them checked.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "fd.h"
#include "picture/picture.h"
#include "picture/reference.h"

namespace fuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "picture check failed: %s\n", what);
    std::abort();
}

inline std::string& scratch_dir() {
    static std::string dir;
    return dir;
}

// Empties and removes the scratch directory when the process ends normally.
inline void remove_scratch_dir() {
    const std::string& dir = scratch_dir();
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            if (entry->d_name[0] != '.' || (entry->d_name[1] != '\0' && entry->d_name[1] != '.')) {
                ::unlink((dir + "/" + entry->d_name).c_str());
            }
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

// One scratch file per process, rewritten for every input.
inline std::string write_input(const uint8_t* data, size_t size, const char* extension) {
    static const std::string dir = [] {
        char templ[] = "/tmp/vesko-fuzz.XXXXXX";
        if (::mkdtemp(templ) == nullptr) {
            fail("mkdtemp");
        }
        scratch_dir() = templ;
        std::atexit(remove_scratch_dir);
        return std::string(templ);
    }();
    const std::string path = dir + "/input." + extension;
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        fail("cannot write the input file");
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd.get(), data + done, size - done);
        if (n <= 0) {
            fail("short write of the input file");
        }
        done += static_cast<size_t>(n);
    }
    return path;
}

inline UniqueFd open_input(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        fail("cannot reopen the input file");
    }
    return fd;
}

inline bool same_picture(const img::Picture& a, const img::Picture& b) {
    return a.width == b.width && a.height == b.height && a.type == b.type && a.samples == b.samples;
}

// Past this many pixels the slow cross-checks are skipped; decoding itself is always done.
inline constexpr uint64_t CROSS_CHECK_PIXELS = uint64_t{1} << 20;

inline void check_picture_file(const uint8_t* data, size_t size, const char* extension) {
    const std::string path = write_input(data, size, extension);
    auto picture = open_picture(path);
    auto again = decode_picture(open_input(path), path);
    if (picture.ok() != again.ok() || (!picture.ok() && picture.error() != again.error())) {
        fail("open_picture and decode_picture disagree");
    }
    if (!picture.ok()) {
        if (picture_error_text(picture.error()) == nullptr) {
            fail("error without a text");
        }
        return;
    }
    const img::Picture& pic = picture.value();
    if (pic.width == 0 || pic.height == 0) {
        fail("empty picture accepted");
    }
    const uint64_t bytes = uint64_t{pic.width} * pic.height * bytes_per_pixel(pic.type);
    if (pic.samples.size() != bytes || bytes > MAX_DECODE_BYTES) {
        fail("sample count does not match the size");
    }
    if (!same_picture(pic, again.value())) {
        fail("two decodes of one file differ");
    }
    if (uint64_t{pic.width} * pic.height > CROSS_CHECK_PIXELS) {
        // Streamed to a real screen: exact in size, or refused before its rows are allocated.
        auto screen = load_cover(path, 1920, 1080);
        if (screen.ok() ? screen.value().size() != size_t{1920} * 1080 * 4
                        : screen.error() != PictureError::TooLarge) {
            fail("load_cover of a large picture");
        }
        return;
    }
    if (to_bgra(pic).size() != uint64_t{pic.width} * pic.height * 4) {
        fail("to_bgra size");
    }

    // The streamed resize must give the bytes of the plain one (the avatar path uses it).
    const img::Picture plain = resize_triangle(pic, 96, 96);
    auto streamed = decode_picture_resized(open_input(path), path, 96, 96);
    if (!streamed.ok()) {
        fail("streamed resize failed on a picture that decodes");
    }
    if (!same_picture(plain, streamed.value())) {
        fail("streamed resize differs from resize_triangle");
    }

    // A small landscape and a small portrait screen: the cover is exact in size, and the
    // streamed cover equals the one from the decoded picture.
    for (const auto& [w, h] : {std::pair<uint32_t, uint32_t>{64, 40}, {30, 52}}) {
        const BgraBuffer cover = scale_to_cover(pic, w, h);
        if (cover.size() != size_t{w} * h * 4) {
            fail("scale_to_cover size");
        }
        auto loaded = load_cover(path, w, h);
        if (!loaded.ok()) {
            fail("load_cover failed on a picture that decodes");
        }
        if (loaded.value() != cover) {
            fail("load_cover differs from scale_to_cover");
        }
    }
}

}  // namespace fuzz
