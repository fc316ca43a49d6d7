# Secrets stay secret at the greeter. With remember_user, bob's name is on offer: alice types her
# name, Tab, her password and Return; bob types only his password and Return. The name field
# then shows just the name, and no password reaches the log or standard error. A name that is no
# account is in the log file but reaches standard error only as "an unknown user". A typed name
# and a PAM module's message holding U+202E and U+2028 are escaped in both. session.log is made
# 0600. A minute without input wipes carol's half-done change of her expired password: her name
# stays, the next password is a plain login again, and no typed password is left in the
# daemon's memory.
source "$SRC/tests/e2e/hard_lib.sh"
MOD=$(realpath "$BUILD/pam_vesko_test.so")
RLO=$(printf '\xe2\x80\xae')
LSEP=$(printf '\xe2\x80\xa8')
cat >/etc/pam.d/vesko <<PAM
auth     optional $MOD log=/tmp/pam.log info=evil${RLO}txt${LSEP}line
auth     required pam_unix.so nodelay
account  required pam_unix.so
password required pam_unix.so
session  required pam_unix.so
PAM
add_user alice 'alice-pw-31'
add_user bob 'bob-secret-55'
add_user carol 'carol-old-pw'
chage -d 0 carol
for u in alice bob; do
    echo 'sleep 0.3' >/tmp/home/$u/.xinitrc
    chown $u: /tmp/home/$u/.xinitrc
done
mkdir -m 1777 /run/user
write_config <<'TOML'
[ui]
remember_user = true
TOML
mkdir -m 700 -p /var/lib/vesko
echo bob >/var/lib/vesko/last-user
chmod 600 /var/lib/vesko/last-user
NAME_FIELD=320x44+352+340 # on the 1024 x 768 screen
name_field() { # shot -> $W/shot-name.png
    /usr/bin/convert "$W/$1.png" -crop $NAME_FIELD +repage "$W/$1-name.png"
}
same_name_field() { # shot shot what
    local diff
    diff=$(/usr/bin/compare -metric AE "$W/$1-name.png" "$W/$2-name.png" null: 2>&1 || true)
    assert_eq 0 "$diff" "$3"
}
sessions() { log_count "Session ended (code"; }

start_vesko
wait_greeter
wait_first_paint
move_to 5 5
sleep 0.3
shot offered_bob
name_field offered_bob

# Someone else: name, Tab, password.
type_text alice
press Tab
type_text 'alice-pw-31'
sleep 0.4
shot alice_typed
press Return
wait_log "Session ended (code" 30 1
wait_greeter 30 2
wait_first_paint
assert_eq 600 "$(stat -c %a /tmp/home/alice/session.log)" "a new session.log's mode"
move_to 5 5
sleep 0.3
shot offered_alice
name_field offered_alice
name_field alice_typed
same_name_field alice_typed offered_alice "name field after name, Tab, password"
shown=$(/usr/bin/compare -metric AE "$W/offered_bob-name.png" "$W/offered_alice-name.png" null: 2>&1 || true)
[ "${shown%% *}" -gt 0 ] || fail "the name field's picture does not show the name"

# The owner of the offered name: the password alone.
type_text 'alice-pw-31'
sleep 0.4
shot owner_typed
name_field owner_typed
same_name_field owner_typed offered_alice "name field after the password alone"
press Return
wait_log "Session ended (code" 30 2
wait_greeter 30 3
assert_eq 2 "$(log_count "Authentication succeeded for user 'alice'")" "alice's logins"

# A name that is no account; then a name with a right-to-left override and a line separator.
wait_first_paint
submit_login 'nobody-here-77' x
wait_log "Authentication failed for 'nobody-here-77'" 20
submit_login "eve${RLO}x${LSEP}y" x
wait_log 'Authentication failed for '"'"'eve\u202ex\u2028y'"'" 20
ERR=$W/vesko.stderr
grep -qF "Attempting login for user 'nobody-here-77'" "$VESKO_LOG" || fail "the log file lacks the name"
! grep -qF "nobody-here-77" "$ERR" || fail "an unknown name on standard error"
assert_eq 2 "$(grep -cF "Attempting login for an unknown user" "$ERR")" "unknown users on stderr"
for f in "$VESKO_LOG" "$ERR"; do
    grep -qF 'PAM: module message: evil\u202etxt\u2028line' "$f" || fail "$f: no escaped message"
    ! grep -qF "$RLO" "$f" || fail "$f holds a raw U+202E"
    ! grep -qF "$LSEP" "$f" || fail "$f holds a raw U+2028"
    ! grep -qF "alice-pw-31" "$f" || fail "$f holds alice's password"
    ! grep -qF "bob-secret-55" "$f" || fail "$f holds bob's password"
done
grep -qF "Attempting login for user 'alice'" "$ERR" || fail "a known name missing on stderr"

# carol's expired password: asked for a new one, the first entry given, the second half typed.
submit_login carol 'carol-old-pw'
wait_log "The password of 'carol' has expired: asking for a new one" 20
type_text 'carol-new-pw-1'
press Return
type_text 'carol-new-pw'
wait_log "No input for 60 s: typed passwords wiped" 75
/usr/bin/python3 - "$PROC/$VESKO_PID" carol-old-pw carol-new-pw alice-pw-31 <<'PY' ||
import sys
proc, needles = sys.argv[1], [n.encode() for n in sys.argv[2:]]
found = []
with open(proc + '/maps') as maps, open(proc + '/mem', 'rb', 0) as mem:
    for line in maps:
        span, perms = line.split()[:2]
        if 'r' not in perms:
            continue
        begin, end = (int(x, 16) for x in span.split('-'))
        try:
            mem.seek(begin)
            data = mem.read(end - begin)
        except (OSError, OverflowError, ValueError):
            continue
        found += [n.decode() + ' in ' + line.strip() for n in needles if n in data]
print('\n'.join(found), file=sys.stderr)
sys.exit(1 if found else 0)
PY
    fail "a typed password is still in the daemon's memory"
# The normal prompt, carol's name kept: her old password is a plain login again.
type_text 'carol-old-pw'
press Return
wait_log "The password of 'carol' has expired: asking for a new one" 20 2
assert_eq 0 "$(log_count "Password change failed")" "changes tried"
assert_eq 2 "$(log_count "Attempting login for user 'carol'")" "carol's logins"
assert_alive
