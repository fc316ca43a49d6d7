# A daemon started from a terminal (here a pseudo-terminal that is its controlling terminal and
# its standard input and output) must not hand that terminal to the session: a session program
# could otherwise push commands into the root shell behind it with TIOCSTI.
pam_unix_service
add_user tina 'tina pass' -u 1520
cat >/tmp/home/tina/tty-probe.py <<'PY'
import fcntl, os, termios
lines = []
def probe(fd, name):
    lines.append("%s %s" % (name, "terminal" if os.isatty(fd) else "no-terminal"))
    try:
        fcntl.ioctl(fd, termios.TIOCSTI, b"x")
        lines.append("%s injected" % name)
    except OSError:
        lines.append("%s refused" % name)
for fd in (0, 1, 2):
    probe(fd, str(fd))
try:
    tty = os.open("/dev/tty", os.O_RDWR)
    probe(tty, "/dev/tty")
    os.close(tty)
except OSError:
    lines.append("no controlling terminal")
with open(os.path.join(os.environ["HOME"], "tty-report"), "w") as report:
    report.write("\n".join(lines) + "\n")
PY
printf 'python3 "$HOME/tty-probe.py"\n' >/tmp/home/tina/.xinitrc
chown tina: /tmp/home/tina/.xinitrc
PROC=$(dirname "$(realpath /proc/self)")

# The daemon as a root shell would run it: session leader on a terminal.
cat >"$W/on-terminal.py" <<'PY'
import os, pty, sys
build, work = sys.argv[1], sys.argv[2]
pid, master = pty.fork()
if pid == 0:
    os.execv("/bin/sh", ["sh", "-c", 'exec "$0" 2>"$1"', build + "/vesko", work + "/vesko.stderr"])
with open(work + "/vesko.pid", "w") as f:
    f.write("%d\n" % pid)
with open(work + "/terminal.out", "wb") as out:
    while True:
        try:
            data = os.read(master, 4096)
        except OSError:
            break
        if not data:
            break
        out.write(data)
        out.flush()
PY
python3 "$W/on-terminal.py" "$BUILD" "$W" &
wait_until 10 "the daemon did not start on the terminal" test -s "$W/vesko.pid"
VESKO_PID=$(cat "$W/vesko.pid")
wait_greeter
case $(readlink "$PROC/$VESKO_PID/fd/0") in /dev/pts/*) ;; *) fail "the daemon is not on a terminal" ;; esac
[ "$(cut -d' ' -f7 "$PROC/$VESKO_PID/stat")" != 0 ] || fail "the daemon has no controlling terminal"

type_text tina
press Tab
type_text 'tina pass'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2
assert_eq "0 no-terminal
0 refused
1 no-terminal
1 refused
2 no-terminal
2 refused
no controlling terminal" "$(cat /tmp/home/tina/tty-report)" "the session's view of the terminal"
assert_alive
