#include "greeter_layout.h"

#include <algorithm>

#include "greeter_state.h"

namespace {

// The login box at scale 1, in pixels from the centre of its monitor (negative is above).
constexpr int32_t CLOCK_BASELINE = -210;
constexpr int32_t AVATAR_TOP = -160;
constexpr int32_t AVATAR_HEAD_TOP = -146;
constexpr int32_t AVATAR_HEAD_SIZE = 32;
constexpr int32_t AVATAR_BODY_TOP = -118;
constexpr int32_t AVATAR_BODY_SIZE = 56;
constexpr int32_t USERNAME_TOP = -44;
constexpr int32_t PASSWORD_TOP = 12;
constexpr int32_t MESSAGE_BASELINE = 78;
constexpr int32_t LOGIN_TOP = 92;
// Where the message goes while the Caps Lock warning takes its place.
constexpr int32_t MESSAGE_LOW_BASELINE = 158;
// A field's text: from the field's left edge, and its baseline from the field's top.
constexpr int32_t FIELD_TEXT_INSET = 12;
constexpr int32_t FIELD_TEXT_BASELINE = 27;
// The power buttons' centres, left and right of the middle one.
constexpr int32_t POWER_BUTTON_SPACING = 156;

// Power-button labels sit this far above the screen's bottom edge.
constexpr int32_t POWER_LABEL_RISE = 23;
constexpr int32_t BUTTON_WIDTH = 140;
constexpr int32_t BUTTON_HEIGHT = 36;
// The bar's buttons stand this far from its top, bottom and right edges.
constexpr int32_t BAR_MARGIN = 10;
constexpr int32_t LAYOUT_BUTTON_WIDTH = 64;
constexpr int32_t SESSION_BUTTON_WIDTH = 200;
constexpr int32_t ACCESS_BUTTON_WIDTH = 100;

}  // namespace

GreeterLayout greeter_layout(const Rect& area, int32_t scale, bool large_text) {
    const int32_t s = std::clamp(scale, 1, MAX_SCALE);
    const auto px = [&](int32_t length) { return scaled_length(length, s, large_text); };
    const int32_t cx = area.x + area.width / 2;
    const int32_t cy = area.y + area.height / 2;
    const int32_t bottom = area.y + area.height;
    const int32_t bar_height = px(BUTTON_HEIGHT) + 2 * px(BAR_MARGIN);
    const int32_t button_y = bottom - px(BUTTON_HEIGHT + BAR_MARGIN);
    const int32_t label_y = bottom - px(POWER_LABEL_RISE);
    const int32_t field_x = cx - px(FIELD_WIDTH / 2);
    const int32_t text_x = field_x + px(FIELD_TEXT_INSET);
    const auto field = [&](int32_t top) {
        return Rect{field_x, cy + px(top), px(FIELD_WIDTH), px(FIELD_HEIGHT)};
    };
    const auto square = [&](int32_t top, int32_t size) {
        return Rect{cx - px(size / 2), cy + px(top), px(size), px(size)};
    };
    const auto button = [&](int32_t centre_offset) {
        return Rect{cx + px(centre_offset - BUTTON_WIDTH / 2), button_y, px(BUTTON_WIDTH),
                    px(BUTTON_HEIGHT)};
    };
    GreeterLayout l;
    l.clock_baseline = {cx, cy + px(CLOCK_BASELINE)};
    l.avatar = square(AVATAR_TOP, GREETER_AVATAR_SIZE);
    l.avatar_head = square(AVATAR_HEAD_TOP, AVATAR_HEAD_SIZE);
    l.avatar_body = square(AVATAR_BODY_TOP, AVATAR_BODY_SIZE);
    l.username_rect = field(USERNAME_TOP);
    l.username_text = {text_x, cy + px(USERNAME_TOP + FIELD_TEXT_BASELINE)};
    l.password_rect = field(PASSWORD_TOP);
    l.password_text = {text_x, cy + px(PASSWORD_TOP + FIELD_TEXT_BASELINE)};
    l.message_baseline = {cx, cy + px(MESSAGE_BASELINE)};
    l.login_rect = field(LOGIN_TOP);
    l.login_baseline = {cx, cy + px(LOGIN_TOP + FIELD_TEXT_BASELINE)};
    l.bottom_bar = {area.x, bottom - bar_height, area.width, bar_height};
    l.power_off_rect = button(-POWER_BUTTON_SPACING);
    l.power_off_baseline = {cx - px(POWER_BUTTON_SPACING), label_y};
    l.reboot_rect = button(0);
    l.reboot_baseline = {cx, label_y};
    l.console_rect = button(POWER_BUTTON_SPACING);
    l.console_baseline = {cx + px(POWER_BUTTON_SPACING), label_y};
    const int32_t right = area.x + area.width - px(BAR_MARGIN);
    l.layout_rect = {right - px(LAYOUT_BUTTON_WIDTH), button_y, px(LAYOUT_BUTTON_WIDTH),
                     px(BUTTON_HEIGHT)};
    l.layout_baseline = {right - px(LAYOUT_BUTTON_WIDTH / 2), label_y};
    l.session_rect = {l.layout_rect.x - px(BAR_MARGIN + SESSION_BUTTON_WIDTH), button_y,
                      px(SESSION_BUTTON_WIDTH), px(BUTTON_HEIGHT)};
    l.access_rect = {area.x + px(BAR_MARGIN), button_y, px(ACCESS_BUTTON_WIDTH), px(BUTTON_HEIGHT)};
    l.access_baseline = {l.access_rect.x + px(ACCESS_BUTTON_WIDTH / 2), label_y};
    // Where the power buttons leave no room beside the layout button (a narrow screen at a large
    // scale), it goes to the bar's other end, after the look button, as wide as the room left.
    if (l.session_rect.x < l.console_rect.x + l.console_rect.width) {
        l.session_rect.x = l.access_rect.x + l.access_rect.width + px(BAR_MARGIN);
        l.session_rect.width =
            std::clamp(l.power_off_rect.x - px(2 * BAR_MARGIN) - l.session_rect.x, 0,
                       px(SESSION_BUTTON_WIDTH));
    }
    l.button_text_rise = label_y - button_y;
    l.chooser_rows = std::max(1, (button_y - px(BAR_MARGIN) - area.y) / (px(BUTTON_HEIGHT)));
    l.caps_lock_baseline = l.message_baseline;
    l.message_low_baseline = {cx, cy + px(MESSAGE_LOW_BASELINE)};
    return l;
}

