# Without /usr/bin/Xorg the daemon gives up after 30 attempts (about 15 s) with status 1.
rm -f /usr/bin/Xorg
start_vesko
wait_log "Xorg started with PID"
start=$SECONDS
wait_exit 40
elapsed=$((SECONDS - start))
assert_eq 1 "$VESKO_STATUS" "exit status"
[ $elapsed -ge 13 ] && [ $elapsed -le 20 ] || fail "gave up after ${elapsed}s, expected about 15"
assert_log_order \
    "[INFO] Waiting for X display to become available..." \
    "[ERROR] Could not connect to X display :0 after 30 retries"
assert_eq "[ERROR] Could not connect to X display :0 after 30 retries" "$(log_messages | tail -n 1)" \
    "last line"
