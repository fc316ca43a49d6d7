// Runs one real PAM transaction for the end-to-end tests: auth_probe NAME PASSWORD.
// Prints the error text, or "Success" and the variables the login set, on standard output; the log
// lines go where the daemon's go. Only for the test sandbox: it reads the real shadow database and
// writes the real log file.
#include <sys/vfs.h>

#include <cstdio>
#include <cstdlib>

#include "auth.h"

namespace {

constexpr long TMPFS_MAGIC_NUMBER = 0x01021994;

// The sandbox replaces /proc with a tmpfs; the host never does.
bool inside_sandbox() {
    struct statfs fs {};
    return ::statfs("/proc", &fs) == 0 && fs.f_type == TMPFS_MAGIC_NUMBER;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: auth_probe NAME PASSWORD\n");
        return 2;
    }
    if (!inside_sandbox()) {
        std::fprintf(stderr, "auth_probe: refusing to run outside the test sandbox\n");
        return 2;
    }
    const Result<Ok> result = authenticate_user(argv[1], argv[2]);
    if (!result.ok()) {
        std::printf("%s\n", result.error().c_str());
        return 1;
    }
    std::printf("Success\n");
    // What a successful login leaves in the daemon's own environment.
    for (const char* name : {"USER", "LOGNAME", "HOME", "PWD", "SHELL"}) {
        const char* value = std::getenv(name);
        std::printf("%s=%s\n", name, value == nullptr ? "(unset)" : value);
    }
    return 0;
}
