# Sessions from /usr/share/xsessions: "Default" and two installed entries in the chooser, picked
# with the keyboard (F10, arrows, Return) and with the pointer; the session runs the entry's
# program with DESKTOP_SESSION, XDG_SESSION_DESKTOP and XDG_CURRENT_DESKTOP; the choice comes back
# for that user (kept by root in /var/lib/vesko/sessions/UID) and not for another; a remembered
# session that was removed gives "Default" with an INFO line. Then the automatic login: the
# session at start without the greeter, the greeter after it, once per boot; root refused by the
# daemon and by the shipped PAM service.
source "$SRC/tests/e2e/hard_lib.sh"
# The session button (left of the layout button's place) and an item of the open list, on
# 1024x768.
BUTTON=(840 740)
ITEM_ALPHA=(840 668)

pam_unix_service
for u in alice bob carol; do
    add_user $u "$u pw"
    echo 'echo default >"$HOME/ran"; sleep 0.3' >/tmp/home/$u/.xinitrc
    chown $u: /tmp/home/$u/.xinitrc
done
mkdir -m 1777 /run/user
cat >/usr/local/bin/vesko-test-desktop <<'SH'
#!/bin/sh
echo "$1 $DESKTOP_SESSION $XDG_SESSION_DESKTOP $XDG_CURRENT_DESKTOP $#" >"$HOME/ran"
sleep 0.3
SH
chmod 755 /usr/local/bin/vesko-test-desktop
mkdir -p /usr/share/xsessions
rm -f /usr/share/xsessions/*.desktop # the machine's own (openbox)
printf '[Desktop Entry]\nName=Alpha Desktop\nExec=vesko-test-desktop alpha %%U\nDesktopNames=Alpha;Shared;\n' \
    >/usr/share/xsessions/alpha.desktop
printf '[Desktop Entry]\nName=Beta\nExec=vesko-test-desktop beta\nTryExec=vesko-test-desktop\nDesktopNames=Beta\n' \
    >/usr/share/xsessions/beta.desktop
printf '[Desktop Entry]\nName=Gone\nExec=x\nTryExec=/nonexistent/x\n' >/usr/share/xsessions/gone.desktop
printf '[Desktop Entry]\nName=Planted\nExec=x\n' >/usr/share/xsessions/planted.desktop
chown carol: /usr/share/xsessions/planted.desktop
chmod 644 /usr/share/xsessions/*.desktop

ran_for() { cat "/tmp/home/$1/ran"; rm -f "/tmp/home/$1/ran"; } # user
choice_of() { cat "/var/lib/vesko/sessions/$(id -u "$1")" 2>/dev/null || echo none; } # user

start_vesko
wait_greeter
wait_first_paint
wait_log "Sessions: skipping /usr/share/xsessions/planted.desktop: it is not root's, or others may write it"
move_to 5 5
shot closed
press F10
sleep 0.3
shot open
differing=$(/usr/bin/compare -metric AE "$W/closed.png" "$W/open.png" null: 2>&1 || true)
[ "$differing" -gt 1000 ] || fail "F10 did not open the list ($differing pixels changed)"
press Escape

# Keyboard: two steps down from Default is Beta (Alpha Desktop, Beta, sorted by name).
fill_login alice 'alice pw'
press F10 Down Down Return Return
wait_log "Session ended (code" 30 1
assert_eq "beta beta beta Beta 1" "$(ran_for alice)" "alice's session"
assert_log_order "[INFO] Session: 'Beta' (beta)" "[INFO] Session child forked with PID $(sed -n 's/.*Session launched with PID //p' "$VESKO_LOG" | head -1)"
assert_eq "beta" "$(choice_of alice)" "alice's remembered session"
assert_eq "root 600 root 700" \
    "$(stat -c '%U %a' "/var/lib/vesko/sessions/$(id -u alice)") $(stat -c '%U %a' /var/lib/vesko/sessions)" \
    "owner and mode of the choice"

# Pointer: a click on the button, a click on "Alpha Desktop"; the field codes are gone.
wait_greeter 30 2
wait_first_paint
fill_login bob 'bob pw'
click_at "${BUTTON[@]}"
sleep 0.2
click_at "${ITEM_ALPHA[@]}"
sleep 0.2
press Return
wait_log "Session ended (code" 30 2
assert_eq "alpha alpha alpha Alpha:Shared 1" "$(ran_for bob)" "bob's session"
assert_eq "alpha" "$(choice_of bob)" "bob's remembered session"

# alice's name brings Beta back; carol, who never chose, gets Default.
wait_greeter 30 3
wait_first_paint
login_cycle alice 'alice pw'
assert_eq "beta beta beta Beta 1" "$(ran_for alice)" "alice's session the second time"
# Entries are read at each showing: the next one is without Beta.
rm /usr/share/xsessions/beta.desktop
login_cycle carol 'carol pw'
assert_eq "default" "$(ran_for carol)" "carol's session"
assert_eq "none" "$(choice_of carol)" "carol's remembered session"

# Beta removed: alice gets Default, and the log says why.
wait_first_paint
login_cycle alice 'alice pw'
assert_eq "default" "$(ran_for alice)" "alice's session once Beta is gone"
assert_log_order "[INFO] Sessions: the session 'beta' remembered for uid $(id -u alice) is no longer installed; showing Default" \
    "[INFO] Attempting login for user 'alice'"
stop_vesko_and_x

# Automatic login through the shipped service's checks, with pam_unix for the other stacks.
grep '^auth' "$SRC/packaging/pam.vesko-autologin" >/etc/pam.d/vesko-autologin
printf 'account required pam_unix.so\nsession required pam_unix.so\n' >>/etc/pam.d/vesko-autologin
write_config <<'TOML'
[autologin]
user = "bob"
session = "alpha"
TOML
: >"$VESKO_LOG"
start_vesko
wait_log "Session ended (code 0), re-showing login screen" 30
assert_eq "alpha alpha alpha Alpha:Shared 1" "$(ran_for bob)" "bob's automatic session"
assert_log_order "[INFO] Automatic login for 'bob'" \
    "[INFO] PAM: initializing client for service 'vesko-autologin', user 'bob'" \
    "[INFO] Session: 'Alpha Desktop' (alpha)" "[INFO] Session ended (code 0), re-showing login screen" \
    "[INFO] Entering login screen"
assert_eq 1 "$(log_count "Entering login screen")" "showings up to the first after the session"
wait_greeter
[ -e /run/vesko/autologin-done ] || fail "no marker after the automatic login"
# A restarted daemon in the same boot shows the greeter.
stop_vesko_and_x
: >"$VESKO_LOG"
start_vesko
wait_greeter
wait_log "Automatic login: already done this boot (/run/vesko/autologin-done); showing the login screen"
assert_eq 0 "$(log_count "Automatic login for")" "automatic logins after a restart"
stop_vesko_and_x

# Root: refused by the daemon, and by the service itself.
rm /run/vesko/autologin-done
write_config <<'TOML'
[autologin]
user = "root"
TOML
: >"$VESKO_LOG"
start_vesko
wait_greeter
wait_log "Automatic login refused for 'root': it is root"
assert_eq 0 "$(log_count "Attempting login")" "logins attempted for root"
if pamtester vesko-autologin root authenticate >/dev/null 2>&1; then
    fail "the automatic login's PAM service let root in"
fi
pamtester vesko-autologin bob authenticate >/dev/null 2>&1 ||
    fail "the automatic login's PAM service refused bob"
