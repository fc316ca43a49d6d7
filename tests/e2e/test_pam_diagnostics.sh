# The diagnostic probes around a real pam_unix transaction, on a system changed probe by probe:
# the module directory listing, LD_LIBRARY_PATH, hash previews, an unreadable or missing shadow
# file and missing libraries. The probes only log; PAM decides on its own.

probe() { # name password [VAR=value...]: prints the first line of the answer
    local name=$1 password=$2
    shift 2
    : >"$VESKO_LOG"
    env -u LD_LIBRARY_PATH "$@" "$BUILD/auth_probe" "$name" "$password" >"$W/out" 2>"$W/err" ||
        true
    { echo "=== $name"; cat "$VESKO_LOG"; } >>"$W/all-logs.txt"
    head -n 1 "$W/out"
}

assert_no_log() { # fixed text
    [ "$(log_count "$1")" = 0 ] || fail "unexpected log line containing '$1'"
}

MULTIARCH=/usr/lib/x86_64-linux-gnu
SHADOW_OWNER="uid=$(stat -c %u /etc/shadow) gid=$(stat -c %g /etc/shadow)"

pam_unix_service
add_user alice 'correct horse'
useradd -M nopw
passwd -d nopw >/dev/null
useradd -M banged
useradd -M h10
usermod -p '$1$abcdefg' h10
useradd -M h11
usermod -p '$1$abcdefgh' h11
useradd -M multibyte
usermod -p $'$1$abcdef\xc3\xa9x' multibyte
useradd -M md5
usermod -p "$(openssl passwd -1 -salt abcdefgh 'md5 pw')" md5

# --- hash previews and the crypt check ----------------------------------------------------
assert_eq "Success" "$(probe md5 'md5 pw')" "md5 user"
assert_log_order \
    "[INFO] PAM: getspnam('md5') ok: name=md5 hash=\$1\$abcdefg...(len=34)" \
    "[INFO] PAM: crypt() password match=true" \
    "[INFO] PAM: initializing client for service 'vesko', user 'md5'" \
    "[INFO] PAM: shadow entry for 'md5': hash=\$1\$abcdefg...(len=34)" \
    "[INFO] PAM: session opened successfully"
# The hash previews and the match go to the log file alone: standard error ends in the journal.
if grep -E "hash=|password match=" "$W/err"; then fail "secrets on standard error"; fi
grep -qF "PAM: initializing client" "$W/err" || fail "the other lines are missing on standard error"

assert_eq "Authentication failed: Auth_Err (7)" "$(probe h10 'x')" "h10"
assert_log_order \
    "[INFO] PAM: getspnam('h10') ok: name=h10 hash=\$1\$abcdefg" \
    "[INFO] PAM: crypt() password match=false" \
    "[INFO] PAM: shadow entry for 'h10': hash=\$1\$abcdefg" \
    "[ERROR] PAM: authenticate() failed: Auth_Err (7)"

assert_eq "Authentication failed: Auth_Err (7)" "$(probe h11 'x')" "h11"
assert_log_order \
    "[INFO] PAM: getspnam('h11') ok: name=h11 hash=\$1\$abcdefg...(len=11)" \
    "[INFO] PAM: crypt() password match=false" \
    "[INFO] PAM: shadow entry for 'h11': hash=\$1\$abcdefg...(len=11)"

# The tenth byte is the middle of "é": the cut moves before it.
assert_eq "Authentication failed: Auth_Err (7)" "$(probe multibyte 'x')" "multibyte"
assert_log_order \
    "[INFO] PAM: getspnam('multibyte') ok: name=multibyte hash=\$1\$abcdef...(len=12)" \
    "[INFO] PAM: crypt() password match=false" \
    "[INFO] PAM: shadow entry for 'multibyte': hash=\$1\$abcdef...(len=12)"

# Empty and "!" fields: shown, but no crypt test.
assert_eq "Authentication failed: Auth_Err (7)" "$(probe nopw 'x')" "nopw"
assert_log_order \
    "[INFO] PAM: getspnam('nopw') ok: name=nopw hash=" \
    "[INFO] PAM: shadow entry for 'nopw': hash="
assert_no_log "crypt()"
assert_eq "Authentication failed: Auth_Err (7)" "$(probe banged 'x')" "banged"
assert_log_order \
    "[INFO] PAM: getspnam('banged') ok: name=banged hash=!" \
    "[INFO] PAM: shadow entry for 'banged': hash=!"
assert_no_log "crypt()"

# --- LD_LIBRARY_PATH ----------------------------------------------------------------------
probe alice 'correct horse' LD_LIBRARY_PATH=/opt/one:/opt/two >/dev/null
assert_log_order "[INFO] PAM: LD_LIBRARY_PATH=/opt/one:/opt/two"
probe alice 'correct horse' LD_LIBRARY_PATH=$'/opt/caf\xe9' >/dev/null
assert_log_order "[INFO] PAM: LD_LIBRARY_PATH=(unset)"
probe alice 'correct horse' >/dev/null
assert_log_order "[INFO] PAM: LD_LIBRARY_PATH=(unset)"

