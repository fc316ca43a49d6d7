// The PAM client: one transaction per login attempt, with its diagnostic probes. The daemon runs
// it up to the credentials; the session process opens the session and ends the transaction.
#pragma once

#include <security/pam_appl.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log.h"
#include "login_mode.h"
#include "pam_conversation.h"
#include "result.h"
#include "secret.h"
#include "session_list.h"

// The service file is "/etc/pam.d/vesko".
inline constexpr const char* PAM_SERVICE_NAME = "vesko";
// The automatic login's service, "/etc/pam.d/vesko-autologin": no password, root refused.
inline constexpr const char* AUTOLOGIN_PAM_SERVICE_NAME = "vesko-autologin";

// getpwnam_r gets one buffer of this size; an entry that needs more counts as not found.
inline constexpr size_t PASSWD_BUFFER_SIZE = 2048;

// Keeps 0..31 and turns every other value, negative ones included, into PAM_SYSTEM_ERR.
int normalize_pam_code(int code);

// Name of a code in texts ("Auth_Err" for 7); the code is normalised first.
const char* pam_code_name(int code);

// "Auth_Err (7)": the form every PAM code takes in log lines and error texts.
std::string pam_code_text(int code);

// One transaction. Owns the handle: destroying a client that was not released releases it.
struct PamClient {
    pam_handle_t* handle = nullptr;
    std::unique_ptr<PamCredentials> credentials;
    bool session_open = false;

    PamClient() = default;
    PamClient(const PamClient&) = delete;
    PamClient& operator=(const PamClient&) = delete;
    ~PamClient();
};

// Sets one variable in the PAM environment only (never the daemon's own: a user's HOME there
// would lead root into that home); the error is a normalised PAM code.
Result<Ok, int> set_pam_env(pam_handle_t* handle, const std::string& key, const std::string& value);

// Closes the session if one is open, deletes the credentials, ends the handle with the result
// of that deletion and wipes the credentials. Does nothing for a client without a handle.
void release_pam_client(PamClient& client);

// The daemon's copy of a transaction that a forked process carries on: ended without letting
// the modules clean up what now belongs to that process (PAM_DATA_SILENT); credentials wiped.
void abandon_pam_client(PamClient& client);

// A refused transaction: `text` names the step and the PAM code ("Authentication failed:
// Auth_Err (7)"); `shown` is what the login screen shows, the messages the modules sent during
// the failing step joined in one line, or `text` in the login screen's language when there was
// none; `logged` is the same for the log, with `text` in English.
struct PamFailure {
    std::string text;
    std::string shown;
    std::string logged;
    // The account step asked for a new password (New_Authtok_Reqd) and none was given.
    bool password_expired = false;
};

// Start, authentication, account check and PAM_ESTABLISH_CRED, with the diagnostics. In the
// ChangeExpiredPassword mode an expired password is changed to `new_password` (pam_chauthtok)
// after the account check; in the Normal mode `new_password` is not used. On success the
// transaction goes on in the returned client.
// The passwords are copied into the transaction's own secrets; the caller keeps its own.
Result<std::unique_ptr<PamClient>, PamFailure> begin_pam_login(const TypedName& user,
                                                               LoginMode mode,
                                                               const SecretText& password,
                                                               const SecretText& new_password);

// What the session tells logind through the PAM environment: kind, class, seat, and the terminal
// where the seat has terminals (logind refuses a terminal number on a seat without them).
// A chosen session adds DESKTOP_SESSION, XDG_SESSION_DESKTOP and XDG_CURRENT_DESKTOP, so that
// logind records the desktop.
using PamEnvItem = std::pair<std::string, std::string>;
std::vector<PamEnvItem> session_pam_items(std::optional<int> terminal,
                                          const DesktopSession* desktop = nullptr);

// Sets `items` in the PAM environment, opens the session, reinitialises the credentials and sets
// USER, LOGNAME, HOME, PWD and SHELL. The failure's text is "Session open failed: ..."; the
// client still needs releasing either way.
Result<Ok, PamFailure> open_pam_session(PamClient& client, const std::vector<PamEnvItem>& items);

// Every variable of the PAM environment, as pam_getenvlist gives it ("NAME=value" split).
std::vector<PamEnvItem> pam_environment(const PamClient& client);

// Drops the passwords the conversation would answer with, once no prompt should need them.
void forget_password(PamClient& client);
