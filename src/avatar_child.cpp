#include "avatar_child.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <seccomp.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "fd.h"
#include "log.h"
#include "owners.h"
#include "picture/picture.h"

namespace {

constexpr int SINGLE_THREAD_LOOKS = 20;

constexpr uid_t NOBODY_ID = 65534;
// The child could not set itself up (identity, limits, filter, pipe).
constexpr int CHILD_SETUP_FAILED = 4;

// Gives up root for good: the user's, or for root's own avatar nobody's.
bool become(const char* name, uid_t uid, gid_t gid) {
    const bool groups_set =
        name != nullptr ? ::initgroups(name, gid) == 0 : ::setgroups(0, nullptr) == 0;
    return groups_set && ::setresgid(gid, gid, gid) == 0 && ::setresuid(uid, uid, uid) == 0 &&
           ::setuid(0) != 0;
}

// The address space the child already has (inherited from the daemon), in bytes.
uint64_t mapped_bytes() {
    const std::optional<std::string> statm = read_regular_file("/proc/self/statm");
    const long page = ::sysconf(_SC_PAGESIZE);
    if (!statm || page <= 0) {
        return 0;
    }
    return std::strtoull(statm->c_str(), nullptr, 10) * static_cast<uint64_t>(page);
}

void close_all_but(std::vector<int> keep) {
    std::sort(keep.begin(), keep.end());
    unsigned next = 0;
    for (const int fd : keep) {
        if (static_cast<unsigned>(fd) > next) {
            (void)::close_range(next, static_cast<unsigned>(fd) - 1, 0);
        }
        next = static_cast<unsigned>(fd) + 1;
    }
    (void)::close_range(next, ~0U, 0);
}

// What SCMP_A0 and the like make, without their C compound literals.
scmp_arg_cmp argument(unsigned index, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0) {
    scmp_arg_cmp cmp{};
    cmp.arg = index;
    cmp.op = op;
    cmp.datum_a = a;
    cmp.datum_b = b;
    return cmp;
}

// Reading the opened files, writing the pipe, memory (never executable), closing and ending:
// anything else ends the child.
bool confine(const std::vector<int>& inputs, int out) {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return false;
    }
    scmp_filter_ctx filter = ::seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr) {
        return false;
    }
    bool ok = true;
    const auto allow = [&](int call, std::initializer_list<scmp_arg_cmp> args) {
        ok = ok && ::seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call,
                                            static_cast<unsigned>(args.size()), args.begin()) == 0;
    };
    for (const int fd : inputs) {
        for (const int call : {SCMP_SYS(read), SCMP_SYS(pread64)}) {
            allow(call, {argument(0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd))});
        }
    }
    allow(SCMP_SYS(write), {argument(0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(out))});
    allow(SCMP_SYS(mmap), {argument(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    allow(SCMP_SYS(mprotect), {argument(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)});
    // sigaltstack: the sanitizers' _exit takes down the signal stack.
    for (const int call :
         {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(close),
          SCMP_SYS(sigaltstack), SCMP_SYS(exit), SCMP_SYS(exit_group)}) {
        allow(call, {});
    }
    ok = ok && ::seccomp_load(filter) == 0;
    ::seccomp_release(filter);
    return ok;
}

[[noreturn]] void run_child(const UserInfo& user, std::span<const std::string> candidates, int size,
                            int out) {
    (void)::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Its memory is a copy of the daemon's: never a core file.
    (void)::prctl(PR_SET_DUMPABLE, 0);
    const rlimit no_core{0, 0};
    (void)::setrlimit(RLIMIT_CORE, &no_core);
    const bool root = ::geteuid() == 0;
    if (root && user.uid != 0 && !become(user.name.c_str(), user.uid, user.gid)) {
        ::_exit(CHILD_SETUP_FAILED);
    }
    if (!root && user.uid != ::geteuid()) {
        ::_exit(CHILD_SETUP_FAILED);
    }
    auto [files, names] = open_avatar_candidates(candidates);
    if (::geteuid() == 0 && !become(nullptr, NOBODY_ID, NOBODY_ID)) {
        ::_exit(CHILD_SETUP_FAILED);
    }
    std::vector<int> inputs;
    inputs.reserve(files.size());
    for (const UniqueFd& fd : files) {
        inputs.push_back(fd.get());
    }
    std::vector<int> keep = inputs;
    keep.push_back(out);
    const uint64_t limit = mapped_bytes() + AVATAR_CHILD_MEMORY_BYTES;
    const rlimit memory{limit, limit};
    close_all_but(keep);
    if (::setrlimit(RLIMIT_AS, &memory) != 0) {
        ::_exit(CHILD_SETUP_FAILED);
    }
    if (!confine(inputs, out)) {
        ::_exit(CHILD_SETUP_FAILED);
    }
    // A second thread would need clone(), which the filter refuses.
    const std::optional<BgraBuffer> pixels =
        decode_first_avatar(files, names, size, PictureSwitches{.second_thread = false});
    if (!pixels) {
        ::_exit(AVATAR_CHILD_NO_PICTURE);
    }
    ::_exit(write_all(out, std::string_view(reinterpret_cast<const char*>(pixels->data()),
                                            pixels->size()))
                ? 0
                : CHILD_SETUP_FAILED);
}

// Reads up to `pixels.size()` bytes, and one more if the child sends it, until the end of the
// pipe or the deadline; the count read.
size_t read_answer(int fd, BgraBuffer& pixels, bool& timed_out) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(AVATAR_CHILD_TIMEOUT_MS);
    size_t got = 0;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd pfd{fd, POLLIN, 0};
        if (left <= 0 ||
            retry_on_eintr([&] { return ::poll(&pfd, 1, static_cast<int>(left)); }) == 0) {
            timed_out = true;
            return got;
        }
        uint8_t extra = 0;
        uint8_t* into = got < pixels.size() ? pixels.data() + got : &extra;
        const size_t room = got < pixels.size() ? pixels.size() - got : 1;
        const ssize_t n = retry_on_eintr([&] { return ::read(fd, into, room); });
        if (n <= 0) {
            return got;
        }
        got += static_cast<size_t>(n);
        if (got > pixels.size()) {
            return got;
        }
    }
}

}  // namespace

