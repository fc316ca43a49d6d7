// Checks that every text of the login screen fits its area in every catalog, measured with the
// greeter's own fonts on the display: x_text_fit POT LANGUAGE... (C for English). Prints each
// text's width and room at scale 1, with large text and at scale 2; fails listing the texts that
// overflow, and the catalog texts it knows no area for.
#include <X11/Xft/Xft.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "greeter_layout.h"
#include "texts.h"
#include "ui.h"

namespace {

enum class Area { Field, LoginButton, BarButton, LookButton, SessionButton, Message };

// A catalog text, where it is drawn, and what fills its "%s": a catalog text of its own (the
// reason after "Session launch failed: ") filled with a user name, or a literal.
struct Room {
    const char* english;
    Area area;
    const char* argument = nullptr;
};

constexpr const char* LONG_CODE = "AuthTok_Disable_Aging (23)";
constexpr const char* LONG_NAME = "maria.gonzalez";

const Room ROOMS[] = {
    {USERNAME_PLACEHOLDER, Area::Field},
    {PASSWORD_PLACEHOLDER, Area::Field},
    {NEW_PASSWORD_PLACEHOLDER, Area::Field},
    {REPEAT_PASSWORD_PLACEHOLDER, Area::Field},
    {LOGIN_LABEL, Area::LoginButton},
    {POWER_OFF_LABEL, Area::BarButton},
    {REBOOT_LABEL, Area::BarButton},
    {CONSOLE_LABEL, Area::BarButton},
    {ACCESS_LABEL, Area::LookButton},
    {"Default", Area::SessionButton},
    {CAPS_LOCK_TEXT, Area::Message},
    {"Your password has expired. Choose a new one.", Area::Message},
    {"The passwords do not match", Area::Message},
    {"Press Return again to power off", Area::Message},
    {"Press Return again to reboot", Area::Message},
    {"Please enter a username", Area::Message},
    {"Please enter a password", Area::Message},
    {"Authentication failed: %s", Area::Message, LONG_CODE},
    {"Session open failed: %s", Area::Message, LONG_CODE},
    {"Password change failed: %s", Area::Message, LONG_CODE},
    {"PAM init error: %s", Area::Message, LONG_CODE},
    {"Session launch failed: %s", Area::Message, "User '%s' not found"},
    {"Session launch failed: %s", Area::Message, "User '%s' has no login shell"},
    {"Session launch failed: %s", Area::Message,
     "the session process ended without starting the session"},
    {"Session launch failed: %s", Area::Message, "fork() failed"},
};

struct Size {
    int32_t scale;
    bool large_text;
    const char* name;
};
constexpr Size SIZES[] = {{1, false, "scale 1"}, {1, true, "large text"}, {2, false, "scale 2"}};

// Inside a button the label keeps a fifth of the button's height clear at either end, as the
// session button's does; a field's text keeps its left inset at the right too.
int32_t room_width(Area area, const GreeterLayout& l, const Size& size) {
    const auto inside = [](const Rect& r) { return r.width - 2 * r.height / 5; };
    switch (area) {
        case Area::Field:
            return l.username_rect.width - 2 * (l.username_text.x - l.username_rect.x);
        case Area::LoginButton:
            return l.login_rect.width - 2 * (l.username_text.x - l.username_rect.x);
        case Area::BarButton:
            return inside(l.power_off_rect);
        case Area::LookButton:
            return inside(l.access_rect);
        case Area::SessionButton:
            return inside(l.session_rect);
        case Area::Message:
            break;
    }
    return scaled_length(MESSAGE_WIDTH, size.scale, size.large_text);
}

// The catalog's texts: none of them holds a quote or a backslash.
std::set<std::string> catalog_texts(const char* pot_path) {
    std::set<std::string> texts;
    std::ifstream pot(pot_path);
    std::string line;
    while (std::getline(pot, line)) {
        if (line.starts_with("msgid \"") && line.size() > 8) {
            texts.insert(line.substr(7, line.size() - 8));
        }
    }
    return texts;
}

int32_t text_width(Display* display, XftFont* font, const std::string& text) {
    XGlyphInfo extents{};
    XftTextExtentsUtf8(display, font, reinterpret_cast<const FcChar8*>(text.data()),
                       static_cast<int>(text.size()), &extents);
    return std::max<int32_t>(extents.xOff, extents.width);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: x_text_fit POT LANGUAGE...\n");
        return 2;
    }
    int failures = 0;
    std::set<std::string> uncovered = catalog_texts(argv[1]);
    for (const Room& room : ROOMS) {
        uncovered.erase(room.english);
        if (room.argument != nullptr) {
            uncovered.erase(room.argument);
        }
    }
    for (const std::string& text : uncovered) {
        std::printf("NO AREA for '%s'\n", text.c_str());
        ++failures;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x_text_fit: cannot open the display\n");
        return 2;
    }
    const int screen = DefaultScreen(display);
    for (int a = 2; a < argc; ++a) {
        const std::string language = argv[a];
        const std::string lang = language == "C" ? language : language + ".UTF-8";
        (void)init_texts(LocaleEnvironment{"", "", lang, ""}, VESKO_BUILD_LOCALE_DIR);
        if (language != "C" && !texts_translated()) {
            std::printf("NO CATALOG for %s\n", language.c_str());
            ++failures;
            continue;
        }
        for (const Size& size : SIZES) {
            const GreeterLayout layout =
                greeter_layout(Rect{0, 0, 3840, 2160}, size.scale, size.large_text);
            XftFont* field = XftFontOpenName(
                display, screen, font_pattern(FIELD_FONT, size.scale, size.large_text).c_str());
            XftFont* small = XftFontOpenName(
                display, screen, font_pattern(SMALL_FONT, size.scale, size.large_text).c_str());
            if (field == nullptr || small == nullptr) {
                std::fprintf(stderr, "x_text_fit: the greeter's fonts do not open\n");
                return 2;
            }
            for (const Room& room : ROOMS) {
                std::string text = tr(room.english);
                if (room.argument != nullptr) {
                    text = fill_text(text, fill_text(tr(room.argument), LONG_NAME));
                }
                const bool big = room.area == Area::Field || room.area == Area::LoginButton;
                const int32_t width = text_width(display, big ? field : small, text);
                const int32_t room_px = room_width(room.area, layout, size);
                const bool fits = width <= room_px;
                failures += fits ? 0 : 1;
                std::printf("%s%s %s, %s: '%s' %d of %d\n", fits ? "" : "OVERFLOW ",
                            language.c_str(), size.name, room.english, text.c_str(), width,
                            room_px);
            }
            XftFontClose(display, field);
            XftFontClose(display, small);
        }
    }
    XCloseDisplay(display);
    return failures == 0 ? 0 : 1;
}
