#include "auth.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <string.h>

#include <cstdlib>
#include <vector>

#include "auth_diagnostics.h"
#include "log.h"
#include "text.h"
#include "texts.h"

namespace {

constexpr const char* PAM_CODE_NAMES[] = {
    "Success",
    "Open_Err",
    "Symbol_Err",
    "Service_Err",
    "System_Err",
    "Buf_Err",
    "Perm_Denied",
    "Auth_Err",
    "Cred_Insufficient",
    "Authinfo_Unavail",
    "User_Unknown",
    "MaxTries",
    "New_Authtok_Reqd",
    "Acct_Expired",
    "Session_Err",
    "Cred_Unavail",
    "Cred_Expired",
    "Cred_Err",
    "No_Module_Data",
    "Conv_Err",
    "AuthTok_Err",
    "AuthTok_Recovery_Err",
    "AuthTok_Lock_Busy",
    "AuthTok_Disable_Aging",
    "Try_Again",
    "Ignore",
    "Abort",
    "AuthTok_Expired",
    "Module_Unknown",
    "Bad_Item",
    "Conv_Again",
    "Incomplete",
};
constexpr int PAM_CODE_COUNT = sizeof PAM_CODE_NAMES / sizeof PAM_CODE_NAMES[0];

// The user's passwd fields, copied out of getpwnam_r's buffer.
struct PasswdFields {
    std::string name;
    std::string dir;
    std::string shell;
};

// No PAM code tells these failures apart, so each is logged before it becomes one.
Result<PasswdFields, int> lookup_passwd(const char* name) {
    std::vector<char> buffer(PASSWD_BUFFER_SIZE, 0);
    passwd entry{};
    passwd* found = nullptr;
    const int rc = ::getpwnam_r(name, &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0) {
        // ERANGE when the entry, or one read before it, does not fit the buffer.
        log_message(LogLevel::Error,
                    std::string("PAM: getpwnam_r('") + name + "') failed: " + os_error_text(rc));
        return Err{PAM_USER_UNKNOWN};
    }
    if (found == nullptr) {
        log_message(LogLevel::Error, std::string("PAM: no passwd entry for '") + name + "'");
        return Err{PAM_USER_UNKNOWN};
    }
    for (const char* field : {entry.pw_name, entry.pw_dir, entry.pw_shell}) {
        if (field == nullptr || !is_valid_utf8(field)) {
            log_message(LogLevel::Error,
                        std::string("PAM: passwd entry for '") + name + "' is not valid UTF-8");
            return Err{PAM_SYSTEM_ERR};
        }
    }
    return PasswdFields{entry.pw_name, entry.pw_dir, entry.pw_shell};
}

Result<Ok, int> set_up_environment(pam_handle_t* handle) {
    const void* item = nullptr;
    const int rc = normalize_pam_code(::pam_get_item(handle, PAM_USER, &item));
    if (rc != PAM_SUCCESS) {
        return Err{rc};
    }
    if (item == nullptr) {
        log_message(LogLevel::Error, "PAM: no user name after the session was opened");
        return Err{PAM_SYSTEM_ERR};
    }
    const char* user = static_cast<const char*>(item);
    if (!is_valid_utf8(user)) {
        return Err{PAM_SYSTEM_ERR};
    }
    const Result<PasswdFields, int> found = lookup_passwd(user);
    if (!found.ok()) {
        return Err{found.error()};
    }
    const PasswdFields& pw = found.value();
    const std::pair<const char*, const std::string*> variables[] = {
        {"USER", &pw.name}, {"LOGNAME", &pw.name}, {"HOME", &pw.dir},
        {"PWD", &pw.dir},   {"SHELL", &pw.shell},
    };
    for (const auto& [key, value] : variables) {
        const Result<Ok, int> set = set_pam_env(handle, key, *value);
        if (!set.ok()) {
            return set;
        }
    }
    return Ok{};
}

// One libpam call on the handle. What modules say during it is logged, and kept only when the
// step fails: the login screen shows what was said about the failure, nothing older.
template <typename Call>
int pam_step(PamClient& client, Call call) {
    std::vector<std::string>& messages = client.credentials->messages;
    messages.clear();
    const int rc = normalize_pam_code(call(client.handle));
    for (const std::string& message : messages) {
        log_message(LogLevel::Info, "PAM: module message: " + message);
    }
    if (rc == PAM_SUCCESS) {
        messages.clear();
    }
    return rc;
}

// Releases the client too: whoever holds it has nothing more to do with it.
// `what` is a catalog text that takes the code ("Authentication failed: %s").
PamFailure failure(PamClient& client, const char* what, int code, bool password_expired = false) {
    ScreenText own = screen_text(what, pam_code_text(code));
    const std::vector<std::string>& messages = client.credentials->messages;
    // What the modules say is shown as they say it.
    std::string said = messages.empty() ? std::string() : join_module_messages(messages);
    release_pam_client(client);
    if (said.empty()) {
        return PamFailure{own.english, std::move(own.shown), own.english, password_expired};
    }
    return PamFailure{std::move(own.english), said, said, password_expired};
}

PamFailure authentication_failure(PamClient& client, int code) {
    log_message(LogLevel::Error, "PAM: authenticate() failed: " + pam_code_text(code));
    // TRANSLATORS: %s is a PAM result as it is named in the log, such as "Auth_Err (7)".
    return failure(client, N_("Authentication failed: %s"), code, code == PAM_NEW_AUTHTOK_REQD);
}

PamFailure session_failure(PamClient& client, int code) {
    log_message(LogLevel::Error, "PAM: open_session() failed: " + pam_code_text(code));
    return failure(client, N_("Session open failed: %s"), code);
}

// PAM_CHANGE_EXPIRED_AUTHTOK also makes pam_unix ask root for the current password.
int change_expired_password(PamClient& client) {
    log_message(LogLevel::Info, "PAM: the password has expired; changing it");
    client.credentials->changing = true;
    const int rc = pam_step(client, [](pam_handle_t* handle) {
        return ::pam_chauthtok(handle, PAM_CHANGE_EXPIRED_AUTHTOK);
    });
    client.credentials->changing = false;
    if (rc == PAM_SUCCESS) {
        log_message(LogLevel::Info, "PAM: password changed");
    } else {
        log_message(LogLevel::Info, "PAM: password change failed: " + pam_code_text(rc));
    }
    return rc;
}

// The one way a transaction that passed pam_authenticate is refused: what the modules may have
// established is deleted first, then the refusal is put together (deleting may add messages of
// the modules to it). The handle ends later, in release_pam_client.
template <typename MakeFailure>
PamFailure refuse_authenticated(PamClient& client, MakeFailure make_failure) {
    ::pam_setcred(client.handle, PAM_DELETE_CRED);
    return make_failure();
}

}  // namespace

