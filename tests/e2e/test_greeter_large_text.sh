# Large text and high contrast together on 1920x1080: fields of 480 x 66, the bar 84 high, the
# "Log In" label in the 21-point font, all opaque black with white 2-pixel outlines on the
# fallback colour; scale 2 comes down to 1, which the log says.
printf '[ui]\nlarge_text = true\nhigh_contrast = true\nscale = 2\n' | write_config
start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 0 20
move_to 5 5
sleep 0.3
shot large
expect() { assert_pixel large "$1" "$2" $3 0; } # x y "r g b"
expect 719 500 "26 26 46"     # user-name field (720, 474, 480, 66)
expect 720 500 "255 255 0"    # its outline, yellow: it has the focus
expect 721 500 "255 255 0"
expect 722 500 "0 0 0"
expect 1199 520 "255 255 0"
expect 1200 520 "26 26 46"
expect 721 560 "255 255 255"  # password field (720, 530, 480, 66): white outline
expect 722 560 "0 0 0"
expect 721 690 "255 255 255"  # "Log In" (720, 678, 480, 66)
expect 722 690 "0 0 0"
expect 5 995 "26 26 46"       # the bar (0, 996, 1920, 84)
expect 5 1000 "0 0 0"
expect 856 1030 "255 255 255" # "Reboot" (855, 1011, 210, 54)
expect 857 1030 "0 0 0"
# The label of "Log In" is 1.5 times its normal 56 pixels.
label=$(/usr/bin/convert "$W/large.png" -crop 470x56+725+683 +repage -threshold 50% -trim \
    -format %w info:)
[ "$label" -ge 82 ] && [ "$label" -le 86 ] || fail "\"Log In\" is $label pixels wide"
assert_log_order "[INFO] Monitor: screen 1920x1080+0+0 scale=1" \
    "[WARN] Monitor: scale 2 does not fit 1920x1080, using scale 1"
