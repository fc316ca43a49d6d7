#include "last_user.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fd.h"
#include "log.h"
#include "state_file.h"
#include "text.h"

namespace {

// At most `limit` bytes: the file may grow between fstat and read.
std::optional<std::string> read_at_most(int fd, size_t limit) {
    std::string bytes(limit, '\0');
    size_t got = 0;
    while (got < limit) {
        const ssize_t n =
            retry_on_eintr([&] { return ::read(fd, bytes.data() + got, limit - got); });
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

Result<std::string> read_last_user() {
    const UniqueFd fd = open_regular_file(LAST_USER_PATH, O_RDONLY | O_NOFOLLOW);
    if (!fd.valid()) {
        return Err{errno == EINVAL ? "it is not a regular file" : os_error_text(errno)};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return Err{os_error_text(errno)};
    }
    if (static_cast<unsigned long long>(st.st_size) > LAST_USER_FILE_BYTES) {
        return Err{"it is larger than " + std::to_string(LAST_USER_FILE_BYTES) + " bytes"};
    }
    const std::optional<std::string> bytes = read_at_most(fd.get(), LAST_USER_FILE_BYTES + 1);
    if (!bytes) {
        return Err{os_error_text(errno)};
    }
    return parse_last_user(*bytes);
}

}  // namespace

Result<std::string> parse_last_user(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.remove_suffix(1);
    }
    if (bytes.empty()) {
        return Err{"it holds no name"};
    }
    if (bytes.size() > LAST_USER_NAME_BYTES) {
        return Err{"the name is longer than " + std::to_string(LAST_USER_NAME_BYTES) + " bytes"};
    }
    if (!is_valid_utf8(bytes)) {
        return Err{"it is not valid UTF-8"};
    }
    if (has_control_char(bytes)) {
        return Err{"the name holds a control character"};
    }
    return std::string(bytes);
}

std::optional<std::string> load_last_user() {
    if (::access(LAST_USER_PATH, F_OK) != 0 && errno == ENOENT) {
        return std::nullopt;
    }
    Result<std::string> name = read_last_user();
    if (!name.ok()) {
        log_message(LogLevel::Warn, std::string("Ignoring the last user in ") + LAST_USER_PATH +
                                        ": " + name.error());
        return std::nullopt;
    }
    return std::move(name).value();
}

Result<Ok> save_last_user(std::string_view name) {
    if (::mkdir(LAST_USER_DIR, LAST_USER_DIR_MODE) != 0 && errno != EEXIST) {
        return Err{std::string("cannot create ") + LAST_USER_DIR + ": " + os_error_text(errno)};
    }
    return replace_state_file(LAST_USER_PATH, std::string(name) + "\n", LAST_USER_MODE);
}
