# A password with characters beyond ASCII, typed through the keyboard, logs the user in.
pam_unix_service
add_user ute 'pässwörd€' -u 1510
printf 'exit 7\n' >/tmp/home/ute/.xinitrc
chown ute: /tmp/home/ute/.xinitrc

start_vesko
wait_greeter
type_text ute
press Tab
LC_ALL=C.UTF-8 X xdotool type --delay 100 -- 'pässwörd€'
press Return
wait_log "Session ended (code 7), re-showing login screen" 30
assert_log_order \
    "[INFO] Attempting login for user 'ute'" \
    "[INFO] Authentication succeeded for user 'ute'" \
    "[INFO] Child PID $(log_messages | sed -n 's/^\[INFO\] Session launched with PID //p') exited with code 7"
wait_greeter 20 2

# The same password without its last character is refused.
type_text ute
press Tab
LC_ALL=C.UTF-8 X xdotool type --delay 100 -- 'pässwörd'
press Return
wait_log "Authentication failed for 'ute'"
assert_eq 1 "$(log_count "Authentication succeeded for user 'ute'")" "successes"
assert_alive
