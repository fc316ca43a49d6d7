#include "config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct MappingCase {
    const char* name;
    const char* text;
    uint8_t morning, afternoon, evening, night;
    const char* fallback_color;
    bool clock_24h;
    const char* session;
    std::vector<std::string> layouts = {};
    uint8_t scale = 0;
};

const MappingCase MAPPING_CASES[] = {
    {"empty file", "", 6, 12, 17, 21, "#1a1a2e", true, "graphical"},
    {"every default written out",
     "[background]\nmorning_start = 6\nafternoon_start = 12\nevening_start = 17\n"
     "night_start = 21\nfallback_color = \"#1a1a2e\"\n[ui]\nclock_24h = true\n"
     "[session]\ndefault = \"graphical\"\n",
     6, 12, 17, 21, "#1a1a2e", true, "graphical"},
    {"only ui", "[ui]\nclock_24h = false\n", 6, 12, 17, 21, "#1a1a2e", false, "graphical"},
    {"layouts split at load, scale bounds",
     "[ui]\nlayouts = \" us,xx, de,\"\nscale = 4\n",
     6,
     12,
     17,
     21,
     "#1a1a2e",
     true,
     "graphical",
     {"us", "xx", "de"},
     4},
    {"scale 0 is automatic",
     "[ui]\nscale = 0\n",
     6,
     12,
     17,
     21,
     "#1a1a2e",
     true,
     "graphical",
     {},
     0},
    {"one hour key", "[background]\nnight_start = 22\n", 6, 12, 17, 22, "#1a1a2e", true,
     "graphical"},
    {"hour bounds", "[background]\nmorning_start = 0\nnight_start = 255\n", 0, 12, 17, 255,
     "#1a1a2e", true, "graphical"},
    {"unknown key and table", "[ui]\ntheme = \"dark\"\n[extra]\nx = 1\ntop = true\n", 6, 12, 17, 21,
     "#1a1a2e", true, "graphical"},
    {"colour and session kept as written",
     "[background]\nfallback_color = \"not a colour\"\n[session]\ndefault = \"Graphical\"\n", 6, 12,
     17, 21, "not a colour", true, "Graphical"},
};

TEST(ConfigMapping, ValidTexts) {
    for (const auto& c : MAPPING_CASES) {
        SCOPED_TRACE(c.name);
        const auto parsed = parse_config(c.text);
        ASSERT_TRUE(parsed.ok()) << parsed.error();
        const Config& config = parsed.value();
        EXPECT_EQ(config.background.morning_start, c.morning);
        EXPECT_EQ(config.background.afternoon_start, c.afternoon);
        EXPECT_EQ(config.background.evening_start, c.evening);
        EXPECT_EQ(config.background.night_start, c.night);
        EXPECT_EQ(config.background.fallback_color, c.fallback_color);
        EXPECT_EQ(config.background.fallback_rgb, parse_hex_color(c.fallback_color));
        EXPECT_EQ(config.ui.clock_24h, c.clock_24h);
        EXPECT_EQ(config.session.default_, c.session);
        EXPECT_EQ(config.session.kind, session_kind_of(c.session));
        EXPECT_EQ(config.ui.layouts, c.layouts);
        EXPECT_EQ(config.ui.scale, c.scale);
    }
}

TEST(ConfigMapping, RememberUser) {
    EXPECT_FALSE(parse_config("").value().ui.remember_user);
    EXPECT_TRUE(parse_config("[ui]\nremember_user = true\n").value().ui.remember_user);
    const auto wrong = parse_config("[ui]\nremember_user = \"yes\"\n");
    ASSERT_FALSE(wrong.ok());
    EXPECT_EQ(wrong.error(),
              "invalid type: string \"yes\", expected a boolean for key `ui.remember_user` at line "
              "2, column 17");
}

struct ErrorCase {
    const char* name;
    const char* text;
    const char* error;  // exact text, or a prefix when `prefix_only`
    bool prefix_only;
};

const ErrorCase ERROR_CASES[] = {
    {"hour above 255", "[background]\nmorning_start = 256\n",
     "invalid value: integer `256`, expected u8 for key `background.morning_start` at line 2, "
     "column 17",
     false},
    {"negative hour", "[background]\nevening_start = -1\n",
     "invalid value: integer `-1`, expected u8 for key `background.evening_start` at line 2, "
     "column 17",
     false},
    {"float hour", "[background]\nmorning_start = 6.5\n",
     "invalid type: floating point `6.5`, expected u8 for key `background.morning_start` at line "
     "2, column 17",
     false},
    {"string for a boolean", "[ui]\nclock_24h = \"yes\"\n",
     "invalid type: string \"yes\", expected a boolean for key `ui.clock_24h` at line 2, column 13",
     false},
    {"boolean where a table is expected", "ui = true\n",
     "invalid type: boolean `true`, expected struct UiConfig for key `ui` at line 1, column 6",
     false},
    {"integer for the session", "[session]\ndefault = 1\n",
     "invalid type: integer `1`, expected a string for key `session.default` at line 2, column 11",
     false},
    {"scale above 4", "[ui]\nscale = 5\n",
     "invalid value: integer `5`, expected 0 to 4 for key `ui.scale` at line 2, column 9", false},
    {"negative scale", "[ui]\nscale = -1\n",
     "invalid value: integer `-1`, expected 0 to 4 for key `ui.scale` at line 2, column 9", false},
    {"fractional scale", "[ui]\nscale = 1.5\n",
     "invalid type: floating point `1.5`, expected an integer for key `ui.scale` at line 2, column "
     "9",
     false},
    {"layouts as an array", "[ui]\nlayouts = [\"us\"]\n",
     "invalid type: array, expected a string for key `ui.layouts` at line 2, column 11", false},
    {"background as a string", "background = \"x\"\n",
     "invalid type: string \"x\", expected struct BackgroundConfig", true},
    {"syntax error", "[ui\nclock_24h = true\n", "TOML parse error at line 1, column 4: ", true},
    {"duplicate key", "[ui]\nclock_24h = true\nclock_24h = false\n", "TOML parse error at line 3",
     true},
};

