// The session's runtime directory, /run/user/UID: checked when a PAM module (logind) made it,
// made by the session process when none did, and then removed again at logout.
#pragma once

#include "session.h"

struct RuntimeDir {
    bool usable = false;
    // Made by the session process, so it is the session process's to remove.
    bool made = false;
};

// Checks or makes the directory (as root: /run/user is root's); a WARN line says why one is left
// out of the session.
RuntimeDir prepare_runtime_dir(const UserInfo& user);

// Removes the directory and everything the session left in it, never following a link or
// leaving the file system it is on. What cannot be removed stays, with a WARN line.
void remove_runtime_dir(const UserInfo& user);
