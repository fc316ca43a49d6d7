# The keyboard alone: Tab reaches the bar's buttons and draws a white-in-black focus ring on the
# focused one; Return on Reboot only asks ("Press Return again to reboot"), another key cancels
# without writing the trigger, a second Return reboots; then a login typed and submitted from
# "Log In" with Space. At the next showing Space on "Contrast" turns the high-contrast look on:
# a white fallback colour darkened to grey 79, opaque black fields and bar with white outlines,
# the focused field's outline and the focus ring yellow; the choice is kept (0600) for the next showing.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
add_user alice 'alice pw'
printf '[background]\nfallback_color = "#ffffff"\n' | write_config
echo 'sleep 0.3' >/tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user

# 1024x768: "Log In" (352, 476, 320, 44), "Reboot" (442, 722, 140, 36).
REBOOT_INNER=(443 740) # on the white ring, just inside the button's left edge
REBOOT_OUTER=(440 740) # on the black ring, just outside
LOGIN_INNER=(353 498)
LOGIN_OUTER=(350 498)

differing() { # shot_a shot_b region
    /usr/bin/convert "$W/$1.png" -crop "$3" +repage "$W/diff_a.png"
    /usr/bin/convert "$W/$2.png" -crop "$3" +repage "$W/diff_b.png"
    /usr/bin/compare -metric AE "$W/diff_a.png" "$W/diff_b.png" null: 2>&1 || true
}

start_vesko
wait_greeter
wait_first_paint
move_to 5 5
sleep 0.3
shot unfocused
# name -> password -> "Log In": the ring on "Log In" and nowhere else.
press Tab Tab
wait_pixel "${LOGIN_INNER[@]}" 255 255 255 0
assert_pixel wait_pixel "${LOGIN_OUTER[@]}" 0 0 0 0
assert_eq "$(pixel unfocused "${REBOOT_INNER[@]}")" "$(pixel wait_pixel "${REBOOT_INNER[@]}")" \
    "Reboot without the focus"

# On past "Contrast" and "Power Off" to "Reboot": the ring moves.
press Tab Tab Tab
wait_pixel "${REBOOT_INNER[@]}" 255 255 255 0
assert_pixel wait_pixel "${REBOOT_OUTER[@]}" 0 0 0 0
assert_eq "$(pixel unfocused "${LOGIN_INNER[@]}")" "$(pixel wait_pixel "${LOGIN_INNER[@]}")" \
    "Log In without the focus"

# Return asks, in the message line; any other key cancels it and nothing is written.
MESSAGE_LINE=720x30+$((CX - 360))+$((CY + 58))
press Return
sleep 0.5
shot asked
[ "$(differing unfocused asked "$MESSAGE_LINE")" -gt 50 ] || fail "no question on the screen"
press a
sleep 0.5
shot cancelled
assert_eq 0 "$(differing unfocused cancelled "$MESSAGE_LINE")" "message line after the cancel"
assert_eq "" "$(cat /proc/sysrq-trigger)" "trigger after a cancelled Reboot"
assert_eq 0 "$(log_count "Power: initiating reboot")" "reboot lines after the cancel"
# Return twice: the reboot.
press Return
sleep 0.3
assert_eq "" "$(cat /proc/sysrq-trigger)" "trigger after one Return"
press Return
wait_log "Power: initiating reboot via sysrq"
trigger_holds() { [ "$(cat /proc/sysrq-trigger)" = b ]; }
wait_until 15 "the trigger never held 'b'" trigger_holds
assert_alive

# Escape: the name field again; name, Tab, password, Tab to "Log In", Space.
press Escape
type_text alice
press Tab
type_text 'alice pw'
press Tab space
wait_log "Authentication succeeded for user 'alice'" 20
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
wait_first_paint

# name -> password -> "Log In" -> "Contrast", Space: high contrast, kept for the next showing.
press Tab Tab Tab space
wait_pixel 5 5 79 79 79 0
shot contrast
expect() { assert_pixel contrast "$1" "$2" $3 0; } # x y "r g b"
expect 360 370 "0 0 0"       # user-name field (352, 340, 320, 44): opaque black
expect 353 370 "255 255 255" # its 2-pixel outline, white: the focus is on "Contrast"
expect 354 370 "0 0 0"
expect 360 498 "0 0 0"       # "Log In"
expect 353 498 "255 255 255"
expect 5 740 "0 0 0"         # the bar
expect 512 300 "255 255 255" # the placeholder figure's body, opaque
expect 11 740 "255 255 0"    # the focus ring on "Contrast" (10, 722, 100, 36): yellow here
expect 9 740 "0 0 0"
assert_eq "high_contrast" "$(cat /var/lib/vesko/accessibility)" "kept look"
assert_eq "600 root" "$(stat -c '%a %U' /var/lib/vesko/accessibility)" "kept look's file"
# Escape: the focus in the name field, its outline yellow.
press Escape
wait_pixel 353 370 255 255 0 0

# The next showing starts in high contrast; a click on "Contrast" switches back.
type_text alice
press Tab
type_text 'alice pw'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
wait_pixel 5 5 79 79 79 0
click_at 60 740
wait_pixel 5 5 255 255 255 0
assert_eq "normal" "$(cat /var/lib/vesko/accessibility)" "kept look after the click"
