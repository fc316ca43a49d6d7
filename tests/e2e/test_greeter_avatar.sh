# The typed user's avatar replaces the placeholder after Tab: a disc at (912,380,96,96) whose
# corners show the background (the picture's alpha is used), and Escape brings the placeholder
# back.

BG="26 26 46"
add_user alice secret
/usr/bin/convert -size 200x200 xc:'#ff0000' "png:/tmp/home/alice/.face"
chown alice: /tmp/home/alice/.face

start_vesko
wait_greeter
# shellcheck disable=SC2086
wait_pixel 5 5 $BG 2 20 # the first paint is done
move_to 5 5
shot placeholder
square=$(pixel placeholder 913 381)
head=$(pixel placeholder 950 400)
[ "$square" != "$BG" ] || fail "no placeholder square"

type_text alice
press Tab
sleep 0.7
shot avatar
# The disc's middle and the points just inside its edge are the picture.
assert_pixel avatar 960 428 255 0 0
assert_pixel avatar 960 384 255 0 0
assert_pixel avatar 916 428 255 0 0
assert_pixel avatar 1003 428 255 0 0
# The corners outside the disc are the background, not black and not the square.
for xy in "912 380" "1007 380" "912 475" "1007 475" "918 386"; do
    # shellcheck disable=SC2086
    assert_pixel avatar $xy $BG
done
# Nothing is drawn just outside the avatar's square.
# shellcheck disable=SC2086
assert_pixel avatar 911 428 $BG
# shellcheck disable=SC2086
assert_pixel avatar 1008 428 $BG
# shellcheck disable=SC2086
assert_pixel avatar 960 379 $BG

# Shift+Tab back to the name keeps the avatar; Escape drops it.
press shift+Tab
sleep 0.3
shot avatar_kept
assert_pixel avatar_kept 960 428 255 0 0
press Escape
sleep 0.5
shot escaped
assert_eq "$square" "$(pixel escaped 913 381)" "placeholder square after Escape"
assert_eq "$head" "$(pixel escaped 950 400)" "placeholder head after Escape"
assert_alive
