# Checks of an installed vesko, shared by tests/e2e/test_install.sh and test_package.sh.
# Sourced inside the end-to-end sandbox after tests/e2e/lib.sh; the system's /etc, /usr and
# /var there are throw-away overlays.

UNIT=/lib/systemd/system/vesko.service

# The expected files as "mode path" lines.
expected_files() {
    grep -v '^#' "$SRC/packaging/install-files.txt"
}

# Regular files under a staging root as "mode path" lines; nothing but files and directories.
staged_files() { # root
    local odd
    odd=$(cd "$1" && find . ! -type f ! -type d)
    [ -z "$odd" ] || fail "unexpected entries in $1: $odd"
    odd=$(cd "$1" && find . -type d -empty)
    [ -z "$odd" ] || fail "empty directories in $1: $odd"
    (cd "$1" && find . -type f -printf '%m /%P\n' | sort -k2)
}

# Every expected file is in place on the system with its mode, owned by root.
check_files_in_place() {
    local mode path
    while read -r mode path; do
        [ -f "$path" ] || fail "$path is missing"
        assert_eq "$mode" "$(stat -c %a "$path")" "mode of $path"
        assert_eq "root:root" "$(stat -c %U:%G "$path")" "owner of $path"
    done < <(expected_files)
}

check_no_files_left() {
    local mode path
    while read -r mode path; do
        [ ! -e "$path" ] || fail "$path is still there"
    done < <(expected_files)
}

# The unit passes systemd's own verification without a word and says what a display manager
# needs; enabling it makes it the display manager, disabling undoes that.
check_unit() {
    [ -f "$UNIT" ] || fail "no $UNIT"
    local out
    out=$(systemd-analyze verify "$UNIT" 2>&1) || fail "systemd-analyze verify failed: $out"
    [ -z "$out" ] || fail "systemd-analyze verify complained: $out"

    unit_value() { sed -n "s/^$1=//p" "$UNIT"; }
    assert_eq "/usr/sbin/vesko" "$(unit_value ExecStart)" "ExecStart"
    assert_eq "always" "$(unit_value Restart)" "Restart"
    assert_eq "getty@tty1.service" "$(unit_value Conflicts)" "Conflicts"
    assert_eq "display-manager.service" "$(unit_value Alias)" "Alias"
    assert_eq "graphical.target" "$(unit_value WantedBy)" "WantedBy"
    local after
    after=" $(unit_value After) "
    for unit in systemd-user-sessions.service getty@tty1.service systemd-logind.service; do
        [[ $after == *" $unit "* ]] || fail "After= lacks $unit: $after"
    done
    [ -x "$(unit_value ExecStart)" ] || fail "ExecStart is not an executable"

    # No systemd runs in the sandbox, so systemctl works on the files directly.
    systemctl enable vesko.service >"$W/enable.txt" 2>&1 || fail "systemctl enable: $(cat "$W/enable.txt")"
    assert_eq "$UNIT" "$(readlink /etc/systemd/system/display-manager.service)" \
        "display-manager.service link"
    assert_eq "$UNIT" "$(readlink /etc/systemd/system/graphical.target.wants/vesko.service)" \
        "graphical.target.wants link"
    assert_eq enabled "$(systemctl is-enabled vesko.service)" "is-enabled"
    systemctl disable vesko.service >/dev/null 2>&1 || fail "systemctl disable failed"
    [ ! -e /etc/systemd/system/display-manager.service ] || fail "alias left after disable"
}

