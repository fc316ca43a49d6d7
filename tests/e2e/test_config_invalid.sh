# An unparsable configuration: the parse error with its position, then every default.
write_config <<'TOML'
[background]
morning_start = 7
[ui
clock_24h = false
TOML
start_vesko
wait_log "Entering login screen"
assert_log_order \
    "[INFO] vesko starting" \
    "[INFO] Loading config from /etc/vesko/config.toml"
log_messages | grep -qE '^\[ERROR\] Config parse error: .*line 3' ||
    fail "no parse error naming line 3"
assert_log_order \
    "[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e" \
    "[INFO] Starting Xorg on display :0 vt1" \
    "[INFO] Connected to X display"
[ "$(log_count "Config parsed successfully")" = 0 ] || fail "claimed success"
assert_alive
