# What a session can leave in the X server for the next user: a cookie it minted itself, a
# keystroke recorder let in by its own host entry that owns nothing the server could name it by,
# resources and a cut buffer on the root window, Caps Lock on and a remapped key. None of it may
# reach the next users: their typing is recorded nowhere, their sessions see nothing of the last
# one, and their passwords typed on the keyboard log them in. Each attack is judged on its own,
# so that one run shows every one that gets through.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user ann 'ann pass'
add_user bob 'bob pass'
add_user carl 'carl pass'
install -m 755 "$BUILD/x_key_recorder" "$BUILD/x_mint_cookie" /usr/local/bin/
A=/tmp/home/ann
B=/tmp/home/bob

start_vesko
wait_greeter
xpid=$(xorg_pid)

# Keys as a person finds them on the keyboard: the keycodes the server's layout had at start.
declare -A KEYCODE
while read -r _ code _ sym _; do
    if [ -n "${sym:-}" ] && [ -z "${KEYCODE[$sym]:-}" ]; then
        KEYCODE[$sym]=$code
    fi
done < <(X xmodmap -pke)
type_keys() { # lower-case letters and spaces
    local keys=() i c
    for ((i = 0; i < ${#1}; i++)); do
        c=${1:i:1}
        [ "$c" = " " ] && c=space
        keys+=("${KEYCODE[$c]}")
    done
    X xdotool key --delay 30 "${keys[@]}"
}

# ann's session mints a cookie of its own, lets herself in by host and starts a recorder
# through that door, out of the session's process group; then it leaves resources and a cut
# buffer on the root window.
cat >$A/.xinitrc <<'SH'
x_mint_cookie >"$HOME/minted.hex" 2>&1
xauth -f "$HOME/minted" add :0 . "$(cat "$HOME/minted.hex")"
xhost +si:localuser:ann >/dev/null
XAUTHORITY=/dev/null setsid x_key_recorder poll "$HOME/bare.keys" >"$HOME/bare.pid" \
    2>"$HOME/bare.err" </dev/null &
echo 'vesko.leak: from-ann' | xrdb -load -
xprop -root -f CUT_BUFFER0 8s -set CUT_BUFFER0 'ann was here'
while [ ! -s "$HOME/bare.pid" ]; do sleep 0.1; done
echo ready >"$HOME/ready"
while [ ! -e "$HOME/end" ]; do sleep 0.1; done
SH
# bob's session notes what it finds on the root window, then leaves Caps Lock on and the key
# for p giving q.
cat >$B/.xinitrc <<'SH'
xprop -root RESOURCE_MANAGER CUT_BUFFER0 >"$HOME/root-props" 2>&1
xdotool key Caps_Lock
xmodmap -e 'keysym p = q Q'
echo ready >"$HOME/ready"
while [ ! -e "$HOME/end" ]; do sleep 0.1; done
SH
printf 'echo started >"$HOME/started"\n' >/tmp/home/carl/.xinitrc
for u in ann bob carl; do chown "$u": "/tmp/home/$u/.xinitrc"; done

submit_login ann 'ann pass'
has_content_within $A/ready || fail "ann's session did not get ready: $(cat $A/minted.hex $A/bare.err 2>&1)"
bare=$(cat $A/bare.pid)
# Both ways in work while the session runs.
as_user ann XAUTHORITY=$A/minted xdpyinfo >/dev/null 2>&1 ||
    fail "the minted cookie does not open the display during the session: $(cat $A/minted.hex)"
X xdotool type --delay 150 probe
wait_until 5 "the recorder did not hear 'probe': '$(cat $A/bare.keys)'" file_is $A/bare.keys probe
touch $A/end
wait_greeter 20 2

if kill -0 "$bare" 2>/dev/null; then
    defect "the recorder let in by ann's host entry is still connected at the next greeter"
fi
if as_user ann XAUTHORITY=$A/minted xdpyinfo >/dev/null 2>&1; then
    defect "ann's minted cookie still opens the display after her session"
fi
as_user ann XAUTHORITY=$A/minted x_key_recorder poll $A/minted.keys >$A/minted.pid \
    2>$A/minted.err </dev/null &
minted_recorder=$!
# Until it listens, or is turned away.
deadline=$((SECONDS + 5))
while [ ! -s $A/minted.pid ] && kill -0 $minted_recorder 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    sleep 0.1
done

submit_login bob 'bob pass'
has_content_within $B/ready || fail "bob's typed login did not start his session"
[ "$(cat $A/bare.keys)" = probe ] ||
    defect "the recorder let in by ann's host entry got bob's typing: '$(cat $A/bare.keys)'"
[ -z "$(cat $A/minted.keys 2>/dev/null)" ] ||
    defect "the recorder with ann's minted cookie got bob's typing: '$(cat $A/minted.keys)'"
leaked=$(grep -F -e from-ann -e 'ann was here' $B/root-props || true)
[ -z "$leaked" ] || defect "bob's session found ann's root-window properties: $leaked"
kill "$bare" "$minted_recorder" 2>/dev/null || true

caps_lock() { X xset q | sed -n 's/.*Caps Lock: *\([a-z]*\).*/\1/p'; }
key_p_gives() { X xmodmap -pke | awk -v c="${KEYCODE[p]}" '$2 == c {print $4}'; }
# The attacks of bob's session are in place before it ends.
assert_eq on "$(caps_lock)" "Caps Lock in bob's session"
assert_eq q "$(key_p_gives)" "what the key for p gives in bob's session"
touch $B/end
wait_greeter 20 3

press Escape
type_keys carl
press Tab
type_keys 'carl pass'
press Return
if has_content_within /tmp/home/carl/started 10; then
    wait_greeter 20 4
else
    defect "carl's password typed on the keyboard did not log him in" \
        "(Caps Lock $(caps_lock), the key for p gives $(key_p_gives))"
fi

assert_eq "$xpid" "$(xorg_pid)" "X server PID"
assert_eq 1 "$(pids_of_exe /usr/bin/Xvfb | wc -l)" "X servers"
assert_alive
assert_no_x_errors
[ "$DEFECTS" -eq 0 ] || fail "$DEFECTS attacks reached the next user"
