#include "xauth.h"

#include <X11/Xauth.h>
#include <X11/Xproto.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/security.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "fd.h"
#include "log.h"
#include "xserver.h"

namespace {

// Empty when the server runs without an authority file.
std::string server_cookie;
// The cookie the next (or running) session gets; its authorization, or 0 for the server cookie.
std::string session_cookie;
XSecurityAuthorization session_auth_id = 0;

void wipe(std::string& secret) {
    ::explicit_bzero(secret.data(), secret.size());
    secret.clear();
}

template <typename T>
using XPtr = std::unique_ptr<T, decltype([](T* p) { XFree(p); })>;

std::string hex_id(XID id) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", id);
    return text;
}

Result<std::string> host_name() {
    char name[HOST_NAME_MAX + 1] = {};
    if (::gethostname(name, sizeof name - 1) != 0) {
        return Err{"gethostname: " + os_error_text(errno)};
    }
    return std::string(name);
}

Xauth to_xauth(const AuthEntry& entry) {
    Xauth auth{};
    auth.family = entry.family;
    auth.address_length = static_cast<unsigned short>(entry.address.size());
    auth.address = const_cast<char*>(entry.address.data());
    auth.number_length = static_cast<unsigned short>(entry.number.size());
    auth.number = const_cast<char*>(entry.number.data());
    auth.name_length = static_cast<unsigned short>(entry.name.size());
    auth.name = const_cast<char*>(entry.name.data());
    auth.data_length = static_cast<unsigned short>(entry.data.size());
    auth.data = const_cast<char*>(entry.data.data());
    return auth;
}

// Unlocks on every path out of the caller.
struct AuthorityLock {
    std::string path;
    ~AuthorityLock() { XauUnlockAuth(path.c_str()); }
};

