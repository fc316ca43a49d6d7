# The typed user's picture after the name and Tab: squeezed to 96 x 96 and cut to a disc whose
# corners show the background picture and whose outermost ring fades only in alpha. ~/.face holds
# JPEG data without an extension; without it (or when it is a GIF) ~/.config/vesko/avatar.png is
# used; a user without pictures, and Escape, bring the placeholder back.
source "$SRC/tests/e2e/hard_lib.sh"
add_user alice 'alice pw'
add_user bob 'bob pw'
H=/tmp/home/alice
BG=/usr/share/vesko/backgrounds
rm -rf $BG
for period in morning afternoon evening night; do
    mkdir -p $BG/$period
    /usr/bin/convert -size 64x64 xc:'#ffff00' "png:$BG/$period/yellow.png"
done
# 200 x 100, left half red, right half blue: squeezed, each half fills half of the square.
/usr/bin/python3 - "$H/.face" "$W/face.gif" <<'PY'
import sys
from PIL import Image
im = Image.new("RGB", (200, 100), (255, 0, 0))
im.paste((0, 0, 255), (100, 0, 200, 100))
im.save(sys.argv[1], "JPEG", quality=100, subsampling=0)
im.save(sys.argv[2], "GIF")
PY
mkdir -p $H/.config/vesko
/usr/bin/convert -size 50x80 xc:'#00c800' "png:$H/.config/vesko/avatar.png"
chown -R alice: $H

# The avatar square's top-left corner; a point (x, y) of the picture is at (AX + x, AY + y).
AX=$((CX - 48))
AY=$((CY - 160))
YELLOW="255 255 0"

show_avatar_of() { # name
    press Escape
    type_text "$1"
    press Tab
    sleep 0.7
}

start_vesko
wait_greeter
move_to 5 5
wait_first_paint
placeholder_square=$(screen_pixel $((AX + 2)) $((AY + 2)))
placeholder_head=$(screen_pixel $CX $((AY + 30)))
[ "$placeholder_square" != "$YELLOW" ] || fail "no placeholder before a name is typed"

show_avatar_of alice
assert_screen_pixel $((AX + 20)) $((AY + 48)) "255 0 0" ".face: the left half" 4
assert_screen_pixel $((AX + 76)) $((AY + 48)) "0 0 255" ".face: the right half" 4
assert_screen_pixel $((AX + 20)) $((AY + 10)) "255 0 0" ".face: near the top, inside" 4
# Outside the disc every corner is the background picture, not black and not the square.
for xy in "0 0" "95 0" "0 95" "95 95" "6 6" "89 89"; do
    read -r x y <<<"$xy"
    assert_screen_pixel $((AX + x)) $((AY + y)) "$YELLOW" "corner ($x,$y) of the avatar" 1
done
# The outermost ring: (0,47) has alpha 126 of 255; red over yellow gives 255, 129, 0.
assert_screen_pixel $AX $((AY + 47)) "255 129 0" "the soft edge at (0,47)" 3
assert_screen_pixel $((AX + 95)) $((AY + 47)) "129 129 126" "the soft edge at (95,47): blue over yellow" 4
# Just outside the square nothing was drawn.
assert_screen_pixel $((AX - 1)) $((AY + 47)) "$YELLOW" "left of the square" 1

# Without .face the second file shows.
mv $H/.face $W/face.jpg
show_avatar_of alice
assert_screen_pixel "${AVATAR_CENTRE[@]}" "0 200 0" "avatar.png without .face" 2
# A GIF .face is not a picture this program reads: the second file again.
cp $W/face.gif $H/.face
show_avatar_of alice
assert_screen_pixel "${AVATAR_CENTRE[@]}" "0 200 0" "avatar.png after a GIF .face" 2
# Both decodable: .face wins.
cp $W/face.jpg $H/.face
show_avatar_of alice
assert_screen_pixel $((AX + 20)) $((AY + 48)) "255 0 0" ".face wins" 4

# A user without pictures: the placeholder replaces the avatar.
show_avatar_of bob
assert_eq "$placeholder_square" "$(screen_pixel $((AX + 2)) $((AY + 2)))" "placeholder for bob"
assert_eq "$placeholder_head" "$(screen_pixel $CX $((AY + 30)))" "placeholder head for bob"
# Escape after a shown avatar also brings it back.
show_avatar_of alice
assert_screen_pixel $((AX + 20)) $((AY + 48)) "255 0 0" "alice again" 4
press Escape
sleep 0.5
assert_eq "$placeholder_square" "$(screen_pixel $((AX + 2)) $((AY + 2)))" "placeholder after Escape"
assert_alive