# The PAM service works with the system's own stack: the right password opens and closes a
# session; a wrong one, /etc/nologin and a shell missing from /etc/shells are refused.
check_pam_service() {
    getent passwd pamcheck >/dev/null || add_user pamcheck 'Right-pass1'
    echo 'Right-pass1' | pamtester vesko pamcheck authenticate acct_mgmt open_session \
        close_session >"$W/pam-ok.txt" 2>&1 || fail "PAM refused the right password: $(cat "$W/pam-ok.txt")"
    if echo 'wrong' | pamtester vesko pamcheck authenticate >"$W/pam-bad.txt" 2>&1; then
        fail "PAM accepted a wrong password"
    fi
    grep -q "Authentication failure" "$W/pam-bad.txt" || fail "wrong password: $(cat "$W/pam-bad.txt")"
    touch /etc/nologin
    if echo 'Right-pass1' | pamtester vesko pamcheck authenticate >"$W/pam-nologin.txt" 2>&1; then
        rm -f /etc/nologin
        fail "PAM let a user in despite /etc/nologin"
    fi
    rm -f /etc/nologin
    getent passwd pamnoshell >/dev/null || add_user pamnoshell 'Right-pass1' -s /usr/sbin/nologin
    if echo 'Right-pass1' | pamtester vesko pamnoshell authenticate >"$W/pam-noshell.txt" 2>&1; then
        fail "PAM let in a user whose shell is not in /etc/shells"
    fi
}

# A forced rotation keeps the log and its rotated copy readable by root alone.
check_logrotate() {
    command -v logrotate >/dev/null || fail "logrotate is not installed (scripts/deps installs it)"
    logrotate -d /etc/logrotate.d/vesko >"$W/logrotate-debug.txt" 2>&1 ||
        fail "logrotate rejects the rule: $(cat "$W/logrotate-debug.txt")"
    rm -f /var/log/vesko.log*
    (umask 077 && echo "[2026-03-07 08:05:09] [INFO] vesko starting" >/var/log/vesko.log)
    logrotate -f -s "$W/logrotate.state" /etc/logrotate.d/vesko >"$W/logrotate.txt" 2>&1 ||
        fail "logrotate failed: $(cat "$W/logrotate.txt")"
    [ -f /var/log/vesko.log.1 ] || fail "no rotated copy: $(ls /var/log)"
    for f in /var/log/vesko.log /var/log/vesko.log.1; do
        assert_eq "600 root:root" "$(stat -c '%a %U:%G' "$f")" "mode and owner of $f"
    done
    [ ! -s /var/log/vesko.log ] || fail "the fresh log is not empty"
    rm -f /var/log/vesko.log*
}

# Starts the daemon exactly as the unit does, with the installed settings and pictures.
start_installed_daemon() {
    local exec
    exec=$(sed -n 's/^ExecStart=//p' "$UNIT")
    VESKO_BIN=$exec start_vesko
    wait_greeter 30
    assert_log_order \
        "[INFO] vesko starting" \
        "[INFO] Loading config from /etc/vesko/config.toml" \
        "[INFO] Config parsed successfully" \
        "[INFO] Config loaded: session=graphical, clock_24h=true, fallback_color=#1a1a2e" \
        "[INFO] Connected to X display" \
        "[INFO] Entering login screen"
    wait_log "Background: loaded and scaled (8294400 bytes)" 15
    local picture
    picture=$(log_messages | sed -n "s|^\[INFO\] Background: selected image '\(.*\)'$|\1|p" | tail -n 1)
    [[ $picture == /usr/share/vesko/backgrounds/*/*.jpg ]] || fail "unexpected picture '$picture'"
    assert_eq 600 "$(stat -c %a /var/log/vesko.log)" "log file mode"
}

stop_daemon() {
    kill "$VESKO_PID" 2>/dev/null || true
    wait_exit 10
    local xpid
    xpid=$(xorg_pid 2>/dev/null || true)
    if [ -n "$xpid" ]; then
        kill "$xpid" 2>/dev/null || true
    fi
    local deadline=$((SECONDS + 10))
    while [ -S /tmp/.X11-unix/X0 ] && [ -n "$xpid" ] && kill -0 "$xpid" 2>/dev/null; do
        [ $SECONDS -lt $deadline ] || fail "the X server did not end"
        sleep 0.1
    done
    rm -f /tmp/.X11-unix/X0 /tmp/.X0-lock /var/log/vesko.log
}
