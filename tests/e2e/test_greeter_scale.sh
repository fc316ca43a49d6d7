# High-density screens: `scale = 2` draws every element at twice its size; `scale = 0` keeps
# scale 1 on Xvfb's 96 dpi and turns to 2 when a monitor of 192 dpi is declared while the
# greeter shows, giving the very same picture.

BG="26 26 46"
# The colours of test_greeter_look.sh, blended over the fallback colour.
FIELD_FOCUSED="67 67 84" OUTLINE_FOCUSED="142 142 152" FIELD="53 53 71" LOGIN="41 60 108"
BAR="18 18 32" BUTTON="41 41 54" SQUARE="53 53 71"

expect() { # shot x y "r g b"
    # shellcheck disable=SC2086
    assert_pixel "$1" "$2" "$3" $4
}

# Scale 2 around (960, 540): fields 640 x 88 with 2-pixel outlines, the bar 112 high.
check_scale_two() { # shot
    local s=$1
    expect "$s" 866 222 "$SQUARE"    # avatar placeholder (864,220,192,192)
    expect "$s" 863 222 "$BG"
    expect "$s" 700 452 "$OUTLINE_FOCUSED" # user-name field (640,452,640,88)
    expect "$s" 700 453 "$OUTLINE_FOCUSED"
    expect "$s" 700 455 "$FIELD_FOCUSED"
    expect "$s" 1278 500 "$OUTLINE_FOCUSED"
    expect "$s" 1281 500 "$BG"
    expect "$s" 700 580 "$FIELD"     # password field (640,564,640,88)
    expect "$s" 700 562 "$BG"
    expect "$s" 645 730 "$LOGIN"     # "Log In" (640,724,640,88)
    expect "$s" 1275 810 "$LOGIN"
    expect "$s" 1275 813 "$BG"
    expect "$s" 5 968 "$BAR"         # bar (0,968,1920,112)
    expect "$s" 5 967 "$BG"
    expect "$s" 510 990 "$BUTTON"    # "Power Off" (508,988,280,72)
    expect "$s" 506 990 "$BAR"
    expect "$s" 1410 1058 "$BUTTON"  # "Console" (1132,988,280,72)
    expect "$s" 1413 1058 "$BAR"
}

differing() { # shot_a shot_b region
    /usr/bin/convert "$W/$1.png" -crop "$3" +repage "$W/a.png"
    /usr/bin/convert "$W/$2.png" -crop "$3" +repage "$W/b.png"
    /usr/bin/compare -metric AE "$W/a.png" "$W/b.png" null: 2>&1 || true
}

write_config <<<$'[ui]\nscale = 2'
start_vesko
wait_greeter
wait_pixel 5 5 $BG 2 20
move_to 5 5
sleep 0.3
shot configured
check_scale_two configured
assert_log_order "[INFO] Monitor: screen 1920x1080+0+0 scale=2"

# A second start with automatic scaling.
kill "$VESKO_PID"
wait_exit 10
kill "$(xorg_pid)"
deadline=$((SECONDS + 10))
while [ -S /tmp/.X11-unix/X0 ] || [ -e /tmp/.X0-lock ]; do
    [ $SECONDS -lt $deadline ] || fail "the first X server did not end"
    sleep 0.1
done
write_config <<<$'[ui]\nscale = 0'
start_vesko
wait_greeter 20 2
wait_pixel 5 5 $BG 2 20
move_to 5 5
sleep 0.3
shot automatic
expect automatic 1000 496 "$OUTLINE_FOCUSED" # scale 1: the user-name field at (800,496)
expect automatic 5 1024 "$BAR"
assert_eq 1 "$(log_count "Monitor: screen 1920x1080+0+0 scale=1")" "scale-1 showings"

X xrandr --setmonitor '*HIDPI' 1920/254x1080/143+0+0 none
wait_log "Monitor: HIDPI 1920x1080+0+0 scale=2" 5
sleep 0.5
shot dense
check_scale_two dense
# Everything below the clock (which may have turned a minute) as with `scale = 2`.
assert_eq 0 "$(differing configured dense 1920x930+0+150)" "pixels differing from scale = 2"
assert_alive
