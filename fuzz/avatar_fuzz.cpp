// The avatar from the bytes of ~/.face to the masked 96 x 96 buffer, as the decoding child makes
// it (in this process: the fuzzer has threads of its own, and a fork per input would hide
// nothing the child adds). The home is a scratch directory; the result is compared with the plain
// decode and resize and an independent reading of the disc rule.
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <vector>

#include "avatar.h"
#include "avatar_child.h"
#include "picture_checks.h"

namespace {

// The disc: transparent black outside radius 48, alpha scaled by (48 - d) over the last ring.
BgraBuffer reference_avatar(const img::Picture& picture) {
    BgraBuffer pixels = to_bgra(resize_triangle(picture, 96, 96));
    for (int y = 0; y < 96; ++y) {
        for (int x = 0; x < 96; ++x) {
            const double dx = x - 48 + 0.5;
            const double dy = y - 48 + 0.5;
            const double d = std::sqrt(dx * dx + dy * dy);
            uint8_t* p = &pixels[(static_cast<size_t>(y) * 96 + static_cast<size_t>(x)) * 4];
            if (d > 48.0) {
                p[0] = p[1] = p[2] = p[3] = 0;
            } else if (d > 47.0) {
                const double a = std::fmin(255.0, std::fmax(0.0, p[3] * (48.0 - d)));
                p[3] = static_cast<uint8_t>(a);
            }
        }
    }
    return pixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The scratch directory stands in for the home; its input file becomes ~/.face.
    const std::string input = fuzz::write_input(data, size, "face");
    const std::string dir = input.substr(0, input.rfind('/'));
    const std::string face = dir + "/.face";
    if (::rename(input.c_str(), face.c_str()) != 0) {
        fuzz::fail("rename to .face");
    }

    const std::array<std::string, 2> candidates = avatar_candidates(dir);
    auto [files, names] = open_avatar_candidates(candidates);
    std::optional<BgraBuffer> avatar = decode_first_avatar(files, names, AVATAR_SIZE);
    if (avatar) {
        avatar_mask(*avatar);
    }
    auto picture = open_picture(face);
    if (!picture.ok()) {
        if (avatar) {
            fuzz::fail("an avatar from a file that does not decode");
        }
        return 0;
    }
    if (!avatar) {
        fuzz::fail("no avatar from a file that decodes");
    }
    if (avatar->size() != 96 * 96 * 4) {
        fuzz::fail("avatar size");
    }
    const img::Picture& pic = picture.value();
    if (uint64_t{pic.width} * pic.height <= fuzz::CROSS_CHECK_PIXELS &&
        *avatar != reference_avatar(pic)) {
        fuzz::fail("avatar differs from decode + resize + disc");
    }
    return 0;
}
