# The README's first command, headless: scripts/demo starts, its screenshot shows the login
# screen over an installed picture, and Ctrl-C (SIGINT to its process group) ends everything.

# lib.sh sets DISPLAY for the tests; the demo must not see one.
unset DISPLAY XAUTHORITY
export VESKO_BUILD_DIR=$BUILD

# The demo makes a sandbox of its own inside this one. Its first step hides /tmp, where this
# sandbox's /proc/self points (into /tmp/.realproc): point it at a procfs under /run instead.
mkdir -p /run/.realproc
mount -t proc proc /run/.realproc
ln -sfn /run/.realproc/self /proc/self

# A terminal's Ctrl-C reaches a foreground process group whose SIGINT is not ignored; a
# background job of this shell would start with it ignored, so reset it and lead a new group.
: >"$W/demo.out"
/usr/bin/python3 -c 'import os, signal, sys
signal.signal(signal.SIGINT, signal.SIG_DFL)
os.setsid()
os.execv(sys.argv[1], sys.argv[1:])' "$SRC/scripts/demo" >"$W/demo.out" 2>&1 </dev/null &
demo_pid=$!

deadline=$((SECONDS + 240))
screen=
while [ -z "$screen" ]; do
    kill -0 "$demo_pid" 2>/dev/null || fail "the demo ended: $(tail -n 20 "$W/demo.out")"
    [ $SECONDS -lt $deadline ] || fail "the demo printed no screenshot path: $(tail -n 20 "$W/demo.out")"
    screen=$(sed -n 's/^demo: headless; the screen is written every 3 s to \(.*\)\. Ctrl-C .*/\1/p' \
        "$W/demo.out")
    sleep 0.2
done
demo_dir=$(dirname "$screen")
while [ ! -s "$screen" ]; do
    [ $SECONDS -lt $deadline ] || fail "no screenshot at $screen"
    sleep 0.2
done
note "$(grep '^demo: login screen visible' "$W/demo.out")"
# The first screenshot can race the first paint; the next one, 3 s later, cannot.
first=$(stat -c %Y.%y "$screen")
while [ "$(stat -c %Y.%y "$screen")" = "$first" ]; do
    [ $SECONDS -lt $deadline ] || fail "the screenshot at $screen is never renewed"
    sleep 0.2
done
cp "$screen" "$W/demo.png"

# The background is the installed picture itself (it has the screen's size); the "Log In"
# button blends its blue at 0.3 over it.
picture=$(sed -n "s|.*\[INFO\] Background: selected image '\(.*\)'$|\1|p" "$demo_dir/vesko.stderr" | tail -n 1)
[[ $picture == /usr/share/vesko/backgrounds/*/*.jpg ]] || fail "no installed picture shown: '$picture'"
source_picture=$SRC/data/backgrounds/${picture#/usr/share/vesko/backgrounds/}
[ -f "$source_picture" ] || fail "no $source_picture"
picture_pixel() { # x y -> "r g b"
    /usr/bin/convert "$source_picture" -format \
        "%[fx:round(255*p{$1,$2}.r)] %[fx:round(255*p{$1,$2}.g)] %[fx:round(255*p{$1,$2}.b)]" info:
}
read -r r g b <<<"$(picture_pixel 60 60)"
assert_pixel demo 60 60 "$r" "$g" "$b" 3
read -r r g b <<<"$(picture_pixel 806 640)"
assert_pixel demo 806 640 $((23 + r * 179 / 255)) $((42 + g * 179 / 255)) $((76 + b * 179 / 255)) 3
read -r r g b <<<"$(picture_pixel 1110 670)"
assert_pixel demo 1110 670 $((23 + r * 179 / 255)) $((42 + g * 179 / 255)) $((76 + b * 179 / 255)) 3
# Just outside the button the picture shows unchanged.
read -r r g b <<<"$(picture_pixel 1125 654)"
assert_pixel demo 1125 654 "$r" "$g" "$b" 3
# The demo offers two layouts: the layout button at the bar's right end is filled like the power
# buttons (white 0.1 over the bar's black 0.3) and has a white label.
button_over() { echo $((25 + $1 * 179 / 255 * 230 / 255)); }
for x in 736 1848; do
    read -r r g b <<<"$(picture_pixel $x 1036)"
    assert_pixel demo $x 1036 "$(button_over "$r")" "$(button_over "$g")" "$(button_over "$b")" 3
done
[ "$(/usr/bin/convert "$W/demo.png" -crop 60x32+1848+1036 +repage -colorspace gray \
    -format '%[fx:round(255*maxima)]' info:)" -ge 250 ] || fail "no label on the layout button"

# Ctrl-C: the demo and everything it started end within seconds.
kill -INT -- "-$demo_pid"
deadline=$((SECONDS + 15))
while kill -0 "$demo_pid" 2>/dev/null; do
    [ $SECONDS -lt $deadline ] || fail "the demo did not end on SIGINT"
    sleep 0.1
done
demo_status=0
wait "$demo_pid" || demo_status=$?
assert_eq 0 "$demo_status" "the demo's exit status after Ctrl-C"
grep -q '^demo: stopped$' "$W/demo.out" || fail "the demo did not say it stopped"
for comm in /tmp/.realproc/[0-9]*/comm; do
    case $(cat "$comm" 2>/dev/null) in
        vesko | Xvfb | openbox | unshare)
            fail "left running after Ctrl-C: $(cat "$comm") (${comm%/comm})" ;;
    esac
done
