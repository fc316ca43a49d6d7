# While the greeter shows, only root's cookie opens the display: the authority file is root's
# alone, the X server got it with "-auth", and neither another user nor a client without the
# cookie gets in.
add_user ann 'ann pass'
as_user() { # name command...: as that user, with a clean environment and no cookie
    local name=$1
    shift
    setpriv --reuid="$name" --regid="$(id -g "$name")" --init-groups \
        env -i DISPLAY=:0 HOME="/tmp/home/$name" PATH=/usr/bin:/bin "$@"
}

start_vesko
wait_greeter

assert_log_order \
    "[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e" \
    "[INFO] X: server authority written to /run/vesko/xauth" \
    "[INFO] Starting Xorg on display :0 vt1"
assert_eq "$(printf 'Xorg\n:0\nvt1\n-nolisten\ntcp\n-auth\n/run/vesko/xauth')" "$(xorg_args)" \
    "X server arguments"

assert_eq "root 700 directory" "$(stat -c '%U %a %F' /run/vesko)" "authority directory"
assert_eq "root 600 regular file" "$(stat -c '%U %a %F' /run/vesko/xauth)" "authority file"
# One entry: this host's local connections to display 0, a 16-byte cookie.
xauth -f /run/vesko/xauth list >"$W/server-auth"
grep -qxE "$(hostname)/unix:0 +MIT-MAGIC-COOKIE-1 +[0-9a-f]{32}" "$W/server-auth" ||
    fail "unexpected server authority: $(cat "$W/server-auth")"
assert_eq 1 "$(wc -l <"$W/server-auth")" "entries in the server authority"
# The cookie never reaches the daemon's environment, where a session could inherit it.
PROC=$(dirname "$(realpath /proc/self)")
if tr '\0' '\n' <"$PROC/$VESKO_PID/environ" | grep -q '^XAUTHORITY='; then
    fail "the daemon has XAUTHORITY in its environment"
fi

# Root with the cookie gets in; access control is on and the host list empty.
X xdpyinfo >/dev/null || fail "root's cookie does not open the display"
assert_eq "access control enabled, only authorized clients can connect" "$(X xhost)" "host list"

# Without the cookie nobody does: not root, not another user.
if env -u XAUTHORITY HOME=/nonexistent DISPLAY=:0 xdpyinfo >"$W/root-nocookie" 2>&1; then
    fail "a client without the cookie opened the display"
fi
grep -q 'unable to open display ":0"' "$W/root-nocookie" || fail "$(cat "$W/root-nocookie")"
if as_user ann xdpyinfo >"$W/ann" 2>&1; then
    fail "another user opened the display"
fi
grep -q 'unable to open display ":0"' "$W/ann" || fail "$(cat "$W/ann")"
if as_user ann cat /run/vesko/xauth >/dev/null 2>&1; then
    fail "another user read the server authority"
fi
# The greeter is still there and undisturbed.
[ -n "$(greeter_window)" ] || fail "the greeter is gone"
assert_alive
