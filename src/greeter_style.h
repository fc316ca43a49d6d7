// How the greeter looks: fonts, texts (in English: translated where drawn) and the colour table,
// for drawing and its tests.
#pragma once

#include "texts.h"

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

inline constexpr const char* USERNAME_PLACEHOLDER = N_("Username");
inline constexpr const char* PASSWORD_PLACEHOLDER = N_("Password");
inline constexpr const char* NEW_PASSWORD_PLACEHOLDER = N_("New password");
inline constexpr const char* REPEAT_PASSWORD_PLACEHOLDER = N_("Repeat new password");
inline constexpr const char* LOGIN_LABEL = N_("Log In");
// TRANSLATORS: the bar's buttons are 140 pixels wide at 12 points: keep them short.
inline constexpr const char* POWER_OFF_LABEL = N_("Power Off");
inline constexpr const char* REBOOT_LABEL = N_("Reboot");
inline constexpr const char* CONSOLE_LABEL = N_("Console");
// The look button: the usual sign of text appearance, the same in every language.
inline constexpr const char* ACCESS_LABEL = "Aa";
inline constexpr const char* CAPS_LOCK_TEXT = N_("Caps Lock is on");

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

// Every drawing colour of one look: the normal one over the picture, or high contrast.
struct Palette {
    Rgba text;
    Rgba placeholder;
    Rgba message;
    Rgba field_focused;
    Rgba field;
    Rgba outline_focused;
    Rgba outline;
    Rgba avatar_square;
    Rgba avatar_head;
    Rgba avatar_body;
    Rgba login_hovered;
    Rgba login;
    Rgba bottom_bar;
    Rgba button_hovered;
    Rgba button;
    Rgba chooser;
    Rgba chooser_highlight;
    Rgba chooser_text;
    // Drawn around the fields and buttons; none (alpha 0) in the normal look.
    Rgba button_outline;
};

inline constexpr Palette NORMAL_PALETTE{TEXT_COLOR,
                                        PLACEHOLDER_COLOR,
                                        MESSAGE_COLOR,
                                        FIELD_FOCUSED_COLOR,
                                        FIELD_COLOR,
                                        OUTLINE_FOCUSED_COLOR,
                                        OUTLINE_COLOR,
                                        AVATAR_SQUARE_COLOR,
                                        AVATAR_HEAD_COLOR,
                                        AVATAR_BODY_COLOR,
                                        LOGIN_HOVERED_COLOR,
                                        LOGIN_COLOR,
                                        BOTTOM_BAR_COLOR,
                                        BUTTON_HOVERED_COLOR,
                                        BUTTON_COLOR,
                                        CHOOSER_COLOR,
                                        CHOOSER_HIGHLIGHT_COLOR,
                                        CHOOSER_TEXT_COLOR,
                                        {0.0, 0.0, 0.0, 0.0}};

// High contrast: opaque black areas with white 2-pixel outlines, white text, the message and the
// focused field's outline in yellow, dark blue under the pointer; nothing translucent.
inline constexpr Rgba HC_BLACK{0.0, 0.0, 0.0, 1.0};
inline constexpr Rgba HC_WHITE{1.0, 1.0, 1.0, 1.0};
inline constexpr Rgba HC_YELLOW{1.0, 1.0, 0.0, 1.0};
inline constexpr Rgba HC_BLUE{0.0, 0.0, 0.5, 1.0};
inline constexpr Palette HIGH_CONTRAST_PALETTE{HC_WHITE,  HC_WHITE, HC_YELLOW, HC_BLACK, HC_BLACK,
                                               HC_YELLOW, HC_WHITE, HC_BLACK,  HC_WHITE, HC_WHITE,
                                               HC_BLUE,   HC_BLACK, HC_BLACK,  HC_BLUE,  HC_BLACK,
                                               HC_BLACK,  HC_BLUE,  HC_WHITE,  HC_WHITE};
// Every text colour of the high-contrast look stands at least this far from its background.
inline constexpr double HIGH_CONTRAST_MIN_RATIO = 7.0;
