#include "xauth.h"

#include <X11/Xauth.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fd.h"
#include "log.h"
#include "owners.h"
#include "text.h"
#include "xserver.h"

namespace {

// Empty when the server runs without an authority file.
std::string server_cookie;

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

// The server's authority, open for the whole run: renewals overwrite it in place, so they need
// no space that a user could have taken (a full /run through their runtime directory).
UniqueFd server_authority;
std::string server_record;

Result<ServerAuthority> open_server_file() {
    if (Result<Ok> dir = make_server_authority_dir(); !dir.ok()) {
        return Err{dir.error()};
    }
    UniqueFd fd(::open(SERVER_AUTHORITY_PATH,
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                       AUTHORITY_FILE_MODE));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return Err{"cannot open " + std::string(SERVER_AUTHORITY_PATH) + ": " +
                   os_error_text(errno)};
    }
    if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return Err{std::string(SERVER_AUTHORITY_PATH) + " is not a file of its own"};
    }
    (void)::fchmod(fd.get(), AUTHORITY_FILE_MODE);
    server_authority = std::move(fd);
    server_record.clear();
    return ServerAuthority{SERVER_AUTHORITY_PATH, -1};
}

// Where the file cannot be had: memory, which the server opens through its own descriptor table.
Result<ServerAuthority> open_memory_file() {
    UniqueFd fd(::memfd_create("vesko-xauth", MFD_CLOEXEC));
    if (!fd.valid()) {
        return Err{"memfd_create: " + os_error_text(errno)};
    }
    const int number = fd.get();
    server_authority = std::move(fd);
    server_record.clear();
    return ServerAuthority{"/proc/self/fd/" + std::to_string(number), number};
}

Result<Ok> write_at_start(int fd, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = retry_on_eintr([&] {
            return ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        });
        if (wrote <= 0) {
            return Err{os_error_text(wrote < 0 ? errno : EIO)};
        }
        done += static_cast<size_t>(wrote);
    }
    return Ok{};
}

// The record for `cookie` over the one there. A failed write puts the old record back (its
// blocks are there already), so that the server never reads half of each.
Result<Ok> write_server_record(const std::string& cookie) {
    Result<std::string> host = host_name();
    if (!host.ok()) {
        return Err{host.error()};
    }
    AuthEntry entry = local_cookie_entry(host.value(), display_number(x_display_name()), cookie);
    std::string record = authority_bytes({entry});
    wipe_text(entry.data);
    const int fd = server_authority.get();
    Result<Ok> written = write_at_start(fd, record);
    if (written.ok() && record.size() < server_record.size() &&
        ::ftruncate(fd, static_cast<off_t>(record.size())) != 0) {
        written = Err{os_error_text(errno)};
    }
    if (written.ok() && ::fdatasync(fd) != 0 && errno != EINVAL) {
        written = Err{os_error_text(errno)};
    }
    if (!written.ok()) {
        (void)write_at_start(fd, server_record);
        wipe_text(record);
        return Err{"cannot write " + std::string(SERVER_AUTHORITY_PATH) + ": " + written.error()};
    }
    wipe_text(server_record);
    server_record = std::move(record);
    return Ok{};
}

void adopt_cookie(std::string cookie) {
    wipe_text(server_cookie);
    server_cookie = std::move(cookie);
    // Xlib keeps its own copy; nothing goes into the environment a session could inherit.
    XSetAuthorization(const_cast<char*>(COOKIE_AUTH_NAME),
                      static_cast<int>(std::strlen(COOKIE_AUTH_NAME)), server_cookie.data(),
                      static_cast<int>(server_cookie.size()));
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
        const ssize_t got = retry_on_eintr(
            [&] { return ::getrandom(cookie.data() + filled, cookie.size() - filled, 0); });
        if (got < 0) {
            return Err{"getrandom: " + os_error_text(errno)};
        }
        filled += static_cast<size_t>(got);
    }
    return cookie;
}

