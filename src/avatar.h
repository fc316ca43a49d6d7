// The typed user's picture, squeezed to 96 x 96 and cut to a disc.
#pragma once

#include <sys/types.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "fd.h"
#include "picture/pixels.h"
#include "user.h"

inline constexpr int AVATAR_SIZE = 96;
inline constexpr int AVATAR_RADIUS = 48;

// The two places searched, in order, under a home directory.
std::array<std::string, 2> avatar_candidates(std::string_view home);

// Cuts a size x size BGRA picture to the disc: outside it everything becomes 0, over the
// outermost one-pixel ring only alpha fades, inside nothing changes.
void avatar_mask(BgraBuffer& pixels, int size = AVATAR_SIZE);

// Opens a regular file with the file-system identity of uid/gid (and the user's groups), so
// nothing that user could not read is opened; never blocks on a FIFO or device. Invalid when the
// file is missing, unreadable for that user, or not a regular file.
UniqueFd open_as_user(const std::string& path, const char* user_name, uid_t uid, gid_t gid);

// Finds the account of a typed name: lookup_user, or a stand-in under test.
using UserLookup = std::optional<UserInfo> (*)(std::string_view name);

// The picture at size x size (AVATAR_SIZE times the greeter's scale), decoded in a sandboxed
// child (avatar_child.h) and cut to the disc.
std::optional<BgraBuffer> load_avatar(std::string_view username, int size = AVATAR_SIZE,
                                      UserLookup lookup = lookup_user);
