# The reset between sessions on the real X server with the dummy video driver: logins and
# logouts bring the greeter back each time from one server process, and a cookie minted in the
# first session is refused after it. After a reset this server hangs on SIGTERM at exit; the
# sandbox's end kills it.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user ann 'ann pass'
add_user bob 'bob pass'
install -m 755 "$BUILD/x_mint_cookie" /usr/local/bin/
A=/tmp/home/ann

# The sandbox's /usr/bin/Xorg runs Xvfb; this one runs the real server.
cat >/usr/bin/Xorg <<SH
#!/bin/sh
echo \$\$ >/tmp/xorg-pid
exec /usr/lib/xorg/Xorg "\$@" -logfile $W/Xorg.log
SH
mkdir -p /etc/X11/xorg.conf.d
cat >/etc/X11/xorg.conf.d/10-dummy.conf <<'CONF'
Section "Device"
    Identifier "card"
    Driver "dummy"
    VideoRam 256000
EndSection
Section "Monitor"
    Identifier "monitor"
    HorizSync 5.0-1000.0
    VertRefresh 5.0-200.0
    Modeline "1920x1080" 148.50 1920 2008 2052 2200 1080 1084 1089 1125 +hsync +vsync
EndSection
Section "Screen"
    Identifier "screen"
    Device "card"
    Monitor "monitor"
    DefaultDepth 24
    SubSection "Display"
        Depth 24
        Modes "1920x1080"
    EndSubSection
EndSection
CONF

# ann's first session mints a cookie and opens the display with it.
cat >$A/.xinitrc <<'SH'
if [ ! -e "$HOME/minted" ]; then
    x_mint_cookie >"$HOME/minted.hex" 2>&1
    xauth -f "$HOME/minted" add :0 . "$(cat "$HOME/minted.hex")"
    XAUTHORITY=$HOME/minted xdpyinfo >/dev/null 2>&1
    echo $? >"$HOME/minted.rc"
fi
echo ann >>/tmp/sessions
SH
printf 'echo bob >>/tmp/sessions\n' >/tmp/home/bob/.xinitrc
chown ann: $A/.xinitrc
chown bob: /tmp/home/bob/.xinitrc
touch /tmp/sessions
chmod 666 /tmp/sessions

start_vesko
wait_greeter 30
xpid=$(xorg_pid)
assert_eq /usr/lib/xorg/Xorg "$(readlink "$PROC/$xpid/exe")" "the X server's program"

users=(ann bob ann bob ann bob ann bob ann bob ann bob ann bob ann bob ann bob ann bob)
for i in "${!users[@]}"; do
    user=${users[$i]}
    login_cycle "$user" "$user pass"
    assert_eq "$user" "$(sed -n "$((i + 1))p" /tmp/sessions)" "session $((i + 1))"
    assert_eq "$xpid" "$(xorg_pid)" "X server PID after session $((i + 1))"
    assert_eq "$xpid" "$(pids_of_exe /usr/lib/xorg/Xorg)" "X servers after session $((i + 1))"
    if [ "$i" = 0 ]; then
        assert_eq 0 "$(cat $A/minted.rc)" \
            "xdpyinfo with the minted cookie during the session ($(cat $A/minted.hex))"
        if XAUTHORITY=$A/minted xdpyinfo >/dev/null 2>&1; then
            fail "the cookie minted in ann's session still opens the display after it"
        fi
    fi
done
assert_alive
assert_no_x_errors
note "real Xorg: the reset took $(median_reset_ms) ms (median of ${#users[@]})"
