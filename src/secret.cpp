#include "secret.h"

#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "fd.h"

namespace {

constexpr size_t HEADER_BYTES = sizeof(size_t);

size_t page_size() {
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<size_t>(size) : 4096;
}

size_t stored_size(const char* page) {
    size_t size = 0;
    if (page != nullptr) {
        std::memcpy(&size, page, sizeof size);
    }
    return size;
}

void store_size(char* page, size_t size) {
    std::memcpy(page, &size, sizeof size);
}

}  // namespace

SecretText::SecretText(std::string_view text) {
    (void)append(text);
}

SecretText SecretText::with_capacity(size_t capacity) {
    SecretText secret;
    (void)secret.map(capacity);
    return secret;
}

SecretText::SecretText(SecretText&& other) noexcept
    : page_(std::exchange(other.page_, nullptr)),
      mapped_(std::exchange(other.mapped_, 0)),
      locked_(std::exchange(other.locked_, false)) {}

SecretText& SecretText::operator=(SecretText&& other) noexcept {
    if (this != &other) {
        unmap();
        page_ = std::exchange(other.page_, nullptr);
        mapped_ = std::exchange(other.mapped_, 0);
        locked_ = std::exchange(other.locked_, false);
    }
    return *this;
}

SecretText::~SecretText() {
    unmap();
}

bool SecretText::map(size_t capacity) {
    const size_t page = page_size();
    const size_t wanted = HEADER_BYTES + capacity + 1;
    if (wanted < capacity) {
        return false;
    }
    const size_t length = (wanted + page - 1) / page * page;
    void* memory =
        ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        return false;
    }
    // Each is best effort: an older kernel lacks MADV_WIPEONFORK, a user past RLIMIT_MEMLOCK
    // cannot lock; the text still works and is still wiped.
    (void)::madvise(memory, length, MADV_DONTDUMP);
    (void)::madvise(memory, length, MADV_WIPEONFORK);
    locked_ = ::mlock(memory, length) == 0;
    page_ = static_cast<char*>(memory);
    mapped_ = length;
    store_size(page_, 0);
    return true;
}

void SecretText::unmap() {
    if (page_ == nullptr) {
        return;
    }
    explicit_bzero(page_, mapped_);
    if (locked_) {
        (void)::munlock(page_, mapped_);
    }
    (void)::munmap(page_, mapped_);
    page_ = nullptr;
    mapped_ = 0;
    locked_ = false;
}

char* SecretText::bytes() const {
    return page_ + HEADER_BYTES;
}

size_t SecretText::size() const {
    return stored_size(page_);
}

size_t SecretText::capacity() const {
    return page_ == nullptr ? DEFAULT_CAPACITY : mapped_ - HEADER_BYTES - 1;
}

std::string_view SecretText::view() const {
    return page_ == nullptr ? std::string_view() : std::string_view(bytes(), size());
}

const char* SecretText::c_str() const {
    return page_ == nullptr ? "" : bytes();
}

bool SecretText::append(std::string_view text) {
    if (page_ == nullptr && !map(std::max(text.size(), DEFAULT_CAPACITY))) {
        return false;
    }
    const size_t size = stored_size(page_);
    if (text.size() > capacity() - size) {
        return false;
    }
    std::memcpy(bytes() + size, text.data(), text.size());
    bytes()[size + text.size()] = '\0';
    store_size(page_, size + text.size());
    return true;
}

void SecretText::remove_last_char() {
    size_t size = stored_size(page_);
    if (size == 0) {
        return;
    }
    const char* text = bytes();
    size_t n = 1;
    while (n < size && n < 4 && (static_cast<unsigned char>(text[size - n]) & 0xC0) == 0x80) {
        ++n;
    }
    if ((static_cast<unsigned char>(text[size - n]) & 0xC0) == 0x80) {
        n = 1;  // stray continuation bytes: one at a time
    }
    size -= n;
    explicit_bzero(bytes() + size, n);
    store_size(page_, size);
}

void SecretText::wipe() {
    if (page_ != nullptr) {
        explicit_bzero(bytes(), stored_size(page_) + 1);
        store_size(page_, 0);
    }
}

bool SecretText::read_all_from(int fd) {
    wipe();
    if (page_ == nullptr && !map(DEFAULT_CAPACITY)) {
        return false;
    }
    const size_t room = capacity();
    size_t size = 0;
    for (;;) {
        ssize_t n = 0;
        if (size < room) {
            n = retry_on_eintr([&] { return ::read(fd, bytes() + size, room - size); });
        } else {
            // Full: only the end of the file may follow. One that grew is refused, not cut.
            char probe = 0;
            n = retry_on_eintr([&] { return ::read(fd, &probe, 1); });
            explicit_bzero(&probe, sizeof probe);
            n = n == 0 ? 0 : -1;
        }
        if (n == 0) {
            bytes()[size] = '\0';
            store_size(page_, size);
            return true;
        }
        if (n < 0) {
            explicit_bzero(bytes(), size);
            return false;
        }
        size += static_cast<size_t>(n);
    }
}

SecretText SecretText::copy() const {
    SecretText out;
    if (page_ != nullptr && out.map(capacity())) {
        (void)out.append(view());
    }
    return out;
}

bool same_secret(const SecretText& a, const SecretText& b) {
    const std::string_view x = a.view();
    const std::string_view y = b.view();
    if (x.size() != y.size()) {
        return false;
    }
    unsigned char differ = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        differ |= static_cast<unsigned char>(x[i] ^ y[i]);
    }
    return differ == 0;
}

bool operator==(const SecretText& secret, std::string_view text) {
    return secret.view() == text;
}
