#include "keyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/XKBrules.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "log.h"
#include "text.h"

namespace {

constexpr const char* RULES_NAMES_PROPERTY = "_XKB_RULES_NAMES";
// Longer than any real value; setxkbmap reads at most this much too.
constexpr long RULES_NAMES_MAX_WORDS = 1024;

bool has_symbols_file(const std::string& code) {
    const std::string path = std::string(XKB_ROOT) + "/symbols/" + code;
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string join(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        out += (out.empty() ? "" : ",") + item;
    }
    return out;
}

XkbRulesNames read_rules_names(Display* display, Window root) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, root, rules_names_atom(display), 0, RULES_NAMES_MAX_WORDS,
                           False, XA_STRING, &type, &format, &count, &after, &data) != Success) {
        return {};
    }
    const std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
    if (type != XA_STRING || format != 8 || data == nullptr) {
        return {};
    }
    return parse_rules_names(std::string_view(reinterpret_cast<const char*>(data), count));
}

struct RulesOwner {
    XkbRF_RulesPtr rules;
    explicit RulesOwner(XkbRF_RulesPtr loaded) : rules(loaded) {}
    RulesOwner(const RulesOwner&) = delete;
    RulesOwner& operator=(const RulesOwner&) = delete;
    ~RulesOwner() {
        if (rules != nullptr) {
            XkbRF_Free(rules, True);
        }
    }
};

// XkbRF_GetComponents fills these with malloc'd texts.
struct ComponentNames {
    XkbComponentNamesRec names{};
    ComponentNames() = default;
    ComponentNames(const ComponentNames&) = delete;
    ComponentNames& operator=(const ComponentNames&) = delete;
    ~ComponentNames() {
        for (char* text : {names.keymap, names.keycodes, names.types, names.compat, names.symbols,
                           names.geometry}) {
            std::free(text);
        }
    }
};

}  // namespace

XkbRulesNames parse_rules_names(std::string_view value) {
    XkbRulesNames names;
    std::string* fields[] = {&names.rules, &names.model, &names.layout, &names.variant,
                             &names.options};
    size_t start = 0;
    for (std::string* field : fields) {
        if (start > value.size()) {
            break;
        }
        const size_t end = std::min(value.find('\0', start), value.size());
        *field = std::string(value.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool is_layout_code(std::string_view code) {
    if (code.empty()) {
        return false;
    }
    for (const char c : code) {
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) {
            return false;
        }
    }
    return true;
}

LayoutChoice choose_layouts(const std::vector<std::string>& codes,
                            const std::function<bool(const std::string&)>& known) {
    LayoutChoice choice;
    for (const std::string& code : codes) {
        if (!is_layout_code(code) || !known(code)) {
            choice.unknown.push_back(code);
        } else if (choice.layouts.size() == MAX_LAYOUTS) {
            choice.beyond_limit.push_back(code);
        } else {
            choice.layouts.push_back(code);
        }
    }
    return choice;
}

std::vector<std::string> layout_labels(std::string_view layout_list, int groups) {
    // The list is positional: an empty item still names its group's place.
    std::vector<std::string> codes;
    while (true) {
        const size_t comma = layout_list.find(',');
        codes.emplace_back(trim_space(layout_list.substr(0, comma)));
        if (comma == std::string_view::npos) {
            break;
        }
        layout_list.remove_prefix(comma + 1);
    }
    std::vector<std::string> labels;
    for (int group = 0; group < groups; ++group) {
        std::string label =
            static_cast<size_t>(group) < codes.size() ? codes[static_cast<size_t>(group)] : "";
        // Xorg writes "de(nodeadkeys)" style layouts in some set-ups; the variant is not shown.
        label = label.substr(0, label.find('('));
        for (char& c : label) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        labels.push_back(label.empty() ? std::to_string(group + 1) : label);
    }
    return labels;
}

std::string active_layout_label(const KeyboardState& state) {
    if (state.labels.size() < 2 || state.group < 0 ||
        static_cast<size_t>(state.group) >= state.labels.size()) {
        return "";
    }
    return state.labels[static_cast<size_t>(state.group)];
}

Atom rules_names_atom(Display* display) {
    return XInternAtom(display, RULES_NAMES_PROPERTY, False);
}

int watch_keyboard(Display* display) {
    int opcode = 0;
    int event_base = 0;
    int error_base = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &event_base, &error_base, &major, &minor)) {
        return -1;
    }
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbStateNotify, XkbAllStateComponentsMask,
                          XkbModifierLockMask | XkbGroupStateMask);
    // A new keymap can bring another number of groups.
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbNewKeyboardNotify, XkbAllNewKeyboardEventsMask,
                          XkbAllNewKeyboardEventsMask);
    XkbSelectEventDetails(display, XkbUseCoreKbd, XkbControlsNotify, XkbAllControlsMask,
                          XkbAllControlsMask);
    return event_base;
}