int32_t scaled_length(int32_t length, int32_t scale, bool large_text) {
    return large_text ? length * scale * 3 / 2 : length * scale;
}

GreeterLayout greeter_layout(int32_t width, int32_t height) {
    return greeter_layout(Rect{0, 0, width, height}, 1);
}

uint8_t hit_bar_button(const GreeterLayout& layout, bool with_layout_button, int32_t x, int32_t y) {
    if (rect_contains(layout.power_off_rect, x, y)) {
        return POWER_OFF_BUTTON;
    }
    if (rect_contains(layout.reboot_rect, x, y)) {
        return REBOOT_BUTTON;
    }
    if (rect_contains(layout.console_rect, x, y)) {
        return CONSOLE_BUTTON;
    }
    if (with_layout_button && rect_contains(layout.layout_rect, x, y)) {
        return LAYOUT_BUTTON;
    }
    if (rect_contains(layout.access_rect, x, y)) {
        return ACCESS_BUTTON;
    }
    return NO_BUTTON;
}

std::optional<Rect> button_rect(const GreeterLayout& layout, uint8_t button) {
    switch (button) {
        case LOGIN_BUTTON:
            return layout.login_rect;
        case POWER_OFF_BUTTON:
            return layout.power_off_rect;
        case REBOOT_BUTTON:
            return layout.reboot_rect;
        case CONSOLE_BUTTON:
            return layout.console_rect;
        case LAYOUT_BUTTON:
            return layout.layout_rect;
        case SESSION_BUTTON:
            return layout.session_rect;
        case ACCESS_BUTTON:
            return layout.access_rect;
        default:
            return std::nullopt;
    }
}

Rect session_button_rect(const GreeterLayout& layout, bool /*with_layout_button*/) {
    // Its place stays put whether the layout button shows or not: nothing moves under the pointer
    // when the layouts change.
    return layout.session_rect;
}

Rect chooser_item_rect(const GreeterLayout& layout, bool with_layout_button, size_t index,
                       size_t count) {
    const Rect button = session_button_rect(layout, with_layout_button);
    const auto rows = static_cast<size_t>(layout.chooser_rows);
    const auto column = static_cast<int32_t>(index / rows);
    const auto row = static_cast<int32_t>(index % rows);
    const auto shown_rows = static_cast<int32_t>(std::min(count, rows));
    // Further columns grow towards the middle of the bar, never off the screen.
    const bool at_left = button.x < layout.reboot_rect.x;
    const int32_t step = at_left ? button.width : -button.width;
    return Rect{button.x + column * step, button.y - (shown_rows - row) * button.height,
                button.width, button.height};
}

std::optional<size_t> hit_chooser_item(const GreeterLayout& layout, bool with_layout_button,
                                       size_t count, int32_t x, int32_t y) {
    for (size_t i = 0; i < count; ++i) {
        if (rect_contains(chooser_item_rect(layout, with_layout_button, i, count), x, y)) {
            return i;
        }
    }
    return std::nullopt;
}
