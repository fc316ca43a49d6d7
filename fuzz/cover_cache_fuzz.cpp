// Arbitrary bytes as the cover cache file: the reader never reads past what the header promises,
// and what it accepts holds exactly the covers the header names.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cover_cache.h"
#include "fd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)parse_cover_cache_header(std::string_view(reinterpret_cast<const char*>(data), size));
    const UniqueFd fd(::memfd_create("cover_cache_fuzz", MFD_CLOEXEC));
    if (!fd.valid() ||
        !write_all(fd.get(), std::string_view(reinterpret_cast<const char*>(data), size))) {
        return 0;
    }
    const Result<KeptCovers> read = read_cover_cache_fd(fd.get());
    if (!read.ok()) {
        return 0;
    }
    const KeptCovers& covers = read.value();
    if (covers.pictures.size() != covers.key.sizes.size()) {
        std::abort();
    }
    for (size_t i = 0; i < covers.pictures.size(); ++i) {
        if (covers.pictures[i].size() !=
            size_t{covers.key.sizes[i].width} * covers.key.sizes[i].height * 4) {
            std::abort();
        }
    }
    return 0;
}