KeyboardState read_keyboard(Display* display, Window root) {
    KeyboardState state;
    XkbStateRec xkb_state{};
    if (XkbGetState(display, XkbUseCoreKbd, &xkb_state) == Success) {
        state.caps_lock = (xkb_state.locked_mods & LockMask) != 0;
        state.group = xkb_state.group;
    }
    int groups = 1;
    const std::unique_ptr<XkbDescRec, void (*)(XkbDescPtr)> desc(
        XkbGetMap(display, 0, XkbUseCoreKbd), [](XkbDescPtr d) { XkbFreeKeyboard(d, 0, True); });
    if (desc && XkbGetControls(display, XkbGroupsWrapMask, desc.get()) == Success &&
        desc->ctrls != nullptr) {
        groups = desc->ctrls->num_groups;
    }
    state.labels = layout_labels(read_rules_names(display, root).layout, groups);
    return state;
}

bool follow_keyboard_event(KeyboardState& state, const XEvent& event) {
    XkbEvent xkb{};
    std::memcpy(&xkb, &event, std::min(sizeof xkb, sizeof event));
    if (xkb.any.xkb_type != XkbStateNotify) {
        return true;
    }
    state.caps_lock = (xkb.state.locked_mods & LockMask) != 0;
    state.group = xkb.state.group;
    return false;
}

void set_layouts(Display* display, Window root, const std::vector<std::string>& configured) {
    const LayoutChoice choice = choose_layouts(configured, has_symbols_file);
    for (const std::string& code : choice.unknown) {
        log_message(LogLevel::Warn,
                    "Keyboard: unknown layout '" + code + "' in ui.layouts, skipped");
    }
    for (const std::string& code : choice.beyond_limit) {
        log_message(LogLevel::Warn, "Keyboard: XKB takes " + std::to_string(MAX_LAYOUTS) +
                                        " layouts; '" + code + "' in ui.layouts skipped");
    }
    if (choice.layouts.empty()) {
        return;
    }
    std::string layouts = join(choice.layouts);
    const XkbRulesNames current = read_rules_names(display, root);
    // The X configuration may already give exactly these: a new keymap would only cost time.
    if (current.layout == layouts && current.variant.empty()) {
        return;
    }
    // A rules name with a path in it would read a file outside the XKB data.
    std::string rules = current.rules.empty() || current.rules.find('/') != std::string::npos
                            ? XKB_DEFAULT_RULES
                            : current.rules;
    std::string model = current.model.empty() ? XKB_DEFAULT_MODEL : current.model;
    std::string options = current.options;
    std::string rules_path = std::string(XKB_ROOT) + "/rules/" + rules;
    std::string locale = "C";
    const RulesOwner loaded(XkbRF_Load(rules_path.data(), locale.data(), False, True));
    XkbRF_VarDefsRec vars{};
    vars.model = model.data();
    vars.layout = layouts.data();
    vars.options = options.empty() ? nullptr : options.data();
    ComponentNames components;
    if (loaded.rules == nullptr || !XkbRF_GetComponents(loaded.rules, &vars, &components.names)) {
        log_message(LogLevel::Error,
                    "Keyboard: cannot read the XKB rules " + rules_path + "; layouts not set");
        return;
    }
    XkbDescPtr keymap =
        XkbGetKeyboardByName(display, XkbUseCoreKbd, &components.names, XkbGBN_AllComponentsMask,
                             XkbGBN_AllComponentsMask & ~XkbGBN_GeometryMask, True);
    if (keymap == nullptr) {
        log_message(LogLevel::Error, "Keyboard: the X server did not take the layouts " + layouts);
        return;
    }
    XkbFreeKeyboard(keymap, XkbAllComponentsMask, True);
    XkbRF_SetNamesProp(display, rules.data(), &vars);
    log_message(LogLevel::Info, "Keyboard: layouts set to " + layouts);
}

void lock_next_layout(Display* display, const KeyboardState& state) {
    if (state.labels.size() < 2) {
        return;
    }
    const auto next = static_cast<unsigned>(state.group + 1) % state.labels.size();
    XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(next));
    XFlush(display);
}
