# The log on a full file system: /var/log is a small tmpfs that fills up while the greeter is
# shown. The daemon goes on (a failed and a successful login, a fresh greeter), standard error
# still gets every line, the file keeps what it had, and once space is free again new lines
# reach the file.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
mount -t tmpfs -o size=256k tmpfs /var/log

start_vesko
wait_greeter
# Fill every block that is left.
dd if=/dev/zero of=/var/log/filler bs=4k 2>/dev/null || true
[ "$(df --output=avail /var/log | tail -n 1)" -eq 0 ] || fail "/var/log is not full"
# tmpfs hands out whole pages: the file may still fill the rest of its last one.
size_limit=$((($(stat -c %s "$VESKO_LOG") + 4095) / 4096 * 4096))

before=$(log_count "Authentication failed for 'alice'")
fill_login alice 'wrong pw'
answer_begin
press Return
# The file no longer grows: wait on standard error instead.
wait_until 15 "no failed login on standard error" \
    grep -qF "Authentication failed for 'alice'" "$W/vesko.stderr"
answer_end "log full: failed login"
stderr_sessions=$(grep -cF "Session ended (code" "$W/vesko.stderr" || true)
showings=$(grep -cF "Entering login screen" "$W/vesko.stderr")
submit_login alice 'alice pw'
new_showing() { [ "$(grep -cF "Entering login screen" "$W/vesko.stderr")" -gt "$showings" ]; }
wait_until 30 "no new showing on standard error" new_showing
wait_x_socket
sleep 0.5
[ -n "$(greeter_window)" ] || fail "no greeter after the session with the log full"
assert_answers "log full: after a session"
assert_alive
assert_privileges alice 1

# The file stopped at the end of its page and holds the first bytes of standard error.
size_full=$(stat -c %s "$VESKO_LOG")
[ "$size_full" -le "$size_limit" ] || fail "the log grew to $size_full bytes on a full disk"
# Its whole lines, but for the shadow diagnostics (they go to the file alone), are the start
# of standard error.
head -n "$(wc -l <"$VESKO_LOG")" "$VESKO_LOG" |
    grep -avE '\] PAM: (getspnam\(.*\) ok: |shadow entry for |crypt\(\) password match=)' >"$W/log-shared"
cmp -s -n "$(stat -c %s "$W/log-shared")" "$W/log-shared" "$W/vesko.stderr" ||
    fail "the log file is not the start of standard error"
grep -qF "Session ended (code 0)" "$W/vesko.stderr" || fail "standard error lacks the session end"
lost=$(($(wc -l <"$W/vesko.stderr") - $(wc -l <"$VESKO_LOG")))
[ $lost -gt 10 ] || fail "only $lost lines were held back by the full disk"
figure "log full: $lost lines reached only standard error; the daemon went on"

# Space again: the next lines are appended, whole.
rm /var/log/filler
login_cycle alice 'alice pw'
tail -n 1 "$VESKO_LOG" | grep -qE '^\[[0-9-]+ [0-9:]+\] \[(INFO|WARN|ERROR|DEBUG)\] ' || fail "the last file line is broken"
grep -qF "Entering login screen" <(tail -c +$((size_full + 1)) "$VESKO_LOG") ||
    fail "no new lines in the file after space was freed"
# Every line standard error got after the freeing is in the file as well.
assert_eq "$(tail -n 5 "$W/vesko.stderr")" "$(tail -n 5 "$VESKO_LOG")" "the last lines on both sinks"
assert_privileges alice 2
assert_no_x_errors
assert_alive
