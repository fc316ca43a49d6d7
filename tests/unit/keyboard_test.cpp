// gtest first: Xlib defines None as a macro.
#include <gtest/gtest.h>

#include "keyboard.h"

#include "config.h"

#include <set>
#include <string>
#include <vector>

using Codes = std::vector<std::string>;

TEST(KeyboardRulesNames, SplitsTheProperty) {
    using namespace std::string_literals;
    EXPECT_EQ(parse_rules_names("evdev\0pc105\0us,de\0\0grp:alt_shift_toggle\0"s),
              (XkbRulesNames{"evdev", "pc105", "us,de", "", "grp:alt_shift_toggle"}));
    // Without the last NUL, and cut short: the missing names stay empty.
    EXPECT_EQ(parse_rules_names("base\0pc104\0fr"s),
              (XkbRulesNames{"base", "pc104", "fr", "", ""}));
    EXPECT_EQ(parse_rules_names(""), XkbRulesNames{});
}

TEST(KeyboardLayouts, ConfiguredListIsSplitCheckedAndLimited) {
    const std::set<std::string> files = {"us", "de", "fr", "gb", "ch", "brai"};
    const auto known = [&](const std::string& code) { return files.count(code) == 1; };
    struct Case {
        const char* text;
        LayoutChoice expected;
    };
    const std::vector<Case> cases = {
        {"us", {{"us"}, {}, {}}},
        {" us , fr ,", {{"us", "fr"}, {}, {}}},
        {",,", {}},
        {"us,xx,de", {{"us", "de"}, {"xx"}, {}}},
        // Not file names under symbols/: capitals, paths, variants, spaces inside.
        {"US,../us,de(nodeadkeys),d e", {{}, {"US", "../us", "de(nodeadkeys)", "d e"}, {}}},
        {"us,de,fr,gb,ch,brai", {{"us", "de", "fr", "gb"}, {}, {"ch", "brai"}}},
        {"us,us", {{"us", "us"}, {}, {}}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(choose_layouts(split_layouts(c.text), known), c.expected) << c.text;
    }
}

TEST(KeyboardLayouts, LabelsAreTheCodesInCapitals) {
    EXPECT_EQ(layout_labels("us,de", 2), (Codes{"US", "DE"}));
    EXPECT_EQ(layout_labels("us", 1), (Codes{"US"}));
    // The variant is not shown; a group the list has no code for shows its number.
    EXPECT_EQ(layout_labels("de(nodeadkeys), fr", 3), (Codes{"DE", "FR", "3"}));
    EXPECT_EQ(layout_labels(",ru", 2), (Codes{"1", "RU"}));
    EXPECT_EQ(layout_labels("", 2), (Codes{"1", "2"}));
    EXPECT_EQ(layout_labels("us,de,fr", 2), (Codes{"US", "DE"}));
}

TEST(KeyboardLayouts, ActiveLabelOnlyWithSeveralLayouts) {
    EXPECT_EQ(active_layout_label({false, 1, {"US", "DE"}}), "DE");
    EXPECT_EQ(active_layout_label({false, 0, {"US"}}), "");
    EXPECT_EQ(active_layout_label({false, 2, {"US", "DE"}}), "");
}