bool is_single_threaded() {
    // A thread that was just joined can still be listed while the kernel finishes its exit.
    for (int look = 0; look < SINGLE_THREAD_LOOKS; ++look) {
        const UniqueDir tasks(::opendir("/proc/self/task"));
        if (!tasks) {
            return false;
        }
        int count = 0;
        while (const dirent* entry = ::readdir(tasks.get())) {
            count += entry->d_name[0] != '.' ? 1 : 0;
        }
        if (count == 1) {
            return true;
        }
        sleep_ms(1);
    }
    return false;
}

std::optional<std::string> avatar_child_fault(int status, size_t bytes, size_t expected,
                                              bool timed_out) {
    if (timed_out) {
        return "no answer within " + std::to_string(AVATAR_CHILD_TIMEOUT_MS) + " ms";
    }
    if (bytes > expected) {
        return "more than " + std::to_string(expected) + " bytes";
    }
    if (WIFSIGNALED(status)) {
        return "the decoder was killed by signal " + std::to_string(WTERMSIG(status));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && bytes == expected) {
        return std::nullopt;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == AVATAR_CHILD_NO_PICTURE && bytes == 0) {
        return std::nullopt;
    }
    return "the decoder ended with status " +
           std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) + " after " +
           std::to_string(bytes) + " of " + std::to_string(expected) + " bytes";
}

OpenedCandidates open_avatar_candidates(std::span<const std::string> candidates) {
    OpenedCandidates opened;
    for (const std::string& candidate : candidates) {
        UniqueFd fd = open_regular_file(candidate.c_str());
        if (fd.valid()) {
            opened.files.push_back(std::move(fd));
            opened.names.push_back(candidate);
        }
    }
    return opened;
}

std::optional<BgraBuffer> decode_first_avatar(std::span<UniqueFd> files,
                                              std::span<const std::string> names, int size,
                                              PictureSwitches switches) {
    for (size_t i = 0; i < files.size() && i < names.size(); ++i) {
        Result<img::Picture, PictureError> picture =
            decode_picture_resized(std::move(files[i]), names[i], static_cast<uint32_t>(size),
                                   static_cast<uint32_t>(size), switches);
        if (picture.ok()) {
            return to_bgra(picture.value());
        }
    }
    return std::nullopt;
}

std::optional<BgraBuffer> decode_avatar_in_child(const UserInfo& user,
                                                 std::span<const std::string> candidates,
                                                 int size) {
    if (size <= 0 || size > AVATAR_CHILD_MAX_SIZE) {
        return std::nullopt;
    }
    if (!is_single_threaded()) {
        log_message(LogLevel::Warn, "Avatar: not decoded while another thread runs");
        return std::nullopt;
    }
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    UniqueFd reader(ends[0]);
    UniqueFd writer(ends[1]);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return std::nullopt;
    }
    if (pid == 0) {
        run_child(user, candidates, size, writer.get());
    }
    writer.reset();
    const size_t expected = size_t(size) * size_t(size) * 4;
    BgraBuffer pixels(expected);
    bool timed_out = false;
    const size_t got = read_answer(reader.get(), pixels, timed_out);
    // Whatever it is doing now, it is done: a zombie keeps the status it exited with.
    (void)::kill(pid, SIGKILL);
    int status = 0;
    (void)retry_on_eintr([&] { return ::waitpid(pid, &status, 0); });
    if (const std::optional<std::string> fault =
            avatar_child_fault(status, got, expected, timed_out)) {
        log_message(LogLevel::Warn, "Avatar: no picture for '" + user.name + "': " + *fault);
        return std::nullopt;
    }
    if (got != expected) {
        return std::nullopt;
    }
    return pixels;
}
