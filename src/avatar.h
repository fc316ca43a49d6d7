// The typed user's picture, squeezed to 96 x 96 and cut to a disc.
#pragma once

#include <optional>
#include <string_view>

#include "background.h"

inline constexpr int AVATAR_SIZE = 96;
inline constexpr int AVATAR_RADIUS = 48;

std::optional<BgraBuffer> load_avatar(std::string_view username);
