# Real pam_unix and pam_faillock: a user who must change the password (chage -d 0) is asked for a
# new one at the greeter; a mismatch and a new password under six characters show their messages
# and leave the user at the change prompts, Escape returns to the normal screen, and the change
# starts the session. Afterwards the new password works and the old one does not. A locked
# account shows pam_faillock's message. No password ever reaches the log.

# A lock that only the administrator lifts: pam_faillock then says one thing only.
FAILLOCK="deny=3 unlock_time=0"
cat >/etc/pam.d/vesko <<PAM
auth     required pam_faillock.so preauth $FAILLOCK
auth     [success=1 default=bad] pam_unix.so nodelay
auth     [default=die] pam_faillock.so authfail $FAILLOCK
auth     sufficient pam_faillock.so authsucc $FAILLOCK
account  required pam_faillock.so
account  required pam_unix.so
password required pam_unix.so
session  required pam_unix.so
PAM
add_user alice 'old secret'
chage -d 0 alice
add_user bob 'bob secret'
# The reset at the session's end drops every X client: the test's xdotool must finish first.
cat >/tmp/home/alice/.xinitrc <<'SH'
echo started >>"$HOME/sessions"
sleep 0.3
SH
mkdir -m 1777 /run/user

MESSAGE_LINE=1920x30+0+598
BELOW_CLOCK=1920x730+0+350

# The message line must show exactly this text: the width of its red ink is the text's.
assert_message() { # text
    local shown expected
    sleep 0.4
    shot message
    shown=$(/usr/bin/convert "$W/message.png" -crop $MESSAGE_LINE +repage -fx 'r-g' \
        -threshold 30% -format '%@' info: | cut -dx -f1)
    expected=$(X "$BUILD/x_text_width" "$1")
    [ "${shown:-0}" -ge $((expected - 3)) ] && [ "${shown:-0}" -le $((expected + 1)) ] ||
        fail "message line: $shown px of ink, '$1' is $expected px"
}

login() { # name password
    press Escape
    type_text "$1"
    press Tab
    type_text "$2"
    press Return
}

twice() { # new password, typed and repeated
    type_text "$1"
    press Return
    type_text "${2:-$1}"
    press Return
}

start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 2 20
move_to 5 5
shot first

login alice 'old secret'
wait_log "[INFO] The password of 'alice' has expired: asking for a new one"
assert_message "Your password has expired. Choose a new one."
assert_log_order \
    "[INFO] PAM: module message: You are required to change your password immediately (administrator enforced)." \
    "[ERROR] PAM: authenticate() failed: New_Authtok_Reqd (12)" \
    "[WARN] Authentication failed for 'alice': You are required to change your password immediately (administrator enforced)." \
    "[INFO] The password of 'alice' has expired: asking for a new one"

twice 'fresh secret' 'fresh secreT'
assert_message "The passwords do not match"
assert_eq 1 "$(log_count "Attempting login")" "login attempts after the mismatch"

# Still at the first of the two prompts: this pair is the next change, and too short.
twice 'a b'
# pam_unix says two things here (and repeats the second): both show, in one line.
wait_log "[WARN] Password change failed for 'alice': Changing password for alice. You must choose a longer password."
assert_message "Changing password for alice. You must choose a longer password."
assert_log_order "[INFO] PAM: calling authenticate()" \
    "[INFO] PAM: the password has expired; changing it" \
    "[INFO] PAM: module message: You must choose a longer password." \
    "[INFO] PAM: password change failed: AuthTok_Err (20)"

press Escape
sleep 0.5
shot escaped
# Below the clock, which may have turned to the next minute meanwhile.
for shot_name in first escaped; do
    /usr/bin/convert "$W/$shot_name.png" -crop 1920x710+0+370 +repage "$W/$shot_name-below-clock.png"
done
assert_eq 0 "$(/usr/bin/compare -metric AE "$W/first-below-clock.png" "$W/escaped-below-clock.png" null: 2>&1 || true)" \
    "pixels differing from the first look after Escape"

login alice 'old secret'
wait_log "has expired: asking for a new one" 15 2
twice 'fresh secret'
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
assert_log_order "[INFO] PAM: the password has expired; changing it" "[INFO] PAM: password changed" \
    "[INFO] PAM: authenticate() succeeded" "[INFO] Authentication succeeded for user 'alice'"
assert_eq started "$(cat /tmp/home/alice/sessions)" "sessions of alice"

login alice 'old secret'
wait_log "[WARN] Authentication failed for 'alice': Authentication failed: Auth_Err (7)"
login alice 'fresh secret'
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3

for attempt in 1 2 3; do
    login bob "wrong $attempt"
    wait_log "Authentication failed for 'bob'" 15 "$attempt"
done
login bob 'bob secret'
wait_log "[WARN] Authentication failed for 'bob': The account is locked due to 3 failed logins."
assert_message "The account is locked due to 3 failed logins."

for secret in 'old secret' 'fresh secret' 'fresh secreT' 'a b' 'bob secret' 'wrong 1'; do
    ! grep -qF "$secret" "$VESKO_LOG" "$W/vesko.stderr" || fail "'$secret' reached the log"
done
assert_alive
