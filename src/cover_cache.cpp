#include "cover_cache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "fd.h"
#include "log.h"
#include "owners.h"

namespace {

constexpr char MAGIC[8] = {'V', 'E', 'S', 'K', 'O', 'C', 'O', 'V'};

template <typename T>
void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <typename T>
T get(std::string_view bytes, size_t& at) {
    T value{};
    std::memcpy(&value, bytes.data() + at, sizeof value);
    at += sizeof value;
    return value;
}

uint64_t pixel_bytes(const CoverSize& size) {
    return uint64_t{size.width} * size.height * 4;
}

// Exactly `size` bytes, or false (a short file is as bad as a failed read).
bool read_exactly(int fd, uint8_t* data, size_t size) {
    size_t got = 0;
    while (got < size) {
        const ssize_t n = retry_on_eintr([&] { return ::read(fd, data + got, size - got); });
        if (n <= 0) {
            return false;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

// The folder must be root's alone: whoever else could write there could choose what is read.
Result<Ok> check_cache_dir(const std::string& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0) {
        return Err{dir + ": " + os_error_text(errno)};
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != 0 || (st.st_mode & 07777) != COVER_CACHE_DIR_MODE) {
        return Err{dir + " is not a folder of root's alone (mode 0700)"};
    }
    return Ok{};
}

// Process-wide: the covers between showings, and what the file is known to hold.
struct Store {
    std::optional<KeptCovers> kept;
    std::optional<CoverKey> in_file;
};

Store& store() {
    static Store s;
    return s;
}

}  // namespace

PictureIdentity picture_identity(const struct stat& st) {
    return PictureIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

size_t cover_cache_header_bytes(size_t covers) {
    return COVER_CACHE_FIXED_BYTES + covers * 8;
}

std::string cover_cache_header(const CoverKey& key) {
    std::string out(MAGIC, sizeof MAGIC);
    put(out, key.version);
    put(out, static_cast<uint32_t>(key.sizes.size()));
    put(out, key.source.device);
    put(out, key.source.inode);
    put(out, key.source.size);
    put(out, key.source.mtime_sec);
    put(out, key.source.mtime_nsec);
    for (const CoverSize& size : key.sizes) {
        put(out, size.width);
        put(out, size.height);
    }
    return out;
}

Result<CoverKey> parse_cover_cache_header(std::string_view bytes) {
    if (bytes.size() < COVER_CACHE_FIXED_BYTES) {
        return Err{std::string("it is too short")};
    }
    if (bytes.substr(0, sizeof MAGIC) != std::string_view(MAGIC, sizeof MAGIC)) {
        return Err{std::string("it is not a cache file")};
    }
    size_t at = sizeof MAGIC;
    CoverKey key;
    key.version = get<uint32_t>(bytes, at);
    const auto count = get<uint32_t>(bytes, at);
    if (count == 0 || count > COVER_CACHE_MAX_COVERS) {
        return Err{"it names " + std::to_string(count) + " covers"};
    }
    if (bytes.size() < cover_cache_header_bytes(count)) {
        return Err{std::string("it is too short")};
    }
    key.source.device = get<uint64_t>(bytes, at);
    key.source.inode = get<uint64_t>(bytes, at);
    key.source.size = get<int64_t>(bytes, at);
    key.source.mtime_sec = get<int64_t>(bytes, at);
    key.source.mtime_nsec = get<int64_t>(bytes, at);
    uint64_t total = 0;
    for (uint32_t i = 0; i < count; ++i) {
        CoverSize size;
        size.width = get<uint32_t>(bytes, at);
        size.height = get<uint32_t>(bytes, at);
        if (size.width == 0 || size.height == 0 || size.width > 65535 || size.height > 65535) {
            return Err{std::string("it names a cover of no sensible size")};
        }
        total += pixel_bytes(size);
        key.sizes.push_back(size);
    }
    if (total > COVER_CACHE_MAX_PIXEL_BYTES) {
        return Err{std::string("its covers are too large")};
    }
    return key;
}

Result<Ok> check_cover_cache_file(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
        return Err{std::string("it is not a regular file")};
    }
    if (st.st_uid != 0) {
        return Err{std::string("it is not root's")};
    }
    if ((st.st_mode & 07777) != COVER_CACHE_MODE) {
        return Err{std::string("its mode is not 0600")};
    }
    return Ok{};
}

uint64_t cover_cache_checksum(uint64_t sum, const uint8_t* data, size_t size) {
    constexpr uint64_t PRIME = 0x100000001b3ull;
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, data + i, 8);
        sum = (sum ^ word) * PRIME;
    }
    for (; i < size; ++i) {
        sum = (sum ^ data[i]) * PRIME;
    }
    return sum;
}

