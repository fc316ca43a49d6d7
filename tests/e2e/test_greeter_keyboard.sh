# The keyboard alone: Tab to "Reboot" draws a white ring inside a black one on it; Return only
# asks, another key cancels without writing the trigger, a second Return reboots; a login
# submitted from "Log In" with Space. At the next showing Space on the look button ("Aa"): the
# white fallback colour darkened to grey 79, opaque black fields and bar with white 2-pixel
# outlines, the focus ring yellow, the choice kept (0600); the showing after starts in it, and a
# click goes back to normal (large text, next in the round, does not fit 1024x768).
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
add_user alice 'alice pw'
printf '[background]\nfallback_color = "#ffffff"\n' | write_config
echo 'sleep 0.3' >/tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user
login() { type_text alice; press Tab; type_text 'alice pw'; press Tab space; }

start_vesko
wait_greeter
wait_first_paint
move_to 5 5
shot unfocused
# name, password, "Log In", "Aa", "Power Off", "Reboot" (442, 722, 140, 36).
press Tab Tab Tab Tab Tab
wait_pixel 443 740 255 255 255 0
assert_pixel wait_pixel 440 740 0 0 0 0
assert_eq "$(pixel unfocused 353 498)" "$(pixel wait_pixel 353 498)" "Log In without the focus"

# The question in the message line (720 x 30 at 152, 442), gone after another key.
message_line() { shot "$1"; /usr/bin/convert "$W/$1.png" -crop 720x30+152+442 "$W/$1.ppm"; }
message_line unfocused
press Return
sleep 0.5
message_line asked
cmp -s "$W/unfocused.ppm" "$W/asked.ppm" && fail "no question on the screen"
press a
sleep 0.5
message_line cancelled
cmp -s "$W/unfocused.ppm" "$W/cancelled.ppm" || fail "the question stayed"
assert_eq "" "$(cat /proc/sysrq-trigger)" "trigger after a cancelled Reboot"
press Return Return
wait_log "Power: initiating reboot via sysrq"
wait_until 15 "the trigger never held 'b'" file_is /proc/sysrq-trigger b

press Escape
login
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
wait_first_paint
press Tab Tab Tab space
wait_pixel 5 5 79 79 79 0
shot contrast
expect() { assert_pixel contrast "$1" "$2" $3 0; } # x y "r g b"
expect 353 370 "255 255 255" # user-name field (352, 340, 320, 44): white outline, black inside
expect 354 370 "0 0 0"
expect 5 740 "0 0 0"         # the bar
expect 512 300 "255 255 255" # the placeholder figure's body, opaque
expect 11 740 "255 255 0"    # the focus ring on "Aa" (10, 722, 100, 36)
assert_eq "high_contrast 600" "$(printf '%s %s' "$(cat /var/lib/vesko/accessibility)" \
    "$(stat -c %a /var/lib/vesko/accessibility)")" "kept look"

press Escape
login
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
wait_pixel 5 5 79 79 79 0
click_at 60 740
wait_pixel 5 5 255 255 255 0
assert_eq "normal" "$(cat /var/lib/vesko/accessibility)" "kept look after the click"
