# Helpers for end-to-end tests; sourced inside the sandbox before each test script.
# Globals: SRC (source tree), BUILD (build tree), W (work dir, kept when a test fails).

VESKO_LOG=/var/log/vesko.log
VESKO_PID=
export DISPLAY=:0
# Root's authority for the display, where the daemon writes one.
[ -f /run/vesko/xauth ] && export XAUTHORITY=/run/vesko/xauth

trap 'cp "$VESKO_LOG" "$W/log.txt" 2>/dev/null || true' EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

note() { echo "# $*" >&2; }

# The one wait: runs the command every 50 ms (WAIT_STEP seconds) until it succeeds; fails the
# test with "WHAT" once the time is up.
wait_until() { # timeout_s what command...
    local timeout=$1 what=$2
    shift 2
    eventually "$timeout" "$@" || fail "$what (after ${timeout} s)"
}

# The same, but false once the time is up, for checks that count a defect and go on.
eventually() { # timeout_s command...
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep "${WAIT_STEP:-0.05}"
    done
}

# Scripts that judge several attacks in one run count each failed check and fail at their end,
# so that one run shows every attack that gets through.
DEFECTS=0
defect() {
    echo "FAIL: $*" >&2
    DEFECTS=$((DEFECTS + 1))
}

# True once the file has content; false when it has none within the time.
has_content_within() { eventually "${2:-20}" test -s "$1"; } # path [timeout_s]

# Whether a file holds exactly this text.
file_is() { [ "$(cat "$1" 2>/dev/null)" = "$2" ]; } # path text

assert_eq() { # expected actual [what]
    [ "$1" == "$2" ] || fail "${3:-value}: expected '$1', got '$2'"
}

# Runs a command against the sandbox's display, with root's authority when there is one.
X() {
    if [ -f /run/vesko/xauth ]; then
        XAUTHORITY=/run/vesko/xauth "$@"
    else
        "$@"
    fi
}

# --- configuration and system files -------------------------------------------------------

write_config() { # the TOML text on standard input
    mkdir -p /etc/vesko
    cat >/etc/vesko/config.toml
}

# A PAM service for vesko that uses pam_unix alone; nodelay keeps failures fast.
pam_unix_service() { # [password]: with the stack that changes an expired password
    mkdir -p /etc/pam.d
    {
        echo "auth     required pam_unix.so nodelay"
        echo "account  required pam_unix.so"
        [ "${1:-}" = password ] && echo "password required pam_unix.so"
        echo "session  required pam_unix.so"
    } >/etc/pam.d/vesko
}

add_user() { # name password [useradd options...]; home is /tmp/home/NAME
    local name=$1 password=$2
    shift 2
    useradd -m -d "/tmp/home/$name" -s /bin/bash "$@" "$name"
    echo "$name:$password" | chpasswd
}

# The environment a graphical session of a user gets in the sandbox (pam_unix alone, no logind),
# one variable a line: the fixed ones, then what the PAM environment adds.
session_env() { # name uid [home] [shell]
    local name=$1 uid=$2 home=${3:-/tmp/home/$1} shell=${4:-/bin/bash}
    printf '%s\n' "HOME=$home" "USER=$name" "SHELL=$shell" "DISPLAY=:0" \
        "XAUTHORITY=$home/.Xauthority" "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin" \
        "XDG_RUNTIME_DIR=/run/user/$uid" "XKB_CONFIG_ROOT=/usr/share/X11/xkb" "XDG_SESSION_TYPE=x11" "XDG_SESSION_CLASS=user" \
        "XDG_SEAT=seat0" "XDG_VTNR=1" "LOGNAME=$name" "PWD=$home"
}

# Runs a command as a user, with a clean environment and their own home.
as_user() { # name command...
    local name=$1
    shift
    setpriv --reuid="$name" --regid="$(id -g "$name")" --init-groups \
        env -i DISPLAY=:0 HOME="/tmp/home/$name" PATH=/usr/local/bin:/usr/bin:/bin "$@"
}

wait_file() { # path [timeout_s]
    wait_until "${2:-20}" "$1 did not appear" test -e "$1"
}

# The session program: the child of the session process the daemon waits for.
session_program_of() { # session process PID
    local proc p
    proc=$(dirname "$(realpath /proc/self)")
    for p in "$proc"/[0-9]*; do
        [ "$(awk '{print $4}' "$p/stat" 2>/dev/null)" = "$1" ] && echo "${p##*/}"
    done
    return 0
}

# --- the daemon ---------------------------------------------------------------------------

