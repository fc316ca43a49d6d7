// Runs one real PAM transaction for the end-to-end tests, the way a login does but in one
// process: auth_probe NAME PASSWORD [NEW_PASSWORD]. Prints the error text (then, when the login
// screen would show a module's message instead, "shown: " and that message), or "Success", the
// session's PAM environment and what is left in the process's own environment, on standard
// output; the log
// lines go where the daemon's go. Only for the test sandbox: it reads the real shadow database
// and writes the real log file.
#include <sys/vfs.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "auth.h"

namespace {

constexpr long TMPFS_MAGIC_NUMBER = 0x01021994;

// The sandbox replaces /proc with a tmpfs; the host never does.
bool inside_sandbox() {
    struct statfs fs {};
    return ::statfs("/proc", &fs) == 0 && fs.f_type == TMPFS_MAGIC_NUMBER;
}

void print_failure(const PamFailure& failure) {
    std::printf("%s\n", failure.text.c_str());
    if (failure.shown != failure.text) {
        std::printf("shown: %s\n", failure.shown.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: auth_probe NAME PASSWORD [NEW_PASSWORD]\n");
        return 2;
    }
    if (!inside_sandbox()) {
        std::fprintf(stderr, "auth_probe: refusing to run outside the test sandbox\n");
        return 2;
    }
    const SecretText password(argv[2]);
    const SecretText new_password(argc == 4 ? argv[3] : "");
    Result<std::unique_ptr<PamClient>, PamFailure> login = begin_pam_login(
        TypedName{argv[1], true}, argc == 4 ? LoginMode::ChangeExpiredPassword : LoginMode::Normal,
        password, new_password);
    if (!login.ok()) {
        print_failure(login.error());
        return 1;
    }
    PamClient& client = *login.value();
    const Result<Ok, PamFailure> opened = open_pam_session(client, session_pam_items(1));
    if (!opened.ok()) {
        print_failure(opened.error());
        return 1;
    }
    const std::vector<PamEnvItem> environment = pam_environment(client);
    release_pam_client(client);
    std::printf("Success\n");
    for (const auto& [name, value] : environment) {
        std::printf("pam %s=%s\n", name.c_str(), value.c_str());
    }
    // The login must leave the process's own environment alone.
    for (const char* name : {"USER", "LOGNAME", "HOME", "PWD", "SHELL"}) {
        const char* value = std::getenv(name);
        std::printf("%s=%s\n", name, value == nullptr ? "(unset)" : value);
    }
    return 0;
}
