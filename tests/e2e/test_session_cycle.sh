# The whole cycle with real PAM: a user logs in through the greeter, the start script records
# what the session was given and exits with status 3, and a fresh greeter comes back on the
# same X server. A second login of the same user empties the session log.
pam_unix_service
groupadd -g 1601 film
groupadd -g 1602 music
add_user alice 'correct horse' -u 1501 -G film,music
cat >/tmp/home/alice/.xinitrc <<'SH'
# /proc in the sandbox holds links; the real procfs is where /proc/self leads.
PROC=$(dirname "$(realpath /proc/self)")
out=$HOME/record
mkdir -p "$out"
echo $$ >"$out/pid"
cut -d' ' -f4 "$PROC/$$/stat" >"$out/ppid"
id >"$out/id"
cat "$PROC/$$/environ" >"$out/environ"
# find writes the list itself: a shell redirection would show up among the descriptors.
find "$PROC/$$/fd" -mindepth 1 -fprintf "$out/fds" '%f %l\n'
pwd >"$out/cwd"
stat -c '%U %a' "$XDG_RUNTIME_DIR" >"$out/rundir"
mkdir -p "$XDG_RUNTIME_DIR/deep/er" && ln -s /etc "$XDG_RUNTIME_DIR/deep/etc"
cut -d' ' -f6,7 "$PROC/$$/stat" >"$out/stat"
# What the session's programs start with (the shell itself blocks signals while it waits).
grep '^Sig[BI][lg][kn]:' /proc/self/status >"$out/signals"
yes 2>"$out/pipe.err" | head -n1 >"$out/pipe.out"
echo "session stdout"
echo "session stderr" >&2
exit 3
SH
# No execute permission: the script runs as the shell's argument.
chmod 644 /tmp/home/alice/.xinitrc
chown alice: /tmp/home/alice/.xinitrc
# Where no PAM module prepares /run/user, users may create their own runtime directory.
mkdir -m 1777 /run/user
PROC=$(dirname "$(realpath /proc/self)")

start_vesko
wait_greeter
xpid=$(xorg_pid)
mark_window "$(greeter_window)"

type_text alice
press Tab
type_text 'correct horse'
press Return
wait_log "Session ended (code 3), re-showing login screen" 20
wait_greeter 20 2

# The daemon waits for the session process, which holds the PAM session and is the parent of
# the session program.
pid=$(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p')
assert_eq "$pid" "$(cat /tmp/home/alice/record/ppid)" "the session program's parent"
assert_log_order \
    "[INFO] Entering login screen" \
    "[INFO] Attempting login for user 'alice'" \
    "[INFO] Authentication succeeded for user 'alice'" \
    "[INFO] Launching graphical session for 'alice'" \
    "[INFO] launch_session: user='alice' display=':0' graphical=true" \
    "[INFO] User 'alice': uid=1501 gid=1501 home='/tmp/home/alice' shell='/bin/bash'" \
    "[INFO] PAM: session opened successfully" \
    "[INFO] Session child forked with PID $pid" \
    "[INFO] Session launched with PID $pid" \
    "[INFO] Waiting for child PID $pid to exit" \
    "[INFO] Child PID $pid exited with code 3" \
    "[INFO] Session ended (code 3), re-showing login screen" \
    "[INFO] Entering login screen"
# From the successful authentication to the reaped child, those lines follow each other.
log_messages | sed -n "/Authentication succeeded for user 'alice'/,\$p" | head -n 9 >"$W/cycle-lines"
assert_eq "[INFO] Authentication succeeded for user 'alice'
[INFO] Launching graphical session for 'alice'
[INFO] launch_session: user='alice' display=':0' graphical=true
[INFO] User 'alice': uid=1501 gid=1501 home='/tmp/home/alice' shell='/bin/bash'
[INFO] PAM: session opened successfully
[INFO] Session child forked with PID $pid
[INFO] Session launched with PID $pid
[INFO] Waiting for child PID $pid to exit
[INFO] Child PID $pid exited with code 3" "$(cat "$W/cycle-lines")" "the cycle's log lines"

# The same X server, and a new greeter window in place of the old one.
assert_eq "$xpid" "$(xorg_pid)" "X server PID"
kill -0 "$xpid" || fail "the X server is gone"
[ -n "$(greeter_window)" ] || fail "no greeter after the session"
[ -n "$(new_greeter_window)" ] || fail "the old greeter window came back"
assert_alive

r=/tmp/home/alice/record
assert_eq "uid=1501(alice) gid=1501(alice) groups=1501(alice),1601(film),1602(music)" \
    "$(cat $r/id)" "identity"
assert_eq "$(session_env alice 1501)" "$(tr '\0' '\n' <$r/environ)" "environment"
assert_eq /tmp/home/alice "$(cat $r/cwd)" "working directory"

# Standard input is /dev/null, output the session log; beyond that only the shell's own
# hold on its script (close-on-exec). No X connection, no log file, no terminal.
sort -n $r/fds >"$W/fds"
assert_eq "0 /dev/null" "$(sed -n 1p "$W/fds")" "descriptor 0"
assert_eq "1 /tmp/home/alice/session.log" "$(sed -n 2p "$W/fds")" "descriptor 1"
assert_eq "2 /tmp/home/alice/session.log" "$(sed -n 3p "$W/fds")" "descriptor 2"
if sed -n '4,$p' "$W/fds" | grep -v ' /tmp/home/alice/.xinitrc$'; then
    fail "descriptors leaked into the session: $(cat "$W/fds")"
fi
if grep -E 'socket:|vesko.log|/dev/tty0' "$W/fds"; then fail "leaked descriptor"; fi

# The session process's own process session, without a controlling terminal, and default
# signal handling,
# although the daemon ignores SIGPIPE (and, started as a background job, SIGINT and SIGQUIT).
assert_eq "$pid 0" "$(cat $r/stat)" "session ID and terminal"
daemon_ignored=$(awk '/^SigIgn:/ {print $2}' "$PROC/$VESKO_PID/status")
(((16#$daemon_ignored >> 12) & 1)) || fail "the daemon does not ignore SIGPIPE"
assert_eq "SigBlk:	0000000000000000
SigIgn:	0000000000000000" "$(cat $r/signals)" "blocked and ignored signals"
assert_eq y "$(cat $r/pipe.out)" "pipeline output"
assert_eq "" "$(cat $r/pipe.err)" "pipeline errors"

assert_eq "session stdout
session stderr" "$(cat /tmp/home/alice/session.log)" "session log"
assert_eq "alice alice 600" "$(stat -c '%U %G %a' /tmp/home/alice/session.log)" "session log owner"
grep -q "session stdout" "$W/vesko.stderr" && fail "session output reached the daemon"
assert_eq "alice 700" "$(cat $r/rundir)" "runtime directory"
# Made by the daemon, so removed by it at logout; a link in it is removed, never followed.
[ ! -e /run/user/1501 ] || fail "the runtime directory outlived the session"
[ -f /etc/passwd ] || fail "the removal followed a link"

# A second login empties the session log before the new session writes to it.
cat >/tmp/home/alice/.xinitrc <<'SH'
echo second
SH
type_text alice
press Tab
type_text 'correct horse'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 3
assert_eq second "$(cat /tmp/home/alice/session.log)" "session log after the second login"
assert_eq "$xpid" "$(xorg_pid)" "X server PID"
assert_alive
[ ! -e /var/lib/vesko/last-user ] || fail "the last user was remembered without remember_user"
