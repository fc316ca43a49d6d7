# Two accounts with one user ID: the one who logs in gets their own name and groups, although
# getpwuid would name the other account.
pam_unix_service
groupadd -g 1801 paint
groupadd -g 1802 chess
add_user carol 'carol pass' -u 1700 -G paint
add_user dave 'dave pass' -u 1700 -o -G chess
# getpwuid(1700) names carol, the first entry with that ID.
assert_eq carol "$(getent passwd 1700 | cut -d: -f1)" "the first account with ID 1700"
for user in carol dave; do
    cat >"/tmp/home/$user/.xinitrc" <<'SH'
PROC=$(dirname "$(realpath /proc/self)")
grep -E '^(Uid|Gid):' "$PROC/$$/status" >"$HOME/ids"
id -G | tr ' ' '\n' | sort -n | xargs >>"$HOME/ids"
cat "$PROC/$$/environ" >"$HOME/environ"
SH
    chown "$user:" "/tmp/home/$user/.xinitrc"
done
dave_gid=$(id -g dave)
carol_gid=$(id -g carol)

start_vesko
wait_greeter
type_text dave
press Tab
type_text 'dave pass'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20
wait_greeter 20 2

assert_log_order "[INFO] User 'dave': uid=1700 gid=$dave_gid home='/tmp/home/dave' shell='/bin/bash'"
assert_eq "Uid:	1700	1700	1700	1700
Gid:	$dave_gid	$dave_gid	$dave_gid	$dave_gid
$(printf '%s\n' 1802 "$dave_gid" | sort -n | xargs)" "$(cat /tmp/home/dave/ids)" "dave's identity"
tr '\0' '\n' </tmp/home/dave/environ | grep -qx 'USER=dave' || fail "USER is not dave"
tr '\0' '\n' </tmp/home/dave/environ | grep -qx 'HOME=/tmp/home/dave' || fail "HOME is not dave's"

type_text carol
press Tab
type_text 'carol pass'
press Return
wait_log "Session ended (code 0), re-showing login screen" 20 2
wait_greeter 20 3
assert_eq "Uid:	1700	1700	1700	1700
Gid:	$carol_gid	$carol_gid	$carol_gid	$carol_gid
$(printf '%s\n' 1801 "$carol_gid" | sort -n | xargs)" "$(cat /tmp/home/carol/ids)" "carol's identity"
tr '\0' '\n' </tmp/home/carol/environ | grep -qx 'USER=carol' || fail "USER is not carol"
assert_alive