Result<KeptCovers> read_cover_cache_fd(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return Err{os_error_text(errno)};
    }
    std::string head(cover_cache_header_bytes(COVER_CACHE_MAX_COVERS), '\0');
    const ssize_t n = retry_on_eintr([&] { return ::pread(fd, head.data(), head.size(), 0); });
    if (n < 0) {
        return Err{os_error_text(errno)};
    }
    head.resize(static_cast<size_t>(n));
    Result<CoverKey> key = parse_cover_cache_header(head);
    if (!key.ok()) {
        return Err{key.error()};
    }
    const size_t header = cover_cache_header_bytes(key.value().sizes.size());
    uint64_t expected = header + COVER_CACHE_CHECKSUM_BYTES;
    for (const CoverSize& size : key.value().sizes) {
        expected += pixel_bytes(size);
    }
    if (static_cast<uint64_t>(st.st_size) != expected) {
        return Err{"it holds " + std::to_string(st.st_size) + " bytes, not " +
                   std::to_string(expected)};
    }
    uint64_t sum = cover_cache_checksum(0, reinterpret_cast<const uint8_t*>(head.data()), header);
    if (::lseek(fd, static_cast<off_t>(header), SEEK_SET) < 0) {
        return Err{os_error_text(errno)};
    }
    KeptCovers covers;
    for (const CoverSize& size : key.value().sizes) {
        BgraBuffer& picture = covers.pictures.emplace_back(pixel_bytes(size));
        if (!read_exactly(fd, picture.data(), picture.size())) {
            return Err{std::string("it is shorter than it says")};
        }
        sum = cover_cache_checksum(sum, picture.data(), picture.size());
    }
    uint64_t stored = 0;
    if (!read_exactly(fd, reinterpret_cast<uint8_t*>(&stored), sizeof stored)) {
        return Err{std::string("it is shorter than it says")};
    }
    if (stored != sum) {
        return Err{std::string("its checksum is wrong")};
    }
    covers.key = std::move(key).value();
    return covers;
}

Result<std::optional<KeptCovers>> read_cover_cache(const std::string& dir,
                                                   const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) {
        return std::optional<KeptCovers>();
    }
    if (const Result<Ok> folder = check_cache_dir(dir); !folder.ok()) {
        return Err{folder.error()};
    }
    const UniqueFd fd = open_regular_file(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (!fd.valid()) {
        return Err{errno == EINVAL ? std::string("it is not a regular file")
                                   : os_error_text(errno)};
    }
    if (::fstat(fd.get(), &st) != 0) {
        return Err{os_error_text(errno)};
    }
    if (const Result<Ok> file = check_cover_cache_file(st); !file.ok()) {
        return Err{file.error()};
    }
    Result<KeptCovers> covers = read_cover_cache_fd(fd.get());
    if (!covers.ok()) {
        return Err{covers.error()};
    }
    return std::optional<KeptCovers>(std::move(covers).value());
}

Result<Ok> write_cover_cache(const std::string& dir, const std::string& path, const CoverKey& key,
                             const std::vector<std::span<const uint8_t>>& pictures) {
    if (::mkdir(dir.c_str(), COVER_CACHE_DIR_MODE) != 0 && errno != EEXIST) {
        return Err{"cannot create " + dir + ": " + os_error_text(errno)};
    }
    if (const Result<Ok> folder = check_cache_dir(dir); !folder.ok()) {
        return Err{folder.error()};
    }
    const std::string temp_path = path + ".new";
    // Whatever lies at the temporary path (a leftover, a link) is replaced, not opened.
    (void)::unlink(temp_path.c_str());
    const UniqueFd fd(::open(
        temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, COVER_CACHE_MODE));
    if (!fd.valid()) {
        return Err{"cannot create " + temp_path + ": " + os_error_text(errno)};
    }
    TempFile temp(temp_path);
    const std::string header = cover_cache_header(key);
    uint64_t sum =
        cover_cache_checksum(0, reinterpret_cast<const uint8_t*>(header.data()), header.size());
    bool written = write_all(fd.get(), header);
    for (const std::span<const uint8_t> picture : pictures) {
        sum = cover_cache_checksum(sum, picture.data(), picture.size());
        written = written && write_all(fd.get(), std::string_view(
                                                     reinterpret_cast<const char*>(picture.data()),
                                                     picture.size()));
    }
    written = written && write_all(fd.get(), std::string_view(reinterpret_cast<const char*>(&sum),
                                                              sizeof sum));
    if (!written || ::fchmod(fd.get(), COVER_CACHE_MODE) != 0 || ::fsync(fd.get()) != 0) {
        return Err{"cannot write " + temp_path + ": " + os_error_text(errno)};
    }
    if (!temp.commit(path)) {
        return Err{"cannot rename it to " + path + ": " + os_error_text(errno)};
    }
    return Ok{};
}

void preload_kept_covers() {
    Result<std::optional<KeptCovers>> read = read_cover_cache(COVER_CACHE_DIR, COVER_CACHE_PATH);
    if (!read.ok()) {
        log_message(LogLevel::Warn, std::string("Background: ignoring the cache file ") +
                                        COVER_CACHE_PATH + ": " + read.error());
        return;
    }
    if (read.value()) {
        store().in_file = read.value()->key;
        store().kept = std::move(*read.value());
    }
}

std::optional<KeptCovers> take_kept_covers(const CoverKey& key) {
    std::optional<KeptCovers> kept = std::exchange(store().kept, std::nullopt);
    if (kept && kept->key == key) {
        return kept;
    }
    return std::nullopt;
}

void keep_covers(KeptCovers covers) {
    store().kept = std::move(covers);
}

bool cover_cache_holds(const CoverKey& key) {
    return store().in_file == key;
}

void note_cover_cache_holds(const CoverKey& key) {
    store().in_file = key;
}
