# Three showings with `remember_user`, `scale = 2` and two keyboard layouts: the remembered user's
# avatar is drawn at scale 2 (192 x 192 around (960, 316)); pam_faillock's two messages about a
# locked account show together on the message line; and each showing logs its lines in the same
# order, with one background block.

FAILLOCK="deny=3 unlock_time=600"
cat >/etc/pam.d/vesko <<PAM
auth     required pam_faillock.so preauth $FAILLOCK
auth     [success=1 default=bad] pam_unix.so nodelay
auth     [default=die] pam_faillock.so authfail $FAILLOCK
auth     sufficient pam_faillock.so authsucc $FAILLOCK
account  required pam_faillock.so
account  required pam_unix.so
session  required pam_unix.so
PAM
add_user alice 'alice pw'
add_user bob 'bob pw'
/usr/bin/convert -size 200x200 xc:'#ff0000' "png:/tmp/home/alice/.face"
# The reset at the session's end drops every X client: the test's xdotool must finish first.
echo 'sleep 0.3' >/tmp/home/alice/.xinitrc
chown alice: /tmp/home/alice/.face /tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user
write_config <<'TOML'
[ui]
remember_user = true
scale = 2
layouts = "us,de"
TOML
BG="26 26 46"
# A picture of the fallback colour: loading it takes the second thread a while.
/usr/bin/convert -size 3000x2000 xc:'#1a1a2e' "$W/plain.png"
for period in morning afternoon evening night; do
    install -D -m 644 "$W/plain.png" "/usr/share/vesko/backgrounds/$period/plain.png"
done
# The message line at scale 2: baseline 540 + 2 * 78.
MESSAGE_LINE=1920x48+0+660

login() { # name password
    press Escape
    type_text "$1"
    press Tab
    type_text "$2"
    press Return
}

# What a showing logged from its start up to the first login attempt, numbers masked (the hour
# may turn meanwhile).
showing_lines() { # nth
    log_messages | awk -v nth="$1" '
        /^\[INFO\] Entering login screen$/ { n++ }
        n == nth && /Attempting login/ { exit }
        n == nth { print }' | sed -E 's/[0-9]+/N/g'
}

start_vesko
wait_greeter
wait_pixel 5 5 $BG 2 20
login alice 'alice pw'
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
wait_pixel 5 5 $BG 2 20
move_to 5 5
sleep 0.3
shot remembered
for point in "960 316" "880 316" "1040 316" "960 240" "960 400"; do
    # shellcheck disable=SC2086
    assert_pixel remembered $point 255 0 0
done
assert_pixel remembered 866 222 $BG # the disc's corner: the background, not the placeholder

for attempt in 1 2 3; do
    login bob "wrong $attempt"
    wait_log "Authentication failed for 'bob'" 15 "$attempt"
done
login bob 'bob pw'
both="The account is locked due to 3 failed logins. (10 minutes left to unlock)"
wait_log "[WARN] Authentication failed for 'bob': $both"
assert_log_order "[INFO] PAM: module message: The account is locked due to 3 failed logins." \
    "[INFO] PAM: module message: (10 minutes left to unlock)" \
    "[WARN] Authentication failed for 'bob': $both"
sleep 0.4
shot locked
# The red ink on the message line is as wide as the two messages together.
shown=$(/usr/bin/convert "$W/locked.png" -crop $MESSAGE_LINE +repage -fx 'r-g' -threshold 30% \
    -format '%@' info: | cut -dx -f1)
expected=$(X "$BUILD/x_text_width" "$both" 2)
[ "${shown:-0}" -ge $((expected - 3)) ] && [ "${shown:-0}" -le $((expected + 1)) ] ||
    fail "message line: $shown px of ink, both messages are $expected px"

login alice 'alice pw'
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
wait_pixel 5 5 $BG 2 20
sleep 0.5

showing_lines 1 >"$W/showing1"
for nth in 2 3; do
    showing_lines $nth >"$W/showing$nth"
    diff "$W/showing1" "$W/showing$nth" >&2 || fail "showing $nth logged another order"
done
assert_eq 3 "$(log_count "Background: hour=")" "background blocks"
assert_eq 3 "$(log_count "Background: loaded and scaled (8294400 bytes)")" "pictures loaded"
assert_eq 1 "$(grep -c "Keyboard: layouts set to us,de" "$W/showing1")" "keyboard lines"
assert_eq 0 "$(log_count "does not fit")" "scale warnings"
assert_alive
