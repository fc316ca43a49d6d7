# The PAM stack failing at each step of the transaction, through the test module: every failure
# ends in its own message on the greeter, with the handle ended, no session started, and the
# greeter answering within 2 s. Failures in the clean-up steps do not stop the login. A stack
# whose pam_start itself fails (forced through the module preloaded into the daemon) gives the
# init error. A working stack afterwards logs the user in.
source "$SRC/tests/e2e/hard_lib.sh"
MOD=$(realpath "$BUILD/pam_vesko_test.so")
CALLS=/tmp/pam-calls
mkdir -m 1777 /run/user
add_user alice 'unused'
privilege_xinitrc alice

service() { # module arguments
    cat >/etc/pam.d/vesko <<PAM
auth     required $MOD log=$CALLS ask_user password=secret $*
account  required $MOD log=$CALLS $*
session  required $MOD log=$CALLS $*
PAM
}

# One refused login: the message, the PAM line, the ended handle, no session. The daemon's own
# line: steps up to the credentials fail the authentication, later ones (in the session process)
# the launch.
refused_at() { # step code expected-error pam-log-line [daemon line prefix]
    local step=$1 code=$2 expected=$3 pam_line=$4 before forks
    local prefix=${5:-"[WARN] Authentication failed for 'alice': "}
    local marker=${prefix#\[*\] }
    service "fail=$step:$code"
    : >"$CALLS"
    before=$(log_count "$marker")
    forks=$(log_count "Session child forked")
    fill_login alice secret
    answer_begin
    press Return
    wait_log "$marker" 15 $((before + 1))
    answer_end "PAM $step"
    figure "PAM failing at $step with $code: '$expected', greeter answered ${ANSWER_MS} ms"
    assert_eq "$prefix$expected" \
        "$(log_messages | grep -F "$marker" | tail -n 1)" "$step: message"
    log_messages | grep -qxF "$pam_line" || fail "$step: no log line '$pam_line'"
    assert_eq "$forks" "$(log_count "Session child forked")" "$step: sessions started"
    assert_eq 1 "$(grep -c '^start ' "$CALLS")" "$step: transactions started"
    assert_eq "end" "$(tail -n 1 "$CALLS" | cut -d' ' -f1)" "$step: the handle ended last"
    [ -z "$(pids_of_uid "$(id -u alice)")" ] || fail "$step: a process of alice is running"
}

service ""
start_vesko
wait_greeter

refused_at authenticate 7 "Authentication failed: Auth_Err (7)" \
    "[ERROR] PAM: authenticate() failed: Auth_Err (7)"
refused_at authenticate 9 "Authentication failed: Authinfo_Unavail (9)" \
    "[ERROR] PAM: authenticate() failed: Authinfo_Unavail (9)"
refused_at acct_mgmt 13 "Authentication failed: Acct_Expired (13)" \
    "[ERROR] PAM: authenticate() failed: Acct_Expired (13)"
refused_at acct_mgmt 12 "Authentication failed: New_Authtok_Reqd (12)" \
    "[ERROR] PAM: authenticate() failed: New_Authtok_Reqd (12)"
refused_at setcred_establish 17 "Session open failed: Cred_Err (17)" \
    "[ERROR] PAM: open_session() failed: Cred_Err (17)"
refused_at open_session 14 "Session open failed: Session_Err (14)" \
    "[ERROR] PAM: open_session() failed: Session_Err (14)" \
    "[ERROR] Session launch failed for 'alice': "
refused_at setcred_reinitialize 15 "Session open failed: Cred_Unavail (15)" \
    "[ERROR] PAM: open_session() failed: Cred_Unavail (15)" \
    "[ERROR] Session launch failed for 'alice': "
# A wrong password through the module's own check.
service ""
before=$(log_count "Authentication failed for 'alice'")
fill_login alice 'not secret'
answer_begin
press Return
wait_log "Authentication failed for 'alice'" 15 $((before + 1))
answer_end "PAM wrong password"
assert_eq "[WARN] Authentication failed for 'alice': Authentication failed: Auth_Err (7)" \
    "$(log_messages | grep -F "Authentication failed for 'alice'" | tail -n 1)" "wrong password"

# Failures while the transaction is wound up are not the user's problem: the session starts.
for step in close_session:close_session "setcred_delete:setcred flags=4"; do
    call=${step#*:}
    step=${step%%:*}
    service "fail=$step:14"
    : >"$CALLS"
    login_cycle alice secret
    grep -q "^$call" "$CALLS" || fail "$step was not called"
    assert_eq "end" "$(tail -n 1 "$CALLS" | cut -d' ' -f1)" "$step: the handle ended last"
    assert_answers "PAM $step failing"
    figure "PAM failing at $step: login went ahead"
done

service ""
login_cycle alice secret
assert_privileges alice 3
assert_no_x_errors
stop_vesko_and_x

# pam_start itself failing, with a code in range and one outside it.
for forced in "4 System_Err (4)" "99 System_Err (4)"; do
    code=${forced%% *}
    text=${forced#* }
    : >"$VESKO_LOG"
    LD_PRELOAD=$MOD PAM_VESKO_TEST_START_RESULT=$code start_vesko
    wait_greeter
    fill_login alice secret
    answer_begin
    press Return
    wait_log "Authentication failed for 'alice'" 15
    answer_end "pam_start failing with $code"
    assert_eq "[WARN] Authentication failed for 'alice': PAM init error: $text" \
        "$(log_messages | grep -F "Authentication failed for 'alice'" | tail -n 1)" "pam_start $code"
    log_messages | grep -qxF "[ERROR] PAM: client init error: $text" ||
        fail "pam_start $code: no init error line"
    figure "pam_start returning $code: 'PAM init error: $text', greeter answered ${ANSWER_MS} ms"
    assert_alive
    stop_vesko_and_x
done