int normalize_pam_code(int code) {
    return code >= 0 && code < PAM_CODE_COUNT ? code : PAM_SYSTEM_ERR;
}

const char* pam_code_name(int code) {
    return PAM_CODE_NAMES[normalize_pam_code(code)];
}

std::string pam_code_text(int code) {
    const int normalized = normalize_pam_code(code);
    return std::string(pam_code_name(normalized)) + " (" + std::to_string(normalized) + ")";
}

PamClient::~PamClient() {
    release_pam_client(*this);
}

Result<Ok, int> set_pam_env(pam_handle_t* handle, const std::string& key,
                            const std::string& value) {
    if (key.find('\0') != std::string::npos || value.find('\0') != std::string::npos) {
        return Err{PAM_BUF_ERR};
    }
    // Whatever a module put there is replaced below, so the old value is not used.
    (void)::pam_getenv(handle, key.c_str());
    const std::string assignment = key + "=" + value;
    const int rc = normalize_pam_code(::pam_putenv(handle, assignment.c_str()));
    if (rc != PAM_SUCCESS) {
        return Err{rc};
    }
    return Ok{};
}

void release_pam_client(PamClient& client) {
    if (client.handle != nullptr) {
        if (client.session_open) {
            ::pam_close_session(client.handle, 0);
        }
        const int status = normalize_pam_code(::pam_setcred(client.handle, PAM_DELETE_CRED));
        ::pam_end(client.handle, status);
        client.handle = nullptr;
    }
    client.session_open = false;
    client.credentials.reset();
}

void abandon_pam_client(PamClient& client) {
    if (client.handle != nullptr) {
        ::pam_end(client.handle, PAM_SUCCESS | PAM_DATA_SILENT);
        client.handle = nullptr;
    }
    client.session_open = false;
    client.credentials.reset();
}

