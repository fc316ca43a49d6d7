# The clock follows the minute: started six seconds before a minute boundary (faketime), the
# clock area changes within about two seconds of the boundary and not before it.

CLOCK=600x90+660+260 # around the clock text, centred at x 960 with its baseline at y 330

now_ms() { echo $(($(date +%s%N) / 1000000)); }

differing() { # shot_a shot_b region
    /usr/bin/convert "$W/$1.png" -crop "$3" +repage "$W/diff_a.png"
    /usr/bin/convert "$W/$2.png" -crop "$3" +repage "$W/diff_b.png"
    /usr/bin/compare -metric AE "$W/diff_a.png" "$W/diff_b.png" null: 2>&1 || true
}

# faketime keeps a semaphore per PID in /dev/shm; PIDs repeat in every sandbox, so a stale one
# from another run would stop the wrapper.
mount -t tmpfs tmpfs /dev/shm

start=$(now_ms)
FAKETIME_AT="2026-03-07 08:05:54"
start_vesko
wait_greeter
wait_pixel 5 5 26 26 46 2 20 # the first paint is done
shot before
before_at=$(($(now_ms) - start))
note "first screenshot ${before_at} ms after start"
[ "$before_at" -lt 5500 ] || fail "the greeter took ${before_at} ms to show; the test needs < 5500"
# The clock is drawn: the area is not plain background.
[ "$(/usr/bin/convert "$W/before.png" -crop $CLOCK +repage -colorspace gray \
    -format '%[fx:round(255*maxima)]' info:)" -ge 250 ] || fail "no clock text"

changed_at=
while [ $(($(now_ms) - start)) -lt 10000 ]; do
    shot after
    t=$(($(now_ms) - start))
    if [ "$(differing before after $CLOCK)" != 0 ]; then
        changed_at=$t
        break
    fi
    sleep 0.2
done
[ -n "$changed_at" ] || fail "the clock did not change within 10 s"
note "clock changed ${changed_at} ms after start (boundary at 6000 ms)"
[ "$changed_at" -ge 5500 ] || fail "the clock changed before the minute boundary"
[ "$changed_at" -le 8500 ] || fail "the clock changed ${changed_at} ms after start, > 2 s late"
# Nothing but the clock changed.
assert_eq 0 "$(differing before after 1920x730+0+350)" "pixels changed below the clock"
assert_alive
