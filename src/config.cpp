#include "config.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <sstream>
#include <variant>
#include <vector>

#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

#include "fd.h"
#include "log.h"
#include "text.h"

namespace {

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

// How a key's value is checked: hours and the scale are small integers with their own ranges.
enum class ValueKind { Hour, Scale, Text, Path, Flag };

// One key of the file ("table.key") and the field it fills; the order is the order of the checks.
struct KeyBinding {
    std::string_view key;
    std::string_view record;  // named in the error when the table is not a table
    ValueKind kind;
    std::variant<uint8_t*, std::string*, bool*> field;

    std::string_view section() const { return key.substr(0, key.find('.')); }
    std::string_view name() const { return key.substr(key.find('.') + 1); }
};

std::vector<KeyBinding> config_keys(Config& c, std::string& layouts) {
    constexpr std::string_view BG = "struct BackgroundConfig";
    constexpr std::string_view UI = "struct UiConfig";
    return {
        {"background.morning_start", BG, ValueKind::Hour, &c.background.morning_start},
        {"background.afternoon_start", BG, ValueKind::Hour, &c.background.afternoon_start},
        {"background.evening_start", BG, ValueKind::Hour, &c.background.evening_start},
        {"background.night_start", BG, ValueKind::Hour, &c.background.night_start},
        {"background.fallback_color", BG, ValueKind::Text, &c.background.fallback_color},
        {"ui.clock_24h", UI, ValueKind::Flag, &c.ui.clock_24h},
        {"ui.layouts", UI, ValueKind::Text, &layouts},
        {"ui.scale", UI, ValueKind::Scale, &c.ui.scale},
        {"ui.remember_user", UI, ValueKind::Flag, &c.ui.remember_user},
        {"ui.high_contrast", UI, ValueKind::Flag, &c.ui.high_contrast},
        {"ui.large_text", UI, ValueKind::Flag, &c.ui.large_text},
        {"session.default", "struct SessionConfig", ValueKind::Text, &c.session.default_},
        {"session.sessions_dir", "struct SessionConfig", ValueKind::Path, &c.session.sessions_dir},
        {"autologin.user", "struct AutologinConfig", ValueKind::Text, &c.autologin.user},
        {"autologin.session", "struct AutologinConfig", ValueKind::Text, &c.autologin.session},
    };
}

std::string out_of_range(int64_t value, std::string_view expected, std::string_view key,
                         const toml::node& node) {
    return "invalid value: integer `" + std::to_string(value) + "`, expected " +
           std::string(expected) + " for key `" + std::string(key) + "` " + position(node);
}

std::optional<std::string> map_key(const toml::node& node, const KeyBinding& binding) {
    const std::string_view key = binding.key;
    switch (binding.kind) {
        case ValueKind::Hour:
        case ValueKind::Scale: {
            const bool hour = binding.kind == ValueKind::Hour;
            const auto* integer = node.as_integer();
            if (integer == nullptr) {
                return type_error(node, hour ? "u8" : "an integer", key);
            }
            const int64_t value = integer->get();
            const int64_t max = hour ? 255 : MAX_UI_SCALE;
            if (value < 0 || value > max) {
                return out_of_range(value, hour ? "u8" : "0 to " + std::to_string(MAX_UI_SCALE),
                                    key, node);
            }
            *std::get<uint8_t*>(binding.field) = static_cast<uint8_t>(value);
            return std::nullopt;
        }
        case ValueKind::Text:
        case ValueKind::Path: {
            const auto* text = node.as_string();
            if (text == nullptr) {
                return type_error(node, "a string", key);
            }
            if (binding.kind == ValueKind::Path && !text->get().starts_with('/')) {
                return "invalid value: `" + text->get() + "`, expected an absolute path for key `" +
                       std::string(key) + "` " + position(node);
            }
            *std::get<std::string*>(binding.field) = text->get();
            return std::nullopt;
        }
        case ValueKind::Flag: {
            const auto* flag = node.as_boolean();
            if (flag == nullptr) {
                return type_error(node, "a boolean", key);
            }
            *std::get<bool*>(binding.field) = flag->get();
            return std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<std::string> map_config(const toml::table& root, Config& config,
                                      std::string& layouts) {
    std::string_view section;
    const toml::table* table = nullptr;
    for (const KeyBinding& binding : config_keys(config, layouts)) {
        if (binding.section() != section) {
            section = binding.section();
            table = nullptr;
            if (const toml::node* node = root.get(section)) {
                if (!node->is_table()) {
                    return type_error(*node, binding.record, section);
                }
                table = node->as_table();
            }
        }
        const toml::node* node = table != nullptr ? table->get(binding.name()) : nullptr;
        if (node == nullptr) {
            continue;
        }
        if (std::optional<std::string> error = map_key(*node, binding)) {
            return error;
        }
    }
    return std::nullopt;
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
    std::string layouts;
    if (auto error = map_config(root, config, layouts)) {
        return Err{std::move(*error)};
    }
    config.background.fallback_rgb = parse_hex_color(config.background.fallback_color);
    config.ui.layouts = split_layouts(layouts);
    config.session.kind = session_kind_of(config.session.default_);
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
        return DEFAULT_FALLBACK_RGB;
    }
    const auto component = [&](size_t offset, uint8_t fallback) {
        return parse_hex_pair(text.substr(offset, 2)).value_or(fallback);
    };
    return Rgb8{component(0, DEFAULT_FALLBACK_RGB.red), component(2, DEFAULT_FALLBACK_RGB.green),
                component(4, DEFAULT_FALLBACK_RGB.blue)};
}

std::vector<std::string> split_layouts(std::string_view list) {
    std::vector<std::string> items;
    while (true) {
        const size_t comma = list.find(',');
        const std::string_view item = trim_space(list.substr(0, comma));
        if (!item.empty()) {
            items.emplace_back(item);
        }
        if (comma == std::string_view::npos) {
            return items;
        }
        list.remove_prefix(comma + 1);
    }
}

SessionKind session_kind_of(std::string_view text) {
    return text == "graphical" ? SessionKind::Graphical : SessionKind::Console;
}

const char* session_kind_label(SessionKind kind) {
    return kind == SessionKind::Graphical ? "graphical" : "console";
}