# Starts the daemon in the background. FAKETIME_AT="2026-03-07 08:05:00" starts its clock there.
# VESKO_BIN runs another build of the daemon (or a wrapper that execs it).
start_vesko() {
    local bin=${VESKO_BIN:-$BUILD/vesko}
    if [ -n "${FAKETIME_AT:-}" ]; then
        faketime -f "@$FAKETIME_AT" "$bin" >"$W/vesko.stdout" 2>"$W/vesko.stderr" </dev/null &
    else
        "$bin" >"$W/vesko.stdout" 2>"$W/vesko.stderr" </dev/null &
    fi
    VESKO_PID=$!
}

vesko_alive() { kill -0 "$VESKO_PID" 2>/dev/null; }
has_exited() { ! kill -0 "$1" 2>/dev/null; } # pid

assert_alive() { vesko_alive || fail "the daemon is not running"; }

# Waits for the daemon to exit; its status goes to VESKO_STATUS. Call it directly, not in $(...):
# only this shell can collect the status of its child.
VESKO_STATUS=
wait_exit() { # [timeout_s]
    wait_until "${1:-30}" "the daemon did not exit" eval '! vesko_alive'
    VESKO_STATUS=0
    wait "$VESKO_PID" || VESKO_STATUS=$?
}

# The log's messages without their timestamps: "[INFO] vesko starting".
log_messages() {
    sed -E 's/^\[[^]]*\] //' "$VESKO_LOG" 2>/dev/null || true
}

log_count() { # fixed text
    log_messages | grep -cF -- "$1" || true
}

log_has() { [ "$(log_count "$1")" -ge "${2:-1}" ]; } # fixed text [count]

wait_log() { # fixed text [timeout_s] [count]
    wait_until "${2:-15}" "no log line '$1' (x${3:-1})" log_has "$1" "${3:-1}"
}

