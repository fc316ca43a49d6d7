# [ui] remember_user = true: the name of the last user whose session started is kept in
# /var/lib/vesko/last-user (root's, 0600), and the next showing starts with that name, that
# user's avatar and the focus in the password field. A hostile state file (a FIFO, 10 MB, invalid
# UTF-8) is ignored with a WARN and the greeter shows as usual.
source "$SRC/tests/e2e/hard_lib.sh"
STATE=/var/lib/vesko/last-user
BELOW_CLOCK=1024x568+0+200

differing_from_first() { # shot
    /usr/bin/convert "$W/first.png" -crop $BELOW_CLOCK +repage "$W/a.png"
    /usr/bin/convert "$W/$1.png" -crop $BELOW_CLOCK +repage "$W/b.png"
    /usr/bin/compare -metric AE "$W/a.png" "$W/b.png" null: 2>&1 || true
}

pam_unix_service
add_user alice 'alice pw'
/usr/bin/convert -size 200x200 xc:'#ff0000' "png:/tmp/home/alice/.face"
# The reset at the session's end drops every X client: the test's xdotool must finish first.
echo 'sleep 0.3' >/tmp/home/alice/.xinitrc
chown alice: /tmp/home/alice/.face /tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user
write_config <<'TOML'
[ui]
remember_user = true
TOML

start_vesko
wait_greeter
wait_first_paint
move_to 5 5
sleep 0.3
shot first
login_cycle alice 'alice pw'
assert_eq "alice" "$(cat $STATE)" "remembered name"
assert_eq "root 600 root 700" "$(stat -c '%U %a' $STATE) $(stat -c '%U %a' /var/lib/vesko)" \
    "owners and modes"

# The password alone logs alice in again: her name is there and the password field has the focus.
wait_first_paint
assert_screen_pixel "${AVATAR_CENTRE[@]}" "255 0 0" "alice's avatar"
type_text 'alice pw'
press Return
wait_log "Session ended (code" 30 2
assert_eq 2 "$(log_count "Attempting login for user 'alice'")" "logins of alice"
assert_eq 0 "$(log_count "last user")" "lines about the last user"

for kind in fifo big invalid; do
    stop_vesko_and_x
    : >"$VESKO_LOG"
    rm -f $STATE
    case $kind in
        fifo) mkfifo -m 600 $STATE ;;
        big) head -c 10M /dev/zero | tr '\0' a >$STATE ;;
        invalid) printf 'caf\xe9\n' >$STATE ;;
    esac
    start_vesko
    wait_greeter
    wait_first_paint
    case $kind in
        fifo) why="it is not a regular file" ;;
        big) why="it is larger than 257 bytes" ;;
        invalid) why="it is not valid UTF-8" ;;
    esac
    assert_log_order "[INFO] Entering login screen" "[WARN] Ignoring the last user in $STATE: $why"
    move_to 5 5
    sleep 0.3
    shot "$kind"
    assert_eq 0 "$(differing_from_first "$kind")" "$kind: pixels differing from the first look"
    assert_answers "$kind"
done
