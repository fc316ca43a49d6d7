# Consecutive login cycles with a session that exits at once: 30 by default, more with
# VESKO_SOAK_CYCLES (200 for the long run). After 10 cycles of warm-up the daemon's descriptors
# and X resources stay identical, its resident memory grows by less than 1 MiB, no zombie
# appears, and the one X server keeps its PID. Every session ran with exactly the user's rights.
source "$SRC/tests/e2e/hard_lib.sh"
CYCLES=${VESKO_SOAK_CYCLES:-30}
pam_unix_service
mkdir -m 1777 /run/user
add_user alice 'alice pw' -G users
privilege_xinitrc alice
start_vesko
wait_greeter
run_soak "$CYCLES" 10 1024
assert_privileges alice "$CYCLES"
assert_eq "$CYCLES" "$(log_count "Session ended (code 0), re-showing login screen")" "sessions"
assert_no_x_errors
