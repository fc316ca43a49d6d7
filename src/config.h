// Settings from /etc/vesko/config.toml; every key optional, any problem gives the defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "result.h"

inline constexpr const char* CONFIG_PATH = "/etc/vesko/config.toml";

struct BackgroundConfig {
    uint8_t morning_start = 6;
    uint8_t afternoon_start = 12;
    uint8_t evening_start = 17;
    uint8_t night_start = 21;
    std::string fallback_color = "#1a1a2e";
    bool operator==(const BackgroundConfig&) const = default;
};

inline constexpr uint8_t MAX_UI_SCALE = 4;

struct UiConfig {
    bool clock_24h = true;
    // Comma-separated XKB layout codes set at each showing; empty leaves the server's own.
    std::string layouts = "";
    // 0 chooses from the monitor's density; otherwise 1 to MAX_UI_SCALE.
    uint8_t scale = 0;
    // Offer the last user whose session started at the next showing (/var/lib/vesko/last-user).
    bool remember_user = false;
    bool operator==(const UiConfig&) const = default;
};

struct SessionConfig {
    // The key is "default", which C++ reserves.
    std::string default_ = "graphical";
    bool operator==(const SessionConfig&) const = default;
};

struct Config {
    BackgroundConfig background;
    UiConfig ui;
    SessionConfig session;
    bool operator==(const Config&) const = default;
};

struct Rgb8 {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    bool operator==(const Rgb8&) const = default;
};

// Maps TOML text onto a Config; the error is the parser's description with line and column.
Result<Config> parse_config(std::string_view text);

Config load_config();

Rgb8 parse_hex_color(std::string_view text);
