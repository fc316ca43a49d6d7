# The Debian package: built with cpack, checked, installed with dpkg into the sandbox's system
# directories, started as its unit would start it, reinstalled over changed settings, removed
# and purged without leaving anything behind.
source "$SRC/packaging/installed-checks.sh"

cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$W/deb" >"$W/cpack.txt" 2>&1 ||
    fail "cpack failed: $(tail -n 20 "$W/cpack.txt")"
deb=$(ls "$W"/deb/vesko_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "cpack made no .deb: $(ls "$W/deb")"

field() { dpkg-deb -f "$deb" "$1"; }
assert_eq vesko "$(field Package)" "Package"
assert_eq "$(dpkg --print-architecture)" "$(field Architecture)" "Architecture"
assert_eq x-display-manager "$(field Provides)" "Provides"
depends=$(field Depends)
for dep in xserver-xorg-core libpam-runtime libpam-modules fonts-dejavu-core libc6 libx11-6 \
    libxft2 libxrender1 libpam0g libpng16-16 libjpeg62-turbo libseccomp2 libstdc++6; do
    [[ ", $depends," == *", $dep"[\ ,]* ]] || fail "Depends lacks $dep: $depends"
done
[[ ", $(field Recommends)," == *", openbox,"* ]] || fail "openbox not recommended: $(field Recommends)"
size=$(field Installed-Size)
[ "$size" -gt 0 ] && [ "$size" -lt 4096 ] || fail "Installed-Size ${size} KiB is implausible"
dep_count=$(tr ',' '\n' <<<"$depends" | grep -c .)
note "package $(basename "$deb"): Installed-Size ${size} KiB, ${dep_count} dependencies: $depends"

# The archive holds exactly the expected files, owned by root, and marks the settings.
dpkg-deb -c "$deb" >"$W/contents.txt"
awk '$1 !~ /^d/ {print $2}' "$W/contents.txt" | sort -u >"$W/owners.txt"
assert_eq "root/root" "$(cat "$W/owners.txt")" "file owners in the package"
dpkg-deb -x "$deb" "$W/unpacked"
staged_files "$W/unpacked" >"$W/packaged.txt"
diff -u <(expected_files) "$W/packaged.txt" >"$W/packaged.diff" ||
    fail "packaged files differ from packaging/install-files.txt: $(cat "$W/packaged.diff")"
dpkg-deb -e "$deb" "$W/control"
assert_eq "$(printf '/etc/pam.d/vesko\n/etc/pam.d/vesko-autologin\n/etc/logrotate.d/vesko\n/etc/vesko/config.toml')" \
    "$(cat "$W/control/conffiles")" "conffiles"
if readelf -S "$W/unpacked/usr/sbin/vesko" | grep -q '\.symtab'; then
    fail "the packaged daemon is not stripped"
fi

# Install.
vesko_paths() { # everything named after vesko in the system directories (man's page cache aside)
    find /etc /usr /var -xdev -name '*vesko*' ! -path '/var/cache/man/*' 2>/dev/null | sort
}
vesko_paths >"$W/paths-before.txt"
dpkg -i "$deb" >"$W/dpkg-i.txt" 2>&1 || fail "dpkg -i failed: $(cat "$W/dpkg-i.txt")"
assert_eq "install ok installed" "$(dpkg-query -W -f='${Status}' vesko)" "package status"
check_files_in_place
check_unit
check_pam_service
check_logrotate

# Start as the unit does: the installed settings parse, an installed picture is shown.
start_installed_daemon
assert_alive
stop_daemon

# A changed setting survives reinstalling the package.
printf '[ui]\nclock_24h = false\n' >/etc/vesko/config.toml
dpkg -i "$deb" >"$W/dpkg-i2.txt" 2>&1 || fail "reinstall failed: $(cat "$W/dpkg-i2.txt")"
assert_eq "$(printf '[ui]\nclock_24h = false')" "$(cat /etc/vesko/config.toml)" "settings after reinstall"

# Remove: the files go, the settings stay, and an enabled unit leaves no dangling alias.
systemctl enable vesko.service >/dev/null 2>&1 || fail "systemctl enable failed"
dpkg -r vesko >"$W/dpkg-r.txt" 2>&1 || fail "dpkg -r failed: $(cat "$W/dpkg-r.txt")"
assert_eq "deinstall ok config-files" "$(dpkg-query -W -f='${Status}' vesko)" "status after removal"
for f in /usr/sbin/vesko "$UNIT" /usr/share/vesko /usr/share/man/man8/vesko.8.gz \
    /etc/systemd/system/display-manager.service \
    /etc/systemd/system/graphical.target.wants/vesko.service; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f left after dpkg -r"
done
for f in /etc/vesko/config.toml /etc/pam.d/vesko /etc/logrotate.d/vesko; do
    [ -f "$f" ] || fail "$f removed by dpkg -r (settings must stay until purge)"
done

# Purge: nothing of vesko remains.
echo "[2026-03-07 08:05:09] [INFO] vesko starting" >/var/log/vesko.log
mkdir -p /var/lib/vesko
touch /var/lib/vesko/state
install -d -m 700 /var/cache/vesko
touch /var/cache/vesko/covers
dpkg -P vesko >"$W/dpkg-p.txt" 2>&1 || fail "dpkg -P failed: $(cat "$W/dpkg-p.txt")"
if dpkg-query -W vesko >/dev/null 2>&1; then
    fail "dpkg still knows vesko after purge: $(dpkg-query -W -f='${Status}' vesko)"
fi
check_no_files_left
vesko_paths >"$W/paths-after.txt"
diff -u "$W/paths-before.txt" "$W/paths-after.txt" >"$W/paths.diff" ||
    fail "left after purge: $(cat "$W/paths.diff")"
[ ! -e /var/log/vesko.log ] || fail "the log is left after purge"
[ ! -e /var/lib/vesko ] || fail "/var/lib/vesko is left after purge"
[ ! -e /var/cache/vesko ] || fail "/var/cache/vesko is left after purge"
