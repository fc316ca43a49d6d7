# The prepared picture is kept: the second showing of the same photo on the same screen takes
# the covers of the first (its log says so) and looks the same pixel for pixel; a photo changed
# between showings is decoded again; the covers outlive a restart in /var/cache/vesko (root's
# alone), and a corrupted cache file is ignored with a WARN line and written again. The greeter
# paints its frame once and not again while nothing happens.
BG=/usr/share/vesko/backgrounds
# libfaketime would shift the photo's time stamps by a different amount at each start.
export NO_FAKE_STAT=1
CACHE=/var/cache/vesko/covers
rm -rf $BG
mkdir -p $BG/morning
/usr/bin/python3 - "$BG/morning/photo.jpg" "$W/other.jpg" <<'PY'
import sys
from PIL import Image
w, h = 2400, 1800
Image.merge("RGB", [Image.linear_gradient("L").resize((w, h)),
                    Image.radial_gradient("L").resize((w, h)),
                    Image.linear_gradient("L").rotate(90).resize((w, h))]).save(sys.argv[1], quality=90)
Image.new("RGB", (w, h), (200, 30, 30)).save(sys.argv[2], quality=95)
PY
for period in afternoon evening night; do
    cp -r $BG/morning $BG/$period
done
write_config <<'TOML'
[ui]
remember_user = false
TOML
pam_unix_service
add_user alice 'correct horse'
echo 'exit 0' >/tmp/home/alice/.xinitrc
chown alice: /tmp/home/alice/.xinitrc
mkdir -m 1777 /run/user

login_and_back() { # nth showing to wait for
    type_text alice
    press Tab
    type_text 'correct horse'
    press Return
    wait_greeter 20 "$1"
    wait_log "Background: loaded and scaled" 20 "$1"
}


# The frames painted in the first 4 s: the greeter is complete well within 2 s.
FAKETIME_AT="2026-03-07 08:05:00" start_vesko
wait_x_socket
X "$BUILD/x_frame_count" 4 1920 >"$W/frames.txt" &
COUNTER=$!
wait_greeter
wait_log "Background: loaded and scaled (8294400 bytes)" 20
wait $COUNTER || fail "the frame counter failed"
note "$(tr '\n' ' ' <"$W/frames.txt")"
assert_eq "frames 1" "$(tail -n1 "$W/frames.txt")" "frames painted with nothing typed"
[ "$(log_count "Background: reusing the prepared picture")" = 0 ] || fail "reused without a cache"
assert_eq "root 600 root 700" "$(stat -c '%U %a' $CACHE) $(stat -c '%U %a' /var/cache/vesko)" \
    "the cache file's and its folder's owner and mode"
cp $CACHE "$W/good-cache"
shot first

# The second showing takes the covers of the first and looks the same.
login_and_back 2
assert_log_order "[INFO] Background: selected image '$BG/morning/photo.jpg'" \
    "[INFO] Background: reusing the prepared picture" \
    "[INFO] Background: loaded and scaled (8294400 bytes)"
assert_eq 1 "$(log_count "Background: reusing the prepared picture")" "showings that reused"
shot second
assert_eq 0 "$(/usr/bin/compare -metric AE "$W/first.png" "$W/second.png" null: 2>&1)" \
    "pixels that differ between the first and the second showing"

# Another picture under the same name: decoded again, and shown.
cp "$W/other.jpg" $BG/morning/photo.jpg
login_and_back 3
assert_eq 1 "$(log_count "Background: reusing the prepared picture")" "showings that reused"
shot third
assert_pixel third 10 10 200 30 30 3
cmp -s $CACHE "$W/good-cache" && fail "the cache file still holds the old picture"

# Across a restart: the first showing takes what the file holds.
cp $CACHE "$W/red-cache"
stop_vesko_and_x
: >"$VESKO_LOG"
FAKETIME_AT="2026-03-07 08:05:00" start_vesko
wait_greeter
wait_log "Background: loaded and scaled (8294400 bytes)" 20
assert_eq 1 "$(log_count "Background: reusing the prepared picture")" "a restart that reused"
[ "$(log_count "[WARN]")" = 0 ] || fail "a WARN line with a good cache file"

# A corrupted cache file (one byte of its header) is ignored with a WARN line and written again.
printf X | dd of=$CACHE bs=1 seek=3 conv=notrunc status=none
stop_vesko_and_x
: >"$VESKO_LOG"
FAKETIME_AT="2026-03-07 08:05:00" start_vesko
wait_greeter
wait_log "Background: loaded and scaled (8294400 bytes)" 20
wait_log "[WARN] Background: ignoring the cache file $CACHE: it is not a cache file"
[ "$(log_count "Background: reusing the prepared picture")" = 0 ] || fail "reused a corrupted file"
eventually 10 cmp -s $CACHE "$W/red-cache" || fail "the corrupted cache file was not written again"
assert_alive
