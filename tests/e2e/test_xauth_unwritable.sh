# When the server authority cannot be written, the daemon says why and keeps the cookie in
# memory, which the server reads through its own descriptor: a broken /run never locks everyone
# out, and never lets in a client without the cookie.
echo "not a directory" >/run/vesko
PROC=$(dirname "$(realpath /proc/self)")

# Root's own clients read the cookie where the server does, in the daemon's descriptor.
use_daemon_cookie() {
    local fd
    fd=$(xorg_args | sed -n 's|^/proc/self/fd/||p')
    [ -n "$fd" ] || fail "the server was not given the in-memory cookie: $(xorg_args | tr '\n' ' ')"
    export XAUTHORITY=$PROC/$VESKO_PID/fd/$fd
}

start_vesko
wait_log "Entering login screen"
use_daemon_cookie
wait_greeter

fd=${XAUTHORITY##*/}
assert_log_order \
    "[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e" \
    "[ERROR] X: cannot write server authority /run/vesko/xauth: cannot open /run/vesko: Not a directory (os error 20)" \
    "[INFO] X: server authority written to /proc/self/fd/$fd" \
    "[INFO] Starting Xorg on display :0 vt1" \
    "[INFO] Xorg started with PID $(xorg_pid)" \
    "[INFO] Waiting for X display to become available..." \
    "[INFO] Connected to X display" \
    "[INFO] Entering login screen"
assert_eq "$(printf 'Xorg\n:0\nvt1\n-nolisten\ntcp\n-auth\n/proc/self/fd/%s' "$fd")" "$(xorg_args)" \
    "X server arguments"
assert_eq "not a directory" "$(cat /run/vesko)" "the file in the way"
# Local clients without the cookie are refused.
if env -u XAUTHORITY HOME=/nonexistent DISPLAY=:0 xdpyinfo >/dev/null 2>&1; then
    fail "the display can be reached without a cookie"
fi
assert_alive

# A link in place of the directory is refused too, never followed.
kill "$VESKO_PID"
wait "$VESKO_PID" 2>/dev/null || true
kill "$(xorg_pid)" 2>/dev/null || true
while [ -S /tmp/.X11-unix/X0 ] && kill -0 "$(xorg_pid)" 2>/dev/null; do sleep 0.1; done
rm -f /tmp/.X11-unix/X0 /tmp/.X0-lock /var/log/vesko.log
mkdir /tmp/elsewhere
rm /run/vesko
ln -s /tmp/elsewhere /run/vesko
start_vesko
wait_log "Entering login screen"
use_daemon_cookie
wait_greeter
assert_log_order \
    "[ERROR] X: cannot write server authority /run/vesko/xauth: cannot open /run/vesko: Not a directory (os error 20)" \
    "[INFO] Starting Xorg on display :0 vt1"
assert_eq "" "$(ls -A /tmp/elsewhere)" "files written through the link"
assert_alive
