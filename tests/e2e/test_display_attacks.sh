# The display stays the daemon's against a hostile local user: a session that kills the daemon's
# connection (and fills /run through its runtime directory meanwhile) gets its session ended and
# the server reset, never restarted; a leftover that waits for the server's abstract name never
# gets it, nor a connection from root; after a restart with that name taken and the lock file
# and socket planted, the server runs on a free display with its cookie, and sessions use it.
source "$SRC/tests/e2e/hard_lib.sh"
# A /run as small as a user can fill: the daemon makes the user's runtime directory there.
mount -t tmpfs -o size=4m,mode=755 tmpfs /run
pam_unix_service
cat >>/etc/pam.d/vesko <<'PAM'
session  optional pam_exec.so /usr/local/bin/close-probe
PAM
cat >/usr/local/bin/close-probe <<'SH'
#!/bin/sh
# At the close of the PAM session: is the session's stubborn process still alive?
[ "$PAM_TYPE" = close_session ] || exit 0
if kill -0 "$(cat /tmp/home/alice/stubborn.pid)" 2>/dev/null; then echo alive; else echo gone; fi >/tmp/at-close
SH
chmod 755 /usr/local/bin/close-probe
add_user alice 'alice pw'
H=/tmp/home/alice
install -m 755 "$BUILD/x_name_squatter" /usr/local/bin/
cat >$H/.xinitrc <<'SH'
setsid -f x_name_squatter /tmp/squat.log </dev/null >/dev/null 2>&1
sh -c 'echo $$ >"$HOME/stubborn.pid"; trap "" TERM; exec sleep 1000' &
# Fill /run, and keep the space taken once the directory is gone.
dd if=/dev/zero of="$XDG_RUNTIME_DIR/fill" bs=64k >/dev/null 2>&1
setsid -f sleep 1000 3<"$XDG_RUNTIME_DIR/fill" </dev/null >/dev/null 2>&1
while [ ! -s "$HOME/stubborn.pid" ]; do sleep 0.05; done
# The hidden greeter is the daemon's window: killing its client kills the daemon's connection.
xkill -id "$(xwininfo -root -children | awk '/^ +0x/ {print $1; exit}')" >/dev/null 2>&1
exec sleep 1000
SH
chown alice: $H/.xinitrc
squatter_got_root() { grep -q '^uid=0 ' /tmp/squat.log 2>/dev/null; }
refuses_bare_client() { ! env -u XAUTHORITY HOME=/nonexistent xdpyinfo >/dev/null 2>&1; }

# 1. The session kills the daemon's connection.
start_vesko
wait_greeter
xpid=$(xorg_pid)
submit_login alice 'alice pw'
wait_log "Lost the connection to the X display" 30
wait_greeter 30 2
assert_eq "$xpid" "$(xorg_pid)" "X server PID after the daemon's connection was killed"
assert_alive
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p')
assert_log_order "[ERROR] Lost the connection to the X display" \
    "[INFO] X: ending the session (PID $pid), whose display is gone" \
    "[INFO] Child PID $pid exited with code 1" "[INFO] Ending session PID $pid" \
    "[INFO] X: resetting the X server (PID $xpid)" "[INFO] Entering login screen"
assert_eq alive "$(cat /tmp/at-close)" "the stubborn process when the PAM session closed"
wait_until 10 "the stubborn process outlived the session" \
    has_ended "$(cat $H/stubborn.pid)"
! head -c 65536 /dev/zero >/run/probe 2>/dev/null || fail "/run was not full at the reset"
log_has "cannot renew" && fail "the cookie was not renewed on a full /run"
refuses_bare_client || fail "a client without the cookie was let in after the reset"
! XAUTHORITY=$H/.Xauthority xdpyinfo >/dev/null 2>&1 || fail "the session's cookie still works"
[ ! -e /tmp/squat.log ] || ! grep -q bound /tmp/squat.log || fail "the leftover got the server's name"

# 2. A restart (as the service manager does) with the name taken by the leftover, and the lock
# file and socket planted in /tmp.
stop_vesko_and_x
wait_until 10 "the leftover did not get the free name" grep -q bound /tmp/squat.log
as_user alice sh -c 'printf "%10d\n" 1 >/tmp/.X0-lock; : >/tmp/.X11-unix/X0'
: >"$VESKO_LOG"
start_vesko
export DISPLAY=:1
wait_greeter 30
assert_log_order \
    "[INFO] X: removed /tmp/.X0-lock: it belonged to uid $(id -u alice)" \
    "[INFO] X: removed /tmp/.X11-unix/X0: it belonged to uid $(id -u alice)" \
    "[INFO] X: display :0 is taken: the abstract socket name @/tmp/.X11-unix/X0 is held by another process; the X server picks a free display" \
    "[INFO] Starting Xorg on a free display vt1" \
    "[INFO] X: the X server chose display :1" \
    "[INFO] Connected to X display"
grep -qx -- -auth /tmp/xorg-args && grep -qx /run/vesko/xauth /tmp/xorg-args ||
    fail "the server did not get its cookie: $(xorg_args | tr '\n' ' ')"
refuses_bare_client || fail "a client without the cookie was let in on :1"
printf 'echo "$DISPLAY" >"$HOME/display"; xprop -root >/dev/null && echo reached >>"$HOME/display"\n' >$H/.xinitrc
login_cycle alice 'alice pw'
assert_eq ":1
reached" "$(cat $H/display)" "the session's display"
squatter_got_root && fail "the leftover got a connection from root: $(cat /tmp/squat.log)"

# 3. The lock file alone (naming PID 1) does not keep the greeter away.
pids_of_exe /usr/local/bin/x_name_squatter | xargs -r kill
stop_vesko_and_x
rm -f /tmp/.X1-lock /tmp/.X11-unix/X1
as_user alice sh -c 'printf "%10d\n" 1 >/tmp/.X0-lock'
: >"$VESKO_LOG"
start_vesko
export DISPLAY=:0
wait_greeter 30
assert_log_order "[INFO] X: removed /tmp/.X0-lock: it belonged to uid $(id -u alice)" \
    "[INFO] Starting Xorg on display :0 vt1" "[INFO] Connected to X display"
squatter_got_root && fail "the leftover got a connection from root: $(cat /tmp/squat.log)"
assert_alive
