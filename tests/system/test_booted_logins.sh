#!/bin/bash
# Boots Debian 12 with systemd as PID 1 in a container, installs the vesko package there and logs
# two users in, one after the other, through the greeter. Checks what only a booted system shows:
# the daemon stays in its unit's cgroup, each login gets its own logind session led by the
# session process, the runtime directory lasts as long as the session, the journal carries no
# password diagnostics, and restarting or stopping the unit leaves no process behind.
#
# Needs root, systemd-nspawn (systemd-container), mmdebstrap and a built tree (VESKO_BUILD_DIR,
# default build/). The root file system is built once from the Debian mirror apt uses and kept
# in /var/cache/vesko-system-test; each run works on a throw-away overlay of it.

# Programs for awk and sh inside the container are quoted so that this shell leaves them alone.
# shellcheck disable=SC2016

set -uo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=${VESKO_BUILD_DIR:-$SRC/build}
CACHE=/var/cache/vesko-system-test
SCRATCH=/var/tmp/vesko-system-test
SUITE=bookworm
VARIANT=important
# What the test drives the system with; the package's own dependencies are added to these.
BASE_PACKAGES=(systemd systemd-sysv dbus libpam-systemd login passwd procps util-linux xvfb
    xdotool x11-utils xauth)
MACHINE=vesko-system
USERS=(alice bob)
declare -A PASSWORDS=([alice]='alice-Pass1' [bob]='bob-Pass2')

# --- the host side: package, root file system, scratch copy ----------------------------------

# Scratch folders of runs that were killed before they could remove them.
sweep_stale_runs() {
    local dir owner
    for dir in "$SCRATCH"/run.*; do
        [ -d "$dir" ] || continue
        owner=$(cat "$dir/owner" 2>/dev/null || true)
        if [ -n "$owner" ] && ! kill -0 "$owner" 2>/dev/null; then
            rm -rf --one-file-system "$dir"
        fi
    done
}

# The package's Depends as bare names (first of each alternative, no versions).
package_dependencies() { # deb
    dpkg-deb -f "$1" Depends | tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/:.*//; s/[[:space:]]//g' |
        grep .
}

# Prints the cached root file system for these packages, building it first when missing.
cached_rootfs() { # packages...
    local hash mirror root
    hash=$(printf '%s\n' "$SUITE" "$VARIANT" "$@" | sort -u | sha256sum | cut -c1-16)
    root=$CACHE/rootfs-$hash
    if [ ! -d "$root" ]; then
        mirror=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null)
        [ -n "$mirror" ] || { echo "no Debian mirror in /etc/apt/sources.list.d/debian.sources" >&2; return 1; }
        echo "# building the root file system once (mmdebstrap $SUITE from $mirror): $root" >&2
        rm -rf --one-file-system "$root.partial"
        if ! mmdebstrap --variant="$VARIANT" --mode=root --include="$(IFS=,; echo "$*")" \
            "$SUITE" "$root.partial" "$mirror" >"$CACHE/mmdebstrap.log" 2>&1; then
            tail -n 30 "$CACHE/mmdebstrap.log" >&2
            rm -rf --one-file-system "$root.partial"
            return 1
        fi
        mv "$root.partial" "$root"
        # Caches for other package lists are of no further use.
        find "$CACHE" -maxdepth 1 -name 'rootfs-*' ! -name "rootfs-$hash" -exec rm -rf --one-file-system {} +
    fi
    echo "$root"
}

