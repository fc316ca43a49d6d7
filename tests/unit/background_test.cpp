#include "background.h"

#include <gtest/gtest.h>

#include "picture_fixtures.h"

namespace {

using namespace picture_fixtures;

TEST(BackgroundPeriod, DefaultBoundaries) {
    const BackgroundConfig config;
    struct Case {
        uint8_t hour;
        DayPeriod period;
    };
    const Case cases[] = {
        {0, DayPeriod::Night},    {5, DayPeriod::Night},      {6, DayPeriod::Morning},
        {11, DayPeriod::Morning}, {12, DayPeriod::Afternoon}, {16, DayPeriod::Afternoon},
        {17, DayPeriod::Evening}, {20, DayPeriod::Evening},   {21, DayPeriod::Night},
        {23, DayPeriod::Night},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(day_period_for_hour(c.hour, config), c.period) << int(c.hour);
    }
}

TEST(BackgroundPeriod, OddSettings) {
    BackgroundConfig all_night;
    all_night.night_start = 5;
    all_night.morning_start = 6;
    BackgroundConfig no_afternoon;
    no_afternoon.afternoon_start = 18;
    no_afternoon.evening_start = 17;
    BackgroundConfig no_night;
    no_night.night_start = 24;
    no_night.morning_start = 0;
    for (uint8_t hour = 0; hour < 24; ++hour) {
        EXPECT_EQ(day_period_for_hour(hour, all_night), DayPeriod::Night) << int(hour);
        EXPECT_NE(day_period_for_hour(hour, no_afternoon), DayPeriod::Afternoon) << int(hour);
        EXPECT_NE(day_period_for_hour(hour, no_night), DayPeriod::Night) << int(hour);
    }
    EXPECT_EQ(day_period_for_hour(16, no_afternoon), DayPeriod::Morning);
    EXPECT_EQ(day_period_for_hour(17, no_afternoon), DayPeriod::Evening);
    EXPECT_EQ(day_period_for_hour(3, no_night), DayPeriod::Morning);
    EXPECT_EQ(day_period_for_hour(23, no_night), DayPeriod::Evening);
}

TEST(BackgroundPeriod, Names) {
    const std::pair<DayPeriod, std::pair<const char*, const char*>> names[] = {
        {DayPeriod::Morning, {"morning", "Morning"}},
        {DayPeriod::Afternoon, {"afternoon", "Afternoon"}},
        {DayPeriod::Evening, {"evening", "Evening"}},
        {DayPeriod::Night, {"night", "Night"}},
    };
    for (const auto& [period, name] : names) {
        EXPECT_STREQ(day_period_dir_name(period), name.first);
        EXPECT_STREQ(day_period_display_name(period), name.second);
    }
}

TEST(BackgroundSelection, ExtensionFilter) {
    const std::pair<const char*, bool> cases[] = {
        {"Sunset.JPG", true}, {"a.Jpeg", true},  {"b.PNG", true},       {".dawn.png", true},
        {"x.jpg", true},      {".png", false},   {"a.jpeg.txt", false}, {"a.webp", false},
        {"a.gif", false},     {"README", false}, {"a.", false},         {"..", false},
        {"photo.jpe", false},
    };
    for (const auto& [name, qualifies] : cases) {
        EXPECT_EQ(is_background_name(name), qualifies) << name;
    }
}

TEST(BackgroundSelection, ListingIsFilteredAndSortedByBytes) {
    TempDir dir;
    for (const char* name : {"img2.png", "a.png", "img10.png", "B.png", "notes.txt", ".dawn.png",
                             "Sunset.JPG", "z.jpeg.txt"}) {
        write_bytes(dir.file(name), {1});
    }
    fs::create_directory(dir.file("folder.png"));
    fs::create_directory(dir.file("sub"));
    write_bytes(dir.file("sub/inner.png"), {1});
    const std::string d = dir.path.string();
    const std::vector<std::string> expected = {
        d + "/.dawn.png",  d + "/B.png",     d + "/Sunset.JPG", d + "/a.png",
        d + "/folder.png", d + "/img10.png", d + "/img2.png",
    };
    EXPECT_EQ(list_backgrounds(d), expected);
    EXPECT_TRUE(list_backgrounds(d + "/missing").empty());
    EXPECT_TRUE(list_backgrounds(d + "/notes.txt").empty());
}

TEST(BackgroundSelection, DailySeed) {
    std::tm jan1{};
    jan1.tm_yday = 0;
    jan1.tm_year = 126;
    std::tm jan2 = jan1;
    jan2.tm_yday = 1;
    EXPECT_EQ(daily_seed(jan1), 126u);
    EXPECT_EQ(daily_seed(jan2), 157u);
    EXPECT_EQ(daily_seed(jan1) % 3, 0u);
    EXPECT_EQ(daily_seed(jan2) % 3, 1u);
    // With 31 pictures every day of a year picks the same one, and the next year another.
    for (int yday = 0; yday < 366; ++yday) {
        std::tm day = jan1;
        day.tm_yday = yday;
        EXPECT_EQ(daily_seed(day) % 31, 126u % 31);
        EXPECT_EQ(daily_seed(day) % 1, 0u);
    }
    std::tm next_year = jan1;
    next_year.tm_year = 127;
    EXPECT_NE(daily_seed(next_year) % 31, daily_seed(jan1) % 31);
}

TEST(BackgroundSelection, DailyPick) {
    const std::vector<std::string> three = {"/b/a.png", "/b/b.jpg", "/b/c.png"};
    EXPECT_EQ(choose_background(three, 126), "/b/a.png");
    EXPECT_EQ(choose_background(three, 157), "/b/b.jpg");
    EXPECT_EQ(choose_background(three, 0xFFFFFFFF), "/b/a.png");
    EXPECT_EQ(choose_background({"/b/only.png"}, 157), "/b/only.png");
    EXPECT_EQ(choose_background({}, 157), std::nullopt);
}

}  // namespace
