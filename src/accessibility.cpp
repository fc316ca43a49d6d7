#include "accessibility.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "fd.h"
#include "last_user.h"
#include "log.h"
#include "state_file.h"
#include "text.h"

namespace {

constexpr std::string_view NORMAL_WORDS = "normal";
constexpr std::string_view HIGH_CONTRAST_WORDS = "high_contrast";
constexpr std::string_view LARGE_TEXT_WORDS = "large_text";
constexpr std::string_view BOTH_WORDS = "high_contrast large_text";
// The longest choice and its line feed; a bigger file is not read at all.
constexpr size_t FILE_BYTES = BOTH_WORDS.size() + 1;

std::string_view words_of(Look look) {
    if (look.high_contrast) {
        return look.large_text ? BOTH_WORDS : HIGH_CONTRAST_WORDS;
    }
    return look.large_text ? LARGE_TEXT_WORDS : NORMAL_WORDS;
}

Result<Look> read_choice() {
    const UniqueFd fd = open_regular_file(ACCESSIBILITY_PATH, O_RDONLY | O_NOFOLLOW);
    if (!fd.valid()) {
        return Err{errno == EINVAL ? "it is not a regular file" : os_error_text(errno)};
    }
    char bytes[FILE_BYTES + 1] = {};
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n =
            retry_on_eintr([&] { return ::read(fd.get(), bytes + got, sizeof bytes - got); });
        if (n < 0) {
            return Err{os_error_text(errno)};
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    if (got > FILE_BYTES) {
        return Err{"it is larger than " + std::to_string(FILE_BYTES) + " bytes"};
    }
    return parse_accessibility(std::string_view(bytes, got));
}

}  // namespace

Result<Look> parse_accessibility(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.remove_suffix(1);
    }
    for (const Look look :
         {Look{false, false}, Look{true, false}, Look{false, true}, Look{true, true}}) {
        if (bytes == words_of(look)) {
            return look;
        }
    }
    return Err{std::string("it names no look")};
}

Look next_look(Look look) {
    if (look.high_contrast != look.large_text) {
        look.large_text = !look.large_text;
    } else {
        look.high_contrast = !look.high_contrast;
    }
    return look;
}

Look load_look(Look configured) {
    if (::access(ACCESSIBILITY_PATH, F_OK) != 0 && errno == ENOENT) {
        return configured;
    }
    const Result<Look> choice = read_choice();
    if (!choice.ok()) {
        log_message(LogLevel::Warn, std::string("Ignoring the look kept in ") + ACCESSIBILITY_PATH +
                                        ": " + choice.error());
        return configured;
    }
    return choice.value();
}

Result<Ok> save_look(Look look) {
    if (::mkdir(LAST_USER_DIR, LAST_USER_DIR_MODE) != 0 && errno != EEXIST) {
        return Err{std::string("cannot create ") + LAST_USER_DIR + ": " + os_error_text(errno)};
    }
    return replace_state_file(ACCESSIBILITY_PATH, std::string(words_of(look)) + "\n",
                              LAST_USER_MODE);
}
