# Without a usable picture the screen is the configured fallback colour: the backgrounds folder
# missing, the period folders empty, only non-pictures (and a picture one level too deep), and a
# corrupt file that the daily pick lands on although a good picture lies beside it. Each new
# showing (after a login) lists the folder afresh and logs its WARN or ERROR line.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
BG=/usr/share/vesko/backgrounds
FALLBACK="51 102 153"
WARN="[WARN] Background: no image found, will use fallback color"
write_config <<'TOML'
[background]
fallback_color = "#336699"
TOML

# The same entries in every part of the day, so the hour does not matter.
in_every_period() { # command run in each period folder
    local period
    for period in morning afternoon evening night; do
        mkdir -p "$BG/$period"
        (cd "$BG/$period" && eval "$1")
    done
}

last_background_line() { log_messages | grep 'Background: ' | tail -n 1; }

# No folder at all.
rm -rf $BG
start_vesko
wait_greeter
assert_eq "$WARN" "$(last_background_line)" "missing folder"
assert_screen_pixel 5 5 "$FALLBACK" "missing folder: the fallback colour"
assert_screen_pixel 1000 700 "$FALLBACK" "missing folder: the fallback colour"

# Empty folders.
in_every_period true
login_cycle alice 'alice pw'
assert_eq "$WARN" "$(last_background_line)" "empty folder"
assert_screen_pixel 5 5 "$FALLBACK" "empty folder: the fallback colour"

# Only things that are not pictures by name, and a picture in a sub-folder.
/usr/bin/convert -size 64x64 xc:'#00ff00' "$W/green.png"
in_every_period 'echo hello >README; cp $W/green.png a.gif; cp $W/green.png .png;
    cp $W/green.png a.png.txt; mkdir sub; cp $W/green.png sub/inner.png'
login_cycle alice 'alice pw'
assert_eq "$WARN" "$(last_background_line)" "no picture names"
assert_screen_pixel 5 5 "$FALLBACK" "no picture names: the fallback colour"
[ "$(log_count "Background: selected image")" = 0 ] || fail "something was selected"

# Two pictures: the daily pick is index (tm_yday * 31 + tm_year) mod 2 of the sorted names.
# The one it lands on is corrupt; the other is good and must not be tried.
rm -rf $BG
yday=$((10#$(date +%j) - 1))
year=$(($(date +%Y) - 1900))
pick=$(((yday * 31 + year) % 2))
names=(a.jpg b.png)
chosen=${names[$pick]}
other=${names[$((1 - pick))]}
in_every_period "head -c 5000 /dev/urandom >$chosen; /usr/bin/convert $W/green.png $other"
login_cycle alice 'alice pw'
period_dir=$(log_messages | grep -o "Background: selected image '$BG/[a-z]*/" | tail -n 1)
period_dir=${period_dir#Background: selected image \'}
[ -n "$period_dir" ] || fail "no picture was selected"
assert_log_order "[INFO] Background: selected image '$period_dir$chosen'" \
    "[ERROR] Background: failed to load '$period_dir$chosen'" \
    "[WARN] Background: the data is not a valid picture"
assert_eq "[WARN] Background: the data is not a valid picture" "$(last_background_line)" \
    "corrupt pick: why, last"
assert_screen_pixel 5 5 "$FALLBACK" "corrupt pick: the fallback colour"

# The same day picks the same file again.
login_cycle alice 'alice pw'
assert_eq 2 "$(log_count "Background: failed to load '$period_dir$chosen'")" "the same pick"

# The good picture alone is shown: nothing of the failures stuck.
in_every_period "rm -f $chosen"
login_cycle alice 'alice pw'
assert_eq "[INFO] Background: loaded and scaled (3145728 bytes)" "$(last_background_line)" \
    "the good picture"
assert_screen_pixel 5 5 "0 255 0" "the good picture"
assert_answers "after the fallback showings"
assert_alive
