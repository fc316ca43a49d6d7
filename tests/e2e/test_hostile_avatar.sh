# Hostile ~/.face files: a FIFO, a link to /dev/zero, a directory, a link to a picture only
# root may read, a PNG declaring 100000 x 100000 pixels, a truncated PNG, two tiny PNGs the
# fuzzer found that declare enormous memory, and a progressive
# JPEG with thousands of scans. Each time the greeter answers within 2 s of the Tab that loads
# the avatar, shows the user's second picture (blue) instead, and never the root-only one.
# Afterwards the user still logs in. The JPEG comes at 4000 x 4000 and at 16000 x 16000, the
# latter within the decoding limit.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
H=/tmp/home/alice
P=/tmp/pictures
make_pictures $P
chmod -R a+rX $P
mkdir -m 700 /tmp/secret
make_root_only /tmp/secret/red.png
mkdir -p $H/.config/vesko
cp $P/blue.png $H/.config/vesko/avatar.png
chown -R alice: $H/.config

start_vesko
wait_greeter

BLUE="0 0 255"
avatar_case() { # what, then the command that makes ~/.face
    local what=$1
    shift
    rm -rf "$H/.face"
    "$@"
    press Escape
    type_text alice
    answer_begin
    press Tab
    answer_end "avatar: $what"
    figure "avatar $what: greeter answered after ${ANSWER_MS} ms"
}

# Positive checks first: a readable .face shows; without one the second file shows.
avatar_case "readable .face" cp $P/green.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "0 200 0" "a readable .face"
avatar_case "no .face" true
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "the second picture"

avatar_case "FIFO" mkfifo $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after a FIFO"
avatar_case "link to /dev/zero" ln -s /dev/zero $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after /dev/zero"
avatar_case "directory" mkdir $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after a directory"
# Root could read it; the user could not, so the greeter must not show it.
avatar_case "link to a root-only picture" ln -s /tmp/secret/red.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "the root-only picture must never show"
# The same picture made readable does show: the link itself is not what stopped it.
chmod 711 /tmp/secret
chmod 644 /tmp/secret/red.png
avatar_case "the same picture, readable" ln -s /tmp/secret/red.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "255 0 0" "the readable picture"
chmod 700 /tmp/secret
chmod 600 /tmp/secret/red.png
avatar_case "root-only again" true
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "the root-only picture after a reload"

avatar_case "PNG of 100000 x 100000" cp $P/huge.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after the huge PNG"
avatar_case "truncated PNG" cp $P/truncated.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after the truncated PNG"
avatar_case "JPEG of 4000 x 4000 with 5000 scans" cp $P/scans.jpg $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after the JPEG with many scans"
# 256 MB of samples, within the decoding limit: the scans, not the size, must be bounded.
avatar_case "JPEG of 16000 x 16000 with 5000 scans" cp $P/scans_16000.jpg $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after the large JPEG with many scans"
# Two inputs the PNG fuzzer found: tiny files that declare enormous memory.
R=$SRC/fuzz/regressions/png
avatar_case "PNG whose zTXt chunk declares 1.6 GiB" cp $R/ztxt-chunk-declaring-1.6GiB.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after the zTXt PNG"
avatar_case "interlaced PNG of 1 x 268435458" cp $R/interlaced-1x268435458-grey.png $H/.face
assert_screen_pixel "${AVATAR_CENTRE[@]}" "$BLUE" "after the tall interlaced PNG"

# As the second candidate too, with the first missing: the placeholder replaces the avatar.
rm -rf $H/.face
cp $P/scans.jpg $H/.config/vesko/avatar.png
avatar_case "JPEG with 5000 scans as avatar.png" true
[ "$(screen_pixel "${AVATAR_CENTRE[@]}")" != "$BLUE" ] || fail "the old avatar stayed"

# The largest legitimate picture needs 512 MiB of samples; twice that is a blow-up.
rss=$(awk '/^VmHWM:/ {print $2}' "$PROC/$VESKO_PID/status")
figure "daemon peak resident memory after the hostile avatars: ${rss} KiB"
[ "$rss" -lt 1048576 ] || fail "the daemon's memory peaked at $rss KiB"

login_cycle alice 'alice pw'
assert_privileges alice 1
assert_alive
