# Without /usr/bin/Xorg the daemon stops waiting as soon as the server has ended, tries once
# more on a free display, and exits with status 1.
rm -f /usr/bin/Xorg
start_vesko
wait_log "Xorg started with PID"
wait_exit 40
assert_eq 1 "$VESKO_STATUS" "exit status"
first=$(log_messages | sed -n 's/^\[INFO\] Xorg started with PID //p' | head -n 1)
second=$(log_messages | sed -n 's/^\[INFO\] Xorg started with PID //p' | sed -n 2p)
assert_log_order \
    "[INFO] Starting Xorg on display :0 vt1" \
    "[INFO] Waiting for X display to become available..." \
    "[ERROR] X: the X server (PID $first) ended before it was ready (exit status 1)" \
    "[INFO] Starting Xorg on a free display vt1" \
    "[ERROR] X: the X server (PID $second) ended before it was ready (exit status 1)" \
    "[ERROR] Could not connect to X display :0 after 30 retries"
assert_eq "[ERROR] Could not connect to X display :0 after 30 retries" "$(log_messages | tail -n 1)" \
    "last line"
# Nothing was waited for in vain: no connection attempts, no 15 s.
log_has "was not ready within" && fail "the daemon waited for a server that had ended"
true
