// The avatar decoded out of root's reach: ~/.face is the user's file, and a decoder fault must
// not be a fault in the daemon.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fd.h"
#include "picture/pixels.h"
#include "user.h"

// A decoder that takes longer is killed; the greeter shows the placeholder.
inline constexpr int AVATAR_CHILD_TIMEOUT_MS = 2000;
// What the child may map besides what it inherited: the largest picture the decoder accepts,
// with room for the decoder's own tables.
inline constexpr uint64_t AVATAR_CHILD_MEMORY_BYTES = MAX_DECODE_BYTES + (uint64_t{128} << 20);
// Larger sizes are refused: far above any the greeter asks for (96 times its largest scale).
inline constexpr int AVATAR_CHILD_MAX_SIZE = 96 * 16;
// Exit status of a child that found no picture it could decode (not a fault).
inline constexpr int AVATAR_CHILD_NO_PICTURE = 3;

// The first of `candidates` that decodes, squeezed to size x size BGRA, decoded in a forked child
// that opens the files with the user's identity (root's own avatar: with nobody's once opened),
// keeps only those files and a pipe, runs under a memory limit, NO_NEW_PRIVS and a seccomp filter
// that allows reading those files, writing the pipe and managing memory, and nothing else.
// Exactly size x size x 4 bytes within AVATAR_CHILD_TIMEOUT_MS are the picture; a crash, a
// time-out, a wrong amount or no picture give nothing, and only a fault is logged.
std::optional<BgraBuffer> decode_avatar_in_child(const UserInfo& user,
                                                 std::span<const std::string> candidates, int size);

// The candidates that open as regular files, and their names; the rest are passed over.
struct OpenedCandidates {
    std::vector<UniqueFd> files;
    std::vector<std::string> names;
};
OpenedCandidates open_avatar_candidates(std::span<const std::string> candidates);

// The first of the opened candidates that decodes (`names` gives each one's name, for its
// extension), squeezed to size x size BGRA, not yet masked. Runs in the decoding child.
std::optional<BgraBuffer> decode_first_avatar(std::span<UniqueFd> files,
                                              std::span<const std::string> names, int size,
                                              PictureSwitches switches = {});

// Whether the calling process has no thread but the caller's: only then may it fork a child that
// goes on running the daemon's code (a lock held by another thread would never be released).
bool is_single_threaded();

// Why a finished child's answer is not a picture, or nothing when it is one: `status` from
// waitpid, `bytes` received (more than `expected` means too many), `timed_out` when it was
// killed for taking too long.
std::optional<std::string> avatar_child_fault(int status, size_t bytes, size_t expected,
                                              bool timed_out);
