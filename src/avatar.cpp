#include "avatar.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <vector>

#include "avatar_child.h"

std::array<std::string, 2> avatar_candidates(std::string_view home) {
    std::string base(home);
    return {base + "/.face", base + "/.config/vesko/avatar.png"};
}

void avatar_mask(BgraBuffer& pixels, int size) {
    if (size <= 0 || pixels.size() < size_t(size) * size_t(size) * 4) {
        return;
    }
    const int centre = size / 2;
    const double radius = centre;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = (x - centre) + 0.5;
            const double dy = (y - centre) + 0.5;
            const double d = std::sqrt(dx * dx + dy * dy);
            uint8_t* pixel = pixels.data() + (size_t(y) * size_t(size) + size_t(x)) * 4;
            if (d > radius) {
                pixel[0] = pixel[1] = pixel[2] = pixel[3] = 0;
            } else if (d > radius - 1.0) {
                double alpha = pixel[3] * (radius - d);
                alpha = alpha < 0.0 ? 0.0 : (alpha > 255.0 ? 255.0 : alpha);
                pixel[3] = static_cast<uint8_t>(alpha);
            }
        }
    }
}

namespace {

// Switches the file-system identity and the supplementary groups for one scope. Root's own
// groups would otherwise still grant access through the group bits.
struct FsIdentity {
    uid_t saved_uid;
    gid_t saved_gid;
    std::vector<gid_t> saved_groups;
    bool groups_changed = false;

    FsIdentity(const char* user_name, uid_t uid, gid_t gid) {
        int count = ::getgroups(0, nullptr);
        if (count >= 0) {
            saved_groups.resize(size_t(count));
            count = ::getgroups(count, saved_groups.data());
        }
        if (count >= 0) {
            saved_groups.resize(size_t(count));
            std::vector<gid_t> groups(16);
            int n = static_cast<int>(groups.size());
            if (::getgrouplist(user_name, gid, groups.data(), &n) < 0) {
                groups.resize(size_t(n));
                ::getgrouplist(user_name, gid, groups.data(), &n);
            }
            groups.resize(size_t(std::max(n, 0)));
            groups_changed = ::setgroups(groups.size(), groups.data()) == 0;
        }
        saved_gid = static_cast<gid_t>(::setfsgid(gid));
        saved_uid = static_cast<uid_t>(::setfsuid(uid));
    }
    FsIdentity(const FsIdentity&) = delete;
    FsIdentity& operator=(const FsIdentity&) = delete;
    ~FsIdentity() {
        ::setfsuid(saved_uid);
        ::setfsgid(saved_gid);
        if (groups_changed) {
            ::setgroups(saved_groups.size(), saved_groups.data());
        }
    }
};

}  // namespace

UniqueFd open_as_user(const std::string& path, const char* user_name, uid_t uid, gid_t gid) {
    UniqueFd fd;
    {
        FsIdentity identity(user_name, uid, gid);
        // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
        fd.reset(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    }
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return UniqueFd();
    }
    return fd;
}

std::optional<BgraBuffer> load_avatar(std::string_view username, int size, UserLookup lookup) {
    const std::optional<UserInfo> user = lookup(username);
    if (!user) {
        return std::nullopt;
    }
    const std::array<std::string, 2> candidates = avatar_candidates(user->home);
    std::optional<BgraBuffer> pixels = decode_avatar_in_child(*user, candidates, size);
    if (pixels) {
        avatar_mask(*pixels, size);
    }
    return pixels;
}
