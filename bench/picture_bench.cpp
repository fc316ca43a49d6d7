// One picture job per process, so a runner can time the whole process and read its peak memory
// beside peers such as djpeg (scripts/bench-pictures does that).
//   picture_bench cover FILE WIDTH HEIGHT   the background: decode, cover, cut, BGRA
//   picture_bench avatar FILE               the avatar: decode, 96 x 96, BGRA, disc mask
//   picture_bench avatar-child FILE         the same in the sandboxed decoding child, as the
//                                           greeter does it (as root: the child decodes as nobody)
//   picture_bench png-decode FILE           libpng decoding alone, the same transforms
//   picture_bench spng-decode FILE          libspng decoding alone (loaded at run time)
// Each prints "<mode> <milliseconds inside the process> <peak resident KiB> <checksum>".
//   picture_bench showing SECONDS PROC_ROOT DAEMON_EXE X,Y...
//       on $DISPLAY (retrying until the server is up): waits for the greeter window (the first
//       window made on the root) to be created, watches the given pixels for SECONDS and prints
//       "showing <ms> cpu <ms>": from the window's creation to the first moment every pixel
//       shows its final value, in wall time and in processor time of the process running
//       DAEMON_EXE; then "final-at <ms>": that moment in milliseconds since the epoch.
//   picture_bench showing-after-reset SECONDS PROC_ROOT DAEMON_EXE X,Y...
//       the same for the showing after the server's next reset: connects at once, says
//       "waiting for the reset" on standard error, and once the reset has dropped that
//       connection connects again as soon as the server takes clients.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <png.h>
#include <poll.h>
#include <pwd.h>
#include <spng.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "avatar.h"
#include "avatar_child.h"
#include "picture/picture.h"
#include "picture/reference.h"

