// Pictures: decoding, resampling, cover scaling, the time-of-day background and its painting.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "config.h"
#include "result.h"

struct GreeterContext;

// Exactly width x height x 4 bytes, rows top to bottom, each pixel blue, green, red, alpha
// (straight alpha). The consumer knows the size.
using BgraBuffer = std::vector<uint8_t>;

inline constexpr const char* BACKGROUNDS_DIR = "/usr/share/vesko/backgrounds";

enum class DayPeriod { Morning, Afternoon, Evening, Night };

DayPeriod day_period_for_hour(uint8_t hour, const BackgroundConfig& config);

std::optional<BgraBuffer> load_background(const BackgroundConfig& config, uint32_t width,
                                          uint32_t height);

// Puts the prepared screen picture on the greeter window, or fills it with the fallback colour.
void paint_background(const GreeterContext& ctx, const std::string& fallback_color,
                      const std::optional<BgraBuffer>& background);