Result<Ok> make_server_authority_dir() {
    if (::mkdir(SERVER_AUTHORITY_DIR, SERVER_AUTHORITY_DIR_MODE) != 0 && errno != EEXIST) {
        return Err{std::string("cannot create ") + SERVER_AUTHORITY_DIR + ": " +
                   os_error_text(errno)};
    }
    // Whatever was there before must be root's own directory, never a link to elsewhere.
    const UniqueFd dir(
        ::open(SERVER_AUTHORITY_DIR, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid()) {
        return Err{std::string("cannot open ") + SERVER_AUTHORITY_DIR + ": " +
                   os_error_text(errno)};
    }
    struct stat info {};
    if (::fstat(dir.get(), &info) != 0) {
        return Err{std::string("cannot examine ") + SERVER_AUTHORITY_DIR + ": " +
                   os_error_text(errno)};
    }
    if (info.st_uid != ::geteuid()) {
        return Err{std::string(SERVER_AUTHORITY_DIR) + " belongs to another user"};
    }
    if (::fchmod(dir.get(), SERVER_AUTHORITY_DIR_MODE) != 0) {
        return Err{std::string("cannot restrict ") + SERVER_AUTHORITY_DIR + ": " +
                   os_error_text(errno)};
    }
    return Ok{};
}

HostEntry from_host_address(const XHostAddress& host) {
    HostEntry entry;
    entry.family = host.family;
    if (host.family == FamilyServerInterpreted) {
        const auto* si = reinterpret_cast<const XServerInterpretedAddress*>(host.address);
        entry.interpreted_type.assign(si->type, static_cast<size_t>(si->typelength));
        entry.interpreted_value.assign(si->value, static_cast<size_t>(si->valuelength));
    } else if (host.length > 0) {
        entry.address.assign(host.address, static_cast<size_t>(host.length));
    }
    return entry;
}

struct HostList {
    bool access_enabled = true;
    std::vector<HostEntry> hosts;
};

HostList list_hosts(Display* display) {
    int count = 0;
    Bool enabled = True;
    HostList list;
    XPtr<XHostAddress> hosts(XListHosts(display, &count, &enabled));
    list.access_enabled = enabled != False;
    for (int i = 0; hosts && i < count; ++i) {
        list.hosts.push_back(from_host_address(hosts.get()[i]));
    }
    return list;
}

void remove_host(Display* display, const HostEntry& entry) {
    XServerInterpretedAddress si{};
    XHostAddress host{};
    host.family = entry.family;
    if (entry.family == FamilyServerInterpreted) {
        si.typelength = static_cast<int>(entry.interpreted_type.size());
        si.valuelength = static_cast<int>(entry.interpreted_value.size());
        si.type = const_cast<char*>(entry.interpreted_type.data());
        si.value = const_cast<char*>(entry.interpreted_value.data());
        host.length = sizeof si;
        host.address = reinterpret_cast<char*>(&si);
    } else {
        host.length = static_cast<int>(entry.address.size());
        host.address = const_cast<char*>(entry.address.data());
    }
    XRemoveHost(display, &host);
}

std::vector<XClient> other_clients(Display* display, const XAccessBaseline& baseline) {
    int count = 0;
    XResClient* raw = nullptr;
    if (XResQueryClients(display, &count, &raw) == 0) {
        return {};
    }
    const XPtr<XResClient> clients(raw);
    std::vector<XClient> listed;
    for (int i = 0; i < count; ++i) {
        listed.push_back({raw[i].resource_base, raw[i].resource_mask});
    }
    return clients_to_disconnect(listed, baseline.own_id);
}

// Every resource of one client; nothing where the server cannot tell (before X-Resource 1.2).
std::vector<XID> client_resources(Display* display, XID client) {
    XResResourceIdSpec every{0, 0};
    long count = 0;
    XResResourceSizeValue* sizes = nullptr;
    if (XResQueryResourceBytes(display, client, 1, &every, &count, &sizes) != Success ||
        sizes == nullptr) {
        return {};
    }
    std::vector<XID> ids;
    for (long i = 0; i < count; ++i) {
        ids.push_back(sizes[i].size.spec.resource);
    }
    XResResourceSizeValuesDestroy(count, sizes);
    return ids;
}

std::string client_pid_text(Display* display, XID client) {
    XResClientIdSpec spec{client, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* ids = nullptr;
    pid_t pid = -1;
    if (XResQueryClientIds(display, 1, &spec, &count, &ids) == Success && ids != nullptr) {
        for (long i = 0; i < count && pid < 0; ++i) {
            pid = XResGetClientPid(&ids[i]);
        }
        XResClientIdsDestroy(count, ids);
    }
    return pid < 0 ? "PID unknown" : "PID " + std::to_string(pid);
}

int (*previous_error_handler)(Display*, XErrorEvent*) = nullptr;
int resource_opcode = -1;

// A client may vanish between the listing and its kill; the server then answers BadValue, to
// KillClient or to the X-Resource query before it.
int ignore_vanished_clients(Display* display, XErrorEvent* event) {
    if ((event->request_code == X_KillClient && event->error_code == BadValue) ||
        event->request_code == resource_opcode) {
        return 0;
    }
    return previous_error_handler != nullptr ? previous_error_handler(display, event) : 0;
}

void kill_clients(Display* display, const std::vector<XClient>& clients) {
    int event_base = 0;
    int error_base = 0;
    if (XQueryExtension(display, "X-Resource", &resource_opcode, &event_base, &error_base) ==
        False) {
        resource_opcode = -1;
    }
    XSync(display, False);
    previous_error_handler = XSetErrorHandler(ignore_vanished_clients);
    for (const XClient& client : clients) {
        const std::vector<XID> resources = client_resources(display, client.resource_base);
        XKillClient(display, killable_resource(client, resources).value_or(client.resource_base));
    }
    XSync(display, False);
    XSetErrorHandler(previous_error_handler);
    previous_error_handler = nullptr;
    resource_opcode = -1;
}

void restore_access_control(Display* display, const XAccessBaseline& baseline) {
    const HostList now = list_hosts(display);
    if (now.access_enabled != baseline.access_enabled) {
        if (baseline.access_enabled) {
            XEnableAccessControl(display);
            log_message(LogLevel::Info, "X: access control enabled again");
        } else {
            XDisableAccessControl(display);
            log_message(LogLevel::Info, "X: access control disabled again");
        }
    }
    for (const HostEntry& host : hosts_to_remove(baseline.hosts, now.hosts)) {
        remove_host(display, host);
        log_message(LogLevel::Info,
                    "X: removed " + host_entry_text(host) + " from the host access list");
    }
    XSync(display, False);
}

}  // namespace

std::string display_number(std::string_view display_name) {
    const size_t colon = display_name.rfind(':');
    if (colon == std::string_view::npos) {
        return "";
    }
    std::string_view rest = display_name.substr(colon + 1);
    rest = rest.substr(0, rest.find('.'));
    return std::string(rest);
}

AuthEntry local_cookie_entry(const std::string& hostname, const std::string& number,
                             const std::string& cookie) {
    return {FamilyLocal, hostname, number, COOKIE_AUTH_NAME, cookie};
}

std::vector<AuthEntry> replace_display_entries(const std::vector<AuthEntry>& existing,
                                               const AuthEntry& entry) {
    std::vector<AuthEntry> result{entry};
    for (const AuthEntry& old : existing) {
        const bool same_display = old.number == entry.number;
        const bool same_host = old.family == FamilyLocal && old.address == entry.address;
        if (same_display && (same_host || old.family == FamilyWild)) {
            continue;
        }
        result.push_back(old);
    }
    return result;
}

std::string user_xauthority_path(const std::string& home) {
    return home + "/" + USER_AUTHORITY_NAME;
}

Result<std::string> generate_cookie() {
    std::string cookie(COOKIE_LENGTH, '\0');
    size_t filled = 0;
    while (filled < cookie.size()) {
        const ssize_t got = ::getrandom(cookie.data() + filled, cookie.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Err{"getrandom: " + os_error_text(errno)};
        }
        filled += static_cast<size_t>(got);
    }
    return cookie;
}

Result<std::vector<AuthEntry>> read_authority_file(const std::string& path) {
    std::vector<AuthEntry> entries;
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        if (errno == ENOENT) {
            return entries;
        }
        return Err{"cannot read " + path + ": " + os_error_text(errno)};
    }
    while (Xauth* auth = XauReadAuth(file)) {
        entries.push_back({auth->family, std::string(auth->address, auth->address_length),
                           std::string(auth->number, auth->number_length),
                           std::string(auth->name, auth->name_length),
                           std::string(auth->data, auth->data_length)});
        ::explicit_bzero(auth->data, auth->data_length);
        XauDisposeAuth(auth);
    }
    std::fclose(file);
    return entries;
}

