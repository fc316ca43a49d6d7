#include "runtime_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "fd.h"
#include "log.h"

namespace {

// A tree deeper than this is the user's doing; it stays, rather than the stack going.
constexpr int MAX_REMOVAL_DEPTH = 64;

void warn_left_out(const std::string& path, const std::string& why) {
    log_message(LogLevel::Warn, "Session: XDG_RUNTIME_DIR left out: " + path + ": " + why);
}

// Empties the directory open as `dir`. Everything goes through descriptors, so a name the user
// swaps for a link meanwhile is removed as a link, never followed.
bool remove_contents(int dir, dev_t device, int depth) {
    if (depth > MAX_REMOVAL_DEPTH) {
        return false;
    }
    std::vector<std::string> names;
    {
        const int listing = ::dup(dir);
        DIR* stream = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (stream == nullptr) {
            if (listing >= 0) {
                ::close(listing);
            }
            return false;
        }
        while (const dirent* entry = ::readdir(stream)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        ::closedir(stream);
    }
    bool emptied = true;
    for (const std::string& name : names) {
        struct stat info {};
        if (::fstatat(dir, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;  // gone meanwhile
        }
        if (S_ISDIR(info.st_mode)) {
            const UniqueFd sub(
                ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            struct stat opened {};
            const bool same = sub.valid() && ::fstat(sub.get(), &opened) == 0 &&
                              opened.st_dev == device && opened.st_ino == info.st_ino;
            emptied = same && remove_contents(sub.get(), device, depth + 1) &&
                      ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) == 0 && emptied;
        } else {
            emptied = ::unlinkat(dir, name.c_str(), 0) == 0 && emptied;
        }
    }
    return emptied;
}

}  // namespace

RuntimeDir prepare_runtime_dir(const UserInfo& user) {
    const std::string path = runtime_dir_path(user.uid);
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (const std::optional<std::string> problem = runtime_dir_problem(info, user.uid)) {
            warn_left_out(path, *problem);
            return {};
        }
        return {true, false};
    }
    (void)::mkdir(RUNTIME_DIR_PARENT, RUNTIME_DIR_PARENT_MODE);
    if (::mkdir(path.c_str(), RUNTIME_DIR_MODE) != 0) {
        warn_left_out(path, "cannot create it: " + os_error_text(errno));
        return {};
    }
    const UniqueFd dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!dir.valid() || ::fchown(dir.get(), user.uid, user.gid) != 0 ||
        ::fchmod(dir.get(), RUNTIME_DIR_MODE) != 0) {
        warn_left_out(path, "cannot hand it to the user: " + os_error_text(errno));
        return {false, true};
    }
    return {true, true};
}

void remove_runtime_dir(const UserInfo& user) {
    const std::string name = std::to_string(user.uid);
    const std::string path = runtime_dir_path(user.uid);
    const UniqueFd parent(
        ::open(RUNTIME_DIR_PARENT, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const UniqueFd dir(parent.valid() ? ::openat(parent.get(), name.c_str(),
                                                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                                      : -1);
    struct stat info {};
    if (!dir.valid() || ::fstat(dir.get(), &info) != 0) {
        return;  // nothing there any more
    }
    if (!remove_contents(dir.get(), info.st_dev, 0) ||
        ::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0) {
        log_message(LogLevel::Warn, "Session: could not remove all of " + path);
    }
}
