# An X server that never accepts connections is sent SIGTERM and reaped before the exit.
export VESKO_TEST_XORG=never
start_vesko
wait_log "Xorg started with PID"
xpid=$(log_messages | sed -n 's/^\[INFO\] Xorg started with PID //p')
wait_exit 40
assert_eq 1 "$VESKO_STATUS" "exit status"
assert_log_order "[ERROR] Could not connect to X display :0 after 30 retries"
[ -f /tmp/xorg-sigterm ] || fail "the X server was not sent SIGTERM"
# Reaped: no zombie left behind under that PID.
[ ! -e "/tmp/.realproc/$xpid" ] || fail "X server $xpid still exists: $(cat /tmp/.realproc/$xpid/status | head -3)"