# Each argument must appear as a whole log message ("[LEVEL] text"), in this order;
# other lines may come between them.
assert_log_order() {
    local expected
    local -a lines
    mapfile -t lines < <(log_messages)
    local i=0
    for expected in "$@"; do
        while [ $i -lt ${#lines[@]} ] && [ "${lines[$i]}" != "$expected" ]; do
            i=$((i + 1))
        done
        [ $i -lt ${#lines[@]} ] || fail "log line '$expected' missing or out of order"
        i=$((i + 1))
    done
}

# The log's messages must be exactly these, in this order, from the start.
assert_log_exact() {
    local -a lines
    mapfile -t lines < <(log_messages)
    local i=0 expected
    for expected in "$@"; do
        [ "${lines[$i]:-<none>}" == "$expected" ] ||
            fail "log line $((i + 1)): expected '$expected', got '${lines[$i]:-<none>}'"
        i=$((i + 1))
    done
    [ ${#lines[@]} -eq $# ] || fail "log has ${#lines[@]} lines, expected $#"
}

# The median time the daemon took from a session's end to a reset server taking it back, in ms,
# over every reset so far.
median_reset_ms() {
    log_messages | sed -n 's/^\[INFO\] X: the X server was reset, connected again after \([0-9]*\) ms$/\1/p' |
        sort -n | awk '{v[NR] = $1} END {if (NR) print (NR % 2 ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2)); else print "none"}'
}

# --- the screen ---------------------------------------------------------------------------

wait_x_socket() { # [timeout_s]
    wait_until "${1:-10}" "X server socket did not appear" test -S /tmp/.X11-unix/X0
}

# The ID of the mapped, full-screen, override-redirect window (the greeter), or nothing.
greeter_window() {
    local id
    for id in $(X xwininfo -root -children 2>/dev/null | awk '/^ +0x/ {print $1}'); do
        if X xwininfo -id "$id" 2>/dev/null |
            awk '/Map State: IsViewable/ {v=1} /Override Redirect State: yes/ {o=1} END {exit !(v && o)}'; then
            echo "$id"
            return 0
        fi
    done
    return 0
}

# Window IDs repeat after each server reset; a property set by the test tells one showing's
# window from the next.
mark_window() { X xprop -id "$1" -f _VESKO_TEST_SEEN 8s -set _VESKO_TEST_SEEN yes; }
is_marked() { X xprop -id "$1" _VESKO_TEST_SEEN 2>/dev/null | grep -q '"yes"'; }
# A greeter window that no earlier showing had, or nothing.
new_greeter_window() {
    local id
    id=$(greeter_window)
    [ -n "$id" ] && ! is_marked "$id" && echo "$id"
    return 0
}

has_greeter_window() { [ -n "$(greeter_window)" ]; }

# Waits until the greeter window is mapped and its first frame is on the screen.
wait_greeter() { # [timeout_s] [nth showing]
    local timeout=${1:-20} nth=${2:-1}
    wait_log "Entering login screen" "$timeout" "$nth"
    wait_until "$timeout" "the greeter window did not appear" has_greeter_window
    X xdotool sync >/dev/null 2>&1 || true
    sleep 0.3
}

shot() { # name -> $W/name.png
    X xwd -root -silent | /usr/bin/convert xwd:- "png:$W/$1.png" || fail "screenshot failed"
}

pixel() { # name x y -> "r g b"
    /usr/bin/convert "$W/$1.png" -format \
        "%[fx:round(255*p{$2,$3}.r)] %[fx:round(255*p{$2,$3}.g)] %[fx:round(255*p{$2,$3}.b)]" info:
}

# Compares one pixel of a screenshot with an expected colour, within a tolerance per channel.
assert_pixel() { # name x y r g b [tolerance]
    local name=$1 x=$2 y=$3 r=$4 g=$5 b=$6 tol=${7:-2}
    local got
    got=$(pixel "$name" "$x" "$y")
    read -r gr gg gb <<<"$got"
    local d
    for d in $((gr - r)) $((gg - g)) $((gb - b)); do
        [ ${d#-} -le "$tol" ] || fail "pixel ($x,$y) of $name: expected $r $g $b (+-$tol), got $got"
    done
}

pixel_is() { # x y r g b tolerance: on a fresh screenshot
    local got gr gg gb d
    shot wait_pixel
    got=$(pixel wait_pixel "$1" "$2")
    read -r gr gg gb <<<"$got"
    for d in $((gr - $3)) $((gg - $4)) $((gb - $5)); do
        [ ${d#-} -le "$6" ] || return 1
    done
}

# Takes screenshots until a pixel matches, for effects that need a moment to show.
wait_pixel() { # x y r g b [tolerance] [timeout_s]
    wait_until "${7:-10}" "pixel ($1,$2) never became $3 $4 $5" pixel_is "$1" "$2" "$3" "$4" "$5" "${6:-2}"
}

# Input through XTEST; xdotool exits 0 even when nothing arrived, so tests check effects.
# xdotool remaps a spare keycode for each character outside the keymap, which needs more time.
type_text() {
    local delay=30
    [[ $1 == *[![:ascii:]]* ]] && delay=80
    X xdotool type --delay "$delay" -- "$1"
}
press() { X xdotool key --delay 30 "$@"; }
click_at() { X xdotool mousemove "$1" "$2" click 1; }
move_to() { X xdotool mousemove "$1" "$2"; }

# The X server's recorded command line, one argument per line.
xorg_args() { cat /tmp/xorg-args; }
xorg_pid() { cat /tmp/xorg-pid; }

# The real procfs: the sandbox's /proc holds links made before the test started.
PROC=$(dirname "$(realpath /proc/self)")
has_ended() { [ ! -e "$PROC/$1" ] || [ "$(awk '{print $3}' "$PROC/$1/stat" 2>/dev/null)" = Z ]; }

# Ends the daemon and its X server, so that the next start_vesko starts afresh.
stop_vesko_and_x() {
    local xpid
    xpid=$(xorg_pid 2>/dev/null || true)
    kill -TERM "$VESKO_PID" 2>/dev/null || true
    wait "$VESKO_PID" 2>/dev/null || true
    if [ -n "$xpid" ]; then
        kill -TERM "$xpid" 2>/dev/null || true
        wait_until 10 "the X server did not end" has_ended "$xpid"
    fi
    rm -f /tmp/.X11-unix/X0 /tmp/.X0-lock /tmp/xorg-pid /tmp/xorg-args
}

# A 4000 x 3000 JPEG photo of gradients and grain, which does not compress easily.
make_grain_photo() { # path
    /usr/bin/python3 - "$1" <<'PY'
import sys
from PIL import Image, ImageChops
w, h = 4000, 3000
r = Image.linear_gradient("L").resize((w, h))
g = Image.radial_gradient("L").resize((w, h))
b = Image.effect_noise((w // 16, h // 16), 90).resize((w, h), Image.BICUBIC)
grain = Image.effect_noise((w, h), 24)
Image.merge("RGB", [ImageChops.add(c, grain, 1.0, -128) for c in (r, g, b)]).save(
    sys.argv[1], quality=90)
PY
}
