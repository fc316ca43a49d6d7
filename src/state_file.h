// The small files the daemon keeps for the next showing (the last user, the look, each user's
// session), replaced whole so that a crash leaves the old file or the new one, never half.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

#include "result.h"

// Writes `text` to PATH.new (whatever lay there is removed, never opened), syncs it with `mode`,
// and renames it over `path`; the error names the step and the path.
Result<Ok> replace_state_file(const std::string& path, std::string_view text, mode_t mode);
