// Passwords and other secrets: one owner type, kept out of swap, core dumps and forked children.
#pragma once

#include <cstddef>
#include <string_view>

// A secret text in pages of its own: locked in memory (never swapped), left out of core dumps
// (MADV_DONTDUMP) and zero in every forked child (MADV_WIPEONFORK). The length lives in the same
// pages, so a child sees an empty text. The pages never move or grow, so no copy is left behind
// in freed memory; every byte is zeroed when it is dropped. Move-only.
class SecretText {
  public:
    // One page: Linux-PAM takes at most 512 bytes, the greeter's field a little more.
    static constexpr size_t DEFAULT_CAPACITY = 4000;

    SecretText() = default;
    explicit SecretText(std::string_view text);
    // Room for `capacity` bytes at once (a whole file, say); the pages are mapped now.
    static SecretText with_capacity(size_t capacity);

    SecretText(SecretText&& other) noexcept;
    SecretText& operator=(SecretText&& other) noexcept;
    SecretText(const SecretText&) = delete;
    SecretText& operator=(const SecretText&) = delete;
    ~SecretText();

    // False, and nothing appended, when the bytes would not fit or no pages could be mapped.
    bool append(std::string_view bytes);
    // Removes the last UTF-8 character (a stray continuation byte alone), zeroing it.
    void remove_last_char();
    // Zeroes and empties the text; the pages stay for the next one.
    void wipe();
    // Reads `fd` to its end into the (empty) text; false when a read fails or the data would
    // not fit. The bytes go straight into the pages: no buffer in between.
    bool read_all_from(int fd);

    // A second owner of the same bytes; empty when no pages could be mapped.
    SecretText copy() const;

    bool empty() const { return size() == 0; }
    size_t size() const;
    size_t capacity() const;
    std::string_view view() const;
    // NUL-terminated; "" when empty.
    const char* c_str() const;
    // Whether the pages are locked in memory (mlock can fail past RLIMIT_MEMLOCK).
    bool locked() const { return locked_; }

  private:
    bool map(size_t capacity);
    void unmap();
    char* bytes() const;

    // The mapping: the length (a size_t) first, then the bytes and a NUL.
    char* page_ = nullptr;
    size_t mapped_ = 0;
    bool locked_ = false;
};

// Whether both hold the same bytes; the time taken depends only on the lengths.
bool same_secret(const SecretText& a, const SecretText& b);
bool operator==(const SecretText& secret, std::string_view text);
