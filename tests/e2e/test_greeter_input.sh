# Typing into the greeter: the user name replaces the "Username" placeholder, the password shows
# as bullets (one per byte of its UTF-8), Escape restores the first look; events other clients
# send are ignored; a window mapped over the greeter and unmapped again is repainted; a click on
# "Power Off" is logged.

# Bounding box "WxH+X+Y" of the bright pixels in a region of a screenshot.
bright_box() { # shot region
    /usr/bin/convert "$W/$1.png" -crop "$2" +repage -colorspace gray -threshold 45% \
        -format '%@' info:
}

brightest() { # shot region -> 0..255
    /usr/bin/convert "$W/$1.png" -crop "$2" +repage -colorspace gray \
        -format '%[fx:round(255*maxima)]' info:
}

# Number of differing pixels between the same region of two screenshots.
differing() { # shot_a shot_b region
    /usr/bin/convert "$W/$1.png" -crop "$3" +repage "$W/diff_a.png"
    /usr/bin/convert "$W/$2.png" -crop "$3" +repage "$W/diff_b.png"
    /usr/bin/compare -metric AE "$W/diff_a.png" "$W/diff_b.png" null: 2>&1 || true
}

box_field() { # "WxH+X+Y" field(1..4)
    echo "$1" | awk -F'[x+]' -v f="$2" '{print $f}'
}

within() { # value low high what
    [ "$1" -ge "$2" ] && [ "$1" -le "$3" ] || fail "$4: $1 not within $2..$3"
}

USER_TEXT=310x34+805+500 # inside the user-name field, outline excluded
PASS_TEXT=310x34+805+557 # inside the password field
BELOW_CLOCK=1920x730+0+350

start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 2 20 # the first paint is done
move_to 5 5
sleep 0.5
shot initial

# The placeholder is drawn at half opacity: its brightest pixel is white 0.5 over the field.
within "$(brightest initial $USER_TEXT)" 150 175 "placeholder brightness"
placeholder_box=$(bright_box initial $USER_TEXT)
# Events sent by another client (XSendEvent) are not input.
wid=$(greeter_window)
X xdotool type --window "$wid" --delay 30 forged
X xdotool key --window "$wid" Tab
sleep 0.5
shot after_forged
assert_eq 0 "$(differing initial after_forged $BELOW_CLOCK)" "pixels changed by forged keys"

# A typed user name is drawn opaque where "Username" was: same origin and baseline.
type_text bob
sleep 0.5
shot user_typed
within "$(brightest user_typed $USER_TEXT)" 250 255 "typed text brightness"
typed_box=$(bright_box user_typed $USER_TEXT)
note "placeholder $placeholder_box, typed $typed_box"
within "$(box_field "$typed_box" 3)" $(($(box_field "$placeholder_box" 3) - 2)) \
    $(($(box_field "$placeholder_box" 3) + 2)) "text left edge"
typed_bottom=$(($(box_field "$typed_box" 4) + $(box_field "$typed_box" 2)))
placeholder_bottom=$(($(box_field "$placeholder_box" 4) + $(box_field "$placeholder_box" 2)))
within "$typed_bottom" $((placeholder_bottom - 1)) $((placeholder_bottom + 1)) "text baseline"
typed_width=$(box_field "$typed_box" 1)
within "$typed_width" 20 45 "width of 'bob'"

# Tab, then typing: the password is drawn as small bullets, one per byte, from the same origin.
press Tab
type_text abc
sleep 0.5
shot three_bullets
within "$(brightest three_bullets $PASS_TEXT)" 250 255 "bullet brightness"
box3=$(bright_box three_bullets $PASS_TEXT)
type_text def
sleep 0.5
shot six_bullets
box6=$(bright_box six_bullets $PASS_TEXT)
note "3 bullets $box3, 6 bullets $box6"
within "$(box_field "$box3" 2)" 3 8 "bullet height"
within "$(box_field "$box3" 3)" 5 12 "bullet left edge"
w3=$(box_field "$box3" 1)
w6=$(box_field "$box6" 1)
within $((w6 * 10 / w3)) 18 23 "width ratio of 6 to 3 bullets"
# Non-ASCII keys reach the password as UTF-8: "pässwörd€" is 13 bytes, so 13 bullets.
press BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
X env LC_ALL=C.UTF-8 xdotool type --delay 100 -- "pässwörd€"
sleep 0.5
shot utf8_bullets
box13=$(bright_box utf8_bullets $PASS_TEXT)
note "13 bullets $box13"
advance=$(((w6 - w3) / 3))
within "$(box_field "$box13" 1)" $((w3 + 10 * advance - 2)) $((w3 + 10 * advance + 2)) \
    "width of the bullets for pässwörd€"
# The user name is still there, now in the unfocused field.
within "$(brightest six_bullets $USER_TEXT)" 250 255 "user name brightness after Tab"

# Escape restores the first look.
press Escape
sleep 0.5
shot escaped
assert_eq 0 "$(differing initial escaped $BELOW_CLOCK)" "pixels differing from the first look"

# A window mapped over the greeter and then unmapped is repainted (the greeter window has no
# background of its own, so without a repaint the other window's pixels would stay).
xauth_env=()
[ -f /run/vesko/xauth ] && xauth_env=(XAUTHORITY=/run/vesko/xauth)
env "${xauth_env[@]}" DISPLAY=:0 xlogo -geometry 300x300+850+420 &
logo=$!
sleep 1
shot covered
[ "$(differing initial covered $BELOW_CLOCK)" -gt 1000 ] || fail "xlogo did not cover the greeter"
kill "$logo"
wait "$logo" 2>/dev/null || true
sleep 0.7
shot uncovered
assert_eq 0 "$(differing initial uncovered $BELOW_CLOCK)" "pixels left after the window went"

# A forged click on "Power Off" does nothing; a real one is logged.
move_to 800 1050
sleep 0.3
X xdotool click --window "$wid" 1
sleep 0.5
assert_eq 0 "$(log_count "Power: initiating power off via sysrq")" "power-off lines after forged click"
click_at 800 1050
wait_log "[INFO] Power: initiating power off via sysrq" 5
assert_alive
