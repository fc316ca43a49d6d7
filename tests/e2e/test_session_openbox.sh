# A user without a start script gets the real window manager, as that user, on the daemon's
# X server; ending it brings the greeter back. A user whose home is missing gets it too, in "/",
# with its output kept away from the daemon's terminal.
pam_unix_service
add_user olga 'olga pass' -u 1504
useradd -M -d /nonexistent/home -s /bin/sh -u 1505 homeless
echo 'homeless:homeless pass' | chpasswd
[ -x /usr/bin/openbox ] || fail "openbox is not installed"
PROC=$(dirname "$(realpath /proc/self)")

start_vesko
wait_greeter
xpid=$(xorg_pid)
greeter=$(greeter_window)

type_text olga
press Tab
type_text 'olga pass'
press Return
wait_log "Session launched with PID" 20
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)

# The session process's child becomes openbox, and openbox takes over the screen.
wm_running() { X xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
wait_until 15 "openbox did not start managing the screen" wm_running
wm=$(session_program_of "$pid")
assert_eq openbox "$(cat "$PROC/$wm/comm")" "session program"
assert_eq "openbox|" "$(tr '\0' '|' <"$PROC/$wm/cmdline")" "openbox arguments"
assert_eq "Uid:	1504	1504	1504	1504
Gid:	1504	1504	1504	1504" "$(grep -E '^(Uid|Gid):' "$PROC/$wm/status")" "openbox identity"
assert_eq /tmp/home/olga "$(readlink "$PROC/$wm/cwd")" "openbox working directory"
assert_eq "$(session_env olga 1504)" "$(tr '\0' '\n' <"$PROC/$wm/environ")" "openbox environment"
assert_eq /tmp/home/olga/session.log "$(readlink "$PROC/$wm/fd/1")" "openbox output"
X xwininfo -id "$greeter" | grep -q 'Map State: IsUnMapped' ||
    fail "the greeter is still mapped during the session"

# Ending the window manager, as its user, ends the session.
runuser -u olga -- env HOME=/tmp/home/olga DISPLAY=:0 /usr/bin/openbox --exit
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
assert_log_order \
    "[INFO] Session launched with PID $pid" \
    "[INFO] Child PID $pid exited with code 0" \
    "[INFO] Session ended (code 0), re-showing login screen" \
    "[INFO] Entering login screen"

# Without a home: no start script, no session log, and openbox's complaints must not reach
# the daemon's standard error. openbox runs in "/" with the cookie in the runtime directory.
type_text homeless
press Tab
type_text 'homeless pass'
press Return
wait_log "Session launched with PID" 20 2
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
wait_until 15 "openbox did not start managing the screen without a home" wm_running
wm=$(session_program_of "$pid")
assert_eq / "$(readlink "$PROC/$wm/cwd")" "the homeless openbox's working directory"
runuser -u homeless -- env HOME=/ DISPLAY=:0 XAUTHORITY=/run/user/1505/Xauthority \
    /usr/bin/openbox --exit
wait_log "Entering login screen" 20 3
code=$(log_messages | sed -n "s/^\[INFO\] Child PID $pid exited with code //p")
assert_eq 0 "$code" "the homeless session's code"
grep -qi openbox "$W/vesko.stderr" && fail "openbox wrote to the daemon's standard error"
wait_greeter 20 3

assert_eq "$xpid" "$(xorg_pid)" "X server PID"
assert_alive
