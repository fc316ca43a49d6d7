# Grabs a session's programs keep after it: the keyboard, held by a client let in by the
# session's host entry that owns nothing the server could name it by, and the whole server.
# Neither may get the next user's typing or keep the greeter away. And when the daemon's own
# connection is killed, the same server is reset and shows the greeter again. Each attack is judged on its own, so that one run shows
# every one that gets through.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user ann 'ann pass'
add_user bob 'bob pass'
install -m 755 "$BUILD/x_key_recorder" "$BUILD/x_server_grab" /usr/local/bin/
A=/tmp/home/ann

# The greeter's window, each request bounded: a grabbed server answers no one.
greeter_window_bounded() {
    timeout 2 bash -c "$(declare -f X greeter_window); greeter_window" 2>/dev/null || true
}

printf 'echo started >>"$HOME/started"\n' >/tmp/home/bob/.xinitrc
chown bob: /tmp/home/bob/.xinitrc

start_vesko
wait_greeter
xpid=$(xorg_pid)

# 1. A keyboard grab left by ann's session.
cat >$A/.xinitrc <<'SH'
xhost +si:localuser:ann >/dev/null
XAUTHORITY=/dev/null setsid x_key_recorder grab "$HOME/grabbed.keys" >"$HOME/grabber.pid" \
    2>"$HOME/grabber.err" </dev/null &
while [ ! -s "$HOME/grabber.pid" ]; do sleep 0.1; done
echo ready >"$HOME/ready"
while [ ! -e "$HOME/end" ]; do sleep 0.1; done
SH
chown ann: $A/.xinitrc
submit_login ann 'ann pass'
has_content_within $A/ready || fail "ann's session did not get ready: $(cat $A/grabber.err)"
grabber=$(cat $A/grabber.pid)
X xdotool type --delay 50 probe
wait_until 5 "the grab did not take 'probe': '$(cat $A/grabbed.keys)'" file_is $A/grabbed.keys probe
touch $A/end
wait_greeter 20 2
showings=$(log_count "Entering login screen")
submit_login bob 'bob pass'
if has_content_within /tmp/home/bob/started 10; then
    wait_greeter 20 $((showings + 1))
else
    defect "bob's typed login did not start his session"
fi
[ "$(cat $A/grabbed.keys)" = probe ] ||
    defect "the keyboard grab left by ann's session got bob's typing: '$(cat $A/grabbed.keys)'"
kill "$grabber" 2>/dev/null || true

# 2. A server grab left by ann's session: no other client is served until it goes.
cat >$A/.xinitrc <<'SH'
while [ ! -e "$HOME/go" ]; do sleep 0.1; done
setsid x_server_grab >"$HOME/server-grab.pid" 2>"$HOME/server-grab.err" </dev/null &
while [ ! -s "$HOME/server-grab.pid" ]; do sleep 0.1; done
SH
showings=$(log_count "Entering login screen")
submit_login ann 'ann pass'
deadline=$((SECONDS + 10))
while [ -n "$(greeter_window_bounded)" ]; do
    [ $SECONDS -lt $deadline ] || fail "the greeter stayed up during ann's second session"
    sleep 0.1
done
touch $A/go
has_content_within $A/server-grab.pid 10 || fail "the server grab did not start: $(cat $A/server-grab.err)"
t0=$(now_ms)
while [ -z "$(greeter_window_bounded)" ] && [ $(($(now_ms) - t0)) -lt 20000 ]; do
    sleep 0.2
done
if [ -z "$(greeter_window_bounded)" ]; then
    defect "no greeter within 20 s of a session that left the server grabbed"
    kill "$(cat $A/server-grab.pid)" || true
else
    note "greeter back $(($(now_ms) - t0)) ms after the server grab"
fi
wait_greeter 20 $((showings + 1))

assert_eq "$xpid" "$(xorg_pid)" "X server PID"
assert_eq 1 "$(pids_of_exe /usr/bin/Xvfb | wc -l)" "X servers"
assert_alive
assert_no_x_errors

# 3. The daemon's own connection killed from outside: the server is reset, never stopped, and
# the greeter comes back on it.
showings=$(log_count "Entering login screen")
X xkill -id "$(greeter_window)" >/dev/null 2>&1 || true
wait_log "Lost the connection to the X display" 10
if eventually 20 log_has "Entering login screen" $((showings + 1)); then
    wait_greeter 20 $((showings + 1))
    [ "$xpid" = "$(xorg_pid)" ] || defect "the X server was replaced after the daemon lost its connection"
    vesko_alive || defect "the daemon ended after losing its connection"
else
    defect "no greeter after the daemon's connection was killed"
fi
[ "$DEFECTS" -eq 0 ] || fail "$DEFECTS attacks got through"
