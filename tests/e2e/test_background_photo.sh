# A 4000 x 3000 photo in morning/ and the clock at 08:05: the log tells the hour, the part of the
# day, the choice and the size, and the screen away from the greeter's elements is that photo
# resized by an independent program (ImageMagick's triangle filter, within one step) and cut from
# row 180.
BG=/usr/share/vesko/backgrounds
rm -rf $BG
mkdir -p $BG/morning $BG/afternoon $BG/evening $BG/night

# Photo-like: gradients in every channel, a soft blotchy layer and fine grain.
/usr/bin/python3 - "$BG/morning/photo.jpg" "$W/red.jpg" <<'PY'
import sys
from PIL import Image, ImageChops
w, h = 4000, 3000
r = Image.linear_gradient("L").resize((w, h))
g = Image.radial_gradient("L").resize((w, h))
b = Image.effect_noise((w // 16, h // 16), 90).resize((w, h), Image.BICUBIC)
grain = Image.effect_noise((w, h), 24)
im = Image.merge("RGB", [ImageChops.add(c, grain, 1.0, -128) for c in (r, g, b)])
im.save(sys.argv[1], quality=90)
Image.new("RGB", (64, 64), (255, 0, 0)).save(sys.argv[2], quality=95)
PY
for period in afternoon evening night; do
    cp "$W/red.jpg" "$BG/$period/photo.jpg"
done
/usr/bin/convert "$BG/morning/photo.jpg" -filter Triangle -resize '1920x1440!' \
    -crop 1920x1080+0+180 +repage "$W/reference.png"

FAKETIME_AT="2026-03-07 08:05:00" start_vesko
wait_greeter
# The background's lines come once the picture is ready, which may be after the window shows.
wait_log "Background: loaded and scaled" 20

assert_log_order "[INFO] Background: hour=8 period=Morning screen=1920x1080" \
    "[INFO] Background: selected image '$BG/morning/photo.jpg'" \
    "[INFO] Background: loaded and scaled (8294400 bytes)"
[ "$(log_count "Background: no image found")" = 0 ] || fail "unexpected fallback"

# The window is mapped before the picture is decoded; wait for the first paint.
move_to 5 5
deadline=$((SECONDS + 20))
while shot screen && [ "$(pixel screen 10 10)" = "0 0 0" ]; do
    [ $SECONDS -lt $deadline ] || fail "the background was never painted"
    sleep 0.2
done
sleep 0.5
shot screen
/usr/bin/python3 - "$W/screen.png" "$W/reference.png" <<'PY' || fail "the background differs from the reference"
import sys
from PIL import Image, ImageChops
shot = Image.open(sys.argv[1]).convert("RGB")
ref = Image.open(sys.argv[2]).convert("RGB")
assert shot.size == ref.size == (1920, 1080), (shot.size, ref.size)
worst, over, total = 0, 0, 0
# Left and right of the centre column, above the bottom bar: nothing of the greeter is there.
for box in ((0, 0, 700, 1000), (1220, 0, 1920, 1000)):
    diff = ImageChops.difference(shot.crop(box), ref.crop(box))
    for band in diff.split():
        histogram = band.histogram()
        worst = max(worst, max(v for v in range(256) if histogram[v]))
        over += sum(histogram[2:])
        total += sum(histogram)
print(f"largest difference {worst}, samples off by more than 1: {over} of {total}")
sys.exit(0 if worst <= 1 else 1)
PY

assert_alive
