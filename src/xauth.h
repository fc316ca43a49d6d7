// X authorization: the server's own cookie, one revocable cookie per session, and the clean-up
// after each session that keeps the next user safe from the last.
//
// How the session cookie reaches the session: `prepare_session_authorization` (daemon, before
// the login screen shows) keeps the cookie in this unit's memory; the session child is a forked
// copy of the daemon, so after its identity change it calls `write_user_xauthority`, which
// writes that copy into the user's own file. `end_session_authorization` (daemon, after the
// session process is reaped) revokes it and wipes the daemon's copy.
#pragma once

#include <X11/Xlib.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.h"

inline constexpr const char* SERVER_AUTHORITY_DIR = "/run/vesko";
inline constexpr const char* SERVER_AUTHORITY_PATH = "/run/vesko/xauth";
inline constexpr mode_t SERVER_AUTHORITY_DIR_MODE = 0700;
inline constexpr mode_t AUTHORITY_FILE_MODE = 0600;
inline constexpr const char* USER_AUTHORITY_NAME = ".Xauthority";
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

// Start-up, before the X server starts: a fresh cookie for ":0" in SERVER_AUTHORITY_PATH (root
// only), and the daemon's own connections made with it. The error says why it could not be done;
// the X server must then start without "-auth".
Result<Ok> prepare_server_authority();

// An entry of the server's host access list, as xhost lists it.
struct HostEntry {
    int family = 0;
    std::string address;           // raw address bytes; empty for server-interpreted entries
    std::string interpreted_type;  // server-interpreted entries ("localuser", ...)
    std::string interpreted_value;
    bool operator==(const HostEntry&) const = default;
};

// xhost's notation: "inet:10.0.0.1", "inet6:::1", "local:", "si:localuser:bob".
std::string host_entry_text(const HostEntry& entry);

// The entries of `now` that were not in `baseline`, in the order of `now`.
std::vector<HostEntry> hosts_to_remove(const std::vector<HostEntry>& baseline,
                                       const std::vector<HostEntry>& now);

// A connected client, as the X-Resource extension lists it.
struct XClient {
    XID resource_base = 0;
    XID resource_mask = 0;
    bool operator==(const XClient&) const = default;
};

// Every client to disconnect: all but the server itself (base 0) and the client that owns
// `own_id`.
std::vector<XClient> clients_to_disconnect(const std::vector<XClient>& clients, XID own_id);

// The first of a client's resources that KillClient accepts for it: one in the client's own
// range (the server's bookkeeping entries carry a bit outside every range). KillClient refuses a
// client's resource base unless a resource of that ID exists.
std::optional<XID> killable_resource(const XClient& client, const std::vector<XID>& resources);

// What the server looked like right after the daemon connected; every session ends with the
// access control put back to this.
struct XAccessBaseline {
    bool access_enabled = true;
    std::vector<HostEntry> hosts;
    XID own_id = 0;  // an ID from the daemon's own range
    bool have_security = false;
    bool have_resource = false;
};

// Reads the baseline; warns about a missing SECURITY or X-Resource extension.
XAccessBaseline record_access_baseline(Display* display);

// Makes the cookie for the next session: a revocable, trusted authorization without time-out,
// or the server cookie where the server cannot make one.
void prepare_session_authorization(Display* display, const XAccessBaseline& baseline);

// After the session process has ended: revokes its authorization, disconnects every client but
// the daemon's own, puts the access control back to the baseline, and logs what it did.
void end_session_authorization(Display* display, const XAccessBaseline& baseline);

// In the session child, after its identity change: writes the session cookie for ":0" into
// "{home}/.Xauthority" under libXau's lock, replacing only that display's entries.
Result<Ok> write_user_xauthority(const std::string& home);
