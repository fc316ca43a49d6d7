#include "auth.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <string.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "auth_diagnostics.h"
#include "log.h"
#include "text.h"

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

// Answers already handed out may hold the password, so they are wiped before being freed.
void free_responses(pam_response* responses, int count) {
    for (int i = 0; i < count; ++i) {
        if (responses[i].resp != nullptr) {
            explicit_bzero(responses[i].resp, strlen(responses[i].resp));
            std::free(responses[i].resp);
        }
    }
    std::free(responses);
}

void write_stderr(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

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

std::string authentication_failure(PamClient& client, int code) {
    log_message(LogLevel::Error, "PAM: authenticate() failed: " + pam_code_text(code));
    release_pam_client(client);
    return "Authentication failed: " + pam_code_text(code);
}

// Releases the client too: whoever holds it has nothing more to do with it.
std::string session_failure(PamClient& client, int code) {
    log_message(LogLevel::Error, "PAM: open_session() failed: " + pam_code_text(code));
    release_pam_client(client);
    return "Session open failed: " + pam_code_text(code);
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

PamCredentials::~PamCredentials() {
    wipe_text(login);
    wipe_text(password);
}

PamClient::~PamClient() {
    release_pam_client(*this);
}

int pam_conversation(int num_msg, const struct pam_message** msg, struct pam_response** resp,
                     void* appdata) {
    if (num_msg <= 0 || msg == nullptr || resp == nullptr || appdata == nullptr) {
        return PAM_CONV_ERR;
    }
    const auto* credentials = static_cast<const PamCredentials*>(appdata);
    auto* responses =
        static_cast<pam_response*>(std::calloc(static_cast<size_t>(num_msg), sizeof(pam_response)));
    if (responses == nullptr) {
        return PAM_BUF_ERR;
    }
    for (int i = 0; i < num_msg; ++i) {
        const pam_message* message = msg[i];
        const std::string* answer = nullptr;
        switch (message->msg_style) {
            case PAM_PROMPT_ECHO_OFF:
                answer = &credentials->password;
                break;
            case PAM_TEXT_INFO:
                break;
            case PAM_ERROR_MSG:
                write_stderr("[PAM ERROR] " +
                             utf8_lossy(message->msg == nullptr ? "" : message->msg) + "\n");
                free_responses(responses, num_msg);
                return PAM_CONV_ERR;
            default:
                answer = &credentials->login;
                break;
        }
        if (answer == nullptr) {
            continue;
        }
        if (answer->find('\0') != std::string::npos) {
            free_responses(responses, num_msg);
            return PAM_CONV_ERR;
        }
        responses[i].resp = ::strdup(answer->c_str());
        if (responses[i].resp == nullptr) {
            free_responses(responses, num_msg);
            return PAM_BUF_ERR;
        }
    }
    *resp = responses;
    return PAM_SUCCESS;
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
    client.authenticated = false;
    client.session_open = false;
    client.credentials.reset();
}

void abandon_pam_client(PamClient& client) {
    if (client.handle != nullptr) {
        ::pam_end(client.handle, PAM_SUCCESS | PAM_DATA_SILENT);
        client.handle = nullptr;
    }
    client.authenticated = false;
    client.session_open = false;
    client.credentials.reset();
}

Result<std::unique_ptr<PamClient>> begin_pam_login(const std::string& username,
                                                   const std::string& password) {
    diagnose_before_pam(username, password);
    log_message(LogLevel::Info, std::string("PAM: initializing client for service '") +
                                    PAM_SERVICE_NAME + "', user '" + username + "'");

    auto client = std::make_unique<PamClient>();
    client->credentials = std::make_unique<PamCredentials>();
    const pam_conv conversation{pam_conversation, client->credentials.get()};
    const int start =
        normalize_pam_code(::pam_start(PAM_SERVICE_NAME, nullptr, &conversation, &client->handle));
    if (start != PAM_SUCCESS) {
        // A failed start leaves no handle to end.
        client->handle = nullptr;
        client->credentials.reset();
        log_message(LogLevel::Error, "PAM: client init error: " + pam_code_text(start));
        return Err{"PAM init error: " + pam_code_text(start)};
    }
    log_message(LogLevel::Debug, "PAM: client created successfully");

    client->credentials->login = username;
    client->credentials->password = password;
    log_message(LogLevel::Debug, "PAM: credentials set");

    diagnose_after_pam_init(username);

    log_message(LogLevel::Info, "PAM: calling authenticate()");
    const int auth = normalize_pam_code(::pam_authenticate(client->handle, 0));
    if (auth != PAM_SUCCESS) {
        return Err{authentication_failure(*client, auth)};
    }
    client->authenticated = true;
    const int account = normalize_pam_code(::pam_acct_mgmt(client->handle, 0));
    if (account != PAM_SUCCESS) {
        ::pam_setcred(client->handle, PAM_DELETE_CRED);
        client->authenticated = false;
        return Err{authentication_failure(*client, account)};
    }

    log_message(LogLevel::Info, "PAM: authenticate() succeeded");
    log_message(LogLevel::Info, "PAM: calling open_session()");
    const int established = normalize_pam_code(::pam_setcred(client->handle, PAM_ESTABLISH_CRED));
    if (established != PAM_SUCCESS) {
        ::pam_setcred(client->handle, PAM_DELETE_CRED);
        client->authenticated = false;
        return Err{session_failure(*client, established)};
    }
    return client;
}

std::vector<PamEnvItem> session_pam_items(std::optional<int> terminal) {
    std::vector<PamEnvItem> items{
        {"XDG_SESSION_TYPE", "x11"},
        {"XDG_SESSION_CLASS", "user"},
        {"XDG_SEAT", "seat0"},
    };
    if (terminal) {
        items.emplace_back("XDG_VTNR", std::to_string(*terminal));
    }
    return items;
}

Result<Ok> open_pam_session(PamClient& client, const std::vector<PamEnvItem>& items) {
    for (const auto& [key, value] : items) {
        const Result<Ok, int> set = set_pam_env(client.handle, key, value);
        if (!set.ok()) {
            ::pam_setcred(client.handle, PAM_DELETE_CRED);
            client.authenticated = false;
            return Err{session_failure(client, set.error())};
        }
    }
    int session = normalize_pam_code(::pam_open_session(client.handle, 0));
    if (session == PAM_SUCCESS) {
        session = normalize_pam_code(::pam_setcred(client.handle, PAM_REINITIALIZE_CRED));
    }
    if (session != PAM_SUCCESS) {
        ::pam_setcred(client.handle, PAM_DELETE_CRED);
        client.authenticated = false;
        return Err{session_failure(client, session)};
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
        wipe_text(client.credentials->password);
    }
}