host_main() {
    if [ "$(id -u)" != 0 ]; then
        echo "the booted-system test needs root" >&2
        exit 2
    fi
    local tool
    for tool in systemd-nspawn mmdebstrap unshare nsenter cpack flock; do
        command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps installs it)" >&2; exit 2; }
    done
    [ -x "$BUILD/xorg_wrapper" ] || { echo "no $BUILD/xorg_wrapper: build first" >&2; exit 2; }
    local started=$SECONDS
    mkdir -p "$CACHE" "$SCRATCH"
    sweep_stale_runs
    RUN=$(mktemp -d "$SCRATCH/run.XXXXXX")
    echo $$ >"$RUN/owner"
    INNER=
    trap 'host_cleanup' EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT

    echo "# packaging ($BUILD)"
    cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$RUN/deb" >"$RUN/cpack.txt" 2>&1 ||
        { tail -n 20 "$RUN/cpack.txt"; exit 1; }
    local deb
    deb=$(find "$RUN/deb" -maxdepth 1 -name 'vesko_*.deb' | head -n 1)
    [ -n "$deb" ] || { echo "cpack made no .deb" >&2; exit 1; }

    local -a packages
    mapfile -t packages < <(printf '%s\n' "${BASE_PACKAGES[@]}" && package_dependencies "$deb")
    exec 8>"$CACHE/lock"
    flock -x 8
    local rootfs
    rootfs=$(cached_rootfs "${packages[@]}") || exit 1
    # Other runs may share this cache but not replace it while it is in use.
    flock -s 8
    echo "# root file system $rootfs ready after $((SECONDS - started)) s"

    # The inner part is PID 1 of its own PID namespace: whatever happens to it, the kernel ends
    # the container with it, and its mounts vanish with its mount namespace.
    unshare --mount --pid --fork --mount-proc --kill-child -- \
        bash "${BASH_SOURCE[0]}" --inside "$RUN" "$rootfs" "$deb" &
    INNER=$!
    local rc=0
    wait "$INNER" || rc=$?
    INNER=
    echo "# finished in $((SECONDS - started)) s"
    exit "$rc"
}

