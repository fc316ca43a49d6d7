# Large text with high contrast on 1920x1080: fields of 480 x 66, the bar 84 high, "Log In" 1.5
# times its normal 56 pixels wide; scale 2 comes down to 1, which the log says.
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
