# Hostile files in the background folder, one at a time as its only picture: a FIFO, a link to
# /dev/zero, a directory, a PNG declaring 100000 x 100000 pixels, a truncated PNG and a
# progressive JPEG with thousands of scans. Each new showing of the login screen after a session
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
showing_case() { # what entry
    local what=$1 entry=$2 t0 period_dir
    t0=$(now_ms)
    login_cycle alice 'alice pw'
    assert_answers "background: $what"
    figure "background $what: login, session and a new answering greeter in $(($(now_ms) - t0)) ms" \
        "(answer ${ANSWER_MS} ms)"
    period_dir=$(log_messages | grep -o "Background: selected image '$B/[a-z]*/" | tail -n 1)
    [ -n "$period_dir" ] || fail "$what: no picture was selected"
    assert_eq "[ERROR] Background: failed to load '${period_dir#Background: selected image \'}$entry'" \
        "$(log_messages | grep 'Background: ' | tail -n 1)" "$what: the last background line"
    assert_screen_pixel 5 5 "$FALLBACK" "$what: the fallback colour"
}

use_background good.png eval 'cp $P/green.png "$f"'
start_vesko
wait_greeter
assert_screen_pixel 5 5 "0 200 0" "the good picture"
assert_answers "background: good picture"

use_background fifo.png eval 'mkfifo "$f"'
showing_case "FIFO" fifo.png
use_background zero.jpg eval 'ln -s /dev/zero "$f"'
showing_case "link to /dev/zero" zero.jpg
use_background dir.png eval 'mkdir "$f"'
showing_case "directory" dir.png
use_background huge.png eval 'cp $P/huge.png "$f"'
showing_case "PNG of 100000 x 100000" huge.png
use_background truncated.png eval 'cp $P/truncated.png "$f"'
showing_case "truncated PNG" truncated.png
use_background scans.jpg eval 'cp $P/scans.jpg "$f"'
showing_case "JPEG of 4000 x 4000 with 5000 scans" scans.jpg

# A good picture again: shown, so nothing of the failures stuck.
use_background good.png eval 'cp $P/green.png "$f"'
login_cycle alice 'alice pw'
assert_screen_pixel 5 5 "0 200 0" "the good picture after the hostile ones"
assert_answers "background: good picture again"
assert_privileges alice 7
assert_alive
