# Every branch of the PAM transaction against real libpam, driven by the test module
# pam_vesko_test.so (referenced by absolute path), which records each call it receives.

MOD=$(realpath "$BUILD/pam_vesko_test.so")
CALLS=/tmp/pam-calls
BASE="ask_user password=secret"

service() { # module arguments, the same on the auth, account and session lines
    cat >/etc/pam.d/vesko <<PAM
auth     required $MOD log=$CALLS $*
account  required $MOD log=$CALLS $*
session  required $MOD log=$CALLS $*
PAM
}

probe() { # name password [VAR=value...]: prints the first line of the answer
    local name=$1 password=$2
    shift 2
    : >"$VESKO_LOG"
    : >"$CALLS"
    env -u LD_LIBRARY_PATH -u USER -u LOGNAME -u HOME -u PWD -u SHELL "$@" \
        "$BUILD/auth_probe" "$name" "$password" >"$W/out" 2>"$W/err" || true
    { echo "=== $name $*"; cat "$VESKO_LOG" "$CALLS"; } >>"$W/all-logs.txt"
    head -n 1 "$W/out"
}

assert_calls() { # the module's record must be exactly these lines
    local -a got
    mapfile -t got <"$CALLS"
    local i=0 expected
    for expected in "$@"; do
        [ "${got[$i]:-<none>}" == "$expected" ] ||
            fail "call $((i + 1)): expected '$expected', got '${got[$i]:-<none>}'"
        i=$((i + 1))
    done
    [ ${#got[@]} -eq $# ] || fail "the module recorded ${#got[@]} lines, expected $#"
}

# The log from "PAM: calling authenticate()" to its end must be exactly these lines.
assert_log_from_authenticate() {
    local -a got
    mapfile -t got < <(log_messages | sed -n '/^\[INFO\] PAM: calling authenticate()$/,$p')
    local i=0 expected
    for expected in "[INFO] PAM: calling authenticate()" "$@"; do
        [ "${got[$i]:-<none>}" == "$expected" ] ||
            fail "log line $((i + 1)) from authenticate: expected '$expected', got '${got[$i]:-<none>}'"
        i=$((i + 1))
    done
    [ ${#got[@]} -eq $(($# + 1)) ] || fail "log has ${#got[@]} lines from authenticate"
}

START=("start service=vesko user=(null)" "authenticate flags=0" "user=alice rc=0" "password right")
SUCCESS_CALLS=("${START[@]}" "acct_mgmt flags=0" "setcred flags=2" "open_session flags=0"
    "setcred flags=8" "close_session flags=0" "setcred flags=4")

add_user alice secret
add_user bob 'bob pw'

# --- the whole successful transaction -----------------------------------------------------
service "$BASE"
assert_eq "Success" "$(probe alice secret)" "success"
assert_calls "${SUCCESS_CALLS[@]}" "end status=0"
assert_log_order \
    "[INFO] PAM: initializing client for service 'vesko', user 'alice'" \
    "[DEBUG] PAM: client created successfully" \
    "[DEBUG] PAM: credentials set" \
    "[DEBUG] PAM: /usr/lib/x86_64-linux-gnu/security=true /usr/lib/security=false"
assert_log_from_authenticate \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[INFO] PAM: session opened successfully"
assert_eq "pam XDG_SESSION_TYPE=x11 pam XDG_SESSION_CLASS=user pam XDG_SEAT=seat0 pam XDG_VTNR=1 \
pam USER=alice pam LOGNAME=alice pam HOME=/tmp/home/alice pam PWD=/tmp/home/alice \
pam SHELL=/bin/bash USER=(unset) LOGNAME=(unset) HOME=(unset) PWD=(unset) SHELL=(unset)" \
    "$(tail -n +2 "$W/out" | paste -sd ' ')" "PAM environment, and the process's own after login"

# The user-name prompt (echo on) is answered with the typed name.
assert_eq "Success" "$(probe bob secret)" "bob"
assert_calls "start service=vesko user=(null)" "authenticate flags=0" "user=bob rc=0" \
    "password right" "acct_mgmt flags=0" "setcred flags=2" "open_session flags=0" \
    "setcred flags=8" "close_session flags=0" "setcred flags=4" "end status=0"

# --- authentication and account failures --------------------------------------------------
# After a failed authentication libpam itself answers the deletion with Perm_Denied (6), and
# that is the status pam_end gets.
assert_eq "Authentication failed: Auth_Err (7)" "$(probe alice wrong)" "wrong password"
assert_calls "start service=vesko user=(null)" "authenticate flags=0" "user=alice rc=0" \
    "password wrong" "setcred flags=4" "end status=6"
assert_log_from_authenticate "[ERROR] PAM: authenticate() failed: Auth_Err (7)"

service "$BASE" fail=acct_mgmt:13
assert_eq "Authentication failed: Acct_Expired (13)" "$(probe alice secret)" "account"
assert_calls "${START[@]}" "acct_mgmt flags=0" "setcred flags=4" "setcred flags=4" "end status=0"
assert_log_from_authenticate "[ERROR] PAM: authenticate() failed: Acct_Expired (13)"

service "$BASE" fail=acct_mgmt:12
assert_eq "Authentication failed: New_Authtok_Reqd (12)" "$(probe alice secret)" "must change"
assert_calls "${START[@]}" "acct_mgmt flags=0" "setcred flags=4" "setcred flags=4" "end status=0"

# --- a failure at each session step -------------------------------------------------------
service "$BASE" fail=setcred_establish:17
assert_eq "Session open failed: Cred_Err (17)" "$(probe alice secret)" "establish"
assert_calls "${START[@]}" "acct_mgmt flags=0" "setcred flags=2" "setcred flags=4" \
    "setcred flags=4" "end status=0"
assert_log_from_authenticate \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[ERROR] PAM: open_session() failed: Cred_Err (17)"

service "$BASE" fail=open_session:14
assert_eq "Session open failed: Session_Err (14)" "$(probe alice secret)" "open"
assert_calls "${START[@]}" "acct_mgmt flags=0" "setcred flags=2" "open_session flags=0" \
    "setcred flags=4" "setcred flags=4" "end status=0"
assert_log_from_authenticate \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[ERROR] PAM: open_session() failed: Session_Err (14)"

service "$BASE" fail=setcred_reinitialize:16
assert_eq "Session open failed: Cred_Expired (16)" "$(probe alice secret)" "reinitialise"
assert_calls "${START[@]}" "acct_mgmt flags=0" "setcred flags=2" "open_session flags=0" \
    "setcred flags=8" "setcred flags=4" "setcred flags=4" "end status=0"

# The clean-up results are not acted upon; the deletion's result is what pam_end gets.
service "$BASE" fail=close_session:14
assert_eq "Success" "$(probe alice secret)" "close fails"
assert_calls "${SUCCESS_CALLS[@]}" "end status=0"
service "$BASE" fail=setcred_delete:17
assert_eq "Success" "$(probe alice secret)" "delete fails"
assert_calls "${SUCCESS_CALLS[@]}" "end status=17"

# --- codes outside 0..31 ------------------------------------------------------------------
# libpam itself turns a module's out-of-range code into Perm_Denied.
service "$BASE" fail=authenticate:40
assert_eq "Authentication failed: Perm_Denied (6)" "$(probe alice secret)" "module code 40"
# Out-of-range results of the libpam calls themselves, forced through the preloaded module.
service "$BASE"
for code in 40 -7; do
    assert_eq "Authentication failed: System_Err (4)" \
        "$(probe alice secret LD_PRELOAD="$MOD" PAM_VESKO_TEST_AUTHENTICATE_RESULT=$code)" \
        "authenticate $code"
    assert_log_from_authenticate "[ERROR] PAM: authenticate() failed: System_Err (4)"
    assert_calls "${START[@]}" "setcred flags=4" "end status=0"
done
for code in 40 -1 26; do
    expected="System_Err (4)"
    [ $code != 26 ] || expected="Abort (26)"
    assert_eq "PAM init error: $expected" \
        "$(probe alice secret LD_PRELOAD="$MOD" PAM_VESKO_TEST_START_RESULT=$code)" "start $code"
    assert_eq "[INFO] PAM: initializing client for service 'vesko', user 'alice'
[ERROR] PAM: client init error: $expected" "$(log_messages | tail -n 2)" "start $code log"
    assert_calls
done

# --- the conversation ---------------------------------------------------------------------
# An error message no longer fails the conversation: it is logged and kept, the module decides
# what comes of it, and when its step fails the login screen shows the message, not the code.
service "$BASE" "[error=No entry today]" fail=authenticate:6
assert_eq "Authentication failed: Perm_Denied (6)" "$(probe alice secret)" "error message"
assert_eq "shown: No entry today" "$(sed -n 2p "$W/out")" "the message shown"
assert_calls "start service=vesko user=(null)" "authenticate flags=0" "conv rc=0" \
    "resp[0]=(null) retcode=0" "user=alice rc=0" "password right" "setcred flags=4" "end status=6"
assert_log_from_authenticate "[INFO] PAM: module message: No entry today" \
    "[ERROR] PAM: authenticate() failed: Perm_Denied (6)"

# Every style in one conversation: info gets no answer, echo on and unknown styles the name,
# echo off the password; all return codes 0.
service "$BASE" converse=info,echo_on,echo_off,binary,info
assert_eq "Success" "$(probe alice secret)" "conversation"
assert_calls "start service=vesko user=(null)" "authenticate flags=0" "conv rc=0" \
    "resp[0]=(null) retcode=0" "resp[1]=alice retcode=0" "resp[2]=secret retcode=0" \
    "resp[3]=alice retcode=0" "resp[4]=(null) retcode=0" "user=alice rc=0" "password right" \
    "acct_mgmt flags=0" "setcred flags=2" "open_session flags=0" "setcred flags=8" \
    "close_session flags=0" "setcred flags=4" "end status=0"

# An info message, then the prompts, all in the account step: the login goes on, and the message
# is only logged.
service "$BASE" at=acct_mgmt "[info=Your account expires soon]"
assert_eq "Success" "$(probe alice secret)" "info message"
assert_calls "start service=vesko user=(null)" "authenticate flags=0" "acct_mgmt flags=0" \
    "conv rc=0" "resp[0]=(null) retcode=0" "user=alice rc=0" "password right" "setcred flags=2" "open_session flags=0" "setcred flags=8" "close_session flags=0" \
    "setcred flags=4" "end status=0"
assert_eq 1 "$(log_count "[INFO] PAM: module message: Your account expires soon")" "info line"

# --- the environment set-up after the session opened --------------------------------------
# Each ends as a session failure; the session is still closed by the release.
ENV_FAIL_CALLS=("${START[@]}" "acct_mgmt flags=0" "setcred flags=2" "open_session flags=0"
    "setcred flags=8" "close_session flags=0" "setcred flags=4" "end status=0")

service "$BASE" clear_user
assert_eq "Session open failed: System_Err (4)" "$(probe alice secret)" "no PAM_USER"
assert_calls "${ENV_FAIL_CALLS[@]}"
assert_log_from_authenticate \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[ERROR] PAM: no user name after the session was opened" \
    "[ERROR] PAM: open_session() failed: System_Err (4)"
assert_eq 1 "$(wc -l <"$W/out")" "output lines without a login"

service "$BASE" set_user=ghost
assert_eq "Session open failed: User_Unknown (10)" "$(probe alice secret)" "unknown PAM_USER"
assert_calls "${ENV_FAIL_CALLS[@]}"
assert_log_from_authenticate \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[ERROR] PAM: no passwd entry for 'ghost'" \
    "[ERROR] PAM: open_session() failed: User_Unknown (10)"

service "$BASE" $'set_user=caf\xe9'
assert_eq "Session open failed: System_Err (4)" "$(probe alice secret)" "non-UTF-8 PAM_USER"
assert_calls "${ENV_FAIL_CALLS[@]}"
assert_log_from_authenticate \
    "[INFO] PAM: authenticate() succeeded" \
    "[INFO] PAM: calling open_session()" \
    "[ERROR] PAM: open_session() failed: System_Err (4)"

# An entry larger than the 2048-byte buffer counts as not found.
printf 'big:x:2001:2001:%s:/tmp/home/big:/bin/sh\n' "$(printf 'G%.0s' $(seq 2100))" >>/etc/passwd
getent passwd big >/dev/null || fail "the big entry is not in the passwd database"
service "$BASE" set_user=big
assert_eq "Session open failed: User_Unknown (10)" "$(probe alice secret)" "big entry"
assert_calls "${ENV_FAIL_CALLS[@]}"
assert_log_order \
    "[ERROR] PAM: getpwnam_r('big') failed: Numerical result out of range (os error 34)" \
    "[ERROR] PAM: open_session() failed: User_Unknown (10)"

# The C library stops at a line that overflows the buffer, hiding the entries after it too.
sed -i '/^big:/d' /etc/passwd

printf 'latin:x:2002:2002::/tmp/home/caf\xe9:/bin/sh\n' >>/etc/passwd
service "$BASE" set_user=latin
assert_eq "Session open failed: System_Err (4)" "$(probe alice secret)" "non-UTF-8 home"
assert_calls "${ENV_FAIL_CALLS[@]}"
assert_log_order "[ERROR] PAM: passwd entry for 'latin' is not valid UTF-8" \
    "[ERROR] PAM: open_session() failed: System_Err (4)"
