// Arbitrary bytes as what a PAM module says: what is kept is valid UTF-8 without control
// characters or blanks at its ends, at most MODULE_MESSAGE_BYTES long, and never more than
// KEPT_MODULE_MESSAGES messages.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "pam_conversation.h"
#include "text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> kept;
    // A zero byte ends one message, as it would in C.
    while (!bytes.empty()) {
        const size_t end = bytes.find('\0');
        keep_module_message(kept, bytes.substr(0, end));
        bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    }
    if (kept.size() > KEPT_MODULE_MESSAGES) {
        std::abort();
    }
    for (const std::string& text : kept) {
        if (text.empty() || text.size() > MODULE_MESSAGE_BYTES || !is_valid_utf8(text) ||
            has_control_char(text) || text.front() == ' ' || text.back() == ' ') {
            std::fprintf(stderr, "module_message_fuzz: kept a bad message\n");
            std::abort();
        }
    }
    return 0;
}