Result<std::vector<AuthEntry>> read_authority_file(const std::string& path) {
    std::vector<AuthEntry> entries;
    // A FIFO would block the session for ever; a link could lead anywhere.
    UniqueFd fd = open_regular_file(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (!fd.valid()) {
        if (errno == ENOENT) {
            return entries;
        }
        return Err{"cannot read " + path + ": " +
                   (errno == EINVAL ? std::string("not a regular file") : os_error_text(errno))};
    }
    const UniqueFile file(::fdopen(fd.get(), "rb"));
    if (!file) {
        return Err{"cannot read " + path + ": " + os_error_text(errno)};
    }
    (void)fd.release();
    while (Xauth* auth = XauReadAuth(file.get())) {
        entries.push_back({auth->family, std::string(auth->address, auth->address_length),
                           std::string(auth->number, auth->number_length),
                           std::string(auth->name, auth->name_length),
                           std::string(auth->data, auth->data_length)});
        ::explicit_bzero(auth->data, auth->data_length);
        XauDisposeAuth(auth);
    }
    return entries;
}

Result<Ok> write_authority_file(const std::string& path, const std::vector<AuthEntry>& entries) {
    // libXau's own tools write beside the file under this name, under the same lock.
    const std::string temp_path = path + "-n";
    const auto create = [&] {
        return ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      AUTHORITY_FILE_MODE);
    };
    UniqueFd fd(create());
    if (!fd.valid() && errno == EEXIST) {
        (void)::unlink(temp_path.c_str());
        fd.reset(create());
    }
    if (!fd.valid()) {
        return Err{"cannot create " + temp_path + ": " + os_error_text(errno)};
    }
    TempFile temp(temp_path);
    // The umask may only have narrowed the mode; make it exact.
    (void)::fchmod(fd.get(), AUTHORITY_FILE_MODE);
    UniqueFile file(::fdopen(fd.get(), "wb"));
    if (!file) {
        return Err{"cannot write " + temp_path + ": " + os_error_text(errno)};
    }
    const int raw_fd = fd.release();
    bool written = true;
    for (const AuthEntry& entry : entries) {
        Xauth auth = to_xauth(entry);
        written = written && XauWriteAuth(file.get(), &auth) == 1;
    }
    written = written && std::fflush(file.get()) == 0 && ::fsync(raw_fd) == 0;
    const int err = errno;
    written = std::fclose(file.release()) == 0 && written;
    if (!written) {
        return Err{"cannot write " + temp_path + ": " + os_error_text(err != 0 ? err : EIO)};
    }
    if (!temp.commit(path)) {
        return Err{"cannot replace " + path + ": " + os_error_text(errno)};
    }
    return Ok{};
}

std::string authority_bytes(const std::vector<AuthEntry>& entries) {
    std::string bytes;
    const auto put = [&bytes](const std::string& field) {
        bytes += static_cast<char>((field.size() >> 8) & 0xff);
        bytes += static_cast<char>(field.size() & 0xff);
        bytes += field;
    };
    for (const AuthEntry& entry : entries) {
        bytes += static_cast<char>((entry.family >> 8) & 0xff);
        bytes += static_cast<char>(entry.family & 0xff);
        put(entry.address);
        put(entry.number);
        put(entry.name);
        put(entry.data);
    }
    return bytes;
}

Result<ServerAuthority> create_server_authority(std::string& file_error) {
    Result<std::string> cookie = generate_cookie();
    if (!cookie.ok()) {
        return Err{cookie.error()};
    }
    Result<ServerAuthority> where = open_server_file();
    Result<Ok> written = where.ok() ? write_server_record(cookie.value()) : Err{where.error()};
    if (!written.ok()) {
        file_error = written.error();
        // An empty file there would only mislead root's own clients.
        if (where.ok()) {
            (void)::unlink(SERVER_AUTHORITY_PATH);
        }
        where = open_memory_file();
        written = where.ok() ? write_server_record(cookie.value()) : Err{where.error()};
    }
    if (!written.ok()) {
        wipe_text(cookie.value());
        return Err{written.error()};
    }
    adopt_cookie(std::move(cookie.value()));
    return where;
}

Result<Ok> renew_server_authority() {
    Result<std::string> cookie = generate_cookie();
    if (!cookie.ok()) {
        return Err{cookie.error()};
    }
    if (Result<Ok> written = write_server_record(cookie.value()); !written.ok()) {
        wipe_text(cookie.value());
        return written;
    }
    adopt_cookie(std::move(cookie.value()));
    return Ok{};
}

Result<Ok> rename_server_authority() {
    return write_server_record(server_cookie);
}

Result<Ok> write_user_xauthority(const std::string& home) {
    if (server_cookie.empty()) {
        return Err{std::string("no cookie for the session")};
    }
    Result<std::string> host = host_name();
    if (!host.ok()) {
        return Err{host.error()};
    }
    const std::string path = user_xauthority_path(home);
    // libXau would retry its lock for seconds in a home it cannot write into.
    if (::access(home.c_str(), W_OK | X_OK) != 0) {
        return Err{"cannot write into " + home + ": " + os_error_text(errno)};
    }
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
        local_cookie_entry(host.value(), display_number(x_display_name()), server_cookie));
    Result<Ok> written = write_authority_file(path, entries);
    for (AuthEntry& entry : entries) {
        wipe_text(entry.data);
    }
    for (AuthEntry& entry : existing.value()) {
        wipe_text(entry.data);
    }
    return written;
}

bool have_server_cookie() {
    return !server_cookie.empty();
}

std::string private_xauthority_path(const std::string& dir) {
    return dir + "/" + PRIVATE_AUTHORITY_NAME;
}

Result<Ok> write_private_xauthority(const std::string& path) {
    if (server_cookie.empty()) {
        return Err{std::string("no cookie for the session")};
    }
    Result<std::string> host = host_name();
    if (!host.ok()) {
        return Err{host.error()};
    }
    AuthEntry entry =
        local_cookie_entry(host.value(), display_number(x_display_name()), server_cookie);
    Result<Ok> written = write_authority_file(path, {entry});
    wipe_text(entry.data);
    return written;
}
