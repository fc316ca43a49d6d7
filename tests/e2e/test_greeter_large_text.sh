# Large text with high contrast on 1920x1080: fields of 480 x 66, the bar 84 high, "Log In" 1.5
# times its normal 56 pixels wide; scale 2 comes down to 1, which the log says. The look button
# then drops high contrast and keeps large text. On 3840x2160 at scale 2 every length is 3 times.
printf '[ui]\nlarge_text = true\nhigh_contrast = true\nscale = 2\n' | write_config
start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 0 20
move_to 5 5
shot large
for p in "721 500 255 255 0" "722 500 0 0 0" "1200 520 26 26 46" "721 560 255 255 255" \
    "5 995 26 26 46" "5 1000 0 0 0" "856 1030 255 255 255" "857 1030 0 0 0"; do
    # shellcheck disable=SC2086
    assert_pixel large $p 0 # user name (720, 474), password (720, 530), bar, "Reboot" (855, 1011)
done
label=$(/usr/bin/convert "$W/large.png" -crop 470x56+725+683 +repage -threshold 50% -trim \
    -format %w info:)
[ "$label" -ge 82 ] && [ "$label" -le 86 ] || fail "\"Log In\" is $label pixels wide"
assert_log_order "[INFO] Monitor: screen 1920x1080+0+0 scale=1" \
    "[WARN] Monitor: scale 2 does not fit 1920x1080, using scale 1"

click_at 60 1030 # the look button (15, 1011, 150, 54)
wait_until 10 "the look was not kept" file_is /var/lib/vesko/accessibility large_text
shot large_normal
assert_pixel large_normal 722 500 67 67 84 # the focused name field, translucent again

stop_vesko_and_x
: >"$VESKO_LOG"
export VESKO_TEST_SCREEN=3840x2160x24
rm /var/lib/vesko/accessibility
start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 0 20
move_to 5 5
shot scale2
wait_log "[INFO] Monitor: screen 3840x2160+0+0 scale=2"
for p in "1439 1000 26 26 46" "1440 1000 255 255 0" "1443 1000 255 255 0" "1444 1000 0 0 0" \
    "1600 947 26 26 46" "1600 948 255 255 0" "1600 952 0 0 0" "5 1991 26 26 46" \
    "5 1992 255 255 255" "5 1996 0 0 0"; do
    # shellcheck disable=SC2086
    assert_pixel scale2 $p 0 # name field (1440, 948, 960, 132), 4-pixel outlines, bar at 1992
done
label=$(/usr/bin/convert "$W/scale2.png" -crop 940x112+1450+1366 +repage -threshold 50% -trim \
    -format %w info:)
[ "$label" -ge 164 ] && [ "$label" -le 172 ] || fail "\"Log In\" at scale 2 is $label pixels wide"
! log_has "does not fit" || fail "large text at scale 2 was reduced"
