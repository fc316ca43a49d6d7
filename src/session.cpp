// Placeholder until the login attempt lands.
#include "session.h"

Result<pid_t> attempt_login(const std::string&, const std::string&, const std::string&) {
    return Err{"Please enter a username"};
}
Result<pid_t> launch_session(const std::string&, const std::string&, bool) {
    return Err{"fork() failed"};
}
void run_session_child(const UserInfo&, bool) {}