namespace {

uint64_t checksum(const std::vector<uint8_t>& bytes) {
    uint64_t sum = 1469598103934665603ull;
    for (size_t i = 0; i < bytes.size(); i += 97) {
        sum = (sum ^ bytes[i]) * 1099511628211ull;
    }
    return sum + bytes.size();
}

long peak_kib() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// The avatar pipeline with an arbitrary file instead of a user's home.
std::optional<BgraBuffer> avatar_from(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    auto picture = decode_picture_resized(UniqueFd(fd), path, AVATAR_SIZE, AVATAR_SIZE);
    if (!picture.ok()) {
        return std::nullopt;
    }
    BgraBuffer pixels = to_bgra(picture.value());
    avatar_mask(pixels);
    return pixels;
}

std::optional<BgraBuffer> avatar_in_child_from(const std::string& path) {
    const passwd* me = ::getpwuid(::geteuid());
    if (me == nullptr) {
        return std::nullopt;
    }
    const UserInfo user{"/", "/bin/sh", me->pw_uid, me->pw_gid, me->pw_name};
    const std::string candidates[] = {path};
    std::optional<BgraBuffer> pixels = decode_avatar_in_child(user, candidates, AVATAR_SIZE);
    if (pixels) {
        avatar_mask(*pixels);
    }
    return pixels;
}

// What a plain libpng reader does: expand, native 16-bit order, rows into one buffer.
std::optional<std::vector<uint8_t>> png_decode(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::setvbuf(file, nullptr, _IOFBF, 8192);
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<uint8_t> pixels;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return std::nullopt;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    png_set_expand(png);
    if (png_get_bit_depth(png, info) == 16 && std::endian::native == std::endian::little) {
        png_set_swap(png);
    }
    int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    const uint32_t height = png_get_image_height(png, info);
    pixels.resize(row_bytes * height);
    for (int pass = 0; pass < passes; ++pass) {
        for (uint32_t y = 0; y < height; ++y) {
            png_read_row(png, pixels.data() + row_bytes * y, nullptr);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return pixels;
}

// libspng through dlopen, so the benchmark needs no link-time dependency on it.
std::optional<std::vector<uint8_t>> spng_decode(const std::string& path) {
    void* lib = ::dlopen("libspng.so.0", RTLD_NOW);
    if (lib == nullptr) {
        return std::nullopt;
    }
    auto ctx_new = reinterpret_cast<decltype(&spng_ctx_new)>(::dlsym(lib, "spng_ctx_new"));
    auto ctx_free = reinterpret_cast<decltype(&spng_ctx_free)>(::dlsym(lib, "spng_ctx_free"));
    auto set_file =
        reinterpret_cast<decltype(&spng_set_png_file)>(::dlsym(lib, "spng_set_png_file"));
    auto image_size = reinterpret_cast<decltype(&spng_decoded_image_size)>(
        ::dlsym(lib, "spng_decoded_image_size"));
    auto get_ihdr = reinterpret_cast<decltype(&spng_get_ihdr)>(::dlsym(lib, "spng_get_ihdr"));
    auto decode = reinterpret_cast<decltype(&spng_decode_image)>(::dlsym(lib, "spng_decode_image"));
    if (!ctx_new || !ctx_free || !set_file || !image_size || !get_ihdr || !decode) {
        return std::nullopt;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::setvbuf(file, nullptr, _IOFBF, 8192);
    spng_ctx* ctx = ctx_new(0);
    set_file(ctx, file);
    spng_ihdr ihdr{};
    std::optional<std::vector<uint8_t>> result;
    if (get_ihdr(ctx, &ihdr) == 0) {
        int format = ihdr.color_type == SPNG_COLOR_TYPE_INDEXED ? SPNG_FMT_RGBA8 : SPNG_FMT_PNG;
        size_t size = 0;
        if (image_size(ctx, format, &size) == 0) {
            std::vector<uint8_t> pixels(size);
            if (decode(ctx, pixels.data(), size, format, SPNG_DECODE_TRNS) == 0) {
                result = std::move(pixels);
            }
        }
    }
    ctx_free(ctx);
    std::fclose(file);
    return result;
}

double now_ms() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double epoch_ms() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Nanoseconds one thread has spent on a processor, from its schedstat file; 0 when unreadable.
uint64_t thread_cpu_ns(const std::string& schedstat) {
    FILE* file = std::fopen(schedstat.c_str(), "r");
    if (file == nullptr) {
        return 0;
    }
    unsigned long long ns = 0;
    if (std::fscanf(file, "%llu", &ns) != 1) {
        ns = 0;
    }
    std::fclose(file);
    return ns;
}

// The processor time of all threads of a process. A thread that has ended counts with what it
// had at the last look, so looks should come often.
struct ProcessCpu {
    std::string task_dir;
    std::map<std::string, uint64_t> threads;

    uint64_t total() {
        if (DIR* dir = ::opendir(task_dir.c_str())) {
            while (dirent* entry = ::readdir(dir)) {
                if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
                    const uint64_t ns =
                        thread_cpu_ns(task_dir + "/" + entry->d_name + "/schedstat");
                    uint64_t& seen = threads[entry->d_name];
                    seen = std::max(seen, ns);
                }
            }
            ::closedir(dir);
        }
        uint64_t sum = 0;
        for (const auto& [tid, ns] : threads) {
            sum += ns;
        }
        return sum;
    }
};

// The task directory of the process running `exe`, found under a procfs mount.
std::string task_dir_of(const std::string& proc_root, const std::string& exe) {
    DIR* dir = ::opendir(proc_root.c_str());
    if (dir == nullptr) {
        return "";
    }
    std::string found;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        const std::string base = proc_root + "/" + entry->d_name;
        char target[4096];
        ssize_t n = ::readlink((base + "/exe").c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, size_t(n)) == exe) {
            found = base + "/task";
        }
    }
    ::closedir(dir);
    return found;
}

constexpr useconds_t WATCH_PAUSE_US = 1000;
constexpr double CONNECT_GIVE_UP_MS = 10000;
constexpr int RESET_GIVE_UP_MS = 60000;

// $DISPLAY, as soon as the server takes clients; null after 10 s.
Display* open_display_retrying() {
    Display* display = nullptr;
    const double give_up = now_ms() + CONNECT_GIVE_UP_MS;
    while ((display = XOpenDisplay(nullptr)) == nullptr) {
        if (now_ms() > give_up) {
            std::fprintf(stderr, "cannot open the display\n");
            return nullptr;
        }
        ::usleep(2000);
    }
    return display;
}

// True once the server has dropped the connection, as its reset does. The dead connection is
// not closed: Xlib would end the process on it.
bool wait_for_hangup(Display* display) {
    const int fd = ConnectionNumber(display);
    const double give_up = now_ms() + RESET_GIVE_UP_MS;
    while (now_ms() < give_up) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) {
            continue;
        }
        char byte = 0;
        const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            return true;
        }
        // Events every client gets (MappingNotify) are not the hangup.
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
        }
    }
    std::fprintf(stderr, "the server was not reset\n");
    return false;
}

