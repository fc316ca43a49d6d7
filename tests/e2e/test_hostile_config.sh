# Hostile configuration files: a FIFO, a directory, a link to /dev/zero, 10 MB of valid TOML,
# 10 MB of garbage, invalid UTF-8 and deeply nested arrays. Start-up never hangs: the greeter
# answers within seconds each time, with the configuration lines the case calls for.
source "$SRC/tests/e2e/hard_lib.sh"
C=/etc/vesko/config.toml
DEFAULTS="[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e"

config_case() { # what, expected config lines...
    local what=$1 t0
    shift
    : >"$VESKO_LOG"
    t0=$(now_ms)
    start_vesko
    wait_greeter 20
    assert_answers "config: $what"
    figure "config $what: start to an answering greeter in $(($(now_ms) - t0)) ms"
    assert_log_order "[INFO] vesko starting" "$@" "[INFO] Entering login screen"
    # The configuration lines are exactly these, with nothing between them.
    assert_eq "$(printf '%s\n' "$@")" \
        "$(log_messages | sed -n '2,$p' | grep -m $# -E '^\[[A-Z]+\] (Config|Loading config|Failed to read config)')" \
        "$what: configuration lines"
    assert_no_x_errors
    stop_vesko_and_x
}

READ_FAILED=("[INFO] Loading config from $C" "[ERROR] Failed to read config file $C" "$DEFAULTS")
mkdir -p /etc/vesko

mkfifo $C
config_case "FIFO" "${READ_FAILED[@]}"
rm $C

mkdir $C
config_case "directory" "${READ_FAILED[@]}"
rmdir $C

ln -s /dev/zero $C
config_case "link to /dev/zero" "${READ_FAILED[@]}"
rm $C

# Invalid UTF-8 inside an otherwise valid file.
printf '[ui]\nclock_24h = false\n# \xff\xfe\xc0\x80\n' >$C
config_case "invalid UTF-8" "${READ_FAILED[@]}"

# 10 MB of comments and blank tables around real settings: read and used.
{
    printf '[ui]\nclock_24h = false\n'
    head -c 10000000 /dev/zero | tr '\0' 'x' | fold -w 99 | sed 's/^/#/'
    echo
    printf '[session]\ndefault = "console"\n'
} >$C
[ "$(stat -c %s $C)" -ge 10000000 ] || fail "the big file is too small"
config_case "10 MB of valid TOML" "[INFO] Loading config from $C" "[INFO] Config parsed successfully" \
    "[INFO] Config loaded: session=console, clock_24h=false, fallback_color=#1a1a2e"

# 10 MB of random bytes made valid UTF-8 (so the parser, not the reader, refuses them).
head -c 7500000 /dev/urandom | base64 -w 120 >$C
[ "$(stat -c %s $C)" -ge 10000000 ] || fail "the garbage file is too small"
: >"$VESKO_LOG"
t0=$(now_ms)
start_vesko
wait_greeter 20
assert_answers "config: 10 MB of garbage"
figure "config 10 MB of garbage: start to an answering greeter in $(($(now_ms) - t0)) ms"
grep -q "^\[ERROR\] Config parse error: " <(log_messages) || fail "garbage: no parse error"
assert_log_order "[INFO] Loading config from $C" "$DEFAULTS" "[INFO] Entering login screen"
stop_vesko_and_x

# Arrays nested 100,000 deep: refused by the parser, not by the stack.
{
    printf 'x = '
    head -c 100000 /dev/zero | tr '\0' '['
    head -c 100000 /dev/zero | tr '\0' ']'
    echo
} >$C
: >"$VESKO_LOG"
t0=$(now_ms)
start_vesko
wait_greeter 20
assert_answers "config: deep nesting"
figure "config nested 100,000 deep: start to an answering greeter in $(($(now_ms) - t0)) ms"
grep -q "^\[ERROR\] Config parse error: " <(log_messages) || fail "nesting: no parse error"
assert_log_order "[INFO] Loading config from $C" "$DEFAULTS" "[INFO] Entering login screen"
stop_vesko_and_x
