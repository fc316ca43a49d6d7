# Secrets stay secret at the greeter. With remember_user bob's name is on offer: alice types her
# name, Tab, her password and Return, bob only his password; the name field shows just the name
# and no password reaches the log or standard error. A name that is no account is in the log file
# but on standard error only "an unknown user". A typed name and a PAM message holding U+202E and
# U+2028 are escaped in both. session.log is made 0600. A minute without input wipes carol's
# half-done change of her expired password: her name stays, the next password is a plain login,
# and no typed password is left in the daemon's memory.
source "$SRC/tests/e2e/hard_lib.sh"
RLO=$(printf '\xe2\x80\xae')
LSEP=$(printf '\xe2\x80\xa8')
cat >/etc/pam.d/vesko <<PAM
auth     optional $(realpath "$BUILD/pam_vesko_test.so") log=/tmp/pam.log info=evil${RLO}txt${LSEP}line
auth     required pam_unix.so nodelay
account  required pam_unix.so
password required pam_unix.so
session  required pam_unix.so
PAM
add_user alice 'alice-pw-31'
add_user bob 'bob-secret-55'
add_user carol 'carol-old-pw'
chage -d 0 carol
echo 'sleep 0.3' >/tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user
printf '[ui]\nremember_user = true\n' | write_config
mkdir -m 700 /var/lib/vesko
echo bob >/var/lib/vesko/last-user
ERR=$W/vesko.stderr
name_shot() { # name: the name field (on the 1024 x 768 screen) in $W/name.png
    sleep 0.4
    shot "$1"
    /usr/bin/convert "$W/$1.png" -crop 320x44+352+340 +repage "$W/$1-name.png"
}
differ() { /usr/bin/compare -metric AE "$W/$1-name.png" "$W/$2-name.png" null: 2>&1 || true; }

start_vesko
wait_greeter
wait_first_paint
move_to 5 5
name_shot offered_bob
type_text alice
press Tab
type_text 'alice-pw-31'
name_shot alice_typed
press Return
wait_log "Session ended (code" 30 1
wait_greeter 30 2
wait_first_paint
assert_eq 600 "$(stat -c %a /tmp/home/alice/session.log)" "a new session.log's mode"
move_to 5 5
name_shot offered_alice
[ "$(differ offered_bob offered_alice)" != 0 ] || fail "the name field's picture shows no name"
assert_eq 0 "$(differ alice_typed offered_alice)" "name field after name, Tab, password"
type_text 'alice-pw-31'
name_shot owner_typed
assert_eq 0 "$(differ owner_typed offered_alice)" "name field after the password alone"
press Return
wait_log "Session ended (code" 30 2
wait_greeter 30 3
assert_eq 2 "$(log_count "Authentication succeeded for user 'alice'")" "alice's logins"

wait_first_paint
submit_login 'nobody-here-77' x
submit_login "eve${RLO}x${LSEP}y" x
wait_log 'Authentication failed for '"'"'eve\u202ex\u2028y'"'" 20
log_has "Attempting login for user 'nobody-here-77'" || fail "the log file lacks the name"
assert_eq "0 2" "$(grep -c nobody-here-77 "$ERR") $(grep -c "login for an unknown user" "$ERR")" \
    "unknown names on standard error, and lines naming an unknown user"
for f in "$VESKO_LOG" "$ERR"; do
    grep -qF 'PAM: module message: evil\u202etxt\u2028line' "$f" || fail "$f: no escaped message"
    assert_eq 0 "$(grep -cE "$RLO|$LSEP|alice-pw-31|bob-secret-55" "$f")" "raw controls or passwords in $f"
done

submit_login carol 'carol-old-pw'
wait_log "The password of 'carol' has expired: asking for a new one" 20
type_text 'carol-new-pw-1'
press Return
type_text 'carol-new-pw'
wait_log "No input for 60 s: typed passwords wiped" 75
/usr/bin/python3 - "$PROC/$VESKO_PID" carol-old-pw carol-new-pw alice-pw-31 <<'PY' ||
import sys
proc, needles, found = sys.argv[1], [n.encode() for n in sys.argv[2:]], []
with open(proc + '/maps') as maps, open(proc + '/mem', 'rb', 0) as mem:
    for line in maps:
        begin, end = (int(x, 16) for x in line.split()[0].split('-'))
        try:
            data = mem.seek(begin) and mem.read(end - begin) if 'r' in line.split()[1] else b''
        except (OSError, OverflowError, ValueError):
            continue
        found += [n.decode() + ' in ' + line.strip() for n in needles if n in data]
sys.exit('\n'.join(found) or None)
PY
    fail "a typed password is still in the daemon's memory"
type_text 'carol-old-pw'
press Return
wait_log "The password of 'carol' has expired: asking for a new one" 20 2
assert_eq "0 2" "$(log_count "Password change failed") $(log_count "login for user 'carol'")" \
    "changes tried, and carol's logins"