Result<Ok> write_authority_file(const std::string& path, const std::vector<AuthEntry>& entries) {
    // libXau's own tools write beside the file under this name, under the same lock.
    const std::string temp = path + "-n";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    AUTHORITY_FILE_MODE);
    if (fd < 0 && errno == EEXIST) {
        (void)::unlink(temp.c_str());
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    AUTHORITY_FILE_MODE);
    }
    if (fd < 0) {
        return Err{"cannot create " + temp + ": " + os_error_text(errno)};
    }
    // The umask may only have narrowed the mode; make it exact.
    (void)::fchmod(fd, AUTHORITY_FILE_MODE);
    FILE* file = ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int err = errno;
        ::close(fd);
        (void)::unlink(temp.c_str());
        return Err{"cannot write " + temp + ": " + os_error_text(err)};
    }
    bool written = true;
    for (const AuthEntry& entry : entries) {
        Xauth auth = to_xauth(entry);
        written = written && XauWriteAuth(file, &auth) == 1;
    }
    written = written && std::fflush(file) == 0 && ::fsync(fd) == 0;
    const int err = errno;
    written = std::fclose(file) == 0 && written;
    if (!written) {
        (void)::unlink(temp.c_str());
        return Err{"cannot write " + temp + ": " + os_error_text(err != 0 ? err : EIO)};
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int rename_err = errno;
        (void)::unlink(temp.c_str());
        return Err{"cannot replace " + path + ": " + os_error_text(rename_err)};
    }
    return Ok{};
}

