# Twenty logins in a row on one X server process: the same server (reset after each session),
# one greeter window per showing (created and destroyed each time), no descriptor growth, every
# descriptor of the daemon close-on-exec. Also measures how long one cycle takes.
pam_unix_service
add_user alice 'alice pass' -u 1501
printf 'exit 0\n' >/tmp/home/alice/.xinitrc
chown alice: /tmp/home/alice/.xinitrc
PROC=$(dirname "$(realpath /proc/self)")

start_vesko
wait_greeter
xpid=$(xorg_pid)

top_level_windows() { X xwininfo -root -children | awk '/^ +0x/ {print $1}'; }
fd_count() { find "$PROC/$VESKO_PID/fd" -mindepth 1 | wc -l; }
# The connection is new after every reset: its socket's inode number does not count.
daemon_fds() {
    find "$PROC/$VESKO_PID/fd" -mindepth 1 -printf '%f %l\n' | sed 's/socket:\[[0-9]*\]/socket:/' |
        sort -n
}

: >"$W/cycle-ms"
for cycle in $(seq 1 20); do
    window=$(greeter_window)
    [ -n "$window" ] || fail "no greeter in showing $cycle"
    is_marked "$window" && fail "showing $cycle reuses the window of an earlier one"
    mark_window "$window"
    assert_eq "$window" "$(top_level_windows)" "top-level windows in showing $cycle"

    type_text alice
    press Tab
    type_text 'alice pass'
    start=$(date +%s%N)
    press Return
    # The cycle ends when the next greeter is mapped.
    next_showing() { log_has "Entering login screen" $((cycle + 1)) && [ -n "$(new_greeter_window)" ]; }
    WAIT_STEP=0.01 wait_until 20 "cycle $cycle did not come back to the greeter" next_showing
    end=$(date +%s%N)
    echo $(((end - start) / 1000000)) >>"$W/cycle-ms"
    wait_greeter 20 $((cycle + 1))

    case $cycle in
    5)
        fds_after_5=$(fd_count)
        daemon_fds >"$W/fds-5"
        ;;
    20)
        fds_after_20=$(fd_count)
        daemon_fds >"$W/fds-20"
        ;;
    esac
done

assert_eq 20 "$(log_count "Session ended (code 0), re-showing login screen")" "sessions"
assert_eq 21 "$(log_count "Entering login screen")" "showings"
assert_eq "$xpid" "$(xorg_pid)" "X server PID"
kill -0 "$xpid" || fail "the X server is gone"
assert_eq 1 "$(log_count "Xorg started with PID")" "X server starts"
assert_eq 1 "$(log_count "Connected to X display")" "display connections"
assert_eq "$fds_after_5" "$fds_after_20" "the daemon's descriptors after cycles 5 and 20"
cmp -s "$W/fds-5" "$W/fds-20" || fail "the daemon's descriptors changed: $(diff "$W/fds-5" "$W/fds-20")"
# One X connection, and nothing the next session could inherit.
assert_eq 1 "$(grep -c 'socket:' "$W/fds-20")" "sockets of the daemon"
# Descriptors the daemon inherited from this shell are not its own (the session child closes
# them all the same); every one it opened itself must be close-on-exec.
for info in "$PROC/$VESKO_PID/fdinfo"/*; do
    fd=${info##*/}
    [ "$fd" -le 2 ] && continue
    [ "$(readlink "$PROC/$VESKO_PID/fd/$fd")" = "$(readlink "$PROC/$$/fd/$fd" 2>/dev/null)" ] &&
        continue
    flags=$(awk '/^flags:/ {print $2}' "$info")
    (((8#$flags & 8#2000000) != 0)) || fail "descriptor $fd ($(readlink "$PROC/$VESKO_PID/fd/$fd")) is not close-on-exec"
done
assert_alive

median=$(sort -n "$W/cycle-ms" | sed -n 10,11p | awk '{s += $1} END {print int(s / NR)}')
note "login cycle (Return to the next greeter mapped), median of 20: ${median} ms; all: $(sort -n "$W/cycle-ms" | xargs)"
note "Xvfb: the reset took $(median_reset_ms) ms (median of 20)"