# --- the module directory, listed unsorted with escapes -------------------------------------
mkdir /usr/lib/security
ln -s "$MULTIARCH/security/pam_unix.so" /usr/lib/security/pam_unix.so
python3 - <<'PY'
for name in [b'pam_deny.so', b'quo"te', b'back\\slash', b'new\nline', b'tab\tand\rcr',
             b'esc\x1b', b'caf\xc3\xa9.so', b'bad\xff', b'zz.so', b'aa.so']:
    open(b'/usr/lib/security/' + name, 'w').close()
PY
expected_list=$(python3 - <<'PY'
import os
shown = {b'pam_unix.so': '"pam_unix.so"', b'pam_deny.so': '"pam_deny.so"',
         b'quo"te': '"quo\\"te"', b'back\\slash': '"back\\\\slash"',
         b'new\nline': '"new\\nline"', b'tab\tand\rcr': '"tab\\tand\\rcr"',
         b'esc\x1b': '"esc\\u{1b}"', b'caf\xc3\xa9.so': '"caf\u00e9.so"',
         b'bad\xff': '"bad\ufffd"', b'zz.so': '"zz.so"', b'aa.so': '"aa.so"'}
# os.listdir yields the names in the directory's own order.
print('[' + ', '.join(shown[n] for n in os.listdir(b'/usr/lib/security')) + ']')
PY
)
assert_eq "Success" "$(probe alice 'correct horse')" "alice with /usr/lib/security"
assert_log_order \
    "[INFO] PAM: /etc/shadow=true /etc/pam.d/vesko=true pam_unix.so=true nsswitch.conf=true libnss_files=/usr/lib:false multiarch:true" \
    "[INFO] PAM: dlopen('/usr/lib/security/pam_unix.so') succeeded" \
    "[DEBUG] PAM: $MULTIARCH/security=true /usr/lib/security=true" \
    "[DEBUG] PAM: /usr/lib/security/ contains: $expected_list"
note "listing: $expected_list"

# --- shadow file: another mode, invalid UTF-8, missing ---------------------------------------
chmod 600 /etc/shadow
probe alice 'correct horse' >/dev/null
assert_log_order "[INFO] PAM: /etc/shadow mode=100600 $SHADOW_OWNER"

cp /etc/shadow "$W/shadow.saved"
printf 'latin:$1$\xff:20000:0:99999:7:::\n' >>/etc/shadow
assert_eq "Success" "$(probe alice 'correct horse')" "alice with a non-UTF-8 shadow file"
assert_log_order \
    "[INFO] PAM: getspnam('alice') ok: name=alice hash=$(getent shadow alice | cut -d: -f2 | cut -c1-10)...(len=73)" \
    "[INFO] PAM: dlopen('libnss_files.so.2') succeeded" \
    "[INFO] PAM: dlopen('/usr/lib/security/pam_unix.so') succeeded" \
    "[ERROR] PAM: cannot read /etc/shadow!" \
    "[INFO] PAM: session opened successfully"
assert_no_log "crypt()"
probe latin 'x' >/dev/null
assert_log_order $'[INFO] PAM: getspnam(\'latin\') ok: name=latin hash=$1$\xef\xbf\xbd'
cp "$W/shadow.saved" /etc/shadow

mv /etc/shadow /etc/shadow.away
assert_eq "Authentication failed: Authinfo_Unavail (9)" "$(probe alice 'correct horse')" \
    "alice without /etc/shadow"
assert_log_order \
    "[INFO] PAM: /etc/shadow=false /etc/pam.d/vesko=true pam_unix.so=true nsswitch.conf=true libnss_files=/usr/lib:false multiarch:true" \
    "[ERROR] PAM: cannot stat /etc/shadow: No such file or directory (os error 2)" \
    "[INFO] PAM: getpwnam('alice') ok: uid=$(id -u alice) gid=$(id -g alice) home=/tmp/home/alice" \
    "[ERROR] PAM: getspnam('alice') returned NULL, errno=0" \
    "[ERROR] PAM: cannot read /etc/shadow!" \
    "[ERROR] PAM: authenticate() failed: Authinfo_Unavail (9)"
assert_no_log "crypt()"
mv /etc/shadow.away /etc/shadow

# --- missing libraries: libcrypt (pam_unix needs it too) and the libnss_files stub ----------
rm /usr/lib/security/pam_unix.so "$MULTIARCH/libcrypt.so.1" "$MULTIARCH/libnss_files.so.2"
assert_eq "Authentication failed: Module_Unknown (28)" "$(probe alice 'correct horse')" \
    "alice without libcrypt"
assert_log_order \
    "[INFO] PAM: /etc/shadow=true /etc/pam.d/vesko=true pam_unix.so=false nsswitch.conf=true libnss_files=/usr/lib:false multiarch:false" \
    "[ERROR] PAM: dlopen('libnss_files.so.2') failed: libnss_files.so.2: cannot open shared object file: No such file or directory" \
    "[ERROR] PAM: dlopen('libcrypt.so.1') for crypt test failed" \
    "[ERROR] PAM: dlopen('/usr/lib/security/pam_unix.so') failed: /usr/lib/security/pam_unix.so: cannot open shared object file: No such file or directory" \
    "[DEBUG] PAM: /lib/x86_64-linux-gnu/libcrypt.so.1=false" \
    "[DEBUG] PAM: $MULTIARCH/libcrypt.so.1=false" \
    "[DEBUG] PAM: /usr/lib/libcrypt.so.1=false" \
    "[ERROR] PAM: authenticate() failed: Module_Unknown (28)"
