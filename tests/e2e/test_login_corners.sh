# Corners of accounts and screens, over five showings with `remember_user`, `scale = 2` and two
# layouts. Users whose home is missing or read-only (root's) get a working openbox: the cookie is
# in /run/user/UID/Xauthority, which XAUTHORITY names, the log says why, and without a home the
# session starts in "/". What a PAM session module starts has the default signals and ends on
# SIGTERM. A program bundling its own libz.so.1 under RUNPATH=$ORIGIN/lib runs (no
# LD_LIBRARY_PATH). pam_faillock's two messages show together; the remembered user's avatar is
# drawn at scale 2; every showing logs the same lines in the same order.

MOD=$(realpath "$BUILD/pam_vesko_test.so")
FL="deny=3 unlock_time=600"
cat >/etc/pam.d/vesko <<PAM
auth     required pam_faillock.so preauth $FL
auth     [success=1 default=bad] pam_unix.so nodelay
auth     [default=die] pam_faillock.so authfail $FL
auth     sufficient pam_faillock.so authsucc $FL
account  required pam_faillock.so
account  required pam_unix.so
session  required pam_unix.so
session  optional $MOD log=/tmp/calls spawn=600
PAM
PROC=$(dirname "$(realpath /proc/self)")
useradd -M -d /nonexistent -s /bin/sh -u 1601 homeless
useradd -M -d /tmp/home/ro -s /bin/sh -u 1602 ro
mkdir -p /tmp/home/ro # root's: its user cannot write there
printf '%s\n' homeless:pw ro:pw | chpasswd
for u in alice bob libby; do add_user $u pw; done
/usr/bin/convert -size 200x200 xc:'#ff0000' "png:/tmp/home/alice/.face"
echo 'sleep 0.3' >/tmp/home/alice/.xinitrc
/usr/bin/convert -size 3000x2000 xc:'#1a1a2e' "$W/plain.png" # the fallback colour, decoded
for period in morning afternoon evening night; do
    install -D -m 644 "$W/plain.png" "/usr/share/vesko/backgrounds/$period/plain.png"
done
write_config <<<$'[ui]\nremember_user = true\nscale = 2\nlayouts = "us,de"'

# The system's libz.so.1 lacks the symbol; a set LD_LIBRARY_PATH is searched before RUNPATH.
B=/opt/bundled
mkdir -p $B/lib
echo 'const char* bundled(void) { return "bundled"; }' >"$W/z.c"
gcc -shared -fPIC -Wl,-soname,libz.so.1 -o $B/lib/libz.so.1 "$W/z.c"
printf '#include <stdio.h>\nconst char* bundled(void);\nint main(void) { puts(bundled()); }\n' >"$W/p.c"
gcc -o $B/prog "$W/p.c" $B/lib/libz.so.1 -Wl,--enable-new-dtags,-rpath,'$ORIGIN/lib'
readelf -d $B/prog | grep -q 'RUNPATH.*\$ORIGIN/lib' || fail "no RUNPATH"
LD_LIBRARY_PATH=/usr/lib/x86_64-linux-gnu $B/prog 2>/dev/null && fail "runs with LD_LIBRARY_PATH"
echo "$B/prog >\"\$HOME/prog.out\" 2>&1" >/tmp/home/libby/.xinitrc
chown alice: /tmp/home/alice/.face /tmp/home/alice/.xinitrc
chown libby: /tmp/home/libby/.xinitrc

