#include "desktop_entry.h"

#include <algorithm>
#include <optional>

#include "text.h"

namespace {

constexpr std::string_view MAIN_GROUP = "[Desktop Entry]";
constexpr std::string_view REMOVED_FIELD_CODES = "fFuUdDnNickvm";

bool is_true(std::string_view value) {
    return value == "true";
}

std::vector<std::string> split_list(std::string_view value) {
    std::vector<std::string> items;
    std::string item;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (value[i] == ';') {
            if (!item.empty()) {
                items.push_back(std::move(item));
            }
            item.clear();
        } else {
            item += value[i];
        }
    }
    if (!item.empty()) {
        items.push_back(std::move(item));
    }
    return items;
}

struct RawKeys {
    std::optional<std::string_view> name;
    std::optional<std::string_view> exec;
    std::optional<std::string_view> try_exec;
    std::optional<std::string_view> desktop_names;
    std::optional<std::string_view> hidden;
    std::optional<std::string_view> no_display;
};

// The first value of each key counts, as in other readers of the format.
void take_key(RawKeys& keys, std::string_view key, std::string_view value) {
    const std::pair<std::string_view, std::optional<std::string_view>*> known[] = {
        {"Name", &keys.name},        {"Exec", &keys.exec},
        {"TryExec", &keys.try_exec}, {"DesktopNames", &keys.desktop_names},
        {"Hidden", &keys.hidden},    {"NoDisplay", &keys.no_display},
    };
    for (const auto& [known_key, slot] : known) {
        if (key == known_key && !*slot) {
            *slot = value;
        }
    }
}

}  // namespace

std::string unescape_desktop_value(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[i + 1]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += value[i];
                continue;
        }
        ++i;
    }
    return out;
}

Result<std::string> strip_field_codes(std::string_view exec) {
    std::string out;
    out.reserve(exec.size());
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '%') {
            out += exec[i];
            continue;
        }
        if (i + 1 == exec.size()) {
            return Err{"Exec ends in a lone %"};
        }
        const char code = exec[++i];
        if (code == '%') {
            out += '%';
        } else if (REMOVED_FIELD_CODES.find(code) == std::string_view::npos) {
            return Err{std::string("Exec holds the unknown field code %") + code};
        }
    }
    return std::string(trim_space(out));
}

Result<DesktopEntry> parse_desktop_entry(std::string_view text) {
    if (text.size() > MAX_DESKTOP_ENTRY_BYTES) {
        return Err{"it is larger than " + std::to_string(MAX_DESKTOP_ENTRY_BYTES) + " bytes"};
    }
    if (text.find('\0') != std::string_view::npos) {
        return Err{"it is binary"};
    }
    if (!is_valid_utf8(text)) {
        return Err{"it is not valid UTF-8"};
    }
    RawKeys keys;
    bool in_main_group = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = trim_space(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        if (line.front() == '[') {
            in_main_group = line == MAIN_GROUP;
            continue;
        }
        const size_t equals = line.find('=');
        if (!in_main_group || equals == std::string_view::npos) {
            continue;
        }
        // Localized keys (Name[de]) keep their brackets and so match no key here.
        take_key(keys, trim_space(line.substr(0, equals)), trim_space(line.substr(equals + 1)));
    }
    DesktopEntry entry;
    entry.hidden = keys.hidden && is_true(*keys.hidden);
    entry.no_display = keys.no_display && is_true(*keys.no_display);
    if (keys.name) {
        entry.name = unescape_desktop_value(*keys.name);
    }
    if (entry.name.empty()) {
        return Err{"it has no Name"};
    }
    if (entry.name.size() > MAX_SESSION_NAME_BYTES) {
        return Err{"its Name is longer than " + std::to_string(MAX_SESSION_NAME_BYTES) + " bytes"};
    }
    if (has_control_char(entry.name)) {
        return Err{"its Name holds a control character"};
    }
    if (!keys.exec) {
        return Err{"it has no Exec"};
    }
    Result<std::string> exec = strip_field_codes(unescape_desktop_value(*keys.exec));
    if (!exec.ok()) {
        return Err{exec.error()};
    }
    if (exec.value().empty()) {
        return Err{"its Exec is empty"};
    }
    if (has_control_char(exec.value())) {
        return Err{"its Exec holds a control character"};
    }
    entry.exec = std::move(exec).value();
    if (keys.try_exec) {
        entry.try_exec = unescape_desktop_value(*keys.try_exec);
    }
    if (keys.desktop_names) {
        entry.desktop_names = split_list(*keys.desktop_names);
    }
    // They become XDG_CURRENT_DESKTOP, joined with ':'.
    for (const std::string& desktop : entry.desktop_names) {
        if (has_control_char(desktop) || desktop.find(':') != std::string::npos) {
            return Err{"its DesktopNames hold a control character or ':'"};
        }
    }
    return entry;
}
