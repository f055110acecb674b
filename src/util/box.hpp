// A value kept behind an owning pointer that copies and compares deeply.
#pragma once

#include <optional>
#include <utility>

namespace quorvel::util {

// An owning, deep-copying pointer with deep equality. It is empty when
// default-constructed, reset or moved from, so it also serves as an
// optional value kept out of line, for parts few values have.
template <class T>
class Box {
public:
    Box() noexcept = default;
    Box(T value) : ptr_(new T(std::move(value))) {}  // NOLINT: implicit by design
    Box(const Box& other) : ptr_(other.ptr_ ? new T(*other.ptr_) : nullptr) {}
    Box(Box&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Box& operator=(const Box& other) {
        if (this != &other) {
            Box copy(other);
            std::swap(ptr_, copy.ptr_);
        }
        return *this;
    }
    Box& operator=(Box&& other) noexcept {
        if (this != &other) {
            Box old(std::move(*this));
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~Box() { delete ptr_; }

    explicit operator bool() const noexcept { return ptr_ != nullptr; }
    bool has_value() const noexcept { return ptr_ != nullptr; }
    T& operator*() noexcept { return *ptr_; }
    const T& operator*() const noexcept { return *ptr_; }
    T* operator->() noexcept { return ptr_; }
    const T* operator->() const noexcept { return ptr_; }
    T* get() noexcept { return ptr_; }
    const T* get() const noexcept { return ptr_; }
    void reset() noexcept { delete std::exchange(ptr_, nullptr); }
    // The value as a plain optional; the box is left empty.
    std::optional<T> take() && {
        std::optional<T> out;
        if (ptr_ != nullptr) out.emplace(std::move(*ptr_));
        reset();
        return out;
    }

    friend bool operator==(const Box& a, const Box& b) {
        if (!a.ptr_ || !b.ptr_) return a.ptr_ == b.ptr_;
        return *a.ptr_ == *b.ptr_;
    }

private:
    T* ptr_ = nullptr;
};

}  // namespace quorvel::util