Result<Ok> prepare_server_authority() {
    if (Result<Ok> dir = make_server_authority_dir(); !dir.ok()) {
        return dir;
    }
    Result<std::string> host = host_name();
    if (!host.ok()) {
        return Err{host.error()};
    }
    Result<std::string> cookie = generate_cookie();
    if (!cookie.ok()) {
        return Err{cookie.error()};
    }
    AuthEntry entry =
        local_cookie_entry(host.value(), display_number(X_DISPLAY_NAME), cookie.value());
    Result<Ok> written = write_authority_file(SERVER_AUTHORITY_PATH, {entry});
    wipe(entry.data);
    if (!written.ok()) {
        wipe(cookie.value());
        return written;
    }
    server_cookie = std::move(cookie.value());
    // Xlib keeps its own copy; nothing goes into the environment a session could inherit.
    XSetAuthorization(const_cast<char*>(COOKIE_AUTH_NAME),
                      static_cast<int>(std::strlen(COOKIE_AUTH_NAME)), server_cookie.data(),
                      static_cast<int>(server_cookie.size()));
    return Ok{};
}

std::string host_entry_text(const HostEntry& entry) {
    switch (entry.family) {
        case FamilyInternet:
        case FamilyInternet6: {
            const int af = entry.family == FamilyInternet ? AF_INET : AF_INET6;
            const size_t size = af == AF_INET ? 4 : 16;
            char text[INET6_ADDRSTRLEN] = {};
            if (entry.address.size() == size &&
                ::inet_ntop(af, entry.address.data(), text, sizeof text) != nullptr) {
                return std::string(af == AF_INET ? "inet:" : "inet6:") + text;
            }
            break;
        }
        case FamilyLocalHost:
            return "local:";
        case FamilyServerInterpreted:
            return "si:" + entry.interpreted_type + ":" + entry.interpreted_value;
        default:
            break;
    }
    return "family " + std::to_string(entry.family) + " (" + std::to_string(entry.address.size()) +
           " bytes)";
}

std::vector<HostEntry> hosts_to_remove(const std::vector<HostEntry>& baseline,
                                       const std::vector<HostEntry>& now) {
    std::vector<HostEntry> extra;
    for (const HostEntry& host : now) {
        if (std::find(baseline.begin(), baseline.end(), host) == baseline.end() &&
            std::find(extra.begin(), extra.end(), host) == extra.end()) {
            extra.push_back(host);
        }
    }
    return extra;
}

std::vector<XClient> clients_to_disconnect(const std::vector<XClient>& clients, XID own_id) {
    std::vector<XClient> others;
    for (const XClient& client : clients) {
        const bool is_server = client.resource_base == 0;
        const bool is_own = (own_id & ~client.resource_mask) == client.resource_base;
        if (!is_server && !is_own) {
            others.push_back(client);
        }
    }
    return others;
}

std::optional<XID> killable_resource(const XClient& client, const std::vector<XID>& resources) {
    for (const XID id : resources) {
        if ((id & ~client.resource_mask) == client.resource_base) {
            return id;
        }
    }
    return std::nullopt;
}

XAccessBaseline record_access_baseline(Display* display) {
    XAccessBaseline baseline;
    // Only allocated, never created: its range is the daemon's connection.
    baseline.own_id = XAllocID(display);
    int major = 0;
    int minor = 0;
    baseline.have_security = XSecurityQueryExtension(display, &major, &minor) != 0;
    if (!baseline.have_security) {
        log_message(LogLevel::Warn,
                    "X: the server lacks the SECURITY extension; sessions get the server cookie, "
                    "which cannot be revoked");
    }
    int event_base = 0;
    int error_base = 0;
    baseline.have_resource = XResQueryExtension(display, &event_base, &error_base) != 0;
    if (!baseline.have_resource) {
        log_message(LogLevel::Warn,
                    "X: the server lacks the X-Resource extension; clients left by a session "
                    "cannot be disconnected");
    }
    HostList hosts = list_hosts(display);
    baseline.access_enabled = hosts.access_enabled;
    baseline.hosts = std::move(hosts.hosts);
    return baseline;
}

