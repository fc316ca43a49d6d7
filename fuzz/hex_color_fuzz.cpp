// parse_hex_color against an independent reading of the colour rule, byte for byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "config.h"

namespace {

constexpr Rgb8 DEFAULT{0x1a, 0x1a, 0x2e};

int hex_digit(unsigned char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Two hex digits, or "+" and one hex digit; anything else takes the component's default.
uint8_t pair_value(unsigned char first, unsigned char second, uint8_t fallback) {
    const int low = hex_digit(second);
    if (low < 0) {
        return fallback;
    }
    if (first == '+') {
        return static_cast<uint8_t>(low);
    }
    const int high = hex_digit(first);
    return high < 0 ? fallback : static_cast<uint8_t>(high * 16 + low);
}

Rgb8 reference(std::string_view text) {
    size_t start = 0;
    while (start < text.size() && text[start] == '#') {
        ++start;
    }
    text.remove_prefix(start);
    if (text.size() < 6) {
        return DEFAULT;
    }
    const auto at = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    return Rgb8{pair_value(at(0), at(1), DEFAULT.red), pair_value(at(2), at(3), DEFAULT.green),
                pair_value(at(4), at(5), DEFAULT.blue)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Rgb8 got = parse_hex_color(text);
    const Rgb8 want = reference(text);
    if (!(got == want)) {
        std::fprintf(stderr, "hex_color_fuzz: got %02x%02x%02x, want %02x%02x%02x\n", got.red,
                     got.green, got.blue, want.red, want.green, want.blue);
        std::abort();
    }
    return 0;
}
