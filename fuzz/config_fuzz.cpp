// Arbitrary bytes into the configuration mapper. Beyond "no crash": every rejection carries a
// text, UTF-8 input gives UTF-8 error texts (they go into the log), and an accepted file
// written back out from its own values reads back as the same Config.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config.h"
#include "text.h"

namespace {

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "config_fuzz: %s %.*s\n", what, static_cast<int>(detail.size()),
                 detail.data());
    std::abort();
}

// A TOML basic string: quotes, backslashes and control characters escaped, the rest verbatim.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string to_toml(const Config& config) {
    const auto& bg = config.background;
    return "[background]\nmorning_start = " + std::to_string(bg.morning_start) +
           "\nafternoon_start = " + std::to_string(bg.afternoon_start) +
           "\nevening_start = " + std::to_string(bg.evening_start) +
           "\nnight_start = " + std::to_string(bg.night_start) +
           "\nfallback_color = " + quoted(bg.fallback_color) +
           "\n[ui]\nclock_24h = " + (config.ui.clock_24h ? "true" : "false") +
           "\nremember_user = " + (config.ui.remember_user ? "true" : "false") +
           "\n[session]\ndefault = " + quoted(config.session.default_) + "\n";
}

bool same(const Config& a, const Config& b) {
    return a.background.morning_start == b.background.morning_start &&
           a.background.afternoon_start == b.background.afternoon_start &&
           a.background.evening_start == b.background.evening_start &&
           a.background.night_start == b.background.night_start &&
           a.background.fallback_color == b.background.fallback_color &&
           a.ui.clock_24h == b.ui.clock_24h && a.ui.remember_user == b.ui.remember_user &&
           a.session.default_ == b.session.default_;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const bool utf8 = is_valid_utf8(text);
    auto parsed = parse_config(text);
    if (!parsed) {
        if (parsed.error().empty()) {
            fail("rejected without an error text");
        }
        if (utf8 && !is_valid_utf8(parsed.error())) {
            fail("error text is not UTF-8:", parsed.error());
        }
        return 0;
    }
    const Config& config = parsed.value();
    if (!is_valid_utf8(config.background.fallback_color) ||
        !is_valid_utf8(config.session.default_)) {
        fail("accepted a string that is not UTF-8");
    }
    (void)parse_hex_color(config.background.fallback_color);

    const std::string written = to_toml(config);
    auto again = parse_config(written);
    if (!again) {
        fail("own output rejected:", again.error());
    }
    if (!same(config, again.value())) {
        fail("own output reads back differently:", written);
    }
    return 0;
}