void prepare_session_authorization(Display* display, const XAccessBaseline& baseline) {
    wipe(session_cookie);
    session_auth_id = 0;
    if (baseline.have_security) {
        Xauth* request = XSecurityAllocXauth();
        if (request != nullptr) {
            request->name = const_cast<char*>(COOKIE_AUTH_NAME);
            request->name_length = static_cast<unsigned short>(std::strlen(COOKIE_AUTH_NAME));
            XSecurityAuthorizationAttributes attributes{};
            attributes.trust_level = XSecurityClientTrusted;
            attributes.timeout = 0;  // never revoked by the server on its own
            XSecurityAuthorization id = 0;
            Xauth* granted = XSecurityGenerateAuthorization(
                display, request, XSecurityTimeout | XSecurityTrustLevel, &attributes, &id);
            // The request's name is ours, not the allocator's.
            request->name = nullptr;
            XSecurityFreeXauth(request);
            if (granted != nullptr) {
                session_cookie.assign(granted->data, granted->data_length);
                session_auth_id = id;
                ::explicit_bzero(granted->data, granted->data_length);
                XSecurityFreeXauth(granted);
                return;
            }
        }
        log_message(LogLevel::Warn,
                    "X: could not make a session authorization; the session gets the server "
                    "cookie");
    }
    session_cookie = server_cookie;
}

void end_session_authorization(Display* display, const XAccessBaseline& baseline) {
    std::set<XID> disconnected;
    if (baseline.have_resource) {
        for (const XClient& client : other_clients(display, baseline)) {
            disconnected.insert(client.resource_base);
        }
    }
    // Every way in is closed first, so that nothing connects again while the rest is cleared.
    restore_access_control(display, baseline);
    const bool revoked = session_auth_id != 0;
    if (revoked) {
        // Also closes every connection made with it.
        XSecurityRevokeAuthorization(display, session_auth_id);
        XSync(display, False);
        session_auth_id = 0;
    }
    wipe(session_cookie);
    if (baseline.have_resource) {
        const std::vector<XClient> remaining = other_clients(display, baseline);
        kill_clients(display, remaining);
        for (const XClient& client : remaining) {
            disconnected.insert(client.resource_base);
        }
        // A client that owns no resource cannot be named to the server.
        for (const XClient& client : other_clients(display, baseline)) {
            const bool was_killed = std::any_of(
                remaining.begin(), remaining.end(),
                [&](const XClient& k) { return k.resource_base == client.resource_base; });
            if (was_killed) {
                disconnected.erase(client.resource_base);
                log_message(LogLevel::Warn,
                            "X: could not disconnect client " + hex_id(client.resource_base) +
                                " (" + client_pid_text(display, client.resource_base) + ")");
            }
        }
    }
    log_message(LogLevel::Info,
                std::string(revoked ? "X: revoked session authorization"
                                    : "X: session ended without an authorization of its own") +
                    "; clients disconnected: " + std::to_string(disconnected.size()));
}

Result<Ok> write_user_xauthority(const std::string& home) {
    if (session_cookie.empty()) {
        return Err{std::string("no cookie for the session")};
    }
    Result<std::string> host = host_name();
    if (!host.ok()) {
        return Err{host.error()};
    }
    const std::string path = user_xauthority_path(home);
    const int locked = XauLockAuth(path.c_str(), AUTHORITY_LOCK_RETRIES, AUTHORITY_LOCK_TIMEOUT_S,
                                   AUTHORITY_LOCK_DEAD_S);
    if (locked != LOCK_SUCCESS) {
        return Err{"cannot lock " + path + ": " +
                   (locked == LOCK_TIMEOUT ? std::string("timed out") : os_error_text(errno))};
    }
    const AuthorityLock lock{path};
    Result<std::vector<AuthEntry>> existing = read_authority_file(path);
    if (!existing.ok()) {
        return Err{existing.error()};
    }
    std::vector<AuthEntry> entries = replace_display_entries(
        existing.value(),
        local_cookie_entry(host.value(), display_number(X_DISPLAY_NAME), session_cookie));
    Result<Ok> written = write_authority_file(path, entries);
    for (AuthEntry& entry : entries) {
        wipe(entry.data);
    }
    for (AuthEntry& entry : existing.value()) {
        wipe(entry.data);
    }
    return written;
}
