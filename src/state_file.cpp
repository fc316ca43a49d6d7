#include "state_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "fd.h"
#include "owners.h"
#include "text.h"

Result<Ok> replace_state_file(const std::string& path, std::string_view text, mode_t mode) {
    const std::string temp_path = path + ".new";
    // A leftover, a link or a FIFO at the temporary path is replaced, not opened.
    (void)::unlink(temp_path.c_str());
    const UniqueFd fd(
        ::open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid()) {
        return Err{"cannot create " + temp_path + ": " + os_error_text(errno)};
    }
    TempFile temp(temp_path);
    if (!write_all(fd.get(), text) || ::fchmod(fd.get(), mode) != 0 || ::fsync(fd.get()) != 0) {
        return Err{"cannot write " + temp_path + ": " + os_error_text(errno)};
    }
    if (!temp.commit(path)) {
        return Err{"cannot rename it to " + path + ": " + os_error_text(errno)};
    }
    return Ok{};
}
