// A value or the reason there is none. Failures that callers are expected to
// handle (refused edits, invalid trees, unknown packages, bad argument specs)
// are ordinary values, returned rather than thrown.
#pragma once

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorvel::util {

template <class T, class E>
class Expected {
    static_assert(!std::is_same_v<T, E>, "value and error types must differ");

public:
    Expected(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit
    Expected(E error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT: implicit

    bool has_value() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    // Reading the wrong side is a programming error: std::get throws.
    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    E& error() & { return std::get<1>(v_); }
    const E& error() const& { return std::get<1>(v_); }
    E&& error() && { return std::get<1>(std::move(v_)); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, E> v_;
};

// Success without a value, or the error.
template <class E>
class Expected<void, E> {
public:
    Expected() = default;
    Expected(E error) : error_(std::move(error)) {}  // NOLINT: implicit

    bool has_value() const noexcept { return !error_.has_value(); }
    explicit operator bool() const noexcept { return has_value(); }

    E& error() & { return error_.value(); }
    const E& error() const& { return error_.value(); }

private:
    std::optional<E> error_;
};

}  // namespace quorvel::util
