// X authorization: the server's cookie, new for every session.
//
// How the cookie reaches the session: `create_server_authority` and `renew_server_authority`
// (daemon, at start-up and before every server reset) keeps it in this unit's memory; the session
// child is a forked copy of the daemon, so after its identity change it calls
// `write_user_xauthority`, which writes that copy into the user's own file. The reset after the
// session makes the server forget it.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

inline constexpr const char* SERVER_AUTHORITY_DIR = "/run/vesko";
inline constexpr const char* SERVER_AUTHORITY_PATH = "/run/vesko/xauth";
inline constexpr mode_t SERVER_AUTHORITY_DIR_MODE = 0700;
inline constexpr mode_t AUTHORITY_FILE_MODE = 0600;
inline constexpr const char* USER_AUTHORITY_NAME = ".Xauthority";
inline constexpr const char* PRIVATE_AUTHORITY_NAME = "Xauthority";
inline constexpr const char* COOKIE_AUTH_NAME = "MIT-MAGIC-COOKIE-1";
inline constexpr size_t COOKIE_LENGTH = 16;
// libXau's lock on a user's file: attempts, seconds between them, age of a lock left behind.
inline constexpr int AUTHORITY_LOCK_RETRIES = 5;
inline constexpr int AUTHORITY_LOCK_TIMEOUT_S = 1;
inline constexpr long AUTHORITY_LOCK_DEAD_S = 10;

// One entry of an authority file, as the byte strings libXau reads and writes.
struct AuthEntry {
    unsigned short family = 0;
    std::string address;
    std::string number;
    std::string name;
    std::string data;
    bool operator==(const AuthEntry&) const = default;
};

// The display number of a display name: ":0" and "host:0.1" give "0"; "" when there is none.
std::string display_number(std::string_view display_name);

// The cookie entry a local client of display `number` on `hostname` finds.
AuthEntry local_cookie_entry(const std::string& hostname, const std::string& number,
                             const std::string& cookie);

// `existing` without every entry a local client on `entry.address` would pick for the display
// (family-local entries for that host and wildcard entries, each with the same display number),
// and with `entry` first. Entries for other displays and other hosts stay, in their order.
std::vector<AuthEntry> replace_display_entries(const std::vector<AuthEntry>& existing,
                                               const AuthEntry& entry);

// "{home}/.Xauthority": the session's XAUTHORITY.
std::string user_xauthority_path(const std::string& home);

// COOKIE_LENGTH random bytes from the kernel.
Result<std::string> generate_cookie();

// Every entry of an authority file; a missing file has none.
Result<std::vector<AuthEntry>> read_authority_file(const std::string& path);

// Replaces the file at `path` with `entries` (written beside it, then renamed over it), mode
// 0600, owned by the caller.
Result<Ok> write_authority_file(const std::string& path, const std::vector<AuthEntry>& entries);

// The bytes of an authority file holding `entries`, as libXau writes them.
std::string authority_bytes(const std::vector<AuthEntry>& entries);

// How the X server finds its cookie: the path it is given with "-auth", and a descriptor it must
// inherit (-1 for none).
struct ServerAuthority {
    std::string path;
    int inherited_fd = -1;
};

// At start-up, before the X server starts: a fresh cookie for the display in
// SERVER_AUTHORITY_PATH (root only), and the daemon's own connections made with it. That file
// stays open for the whole run. Where it cannot be had (`file_error` says why), the cookie goes
// to an anonymous memory file that the server reads through /proc/self/fd: the server never runs
// without one. An error only when neither could be made.
Result<ServerAuthority> create_server_authority(std::string& file_error);

// Before every reset: a fresh cookie, written over the old one in place. On failure the current
// cookie stays in force (and in the file).
Result<Ok> renew_server_authority();

// The same cookie, recorded for the display the server chose.
Result<Ok> rename_server_authority();

// In the session child, after its identity change: writes the cookie for ":0" into
// "{home}/.Xauthority" under libXau's lock, replacing only that display's entries. Anything there
// but a regular file (a link, a FIFO) is left alone. A home the user cannot write into fails at
// once, without libXau's retries.
Result<Ok> write_user_xauthority(const std::string& home);

// Whether the server has a cookie that sessions need (not when it runs without authorization).
bool have_server_cookie();

// Where the cookie goes when the home cannot hold it: "{dir}/Xauthority", `dir` being private to
// the user (the runtime directory, or one made for the session).
std::string private_xauthority_path(const std::string& dir);

// In the session child, after its identity change: a file of its own at `path` holding only the
// cookie for ":0", mode 0600.
Result<Ok> write_private_xauthority(const std::string& path);
