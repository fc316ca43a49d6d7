# Helpers for the hostile-input, fault-injection, soak and privilege tests; sourced by them
# after lib.sh. A 1024x768 screen keeps screenshots cheap; the layout follows from its centre.

export VESKO_TEST_SCREEN=1024x768x24
CX=512
CY=384
# A point inside the "Log In" button, away from its text.
LOGIN_CORNER=($((CX - 154)) $((CY + 98)))
# For debugging: VESKO_COPY_WORK=DIR copies the work dir there at the end, whatever happens.
if [ -n "${VESKO_COPY_WORK:-}" ]; then
    trap 'cp "$VESKO_LOG" "$W/log.txt" 2>/dev/null || true; cp -r "$W" "$VESKO_COPY_WORK"' EXIT
fi

# One pixel of the root window straight from the server, without a file.
screen_pixel() { # x y -> "r g b"
    X xwd -root -silent | /usr/bin/convert xwd:- -crop "1x1+$1+$2" -depth 8 \
        -format '%[fx:round(255*r)] %[fx:round(255*g)] %[fx:round(255*b)]' info:
}

now_ms() { date +%s%3N; }

corner_painted() { local p; p=$(screen_pixel 5 5) && [ -n "$p" ] && [ "$p" != "0 0 0" ]; }

# The window is mapped before the background is ready: waits until the corner is painted.
wait_first_paint() { # [timeout_s]
    wait_until "${1:-20}" "the greeter was never painted" corner_painted
    sleep 0.3
}

# The greeter must react within 2 s. answer_begin notes the colour of "Log In" with the pointer
# away and starts the clock; the action under test follows; answer_end moves the pointer into
# "Log In" and waits for its hover colour, then out again and waits for the colour to return.
# The time from answer_begin to the hover colour, in ms, goes to ANSWER_MS.
ANSWER_MS=
ANSWER_BASE=
ANSWER_T0=
answer_begin() {
    X xdotool mousemove 5 5
    sleep 0.3
    ANSWER_BASE=$(screen_pixel "${LOGIN_CORNER[@]}")
    ANSWER_T0=$(now_ms)
}
answer_end() { # what
    local what=${1:-greeter} t1
    X xdotool mousemove "${LOGIN_CORNER[@]}"
    while [ "$(screen_pixel "${LOGIN_CORNER[@]}")" == "$ANSWER_BASE" ]; do
        [ $(($(now_ms) - ANSWER_T0)) -le 2000 ] ||
            fail "$what: the greeter did not answer the pointer within 2 s"
    done
    ANSWER_MS=$(($(now_ms) - ANSWER_T0))
    t1=$(now_ms)
    X xdotool mousemove 5 5
    while [ "$(screen_pixel "${LOGIN_CORNER[@]}")" != "$ANSWER_BASE" ]; do
        [ $(($(now_ms) - t1)) -le 2000 ] ||
            fail "$what: the hover colour stayed after the pointer left"
    done
}
assert_answers() { # what
    answer_begin
    answer_end "$@"
}

# Escape resets the form (fields, message, focus); then the name, Tab and the password.
fill_login() { # name password
    press Escape
    type_text "$1"
    press Tab
    type_text "$2"
}

submit_login() { # name password
    fill_login "$1" "$2"
    press Return
}

# A full cycle that must succeed: login, the session ends, a fresh greeter comes back.
login_cycle() { # name password
    local before
    before=$(log_count "Session ended (code")
    local showings
    showings=$(log_count "Entering login screen")
    submit_login "$1" "$2"
    wait_log "Session ended (code" 30 $((before + 1))
    wait_greeter 30 $((showings + 1))
}

# A start script that records what the session got: its identity, capabilities and
# descriptors, once per session, under ~/priv/N; then it exits with status 0.
privilege_xinitrc() { # user
    local home
    home=$(getent passwd "$1" | cut -d: -f6)
    cat >"$home/.xinitrc" <<SH
n=\$(ls "\$HOME/priv" 2>/dev/null | wc -l)
out=\$HOME/priv/\$n
mkdir -p "\$out"
grep -E '^(Uid|Gid|Groups|CapInh|CapPrm|CapEff|CapAmb|NoNewPrivs):' $PROC/\$\$/status >"\$out/status"
find $PROC/\$\$/fd -mindepth 1 -fprintf "\$out/fds" '%f %l\n'
echo \$\$ >"\$out/pid"
# At its end the daemon disconnects every other X client: let the test's xdotool finish first.
sleep 0.3
SH
    chown "$1": "$home/.xinitrc"
}

