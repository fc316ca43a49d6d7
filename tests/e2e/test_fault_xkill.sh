# The X server killed while the greeter shows, and while a session runs (one that is an X client
# and leaves a helper running, and one that does not talk to X at all). Each time the daemon
# must end, with a failure status and without spinning, so that its service manager can start
# it afresh, and no process of the session may be left running.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
H=/tmp/home/alice
UID_A=$(id -u alice)

# Kills the X server, then waits for the daemon to end; its CPU time in that span goes to
# the figures, so that a daemon spinning on a dead connection shows.
kill_x_and_expect_exit() { # what
    local what=$1 xpid t0 cpu0 cpu1
    xpid=$(xorg_pid)
    cpu0=$(awk '{print $14 + $15}' "$PROC/$VESKO_PID/stat")
    cpu1=$cpu0
    t0=$(now_ms)
    kill -KILL "$xpid"
    local deadline=$((SECONDS + 10))
    while vesko_alive; do
        cpu1=$(awk '{print $14 + $15}' "$PROC/$VESKO_PID/stat" 2>/dev/null || echo "$cpu1")
        [ $SECONDS -lt $deadline ] || fail "$what: the daemon did not end within 10 s of the X server's death"
        sleep 0.05
    done
    local ms=$(($(now_ms) - t0))
    wait_exit 1
    [ "$VESKO_STATUS" -ne 0 ] || fail "$what: the daemon ended with status 0"
    figure "X server killed $what: the daemon ended after ${ms} ms with status $VESKO_STATUS," \
        "using $((cpu1 - cpu0)) clock ticks of CPU meanwhile"
    # Nothing of the session may outlive the daemon.
    no_session_left() { [ -z "$(pids_of_uid "$UID_A")" ]; }
    wait_until 5 "$what: processes of the session are left" no_session_left
    [ -z "$(zombies)" ] || fail "$what: zombies left: $(zombies)"
    rm -f /tmp/.X11-unix/X0 /tmp/.X0-lock /tmp/xorg-pid
}

# Starts the daemon, logs alice in and waits for her session to leave the named file.
start_session() { # file what
    : >"$VESKO_LOG"
    start_vesko
    wait_greeter
    submit_login alice 'alice pw'
    wait_log "Waiting for child PID" 15
    wait_until 10 "the $2 did not start" test -f "$H/$1"
}

# 1. While the greeter shows.
start_vesko
wait_greeter
kill_x_and_expect_exit "while the greeter shows"

# 2. While a session runs that is an X client and has started a helper that is not.
cat >$H/.xinitrc <<'SH'
sleep 1000 &
echo started >"$HOME/started"
exec xprop -root -spy >/dev/null 2>&1
SH
chown alice: $H/.xinitrc
start_session started session
sleep 0.5
kill_x_and_expect_exit "while an X client session runs"

# 3. While a session runs that never talks to X.
cat >$H/.xinitrc <<'SH'
echo started >"$HOME/started2"
exec sleep 1000
SH
start_session started2 "second session"
kill_x_and_expect_exit "while a session without X runs"
