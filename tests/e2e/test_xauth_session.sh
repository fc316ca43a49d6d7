# Each session gets the server's cookie of the day in its own ~/.Xauthority and can use the
# display; when it ends, the server is reset with a new cookie: its cookie is refused, every client
# it left behind is gone and what it opened in the host list is closed again, so the next user's
# greeter is safe from it.
pam_unix_service
add_user ann 'ann pass' -u 1511
add_user bob 'bob pass' -u 1512
add_user eve 'eve pass' -u 1513 # never logs in: any other user on the machine
mkdir -m 1777 /run/user
install -m 755 "$BUILD/x_retained_window" "$BUILD/x_bare_client" /usr/local/bin/
cookie_of() { # authority file -> the cookie of its entry for this host's display 0
    xauth -f "$1" list | awk -v host="$(hostname)/unix:0" '$1 == host {print $3}'
}
login() { # name password
    type_text "$1"
    press Tab
    type_text "$2"
    press Return
}

cat >/tmp/home/ann/.xinitrc <<'SH'
PROC=$(dirname "$(realpath /proc/self)")
out=$HOME/record
mkdir -p "$out"
cat "$PROC/$$/environ" >"$out/environ"
xdpyinfo >"$out/xdpyinfo" 2>&1
echo $? >"$out/xdpyinfo.rc"
touch "$out/ready"
while [ ! -e "$out/go" ]; do sleep 0.1; done
# Opens the display to everyone by host, as a careless user might.
xhost +local: >"$out/xhost" 2>&1
xhost +si:localuser:eve >>"$out/xhost" 2>&1
# A client that outlives the session, holding its connection.
setsid xev -name vesko-leftover >/dev/null 2>&1 </dev/null &
echo $! >"$out/leftover"
# Windows the server keeps after their clients went: one made with the cookie, one let in by
# host alone.
x_retained_window vesko-retained-cookie >>"$out/retained" 2>&1
XAUTHORITY=/dev/null x_retained_window vesko-retained-host >>"$out/retained" 2>&1
# A client let in by host that owns nothing the server could name it by.
XAUTHORITY=/dev/null setsid x_bare_client >"$out/bare" 2>&1 </dev/null &
while [ ! -s "$out/bare" ]; do sleep 0.1; done
touch "$out/opened"
while [ ! -e "$out/end" ]; do sleep 0.1; done
exit 0
SH
chown ann: /tmp/home/ann/.xinitrc
# ann's file already holds a cookie for another display, which must stay, and a stale
# wildcard entry for display 0, which must go.
xauth -f /tmp/home/ann/.Xauthority add :5 MIT-MAGIC-COOKIE-1 00112233445566778899aabbccddeeff 2>/dev/null
echo "ffff 0000  0001 30 0012 4d49542d4d414749432d434f4f4b49452d31 0010 ffeeddccbbaa99887766554433221100" |
    xauth -f /tmp/home/ann/.Xauthority nmerge -
chown ann: /tmp/home/ann/.Xauthority
chmod 644 /tmp/home/ann/.Xauthority

