# The console session kind: the child takes the user's identity, switches to terminal 2, and
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

login_carl() {
    type_text carl
    press Tab
    type_text 'carl pass'
    press Return
}

# In the sandbox /dev/tty0 is /dev/null: the user may open it, and the switch request fails.
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
# The child's own line goes to the daemon's standard error (the log file is root's alone).
sed -E 's/^\[[^]]*\] //' "$W/vesko.stderr" >"$W/stderr-messages"
sed -n "/Session child forked with PID $pid/,/Child PID $pid exited/p" "$W/stderr-messages" |
    grep -F "Power:" >"$W/child-lines" || true
assert_eq "[INFO] Power: switching to VT 2" "$(cat "$W/child-lines")" "the child's lines"
[ -e /tmp/home/carl/script-ran ] && fail "the console kind ran the start script"
[ -e /tmp/home/carl/session.log ] && fail "the console kind opened a session log"

# A terminal the user may not open: the failure is logged, the status is still 0.
printf 'not a terminal' >/tmp/root-only-tty
chmod 600 /tmp/root-only-tty
mount --bind /tmp/root-only-tty /dev/tty0
login_carl
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
sed -E 's/^\[[^]]*\] //' "$W/vesko.stderr" >"$W/stderr-messages"
sed -n "/Session child forked with PID $pid/,/Child PID $pid exited/p" "$W/stderr-messages" |
    grep -F "Power:" >"$W/child-lines" || true
assert_eq "[INFO] Power: switching to VT 2
[ERROR] Power: failed to open /dev/tty0" "$(cat "$W/child-lines")" "the child's lines"
assert_eq "not a terminal" "$(cat /tmp/root-only-tty)" "the terminal stand-in"

assert_eq "$xpid" "$(xorg_pid)" "X server PID"
assert_alive
