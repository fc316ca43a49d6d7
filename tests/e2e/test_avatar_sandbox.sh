# The avatar is decoded in a child, never in the daemon. With a decoder bug preloaded
# (tests/preload/decoder_fault.c), a decoder that crashes and one that never answers each leave
# the placeholder (not the second picture) and a WARN; the greeter goes on and alice logs in. The spinning child runs as alice, with no new privileges, a seccomp filter
# and only its two files and the pipe open.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
H=/tmp/home/alice
echo 'sleep 0.3' >$H/.xinitrc
mkdir -p $H/.config/vesko
/usr/bin/convert -size 200x200 xc:'#0000ff' "png:$H/.config/vesko/avatar.png"
chown -R alice: $H
LD_PRELOAD=$(realpath "$BUILD/decoder_fault.so") start_vesko
wait_greeter
wait_first_paint
move_to 5 5
sleep 0.3
placeholder=$(screen_pixel "${AVATAR_CENTRE[@]}")
avatar_of_alice() { # width of ~/.face
    /usr/bin/convert -size "$1x4" xc:red "png:$H/.face"
    press Escape
    type_text alice
    press Tab
}

avatar_of_alice 1234
wait_log "Avatar: no picture for 'alice': the decoder was killed by signal 4" 10
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$placeholder" "the placeholder after a crash"
avatar_of_alice 1235
children() { grep -lx "PPid:[[:space:]]*$VESKO_PID" /dev/null "$PROC"/[0-9]*/status 2>/dev/null; }
# shellcheck disable=SC2046 # one path a line, no blanks
decoder() { grep -lx "Name:[[:space:]]*vesko" /dev/null $(children) 2>/dev/null; }
wait_until 5 "no decoding child" eval 'child=$(decoder)'
child=$(dirname "$child")
uid=$(id -u alice)
assert_eq "$uid $uid $uid $uid 1 2" "$(awk '/^Uid:/{u=$2" "$3" "$4" "$5} /^NoNewPrivs:/{n=$2}
    /^Seccomp:/{s=$2} END{print u, n, s}' "$child/status")" "uids, NoNewPrivs, seccomp"
assert_eq 3 "$(find "$child/fd" -mindepth 1 | wc -l)" "descriptors: two files and the pipe"
wait_log "Avatar: no picture for 'alice': no answer within 2000 ms" 10
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$placeholder" "the placeholder after a time-out"
login_cycle alice 'alice pw'
assert_alive
