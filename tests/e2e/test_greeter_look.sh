# The greeter's first look on a 1920x1080 screen, the focus swap after a click into the
# password field, and the hover colours of "Log In" and the power buttons. Every expected colour
# is the drawing colour blended (XRender Over, premultiplied) over what lies beneath, starting
# from the fallback colour #1a1a2e.

BG="26 26 46"

# Over with a colour given as fractions: the 16-bit premultiplied channels go to 8 bits, then
# result = source + destination * (255 - source alpha) / 255.
over() { # red green blue alpha "r g b" -> "r g b"
    awk -v r="$1" -v g="$2" -v b="$3" -v a="$4" -v d="$5" 'BEGIN {
        split(d, dst, " ")
        a16 = int(a * 65535); sa = int(a16 / 256)
        split(r " " g " " b, c, " ")
        out = ""
        for (i = 1; i <= 3; i++) {
            s = int(int(c[i] * a * 65535) / 256)
            v = s + dst[i] * (255 - sa) / 255
            out = out (i > 1 ? " " : "") int(v + 0.5)
        }
        print out
    }'
}
white() { over 1 1 1 "$1" "$2"; }

FIELD_FOCUSED=$(white 0.18 "$BG")
FIELD=$(white 0.12 "$BG")
OUTLINE_FOCUSED=$(white 0.4 "$FIELD_FOCUSED")
OUTLINE=$(white 0.2 "$FIELD")
CORNER_FOCUSED=$(white 0.4 "$OUTLINE_FOCUSED")
SQUARE=$(white 0.12 "$BG")
HEAD=$(white 0.3 "$SQUARE")
BODY=$(white 0.2 "$SQUARE")
HEAD_BODY=$(white 0.2 "$HEAD")
BODY_ONLY=$(white 0.2 "$BG")
LOGIN=$(over 0.31 0.55 1 0.3 "$BG")
LOGIN_HOVERED=$(over 0.31 0.55 1 0.5 "$BG")
BAR=$(over 0 0 0 0.3 "$BG")
BUTTON=$(white 0.1 "$BAR")
BUTTON_HOVERED=$(white 0.15 "$BAR")

expect() { # shot x y "r g b"
    # shellcheck disable=SC2086
    assert_pixel "$1" "$2" "$3" $4
}

# Pixels of the fields, the avatar placeholder and the buttons; text positions are avoided.
check_common() { # shot
    local s=$1
    # Avatar placeholder: square (912,380,96,96), head (944,394,32,32), body (932,422,56,56).
    expect "$s" 915 383 "$SQUARE"
    expect "$s" 1004 470 "$SQUARE"
    expect "$s" 950 400 "$HEAD"
    expect "$s" 975 425 "$HEAD_BODY"
    expect "$s" 940 470 "$BODY"
    expect "$s" 940 477 "$BODY_ONLY"
    expect "$s" 911 383 "$BG"
    expect "$s" 1008 383 "$BG"
    expect "$s" 915 379 "$BG"
    expect "$s" 940 478 "$BG"
    # Between and around the fields and the button.
    expect "$s" 799 510 "$BG"
    expect "$s" 1120 510 "$BG"
    expect "$s" 1000 495 "$BG"
    expect "$s" 1000 540 "$BG"
    expect "$s" 1000 551 "$BG"
    expect "$s" 1000 596 "$BG"
    expect "$s" 1000 631 "$BG"
    expect "$s" 1000 676 "$BG"
    expect "$s" 799 640 "$BG"
    expect "$s" 1120 640 "$BG"
    # Bottom bar (0,1024,1920,56) and the three buttons (y 1034, 140 x 36).
    expect "$s" 5 1024 "$BAR"
    expect "$s" 1915 1079 "$BAR"
    expect "$s" 5 1023 "$BG"
    expect "$s" 733 1040 "$BAR"
    expect "$s" 740 1033 "$BAR"
    expect "$s" 740 1070 "$BAR"
    expect "$s" 874 1040 "$BAR"
    expect "$s" 889 1040 "$BAR"
    expect "$s" 1030 1040 "$BAR"
    expect "$s" 1045 1040 "$BAR"
    expect "$s" 1186 1040 "$BAR"
    expect "$s" 500 1050 "$BAR"
}

check_buttons() { # shot hovered_index(0..3)
    local s=$1 i=0 x
    for x in 734 890 1046; do
        local want=$BUTTON
        [ "$i" = "$2" ] && want=$BUTTON_HOVERED
        expect "$s" $((x + 2)) 1036 "$want"
        expect "$s" $((x + 139)) 1069 "$want"
        expect "$s" $x 1034 "$want"
        i=$((i + 1))
    done
}

check_fields() { # shot password_focused(0|1)
    local s=$1 top_fill top_outline top_corner low_fill low_outline
    if [ "$2" = 0 ]; then
        top_fill=$FIELD_FOCUSED top_outline=$OUTLINE_FOCUSED top_corner=$CORNER_FOCUSED
        low_fill=$FIELD low_outline=$OUTLINE
    else
        top_fill=$FIELD top_outline=$OUTLINE top_corner=$(white 0.2 "$OUTLINE")
        low_fill=$FIELD_FOCUSED low_outline=$OUTLINE_FOCUSED
    fi
    # User-name field (800,496,320,44): fill, each side of the outline, a corner.
    expect "$s" 1100 500 "$top_fill"
    expect "$s" 1100 535 "$top_fill"
    expect "$s" 1000 496 "$top_outline"
    expect "$s" 1000 539 "$top_outline"
    expect "$s" 800 510 "$top_outline"
    expect "$s" 1119 510 "$top_outline"
    expect "$s" 800 496 "$top_corner"
    # Password field (800,552,320,44).
    expect "$s" 1100 556 "$low_fill"
    expect "$s" 1100 591 "$low_fill"
    expect "$s" 1000 552 "$low_outline"
    expect "$s" 1000 595 "$low_outline"
    expect "$s" 800 570 "$low_outline"
    expect "$s" 1119 570 "$low_outline"
}

check_login() { # shot colour
    expect "$1" 800 632 "$2"
    expect "$1" 1119 675 "$2"
    expect "$1" 1100 640 "$2"
}

start_vesko
wait_greeter
wait_pixel 5 5 $BG 2 20 # the first paint is done
move_to 5 5
sleep 0.5

shot initial
check_common initial
check_fields initial 0
check_login initial "$LOGIN"
check_buttons initial 3

# A click into the password field swaps the focus colours.
click_at 1100 570
sleep 0.5
shot password_focused
check_fields password_focused 1
check_common password_focused

# ...and a click into the user-name field swaps them back.
click_at 1100 510
sleep 0.5
shot user_focused
check_fields user_focused 0

# "Log In" turns to blue 0.5 while the pointer is over it, and back when it leaves.
move_to 960 634
sleep 0.5
shot login_hovered
check_login login_hovered "$LOGIN_HOVERED"
check_fields login_hovered 0
move_to 960 700
sleep 0.5
shot login_left
check_login login_left "$LOGIN"

# Each power button brightens under the pointer; the neighbours and the bar stay as they were.
i=0
for x in 800 960 1110; do
    move_to "$x" 1060
    sleep 0.5
    shot "button_$i"
    check_buttons "button_$i" "$i"
    check_login "button_$i" "$LOGIN"
    i=$((i + 1))
done
move_to 960 1000
sleep 0.5
shot buttons_left
check_buttons buttons_left 3
check_common buttons_left
assert_alive
