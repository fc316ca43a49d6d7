# cmake --install: the staged file list, then a real installation into the sandbox's system
# directories: the unit, the PAM service, the logrotate rule, settings that are never
# overwritten, and the installed daemon starting on the installed settings and pictures.
source "$SRC/packaging/installed-checks.sh"

# DESTDIR staging lays out exactly the expected files and nothing else.
DESTDIR="$W/stage" cmake --install "$BUILD" >"$W/install-stage.txt" ||
    fail "staged install failed: $(cat "$W/install-stage.txt")"
staged_files "$W/stage" >"$W/staged.txt"
diff -u <(expected_files) "$W/staged.txt" >"$W/staged.diff" ||
    fail "staged files differ from packaging/install-files.txt: $(cat "$W/staged.diff")"
cmp -s "$SRC/packaging/config.toml" "$W/stage/etc/vesko/config.toml" ||
    fail "staged settings differ from packaging/config.toml"
zcat "$W/stage/usr/share/man/man8/vesko.8.gz" | grep -q '^\.TH VESKO 8' || fail "vesko(8) unreadable"
zcat "$W/stage/usr/share/man/man5/vesko.toml.5.gz" | grep -q '^\.TH VESKO.TOML 5' ||
    fail "vesko.toml(5) unreadable"

# A second staged install keeps settings someone has changed.
echo '[ui]' >"$W/stage/etc/vesko/config.toml"
DESTDIR="$W/stage" cmake --install "$BUILD" >"$W/install-stage2.txt"
assert_eq "[ui]" "$(cat "$W/stage/etc/vesko/config.toml")" "changed settings after reinstall"
grep -qF "Keeping existing: $W/stage/etc/vesko/config.toml" "$W/install-stage2.txt" ||
    fail "the reinstall does not say it kept the settings"

# The real thing, into the sandbox's /etc, /usr and /var.
[ ! -e /etc/vesko/config.toml ] || fail "the sandbox already has settings"
cmake --install "$BUILD" >"$W/install.txt" || fail "install failed: $(cat "$W/install.txt")"
check_files_in_place
cmp -s "$BUILD/vesko" /usr/sbin/vesko || fail "/usr/sbin/vesko is not the built daemon"
check_unit
check_pam_service
check_logrotate
assert_eq /usr/share/man/man8/vesko.8.gz "$(man -w 8 vesko)" "man -w 8 vesko"
assert_eq /usr/share/man/man5/vesko.toml.5.gz "$(man -w 5 vesko.toml)" "man -w 5 vesko.toml"

start_installed_daemon
assert_alive
stop_daemon
