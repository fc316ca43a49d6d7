# The Caps Lock warning: on already when the greeter appears, off and on again with either field
# focused, and a login message moving below "Log In" while the warning takes its place.

GAP=320x34+800+598    # between the password field (ends at y 596) and "Log In" (starts at 632)
BELOW_LOGIN=320x40+800+680

brightest() { # shot region -> 0..255
    /usr/bin/convert "$W/$1.png" -crop "$2" +repage -colorspace gray \
        -format '%[fx:round(255*maxima)]' info:
}
bright_box() { # shot region -> WxH+X+Y of the bright pixels
    /usr/bin/convert "$W/$1.png" -crop "$2" +repage -colorspace gray -threshold 30% \
        -format '%@' info:
}
red_pixels() { # shot region -> count of pixels of the message's red
    /usr/bin/convert "$W/$1.png" -crop "$2" +repage -fx 'r > 0.6 && g < 0.45 ? 1 : 0' \
        -format '%[fx:round(w*h*mean)]' info:
}
# The warning: half-opaque white text, centred on x 960 (+-3), about as wide as its words.
assert_warning() { # shot
    local box width left
    [ "$(brightest "$1" $GAP)" -ge 110 ] && [ "$(brightest "$1" $GAP)" -le 180 ] ||
        fail "$1: no half-opaque text between the password field and Log In"
    box=$(bright_box "$1" $GAP)
    width=${box%%x*}
    left=$(echo "$box" | cut -d+ -f2)
    [ "$width" -ge 90 ] && [ "$width" -le 140 ] || fail "$1: warning $box is not one short line"
    [ $((800 + left + width / 2 - 960)) -ge -3 ] && [ $((800 + left + width / 2 - 960)) -le 3 ] ||
        fail "$1: warning $box is not centred"
}
assert_no_warning() { # shot: the gap is bare background (#1a1a2e)
    [ "$(brightest "$1" $GAP)" -le 40 ] || fail "$1: something is drawn in the gap"
}

# Caps Lock is locked while the daemon takes the display (it connects as soon as the server is
# ready, so the lock may come just before or just after the first paint); the held connection
# keeps the server from resetting when the command ends.
start_vesko
wait_x_socket
X xdotool key Caps_Lock sleep 30 &
holder=$!
wait_greeter
kill "$holder"
wait "$holder" 2>/dev/null || true
wait_pixel 5 5 26 26 46 2 20
warning_drawn() { shot initial && [ "$(brightest initial $GAP)" -ge 110 ]; }
eventually 10 warning_drawn || true
assert_warning initial

# Off and on again from the password field, then off from the user-name field.
click_at 1100 570
press Caps_Lock
sleep 0.5
shot password_off
assert_no_warning password_off
press Caps_Lock
sleep 0.5
shot password_on
assert_warning password_on
click_at 1100 510
press Caps_Lock
sleep 0.5
shot user_off
assert_no_warning user_off

# A failed attempt's message: in the gap without Caps Lock, below "Log In" with it.
press Escape
click_at 960 654
sleep 0.5
shot message_alone
[ "$(red_pixels message_alone $GAP)" -gt 50 ] || fail "the message is not in the gap"
assert_eq 0 "$(red_pixels message_alone $BELOW_LOGIN)" "red pixels below Log In"
press Caps_Lock
sleep 0.5
shot message_low
[ "$(red_pixels message_low $BELOW_LOGIN)" -gt 50 ] || fail "the message did not move below Log In"
assert_eq 0 "$(red_pixels message_low $GAP)" "red pixels in the gap with the warning"
assert_warning message_low
assert_alive
