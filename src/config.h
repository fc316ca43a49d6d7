// Settings from /etc/vesko/config.toml; every key optional, any problem gives the defaults.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

inline constexpr const char* CONFIG_PATH = "/etc/vesko/config.toml";

struct Rgb8 {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
    bool operator==(const Rgb8&) const = default;
};

inline constexpr Rgb8 DEFAULT_FALLBACK_RGB{0x1a, 0x1a, 0x2e};

// Only the exact text "graphical" starts a graphical session; anything else is the console kind.
enum class SessionKind { Graphical, Console };

struct BackgroundConfig {
    uint8_t morning_start = 6;
    uint8_t afternoon_start = 12;
    uint8_t evening_start = 17;
    uint8_t night_start = 21;
    // As written, for the log; what is painted is read from it once, at load.
    std::string fallback_color = "#1a1a2e";
    Rgb8 fallback_rgb = DEFAULT_FALLBACK_RGB;
    bool operator==(const BackgroundConfig&) const = default;
};

inline constexpr uint8_t MAX_UI_SCALE = 4;

struct UiConfig {
    bool clock_24h = true;
    // XKB layout codes set at each showing, from a comma-separated list (items trimmed, empty
    // ones dropped); none leaves the server's own. Whether XKB knows them is asked at each showing.
    std::vector<std::string> layouts;
    // 0 chooses from the monitor's density; otherwise 1 to MAX_UI_SCALE.
    uint8_t scale = 0;
    // Offer the last user whose session started at the next showing (/var/lib/vesko/last-user).
    bool remember_user = false;
    // The high-contrast look until the accessibility button changes it
    // (/var/lib/vesko/accessibility then holds the choice).
    bool high_contrast = false;
    // Every font and the whole layout 1.5 times (where that fits the monitor at scale 1).
    bool large_text = false;
    bool operator==(const UiConfig&) const = default;
};

struct SessionConfig {
    // The key is "default", which C++ reserves. As written, for the log.
    std::string default_ = "graphical";
    SessionKind kind = SessionKind::Graphical;
    // Where the X sessions' desktop entries are read at each showing; an absolute path.
    std::string sessions_dir = "/usr/share/xsessions";
    bool operator==(const SessionConfig&) const = default;
};

// Once per boot, this user's session without the login screen; empty: never.
struct AutologinConfig {
    std::string user;
    // A session's id (its entry's file name without ".desktop"); empty: "Default".
    std::string session;
    bool operator==(const AutologinConfig&) const = default;
};

struct Config {
    BackgroundConfig background;
    UiConfig ui;
    SessionConfig session;
    AutologinConfig autologin;
    bool operator==(const Config&) const = default;
};

// Maps TOML text onto a Config; the error is the parser's description with line and column.
Result<Config> parse_config(std::string_view text);

Config load_config();

Rgb8 parse_hex_color(std::string_view text);

SessionKind session_kind_of(std::string_view text);
const char* session_kind_label(SessionKind kind);

// The comma-separated items without surrounding blanks; empty items dropped.
std::vector<std::string> split_layouts(std::string_view list);
