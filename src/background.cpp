#include "background.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "log.h"
#include "picture/reader.h"
#include "text.h"

DayPeriod day_period_for_hour(uint8_t hour, const BackgroundConfig& config) {
    if (hour >= config.night_start || hour < config.morning_start) {
        return DayPeriod::Night;
    }
    if (hour >= config.evening_start) {
        return DayPeriod::Evening;
    }
    if (hour >= config.afternoon_start) {
        return DayPeriod::Afternoon;
    }
    return DayPeriod::Morning;
}

const char* day_period_dir_name(DayPeriod period) {
    switch (period) {
        case DayPeriod::Morning:
            return "morning";
        case DayPeriod::Afternoon:
            return "afternoon";
        case DayPeriod::Evening:
            return "evening";
        case DayPeriod::Night:
            return "night";
    }
    return "night";
}

const char* day_period_display_name(DayPeriod period) {
    switch (period) {
        case DayPeriod::Morning:
            return "Morning";
        case DayPeriod::Afternoon:
            return "Afternoon";
        case DayPeriod::Evening:
            return "Evening";
        case DayPeriod::Night:
            return "Night";
    }
    return "Night";
}

bool is_background_name(std::string_view name) {
    std::optional<std::string_view> extension = file_extension(name);
    return extension.has_value() && format_for_extension(*extension).has_value();
}

std::vector<std::string> list_backgrounds(const std::string& dir) {
    std::vector<std::string> paths;
    std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(dir.c_str()), ::closedir);
    if (!stream) {
        return paths;
    }
    for (;;) {
        errno = 0;
        dirent* entry = ::readdir(stream.get());
        if (entry == nullptr) {
            // A failed read ends the listing here; what was read so far still counts.
            break;
        }
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (is_background_name(name)) {
            paths.push_back(dir + "/" + std::string(name));
        }
    }
    // std::string compares as unsigned bytes: case-sensitive, "img10" before "img2".
    std::sort(paths.begin(), paths.end());
    return paths;
}

uint32_t daily_seed(const std::tm& local) {
    return static_cast<uint32_t>(local.tm_yday) * 31u + static_cast<uint32_t>(local.tm_year);
}

std::optional<std::string> choose_background(const std::vector<std::string>& candidates,
                                             uint32_t seed) {
    if (candidates.empty()) {
        return std::nullopt;
    }
    return candidates[seed % candidates.size()];
}

BackgroundChoice choose_background_now(const BackgroundConfig& config) {
    // Runs beside the login screen's thread: no shared static broken-down time.
    std::tm broken_down{};
    std::time_t now = std::time(nullptr);
    const std::tm* local = ::localtime_r(&now, &broken_down);
    BackgroundChoice choice;
    choice.hour = local != nullptr ? static_cast<uint8_t>(local->tm_hour) : 12;
    choice.period = day_period_for_hour(choice.hour, config);
    const std::vector<std::string> candidates =
        list_backgrounds(std::string(BACKGROUNDS_DIR) + "/" + day_period_dir_name(choice.period));
    now = std::time(nullptr);
    local = ::localtime_r(&now, &broken_down);
    choice.path = choose_background(candidates, local != nullptr ? daily_seed(*local) : 0);
    return choice;
}

Result<BgraBuffer, PictureError> load_chosen_background(const std::string& path, uint32_t width,
                                                        uint32_t height) {
    return load_cover(path, width, height);
}

void log_background_choice(const BackgroundChoice& choice, uint32_t width, uint32_t height) {
    log_message(LogLevel::Info, "Background: hour=" + std::to_string(choice.hour) +
                                    " period=" + day_period_display_name(choice.period) +
                                    " screen=" + std::to_string(width) + "x" +
                                    std::to_string(height));
    if (!choice.path) {
        log_message(LogLevel::Warn, "Background: no image found, will use fallback color");
        return;
    }
    log_message(LogLevel::Info, "Background: selected image '" + utf8_lossy(*choice.path) + "'");
}

void log_background_result(const std::string& path,
                           const Result<BgraBuffer, PictureError>& picture) {
    if (!picture.ok()) {
        log_message(LogLevel::Error, "Background: failed to load '" + utf8_lossy(path) + "'");
        log_message(LogLevel::Warn,
                    std::string("Background: ") + picture_error_text(picture.error()));
        return;
    }
    log_message(LogLevel::Info, "Background: loaded and scaled (" +
                                    std::to_string(picture.value().size()) + " bytes)");
}
