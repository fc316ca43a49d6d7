# Real PAM with pam_unix and real accounts: the answer to each kind of account, and the whole
# log of each attempt, diagnostics included.

# One transaction: prints the first line of the answer; everything is kept in $W for a failure.
probe() { # name password [VAR=value...]
    local name=$1 password=$2
    shift 2
    : >"$VESKO_LOG"
    env -u LD_LIBRARY_PATH -u USER -u LOGNAME -u HOME -u PWD -u SHELL "$@" \
        "$BUILD/auth_probe" "$name" "$password" >"$W/out" 2>"$W/err" || true
    { echo "=== $name"; cat "$VESKO_LOG"; } >>"$W/all-logs.txt"
    head -n 1 "$W/out"
}

exists() { if [ -e "$1" ]; then echo true; else echo false; fi; }

preview() { # hash -> its log form
    local LC_ALL=C h=$1
    if [ ${#h} -le 10 ]; then
        printf '%s' "$h"
    else
        printf '%s...(len=%d)' "${h:0:10}" ${#h}
    fi
}

shadow_hash() { getent shadow "$1" | cut -d: -f2; }

# The log of one attempt up to "PAM: calling authenticate()", as this system must write it.
expected_start() { # name crypt-result ("" when no crypt line is due)
    local u=$1 match=$2 pw
    echo "[INFO] PAM: uid=0 euid=0"
    echo "[INFO] PAM: LD_LIBRARY_PATH=(unset)"
    echo "[INFO] PAM: /etc/ld.so.cache=$(exists /etc/ld.so.cache) /etc/ld.so.conf=$(exists /etc/ld.so.conf)"
    echo "[INFO] PAM: /etc/shadow=$(exists /etc/shadow) /etc/pam.d/vesko=$(exists /etc/pam.d/vesko)" \
        "pam_unix.so=$(exists /usr/lib/security/pam_unix.so) nsswitch.conf=$(exists /etc/nsswitch.conf)" \
        "libnss_files=/usr/lib:$(exists /usr/lib/libnss_files.so.2)" \
        "multiarch:$(exists /usr/lib/x86_64-linux-gnu/libnss_files.so.2)"
    echo "[INFO] PAM: /etc/shadow mode=$(printf %o "0x$(stat -c %f /etc/shadow)") uid=$(stat -c %u /etc/shadow) gid=$(stat -c %g /etc/shadow)"
    if pw=$(getent passwd "$u"); then
        IFS=: read -r _ _ uid gid _ home _ <<<"$pw"
        echo "[INFO] PAM: getpwnam('$u') ok: uid=$uid gid=$gid home=$home"
    else
        echo "[ERROR] PAM: getpwnam('$u') returned NULL, errno=0"
    fi
    if getent shadow "$u" >/dev/null; then
        echo "[INFO] PAM: getspnam('$u') ok: name=$u hash=$(preview "$(shadow_hash "$u")")"
    else
        echo "[ERROR] PAM: getspnam('$u') returned NULL, errno=0"
    fi
    echo "[INFO] PAM: dlopen('libnss_files.so.2') succeeded"
    [ -z "$match" ] || echo "[INFO] PAM: crypt() password match=$match"
    if [ -e /usr/lib/security/pam_unix.so ]; then
        echo "[INFO] PAM: dlopen('/usr/lib/security/pam_unix.so') succeeded"
    else
        echo "[ERROR] PAM: dlopen('/usr/lib/security/pam_unix.so') failed: /usr/lib/security/pam_unix.so: cannot open shared object file: No such file or directory"
    fi
    echo "[INFO] PAM: initializing client for service 'vesko', user '$u'"
    echo "[DEBUG] PAM: client created successfully"
    echo "[DEBUG] PAM: credentials set"
    echo "[DEBUG] PAM: /usr/lib/x86_64-linux-gnu/security=true /usr/lib/security=$(exists /usr/lib/security)"
    echo "[DEBUG] PAM: /lib/x86_64-linux-gnu/libcrypt.so.1=$(exists /lib/x86_64-linux-gnu/libcrypt.so.1)"
    echo "[DEBUG] PAM: /usr/lib/x86_64-linux-gnu/libcrypt.so.1=$(exists /usr/lib/x86_64-linux-gnu/libcrypt.so.1)"
    echo "[DEBUG] PAM: /usr/lib/libcrypt.so.1=false"
    echo "[DEBUG] PAM: /usr/lib/security/ contains: []"
    if getent shadow "$u" >/dev/null; then
        echo "[INFO] PAM: shadow entry for '$u': hash=$(preview "$(shadow_hash "$u")")"
    else
        echo "[ERROR] PAM: user '$u' NOT found in /etc/shadow!"
    fi
    echo "[INFO] PAM: calling authenticate()"
}

assert_whole_log() { # name crypt-result final-lines...
    local u=$1 match=$2
    shift 2
    local -a lines
    mapfile -t lines < <(expected_start "$u" "$match")
    assert_log_exact "${lines[@]}" "$@"
}

pam_unix_service
add_user alice 'correct horse'
add_user locked 'locked pw'
usermod -L locked
add_user expired 'expired pw'
chage -E 0 expired
add_user expired2 'expired pw'
chage -E 2001-02-03 expired2
add_user mustchange 'change pw'
chage -d 0 mustchange

# The sandbox's fixed facts the expected logs rest on.
[ ! -e /usr/lib/security ] || fail "the sandbox has /usr/lib/security"
case "$(shadow_hash alice)" in
    '$y$'*) ;;
    *) fail "chpasswd did not make a yescrypt hash: $(shadow_hash alice)" ;;
esac
case "$(shadow_hash locked)" in
    '!$y$'*) ;;
    *) fail "usermod -L did not lock: $(shadow_hash locked)" ;;
