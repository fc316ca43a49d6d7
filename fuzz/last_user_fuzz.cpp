// Arbitrary bytes as the last-user state file: an accepted name is valid UTF-8 of at most 256
// bytes without control characters, and the file the daemon would write for it reads back as
// the same name.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "last_user.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Result<std::string> parsed = parse_last_user(bytes);
    if (!parsed.ok()) {
        if (parsed.error().empty()) {
            std::abort();
        }
        return 0;
    }
    const std::string& name = parsed.value();
    if (name.empty() || name.size() > LAST_USER_NAME_BYTES || !is_valid_utf8(name) ||
        has_control_char(name)) {
        std::fprintf(stderr, "last_user_fuzz: accepted a bad name\n");
        std::abort();
    }
    const Result<std::string> again = parse_last_user(name + "\n");
    if (!again.ok() || again.value() != name) {
        std::fprintf(stderr, "last_user_fuzz: the written file reads back differently\n");
        std::abort();
    }
    return 0;
}
