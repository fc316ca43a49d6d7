# Sessions whatever the account looks like. A user whose home is missing and one whose home is
# read-only (root's) both get a working openbox: the cookie goes to a private file in the
# runtime directory that XAUTHORITY names, the log says why, and the missing home's session
# starts in "/". A program that a PAM session module starts has no blocked or ignored signals
# and ends on SIGTERM. A session program that bundles its own libz.so.1 under $ORIGIN/lib
# (RUNPATH) runs: the session sets no LD_LIBRARY_PATH.

MOD=$(realpath "$BUILD/pam_vesko_test.so")
CALLS=/tmp/pam-calls
cat >/etc/pam.d/vesko <<PAM
auth     required pam_unix.so nodelay
account  required pam_unix.so
session  required pam_unix.so
session  optional $MOD log=$CALLS spawn=600
PAM
PROC=$(dirname "$(realpath /proc/self)")
useradd -M -d /nonexistent/home -s /bin/sh -u 1601 homeless
echo 'homeless:homeless pw' | chpasswd
useradd -M -d /tmp/home/fixed -s /bin/sh -u 1602 fixed
echo 'fixed:fixed pw' | chpasswd
mkdir -p /tmp/home/fixed
chmod 755 /tmp/home/fixed # root's: its user cannot write there
add_user libby 'libby pw' -u 1603

# A program that needs its own libz.so.1, found through RUNPATH=$ORIGIN/lib: the system's copy
# lacks the symbol, and a set LD_LIBRARY_PATH is searched first.
B=/opt/bundled
mkdir -p $B/lib
echo 'const char* bundled_zlib(void) { return "bundled"; }' >"$W/zlib.c"
gcc -shared -fPIC -Wl,-soname,libz.so.1 -o $B/lib/libz.so.1 "$W/zlib.c"
printf '%s\n' '#include <stdio.h>' 'const char* bundled_zlib(void);' \
    'int main(void) { puts(bundled_zlib()); return 0; }' >"$W/prog.c"
gcc -o $B/prog "$W/prog.c" $B/lib/libz.so.1 -Wl,--enable-new-dtags,-rpath,'$ORIGIN/lib'
readelf -d $B/prog | grep -q 'RUNPATH.*\$ORIGIN/lib' || fail "no RUNPATH in the program"
[ "$($B/prog)" = bundled ] || fail "the program does not run from a shell"
if LD_LIBRARY_PATH=/usr/lib/x86_64-linux-gnu:/usr/lib $B/prog >/dev/null 2>&1; then
    fail "the program runs even with LD_LIBRARY_PATH: the check below would prove nothing"
fi
cat >/tmp/home/libby/.xinitrc <<SH
$B/prog >"\$HOME/prog.out" 2>&1
echo \$? >"\$HOME/prog.rc"
SH
chown libby: /tmp/home/libby/.xinitrc

login() { # name password
    type_text "$1"
    press Tab
    type_text "$2"
    press Return
}
wm_running() { X xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# The program the PAM module started for the latest session.
check_module_program() {
    local pid
    pid=$(sed -n 's/^spawned pid=//p' $CALLS | tail -n 1)
    [ -n "$pid" ] || fail "the module started nothing"
    assert_eq "sleep" "$(cat "$PROC/$pid/comm")" "the module's program"
    assert_eq "SigBlk:	0000000000000000
SigIgn:	0000000000000000" "$(grep -E '^Sig(Blk|Ign):' "$PROC/$pid/status")" \
        "the module's program: blocked and ignored signals"
    kill -TERM "$pid"
    # Its parent (the session process) does not reap it: a zombie has ended.
    ended() { [ ! -e "$PROC/$pid/stat" ] || [ "$(awk '{print $3}' "$PROC/$pid/stat")" = Z ]; }
    wait_until 5 "the module's program ignored SIGTERM" ended
}

# An openbox session without a usable home: checks and ends it.
check_openbox() { # name uid cwd nth-showing
    local name=$1 uid=$2 cwd=$3 nth=$4 pid wm cookie=/run/user/$2/Xauthority
    wait_log "Session launched with PID" 20 $((nth - 1))
    pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p' | tail -n 1)
    wait_until 15 "$name: openbox did not start managing the screen" wm_running
    # The session process's children: the session program and the module's program.
    wm=$(for p in $(session_program_of "$pid"); do
        [ "$(cat "$PROC/$p/comm")" = openbox ] && echo "$p"
    done)
    [ -n "$wm" ] || fail "$name: openbox is not the session program"
    assert_eq "$cwd" "$(readlink "$PROC/$wm/cwd")" "$name: working directory"
    assert_eq "XAUTHORITY=$cookie" "$(tr '\0' '\n' <"$PROC/$wm/environ" | grep '^XAUTHORITY=')" \
        "$name: XAUTHORITY"
    tr '\0' '\n' <"$PROC/$wm/environ" | grep -q '^LD_LIBRARY_PATH=' && fail "$name: LD_LIBRARY_PATH set"
    assert_eq "$name $name 600" "$(stat -c '%U %G %a' "$cookie")" "$name: the cookie file"
    assert_eq "$name 700" "$(stat -c '%U %a' "/run/user/$uid")" "$name: the runtime directory"
    # The session's clients reach the display with that cookie, and nobody else gets in.
    setpriv --reuid="$name" --regid="$name" --init-groups env -i DISPLAY=:0 XAUTHORITY="$cookie" \
        xdpyinfo >/dev/null || fail "$name: a client of the session cannot reach the display"
    if env -i DISPLAY=:0 XAUTHORITY=/dev/null xdpyinfo >/dev/null 2>&1; then
        fail "the display admits clients without a cookie"
    fi
    check_module_program
    setpriv --reuid="$name" --regid="$name" --init-groups env -i DISPLAY=:0 XAUTHORITY="$cookie" \
        HOME=/ /usr/bin/openbox --exit
    wait_log "Session ended (code 0), re-showing login screen" 20 $((nth - 1))
    wait_greeter 20 "$nth"
}

start_vesko
wait_greeter

login homeless 'homeless pw'
check_openbox homeless 1601 / 2
assert_log_order \
    "[WARN] Session: cannot use /nonexistent/home/session.log: No such file or directory (os error 2); the session's output is discarded" \
    "[WARN] Session: cannot write into /nonexistent/home: No such file or directory (os error 2); the session's cookie is in /run/user/1601/Xauthority"
grep -qi openbox "$W/vesko.stderr" && fail "openbox wrote to the daemon's standard error"

login fixed 'fixed pw'
check_openbox fixed 1602 /tmp/home/fixed 3
assert_log_order \
    "[WARN] Session: cannot use /tmp/home/fixed/session.log: Permission denied (os error 13); the session's output is discarded" \
    "[WARN] Session: cannot write into /tmp/home/fixed: Permission denied (os error 13); the session's cookie is in /run/user/1602/Xauthority"
assert_eq "" "$(ls -A /tmp/home/fixed)" "files left in the read-only home"

login libby 'libby pw'
wait_log "Session ended (code 0), re-showing login screen" 20 3
wait_greeter 20 4
assert_eq 0 "$(cat /tmp/home/libby/prog.rc)" "the bundled program's status ($(cat /tmp/home/libby/prog.out))"
assert_eq bundled "$(cat /tmp/home/libby/prog.out)" "the bundled program's output"
assert_eq 4 "$(log_count "[WARN] Session:")" "session warnings"
assert_alive
