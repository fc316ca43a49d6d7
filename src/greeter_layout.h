// Where everything of the greeter goes on its monitor: the one source of positions and sizes,
// which drawing reads and the input rules hit-test against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "geometry.h"

inline constexpr int32_t FIELD_WIDTH = 320;
inline constexpr int32_t FIELD_HEIGHT = 44;
inline constexpr int32_t GREETER_AVATAR_SIZE = 96;
// The message under the password field is centred and shortened to this width.
inline constexpr int32_t MESSAGE_WIDTH = 720;
inline constexpr int32_t MAX_SCALE = 4;
// Each of the focus ring's two rings, black outside and white inside, at scale 1.
inline constexpr int32_t FOCUS_RING_WIDTH = 2;
// Moved to the bar's left end, the session button may narrow to this, its name shortened.
inline constexpr int32_t SESSION_BUTTON_MIN_WIDTH = 100;

struct GreeterLayout {
    Point clock_baseline;  // x is the centre
    Rect avatar;
    Rect avatar_head;
    Rect avatar_body;
    Rect username_rect;
    Point username_text;
    Rect password_rect;
    Point password_text;
    Point message_baseline;  // x is the centre
    Rect login_rect;
    Point login_baseline;  // x is the centre
    Rect bottom_bar;
    Rect power_off_rect;
    Point power_off_baseline;  // x is the centre
    Rect reboot_rect;
    Point reboot_baseline;  // x is the centre
    Rect console_rect;
    Point console_baseline;  // x is the centre
    Rect layout_rect;
    Point layout_baseline;  // x is the centre
    // Left of the layout button's place.
    Rect session_rect;
    // The accessibility button, at the bar's left end.
    Rect access_rect;
    Point access_baseline;  // x is the centre
    // A bar button's label baseline, from its top.
    int32_t button_text_rise = 0;
    // How many of the chooser's items fit one column above the bar.
    int32_t chooser_rows = 1;
    Point caps_lock_baseline;  // x is the centre
    // Where the message goes while the Caps Lock warning takes its place: below "Log In".
    Point message_low_baseline;  // x is the centre
};

// A length of the layout at `scale`; large text makes every length 1.5 times as long.
int32_t scaled_length(int32_t length, int32_t scale, bool large_text);
// Every position of the greeter on `area` (the chosen monitor) with every length times `scale`,
// and 1.5 times that with `large_text`.
GreeterLayout greeter_layout(const Rect& area, int32_t scale, bool large_text = false);
// The whole screen at scale 1.
GreeterLayout greeter_layout(int32_t width, int32_t height);

// The bar's button under (x, y): power off, reboot, console, the layout button, which is there
// only `with_layout_button`, then the accessibility button; NO_BUTTON (greeter_state.h) for none.
uint8_t hit_bar_button(const GreeterLayout& layout, bool with_layout_button, int32_t x, int32_t y);

// The rectangle of a button that can take the keyboard focus ("Log In" and the bar's); none for
// NO_BUTTON.
std::optional<Rect> button_rect(const GreeterLayout& layout, uint8_t button);

// The session button: left of the layout button's place, whether that button shows or not.
Rect session_button_rect(const GreeterLayout& layout, bool with_layout_button);
// Item `index` of the open chooser's `count`: a column above the session button, first on top;
// more than fit go into further columns to the left.
Rect chooser_item_rect(const GreeterLayout& layout, bool with_layout_button, size_t index,
                       size_t count);
std::optional<size_t> hit_chooser_item(const GreeterLayout& layout, bool with_layout_button,
                                       size_t count, int32_t x, int32_t y);
