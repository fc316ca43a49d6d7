# Keyboard layouts: `layouts = "us,xx,fr"` sets us,fr (xx is skipped with a WARN) and shows "US"
# at the right end of the bar; a click moves to the next layout; the server's own layouts
# (setxkbmap, as from Xorg's XkbLayout) are followed; with one layout no button shows; a
# password typed on the "DE" layout arrives as German keys; each showing sets the layouts again.

pam_unix_service
add_user dora y
printf 'echo started >>"$HOME/started"\n' >/tmp/home/dora/.xinitrc
chown dora: /tmp/home/dora/.xinitrc
install -m 755 "$BUILD/x_press_keycodes" /usr/local/bin/
write_config <<'TOML'
[ui]
layouts = "us,xx,fr"
TOML

LABEL=60x32+1848+1036 # inside the layout button (1846,1034,64,36), its outline excluded
# Keycodes of the evdev keymap: the key labelled Y on a US keyboard, and the one labelled Z.
KEY_Y=29
KEY_Z=52

same_region() { # shot_a shot_b region -> number of differing pixels
    /usr/bin/convert "$W/$1.png" -crop "$3" +repage "$W/a.png"
    /usr/bin/convert "$W/$2.png" -crop "$3" +repage "$W/b.png"
    /usr/bin/compare -metric AE "$W/a.png" "$W/b.png" null: 2>&1 || true
}
# The button is filled like the power buttons; without it the bar shows there.
assert_button() { # shot yes|no
    local want
    want=$(pixel "$1" 736 1036)
    [ "$2" = no ] && want=$(pixel "$1" 500 1036)
    assert_eq "$want" "$(pixel "$1" 1848 1036)" "$1: the layout button's corner"
    assert_eq "$(pixel "$1" 500 1036)" "$(pixel "$1" 1844 1036)" "$1: the bar left of the button"
}
assert_label() { # shot reference_shot same|differs
    local n
    n=$(same_region "$1" "$2" $LABEL)
    if [ "$3" = same ]; then
        assert_eq 0 "$n" "$1: label pixels differing from $2"
    else
        [ "$n" -gt 20 ] || fail "$1: the label is the same as in $2"
    fi
}
click_button() { # shot, with the pointer away again (no hover colour)
    click_at 1878 1050
    move_to 5 5
    sleep 0.5
    shot "$1"
}

start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 2 20
move_to 5 5
sleep 0.3
shot us
assert_button us yes
[ "$(/usr/bin/convert "$W/us.png" -crop $LABEL +repage -colorspace gray \
    -format '%[fx:round(255*maxima)]' info:)" -ge 250 ] || fail "no white label on the button"
assert_log_order "[WARN] Keyboard: unknown layout 'xx' in ui.layouts, skipped" \
    "[INFO] Keyboard: layouts set to us,fr"
X xprop -root _XKB_RULES_NAMES | grep -qF '"us,fr", ""' ||
    fail "rules names: $(X xprop -root _XKB_RULES_NAMES)"
click_button fr
assert_label fr us differs
click_button us_again
assert_label us_again us same

# The server's own layouts: one layout, no button; two, the button again.
X setxkbmap -layout us
sleep 0.5
shot one_layout
assert_button one_layout no
X setxkbmap -layout us,de
sleep 0.5
shot us_de
assert_button us_de yes
assert_label us_de us same
click_button de
assert_label de us differs
assert_label de fr differs

# On "DE" the key labelled Y types "z": the password "y" fails; the key labelled Z logs in.
type_text dora
press Tab
X x_press_keycodes $KEY_Y
press Return
wait_log "Authentication failed for 'dora'" 10
X x_press_keycodes $KEY_Z
press Return
wait_log "Authentication succeeded for user 'dora'" 10
wait_file /tmp/home/dora/started
# The reset gave the server its own keymap back; the next showing sets us,fr again.
wait_greeter 30 2
wait_log "[INFO] Keyboard: layouts set to us,fr" 10 2
sleep 0.5
shot second_showing
assert_label second_showing us same
assert_alive
