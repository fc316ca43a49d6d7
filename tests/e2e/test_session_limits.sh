# What PAM sets in the daemon's own process for one user (pam_limits: soft limits and the
# scheduling priority; pam_umask: the file mode mask) reaches that user's session, and neither
# stays in the daemon nor reaches the next user's session.
cat >/etc/pam.d/vesko <<'PAM'
auth     required pam_unix.so nodelay
account  required pam_unix.so
session  required pam_limits.so
session  [success=1 default=ignore] pam_succeed_if.so user notin limited quiet
session  optional pam_umask.so
session  required pam_unix.so
PAM
cat >>/etc/security/limits.conf <<'LIMITS'
limited soft nofile 64
limited soft nproc 20
limited -    priority 5
LIMITS
add_user limited 'limited pass' -u 1601 -c 'umask=0077'
add_user free 'free pass' -u 1602
for user in limited free; do
    cat >"/tmp/home/$user/.xinitrc" <<'SH'
PROC=$(dirname "$(realpath /proc/self)")
cat "$PROC/$$/limits" >"$HOME/limits"
grep '^Umask:' "$PROC/$$/status" >"$HOME/umask"
cut -d' ' -f19 "$PROC/$$/stat" >"$HOME/nice"
ulimit -Sn >"$HOME/nofile"
SH
    chown "$user:" "/tmp/home/$user/.xinitrc"
done
PROC=$(dirname "$(realpath /proc/self)")

start_vesko
wait_greeter
cat "$PROC/$VESKO_PID/limits" >"$W/daemon-limits"
daemon_umask=$(grep '^Umask:' "$PROC/$VESKO_PID/status")
daemon_nice=$(cut -d' ' -f19 "$PROC/$VESKO_PID/stat")
[ "$(grep 'Max open files' "$W/daemon-limits" | awk '{print $4}')" != 64 ] ||
    fail "the daemon starts with the limit under test"

login() { # user password showing
    type_text "$1"
    press Tab
    type_text "$2"
    press Return
    wait_log "Entering login screen" 20 "$3"
    wait_greeter 20 "$3"
}
daemon_unchanged() { # after whom
    assert_eq "$(cat "$W/daemon-limits")" "$(cat "$PROC/$VESKO_PID/limits")" "daemon limits after $1"
    assert_eq "$daemon_umask" "$(grep '^Umask:' "$PROC/$VESKO_PID/status")" "daemon umask after $1"
    assert_eq "$daemon_nice" "$(cut -d' ' -f19 "$PROC/$VESKO_PID/stat")" "daemon priority after $1"
}

# What PAM gives "free" on its own, before anyone else logged in.
login free 'free pass' 2
mkdir "$W/free-first"
cp /tmp/home/free/limits /tmp/home/free/umask /tmp/home/free/nice "$W/free-first/"
daemon_unchanged free

login limited 'limited pass' 3
assert_eq 64 "$(cat /tmp/home/limited/nofile)" "the limited session's open files"
assert_eq 20 "$(awk '/^Max processes/ {print $3}' /tmp/home/limited/limits)" \
    "the limited session's processes"
assert_eq "Umask:	0077" "$(cat /tmp/home/limited/umask)" "the limited session's umask"
assert_eq 5 "$(cat /tmp/home/limited/nice)" "the limited session's priority"
daemon_unchanged limited

# The next session is exactly what it was before "limited" logged in.
login free 'free pass' 4
assert_eq "$(cat "$W/free-first/limits")" "$(cat /tmp/home/free/limits)" "the next session's limits"
assert_eq "$(cat "$W/free-first/umask")" "$(cat /tmp/home/free/umask)" "the next session's umask"
assert_eq "$(cat "$W/free-first/nice")" "$(cat /tmp/home/free/nice)" "the next session's priority"
grep -q '^Max open files *64 ' /tmp/home/free/limits && fail "the next session got the open-file limit"
daemon_unchanged free

# A failed login restores as well: pam_limits never ran, nothing may have moved.
type_text limited
press Tab
type_text 'not the password'
press Return
wait_log "Authentication failed for 'limited'"
daemon_unchanged "a failed login"
assert_alive
