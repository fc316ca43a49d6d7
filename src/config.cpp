#include "config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <sstream>

#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

#include "fd.h"
#include "log.h"
#include "text.h"

namespace {

constexpr Rgb8 DEFAULT_COLOR{0x1a, 0x1a, 0x2e};

std::string position(const toml::node& node) {
    const auto& begin = node.source().begin;
    return "at line " + std::to_string(begin.line) + ", column " + std::to_string(begin.column);
}

std::string describe(const toml::node& node) {
    std::ostringstream out;
    switch (node.type()) {
        case toml::node_type::string:
            out << "string \"" << node.as_string()->get() << "\"";
            break;
        case toml::node_type::integer:
            out << "integer `" << node.as_integer()->get() << "`";
            break;
        case toml::node_type::floating_point:
            out << "floating point `" << node.as_floating_point()->get() << "`";
            break;
        case toml::node_type::boolean:
            out << "boolean `" << (node.as_boolean()->get() ? "true" : "false") << "`";
            break;
        case toml::node_type::table:
            out << "table";
            break;
        case toml::node_type::array:
            out << "array";
            break;
        case toml::node_type::date:
            out << "date";
            break;
        case toml::node_type::time:
            out << "time";
            break;
        default:
            out << "date-time";
            break;
    }
    return out.str();
}

std::string type_error(const toml::node& node, std::string_view expected, std::string_view key) {
    return "invalid type: " + describe(node) + ", expected " + std::string(expected) +
           " for key `" + std::string(key) + "` " + position(node);
}

std::optional<std::string> map_hour(const toml::table& table, std::string_view name,
                                    std::string_view key, uint8_t& out) {
    const toml::node* node = table.get(name);
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto* integer = node->as_integer();
    if (integer == nullptr) {
        return type_error(*node, "u8", key);
    }
    const int64_t value = integer->get();
    if (value < 0 || value > 255) {
        return "invalid value: integer `" + std::to_string(value) + "`, expected u8 for key `" +
               std::string(key) + "` " + position(*node);
    }
    out = static_cast<uint8_t>(value);
    return std::nullopt;
}

std::optional<std::string> map_scale(const toml::table& table, uint8_t& out) {
    const toml::node* node = table.get("scale");
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto* integer = node->as_integer();
    if (integer == nullptr) {
        return type_error(*node, "an integer", "ui.scale");
    }
    const int64_t value = integer->get();
    if (value < 0 || value > MAX_UI_SCALE) {
        return "invalid value: integer `" + std::to_string(value) + "`, expected 0 to " +
               std::to_string(MAX_UI_SCALE) + " for key `ui.scale` " + position(*node);
    }
    out = static_cast<uint8_t>(value);
    return std::nullopt;
}

std::optional<std::string> map_string(const toml::table& table, std::string_view name,
                                      std::string_view key, std::string& out) {
    const toml::node* node = table.get(name);
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto* text = node->as_string();
    if (text == nullptr) {
        return type_error(*node, "a string", key);
    }
    out = text->get();
    return std::nullopt;
}

std::optional<std::string> map_bool(const toml::table& table, std::string_view name,
                                    std::string_view key, bool& out) {
    const toml::node* node = table.get(name);
    if (node == nullptr) {
        return std::nullopt;
    }
    const auto* flag = node->as_boolean();
    if (flag == nullptr) {
        return type_error(*node, "a boolean", key);
    }
    out = flag->get();
    return std::nullopt;
}

const toml::table* section(const toml::table& root, std::string_view name, std::string_view record,
                           std::optional<std::string>& error) {
    const toml::node* node = root.get(name);
    if (node == nullptr) {
        return nullptr;
    }
    if (!node->is_table()) {
        error = type_error(*node, record, name);
        return nullptr;
    }
    return node->as_table();
}

std::optional<std::string> map_config(const toml::table& root, Config& config) {
    std::optional<std::string> error;
    if (const auto* bg = section(root, "background", "struct BackgroundConfig", error)) {
        auto& b = config.background;
        if (!error)
            error = map_hour(*bg, "morning_start", "background.morning_start", b.morning_start);
        if (!error)
            error =
                map_hour(*bg, "afternoon_start", "background.afternoon_start", b.afternoon_start);
        if (!error)
            error = map_hour(*bg, "evening_start", "background.evening_start", b.evening_start);
        if (!error)
            error = map_hour(*bg, "night_start", "background.night_start", b.night_start);
        if (!error)
            error =
                map_string(*bg, "fallback_color", "background.fallback_color", b.fallback_color);
    }
    if (error)
        return error;
    if (const auto* ui = section(root, "ui", "struct UiConfig", error)) {
        error = map_bool(*ui, "clock_24h", "ui.clock_24h", config.ui.clock_24h);
        if (!error)
            error = map_string(*ui, "layouts", "ui.layouts", config.ui.layouts);
        if (!error)
            error = map_scale(*ui, config.ui.scale);
        if (!error) {
            error = map_bool(*ui, "remember_user", "ui.remember_user", config.ui.remember_user);
        }
    }
    if (error)
        return error;
    if (const auto* session = section(root, "session", "struct SessionConfig", error)) {
        error = map_string(*session, "default", "session.default", config.session.default_);
    }
    return error;
}

// Reads a regular file whole. Anything else (a FIFO, a device, a directory) is refused without
// blocking: start-up must never wait on the configuration.
std::optional<std::string> read_regular_file(const char* path) {
    const UniqueFd fd = open_regular_file(path);
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        return std::nullopt;
    }
    return read_all(fd.get(), static_cast<size_t>(st.st_size));
}

