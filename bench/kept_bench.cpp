// What the kept covers save a showing, against a full decode of the same file at the same
// screen size, median of ROUNDS each: the full decode (a cold start, or a changed picture), a
// start with the cache file (reading and checking it), and a showing after a logout (taking the
// covers kept in memory). Run as root (the cache is root's); writes its cache file under /tmp.
// Usage: kept_bench FILE [WIDTH HEIGHT [ROUNDS]]
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "cover_cache.h"
#include "picture/picture.h"

namespace {

double now_ms() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kept_bench FILE [WIDTH HEIGHT [ROUNDS]]\n");
        return 2;
    }
    const std::string file = argv[1];
    const uint32_t width = argc > 3 ? static_cast<uint32_t>(std::atoi(argv[2])) : 1920;
    const uint32_t height = argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 1080;
    const int rounds = argc > 4 ? std::atoi(argv[4]) : 20;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        std::perror(file.c_str());
        return 1;
    }
    const CoverKey key{picture_identity(st), {{width, height}}};
    char dir_template[] = "/tmp/kept_bench.XXXXXX";
    const std::string dir = ::mkdtemp(dir_template);
    const std::string path = dir + "/covers";

    std::vector<double> decode, from_file, from_memory;
    for (int i = 0; i < rounds; ++i) {
        double t = now_ms();
        Result<BgraBuffer, PictureError> cover = load_cover(file, width, height);
        decode.push_back(now_ms() - t);
        if (!cover.ok()) {
            std::fprintf(stderr, "cannot decode %s\n", file.c_str());
            return 1;
        }
        const std::vector<std::span<const uint8_t>> pictures{cover.value()};
        if (!write_cover_cache(dir, path, key, pictures).ok()) {
            std::fprintf(stderr, "cannot write the cache (not root?)\n");
            return 1;
        }
        t = now_ms();
        Result<std::optional<KeptCovers>> read = read_cover_cache(dir, path);
        from_file.push_back(now_ms() - t);
        if (!read.ok() || !read.value() || read.value()->key != key) {
            std::fprintf(stderr, "the cache did not read back\n");
            return 1;
        }
        keep_covers(std::move(*read.value()));
        t = now_ms();
        const std::optional<KeptCovers> kept = take_kept_covers(key);
        from_memory.push_back(now_ms() - t);
        if (!kept) {
            return 1;
        }
    }
    std::filesystem::remove_all(dir);
    const double full = median(decode);
    std::printf("picture for %ux%u, median of %d:\n", width, height, rounds);
    std::printf("  full decode (cold start, changed picture)  %7.2f ms\n", full);
    std::printf("  start with the cache file                  %7.2f ms  %.3fx\n", median(from_file),
                median(from_file) / full);
    std::printf("  showing after a logout (kept in memory)    %7.3f ms  %.4fx\n",
                median(from_memory), median(from_memory) / full);
    return 0;
}