# Waits for a child asked to end, then kills it if it has not; reaps it either way.
end_within() { # pid timeout_s
    local deadline=$((SECONDS + $2))
    while kill -0 "$1" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
        sleep 0.2
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

host_cleanup() {
    local rc=$?
    if [ -n "${INNER:-}" ]; then
        # The inner part powers the container off on SIGTERM; the end of unshare ends the rest.
        pkill -TERM -P "$INNER" 2>/dev/null
        end_within "$INNER" 30
    fi
    [ -n "${RUN:-}" ] && rm -rf --one-file-system "$RUN"
    exit "$rc"
}

# --- the inner side: the container and the checks ---------------------------------------------

FAILURES=0
CT=
NSPAWN=
SHOWINGS=0

pass() { echo "ok   - $*"; }
flunk() {
    echo "FAIL - $*"
    FAILURES=$((FAILURES + 1))
}
expect_eq() { # what expected actual
    if [ "$2" == "$3" ]; then
        pass "$1: $3"
    else
        flunk "$1: expected '$2', got '$3'"
    fi
}
evidence() { echo "$*" >>"$RUN/evidence.txt"; }

# A command inside the container, in all its namespaces, with a plain environment.
in_ct() {
    nsenter -t "$CT" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LC_ALL=C.UTF-8 "$@"
}
in_x() { in_ct env DISPLAY=:0 XAUTHORITY=/run/vesko/xauth "$@"; }

show_failure_evidence() {
    [ -n "$CT" ] || { tail -n 40 "$RUN/boot.txt" 2>/dev/null; return; }
    echo "--- journalctl -u vesko (last 80 lines)"
    in_ct journalctl -u vesko --no-pager -n 80
    echo "--- /var/log/vesko.log (last 80 lines)"
    in_ct tail -n 80 /var/log/vesko.log
    echo "--- loginctl list-sessions"
    in_ct loginctl list-sessions --no-pager
    local id
    for id in $(in_ct loginctl list-sessions --no-legend | awk '{print $1}'); do
        echo "--- loginctl show-session $id"
        in_ct loginctl show-session "$id" --no-pager
    done
    echo "--- processes"
    in_ct ps -eo pid,ppid,user,comm,cgroup --sort=pid | grep -v ' \[' | grep -vE '^ *[0-9]+ +2 '
}

die() {
    flunk "$*"
    echo "== evidence so far"
    cat "$RUN/evidence.txt" 2>/dev/null
    echo "== evidence of the failure"
    show_failure_evidence
    exit 1
}

wait_for() { # timeout_s description command...
    local deadline=$((SECONDS + $1)) what=$2
    shift 2
    until "$@"; do
        [ $SECONDS -lt $deadline ] || die "$what did not happen within the time allowed"
        sleep 0.2
    done
}

# nspawn puts the container below the cgroup it starts in (on a hybrid host, the one in the
# unified hierarchy, mounted here only for the run); a cgroup of the run's own keeps runs apart
# and lets the run remove everything systemd made there.
CG_PARENTS=()
CG_NAME=
enter_private_cgroup() {
    local unified=/sys/fs/cgroup parent
    if [ "$(stat -f -c %T /sys/fs/cgroup/systemd 2>/dev/null)" = cgroupfs ]; then
        CG_PARENTS+=("/sys/fs/cgroup/systemd$(sed -n 's/^[0-9]*:name=systemd://p' /proc/self/cgroup)")
        unified=$RUN/unified
        mkdir -p "$unified"
        mount -t cgroup2 none "$unified" || die "cannot mount the unified cgroup hierarchy"
    fi
    CG_PARENTS+=("$unified$(sed -n 's/^0:://p' /proc/self/cgroup)")
    CG_NAME=vesko-system-test.${RUN##*.}
    for parent in "${CG_PARENTS[@]}"; do
        if ! mkdir "${parent%/}/$CG_NAME" || ! echo $$ >"${parent%/}/$CG_NAME/cgroup.procs"; then
            die "cannot make the run's cgroup ${parent%/}/$CG_NAME"
        fi
    done
}

remove_private_cgroup() {
    local parent
    for parent in "${CG_PARENTS[@]}"; do
        echo $$ >"$parent/cgroup.procs" 2>/dev/null
        [ -d "${parent%/}/$CG_NAME" ] || continue
        find "${parent%/}/$CG_NAME" -depth -type d -exec rmdir {} + 2>/dev/null
        [ ! -d "${parent%/}/$CG_NAME" ] || echo "# could not remove ${parent%/}/$CG_NAME" >&2
    done
}

inner_cleanup() {
    local rc=$?
    if [ -n "$NSPAWN" ] && kill -0 "$NSPAWN" 2>/dev/null; then
        # nspawn turns SIGTERM into an orderly power-off of the container.
        kill -TERM "$NSPAWN" 2>/dev/null
        end_within "$NSPAWN" 20
    fi
    remove_private_cgroup
    exit "$rc"
}

boot_container() { # rootfs deb
    mount --make-rprivate /
    # nspawn keeps its locks and mount propagation folders in /run, which is on disk here.
    mount -t tmpfs -o mode=755 tmpfs /run
    mkdir -p "$RUN/upper" "$RUN/work" "$RUN/root"
    if ! mount -t overlay overlay -o "lowerdir=$1,upperdir=$RUN/upper,workdir=$RUN/work" \
        "$RUN/root" 2>/dev/null; then
        cp -a "$1/." "$RUN/root/" || die "cannot copy the root file system"
    fi
    cp "$2" "$RUN/root/root/" || die "cannot copy the package"
    # Xvfb behind the X server's path; the stand-in keeps -auth and drops the terminal.
    install -m 755 "$BUILD/xorg_wrapper" "$RUN/root/usr/bin/Xorg" || die "cannot install the X stand-in"

    enter_private_cgroup
    trap inner_cleanup EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
    systemd-nspawn -b -D "$RUN/root" -M "$MACHINE" --register=no --keep-unit --console=passive \
        --private-network --link-journal=no >"$RUN/boot.txt" 2>&1 &
    NSPAWN=$!
    local deadline=$((SECONDS + 30)) pid
    while [ -z "$CT" ]; do
        kill -0 "$NSPAWN" 2>/dev/null || die "systemd-nspawn ended: $(tail -n 20 "$RUN/boot.txt")"
        [ $SECONDS -lt $deadline ] || die "the container's systemd did not start"
        for pid in $(pgrep -P "$NSPAWN"); do
            [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = systemd ] && CT=$pid
        done
        sleep 0.2
    done
    local state=
    deadline=$((SECONDS + 60))
    until [[ $state == running || $state == degraded ]]; do
        [ $SECONDS -lt $deadline ] || die "the container did not finish booting (state '$state')"
        sleep 0.5
        state=$(in_ct systemctl is-system-running 2>/dev/null)
    done
    pass "container booted with systemd as PID 1: $(in_ct systemctl --version | head -n 1) ($state)"
    [ "$state" = running ] || echo "# failed units: $(in_ct systemctl --failed --no-legend --plain)"
}

# The daemon powers the machine off through the kernel's SysRq trigger; inside the container
# it must not reach the host's.
assert_sysrq_unreachable() {
    if in_ct test -e /proc/sysrq-trigger; then
        local options
        options=$(in_ct findmnt -n -o OPTIONS --target /proc/sysrq-trigger)
        [[ ,$options, == *,ro,* ]] || die "/proc/sysrq-trigger is writable in the container ($options)"
        pass "/proc/sysrq-trigger is read-only in the container"
    else
        pass "/proc/sysrq-trigger does not exist in the container"
    fi
    [[ ,$(in_ct findmnt -n -o OPTIONS /proc/sys), == *,ro,* ]] || die "/proc/sys is writable in the container"
    pass "/proc/sys is read-only in the container"
}

# Each user's session notes what it sees, then waits until the test logs it out.
prepare_user() { # name
    local user=$1
    in_ct useradd -m -s /bin/bash "$user" || die "useradd $user failed"
    echo "$user:${PASSWORDS[$user]}" | in_ct chpasswd || die "chpasswd $user failed"
    in_ct sh -c "cat >/home/$user/.xinitrc && chown $user: /home/$user/.xinitrc" <<'SESSION'
env | sort >"$HOME/seen-env"
echo "$$ $PPID" >"$HOME/seen-pids"
cat /proc/self/cgroup >"$HOME/seen-cgroup"
cat /proc/self/loginuid >"$HOME/seen-loginuid"
stat -c '%U %a %F' "$XDG_RUNTIME_DIR" >"$HOME/seen-runtime-start" 2>&1
touch "$HOME/ready"
while [ ! -e "$HOME/logout" ]; do sleep 0.2; done
stat -c '%U %a %F' "$XDG_RUNTIME_DIR" >"$HOME/seen-runtime-end" 2>&1
SESSION
}

daemon_pid() { in_ct systemctl show -p MainPID --value vesko; }

# A process's place in systemd's tree, from its /proc/PID/cgroup on standard input: the named
# hierarchy on a hybrid host, the unified one otherwise.
systemd_cgroup() {
    local lines
    lines=$(cat)
    if grep -q '^[0-9]*:name=systemd:' <<<"$lines"; then
        sed -n 's/^[0-9]*:name=systemd://p' <<<"$lines"
    else
        sed -n 's/^0:://p' <<<"$lines"
    fi
}

check_daemon_cgroup() { # when
    local pid cg
    pid=$(daemon_pid)
    cg=$(in_ct cat "/proc/$pid/cgroup" | systemd_cgroup)
    expect_eq "daemon (PID $pid) cgroup $1" /system.slice/vesko.service "$cg"
    evidence "daemon PID $pid $1: $(in_ct grep -E '^[0-9]+:name=systemd:|^0::' "/proc/$pid/cgroup" | tr '\n' ' ')"
}

showings_reached() { # count
    [ "$(in_ct grep -c 'Entering login screen' /var/log/vesko.log 2>/dev/null)" -ge "$1" ]
}

greeter_mapped() {
    in_x sh -c 'for id in $(xwininfo -root -children | awk "/^ +0x/ {print \$1}"); do
        info=$(xwininfo -id "$id") || continue
        case $info in *"Map State: IsViewable"*"Override Redirect State: yes"*) exit 0 ;; esac
    done
    exit 1' 2>/dev/null
}

wait_greeter() {
    SHOWINGS=$((SHOWINGS + 1))
    wait_for 30 "login screen number $SHOWINGS" showings_reached "$SHOWINGS"
    wait_for 30 "the greeter window" greeter_mapped
    sleep 0.3
}

runtime_stat() { in_ct stat -c '%U %a %F' "$1" 2>&1; }

session_states() { # id: every state the session shows until logind drops it
    local id=$1 state last='' deadline=$((SECONDS + 20))
    while state=$(in_ct loginctl show-session "$id" -p State --value 2>/dev/null); do
        [ "$state" = "$last" ] || echo -n "$state,"
        last=$state
        [ $SECONDS -lt $deadline ] || { echo -n "still-there"; return 1; }
        sleep 0.2
    done
    echo -n "gone"
}

SESSION_IDS=()
log_in_and_out() { # user
    local user=$1 uid home
    uid=$(in_ct id -u "$user")
    home=/home/$user
    echo "== login of $user (uid $uid)"
    check_daemon_cgroup "before $user's login"

    in_x xdotool type --delay 40 "$user"
    in_x xdotool key Tab
    in_x xdotool type --delay 40 "${PASSWORDS[$user]}"
    in_x xdotool key Return
    wait_for 30 "$user's session start" in_ct test -e "$home/ready"
    pass "$user's session started"

    expect_eq "$user's XDG_RUNTIME_DIR" "/run/user/$uid" \
        "$(in_ct sed -n 's/^XDG_RUNTIME_DIR=//p' "$home/seen-env")"
    local start_stat
    start_stat=$(in_ct cat "$home/seen-runtime-start")
    expect_eq "$user's runtime dir at session start" "$user 700 directory" "$start_stat"
    check_daemon_cgroup "during $user's session"
    # pam_loginuid in the shipped PAM service.
    expect_eq "$user's login UID" "$uid" "$(in_ct cat "$home/seen-loginuid")"

    local program program_parent program_cg ids id=
    read -r program program_parent < <(in_ct cat "$home/seen-pids")
    program_cg=$(in_ct cat "$home/seen-cgroup" | systemd_cgroup)
    evidence "$user: session program PID $program, parent $program_parent, cgroup $program_cg"
    ids=$(in_ct loginctl list-sessions --no-legend | awk -v u="$user" '$3 == u {print $1}')
    evidence "$user: loginctl list-sessions: $(in_ct loginctl list-sessions --no-legend | tr -s ' ' | tr '\n' ';')"
    if [ "$(wc -w <<<"$ids")" = 1 ]; then
        id=$ids
        pass "$user has one logind session: $id"
    else
        flunk "$user has $(wc -w <<<"$ids") logind sessions ('$ids'), expected one"
    fi

    if [ -n "$id" ]; then
        SESSION_IDS+=("$id")
        expect_eq "$user's session program's cgroup" \
            "/user.slice/user-$uid.slice/session-$id.scope" "$program_cg"
        local prop
        for prop in Type=x11 Class=user State=active; do
            expect_eq "session $id ${prop%%=*}" "${prop#*=}" \
                "$(in_ct loginctl show-session "$id" -p "${prop%%=*}" --value)"
        done
        local leader daemon
        leader=$(in_ct loginctl show-session "$id" -p Leader --value)
        daemon=$(daemon_pid)
        if [ "$leader" != "$daemon" ]; then
            pass "session $id's leader $leader is not the daemon ($daemon)"
        else
            flunk "session $id's leader is the daemon itself ($daemon)"
        fi
        expect_eq "parent of leader $leader" "$daemon" \
            "$(in_ct awk '/^PPid:/ {print $2}' "/proc/$leader/status")"
        expect_eq "user IDs of leader $leader" "0 0 0 0" \
            "$(in_ct awk '/^Uid:/ {print $2, $3, $4, $5}' "/proc/$leader/status")"
        expect_eq "parent of $user's session program $program" "$leader" "$program_parent"
        evidence "$user: loginctl show-session $id: $(in_ct loginctl show-session "$id" \
            -p Id -p Name -p Leader -p Type -p Class -p State -p Service -p Scope | tr '\n' ' ')"
        evidence "$user: leader $leader: $(in_ct ps -o pid=,ppid=,user=,comm= -p "$leader")"
    fi

    local mid_stat
    mid_stat=$(runtime_stat "/run/user/$uid")
    expect_eq "$user's runtime dir during the session" "$user 700 directory" "$mid_stat"

    in_ct touch "$home/logout"
    wait_for 30 "$user's session end" in_ct test -e "$home/seen-runtime-end"
    local end_stat
    end_stat=$(in_ct cat "$home/seen-runtime-end")
    expect_eq "$user's runtime dir at session end" "$user 700 directory" "$end_stat"
    evidence "$user: stat -c '%U %a %F' /run/user/$uid: start '$start_stat', during '$mid_stat', end '$end_stat'"
    wait_greeter
    if [ -n "$id" ]; then
        local states
        if states=$(session_states "$id"); then
            pass "session $id ended after logout ($states)"
        else
            flunk "session $id still there 20 s after logout ($states)"
        fi
        evidence "$user: session $id after logout: $states"
    fi
    check_daemon_cgroup "after $user's logout"
}

check_journal() {
    echo "== the journal and the log"
    local unit_journal journal log user preview
    unit_journal=$(in_ct journalctl -u vesko --no-pager -o cat)
    if grep -qF "Entering login screen" <<<"$unit_journal"; then
        pass "journalctl -u vesko holds the daemon's messages"
    else
        flunk "journalctl -u vesko holds none of the daemon's messages"
    fi
    # The whole journal: a daemon that strayed into a session scope logs under that scope.
    journal=$(in_ct journalctl --no-pager -o cat)
    log=$(in_ct cat /var/log/vesko.log)
    for user in "${USERS[@]}"; do
        # Exactly what the diagnostics show of the hash: its first 10 bytes.
        preview=$(in_ct awk -F: -v u="$user" '$1 == u {print substr($2, 1, 10)}' /etc/shadow)
        if grep -qF "hash=$preview" <<<"$log"; then
            pass "/var/log/vesko.log holds $user's hash preview"
        else
            flunk "/var/log/vesko.log lacks $user's hash preview ($preview)"
        fi
        if grep -qF "$preview" <<<"$journal"; then
            flunk "the journal holds $user's hash preview: $(grep -F "$preview" <<<"$journal" | head -n 2)"
        else
            pass "the journal holds no hash preview of $user"
        fi
    done
    expect_eq "password-match lines in /var/log/vesko.log" 2 "$(grep -c 'password match=' <<<"$log")"
    if grep -q 'password match=' <<<"$journal"; then
        flunk "the journal holds password-match results: $(grep 'password match=' <<<"$journal" | head -n 2)"
    else
        pass "the journal holds no password-match result"
    fi
}

x_servers() { in_ct pgrep -x 'Xvfb|Xorg' | tr '\n' ' ' | sed 's/ $//'; }

check_restart_and_stop() {
    echo "== systemctl restart and stop"
    local old_daemon old_x new_daemon
    old_daemon=$(daemon_pid)
    old_x=$(x_servers)
    in_ct systemctl restart vesko || flunk "systemctl restart vesko failed"
    wait_greeter
    new_daemon=$(daemon_pid)
    expect_eq "vesko processes after restart" "$new_daemon" "$(in_ct pgrep -x vesko | tr '\n' ' ' | sed 's/ $//')"
    if [ "$new_daemon" != "$old_daemon" ] && ! in_ct test -e "/proc/$old_daemon"; then
        pass "the old daemon $old_daemon is gone, the new one is $new_daemon"
    else
        flunk "the old daemon $old_daemon is still there"
    fi
    local new_x
    new_x=$(x_servers)
    if [ "$(wc -w <<<"$new_x")" = 1 ] && [ "$new_x" != "$old_x" ]; then
        pass "one X server after restart: $new_x (was $old_x)"
    else
        flunk "X servers after restart: '$new_x' (before: '$old_x')"
    fi
    check_daemon_cgroup "after restart"
    evidence "restart: daemon $old_daemon -> $new_daemon, X server $old_x -> $new_x"

    in_ct systemctl stop vesko || flunk "systemctl stop vesko failed"
    local left_daemons left_x
    left_daemons=$(in_ct pgrep -x vesko | tr '\n' ' ' | sed 's/ $//')
    left_x=$(x_servers)
    expect_eq "vesko processes after stop" none "${left_daemons:-none}"
    expect_eq "X servers after stop" none "${left_x:-none}"
    evidence "stop: vesko processes: ${left_daemons:-none}; X servers: ${left_x:-none}"
}

# An automatic login at the next start of the unit: a session of its own, without the greeter,
# with the chosen desktop recorded by logind; after it, the greeter.
check_autologin() {
    echo "== automatic login"
    local home=/home/alice uid id prop
    uid=$(in_ct id -u alice)
    in_ct sh -c 'cat >/usr/local/bin/testdesk-session && chmod 755 /usr/local/bin/testdesk-session' <<'SESSION'
#!/bin/sh
env | sort >"$HOME/auto-env"
touch "$HOME/auto-ready"
while [ ! -e "$HOME/auto-logout" ]; do sleep 0.2; done
SESSION
    in_ct sh -c 'mkdir -p /usr/share/xsessions && cat >/usr/share/xsessions/testdesk.desktop' <<'ENTRY'
[Desktop Entry]
Name=Test Desk
Exec=/usr/local/bin/testdesk-session %U
DesktopNames=TestDesk;Shared;
ENTRY
    in_ct sh -c 'printf "[autologin]\nuser = \"alice\"\nsession = \"testdesk\"\n" >/etc/vesko/config.toml'
    in_ct sh -c ': >/var/log/vesko.log'
    SHOWINGS=0
    in_ct systemctl start vesko || die "systemctl start vesko failed"
    wait_for 30 "the automatic login's session" in_ct test -e "$home/auto-ready"
    if in_ct grep -qF "Automatic login for 'alice'" /var/log/vesko.log; then
        pass "the log says \"Automatic login for 'alice'\""
    else
        flunk "no \"Automatic login for 'alice'\" in the log"
    fi
    expect_eq "login screens before the automatic session ended" 0 \
        "$(in_ct grep -c 'Entering login screen' /var/log/vesko.log)"
    expect_eq "the automatic session's desktop variables" \
        "DESKTOP_SESSION=testdesk XDG_CURRENT_DESKTOP=TestDesk:Shared XDG_SESSION_DESKTOP=testdesk" \
        "$(in_ct grep -E '^(DESKTOP_SESSION|XDG_CURRENT_DESKTOP|XDG_SESSION_DESKTOP)=' "$home/auto-env" | tr '\n' ' ' | sed 's/ $//')"
    id=$(in_ct loginctl list-sessions --no-legend | awk -v u=alice '$3 == u {print $1}')
    if [ "$(wc -w <<<"$id")" = 1 ]; then
        pass "the automatic login has one logind session: $id"
        for prop in Type=x11 Class=user State=active Desktop=testdesk Service=vesko-autologin; do
            expect_eq "session $id ${prop%%=*}" "${prop#*=}" \
                "$(in_ct loginctl show-session "$id" -p "${prop%%=*}" --value)"
        done
        evidence "autologin: loginctl show-session $id: $(in_ct loginctl show-session "$id" \
            -p Id -p Name -p Type -p Class -p State -p Service -p Desktop | tr '\n' ' ')"
    else
        flunk "the automatic login has $(wc -w <<<"$id") logind sessions ('$id'), expected one"
    fi
    expect_eq "alice's runtime dir in the automatic session" "/run/user/$uid" \
        "$(in_ct sed -n 's/^XDG_RUNTIME_DIR=//p' "$home/auto-env")"
    in_ct touch "$home/auto-logout"
    wait_greeter
    pass "the greeter came after the automatic session"
    in_ct systemctl stop vesko || flunk "systemctl stop vesko failed"
}

inner_main() {
    RUN=$1
    boot_container "$2" "$3"
    assert_sysrq_unreachable
    in_ct dpkg -i "/root/$(basename "$3")" >"$RUN/dpkg.txt" 2>&1 ||
        die "dpkg -i failed: $(tail -n 20 "$RUN/dpkg.txt")"
    expect_eq "package status" "install ok installed" "$(in_ct dpkg-query -W -f='${Status}' vesko)"
    local user language
    for user in "${USERS[@]}"; do
        prepare_user "$user"
    done
    # The system's locale, where Debian keeps it: the unit hands it to the daemon.
    in_ct sh -c 'echo LANG=de_DE.UTF-8 >/etc/default/locale'
    in_ct systemctl start vesko || die "systemctl start vesko failed"
    wait_greeter
    language=$(in_ct grep -F "[INFO] Language: de_DE.UTF-8" /var/log/vesko.log)
    if grep -qF ", login screen translated" <<<"$language"; then
        pass "the daemon has the system's locale from /etc/default/locale, and its German catalog"
    else
        flunk "no German login screen in the log: '$language'"
    fi
    for user in "${USERS[@]}"; do
        log_in_and_out "$user"
    done
    if [ "${#SESSION_IDS[@]}" = 2 ] && [ "${SESSION_IDS[0]}" != "${SESSION_IDS[1]}" ]; then
        pass "each login had its own logind session: ${SESSION_IDS[*]}"
    else
        flunk "the logins did not have one logind session each: '${SESSION_IDS[*]}'"
    fi
    check_journal
    check_restart_and_stop
    check_autologin

    echo "== evidence"
    cat "$RUN/evidence.txt"
    if [ "$FAILURES" -gt 0 ]; then
        echo "== $FAILURES check(s) failed; evidence of the failures"
        show_failure_evidence
        exit 1
    fi
    echo "== all checks passed"
}

if [ "${1:-}" = --inside ]; then
    shift
    inner_main "$@"
else
    host_main "$@"
fi
