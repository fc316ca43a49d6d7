# fork() failing for the session: the daemon is put into a cgroup whose pids.max is its own
# task count, so its fork for the session fails (root is not exempt from a cgroup's limit, as it
# is from RLIMIT_NPROC). The greeter stays up with "Session launch failed: fork() failed", no
# session starts, and once the limit is lifted the same user logs in.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice

# A pids controller: cgroup v2 where it has one, else v1's, else a private cgroup2 mount.
find_pids_cgroup() {
    local root
    for root in /sys/fs/cgroup /sys/fs/cgroup/unified; do
        if grep -qw pids "$root/cgroup.controllers" 2>/dev/null &&
            grep -qw pids "$root/cgroup.subtree_control" 2>/dev/null; then
            echo "$root"
            return
        fi
    done
    if [ -f /sys/fs/cgroup/pids/cgroup.procs ]; then
        echo /sys/fs/cgroup/pids
        return
    fi
    mkdir -p /tmp/cgroup2
    if mount -t cgroup2 none /tmp/cgroup2 2>/dev/null &&
        grep -qw pids /tmp/cgroup2/cgroup.controllers; then
        echo +pids >/tmp/cgroup2/cgroup.subtree_control 2>/dev/null || true
        grep -qw pids /tmp/cgroup2/cgroup.subtree_control && echo /tmp/cgroup2 && return
    fi
    return 1
}
ROOT=$(find_pids_cgroup) || fail "no writable cgroup with the pids controller on this machine"
CG=$ROOT/vesko-e2e-fork.$$
mkdir "$CG" || fail "cannot make a cgroup under $ROOT"
release_cgroup() {
    local p
    if [ -d "$CG" ]; then
        for p in $(cat "$CG/cgroup.procs" 2>/dev/null); do
            echo "$p" >"$ROOT/cgroup.procs" 2>/dev/null || true
        done
        rmdir "$CG" 2>/dev/null || true
    fi
}
trap 'release_cgroup; cp "$VESKO_LOG" "$W/log.txt" 2>/dev/null || true' EXIT
note "pids controller at $ROOT"

start_vesko
wait_greeter
echo "$VESKO_PID" >"$CG/cgroup.procs"
tasks=$(awk '/^Threads:/ {print $2}' "$PROC/$VESKO_PID/status")
echo "$tasks" >"$CG/pids.max"
assert_eq "$tasks" "$(cat "$CG/pids.current")" "tasks in the cgroup"

forks=$(log_count "Session child forked")
before=$(log_count "Session launch failed for 'alice'")
fill_login alice 'alice pw'
answer_begin
press Return
wait_log "Session launch failed for 'alice'" 15 $((before + 1))
answer_end "fork failing"
assert_eq "[ERROR] Session launch failed for 'alice': fork() failed" \
    "$(log_messages | grep -F "Session launch failed for 'alice'" | tail -n 1)" "the launch failure"
assert_log_order "[INFO] Authentication succeeded for user 'alice'" \
    "[INFO] Launching graphical session for 'alice'" \
    "[INFO] User 'alice': uid=$(id -u alice) gid=$(id -g alice) home='/tmp/home/alice' shell='/bin/bash'" \
    "[ERROR] fork() failed" "[ERROR] Session launch failed for 'alice': fork() failed"
assert_eq "$forks" "$(log_count "Session child forked")" "sessions forked"
[ -z "$(pids_of_uid "$(id -u alice)")" ] || fail "a process of alice is running"
refused=$(awk '/^max/ {print $2}' "$CG/pids.events")
[ "${refused:-0}" -gt 0 ] || fail "the cgroup recorded no refused fork"
figure "fork refused by pids.max=$tasks ($refused refused): 'Session launch failed: fork() failed'," \
    "greeter answered ${ANSWER_MS} ms after Return"
# The greeter keeps refusing while the limit holds, and goes on answering.
fill_login alice 'alice pw'
press Return
wait_log "Session launch failed for 'alice'" 15 $((before + 2))
assert_answers "fork failing twice"

echo max >"$CG/pids.max"
login_cycle alice 'alice pw'
assert_privileges alice 1
assert_no_x_errors
assert_alive
