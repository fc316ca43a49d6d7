// Placeholder until the picture pipeline lands.
#include "background.h"

DayPeriod day_period_for_hour(uint8_t, const BackgroundConfig&) {
    return DayPeriod::Morning;
}

std::optional<BgraBuffer> load_background(const BackgroundConfig&, uint32_t, uint32_t) {
    return std::nullopt;
}

void paint_background(const GreeterContext&, const std::string&, const std::optional<BgraBuffer>&) {
}
