// The keyboard as XKB sees it: Caps Lock, the layouts (XKB groups) and their names.
#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* XKB_ROOT = "/usr/share/X11/xkb";
inline constexpr const char* XKB_DEFAULT_RULES = "evdev";
inline constexpr const char* XKB_DEFAULT_MODEL = "pc105";
// XKB has four groups.
inline constexpr size_t MAX_LAYOUTS = 4;

// The root window's _XKB_RULES_NAMES: what the keymap was made from, as setxkbmap and Xorg
// write it.
struct XkbRulesNames {
    std::string rules;
    std::string model;
    std::string layout;
    std::string variant;
    std::string options;
    bool operator==(const XkbRulesNames&) const = default;
};

// The property's NUL-separated names, in order; missing ones stay empty.
XkbRulesNames parse_rules_names(std::string_view value);

// A code that can only name a file directly under symbols/.
bool is_layout_code(std::string_view code);

// What the `[ui] layouts` codes ask for: the codes to set, in order, and those left out.
struct LayoutChoice {
    std::vector<std::string> layouts;
    std::vector<std::string> unknown;
    std::vector<std::string> beyond_limit;
    bool operator==(const LayoutChoice&) const = default;
};

LayoutChoice choose_layouts(const std::vector<std::string>& codes,
                            const std::function<bool(const std::string&)>& known);

// The button text of each of `groups` groups: the layout code in capitals ("us" gives "US"),
// or the group's number where the rules' layout list has no code for it.
std::vector<std::string> layout_labels(std::string_view layout_list, int groups);

struct KeyboardState {
    bool caps_lock = false;
    int group = 0;
    std::vector<std::string> labels;  // one per group
    bool operator==(const KeyboardState&) const = default;
};

// The active layout's text; empty when there is only one layout (nothing is shown).
std::string active_layout_label(const KeyboardState& state);

// Asks for the XKB events that change the state; returns XKB's event base, or -1 when the
// server has no XKB.
int watch_keyboard(Display* display);

KeyboardState read_keyboard(Display* display, Window root);

// Follows an XKB event (of XKB's event base): true when the state must be read again whole.
bool follow_keyboard_event(KeyboardState& state, const XEvent& event);

// Sets the configured layouts as setxkbmap would, keeping the rules, model and options the
// server has; unknown codes are logged and skipped.
void set_layouts(Display* display, Window root, const std::vector<std::string>& configured);

void lock_next_layout(Display* display, const KeyboardState& state);

// The root window property that names the layouts.
Atom rules_names_atom(Display* display);
