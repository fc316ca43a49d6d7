# The demo, run inside the sandbox (see scripts/demo).
pam_unix_service
add_user demo demo
cat >"/tmp/home/demo/.xinitrc" <<'SH'
# The demo session: a terminal-less desktop that ends after a minute.
xsetroot -solid '#335577' 2>/dev/null
sleep 60
SH
chown demo: /tmp/home/demo/.xinitrc
start_vesko
wait_greeter 30
echo "vesko is running in the sandbox; log in as demo / demo."
echo "The screen is written every 3 s to: $W/screen.png (log: $W/vesko.stderr). Ctrl-C ends it."
while vesko_alive; do
    X xwd -root -silent | /usr/bin/convert xwd:- "png:$W/screen.tmp.png" 2>/dev/null &&
        mv "$W/screen.tmp.png" "$W/screen.png"
    sleep 3
done
echo "vesko ended" >&2