# Every recorded session of the user ran with exactly the user's identity and nothing more.
assert_privileges() { # user [expected count]
    local user=$1 home uid gid groups dir count=0
    home=$(getent passwd "$user" | cut -d: -f6)
    uid=$(id -u "$user")
    gid=$(id -g "$user")
    groups=$(id -G "$user" | tr ' ' '\n' | sort -n | paste -sd' ')
    for dir in "$home"/priv/*; do
        [ -f "$dir/status" ] || fail "session record $dir is incomplete"
        count=$((count + 1))
        local s=$dir/status
        assert_eq "$uid $uid $uid $uid" "$(awk '/^Uid:/ {print $2, $3, $4, $5}' "$s")" \
            "real, effective, saved and file-system uid ($dir)"
        assert_eq "$gid $gid $gid $gid" "$(awk '/^Gid:/ {print $2, $3, $4, $5}' "$s")" \
            "real, effective, saved and file-system gid ($dir)"
        assert_eq "$groups" "$(awk '/^Groups:/ {for (i = 2; i <= NF; i++) print $i}' "$s" |
            sort -n | paste -sd' ')" "supplementary groups ($dir)"
        local cap
        for cap in CapInh CapPrm CapEff CapAmb; do
            assert_eq 0000000000000000 "$(awk -v c="$cap:" '$1 == c {print $2}' "$s")" \
                "$cap ($dir)"
        done
        # 0, 1 and 2, plus the shell's own hold on its script.
        assert_eq "0 1 2" "$(awk '{print $1}' "$dir/fds" | sort -n | head -n 3 | paste -sd' ')" \
            "standard descriptors ($dir)"
        if awk '$1 > 2' "$dir/fds" | grep -v " $home/.xinitrc\$"; then
            fail "descriptors beyond 0, 1 and 2 in the session ($dir): $(cat "$dir/fds")"
        fi
    done
    [ $count -gt 0 ] || fail "no session of $user was recorded"
    [ -z "${2:-}" ] || assert_eq "$2" "$count" "recorded sessions of $user"
}

# Processes of the sandbox in state Z.
zombies() {
    local p state
    for p in "$PROC"/[0-9]*; do
        state=$(awk '{sub(/^.*\) /, ""); print $1}' "$p/stat" 2>/dev/null) || continue
        [ "$state" = Z ] && echo "${p##*/}"
    done
    return 0
}

# PIDs of processes whose executable is the given path, in the sandbox.
pids_of_exe() { # path
    local p
    for p in "$PROC"/[0-9]*; do
        [ "$(readlink "$p/exe" 2>/dev/null)" = "$1" ] && echo "${p##*/}"
    done
    return 0
}

# PIDs of processes owned by a uid.
pids_of_uid() { # uid
    local p
    for p in "$PROC"/[0-9]*; do
        [ "$(awk '/^Uid:/ {print $2}' "$p/status" 2>/dev/null)" = "$1" ] && echo "${p##*/}"
    done
    return 0
}

figure() { # text
    echo "$*" >>"$W/figures"
    note "$*"
}

