# Hostile user names typed into the greeter: 10,000 characters, "../../root", names with blanks,
# quotes, shell and format characters, and non-ASCII text; and keys that produce no text. Each
# submission fails with the name logged exactly as it was taken, the greeter answers within 2 s,
# nothing outside the sandbox's users is touched, and a real login still works afterwards.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
start_vesko
wait_greeter

# Submits a name and a password, then expects the failure for that name.
refused() { # name what
    local name=$1 what=$2 before
    before=$(log_count "Authentication failed for '")
    press Escape
    type_text "$name"
    press Tab
    type_text "wrong pw"
    answer_begin
    press Return
    wait_log "Authentication failed for '" 15 $((before + 1))
    answer_end "user name: $what"
    figure "user name $what: refused, greeter answered ${ANSWER_MS} ms after Return"
    local attempted
    attempted=$(log_messages | grep -F "[INFO] Attempting login for user '" | tail -n 1)
    assert_eq "[INFO] Attempting login for user '$name'" "$attempted" "$what: the name as logged"
}

refused "../../root" "../../root"
refused "alice smith" "with a blank"
refused "   " "only blanks"
refused "o'brien" "with a quote"
refused 'say "hi"' "with double quotes"
refused 'a\b' "with a backslash"
refused '$(touch /tmp/pwned)`id`;rm' "shell characters"
refused '%s%n%x%p' "format characters"
refused 'ålïcé' "accented letters"
refused 'юзер' "Cyrillic"
refused 'משתמש' "right-to-left"
refused '😀user' "a four-byte character"
[ ! -e /tmp/pwned ] || fail "a typed name was run by a shell"
[ ! -e /root/session.log ] && [ ! -e /run/user/0 ] || fail "something was made for root"

# 10,000 characters in one go, then submitted.
long=$(head -c 10000 /dev/zero | tr '\0' 'x' | sed 's/x\{10\}/abcdefghij/g')
before=$(log_count "Authentication failed for '")
press Escape
t0=$(now_ms)
X xdotool type --delay 0 -- "$long"
typed_ms=$(($(now_ms) - t0))
press Tab
type_text "wrong pw"
answer_begin
press Return
wait_log "Authentication failed for '" 30 $((before + 1))
answer_end "user name: 10,000 characters"
attempted=$(log_messages | grep -F "[INFO] Attempting login for user '" | tail -n 1)
name=${attempted#"[INFO] Attempting login for user '"}
name=${name%"'"}
[ -n "$name" ] || fail "the long name was not submitted"
[ "${long#"$name"}" != "$long" ] || fail "the submitted name is not what was typed: ${name:0:40}..."
figure "user name of 10,000 characters: typed in ${typed_ms} ms, ${#name} characters submitted," \
    "greeter answered ${ANSWER_MS} ms after Return"

# Keys without text change nothing: interleaved with the real name and password, the login
# succeeds. Caps Lock and Num Lock are pressed twice, so no state is left behind.
NO_TEXT=(F1 F5 F12 Left Right Up Down Home End Insert Delete Prior Next KP_Enter Super_L Menu
    ctrl+a ctrl+u ctrl+alt+d Shift_L Control_R Caps_Lock Caps_Lock Num_Lock Num_Lock
    Print Pause Scroll_Lock XF86AudioMute XF86MonBrightnessUp dead_acute)
press Escape
type_text ali
press "${NO_TEXT[@]}"
type_text ce
press Tab
type_text "alice"
press "${NO_TEXT[@]}"
type_text " pw"
before=$(log_count "Session ended (code")
showings=$(log_count "Entering login screen")
press Return
wait_log "Session ended (code" 30 $((before + 1))
wait_greeter 30 $((showings + 1))
assert_eq "[INFO] Attempting login for user 'alice'" \
    "$(log_messages | grep -F "Attempting login for user '" | tail -n 1)" "name after no-text keys"
assert_answers "after keys without text"
assert_privileges alice 1
assert_no_x_errors
assert_alive