std::optional<uint8_t> parse_hex_pair(std::string_view pair) {
    // Accepts what an unsigned radix-16 parse accepts: hex digits, optionally after one '+'.
    if (!pair.empty() && pair.front() == '+') {
        pair.remove_prefix(1);
    }
    if (pair.empty()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : pair) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return static_cast<uint8_t>(value);
}

}  // namespace

Result<Config> parse_config(std::string_view text) {
    toml::table root;
    try {
        root = toml::parse(text);
    } catch (const toml::parse_error& err) {
        const auto& begin = err.source().begin;
        return Err{"TOML parse error at line " + std::to_string(begin.line) + ", column " +
                   std::to_string(begin.column) + ": " + std::string(err.description())};
    }
    Config config;
    if (auto error = map_config(root, config)) {
        return Err{std::move(*error)};
    }
    return config;
}

Config load_config() {
    Config config;
    struct stat st {};
    if (::stat(CONFIG_PATH, &st) != 0) {
        log_message(LogLevel::Warn,
                    std::string("Config file ") + CONFIG_PATH + " not found, using defaults");
    } else {
        log_message(LogLevel::Info, std::string("Loading config from ") + CONFIG_PATH);
        const auto text = read_regular_file(CONFIG_PATH);
        if (!text || !is_valid_utf8(*text)) {
            log_message(LogLevel::Error, std::string("Failed to read config file ") + CONFIG_PATH);
        } else if (auto parsed = parse_config(*text); !parsed) {
            log_message(LogLevel::Error, "Config parse error: " + parsed.error());
        } else {
            config = std::move(parsed).value();
            log_message(LogLevel::Info, "Config parsed successfully");
        }
    }
    log_message(LogLevel::Info, "Config loaded: session=" + config.session.default_ +
                                    ", clock_24h=" + (config.ui.clock_24h ? "true" : "false") +
                                    ", fallback_color=" + config.background.fallback_color);
    return config;
}

Rgb8 parse_hex_color(std::string_view text) {
    while (!text.empty() && text.front() == '#') {
        text.remove_prefix(1);
    }
    if (text.size() < 6) {
        return DEFAULT_COLOR;
    }
    const auto component = [&](size_t offset, uint8_t fallback) {
        return parse_hex_pair(text.substr(offset, 2)).value_or(fallback);
    };
    return Rgb8{component(0, DEFAULT_COLOR.red), component(2, DEFAULT_COLOR.green),
                component(4, DEFAULT_COLOR.blue)};
}
