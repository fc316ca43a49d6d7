# The login screen is never shown without the keyboard: a client that holds the keyboard when
# the first greeter appears (here one started beside the X server, before the daemon connects)
# makes the greeter retry for a second, reset the server and show again; then the greeter gets
# what is typed, the grabbing client nothing.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user ann 'ann pass'
printf 'touch "$HOME/started"\n' >/tmp/home/ann/.xinitrc
chown ann: /tmp/home/ann/.xinitrc
install -m 755 "$BUILD/x_key_recorder" /usr/local/bin/

# The sandbox's Xorg, with a keyboard grabber started beside it as soon as the server listens.
cat >/usr/bin/Xorg <<SH
#!/bin/sh
auth=
prev=
for arg in "\$@"; do
    [ "\$prev" = -auth ] && auth=\$arg
    prev=\$arg
done
(
    while [ ! -S /tmp/.X11-unix/X0 ]; do sleep 0.01; done
    XAUTHORITY=\$auth DISPLAY=:0 x_key_recorder grab /tmp/grabbed >/tmp/grabber.pid 2>/tmp/grabber.err
) &
exec $BUILD/xorg_wrapper "\$@"
SH
chmod 755 /usr/bin/Xorg

start_vesko
wait_greeter 30 2
[ -s /tmp/grabber.pid ] || fail "the grabber never held the keyboard: $(cat /tmp/grabber.err)"
assert_log_order \
    "[INFO] Entering login screen" \
    "[ERROR] X: another client holds the keyboard or the pointer; the login screen could not grab them within 1000 ms" \
    "[INFO] X: resetting the X server (PID $(xorg_pid))" \
    "[INFO] Entering login screen"
wait_until 5 "the grabber outlived the reset" has_ended "$(cat /tmp/grabber.pid)"

submit_login ann 'ann pass'
wait_file /tmp/home/ann/started 20
assert_eq "" "$(cat /tmp/grabbed 2>/dev/null)" "what the grabber recorded"
assert_alive
