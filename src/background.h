// The background for the time of day: which picture, and loading it to cover the screen.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config.h"
#include "picture/picture.h"

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

// The picture for this moment of the day, chosen once per showing of the login screen.
struct BackgroundChoice {
    uint8_t hour = 12;
    DayPeriod period = DayPeriod::Afternoon;
    // None when the period's folder holds no picture.
    std::optional<std::string> path;
};
BackgroundChoice choose_background_now(const BackgroundConfig& config);

// The chosen picture scaled to cover width x height, or why it cannot be read. Logs nothing: the
// login screen logs the whole choice once (below).
Result<BgraBuffer, PictureError> load_chosen_background(const std::string& path, uint32_t width,
                                                        uint32_t height);

// "Background: hour=H period=P screen=WxH", then the picture selected, or the warning that
// there is none.
void log_background_choice(const BackgroundChoice& choice, uint32_t width, uint32_t height);
// "Background: loaded and scaled (N bytes)", or the error that the picture could not be read
// followed by the reason as a warning.
void log_background_result(const std::string& path,
                           const Result<BgraBuffer, PictureError>& picture);
