# Every session runs with exactly its user's identity: real, effective, saved and file-system
# uid and gid, the supplementary groups `id -G` reports, no capabilities at all, and only the
# standard descriptors. Users with several groups, with none beyond the primary one, with a
# primary group shared with others, and with many groups.
source "$SRC/tests/e2e/hard_lib.sh"
pam_unix_service
mkdir -m 1777 /run/user
groupadd -g 2601 film
groupadd -g 2602 music
groupadd -g 2700 staff2
add_user alice 'alice pw' -u 2501 -G film,music
add_user bob 'bob pw' -u 2502 -N -g staff2
many=()
for i in $(seq 1 40); do
    groupadd -g $((2800 + i)) "g$i"
    many+=("g$i")
done
add_user carol 'carol pw' -u 2503 -G "$(IFS=,; echo "${many[*]}")"
for u in alice bob carol; do privilege_xinitrc $u; done

start_vesko
wait_greeter
for u in alice bob carol; do
    login_cycle $u "$u pw"
done
# A second round: the daemon's own state after earlier logins must not leak into a session.
for u in carol alice; do
    login_cycle $u "$u pw"
done

assert_privileges alice 2
assert_privileges bob 1
assert_privileges carol 2
assert_eq "2502 2700" "$(id -u bob) $(id -G bob)" "bob's own groups"
assert_eq 41 "$(id -G carol | wc -w)" "carol's group count"

# The daemon itself is still root with its capabilities.
assert_eq "0 0 0 0" "$(awk '/^Uid:/ {print $2, $3, $4, $5}' "$PROC/$VESKO_PID/status")" \
    "the daemon's uid"
[ "$(awk '/^CapEff:/ {print $2}' "$PROC/$VESKO_PID/status")" != 0000000000000000 ] ||
    fail "the daemon lost its capabilities"
assert_alive
figure "privileges: 5 sessions of 3 users (3, 1 and 41 groups): uids, gids, groups, capabilities and descriptors as expected"
