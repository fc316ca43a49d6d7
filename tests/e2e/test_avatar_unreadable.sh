# A ~/.face that is a FIFO, or a link to a picture only root may read, with no second picture:
# the placeholder shows, the greeter keeps answering, and the root-only picture never appears on
# the console. The same picture made readable does show, so the link was not what stopped it.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
H=/tmp/home/alice
mkdir -m 700 /tmp/secret
make_root_only /tmp/secret/red.png
AX=$((CX - 48))
AY=$((CY - 160))

start_vesko
wait_greeter
move_to 5 5
wait_first_paint
placeholder_square=$(screen_pixel $((AX + 2)) $((AY + 2)))
placeholder_head=$(screen_pixel $CX $((AY + 30)))

# Tab loads the avatar; the greeter must answer within 2 s and show the placeholder.
placeholder_case() { # what
    press Escape
    type_text alice
    answer_begin
    press Tab
    answer_end "avatar: $1"
    figure "avatar $1: greeter answered after ${ANSWER_MS} ms"
    assert_eq "$placeholder_square" "$(screen_pixel $((AX + 2)) $((AY + 2)))" "$1: placeholder"
    assert_eq "$placeholder_head" "$(screen_pixel $CX $((AY + 30)))" "$1: placeholder head"
    [ "$(screen_pixel "${AVATAR_CENTRE[@]}")" != "255 0 0" ] || fail "$1: the picture shows"
}

mkfifo $H/.face
chown alice: $H/.face
placeholder_case "FIFO"
# Nobody opened the FIFO for reading: a writer would wait, and now gives up at once.
timeout 2 sh -c "echo x >$H/.face" && fail "the FIFO was opened for reading"

rm $H/.face
ln -s /tmp/secret/red.png $H/.face
placeholder_case "link to a root-only picture"

# Readable by alice now: the same link shows it.
chmod 711 /tmp/secret
chmod 644 /tmp/secret/red.png
press Escape
type_text alice
press Tab
sleep 0.7
assert_screen_pixel "${AVATAR_CENTRE[@]}" "255 0 0" "the same picture, readable"

# And the greeter still logs alice in.
login_cycle alice 'alice pw'
assert_privileges alice 1
assert_alive