TEST(ConfigMapping, ErrorsNameTheirPlace) {
    for (const auto& c : ERROR_CASES) {
        SCOPED_TRACE(c.name);
        const auto parsed = parse_config(c.text);
        ASSERT_FALSE(parsed.ok());
        if (c.prefix_only) {
            EXPECT_EQ(parsed.error().rfind(c.error, 0), 0u) << parsed.error();
        } else {
            EXPECT_EQ(parsed.error(), c.error);
        }
    }
}

TEST(ConfigMapping, AnErrorKeepsNothingOfTheFile) {
    // A valid table before the bad key is not kept: the caller falls back to every default.
    const auto parsed = parse_config("[ui]\nclock_24h = false\n[background]\nnight_start = 300\n");
    EXPECT_FALSE(parsed.ok());
}

TEST(ConfigDefaults, MatchTheDocumentedValues) {
    const Config config;
    EXPECT_EQ(config.background.morning_start, 6);
    EXPECT_EQ(config.background.afternoon_start, 12);
    EXPECT_EQ(config.background.evening_start, 17);
    EXPECT_EQ(config.background.night_start, 21);
    EXPECT_EQ(config.background.fallback_color, "#1a1a2e");
    EXPECT_EQ(config.background.fallback_rgb, parse_hex_color("#1a1a2e"));
    EXPECT_TRUE(config.ui.clock_24h);
    EXPECT_TRUE(config.ui.layouts.empty());
    EXPECT_EQ(config.ui.scale, 0);
    EXPECT_EQ(config.session.default_, "graphical");
    EXPECT_EQ(config.session.kind, SessionKind::Graphical);
}

struct ColorCase {
    const char* text;
    Rgb8 expected;
};

const ColorCase COLOR_CASES[] = {
    {"#1a1a2e", {0x1a, 0x1a, 0x2e}},
    {"##1a1a2e", {0x1a, 0x1a, 0x2e}},
    {"1a1a2e", {0x1a, 0x1a, 0x2e}},
    {"ff8800", {0xff, 0x88, 0x00}},
    {"#FF8800", {0xff, 0x88, 0x00}},
    {"#ff0000", {0xff, 0x00, 0x00}},
    {"#1a1a2eff", {0x1a, 0x1a, 0x2e}},
    {"#abc", {0x1a, 0x1a, 0x2e}},
    {"#ff", {0x1a, 0x1a, 0x2e}},
    {"", {0x1a, 0x1a, 0x2e}},
    {"###", {0x1a, 0x1a, 0x2e}},
    {"#zz0000", {0x1a, 0x00, 0x00}},
    {"#gg0000", {0x1a, 0x00, 0x00}},
    {"#00zz00", {0x00, 0x1a, 0x00}},
    {"#0000zz", {0x00, 0x00, 0x2e}},
    {"#+f+f+f", {0x0f, 0x0f, 0x0f}},
    {"#-10000", {0x1a, 0x00, 0x00}},
    {"#++0000", {0x1a, 0x00, 0x00}},
    {"# 10000", {0x1a, 0x00, 0x00}},
    {"#\xc3\xa9\xc3\xa9\xc3\xa9", {0x1a, 0x1a, 0x2e}},
    {"#\xc3\xa9"
     "0000",
     {0x1a, 0x00, 0x00}},
    {"#12\xe2\x82\xac"
     "0",
     {0x12, 0x1a, 0x2e}},
};

TEST(ParseHexColor, Table) {
    for (const auto& c : COLOR_CASES) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parse_hex_color(c.text), c.expected);
    }
}

}  // namespace

TEST(SessionKind, OnlyTheExactWordIsGraphical) {
    struct Case {
        std::string kind;
        bool graphical;
        const char* label;
    };
    const Case cases[] = {
        {"graphical", true, "graphical"}, {"Graphical", false, "console"},
        {"GRAPHICAL", false, "console"},  {"console", false, "console"},
        {"", false, "console"},           {"graphical ", false, "console"},
        {" graphical", false, "console"}, {"graphica", false, "console"},
        {"graphicals", false, "console"}, {std::string("graphical\0", 10), false, "console"},
        {"wayland", false, "console"},
    };
    for (const Case& c : cases) {
        const SessionKind kind = session_kind_of(c.kind);
        EXPECT_EQ(kind == SessionKind::Graphical, c.graphical) << "'" << c.kind << "'";
        EXPECT_STREQ(session_kind_label(kind), c.label) << "'" << c.kind << "'";
    }
}
