// Placeholder until the avatar lands.
#include "avatar.h"

std::optional<BgraBuffer> load_avatar(std::string_view) {
    return std::nullopt;
}
