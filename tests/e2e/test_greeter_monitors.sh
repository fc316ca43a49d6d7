# Two monitors side by side on a 3840x1080 screen, declared while the greeter shows, the second
# primary: the login box and the bar move to the centre of the primary monitor, and each monitor
# shows its own cover of the picture (a 1920x1080 picture, so each cover is the picture itself).

export VESKO_TEST_SCREEN=3840x1080x24
PICTURE=$W/ramps.png
# Red grows to the right, blue downwards: every pixel of the picture is told apart.
/usr/bin/convert -size 1920x1080 gradient:'#000000-#0000ff' \
    \( -size 1080x1920 gradient:'#000000-#ff0000' -rotate -90 \) -compose plus -composite \
    "$PICTURE"
for period in morning afternoon evening night; do
    install -D -m 644 "$PICTURE" "/usr/share/vesko/backgrounds/$period/ramps.png"
done

picture() { # x y -> "r g b" of the picture itself
    /usr/bin/convert "$PICTURE" -format \
        "%[fx:round(255*p{$1,$2}.r)] %[fx:round(255*p{$1,$2}.g)] %[fx:round(255*p{$1,$2}.b)]" info:
}
# The screen at (x, y) shows the picture's pixel (px, py) as it is, under the bar's black 0.3,
# or under the "Log In" blue 0.3 (premultiplied 8-bit: 23, 42, 76 plus 179/255 of beneath).
expect_picture() { # shot x y px py [bar|login]
    local r g b
    read -r r g b <<<"$(picture "$4" "$5")"
    case ${6:-} in
        bar) r=$((r * 179 / 255)) g=$((g * 179 / 255)) b=$((b * 179 / 255)) ;;
        login) r=$((23 + r * 179 / 255)) g=$((42 + g * 179 / 255)) b=$((76 + b * 179 / 255)) ;;
    esac
    assert_pixel "$1" "$2" "$3" "$r" "$g" "$b" 3
}

start_vesko
wait_greeter
wait_log "Background: loaded and scaled" 20
sleep 0.5
move_to 5 5
shot one_monitor
# One cover over the whole root: the picture doubled, cut from row 540; the box at x 1920.
expect_picture one_monitor 1760 640 880 590 login

X xrandr --setmonitor L 1920/508x1080/286+0+0 none
X xrandr --setmonitor '*R' 1920/508x1080/286+1920+0 none
wait_log "Monitor: R 1920x1080+1920+0 scale=1" 10
sleep 0.5
shot two_monitors
s=two_monitors
# Each monitor its own cover: the picture's corners at both monitors' corners.
expect_picture $s 5 5 5 5
expect_picture $s 1925 5 5 5
expect_picture $s 1914 700 1914 700
expect_picture $s 3834 700 1914 700
# "Log In" (2720,632,320,44) and the bar (1920,1024,1920,56) on R, centred on x 2880.
expect_picture $s 2722 634 802 634 login
expect_picture $s 3037 673 1117 673 login
expect_picture $s 3041 640 1121 640
expect_picture $s 1925 1030 5 1030 bar
expect_picture $s 3834 1075 1914 1075 bar
# Nothing of the greeter on L.
expect_picture $s 802 634 802 634
expect_picture $s 5 1030 5 1030
expect_picture $s 1914 1075 1914 1075
assert_alive