esac

# Right password: success; the session's PAM environment holds the user's values, the process's
# own environment none of them.
assert_eq "Success" "$(probe alice 'correct horse')" "alice"
assert_eq "pam XDG_SESSION_TYPE=x11 pam XDG_SESSION_CLASS=user pam XDG_SEAT=seat0 pam XDG_VTNR=1 \
pam USER=alice pam LOGNAME=alice pam HOME=/tmp/home/alice pam PWD=/tmp/home/alice \
pam SHELL=/bin/bash USER=(unset) LOGNAME=(unset) HOME=(unset) PWD=(unset) SHELL=(unset)" \
    "$(tail -n +2 "$W/out" | paste -sd ' ')" "PAM environment, and the process's own after login"
assert_whole_log alice true \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[INFO] PAM: session opened successfully"
# Literal anchors, independent of the expected-log builder above.
assert_log_order \
    "[INFO] PAM: getspnam('alice') ok: name=alice hash=$(shadow_hash alice | cut -c1-10)...(len=73)" \
    "[INFO] PAM: crypt() password match=true" \
    "[INFO] PAM: initializing client for service 'vesko', user 'alice'" \
    "[DEBUG] PAM: /usr/lib/x86_64-linux-gnu/security=true /usr/lib/security=false" \
    "[DEBUG] PAM: /usr/lib/security/ contains: []"
! grep -qF 'correct horse' "$VESKO_LOG" "$W/err" || fail "the password reached the log"

# Wrong password: the shadow check says false and PAM decides on its own.
assert_eq "Authentication failed: Auth_Err (7)" "$(probe alice 'wrong horse')" "wrong password"
assert_whole_log alice false "[ERROR] PAM: authenticate() failed: Auth_Err (7)"

# Locked: no crypt line, the field shows in the shadow entry line.
assert_eq "Authentication failed: Auth_Err (7)" "$(probe locked 'locked pw')" "locked"
assert_whole_log locked "" "[ERROR] PAM: authenticate() failed: Auth_Err (7)"
[ "$(log_count 'crypt()')" = 0 ] || fail "a locked account got a crypt line"
assert_log_order "[INFO] PAM: shadow entry for 'locked': hash=$(shadow_hash locked | cut -c1-10)...(len=74)"

# Expired (today and a past date): the account check fails after a good password, and what
# pam_unix says about it is what the login screen shows.
for u in expired expired2; do
    assert_eq "Authentication failed: Acct_Expired (13)" "$(probe $u 'expired pw')" "$u"
    assert_eq "shown: Your account has expired; please contact your system administrator." \
        "$(sed -n 2p "$W/out")" "$u: shown"
    assert_whole_log $u true \
        "[INFO] PAM: module message: Your account has expired; please contact your system administrator." \
        "[ERROR] PAM: authenticate() failed: Acct_Expired (13)"
    [ "$(log_count 'authenticate() succeeded')" = 0 ] || fail "$u: authenticate() succeeded"
done

# Password change required: without a new password the transaction ends there (the login screen
# then asks for one).
assert_eq "Authentication failed: New_Authtok_Reqd (12)" "$(probe mustchange 'change pw')" \
    "mustchange"
assert_whole_log mustchange true \
    "[INFO] PAM: module message: You are required to change your password immediately (administrator enforced)." \
    "[ERROR] PAM: authenticate() failed: New_Authtok_Reqd (12)"

# Unknown name: the two NULL lines, no crypt line, not in the shadow file.
assert_eq "Authentication failed: User_Unknown (10)" "$(probe ghost 'any pw')" "unknown"
assert_whole_log ghost "" "[ERROR] PAM: authenticate() failed: User_Unknown (10)"
assert_log_order \
    "[ERROR] PAM: getpwnam('ghost') returned NULL, errno=0" \
    "[ERROR] PAM: getspnam('ghost') returned NULL, errno=0" \
    "[ERROR] PAM: user 'ghost' NOT found in /etc/shadow!"
