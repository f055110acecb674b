// A vector of trivially copyable values that keeps its first N elements
// inline, so short child lists need no heap allocation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <span>
#include <type_traits>

namespace quorvel::syntax {

template <class T, std::uint32_t N>
class SmallVector {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(N > 0);

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    SmallVector() noexcept = default;
    SmallVector(std::initializer_list<T> values) { assign(values.begin(), values.size()); }
    explicit SmallVector(std::span<const T> values) { assign(values.data(), values.size()); }
    template <class It>
    SmallVector(It first, It last) {
        for (; first != last; ++first) push_back(*first);
    }
    SmallVector(const SmallVector& other) { assign(other.data(), other.size()); }
    SmallVector(SmallVector&& other) noexcept { steal(other); }
    SmallVector& operator=(const SmallVector& other) {
        if (this != &other) {
            size_ = 0;
            assign(other.data(), other.size());
        }
        return *this;
    }
    SmallVector& operator=(SmallVector&& other) noexcept {
        if (this != &other) {
            release();
            steal(other);
        }
        return *this;
    }
    ~SmallVector() { release(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }

    T* data() noexcept { return is_inline() ? inline_data() : heap_; }
    const T* data() const noexcept {
        return is_inline() ? const_cast<SmallVector*>(this)->inline_data() : heap_;
    }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size_; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size_; }
    T& operator[](std::size_t i) noexcept { return data()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }
    T& back() noexcept { return data()[size_ - 1]; }
    const T& back() const noexcept { return data()[size_ - 1]; }

    operator std::span<const T>() const noexcept { return {data(), size_}; }  // NOLINT
    std::span<const T> span() const noexcept { return {data(), size_}; }

    void reserve(std::size_t wanted) {
        if (wanted <= capacity_) return;
        if (wanted > kMaxSize) throw std::bad_alloc();
        std::size_t grown = std::max<std::size_t>(wanted, std::size_t{capacity_} * 2);
        if (grown > kMaxSize) grown = kMaxSize;
        // Through operator new, as every other block of the tree, so that a
        // failing allocation behaves the same wherever it happens.
        T* fresh = static_cast<T*>(::operator new(grown * sizeof(T)));
        if (size_ > 0) std::memcpy(fresh, data(), size_ * sizeof(T));
        release();
        heap_ = fresh;
        capacity_ = static_cast<std::uint32_t>(grown);
    }

    void push_back(const T& value) {
        if (size_ == capacity_) {
            T copy = value;  // `value` may live in this vector
            reserve(std::size_t{size_} + 1);
            data()[size_++] = copy;
            return;
        }
        data()[size_++] = value;
    }

    // Removes the last element; the vector must not be empty.
    void pop_back() noexcept { --size_; }

    // Inserts at position `pos` (at most size()).
    void insert(std::size_t pos, const T& value) {
        T copy = value;
        if (size_ == capacity_) reserve(std::size_t{size_} + 1);
        T* d = data();
        std::memmove(d + pos + 1, d + pos, (size_ - pos) * sizeof(T));
        d[pos] = copy;
        ++size_;
    }

    // Removes positions [first, last).
    void erase(std::size_t first, std::size_t last) {
        T* d = data();
        std::memmove(d + first, d + last, (size_ - last) * sizeof(T));
        size_ -= static_cast<std::uint32_t>(last - first);
    }
    void erase(std::size_t pos) { erase(pos, pos + 1); }

    void clear() noexcept { size_ = 0; }

    friend bool operator==(const SmallVector& a, const SmallVector& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    static constexpr std::size_t kMaxSize = 0xFFFFFFFFu;

    bool is_inline() const noexcept { return capacity_ == N; }
    T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(inline_)); }

    void assign(const T* values, std::size_t count) {
        reserve(count);
        if (count > 0) std::memcpy(data(), values, count * sizeof(T));
        size_ = static_cast<std::uint32_t>(count);
    }
    void steal(SmallVector& other) noexcept {
        size_ = other.size_;
        capacity_ = other.capacity_;
        if (other.is_inline()) {
            std::memcpy(inline_, other.inline_, sizeof(inline_));
        } else {
            heap_ = other.heap_;
        }
        other.size_ = 0;
        other.capacity_ = N;
    }
    void release() noexcept {
        if (!is_inline()) ::operator delete(heap_);
        capacity_ = N;
    }

    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = N;  // equal to N exactly while inline
    union {
        alignas(T) std::byte inline_[N * sizeof(T)];
        T* heap_;
    };
};

}  // namespace quorvel::syntax
