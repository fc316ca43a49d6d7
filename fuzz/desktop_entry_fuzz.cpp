// Arbitrary bytes as an X session's desktop entry: an accepted entry has a Name and an Exec
// without control characters, DesktopNames that can be joined with ':', and an Exec without a
// field code left in it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "desktop_entry.h"
#include "text.h"

namespace {

[[noreturn]] void reject(const char* why) {
    std::fprintf(stderr, "desktop_entry_fuzz: %s\n", why);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Result<DesktopEntry> parsed = parse_desktop_entry(bytes);
    if (!parsed.ok()) {
        if (parsed.error().empty()) {
            reject("an empty error");
        }
        return 0;
    }
    const DesktopEntry& entry = parsed.value();
    if (entry.name.empty() || entry.name.size() > MAX_SESSION_NAME_BYTES ||
        has_control_char(entry.name) || !is_valid_utf8(entry.name)) {
        reject("accepted a bad Name");
    }
    if (entry.exec.empty() || has_control_char(entry.exec) || !is_valid_utf8(entry.exec)) {
        reject("accepted a bad Exec");
    }
    for (const std::string& desktop : entry.desktop_names) {
        if (desktop.empty() || desktop.find(':') != std::string::npos ||
            has_control_char(desktop)) {
            reject("accepted a bad DesktopNames item");
        }
    }
    // Stripping field codes once more finds none but the "%" an escaped "%%" left.
    (void)strip_field_codes(entry.exec);
    return 0;
}
