#include "session_choice.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fd.h"
#include "log.h"
#include "session_list.h"
#include "state_file.h"

namespace {

constexpr size_t CHOICE_FILE_BYTES = MAX_SESSION_ID_BYTES + 1;

Result<std::string> read_choice(const std::string& path) {
    const UniqueFd fd = open_regular_file(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (!fd.valid()) {
        return Err{errno == EINVAL ? std::string("it is not a regular file")
                                   : os_error_text(errno)};
    }
    std::string bytes(CHOICE_FILE_BYTES + 1, '\0');
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = retry_on_eintr(
            [&] { return ::read(fd.get(), bytes.data() + got, bytes.size() - got); });
        if (n < 0) {
            return Err{os_error_text(errno)};
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return parse_session_choice(bytes);
}

Result<Ok> make_dir(const char* path) {
    if (::mkdir(path, SESSION_CHOICE_DIR_MODE) != 0 && errno != EEXIST) {
        return Err{std::string("cannot create ") + path + ": " + os_error_text(errno)};
    }
    struct stat info {};
    if (::lstat(path, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != 0) {
        return Err{std::string(path) + " is not root's directory"};
    }
    return Ok{};
}

}  // namespace

std::string session_choice_path(uint32_t uid) {
    return std::string(SESSION_CHOICE_DIR) + "/" + std::to_string(uid);
}

Result<std::string> parse_session_choice(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.remove_suffix(1);
    }
    if (!is_session_id(bytes)) {
        return Err{"it holds no session name"};
    }
    return std::string(bytes);
}

std::optional<std::string> load_session_choice(uint32_t uid) {
    const std::string path = session_choice_path(uid);
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) {
        return std::nullopt;
    }
    Result<std::string> id = read_choice(path);
    if (!id.ok()) {
        log_message(LogLevel::Warn,
                    "Ignoring the session remembered in " + path + ": " + id.error());
        return std::nullopt;
    }
    return std::move(id).value();
}

Result<Ok> save_session_choice(uint32_t uid, std::string_view id) {
    const std::string path = session_choice_path(uid);
    if (id.empty()) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            return Err{"cannot remove " + path + ": " + os_error_text(errno)};
        }
        return Ok{};
    }
    if (!is_session_id(id)) {
        return Err{"not a session name"};
    }
    for (const char* dir : {SESSION_CHOICE_PARENT, SESSION_CHOICE_DIR}) {
        if (Result<Ok> made = make_dir(dir); !made.ok()) {
            return made;
        }
    }
    return replace_state_file(path, std::string(id) + "\n", SESSION_CHOICE_MODE);
}
