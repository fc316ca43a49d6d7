# When the server authority cannot be written, the daemon says why and starts the X server as
# one without authorization, so that a broken /run never locks everyone out.
echo "not a directory" >/run/vesko

start_vesko
wait_greeter

assert_log_order \
    "[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e" \
    "[ERROR] X: cannot write server authority /run/vesko/xauth: cannot open /run/vesko: Not a directory (os error 20)" \
    "[INFO] Starting Xorg on display :0 vt1" \
    "[INFO] Xorg started with PID $(xorg_pid)" \
    "[INFO] Waiting for X display to become available..." \
    "[INFO] Connected to X display" \
    "[INFO] Entering login screen"
assert_eq "$(printf 'Xorg\n:0\nvt1\n-nolisten\ntcp')" "$(xorg_args)" "X server arguments"
assert_eq "not a directory" "$(cat /run/vesko)" "the file in the way"
# Local clients reach the display without a cookie, as before.
env -u XAUTHORITY HOME=/nonexistent DISPLAY=:0 xdpyinfo >/dev/null ||
    fail "the display cannot be reached without a cookie"
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
wait_greeter
assert_log_order \
    "[ERROR] X: cannot write server authority /run/vesko/xauth: cannot open /run/vesko: Not a directory (os error 20)" \
    "[INFO] Starting Xorg on display :0 vt1"
assert_eq "" "$(ls -A /tmp/elsewhere)" "files written through the link"
assert_alive
