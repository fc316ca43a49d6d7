// The background for the time of day: which picture, and loading it to cover the screen.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "picture.h"

inline constexpr const char* BACKGROUNDS_DIR = "/usr/share/vesko/backgrounds";

enum class DayPeriod { Morning, Afternoon, Evening, Night };

DayPeriod day_period_for_hour(uint8_t hour, const BackgroundConfig& config);

const char* day_period_dir_name(DayPeriod period);
const char* day_period_display_name(DayPeriod period);

// Whether a directory entry name counts as a background picture.
bool is_background_name(std::string_view name);

// The qualifying entries of `dir` as "dir/name", sorted byte-wise; empty when unreadable.
std::vector<std::string> list_backgrounds(const std::string& dir);

uint32_t daily_seed(const std::tm& local);

// The day's pick from a period's sorted candidates: the one at seed mod their count; none when
// there are none.
std::optional<std::string> choose_background(const std::vector<std::string>& candidates,
                                             uint32_t seed);

std::optional<BgraBuffer> load_background(const BackgroundConfig& config, uint32_t width,
                                          uint32_t height);