Result<std::unique_ptr<PamClient>, PamFailure> begin_pam_login(const TypedName& user,
                                                               LoginMode mode,
                                                               const SecretText& password,
                                                               const SecretText& new_password) {
    const bool automatic = mode == LoginMode::Automatic;
    const char* service = automatic ? AUTOLOGIN_PAM_SERVICE_NAME : PAM_SERVICE_NAME;
    // The probes compare a typed password; an automatic login has none.
    if (!automatic) {
        diagnose_before_pam(user, password);
    }
    log_typed_name(LogLevel::Info, user,
                   std::string("PAM: initializing client for service '") + service + "', user ");

    auto client = std::make_unique<PamClient>();
    client->credentials = std::make_unique<PamCredentials>();
    const pam_conv conversation{pam_conversation, client->credentials.get()};
    const int start =
        normalize_pam_code(::pam_start(service, nullptr, &conversation, &client->handle));
    if (start != PAM_SUCCESS) {
        // A failed start leaves no handle to end.
        client->handle = nullptr;
        client->credentials.reset();
        log_message(LogLevel::Error, "PAM: client init error: " + pam_code_text(start));
        ScreenText text = screen_text(N_("PAM init error: %s"), pam_code_text(start));
        return Err{PamFailure{text.english, std::move(text.shown), text.english}};
    }
    log_message(LogLevel::Debug, "PAM: client created successfully");

    client->credentials->login = user.name;
    client->credentials->password = password.copy();
    client->credentials->no_password = automatic;
    if (mode == LoginMode::ChangeExpiredPassword) {
        client->credentials->new_password = new_password.copy();
    }
    log_message(LogLevel::Debug, "PAM: credentials set");

    if (!automatic) {
        diagnose_after_pam_init(user);
    }

    log_message(LogLevel::Info, "PAM: calling authenticate()");
    const int auth =
        pam_step(*client, [](pam_handle_t* handle) { return ::pam_authenticate(handle, 0); });
    if (auth != PAM_SUCCESS) {
        return Err{authentication_failure(*client, auth)};
    }
    int account =
        pam_step(*client, [](pam_handle_t* handle) { return ::pam_acct_mgmt(handle, 0); });
    if (account == PAM_NEW_AUTHTOK_REQD && mode == LoginMode::ChangeExpiredPassword &&
        !new_password.empty()) {
        const int changed = change_expired_password(*client);
        if (changed != PAM_SUCCESS) {
            return Err{refuse_authenticated(*client, [&] {
                return failure(*client, N_("Password change failed: %s"), changed, true);
            })};
        }
        account = PAM_SUCCESS;
    }
    if (account != PAM_SUCCESS) {
        return Err{refuse_authenticated(*client,
                                        [&] { return authentication_failure(*client, account); })};
    }

    log_message(LogLevel::Info, "PAM: authenticate() succeeded");
    log_message(LogLevel::Info, "PAM: calling open_session()");
    const int established = pam_step(
        *client, [](pam_handle_t* handle) { return ::pam_setcred(handle, PAM_ESTABLISH_CRED); });
    if (established != PAM_SUCCESS) {
        return Err{
            refuse_authenticated(*client, [&] { return session_failure(*client, established); })};
    }
    return client;
}

std::vector<PamEnvItem> session_pam_items(std::optional<int> terminal,
                                          const DesktopSession* desktop) {
    std::vector<PamEnvItem> items{
        {"XDG_SESSION_TYPE", "x11"},
        {"XDG_SESSION_CLASS", "user"},
        {"XDG_SEAT", "seat0"},
    };
    if (terminal) {
        items.emplace_back("XDG_VTNR", std::to_string(*terminal));
    }
    if (desktop != nullptr) {
        items.emplace_back("DESKTOP_SESSION", desktop->id);
        items.emplace_back("XDG_SESSION_DESKTOP", desktop->id);
        if (!desktop->current_desktop.empty()) {
            items.emplace_back("XDG_CURRENT_DESKTOP", desktop->current_desktop);
        }
    }
    return items;
}

Result<Ok, PamFailure> open_pam_session(PamClient& client, const std::vector<PamEnvItem>& items) {
    for (const auto& [key, value] : items) {
        const Result<Ok, int> set = set_pam_env(client.handle, key, value);
        if (!set.ok()) {
            return Err{
                refuse_authenticated(client, [&] { return session_failure(client, set.error()); })};
        }
    }
    int session =
        pam_step(client, [](pam_handle_t* handle) { return ::pam_open_session(handle, 0); });
    if (session == PAM_SUCCESS) {
        session = pam_step(client, [](pam_handle_t* handle) {
            return ::pam_setcred(handle, PAM_REINITIALIZE_CRED);
        });
    }
    if (session != PAM_SUCCESS) {
        return Err{refuse_authenticated(client, [&] { return session_failure(client, session); })};
    }

    client.session_open = true;
    const Result<Ok, int> environment = set_up_environment(client.handle);
    if (!environment.ok()) {
        // The session stays marked open so that the release closes it.
        return Err{session_failure(client, environment.error())};
    }

    log_message(LogLevel::Info, "PAM: session opened successfully");
    return Ok{};
}

std::vector<PamEnvItem> pam_environment(const PamClient& client) {
    std::vector<PamEnvItem> items;
    if (client.handle == nullptr) {
        return items;
    }
    char** list = ::pam_getenvlist(client.handle);
    if (list == nullptr) {
        return items;
    }
    for (char** entry = list; *entry != nullptr; ++entry) {
        const std::string_view text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string_view::npos && equals > 0) {
            items.emplace_back(std::string(text.substr(0, equals)),
                               std::string(text.substr(equals + 1)));
        }
        explicit_bzero(*entry, text.size());
        std::free(*entry);
    }
    std::free(list);
    return items;
}

void forget_password(PamClient& client) {
    if (client.credentials) {
        client.credentials->password.wipe();
        client.credentials->new_password.wipe();
    }
}
