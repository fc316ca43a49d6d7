#include "power.h"

#include <fcntl.h>
#include <linux/vt.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "fd.h"
#include "log.h"

Result<Ok, int> write_sysrq_to(const char* path, char command) {
    const UniqueFd trigger(retry_on_eintr(
        [&] { return ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); }));
    if (!trigger.valid()) {
        return Err{errno};
    }
    const ssize_t written = retry_on_eintr([&] { return ::write(trigger.get(), &command, 1); });
    if (written < 0) {
        return Err{errno};
    }
    if (written == 0) {
        return Err{EIO};
    }
    return Ok{};
}

Result<Ok, int> write_sysrq(char command) {
    // The kernel acts on the byte at once; without this, what users saved just before they
    // logged out may still sit in the page cache.
    ::sync();
    return write_sysrq_to(SYSRQ_TRIGGER_PATH, command);
}

void switch_vt() {
    log_message(LogLevel::Info, "Power: switching to VT " + std::to_string(CONSOLE_VT));
    // O_NOCTTY: a session leader (the session child is one) must not adopt the console as its
    // controlling terminal.
    const UniqueFd tty(::open(TTY0_PATH, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!tty.valid()) {
        log_message(LogLevel::Error, "Power: failed to open /dev/tty0");
        return;
    }
    // Waiting for a terminal that was never asked to become active would block for ever.
    if (::ioctl(tty.get(), VT_ACTIVATE, CONSOLE_VT) == 0) {
        (void)::ioctl(tty.get(), VT_WAITACTIVE, CONSOLE_VT);
    }
}