login() { press Escape; type_text "$1"; press Tab; type_text "$2"; press Return; }
wm_running() { X xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
as() { setpriv --reuid="$1" --regid="$1" --init-groups env -i DISPLAY=:0 XAUTHORITY="$2" HOME=/ "${@:3}"; }

openbox_without_home() { # name uid cwd nth-showing why
    local pid wm p cookie=/run/user/$2/Xauthority
    login "$1" pw
    wait_log "Session launched with PID" 20 $(($4 - 1))
    pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
    wait_until 15 "$1: openbox did not start" wm_running
    for p in $(session_program_of "$pid"); do
        [ "$(cat "$PROC/$p/comm")" = openbox ] && wm=$p
    done
    assert_eq "$3" "$(readlink "$PROC/$wm/cwd")" "$1: working directory"
    assert_eq "$(session_env "$1" "$2" "$(getent passwd "$1" | cut -d: -f6)" /bin/sh |
        sed "s|^XAUTHORITY=.*|XAUTHORITY=$cookie|")" "$(tr '\0' '\n' <"$PROC/$wm/environ")" "$1: environment"
    assert_eq "$1 600" "$(stat -c '%U %a' "$cookie")" "$1: the cookie file"
    as "$1" "$cookie" xdpyinfo >/dev/null || fail "$1: the session's clients cannot reach the display"
    assert_log_order "[WARN] Session: cannot use ${5%%:*}/session.log:${5#*:}; the session's output is discarded" \
        "[WARN] Session: cannot write into $5; the session's cookie is in $cookie"
    # The module's program: no signal blocked or ignored, and SIGTERM ends it (a zombie then).
    p=$(sed -n 's/^spawned pid=//p' /tmp/calls | tail -n 1)
    assert_eq "SigBlk:	0000000000000000
SigIgn:	0000000000000000" "$(grep -E '^Sig(Blk|Ign):' "$PROC/$p/status")" "the module's program"
    kill -TERM "$p"
    wait_until 5 "the module's program ignored SIGTERM" grep -q '^State:.*Z' "$PROC/$p/status"
    as "$1" "$cookie" /usr/bin/openbox --exit
    wait_greeter 20 "$4"
}

start_vesko
wait_greeter
openbox_without_home homeless 1601 / 2 "/nonexistent: No such file or directory (os error 2)"
openbox_without_home ro 1602 /tmp/home/ro 3 "/tmp/home/ro: Permission denied (os error 13)"
assert_eq "" "$(ls -A /tmp/home/ro)" "files in the read-only home"
grep -qi openbox "$W/vesko.stderr" && fail "openbox wrote to the daemon's standard error"

login libby pw
wait_greeter 20 4
assert_eq bundled "$(cat /tmp/home/libby/prog.out)" "the bundled program"

for attempt in 1 2 3 4; do
    login bob "wrong $attempt"
    wait_log "Authentication failed for 'bob'" 15 "$attempt"
done
both="The account is locked due to 3 failed logins. (10 minutes left to unlock)"
wait_log "[WARN] Authentication failed for 'bob': $both"
assert_log_order "[INFO] PAM: module message: (10 minutes left to unlock)" "[WARN] Authentication failed for 'bob': $both"
sleep 0.4
shot locked
# The red ink on the message line (baseline 540 + 2 * 78) is as wide as both messages.
shown=$(/usr/bin/convert "$W/locked.png" -crop 1920x48+0+660 +repage -fx 'r-g' -threshold 30% \
    -format '%@' info: | cut -dx -f1)
expected=$(X "$BUILD/x_text_width" "$both" 2)
[ "${shown:-0}" -ge $((expected - 3)) ] && [ "${shown:-0}" -le $((expected + 1)) ] ||
    fail "message line: $shown px of ink, both messages are $expected px"

login alice pw
wait_greeter 20 5
wait_pixel 960 316 255 0 0 2 10 # the centre of the remembered avatar (864, 220, 192, 192)
shot remembered
for point in "880 316" "1040 316" "960 226" "960 406"; do
    # shellcheck disable=SC2086
    assert_pixel remembered $point 255 0 0
done
assert_pixel remembered 866 222 26 26 46 # outside the disc: the background

# From each "Entering login screen" to the showing's first login attempt, numbers masked; a
# showing that reuses the prepared picture says so in one more line of its Background block.
for nth in 1 2 3 4 5; do
    log_messages | awk -v n=$nth '/Entering login screen$/ {i++} i == n && /Attempting login/ {exit}
        i == n' | grep -vF "Background: reusing the prepared picture" |
        sed -E 's/[0-9]+/N/g' >"$W/showing$nth"
    diff "$W/showing1" "$W/showing$nth" >&2 || fail "showing $nth logged another order"
done
assert_eq 5 "$(log_count "Background: loaded and scaled (8294400 bytes)")" "background blocks"
grep -q "Keyboard: layouts set to us,de" "$W/showing1" || fail "no keyboard line"
assert_alive
