# Logins that do not start a session: empty fields (refused before anything is logged), a wrong
# password (the message shows, the password field empties and keeps the focus), and a user that
# PAM accepts but the password database does not know.
pam_unix_service
add_user alice 'right one' -u 1501
printf 'exit 0\n' >/tmp/home/alice/.xinitrc
chown alice: /tmp/home/alice/.xinitrc

start_vesko
wait_greeter

# 1920x1080: the password field and the message line below it.
crop() { # shot geometry -> $W/SHOT-crop.png
    /usr/bin/convert "$W/$1.png" -crop "$2" +repage "$W/$1-crop.png"
}
differing_pixels() { # shot shot geometry
    crop "$1" "$3"
    crop "$2" "$3"
    /usr/bin/compare -metric AE "$W/$1-crop.png" "$W/$2-crop.png" null: 2>&1 || true
}
PASSWORD_FIELD=320x44+800+552
MESSAGE_LINE=640x30+640+598
# Takes screenshot NAME until each condition "GEOMETRY differs|same REF" holds against REF.
shot_until() { # name [geometry differs|same ref]...
    local name=$1
    shift
    local deadline=$((SECONDS + 10)) ok n i
    local -a conditions=("$@")
    while :; do
        shot "$name"
        ok=1
        for ((i = 0; i < ${#conditions[@]}; i += 3)); do
            n=$(differing_pixels "${conditions[i + 2]}" "$name" "${conditions[i]}")
            case ${conditions[i + 1]} in
            differs) [ "$n" != 0 ] || ok=0 ;;
            same) [ "$n" = 0 ] || ok=0 ;;
            esac
        done
        [ $ok = 1 ] && return 0
        [ $SECONDS -lt $deadline ] || fail "the screen never showed $name: $*"
        sleep 0.2
    done
}

shot fresh
# Return in the empty name field moves to the password field; Return there submits.
press Return
press Return
shot_until no_user "$MESSAGE_LINE" differs fresh

# Back to the name field, a name, and an empty password: another message.
press shift+Tab
type_text alice
press Tab
press Return
shot_until no_password "$MESSAGE_LINE" differs fresh "$MESSAGE_LINE" differs no_user
assert_eq 0 "$(log_count "Attempting login")" "login attempts for empty fields"

# A wrong password: PAM's text on the screen, the field emptied, the focus still there.
type_text 'wrong one'
shot_until typed_wrong "$PASSWORD_FIELD" differs no_password
press Return
wait_log "Authentication failed for 'alice'"
shot_until wrong "$PASSWORD_FIELD" same no_password \
    "$MESSAGE_LINE" differs fresh "$MESSAGE_LINE" differs no_password
assert_log_order \
    "[INFO] Attempting login for user 'alice'" \
    "[ERROR] PAM: authenticate() failed: Auth_Err (7)" \
    "[WARN] Authentication failed for 'alice': Authentication failed: Auth_Err (7)"
assert_eq 1 "$(log_count "Authentication failed for 'alice'")" "WARN lines"
assert_eq 0 "$(log_count "Authentication succeeded")" "successes"
assert_eq 0 "$(log_count "launch_session")" "launches"

# Typing on goes into the emptied password field: only the right password is submitted.
type_text 'right one'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
assert_eq 1 "$(log_count "Authentication succeeded for user 'alice'")" "successes"

# PAM accepts "ghost" (the test module swaps in alice for its own checks), but getpwnam does not
# know the name: the launch fails without a fork.
MOD=$(realpath "$BUILD/pam_vesko_test.so")
cat >/etc/pam.d/vesko <<PAM
auth     required $MOD ask_user password=secret
account  required $MOD
session  required $MOD set_user=alice
PAM
shot before_ghost
type_text ghost
press Tab
type_text secret
press Return
wait_log "Session launch failed for 'ghost'"
shot_until ghost "$PASSWORD_FIELD" same no_password "$MESSAGE_LINE" differs before_ghost \
    "$MESSAGE_LINE" differs wrong
log_messages | sed -n "/Attempting login for user 'ghost'/,\$p" >"$W/ghost-lines"
grep -vE '^\[(INFO|DEBUG|ERROR)\] PAM: ' "$W/ghost-lines" >"$W/ghost-own-lines"
assert_eq "[INFO] Attempting login for user 'ghost'
[INFO] Authentication succeeded for user 'ghost'
[INFO] Launching graphical session for 'ghost'
[INFO] launch_session: user='ghost' display=':0' graphical=true
[ERROR] User 'ghost' not found in /etc/passwd
[ERROR] Session launch failed for 'ghost': User 'ghost' not found" \
    "$(cat "$W/ghost-own-lines")" "the lines of a login without a passwd entry"
assert_alive
[ -n "$(greeter_window)" ] || fail "the greeter went away"
assert_eq 2 "$(log_count "Entering login screen")" "showings"
