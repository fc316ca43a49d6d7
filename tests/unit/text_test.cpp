#include "text.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(Utf8, ValidityAndLossyConversion) {
    const struct {
        std::string_view bytes;
        bool valid;
        std::string_view lossy;
    } cases[] = {
        {"", true, ""},
        {"plain", true, "plain"},
        {"p\xc3\xa4ss\xe2\x82\xac", true, "p\xc3\xa4ss\xe2\x82\xac"},
        {"\xf0\x9f\x98\x80", true, "\xf0\x9f\x98\x80"},
        {"caf\xe9", false, "caf\xef\xbf\xbd"},
        {"\xc3", false, "\xef\xbf\xbd"},
        {"\xe2\x82", false, "\xef\xbf\xbd"},  // truncated sequence: one replacement
        {"\xe2\x82x", false, "\xef\xbf\xbdx"},
        {"\xc0\xaf", false, "\xef\xbf\xbd\xef\xbf\xbd"},                  // overlong
        {"\xed\xa0\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},  // surrogate
        {"\xf4\x90\x80\x80", false, "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {"a\x80z", false, "a\xef\xbf\xbdz"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.bytes));
        EXPECT_EQ(is_valid_utf8(c.bytes), c.valid);
        EXPECT_EQ(utf8_lossy(c.bytes), c.lossy);
    }
}

TEST(Utf8, LastCharacterLength) {
    EXPECT_EQ(last_utf8_char_length(""), 0u);
    EXPECT_EQ(last_utf8_char_length("ab"), 1u);
    EXPECT_EQ(last_utf8_char_length("a\xc3\xa9"), 2u);
    EXPECT_EQ(last_utf8_char_length("\xe2\x82\xac"), 3u);
    EXPECT_EQ(last_utf8_char_length("x\xf0\x9f\x98\x80"), 4u);
}

TEST(Utf8, DecodesValidSequencesAndSkipsBrokenOnes) {
    const std::string text =
        "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xe2\x82"
        "b\x80";
    std::vector<std::optional<char32_t>> got;
    for (size_t pos = 0; pos < text.size();) {
        got.push_back(next_code_point(text, pos));
    }
    const std::vector<std::optional<char32_t>> expected = {U'a',         0xE9, 0x20AC,      0x1F600,
                                                           std::nullopt, U'b', std::nullopt};
    EXPECT_EQ(got, expected);
}

TEST(DisplayText, ValidUtf8WithoutControlsWithinTheLimit) {
    const struct {
        std::string_view bytes;
        size_t max;
        std::string_view text;
    } cases[] = {
        {"The account is locked.", 200, "The account is locked."},
        {"", 200, ""},
        {"  \t\n", 200, ""},
        {"\nline one\nline two\r\n", 200, "line one line two"},
        {"bell\x07 esc\x1b[2J del\x7f", 200, "bell  esc [2J del"},
        {"c1\xC2\x85next", 200, "c1 next"},
        {"nbsp\xC2\xA0kept", 200, "nbsp\xC2\xA0kept"},
        {"caf\xE9", 200, "caf\xEF\xBF\xBD"},
        // Cut before a character that would pass the limit, and blanks at the cut go too.
        {"abc\xE2\x82\xAC", 5, "abc"},
        {"abc\xE2\x82\xAC", 6, "abc\xE2\x82\xAC"},
        {"ab  cd", 4, "ab"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(display_text(c.bytes, c.max), c.text) << c.bytes;
    }
}

TEST(Secrets, MoveSecretLeavesNoCopyInTheSource) {
    std::string from;
    from.reserve(64);
    from = "s3cret";
    const char* storage = from.data();
    std::string to = "old";
    move_secret(to, from);
    EXPECT_EQ(to, "s3cret");
    EXPECT_EQ(from, "");
    EXPECT_EQ(std::string(storage, 6), std::string(6, '\0'));
}

}  // namespace

// Ten pixels a byte stand in for the font.
TEST(ShortenToWidth, WholeCharactersThenTheEllipsis) {
    const auto measure = [](std::string_view text) { return int32_t(text.size()) * 10; };
    const std::vector<std::vector<std::string>> cases = {
        // text, width, result ("…" is three bytes wide here)
        {"Account locked", "140", "Account locked"},
        {"Account locked", "139", "Account lo\u2026"},
        {"Account locked", "100", "Account\u2026"},  // the blank before the cut goes
        {"Gr\u00fc\u00dfe", "60", "Gr\u2026"},       // never half a character
        {"abc", "0", "\u2026"},
        {"", "0", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(shorten_to_width(c[0], std::stoi(c[1]), measure), c[2]) << c[0] << " " << c[1];
    }
}
