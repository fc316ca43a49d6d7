// A value or an error, returned by every operation that can fail.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>
#include <variant>

// The value of an operation that has nothing to return but can fail.
struct Ok {};

template <typename E>
struct Err {
    E error;
};
template <typename E>
Err(E) -> Err<E>;
Err(const char*)->Err<std::string>;

template <typename T, typename E = std::string>
class [[nodiscard]] Result {
  public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    template <typename F>
    Result(Err<F> err) : state_(std::in_place_index<1>, static_cast<E>(std::move(err.error))) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const E& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

// The one place an errno becomes text: "No such file or directory (os error 2)".
inline std::string os_error_text(int err) {
    return std::string(std::strerror(err)) + " (os error " + std::to_string(err) + ")";
}
