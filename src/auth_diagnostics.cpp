#include "auth_diagnostics.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <shadow.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fd.h"
#include "log.h"
#include "owners.h"
#include "result.h"
#include "text.h"

namespace {

constexpr const char* LD_SO_CACHE = "/etc/ld.so.cache";
constexpr const char* LD_SO_CONF = "/etc/ld.so.conf";
constexpr const char* SHADOW_PATH = "/etc/shadow";
constexpr const char* PAM_SERVICE_FILE = "/etc/pam.d/vesko";
constexpr const char* PAM_UNIX_PATH = "/usr/lib/security/pam_unix.so";
constexpr const char* NSSWITCH_PATH = "/etc/nsswitch.conf";
constexpr const char* NSS_FILES_PLAIN = "/usr/lib/libnss_files.so.2";
constexpr const char* NSS_FILES_MULTIARCH = "/usr/lib/x86_64-linux-gnu/libnss_files.so.2";
constexpr const char* NSS_FILES_NAME = "libnss_files.so.2";
constexpr const char* CRYPT_LIBRARY_NAME = "libcrypt.so.1";
constexpr const char* CRYPT_SYMBOL = "crypt";
constexpr const char* PAM_DIR_MULTIARCH = "/usr/lib/x86_64-linux-gnu/security";
constexpr const char* PAM_DIR_PLAIN = "/usr/lib/security";
constexpr const char* CRYPT_CANDIDATES[] = {
    "/lib/x86_64-linux-gnu/libcrypt.so.1",
    "/usr/lib/x86_64-linux-gnu/libcrypt.so.1",
    "/usr/lib/libcrypt.so.1",
};

using CryptFunction = char* (*)(const char*, const char*);

const char* bool_text(bool value) {
    return value ? "true" : "false";
}

bool path_exists(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0;
}

std::string text_of(const char* c_text) {
    return c_text == nullptr ? "" : utf8_lossy(c_text);
}

std::string dlerror_text() {
    const char* text = ::dlerror();
    return text == nullptr ? "unknown error" : utf8_lossy(text);
}

// Loads a library only to prove it can be loaded, closing it again at once.
void probe_dlopen(const char* name) {
    const UniqueLibrary library(::dlopen(name, RTLD_NOW));
    if (!library) {
        log_message(LogLevel::Error,
                    std::string("PAM: dlopen('") + name + "') failed: " + dlerror_text());
        return;
    }
    log_message(LogLevel::Info, std::string("PAM: dlopen('") + name + "') succeeded");
}

// The whole file as UTF-8 text, in a secret (its hashes are secrets) sized once from the file:
// one that grows meanwhile is not read, rather than reallocated. Empty when it cannot be read or
// is not UTF-8.
SecretText read_shadow(bool& valid) {
    valid = false;
    const UniqueFd fd(::open(SHADOW_PATH, O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
        return {};
    }
    SecretText copy = SecretText::with_capacity(static_cast<size_t>(info.st_size));
    valid = copy.read_all_from(fd.get()) && is_valid_utf8(copy.view());
    return copy;
}

// Unsorted, as the directory yields them; an unreadable directory gives no names.
std::vector<std::string> list_directory(const char* path) {
    std::vector<std::string> names;
    const UniqueDir dir(::opendir(path));
    if (!dir) {
        return names;
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        names.push_back(utf8_lossy(name));
    }
    return names;
}

void append_hex(std::string& out, unsigned value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u{%x}", value);
    out += buf;
}

void check_password_against_shadow(std::string_view username, const SecretText& password) {
    bool valid = false;
    const SecretText shadow = read_shadow(valid);
    if (!valid) {
        return;
    }
    const std::optional<std::string_view> line = find_shadow_line(shadow.view(), username);
    if (!line) {
        return;
    }
    const std::optional<std::string_view> hash = shadow_hash_field(*line);
    if (!hash || hash->empty() || hash->front() != '$') {
        return;
    }
    const UniqueLibrary library(::dlopen(CRYPT_LIBRARY_NAME, RTLD_NOW));
    if (!library) {
        log_message(LogLevel::Error,
                    std::string("PAM: dlopen('") + CRYPT_LIBRARY_NAME + "') for crypt test failed");
        return;
    }
    const auto crypt_fn = reinterpret_cast<CryptFunction>(::dlsym(library.get(), CRYPT_SYMBOL));
    if (crypt_fn == nullptr) {
        log_message(LogLevel::Error, std::string("PAM: dlsym('") + CRYPT_SYMBOL + "') failed");
        return;
    }
    const SecretText setting(*hash);
    errno = 0;
    char* result = crypt_fn(password.c_str(), setting.c_str());
    const int crypt_errno = errno;
    if (result == nullptr) {
        log_message(LogLevel::Error,
                    "PAM: crypt() returned NULL, errno=" + std::to_string(crypt_errno));
        return;
    }
    const bool match = std::string_view(result) == *hash;
    // crypt's answer stays in libcrypt's static buffer until the next call.
    explicit_bzero(result, std::strlen(result));
    log_private(LogLevel::Info, std::string("PAM: crypt() password match=") + bool_text(match));
}

}  // namespace

std::string hash_preview(std::string_view hash) {
    if (hash.size() <= HASH_PREVIEW_BYTES) {
        return std::string(hash);
    }
    size_t cut = HASH_PREVIEW_BYTES;
    while (cut > 0 && (static_cast<unsigned char>(hash[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return std::string(hash.substr(0, cut)) + "...(len=" + std::to_string(hash.size()) + ")";
}

std::string format_name_list(const std::vector<std::string>& names) {
    std::string out = "[";
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += ", ";
        }
        out += '"';
        const std::string& name = names[i];
        for (size_t k = 0; k < name.size(); ++k) {
            const auto c = static_cast<unsigned char>(name[k]);
            switch (c) {
                case '"':
                    out += "\\\"";
                    continue;
                case '\\':
                    out += "\\\\";
                    continue;
                case '\n':
                    out += "\\n";
                    continue;
                case '\t':
                    out += "\\t";
                    continue;
                case '\r':
                    out += "\\r";
                    continue;
                case '\0':
                    out += "\\0";
                    continue;
                default:
                    break;
            }
            if (c < 0x20 || c == 0x7F) {
                append_hex(out, c);
            } else if (c == 0xC2 && k + 1 < name.size() &&
                       static_cast<unsigned char>(name[k + 1]) >= 0x80 &&
                       static_cast<unsigned char>(name[k + 1]) <= 0x9F) {
                // U+0080..U+009F, the second block of control characters.
                append_hex(out, static_cast<unsigned char>(name[k + 1]));
                ++k;
            } else {
                out += static_cast<char>(c);
            }
        }
        out += '"';
    }
    out += ']';
    return out;
}

std::optional<std::string_view> find_shadow_line(std::string_view shadow, std::string_view user) {
    while (!shadow.empty()) {
        const size_t end = shadow.find('\n');
        std::string_view line = shadow.substr(0, end);
        shadow = end == std::string_view::npos ? std::string_view() : shadow.substr(end + 1);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > user.size() && line.substr(0, user.size()) == user &&
            line[user.size()] == ':') {
            return line;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> shadow_hash_field(std::string_view line) {
    const size_t first = line.find(':');
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view rest = line.substr(first + 1);
    return rest.substr(0, rest.find(':'));
}

void diagnose_before_pam(const TypedName& user, const SecretText& password) {
    const std::string username(user.name);
    log_message(LogLevel::Info,
                "PAM: uid=" + std::to_string(::getuid()) + " euid=" + std::to_string(::geteuid()));

    const char* ld_path = std::getenv("LD_LIBRARY_PATH");
    const std::string ld_text =
        ld_path != nullptr && is_valid_utf8(ld_path) ? std::string(ld_path) : "(unset)";
    log_message(LogLevel::Info, "PAM: LD_LIBRARY_PATH=" + ld_text);

    log_message(LogLevel::Info, std::string("PAM: /etc/ld.so.cache=") +
                                    bool_text(path_exists(LD_SO_CACHE)) +
                                    " /etc/ld.so.conf=" + bool_text(path_exists(LD_SO_CONF)));

    log_message(LogLevel::Info,
                std::string("PAM: /etc/shadow=") + bool_text(path_exists(SHADOW_PATH)) +
                    " /etc/pam.d/vesko=" + bool_text(path_exists(PAM_SERVICE_FILE)) +
                    " pam_unix.so=" + bool_text(path_exists(PAM_UNIX_PATH)) +
                    " nsswitch.conf=" + bool_text(path_exists(NSSWITCH_PATH)) +
                    " libnss_files=/usr/lib:" + bool_text(path_exists(NSS_FILES_PLAIN)) +
                    " multiarch:" + bool_text(path_exists(NSS_FILES_MULTIARCH)));

    struct stat st {};
    if (::stat(SHADOW_PATH, &st) != 0) {
        log_message(LogLevel::Error, "PAM: cannot stat /etc/shadow: " + os_error_text(errno));
    } else {
        char mode[32];
        std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(st.st_mode));
        log_message(LogLevel::Info, std::string("PAM: /etc/shadow mode=") + mode +
                                        " uid=" + std::to_string(st.st_uid) +
                                        " gid=" + std::to_string(st.st_gid));
    }

    errno = 0;
    const passwd* pw = ::getpwnam(username.c_str());
    const int pw_errno = errno;
    if (pw == nullptr) {
        log_typed_name(LogLevel::Error, user, "PAM: getpwnam(",
                       ") returned NULL, errno=" + std::to_string(pw_errno));
    } else {
        log_message(LogLevel::Info,
                    "PAM: getpwnam('" + username + "') ok: uid=" + std::to_string(pw->pw_uid) +
                        " gid=" + std::to_string(pw->pw_gid) + " home=" + text_of(pw->pw_dir));
    }

    errno = 0;
    const spwd* sp = ::getspnam(username.c_str());
    const int sp_errno = errno;
    if (sp == nullptr) {
        log_typed_name(LogLevel::Error, user, "PAM: getspnam(",
                       ") returned NULL, errno=" + std::to_string(sp_errno));
    } else {
        log_private(LogLevel::Info, "PAM: getspnam('" + username +
                                        "') ok: name=" + text_of(sp->sp_namp) +
                                        " hash=" + hash_preview(text_of(sp->sp_pwdp)));
    }

    probe_dlopen(NSS_FILES_NAME);
    check_password_against_shadow(username, password);
    probe_dlopen(PAM_UNIX_PATH);
}

void diagnose_after_pam_init(const TypedName& user) {
    const std::string_view username = user.name;
    log_message(LogLevel::Debug, std::string("PAM: ") + PAM_DIR_MULTIARCH + "=" +
                                     bool_text(path_exists(PAM_DIR_MULTIARCH)) + " " +
                                     PAM_DIR_PLAIN + "=" + bool_text(path_exists(PAM_DIR_PLAIN)));
    for (const char* candidate : CRYPT_CANDIDATES) {
        log_message(LogLevel::Debug,
                    std::string("PAM: ") + candidate + "=" + bool_text(path_exists(candidate)));
    }
    log_message(LogLevel::Debug, std::string("PAM: ") + PAM_DIR_PLAIN + "/ contains: " +
                                     format_name_list(list_directory(PAM_DIR_PLAIN)));

    bool valid = false;
    const SecretText shadow = read_shadow(valid);
    if (!valid) {
        log_message(LogLevel::Error, "PAM: cannot read /etc/shadow!");
        return;
    }
    const std::optional<std::string_view> line = find_shadow_line(shadow.view(), username);
    if (!line) {
        log_typed_name(LogLevel::Error, user, "PAM: user ", " NOT found in /etc/shadow!");
        return;
    }
    const std::string_view hash = shadow_hash_field(*line).value_or(std::string_view());
    log_private(LogLevel::Info, "PAM: shadow entry for '" + std::string(username) +
                                    "': hash=" + hash_preview(hash));
}
