// How the greeter looks: fonts, texts and the colour table, for drawing and its tests.
#pragma once

struct Rgba {
    double red;
    double green;
    double blue;
    double alpha;
};

// Font sizes in points at scale 1.
struct FontSpec {
    int size;
    const char* style;  // appended to the pattern
};
inline constexpr FontSpec CLOCK_FONT{36, ":weight=light"};
inline constexpr FontSpec FIELD_FONT{14, ""};
inline constexpr FontSpec SMALL_FONT{12, ""};

inline constexpr const char* USERNAME_PLACEHOLDER = "Username";
inline constexpr const char* PASSWORD_PLACEHOLDER = "Password";
inline constexpr const char* NEW_PASSWORD_PLACEHOLDER = "New password";
inline constexpr const char* REPEAT_PASSWORD_PLACEHOLDER = "Repeat new password";
inline constexpr const char* LOGIN_LABEL = "Log In";
inline constexpr const char* POWER_OFF_LABEL = "Power Off";
inline constexpr const char* REBOOT_LABEL = "Reboot";
inline constexpr const char* CONSOLE_LABEL = "Console";
inline constexpr const char* CAPS_LOCK_TEXT = "Caps Lock is on";

// The colour table: there are no other drawing colours.
inline constexpr Rgba TEXT_COLOR{1.0, 1.0, 1.0, 1.0};
inline constexpr Rgba PLACEHOLDER_COLOR{1.0, 1.0, 1.0, 0.5};
inline constexpr Rgba MESSAGE_COLOR{1.0, 0.3, 0.3, 1.0};
inline constexpr Rgba FIELD_FOCUSED_COLOR{1.0, 1.0, 1.0, 0.18};
inline constexpr Rgba FIELD_COLOR{1.0, 1.0, 1.0, 0.12};
inline constexpr Rgba OUTLINE_FOCUSED_COLOR{1.0, 1.0, 1.0, 0.4};
inline constexpr Rgba OUTLINE_COLOR{1.0, 1.0, 1.0, 0.2};
inline constexpr Rgba AVATAR_SQUARE_COLOR = FIELD_COLOR;
inline constexpr Rgba AVATAR_HEAD_COLOR{1.0, 1.0, 1.0, 0.3};
inline constexpr Rgba AVATAR_BODY_COLOR{1.0, 1.0, 1.0, 0.2};
inline constexpr Rgba LOGIN_HOVERED_COLOR{0.31, 0.55, 1.0, 0.5};
inline constexpr Rgba LOGIN_COLOR{0.31, 0.55, 1.0, 0.3};
inline constexpr Rgba BOTTOM_BAR_COLOR{0.0, 0.0, 0.0, 0.3};
inline constexpr Rgba BUTTON_HOVERED_COLOR{1.0, 1.0, 1.0, 0.15};
inline constexpr Rgba BUTTON_COLOR{1.0, 1.0, 1.0, 0.1};
inline constexpr Rgba CHOOSER_COLOR{0.08, 0.08, 0.12, 0.85};
inline constexpr Rgba CHOOSER_HIGHLIGHT_COLOR{0.31, 0.55, 1.0, 0.6};
inline constexpr Rgba CHOOSER_TEXT_COLOR{1.0, 1.0, 1.0, 0.8};
// The keyboard focus ring: white inside black, seen on any background.
inline constexpr Rgba FOCUS_RING_OUTER_COLOR{0.0, 0.0, 0.0, 1.0};
inline constexpr Rgba FOCUS_RING_INNER_COLOR{1.0, 1.0, 1.0, 1.0};
