# The power buttons: "Power Off" and "Reboot" flush the file systems and then write exactly one
# byte to the SysRq trigger (the sandbox's stand-in), each after its log line; a trigger that
# cannot be written changes nothing; "Console" logs the switch and the greeter keeps answering.
start_vesko
wait_greeter
[ "$(stat -f -c %T /proc/sysrq-trigger)" = tmpfs ] || fail "not the stand-in trigger"

# 1920x1080: the bottom bar's buttons are centred at x 804, 960 and 1116, y 1052.
POWER_OFF=(804 1052)
REBOOT=(960 1052)
CONSOLE=(1116 1052)

lines() { wc -l <"$VESKO_LOG"; }
# The byte follows the log line once the file systems are flushed, which may take a moment.
wait_trigger() { # expected content
    trigger_holds() { [ -f /proc/sysrq-trigger ] && [ "$(cat /proc/sysrq-trigger)" = "$1" ]; }
    wait_until 15 "the trigger never held '$1'" trigger_holds "$1"
}

# Every system call of the daemon that matters here, in order.
strace -f -qq -s 256 -e trace=sync,openat,write -e signal=none -o "$W/strace" -p "$VESKO_PID" &
tracer=$!
PROC=$(dirname "$(realpath /proc/self)")
traced() { [ "$(awk '/^TracerPid:/ {print $2}' "$PROC/$VESKO_PID/status")" != 0 ]; }
wait_until 10 "strace did not attach" traced

before=$(lines)
click_at "${POWER_OFF[@]}"
wait_log "Power: initiating power off via sysrq"
wait_trigger o
assert_eq o "$(cat /proc/sysrq-trigger)" "trigger after Power Off"
assert_eq 1 "$(stat -c %s /proc/sysrq-trigger)" "bytes after Power Off"
assert_eq $((before + 1)) "$(lines)" "log lines after Power Off"

click_at "${REBOOT[@]}"
wait_log "Power: initiating reboot via sysrq"
wait_trigger b
assert_eq b "$(cat /proc/sysrq-trigger)" "trigger after Reboot"
assert_eq 1 "$(stat -c %s /proc/sysrq-trigger)" "bytes after Reboot"
assert_eq $((before + 2)) "$(lines)" "log lines after Reboot"
kill "$tracer"
wait "$tracer" || true

# The log line, then sync, then the one-byte write, for each button; nothing else reaches the
# trigger.
grep -E 'sync\(\)|sysrq-trigger|Power: initiating|write\([0-9]+, "[ob]", 1\)' "$W/strace" |
    sed -E 's/^[0-9]+ +//; s/^write\(2, .*Power: initiating ([a-z ]+) via sysrq.*/log \1/;
            s/^write\([0-9]+, .*Power: initiating ([a-z ]+) via sysrq.*/file \1/;
            s/^openat\(AT_FDCWD, "\/proc\/sysrq-trigger", ([A-Z_|]+), 0666\) = [0-9]+/open \1/;
            s/^write\([0-9]+, "([ob])", 1\) += 1/byte \1/; s/^sync\(\) += 0/sync/' \
    >"$W/power-calls"
assert_eq "log power off
file power off
sync
open O_WRONLY|O_CREAT|O_TRUNC|O_CLOEXEC
byte o
log reboot
file reboot
sync
open O_WRONLY|O_CREAT|O_TRUNC|O_CLOEXEC
byte b" "$(cat "$W/power-calls")" "the power actions' calls"

# Stand-in removed: the greeter carries on, and the log gets the INFO line only.
rm /proc/sysrq-trigger
before=$(lines)
click_at "${POWER_OFF[@]}"
wait_log "Power: initiating power off via sysrq" 10 2
# The open creates the file anew, which shows that the click has been dealt with.
wait_trigger o
sleep 0.3
assert_eq $((before + 1)) "$(lines)" "log lines with the trigger removed"
assert_alive
[ -n "$(greeter_window)" ] || fail "the greeter went away"

# A trigger that cannot be opened for writing at all.
rm -f /proc/sysrq-trigger
mkdir /proc/sysrq-trigger
before=$(lines)
click_at "${REBOOT[@]}"
wait_log "Power: initiating reboot via sysrq" 10 2
sleep 1
assert_eq $((before + 1)) "$(lines)" "log lines with an unwritable trigger"
assert_alive
[ -n "$(greeter_window)" ] || fail "the greeter went away"

# Console: /dev/tty0 is /dev/null here, so the switch request fails and must not block.
click_at "${CONSOLE[@]}"
wait_log "Power: switching to VT 2"
log_messages | grep -q "Power: failed to open /dev/tty0" && fail "/dev/tty0 did not open"
click_at "${POWER_OFF[@]}"
wait_log "Power: initiating power off via sysrq" 5 3

# A device nobody can open: the failure is logged and the greeter still answers.
python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("/tmp/not-a-terminal")'
mount --bind /tmp/not-a-terminal /dev/tty0
click_at "${CONSOLE[@]}"
wait_log "Power: failed to open /dev/tty0"
assert_log_order "[INFO] Power: switching to VT 2" "[INFO] Power: initiating power off via sysrq" \
    "[INFO] Power: switching to VT 2" "[ERROR] Power: failed to open /dev/tty0"
click_at "${REBOOT[@]}"
wait_log "Power: initiating reboot via sysrq" 5 3
assert_alive
[ -n "$(greeter_window)" ] || fail "the greeter went away"
