#include "text.h"

#include <string.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

// Length of the valid UTF-8 sequence starting at bytes[i], or 0 when the bytes there are not one.
// Also reports, through `bad_len`, how many bytes form the maximal invalid prefix, so that each
// broken sequence becomes exactly one U+FFFD.
size_t utf8_sequence(std::string_view bytes, size_t i, size_t& bad_len) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    const unsigned char c = b(i);
    bad_len = 1;
    if (c < 0x80) {
        return 1;
    }
    size_t need = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        need = 1;
    } else if (c >= 0xE0 && c <= 0xEF) {
        need = 2;
        if (c == 0xE0) {
            lo = 0xA0;
        }
        if (c == 0xED) {
            hi = 0x9F;
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        need = 3;
        if (c == 0xF0) {
            lo = 0x90;
        }
        if (c == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 0;
    }
    for (size_t k = 1; k <= need; ++k) {
        if (i + k >= bytes.size()) {
            bad_len = k;
            return 0;
        }
        const unsigned char next = b(i + k);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (next < min || next > max) {
            bad_len = k;
            return 0;
        }
    }
    return need + 1;
}

}  // namespace

std::optional<char32_t> next_code_point(std::string_view bytes, size_t& pos) {
    size_t bad = 0;
    const size_t n = utf8_sequence(bytes, pos, bad);
    if (n == 0) {
        pos += bad;
        return std::nullopt;
    }
    constexpr unsigned char LEAD_BITS[] = {0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = static_cast<unsigned char>(bytes[pos]) & LEAD_BITS[n - 1];
    for (size_t k = 1; k < n; ++k) {
        cp = (cp << 6) | (static_cast<unsigned char>(bytes[pos + k]) & 0x3Fu);
    }
    pos += n;
    return cp;
}

bool is_valid_utf8(std::string_view bytes) {
    size_t i = 0;
    size_t bad = 0;
    while (i < bytes.size()) {
        const size_t n = utf8_sequence(bytes, i, bad);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string utf8_lossy(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    size_t bad = 0;
    while (i < bytes.size()) {
        const size_t n = utf8_sequence(bytes, i, bad);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            i += bad;
        } else {
            out.append(bytes.substr(i, n));
            i += n;
        }
    }
    return out;
}

namespace {

bool is_control(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

}  // namespace

bool has_control_char(std::string_view utf8) {
    size_t pos = 0;
    while (pos < utf8.size()) {
        const std::optional<char32_t> cp = next_code_point(utf8, pos);
        if (cp && is_control(*cp)) {
            return true;
        }
    }
    return false;
}

size_t last_utf8_char_length(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    size_t n = 1;
    while (n < text.size() && n < 4 &&
           (static_cast<unsigned char>(text[text.size() - n]) & 0xC0) == 0x80) {
        ++n;
    }
    if ((static_cast<unsigned char>(text[text.size() - n]) & 0xC0) == 0x80) {
        return 1;  // stray continuation bytes: drop one at a time
    }
    return n;
}

void wipe_text(std::string& text) {
    explicit_bzero(text.data(), text.size());
    text.clear();
}

void move_secret(std::string& to, std::string& from) {
    wipe_text(to);
    to.assign(from);
    wipe_text(from);
}

std::string display_text(std::string_view bytes, size_t max_bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        const size_t start = pos;
        const std::optional<char32_t> cp = next_code_point(bytes, pos);
        if (!cp) {
            out += "\xEF\xBF\xBD";
        } else if (is_control(*cp)) {
            out += ' ';
        } else {
            out.append(bytes.substr(start, pos - start));
        }
    }
    const auto trim_end = [&out] {
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
    };
    out.erase(0, std::min(out.find_first_not_of(' '), out.size()));
    trim_end();
    if (out.size() > max_bytes) {
        size_t cut = max_bytes;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        out.resize(cut);
        trim_end();
    }
    return out;
}

std::string shorten_to_width(std::string_view text, int32_t width,
                             const std::function<int32_t(std::string_view)>& measure) {
    if (measure(text) <= width) {
        return std::string(text);
    }
    // Where each character ends: the candidate cuts.
    std::vector<size_t> ends;
    for (size_t pos = 0; pos < text.size();) {
        (void)next_code_point(text, pos);
        ends.push_back(pos);
    }
    const auto candidate = [&](size_t count) {
        std::string cut(text.substr(0, count == 0 ? 0 : ends[count - 1]));
        while (!cut.empty() && cut.back() == ' ') {
            cut.pop_back();
        }
        return cut + ELLIPSIS;
    };
    // The most characters that still fit; none fit beyond `high`.
    size_t low = 0;
    size_t high = ends.size();
    while (low < high) {
        const size_t middle = (low + high + 1) / 2;
        if (measure(candidate(middle)) <= width) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return candidate(low);
}

std::string_view trim_space(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}
