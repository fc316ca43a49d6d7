# The login screen in the system's language. Every shipped catalog fits its areas, measured with
# the greeter's fonts on its own X server. With LANG=de_DE.UTF-8, first as a locale this machine
# has not generated, the labels and messages are German while the log stays English. Then with
# de_DE.UTF-8 generated, where pam_unix would ask in German, an expired password is still
# changed: PAM keeps the C locale. $W/greeter-de.png is the screenshot for the documentation.

for catalog in "$BUILD"/locale/*/LC_MESSAGES/vesko.mo; do
    install -D -m 644 "$catalog" "/usr/share/locale/${catalog#"$BUILD/locale/"}"
done
if locale -a | grep -qx 'de_DE.utf8'; then
    localedef --delete-from-archive de_DE.utf8
fi
pam_unix_service password
add_user alice 'old secret'
chage -d 0 alice
printf 'sleep 0.3\n' >/tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user

# The ink of a screenshot's area, where it is light on the dark greeter (or red, for the message
# line), is exactly the width of the text in the greeter's font.
assert_ink() { # shot crop text [field] [r-g]
    local shown expected
    shown=$(/usr/bin/convert "$W/$1.png" -crop "$2" +repage ${5:+-fx "$5"} -threshold 40% -trim \
        -format %w info:)
    expected=$(X "$BUILD/x_text_width" "$3" 1 "${4:-small}")
    [ "${shown:-0}" -ge $((expected - 3)) ] && [ "${shown:-0}" -le $((expected + 1)) ] ||
        fail "$2 of $1: $shown px of ink, '$3' is $expected px"
}

restart_vesko() { # LANG
    local xpid
    xpid=$(xorg_pid)
    kill -TERM "$VESKO_PID" "$xpid"
    wait "$VESKO_PID" 2>/dev/null || true
    wait_until 10 "the X server did not end" eval '! kill -0 "$xpid" 2>/dev/null'
    rm -f /tmp/.X11-unix/X0 /tmp/.X0-lock /tmp/xorg-pid /tmp/xorg-args
    : >"$VESKO_LOG"
    LANG=$1 start_vesko
    wait_greeter
}

LANG=de_DE.UTF-8 start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 2 20
move_to 5 5
shot de
assert_log_order "[INFO] Entering login screen" \
    "[INFO] Language: de_DE.UTF-8 (not generated here; catalogs for LANGUAGE=de_DE), login screen translated"

# shellcheck disable=SC2046 # one language a word
X "$BUILD/x_text_fit" "$SRC/po/vesko.pot" C $(grep -v '^#' "$SRC/po/LINGUAS") >"$W/fit.txt" ||
    fail "texts that do not fit: $(grep -E '^(OVERFLOW|NO )' "$W/fit.txt")"

# Inside the fields and buttons of 1920x1080, their outlines left out.
assert_ink de 300x40+802+498 Benutzername field
assert_ink de 300x40+802+554 Passwort field
assert_ink de 316x40+802+634 Anmelden field
assert_ink de 136x32+736+1036 Ausschalten
assert_ink de 136x32+892+1036 "Neu starten"
assert_ink de 136x32+1048+1036 Konsole
assert_ink de 96x32+12+1036 Aa

type_text alice
press Tab
type_text 'wrong secret'
press Return
wait_log "[WARN] Authentication failed for 'alice': Authentication failed: Auth_Err (7)"
sleep 0.4
shot greeter-de
assert_ink greeter-de 1920x30+0+598 "Anmeldung fehlgeschlagen: Auth_Err (7)" small r-g
assert_log_order "[ERROR] PAM: authenticate() failed: Auth_Err (7)" \
    "[WARN] Authentication failed for 'alice': Authentication failed: Auth_Err (7)"

localedef -i de_DE -f UTF-8 de_DE.UTF-8
# Here pam_unix's own catalog would turn its prompts German.
[ "$(LC_ALL=de_DE.UTF-8 TEXTDOMAIN=Linux-PAM gettext 'Current password: ')" != 'Current password: ' ] ||
    note "no German catalog of Linux-PAM on this machine"
restart_vesko de_DE.UTF-8
assert_log_order "[INFO] Language: de_DE.UTF-8, login screen translated"
type_text alice
press Tab
type_text 'old secret'
press Return
wait_log "[INFO] The password of 'alice' has expired: asking for a new one"
sleep 0.4
shot expired
assert_ink expired 1920x30+0+598 "Ihr Passwort ist abgelaufen. Wählen Sie ein neues." small r-g
assert_ink expired 300x40+802+554 "Neues Passwort" field
type_text 'fresh secret'
press Return
sleep 0.4
shot repeat
assert_ink repeat 300x40+802+554 "Neues Passwort wiederholen" field
type_text 'fresh secret'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20
assert_log_order \
    "[INFO] PAM: module message: You are required to change your password immediately (administrator enforced)." \
    "[INFO] PAM: the password has expired; changing it" "[INFO] PAM: password changed" \
    "[INFO] Authentication succeeded for user 'alice'"
assert_alive