# Hostile pictures in a directory: huge.png (declares 100000 x 100000), truncated.png (a real
# picture cut in the middle of its data), scans.jpg (a progressive 4000 x 4000 JPEG with
# thousands of scans that each cover every block; scans_16000.jpg the same at 16000 x 16000,
# within the decoding limit), plus solid colours for the positive checks.
make_pictures() { # dir [scans]
    mkdir -p "$1"
    /usr/bin/python3 - "$1" "${2:-5000}" <<'PY'
import io, struct, sys, zlib
from PIL import Image
out, scans = sys.argv[1], int(sys.argv[2])
def chunk(t, d):
    return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
ihdr = struct.pack('>IIBBBBB', 100000, 100000, 8, 2, 0, 0, 0)
open(out + '/huge.png', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', ihdr) +
    chunk(b'IDAT', zlib.compress(b'\0' * 300001)) + chunk(b'IEND', b''))
im = Image.new('RGB', (300, 300))
px = im.load()
for y in range(300):
    for x in range(300):
        px[x, y] = (x % 256, y % 256, (x * y) % 256)
b = io.BytesIO()
im.save(b, 'PNG')
open(out + '/truncated.png', 'wb').write(b.getvalue()[:len(b.getvalue()) // 2])
for name, colour in (('red', (255, 0, 0)), ('blue', (0, 0, 255)), ('green', (0, 200, 0))):
    Image.new('RGB', (200, 200), colour).save(out + '/' + name + '.png')
def seg(marker, payload):
    return b'\xff' + bytes([marker]) + struct.pack('>H', len(payload) + 2) + payload
def packed(bits):
    bits += '1' * (-len(bits) % 8)
    data = bytearray()
    for i in range(0, len(bits), 8):
        data.append(int(bits[i:i + 8], 2))
        if data[-1] == 0xff:
            data.append(0)
    return bytes(data)
def many_scans(w, h):
    blocks = (w // 8) * (h // 8)
    jpg = b'\xff\xd8' + seg(0xdb, b'\x00' + bytes([1] * 64))
    jpg += seg(0xc2, struct.pack('>BHHB', 8, h, w, 1) + bytes([1, 0x11, 0]))
    # AC table: the single symbol EOB14 (a run of up to 32767 empty blocks); DC: difference 0.
    jpg += seg(0xc4, bytes([0x10, 1] + [0] * 15 + [0xE0]))
    jpg += seg(0xc4, bytes([0x00, 1] + [0] * 15 + [0x00]))
    jpg += seg(0xda, bytes([1, 1, 0x00, 0, 0, 0])) + packed('0' * blocks)
    ac = packed(('0' + '1' * 14) * ((blocks + 32766) // 32767))
    for _ in range(scans):
        jpg += seg(0xda, bytes([1, 1, 0x00, 1, 63, 0])) + ac
    return jpg + b'\xff\xd9'
open(out + '/scans.jpg', 'wb').write(many_scans(4000, 4000))
open(out + '/scans_16000.jpg', 'wb').write(many_scans(16000, 16000))
PY
}

# A picture only root may read.
make_root_only() { # path
    /usr/bin/convert -size 200x200 xc:'#ff0000' "png:$1"
    chown root:root "$1"
    chmod 600 "$1"
}

assert_screen_pixel() { # x y "r g b" what [tolerance]
    local got gr gg gb d
    got=$(screen_pixel "$1" "$2")
    read -r gr gg gb <<<"$got"
    read -r er eg eb <<<"$3"
    for d in $((gr - er)) $((gg - eg)) $((gb - eb)); do
        [ ${d#-} -le "${5:-3}" ] || fail "$4: pixel ($1,$2) is $got, expected $3"
    done
}

# The centre of the avatar square.
AVATAR_CENTRE=("$CX" "$((CY - 112))")

# No X protocol error may have been logged.
assert_no_x_errors() {
    if log_messages | grep -F "X error"; then
        fail "X errors were logged"
    fi
}

# The X resources the daemon's own connection holds, one line: windows, GCs, fonts, pixmaps,
# pictures, glyph sets, colormaps, passive grabs, cursors, others, pixmap bytes, other bytes.
# The daemon's client is the one that owns the greeter window.
daemon_x_resources() {
    local window base
    window=$(greeter_window)
    base=$(printf '0x%x' $((window & ~0x1fffff)))
    X xrestop -b -m 1 | awk -v base="$base" '
        /^[0-9]+ - / { mine = 0 }
        $1 == "res_base" && $3 == base { mine = 1 }
        mine && /:/ {
            split($0, kv, ":")
            key = kv[1]; gsub(/^[ \t]+|[ \t]+$/, "", key)
            value = kv[2]; gsub(/[ \t~]/, "", value)
            if (key != "res_base" && key != "res_mask") out = out value " "
        }
        END { print out }'
}

# Consecutive login cycles of a user whose session exits at once. After WARMUP cycles each
# greeter is measured: the daemon's descriptors, resident memory and X resources, zombies, the
# X server's PID. At the end: descriptors and X resources identical to the first measurement,
# memory growth under MAX_GROWTH_KIB (unless empty), no zombie ever, one X server throughout.
# Figures go to $W/soak.tsv and the figures file.
run_soak() { # cycles warmup [max_growth_kib]
    local cycles=$1 warmup=$2 max_growth=${3:-} i xpid fds rss res zombie_list
    local first_fds='' first_rss='' first_res='' last_rss='' peak_rss=0 t0 cycle_ms=0
    xpid=$(xorg_pid)
    printf 'cycle\tms\tfds\trss_kib\tx_resources\n' >"$W/soak.tsv"
    for i in $(seq 1 "$cycles"); do
        t0=$(now_ms)
        login_cycle alice 'alice pw'
        cycle_ms=$(($(now_ms) - t0))
        assert_eq "$xpid" "$(xorg_pid)" "X server PID at cycle $i"
        kill -0 "$xpid" || fail "the X server is gone at cycle $i"
        assert_eq 1 "$(pids_of_exe /usr/bin/Xvfb | wc -l)" "X servers at cycle $i"
        zombie_list=$(zombies)
        [ -z "$zombie_list" ] || fail "zombies at cycle $i: $zombie_list"
        assert_alive
        [ "$i" -gt "$warmup" ] || continue
        fds=$(find "$PROC/$VESKO_PID/fd" -mindepth 1 | wc -l)
        rss=$(awk '/^VmRSS:/ {print $2}' "$PROC/$VESKO_PID/status")
        res=$(daemon_x_resources)
        [ -n "$res" ] || fail "no X resources found for the daemon's connection"
        printf '%s\t%s\t%s\t%s\t%s\n' "$i" "$cycle_ms" "$fds" "$rss" "$res" >>"$W/soak.tsv"
        if [ -z "$first_fds" ]; then
            first_fds=$fds first_rss=$rss first_res=$res
        fi
        assert_eq "$first_fds" "$fds" "the daemon's descriptors at cycle $i (after cycle $((warmup + 1)))"
        assert_eq "$first_res" "$res" "the daemon's X resources at cycle $i"
        last_rss=$rss
        [ "$rss" -gt "$peak_rss" ] && peak_rss=$rss
    done
    figure "soak: $cycles cycles, last one ${cycle_ms} ms; descriptors $first_fds throughout;" \
        "X resources [$first_res] throughout; RSS ${first_rss} -> ${last_rss} KiB (peak $peak_rss)"
    if [ -n "$max_growth" ]; then
        [ $((last_rss - first_rss)) -lt "$max_growth" ] ||
            fail "resident memory grew by $((last_rss - first_rss)) KiB over the soak"
    fi
}

# The daemon built with AddressSanitizer and UndefinedBehaviorSanitizer, in a tree of these
# tests' own. libcrypt is linked in: the sanitizer's crypt interceptor binds to the real function
# when the process starts, and pam_unix, which loads libcrypt only later, would otherwise call a
# null pointer through it. Only the daemon's target is built.
asan_daemon() {
    local dir=$SRC/build-fuzz-asan
    cmake -S "$SRC" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DVESKO_SANITIZE=ON -DVESKO_E2E=OFF \
        -DCMAKE_EXE_LINKER_FLAGS="-Wl,--no-as-needed -lcrypt -Wl,--as-needed" \
        >"$W/asan-configure.log" 2>&1 || fail "configuring $dir failed"
    cmake --build "$dir" --target vesko -j2 >"$W/asan-build.log" 2>&1 ||
        fail "building the sanitized daemon in $dir failed: $(tail -n 20 "$W/asan-build.log")"
    echo "$dir/vesko"
}

# Leak records of a sanitizer or valgrind report that are the daemon's own: the allocation was
# made by the daemon's code (the first frame past the allocator and the C++ runtime is in src/),
# or memory was lost through the daemon's code at least once per cycle. Libraries' one-off
# caches (fontconfig's, reached through Xft) are neither.
own_leak_records() { # file cycles [record start pattern]
    awk -v src="$SRC/src/" -v cycles="$2" -v start="${3:-^(Direct|Indirect) leak of}" '
        function flush() {
            if (rec != "" && (first_own || (through_own && count >= cycles))) print rec
        }
        $0 ~ start {
            flush()
            rec = $0; first = ""; first_own = 0; through_own = 0
            count = 0
            if (match($0, /in [0-9,]+ (object|block)/)) {
                count = substr($0, RSTART + 3, RLENGTH - 3)
                gsub(/[^0-9]/, "", count)
                count += 0
            }
            next
        }
        rec == "" { next }
        /^[ =0-9]*(#[0-9]+ |at 0x|by 0x)/ {
            rec = rec "\n" $0
            if (index($0, src)) through_own = 1
            if (first == "" && $0 !~ /asan_|interceptor|vg_replace_malloc|libstdc\+\+|operator new|^[ =0-9]*#0 /) {
                first = $0
                first_own = index($0, src) > 0
            }
        }
        END { flush() }' "$1"
}
