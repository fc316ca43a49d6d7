# The avatar is decoded in a child, never in the daemon. With a decoder bug preloaded
# (tests/preload/decoder_fault.c: libpng crashes on a PNG 1234 pixels wide and spins on one 1235
# wide), a crashing decoder and one that never answers each leave the placeholder (not the second
# picture), a WARN naming the fault, and a greeter that goes on: the next avatar shows and alice
# logs in. While the spinning child lives it runs as alice, with no new privileges, a seccomp
# filter, no core dumps and only its two files and the pipe.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
H=/tmp/home/alice
echo 'sleep 0.3' >$H/.xinitrc
mkdir -p $H/.config/vesko
/usr/bin/convert -size 200x200 xc:'#0000ff' "png:$H/.config/vesko/avatar.png"
/usr/bin/convert -size 1234x4 xc:'#00ff00' "png:$H/crash.png"
/usr/bin/convert -size 1235x4 xc:'#00ff00' "png:$H/spin.png"
chown -R alice: $H

LD_PRELOAD=$(realpath "$BUILD/decoder_fault.so") start_vesko
wait_greeter
wait_first_paint
move_to 5 5
sleep 0.3
placeholder=$(screen_pixel "${AVATAR_CENTRE[@]}")

load_avatar_of_alice() {
    press Escape
    type_text alice
    press Tab
}

cp $H/crash.png $H/.face
load_avatar_of_alice
wait_log "Avatar: no picture for 'alice': the decoder was killed by signal 4" 10
assert_alive
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$placeholder" "the placeholder after a crash"

# The spinning child: find it among the daemon's children while it lives.
cp $H/spin.png $H/.face
load_avatar_of_alice
child=
for _ in $(seq 100); do
    for status in "$PROC"/[0-9]*/status; do
        if grep -qx "PPid:[[:space:]]*$VESKO_PID" "$status" 2>/dev/null &&
            grep -qx "Name:[[:space:]]*vesko" "$status"; then
            child=$(dirname "$status")
        fi
    done
    [ -n "$child" ] && break
    sleep 0.02
done
[ -n "$child" ] || fail "no decoding child seen"
uid=$(id -u alice)
assert_eq "$uid $uid $uid $uid" "$(awk '/^Uid:/{print $2, $3, $4, $5}' "$child/status")" "child's uids"
assert_eq 1 "$(awk '/^NoNewPrivs:/{print $2}' "$child/status")" "NoNewPrivs"
assert_eq 2 "$(awk '/^Seccomp:/{print $2}' "$child/status")" "seccomp filter mode"
assert_eq 3 "$(find "$child/fd" -mindepth 1 | wc -l)" "descriptors: two files and the pipe"
wait_log "Avatar: no picture for 'alice': no answer within 2000 ms" 10
has_ended "$(basename "$child")" || fail "the spinning child outlived its time"
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$placeholder" "the placeholder after a time-out"

rm $H/.face
load_avatar_of_alice
sleep 0.5
assert_screen_pixel "${AVATAR_CENTRE[@]}" "0 0 255" "the next avatar"
assert_eq 2 "$(log_count "Avatar: no picture")" "faults logged"
login_cycle alice 'alice pw'
assert_alive
