// The covers a showing prepared, kept for the next showing of the same picture on monitors of
// the same sizes: in memory, and in a file that outlives a boot.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "picture/picture.h"
#include "picture/pixels.h"
#include "result.h"

inline constexpr const char* COVER_CACHE_DIR = "/var/cache/vesko";
inline constexpr const char* COVER_CACHE_PATH = "/var/cache/vesko/covers";
inline constexpr mode_t COVER_CACHE_DIR_MODE = 0700;
inline constexpr mode_t COVER_CACHE_MODE = 0600;
// Distinct cover sizes one file holds; more monitor shapes than that are not kept.
inline constexpr size_t COVER_CACHE_MAX_COVERS = 4;
// Four 4K covers; a header that asks for more is not believed.
inline constexpr uint64_t COVER_CACHE_MAX_PIXEL_BYTES = uint64_t{4} * 3840 * 2160 * 4;
// "VESKOCOV", version, count, the source's identity (five 64-bit fields).
inline constexpr size_t COVER_CACHE_FIXED_BYTES = 8 + 4 + 4 + 5 * 8;
inline constexpr size_t COVER_CACHE_CHECKSUM_BYTES = 8;

// Which file the covers were made from: another file, or the same one rewritten, differs.
struct PictureIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    int64_t size = 0;
    int64_t mtime_sec = 0;
    int64_t mtime_nsec = 0;
    bool operator==(const PictureIdentity&) const = default;
};

struct CoverSize {
    uint32_t width = 0;
    uint32_t height = 0;
    bool operator==(const CoverSize&) const = default;
};

// What a set of covers is good for: this file, these sizes, this scaling code.
struct CoverKey {
    PictureIdentity source;
    std::vector<CoverSize> sizes;
    uint32_t version = COVER_SCALING_VERSION;
    bool operator==(const CoverKey&) const = default;
};

struct KeptCovers {
    CoverKey key;
    std::vector<BgraBuffer> pictures;  // one per size, in the key's order
};

PictureIdentity picture_identity(const struct stat& st);

size_t cover_cache_header_bytes(size_t covers);
std::string cover_cache_header(const CoverKey& key);
// The key a header names, or why the bytes (which may run on past it) hold none.
Result<CoverKey> parse_cover_cache_header(std::string_view bytes);
// A file at the cache's place is read only when it is root's, regular and 0600.
Result<Ok> check_cover_cache_file(const struct stat& st);
uint64_t cover_cache_checksum(uint64_t sum, const uint8_t* data, size_t size);

// The covers a cache file holds (checked whole), or why it is unusable.
Result<KeptCovers> read_cover_cache_fd(int fd);
// Nothing when there is no file.
Result<std::optional<KeptCovers>> read_cover_cache(const std::string& dir, const std::string& path);
// Replaces the file atomically (a new file, synced, renamed over it).
Result<Ok> write_cover_cache(const std::string& dir, const std::string& path, const CoverKey& key,
                             const std::vector<std::span<const uint8_t>>& pictures);

// The daemon's one set of covers kept between showings.
// Reads the cache file into it; a file that cannot be used is a WARN line.
void preload_kept_covers();
// The kept set when it was made for `key`; any other set is dropped, so that at most one set
// besides the showing's own is ever held.
std::optional<KeptCovers> take_kept_covers(const CoverKey& key);
void keep_covers(KeptCovers covers);
// Whether the cache file already holds covers for `key` (as read at start or last written).
bool cover_cache_holds(const CoverKey& key);
void note_cover_cache_holds(const CoverKey& key);
