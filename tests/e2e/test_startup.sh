# Start-up without a configuration file: the exact first lines on both sinks, the X server's
# command line, and a log file only root can read.
start_vesko
wait_greeter

xpid=$(xorg_pid)
assert_log_order \
    "[INFO] vesko starting" \
    "[WARN] Config file /etc/vesko/config.toml not found, using defaults" \
    "[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e" \
    "[INFO] X: server authority written to /run/vesko/xauth" \
    "[INFO] Starting Xorg on display :0 vt1" \
    "[INFO] Xorg started with PID $xpid" \
    "[INFO] Waiting for X display to become available..." \
    "[INFO] Connected to X display" \
    "[INFO] Entering login screen"
# Those are the first nine lines, with nothing between them.
assert_eq "[INFO] Entering login screen" "$(log_messages | sed -n 9p)" "line 9"

# Standard error carries the very same bytes.
head -n 9 /var/log/vesko.log >"$W/file-head"
head -n 9 "$W/vesko.stderr" >"$W/stderr-head"
cmp -s "$W/file-head" "$W/stderr-head" || fail "standard error differs from the log file"
grep -qE '^\[[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\] \[INFO\] vesko starting$' \
    /var/log/vesko.log || fail "bad timestamp format"

assert_eq "$(printf 'Xorg\n:0\nvt1\n-nolisten\ntcp\n-auth\n/run/vesko/xauth')" "$(xorg_args)" \
    "X server arguments"
assert_eq 600 "$(stat -c %a /var/log/vesko.log)" "log file mode"
assert_alive
