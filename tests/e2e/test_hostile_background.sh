# Hostile files in the background folder, one at a time as its only picture: a PNG of
# 100000000 x 1 pixels (97 KB, rows of 100 MB) with the daemon's peak memory kept under 64 MiB,
# a FIFO, a link to /dev/zero, a directory, a PNG declaring 100000 x 100000 pixels, a truncated
# PNG and a progressive JPEG with thousands of scans, and two tiny PNGs the fuzzer found that
# declare enormous memory. Each new showing of the login screen after a session
# must come up with the fallback colour, log the failed load, and answer within 2 s; a good
# picture put back afterwards shows again.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw'
privilege_xinitrc alice
P=/tmp/pictures
make_pictures $P
B=/usr/share/vesko/backgrounds
FALLBACK="26 26 46"

# The same single entry in every part of the day, so the hour does not matter.
use_background() { # name, then the command that makes "$f" (the entry's path)
    local name=$1 period
    shift
    rm -rf $B
    for period in morning afternoon evening night; do
        mkdir -p "$B/$period"
        f=$B/$period/$name
        "$@"
    done
}

# A login cycle, so that the next showing lists the folder again; then the checks.
showing_case() { # what entry why
    local what=$1 entry=$2 why=$3 mapped paint_ms period_dir
    login_cycle alice 'alice pw'
    # login_cycle returns 0.3 s after the new window appeared; its first paint must follow
    # within 2 s of that, whatever the folder holds.
    mapped=$(($(now_ms) - 300))
    until [ "$(screen_pixel 5 5)" == "$FALLBACK" ]; do
        [ $(($(now_ms) - mapped)) -le 2000 ] ||
            fail "$what: no first paint within 2 s of the window (last $(screen_pixel 5 5))"
    done
    paint_ms=$(($(now_ms) - mapped))
    assert_answers "background: $what"
    figure "background $what: first paint ${paint_ms} ms after the window appeared;" \
        "greeter answered in ${ANSWER_MS} ms"
    period_dir=$(log_messages | grep -o "Background: selected image '$B/[a-z]*/" | tail -n 1)
    [ -n "$period_dir" ] || fail "$what: no picture was selected"
    assert_eq "[ERROR] Background: failed to load '${period_dir#Background: selected image \'}$entry'" \
        "$(log_messages | grep 'Background: ' | tail -n 2 | head -n 1)" "$what: the failure"
    assert_eq "[WARN] Background: $why" "$(log_messages | grep 'Background: ' | tail -n 1)" \
        "$what: why, the last background line"
}

use_background good.png eval 'cp $P/green.png "$f"'
start_vesko
wait_greeter
assert_screen_pixel 5 5 "0 200 0" "the good picture"
assert_answers "background: good picture"

R=$SRC/fuzz/regressions/png
# From here on: the later cases may take more.
echo 5 >"$PROC/$VESKO_PID/clear_refs"
use_background wide.png eval 'cp $R/wide-100000000x1-grey.png "$f"'
showing_case "PNG of 100000000 x 1" wide.png "the picture is too large"
rss=$(awk '/^VmHWM:/ {print $2}' "$PROC/$VESKO_PID/status")
figure "daemon peak resident memory over the PNG of 100000000 x 1: ${rss} KiB"
[ "$rss" -lt 65536 ] || fail "the PNG of 100000000 x 1 took the daemon to $rss KiB"

use_background fifo.png eval 'mkfifo "$f"'
showing_case "FIFO" fifo.png "the file cannot be read"
use_background zero.jpg eval 'ln -s /dev/zero "$f"'
showing_case "link to /dev/zero" zero.jpg "the file cannot be read"
use_background dir.png eval 'mkdir "$f"'
showing_case "directory" dir.png "the file cannot be read"
use_background huge.png eval 'cp $P/huge.png "$f"'
showing_case "PNG of 100000 x 100000" huge.png "the picture is too large"
use_background truncated.png eval 'cp $P/truncated.png "$f"'
showing_case "truncated PNG" truncated.png "the data is not a valid picture"
use_background scans.jpg eval 'cp $P/scans.jpg "$f"'
showing_case "JPEG of 4000 x 4000 with 5000 scans" scans.jpg "the data is not a valid picture"

use_background ztxt.png eval 'cp $R/ztxt-chunk-declaring-1.6GiB.png "$f"'
showing_case "PNG whose zTXt chunk declares 1.6 GiB" ztxt.png "the data is not a valid picture"
use_background tall.png eval 'cp $R/interlaced-1x268435458-grey.png "$f"'
showing_case "interlaced PNG of 1 x 268435458" tall.png "the data is not a valid picture"
rss=$(awk '/^VmHWM:/ {print $2}' "$PROC/$VESKO_PID/status")
figure "daemon peak resident memory after the hostile backgrounds: ${rss} KiB"
[ "$rss" -lt 1048576 ] || fail "the daemon's memory peaked at $rss KiB"

# A good picture again: shown, so nothing of the failures stuck.
use_background good.png eval 'cp $P/green.png "$f"'
login_cycle alice 'alice pw'
assert_screen_pixel 5 5 "0 200 0" "the good picture after the hostile ones"
assert_answers "background: good picture again"
assert_privileges alice 10
assert_alive
