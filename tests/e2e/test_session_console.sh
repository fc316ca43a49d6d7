# The console session kind: the session process switches to terminal 2 with root's rights and
# ends with status 0 without starting anything; the greeter comes back.
pam_unix_service
add_user carl 'carl pass' -u 1503
cat >/tmp/home/carl/.xinitrc <<'SH'
touch "$HOME/script-ran"
SH
chown carl: /tmp/home/carl/.xinitrc
write_config <<'TOML'
[session]
default = "console"
TOML

start_vesko
wait_greeter
xpid=$(xorg_pid)

# The "Power:" lines from the last launch up to the end of session process PID.
session_lines() { # pid
    log_messages | awk -v end="Child PID $1 exited" '
        /Launching console session for/ { buf = "" }
        /Power:/ { buf = buf $0 "\n" }
        index($0, end) { printf "%s", buf; exit }'
}

login_carl() {
    type_text carl
    press Tab
    type_text 'carl pass'
    press Return
}

# In the sandbox /dev/tty0 is /dev/null: it opens, and the switch request fails.
login_carl
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
assert_log_order \
    "[INFO] Authentication succeeded for user 'carl'" \
    "[INFO] Launching console session for 'carl'" \
    "[INFO] launch_session: user='carl' display=':0' graphical=false" \
    "[INFO] User 'carl': uid=1503 gid=1503 home='/tmp/home/carl' shell='/bin/bash'" \
    "[INFO] Session child forked with PID $pid" \
    "[INFO] Session launched with PID $pid" \
    "[INFO] Waiting for child PID $pid to exit" \
    "[INFO] Child PID $pid exited with code 0" \
    "[INFO] Session ended (code 0), re-showing login screen" \
    "[INFO] Entering login screen"
session_lines "$pid" >"$W/child-lines"
assert_eq "[INFO] Power: switching to VT 2" "$(cat "$W/child-lines")" "the session's lines"
[ -e /tmp/home/carl/script-ran ] && fail "the console kind ran the start script"
[ -e /tmp/home/carl/session.log ] && fail "the console kind opened a session log"

# A terminal only root may open (as on a real machine): the switch is still made, as root.
printf 'not a terminal' >/tmp/root-only-tty
chmod 600 /tmp/root-only-tty
mount --bind /tmp/root-only-tty /dev/tty0
strace -f -qq -e trace=ioctl -e signal=none -o "$W/ioctls" -p "$VESKO_PID" &
tracer=$!
sleep 0.5
login_carl
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
kill "$tracer"
wait "$tracer" 2>/dev/null || true
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
session_lines "$pid" >"$W/child-lines"
assert_eq "[INFO] Power: switching to VT 2" "$(cat "$W/child-lines")" "the session's lines"
grep -q "^$pid  *ioctl([0-9]*, VT_ACTIVATE, 0x2)" "$W/ioctls" ||
    fail "no VT_ACTIVATE from the session process: $(grep VT_ "$W/ioctls")"
assert_eq "not a terminal" "$(cat /tmp/root-only-tty)" "the terminal stand-in"

assert_eq "$xpid" "$(xorg_pid)" "X server PID"
assert_alive
