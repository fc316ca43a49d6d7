# The session's end as the daemon reports it: the exit status as it stands, 1 for any signal,
# and the shell's own status for a start script that is a directory.
pam_unix_service
add_user bob 'bob pass' -u 1502
cat >/tmp/home/bob/.xinitrc <<'SH'
case $(cat "$HOME/mode") in
kill) kill -KILL $$ ;;
term) kill -TERM $$ ;;
*) exit "$(cat "$HOME/mode")" ;;
esac
SH
chown bob: /tmp/home/bob/.xinitrc

start_vesko
wait_greeter
xpid=$(xorg_pid)

showing=1
# Logs bob in with the given mode and checks the code the daemon derives.
session_with() { # mode expected_code
    echo "$1" >/tmp/home/bob/mode
    type_text bob
    press Tab
    type_text 'bob pass'
    press Return
    showing=$((showing + 1))
    wait_log "Entering login screen" 20 "$showing"
    local pid
    pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
    [ -n "$pid" ] || fail "no session PID for mode $1"
    assert_log_order "[INFO] Session launched with PID $pid" \
        "[INFO] Child PID $pid exited with code $2" \
        "[INFO] Session ended (code $2), re-showing login screen" \
        "[INFO] Entering login screen"
    wait_greeter 20 "$showing"
}

session_with 0 0
session_with 255 255
session_with 1 1
session_with 42 42
session_with kill 1
session_with term 1

# A directory named .xinitrc still counts as the start script: the shell gets it.
rm /tmp/home/bob/.xinitrc
mkdir /tmp/home/bob/.xinitrc
chown bob: /tmp/home/bob/.xinitrc
shell_code=0
runuser -u bob -- /bin/sh /tmp/home/bob/.xinitrc 2>/dev/null || shell_code=$?
session_with directory "$shell_code"
pgrep -x openbox >/dev/null && fail "openbox was started for a directory start script"

assert_eq "$xpid" "$(xorg_pid)" "X server PID"
kill -0 "$xpid" || fail "the X server is gone"
assert_alive
