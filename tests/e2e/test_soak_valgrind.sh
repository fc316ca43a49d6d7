# 20 login cycles of the daemon under valgrind's memcheck: no memory error, descriptors and X
# resources flat after 10 cycles, and after the X server is killed (the daemon then exits
# through Xlib) no definite leak that involves the daemon's own code.
source "$SRC/tests/e2e/hard_lib.sh"
command -v valgrind >/dev/null || fail "valgrind is not installed"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
cat >"$W/vesko-memcheck" <<SH
#!/bin/sh
exec valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --errors-for-leak-kinds=none --num-callers=40 --fullpath-after= \
    --child-silent-after-fork=yes --log-file=$W/valgrind.log "$BUILD/vesko"
SH
chmod 755 "$W/vesko-memcheck"
VESKO_BIN=$W/vesko-memcheck start_vesko
wait_greeter 90
run_soak 20 10
assert_privileges alice 20

kill -KILL "$(xorg_pid)"
wait_exit 120
[ "$VESKO_STATUS" -ne 0 ] || fail "the daemon ended with status 0"
grep -q "ERROR SUMMARY" "$W/valgrind.log" || fail "valgrind wrote no summary"
errors=$(grep -oE 'ERROR SUMMARY: [0-9]+' "$W/valgrind.log" | tail -n 1 | awk '{print $3}')
[ "$errors" = 0 ] || fail "memcheck found $errors errors: see $W/valgrind.log"
own=$(own_leak_records "$W/valgrind.log" 20 'are definitely lost in loss record')
[ -z "$own" ] || fail "definite leaks in the daemon's own code: $own"
figure "memcheck soak: 20 cycles, 0 errors;" \
    "$(grep -E 'definitely lost:' "$W/valgrind.log" | tail -n 1 | sed 's/^==[0-9]*== *//')"
