# The demo, run inside the sandbox by scripts/demo (sourced after tests/e2e/lib.sh, in $W).
# This shell is the sandbox's first process: when it ends, everything in the sandbox ends.
trap 'echo; echo "demo: stopped"; exit 0' INT TERM

demo_started=${VESKO_DEMO_START:-$(date +%s.%N)}
seconds_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}'; }

# Installed as on a real machine: daemon, PAM service, settings, pictures.
cmake --install "$BUILD" >"$W/install.txt" || fail "installing failed: $(cat "$W/install.txt")"
# Two keyboard layouts, so that the layout button shows.
sed -i 's/^layouts = ""/layouts = "us,de"/' /etc/vesko/config.toml
grep -q '^layouts = "us,de"$' /etc/vesko/config.toml || fail "the demo could not set its layouts"
add_user demo demo
cat >/tmp/home/demo/.xinitrc <<'SH'
# The demo user's session: openbox with a note that offers to log out.
xsetroot -solid '#2e3a4f'
(xmessage -center -buttons 'Log out:0' \
    "You are logged in as demo, in vesko's sandbox. Log out to see the login screen again."
 openbox --exit) &
exec openbox
SH
chown demo: /tmp/home/demo/.xinitrc

if [ "${VESKO_DEMO_MODE:-headless}" = window ]; then
    # The desktop's X server appears here as display :90: a link through this shell's
    # descriptor 8, which scripts/demo opened on the desktop's socket directory. (A bind mount
    # cannot reach it: the descriptor belongs to the mount namespace outside.)
    mkdir -p /tmp/.X11-unix
    chmod 1777 /tmp/.X11-unix
    ln -s "/proc/$$/fd/8/X$VESKO_DEMO_HOST_NUMBER" /tmp/.X11-unix/X90
    touch "$W/desktop.xauth"
    if [ -n "${VESKO_DEMO_COOKIE:-}" ]; then
        xauth -f "$W/desktop.xauth" add :90 MIT-MAGIC-COOKIE-1 "$VESKO_DEMO_COOKIE"
    fi
    # vesko's X server becomes a window there; Xephyr knows no virtual terminals.
    cat >/usr/bin/Xorg <<SH
#!/bin/bash
args=()
for a in "\$@"; do
    case \$a in vt[0-9]*) ;; *) args+=("\$a") ;; esac
done
export DISPLAY=:90 XAUTHORITY=$W/desktop.xauth
exec /usr/bin/Xephyr "\${args[@]}" -screen $VESKO_DEMO_SCREEN -title "vesko demo"
SH
    chmod 755 /usr/bin/Xorg
fi

# Nothing of the desktop's access goes further than this shell.
unset VESKO_DEMO_COOKIE
daemon_started=$(date +%s.%N)
VESKO_BIN=/usr/sbin/vesko start_vesko 8<&-
wait_log "Entering login screen" 60
deadline=$((SECONDS + 30))
while [ -z "$(greeter_window)" ] ||
    [ "$(log_count 'Background: loaded and scaled') $(log_count 'Background: no image found')" = "0 0" ]; do
    vesko_alive || fail "vesko ended: $(tail -n 5 "$W/vesko.stderr")"
    [ $SECONDS -lt $deadline ] || fail "the login screen did not appear"
    sleep 0.05
done
echo "demo: login screen visible $(seconds_since "$demo_started") s after the demo started" \
    "($(seconds_since "$daemon_started") s after the daemon started)"
echo "demo: log in as demo / demo. Log: $W/vesko.stderr"

if [ "${VESKO_DEMO_MODE:-headless}" = window ]; then
    echo "demo: the login screen is in the window \"vesko demo\". Ctrl-C here ends the demo."
    while vesko_alive; do
        sleep 1 &
        wait $! || true
    done
else
    echo "demo: headless; the screen is written every 3 s to $W/screen.png. Ctrl-C ends the demo."
    while vesko_alive; do
        X xwd -root -silent 2>/dev/null | /usr/bin/convert xwd:- "png:$W/screen.tmp.png" 2>/dev/null &&
            mv "$W/screen.tmp.png" "$W/screen.png"
        sleep 3 &
        wait $! || true
    done
fi
echo "demo: vesko ended: $(tail -n 3 "$W/vesko.stderr")" >&2