// From the greeter window's creation to the first moment all watched pixels show what they show
// at the end of the watch: the wall time, and the processor time the daemon used.
int watch_showing(double seconds, const std::string& proc_root, const std::string& daemon_exe,
                  const std::vector<std::pair<int, int>>& points, bool after_reset) {
    Display* display = open_display_retrying();
    if (display != nullptr && after_reset) {
        std::fprintf(stderr, "waiting for the reset\n");
        if (!wait_for_hangup(display)) {
            return 1;
        }
        display = open_display_retrying();
    }
    if (display == nullptr) {
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);
    // A window that exists already was created before we could see it.
    Window unused_root, unused_parent, *children = nullptr;
    unsigned int count = 0;
    XQueryTree(display, root, &unused_root, &unused_parent, &children, &count);
    XFree(children);
    if (count > 0) {
        std::fprintf(stderr, "the greeter window existed before the watch began\n");
        return 1;
    }
    double created = -1;
    double created_epoch = 0;
    while (created < 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == CreateNotify) {
            created = now_ms();
            created_epoch = epoch_ms();
        }
    }
    ProcessCpu daemon_cpu{task_dir_of(proc_root, daemon_exe), {}};
    const uint64_t cpu_at_creation = daemon_cpu.total();
    struct Round {
        double at;
        uint64_t cpu;
        std::vector<unsigned long> values;
    };
    std::vector<Round> rounds;
    const double end = created + seconds * 1000;
    while (now_ms() < end) {
        Round round{0, 0, std::vector<unsigned long>(points.size(), ~0ul)};
        for (size_t i = 0; i < points.size(); ++i) {
            XImage* image = XGetImage(display, root, points[i].first, points[i].second, 1, 1,
                                      AllPlanes, ZPixmap);
            if (image != nullptr) {
                round.values[i] = XGetPixel(image, 0, 0);
                XDestroyImage(image);
            }
        }
        round.at = now_ms();
        round.cpu = daemon_cpu.total();
        if (rounds.empty() || rounds.back().values != round.values) {
            rounds.push_back(std::move(round));
        }
        // Looking without a pause would take a processor from the daemon and the server.
        ::usleep(WATCH_PAUSE_US);
    }
    XCloseDisplay(display);
    for (const Round& round : rounds) {
        std::fprintf(stderr, "%8.1f ms  cpu %6.1f ms:", round.at - created,
                     double(round.cpu - cpu_at_creation) / 1e6);
        for (unsigned long v : round.values) {
            std::fprintf(stderr, " %06lx", v);
        }
        std::fprintf(stderr, "\n");
    }
    for (const Round& round : rounds) {
        if (round.values == rounds.back().values) {
            std::printf("showing %.1f cpu %.1f\nfinal-at %.1f\n", round.at - created,
                        double(round.cpu - cpu_at_creation) / 1e6,
                        created_epoch + (round.at - created));
            return 0;
        }
    }
    return 1;
}

int usage() {
    std::fprintf(
        stderr,
        "usage: picture_bench cover FILE WIDTH HEIGHT | avatar FILE | avatar-child FILE | "
        "png-decode FILE "
        "| spng-decode FILE | showing[-after-reset] SECONDS PROC_ROOT DAEMON_EXE X,Y...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string mode = argv[1];
    if ((mode == "showing" || mode == "showing-after-reset") && argc >= 5) {
        std::vector<std::pair<int, int>> points;
        for (int i = 5; i < argc; ++i) {
            int x = 0, y = 0;
            if (std::sscanf(argv[i], "%d,%d", &x, &y) != 2) {
                return usage();
            }
            points.emplace_back(x, y);
        }
        return watch_showing(std::atof(argv[2]), argv[3], argv[4], points,
                             mode == "showing-after-reset");
    }
    const std::string path = argv[2];
    const auto start = std::chrono::steady_clock::now();
    std::optional<std::vector<uint8_t>> out;
    if (mode == "cover" && argc == 5) {
        auto buffer = load_cover(path, static_cast<uint32_t>(std::atoi(argv[3])),
                                 static_cast<uint32_t>(std::atoi(argv[4])));
        if (buffer.ok()) {
            out = std::move(buffer.value());
        } else {
            std::fprintf(stderr, "%s\n", picture_error_text(buffer.error()));
        }
    } else if (mode == "avatar") {
        out = avatar_from(path);
    } else if (mode == "avatar-child") {
        out = avatar_in_child_from(path);
    } else if (mode == "png-decode") {
        out = png_decode(path);
    } else if (mode == "spng-decode") {
        out = spng_decode(path);
    } else {
        return usage();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!out) {
        std::fprintf(stderr, "%s failed\n", mode.c_str());
        return 1;
    }
    std::printf("%s %.1f %ld %llu\n", mode.c_str(), ms, peak_kib(),
                static_cast<unsigned long long>(checksum(*out)));
    return 0;
}