start_vesko
wait_greeter
server_cookie=$(cookie_of /run/vesko/xauth)
[ ${#server_cookie} -eq 32 ] || fail "no server cookie"

login ann 'ann pass'
r=/tmp/home/ann/record
wait_file $r/ready

# The session reaches the display with its own cookie, in a file only ann can read.
assert_eq 0 "$(cat $r/xdpyinfo.rc)" "xdpyinfo in the session (output: $(head -3 $r/xdpyinfo))"
assert_eq "$(session_env ann 1511)" "$(tr '\0' '\n' <$r/environ)" "session environment"
assert_eq "ann ann 600" "$(stat -c '%U %G %a' /tmp/home/ann/.Xauthority)" "ann's .Xauthority"
xauth -f /tmp/home/ann/.Xauthority list >"$W/ann-auth"
ann_cookie=$(cookie_of /tmp/home/ann/.Xauthority)
[ ${#ann_cookie} -eq 32 ] || fail "no cookie for ann: $(cat "$W/ann-auth")"
assert_eq "$server_cookie" "$ann_cookie" "ann's cookie"
assert_eq "$(hostname)/unix:0  MIT-MAGIC-COOKIE-1  $ann_cookie
$(hostname)/unix:5  MIT-MAGIC-COOKIE-1  00112233445566778899aabbccddeeff" \
    "$(cat "$W/ann-auth")" "ann's entries"
ls /tmp/home/ann/.Xauthority-* 2>/dev/null && fail "lock or temporary files left behind"

# Nobody else gets in while the session runs.
if as_user eve xdpyinfo >"$W/eve-during" 2>&1; then fail "eve opened the display during the session"; fi
grep -q 'unable to open display ":0"' "$W/eve-during" || fail "$(cat "$W/eve-during")"

# Until the session itself lets others in by host.
touch $r/go
wait_file $r/opened
leftover=$(cat $r/leftover)
wait_until 10 "the leftover client never connected" X xdotool search --name vesko-leftover
as_user eve xdpyinfo >/dev/null 2>&1 || fail "the session's xhost had no effect: $(cat $r/xhost)"
for name in vesko-retained-cookie vesko-retained-host; do
    X xdotool search --name "$name" >/dev/null || fail "no window $name: $(cat $r/retained)"
done

touch $r/end
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
sid=$(log_messages | sed -n 's/^\[INFO\] Waiting for child PID \([0-9]*\) to exit$/\1/p' | head -1)
assert_log_order \
    "[INFO] Child PID $sid exited with code 0" \
    "[INFO] X: resetting the X server (PID $(xorg_pid))" \
    "[INFO] Session ended (code 0), re-showing login screen" \
    "[INFO] Entering login screen"
next_cookie=$(cookie_of /run/vesko/xauth)
[ ${#next_cookie} -eq 32 ] || fail "no server cookie after the session"
[ "$next_cookie" != "$ann_cookie" ] || fail "the server kept ann's cookie"

# Even the client that owns nothing the server could name it by is gone.
bare=$(cat $r/bare)
wait_until 10 "the client without resources is still connected" has_exited "$bare"

# The leftover client lost its connection and ended.
wait_until 10 "the leftover client is still running" has_exited "$leftover"
for name in vesko-leftover vesko-retained-cookie vesko-retained-host; do
    X xdotool search --name "$name" >/dev/null 2>&1 && fail "the window $name is still there"
done
# ann's old cookie is refused, and the host list is as it was at start-up.
if as_user ann xdpyinfo >"$W/ann-after" 2>&1; then fail "ann's old cookie still opens the display"; fi
grep -q 'unable to open display ":0"' "$W/ann-after" || fail "$(cat "$W/ann-after")"
if as_user eve xdpyinfo >"$W/eve-after" 2>&1; then fail "eve still gets in by host"; fi
assert_eq "access control enabled, only authorized clients can connect" "$(X xhost)" "host list"
[ -n "$(greeter_window)" ] || fail "no greeter after the session"

# The next user gets a different cookie; the last one's stays refused.
cat >/tmp/home/bob/.xinitrc <<'SH'
xdpyinfo >"$HOME/xdpyinfo" 2>&1
echo $? >"$HOME/xdpyinfo.rc"
SH
chown bob: /tmp/home/bob/.xinitrc
login bob 'bob pass'
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
assert_eq 0 "$(cat /tmp/home/bob/xdpyinfo.rc)" "xdpyinfo in bob's session"
bob_cookie=$(cookie_of /tmp/home/bob/.Xauthority)
[ ${#bob_cookie} -eq 32 ] || fail "no cookie for bob"
[ "$bob_cookie" != "$ann_cookie" ] || fail "bob got ann's cookie"
[ "$bob_cookie" != "$server_cookie" ] || fail "bob got the first session's cookie"
assert_eq "bob bob 600" "$(stat -c '%U %G %a' /tmp/home/bob/.Xauthority)" "bob's .Xauthority"
[ "$(cookie_of /run/vesko/xauth)" != "$bob_cookie" ] || fail "the server kept bob's cookie"
if as_user bob xdpyinfo >/dev/null 2>&1; then fail "bob's cookie outlived his session"; fi
if as_user ann xdpyinfo >/dev/null 2>&1; then fail "ann's cookie works again"; fi
X xdpyinfo >/dev/null || fail "root's cookie no longer works"
assert_alive
