#include "cover_cache.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>

namespace {

CoverKey sample_key() {
    return CoverKey{PictureIdentity{1, 2, 3000, 1700000000, 5}, {{4, 2}, {2, 2}}};
}

struct CacheDir {
    std::string dir;
    std::string path;
    CacheDir() {
        char name[] = "/tmp/cover_cache_test.XXXXXX";
        dir = ::mkdtemp(name);
        path = dir + "/covers";
    }
    ~CacheDir() { std::filesystem::remove_all(dir); }
    Result<Ok> write(const CoverKey& key) const {
        std::vector<BgraBuffer> pictures;
        std::vector<std::span<const uint8_t>> views;
        pictures.reserve(key.sizes.size());
        views.reserve(key.sizes.size());
        for (const CoverSize& size : key.sizes) {
            pictures.emplace_back(size_t{size.width} * size.height * 4, uint8_t{7});
        }
        for (const BgraBuffer& p : pictures) {
            views.emplace_back(p);
        }
        return write_cover_cache(dir, path, key, views);
    }
    std::string read_error() const {
        Result<std::optional<KeptCovers>> read = read_cover_cache(dir, path);
        return read.ok() ? "" : read.error();
    }
};

TEST(CoverCache, KeyNamesFileSizesAndVersion) {
    const CoverKey key = sample_key();
    CoverKey other = key;
    other.source.mtime_nsec += 1;
    EXPECT_NE(key, other);  // the same file rewritten
    other = key;
    other.source.inode += 1;
    EXPECT_NE(key, other);  // another file
    other = key;
    other.sizes[1].width += 1;
    EXPECT_NE(key, other);  // a monitor of another size
    other = key;
    other.version += 1;
    EXPECT_NE(key, other);  // other scaling code
    const Result<CoverKey> parsed = parse_cover_cache_header(cover_cache_header(key));
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.value(), key);
}

TEST(CoverCache, HeaderRefusals) {
    const std::string header = cover_cache_header(sample_key());
    EXPECT_EQ(parse_cover_cache_header(header.substr(0, header.size() - 1)).error(),
              "it is too short");
    std::string bad = header;
    bad[0] = 'X';
    EXPECT_EQ(parse_cover_cache_header(bad).error(), "it is not a cache file");
    bad = header;
    bad[12] = 9;  // the count
    EXPECT_EQ(parse_cover_cache_header(bad).error(), "it names 9 covers");
}

TEST(CoverCache, FileRules) {
    struct stat st {};
    st.st_mode = S_IFREG | 0600;
    EXPECT_TRUE(check_cover_cache_file(st).ok());
    st.st_uid = 1000;
    EXPECT_EQ(check_cover_cache_file(st).error(), "it is not root's");
    st.st_uid = 0;
    st.st_mode = S_IFREG | 0644;
    EXPECT_EQ(check_cover_cache_file(st).error(), "its mode is not 0600");
    st.st_mode = S_IFLNK | 0600;
    EXPECT_EQ(check_cover_cache_file(st).error(), "it is not a regular file");
}

TEST(CoverCache, WrittenFileReadsBack) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the cache is root's";
    }
    const CacheDir cache;
    ASSERT_TRUE(cache.write(sample_key()).ok());
    Result<std::optional<KeptCovers>> read = read_cover_cache(cache.dir, cache.path);
    ASSERT_TRUE(read.ok()) << read.error();
    ASSERT_TRUE(read.value().has_value());
    EXPECT_EQ(read.value()->key, sample_key());
    ASSERT_EQ(read.value()->pictures.size(), 2u);
    EXPECT_EQ(read.value()->pictures[0], BgraBuffer(size_t{4} * 2 * 4, 7));
}

TEST(CoverCache, RefusedFiles) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the cache is root's";
    }
    const CacheDir cache;
    EXPECT_TRUE(read_cover_cache(cache.dir, cache.path).value() == std::nullopt);
    ASSERT_TRUE(cache.write(sample_key()).ok());
    const uintmax_t size = std::filesystem::file_size(cache.path);

    std::filesystem::resize_file(cache.path, size - 1);
    EXPECT_EQ(cache.read_error(),
              "it holds " + std::to_string(size - 1) + " bytes, not " + std::to_string(size));
    ASSERT_TRUE(cache.write(sample_key()).ok());
    {
        std::fstream f(cache.path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(static_cast<std::streamoff>(size - 20));
        f.put('\1');
    }
    EXPECT_EQ(cache.read_error(), "its checksum is wrong");

    ASSERT_TRUE(cache.write(sample_key()).ok());
    ASSERT_EQ(::chown(cache.path.c_str(), 1000, 0), 0);
    EXPECT_EQ(cache.read_error(), "it is not root's");

    ASSERT_TRUE(cache.write(sample_key()).ok());
    std::filesystem::rename(cache.path, cache.dir + "/elsewhere");
    std::filesystem::create_symlink(cache.dir + "/elsewhere", cache.path);
    EXPECT_EQ(cache.read_error(), "Too many levels of symbolic links (os error 40)");

    ASSERT_EQ(::chmod(cache.dir.c_str(), 0755), 0);
    EXPECT_EQ(cache.read_error(), cache.dir + " is not a folder of root's alone (mode 0700)");
}

TEST(CoverCache, KeptSetOnlyForItsKey) {
    keep_covers(KeptCovers{sample_key(), {BgraBuffer(32), BgraBuffer(16)}});
    CoverKey changed = sample_key();
    changed.source.size += 1;
    EXPECT_FALSE(take_kept_covers(changed).has_value());
    // The mismatch dropped it: one set at most is ever kept.
    EXPECT_FALSE(take_kept_covers(sample_key()).has_value());
    keep_covers(KeptCovers{sample_key(), {BgraBuffer(32), BgraBuffer(16)}});
    EXPECT_TRUE(take_kept_covers(sample_key()).has_value());
}

}  // namespace
