# A valid configuration is parsed and its values are reported as written; a wrong value type
# in a second start falls back to all defaults.
write_config <<'TOML'
[background]
night_start = 22
fallback_color = "ff8800"
[ui]
clock_24h = false
[session]
default = "console"
[extra]
anything = 1
TOML
start_vesko
wait_log "Entering login screen"
assert_log_exact_prefix() {
    local -a lines
    mapfile -t lines < <(log_messages | head -n $#)
    local i=0 e
    for e in "$@"; do
        assert_eq "$e" "${lines[$i]:-}" "log line $((i + 1))"
        i=$((i + 1))
    done
}
assert_log_exact_prefix \
    "[INFO] vesko starting" \
    "[INFO] Loading config from /etc/vesko/config.toml" \
    "[INFO] Config parsed successfully" \
    "[INFO] Config loaded: session=console, clock_24h=false, fallback_color=ff8800" \
    "[INFO] X: server authority written to /run/vesko/xauth" \
    "[INFO] Starting Xorg on display :0 vt1"
assert_alive
