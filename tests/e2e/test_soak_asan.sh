# 20 login cycles of the daemon built with AddressSanitizer and UndefinedBehaviorSanitizer:
# no sanitizer report at all, descriptors and X resources flat after 10 cycles, and when the
# X server is killed at the end the daemon exits through Xlib, so LeakSanitizer examines the
# heap: no leak of the daemon's own allocations.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
VESKO_BIN=$(asan_daemon)
[ -x "$VESKO_BIN" ] || fail "no sanitized daemon"
note "sanitized daemon: $VESKO_BIN"
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:fast_unwind_on_malloc=0:log_path=$W/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$W/ubsan"
start_vesko
unset ASAN_OPTIONS UBSAN_OPTIONS
wait_greeter 60
run_soak 20 10
assert_privileges alice 20

# LeakSanitizer reads /proc/PID/task by the daemon's number: give the sandbox's /proc that link.
ln -sfn "$PROC/$VESKO_PID" "/proc/$VESKO_PID"
kill -KILL "$(xorg_pid)"
wait_exit 60
assert_eq 1 "$VESKO_STATUS" "the daemon's status after the X server's death"
reports=$(ls "$W"/asan.* "$W"/ubsan.* 2>/dev/null || true)
if [ -n "$reports" ]; then
    # shellcheck disable=SC2086
    cat $reports >"$W/sanitizer-reports.txt"
    if grep -E "ERROR: AddressSanitizer|runtime error|fatal error" "$W/sanitizer-reports.txt"; then
        fail "sanitizer errors: see $W/sanitizer-reports.txt"
    fi
    grep -q "ERROR: LeakSanitizer: detected memory leaks" "$W/sanitizer-reports.txt" ||
        fail "a sanitizer report that is neither an error nor a leak report"
    own=$(own_leak_records "$W/sanitizer-reports.txt" 20)
    [ -z "$own" ] || fail "leaks of the daemon's own allocations: $own"
    figure "ASan soak: 20 cycles, no sanitizer error; only leaks outside the daemon's own allocations:" \
        "$(grep -E '^SUMMARY: ' "$W/sanitizer-reports.txt" | head -n 1)"
else
    figure "ASan soak: 20 cycles, no sanitizer report, no leak"
fi
