# What a user can put in the way of the root daemon: files in the home that root must never
# open blindly, a runtime directory planted by someone else, an account without a login shell,
# and the password left in the daemon's memory while the session runs.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
add_user alice 'alice pw' -u 3501
add_user bob 'Zq7-bob-secret-91' -u 3502
add_user eve 'eve pw' -u 3503
add_user sftp 'sftp pw' -u 3504 -s /usr/sbin/nologin
# A session that records its environment and its runtime directory, then waits for the test.
for u in alice bob; do
    cat >"/tmp/home/$u/.xinitrc" <<'SH'
tr '\0' '\n' </proc/self/environ >"$HOME/environ"
stat -c '%U %a %F' "$XDG_RUNTIME_DIR" >"$HOME/runtime" 2>&1
touch "$HOME/ready"
while [ ! -e "$HOME/go" ]; do sleep 0.1; done
SH
    chown "$u": "/tmp/home/$u/.xinitrc"
done
finish_session() { # user: lets the waiting session end and waits for the next greeter
    local showings
    showings=$(log_count "Entering login screen")
    touch "/tmp/home/$1/go"
    wait_log "Entering login screen" 20 $((showings + 1))
    wait_first_paint
    rm -f "/tmp/home/$1/go" "/tmp/home/$1/ready"
}

# A normal /run/user: root's, not writable by users. The session process makes the directory.
mkdir -m 755 /run/user
# alice's home holds FIFOs where root would read a cursor (if its HOME pointed here) and where
# the session writes its log and cookie: none of them may block anything.
mkdir -p /tmp/home/alice/.icons/default/cursors
mkfifo /tmp/home/alice/.icons/default/cursors/left_ptr /tmp/home/alice/session.log \
    /tmp/home/alice/.Xauthority
chown -R alice: /tmp/home/alice

start_vesko
wait_greeter
submit_login alice 'alice pw'
wait_file /tmp/home/alice/ready 20
assert_eq "alice 700 directory" "$(cat /tmp/home/alice/runtime)" "alice's runtime directory"
grep -qx "XDG_RUNTIME_DIR=/run/user/3501" /tmp/home/alice/environ || fail "no XDG_RUNTIME_DIR"
assert_eq "fifo" "$(stat -c %F /tmp/home/alice/session.log | cut -d' ' -f1)" "the session log FIFO"
finish_session alice
# The greeter after alice (its cursor made with root's rights) is there and answers.
assert_answers "the greeter after a session whose home holds a cursor FIFO"

# A world-writable /run/user: eve plants bob's runtime directory before he logs in.
chmod 1777 /run/user
setpriv --reuid=eve --regid="$(id -g eve)" --init-groups mkdir -m 777 /run/user/3502
submit_login bob 'Zq7-bob-secret-91'
wait_file /tmp/home/bob/ready 20
grep -q "^XDG_RUNTIME_DIR=" /tmp/home/bob/environ &&
    fail "bob's session was given eve's directory: $(grep XDG_RUNTIME_DIR /tmp/home/bob/environ)"
assert_log_order "[WARN] Session: XDG_RUNTIME_DIR left out: /run/user/3502: it belongs to uid 3503"
assert_eq "eve 777" "$(stat -c '%U %a' /run/user/3502)" "eve's planted directory"

# While bob's session runs, his password is nowhere in the daemon's memory.
/usr/bin/python3 - "$PROC/$VESKO_PID" 'Zq7-bob-secret-91' <<'PY' || fail "bob's password is in the daemon's memory"
import re, sys
proc, secret = sys.argv[1], sys.argv[2].encode()
found = []
with open(proc + '/maps') as maps, open(proc + '/mem', 'rb', 0) as mem:
    for line in maps:
        m = re.match(r'([0-9a-f]+)-([0-9a-f]+) r', line)
        if not m:
            continue
        start, end = int(m.group(1), 16), int(m.group(2), 16)
        try:
            mem.seek(start)
            if secret in mem.read(end - start):
                found.append(line.strip())
        except OSError:
            pass
print('\n'.join(found), file=sys.stderr)
sys.exit(1 if found else 0)
PY
finish_session bob

# An account whose shell is not a login shell gets no session, whatever its password.
before=$(log_count "Entering login screen")
submit_login sftp 'sftp pw'
wait_log "Session launch failed for 'sftp'" 15
assert_log_order \
    "[ERROR] User 'sftp': shell '/usr/sbin/nologin' is not listed in /etc/shells" \
    "[ERROR] Session launch failed for 'sftp': User 'sftp' has no login shell"
[ -z "$(pids_of_uid 3504)" ] || fail "a process of sftp is running"
assert_eq "$before" "$(log_count "Entering login screen")" "showings after the refused account"
assert_answers "the greeter after a refused account"
assert_alive
