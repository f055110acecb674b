// A vector that is one pointer wide: size, capacity and elements share one
// heap block, and an empty vector holds none. For the argument lists of
// both trees, which most nodes (characters, groups, scripts) leave empty,
// and the children of span trees. Its element type may still be incomplete
// where the vector is declared (a span tree holds a vector of span trees).
// Lists are limited to 2^32 - 1 entries.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorvel::syntax {

template <class T>
class CompactVector {
public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = T*;
    using const_iterator = const T*;
    using reference = T&;
    using const_reference = const T&;

    CompactVector() noexcept = default;
    // The filling constructors delegate to the empty one, so that an entry
    // whose copy throws (out of memory) has the destructor free what came
    // before it.
    CompactVector(std::initializer_list<T> values) : CompactVector() {
        reserve(values.size());
        for (const T& v : values) push_back(v);
    }
    template <std::forward_iterator It>
    CompactVector(It first, It last) : CompactVector() {
        reserve(static_cast<std::size_t>(std::distance(first, last)));
        for (; first != last; ++first) push_back(*first);
    }
    // Moves the entries of a std::vector over.
    explicit CompactVector(std::vector<T>&& items) : CompactVector() {
        reserve(items.size());
        for (T& item : items) push_back(std::move(item));
    }
    CompactVector(const CompactVector& other) : CompactVector() {
        reserve(other.size());
        for (const T& v : other) push_back(v);
    }
    CompactVector(CompactVector&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    CompactVector& operator=(const CompactVector& other) {
        if (this != &other) {
            CompactVector copy(other);
            std::swap(block_, copy.block_);
        }
        return *this;
    }
    CompactVector& operator=(CompactVector&& other) noexcept {
        if (this != &other) {
            destroy();
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    ~CompactVector() { destroy(); }

    std::size_t size() const noexcept { return block_ != nullptr ? block_->size : 0; }
    std::size_t capacity() const noexcept { return block_ != nullptr ? block_->capacity : 0; }
    bool empty() const noexcept { return size() == 0; }

    T* data() noexcept { return block_ != nullptr ? elements(block_) : nullptr; }
    const T* data() const noexcept { return block_ != nullptr ? elements(block_) : nullptr; }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size(); }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size(); }
    T& operator[](std::size_t i) noexcept { return data()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }
    T& at(std::size_t i) {
        if (i >= size()) throw std::out_of_range("CompactVector::at");
        return data()[i];
    }
    const T& at(std::size_t i) const {
        if (i >= size()) throw std::out_of_range("CompactVector::at");
        return data()[i];
    }
    T& front() noexcept { return data()[0]; }
    const T& front() const noexcept { return data()[0]; }
    T& back() noexcept { return data()[size() - 1]; }
    const T& back() const noexcept { return data()[size() - 1]; }

    // Room for exactly `wanted` entries when there is less.
    void reserve(std::size_t wanted) {
        if (wanted > capacity()) reallocate(wanted);
    }
    void shrink_to_fit() {
        if (capacity() > size()) reallocate(size());
    }

    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (size() == capacity()) {
            T value(std::forward<Args>(args)...);  // may refer into this vector
            reallocate(std::min<std::size_t>(std::max<std::size_t>(1, capacity() * 2), kMaxSize));
            T* slot = ::new (elements(block_) + block_->size) T(std::move(value));
            ++block_->size;
            return *slot;
        }
        T* slot = ::new (elements(block_) + block_->size) T(std::forward<Args>(args)...);
        ++block_->size;
        return *slot;
    }
    void push_back(const T& value) { emplace_back(value); }
    void push_back(T&& value) { emplace_back(std::move(value)); }
    void pop_back() noexcept {
        --block_->size;
        elements(block_)[block_->size].~T();
    }

    // Keeps the block: a cleared vector is refilled without allocating.
    void clear() noexcept {
        if (block_ == nullptr) return;
        std::destroy_n(elements(block_), block_->size);
        block_->size = 0;
    }

    // Ends the entries and frees the block.
    void reset() noexcept { destroy(); }

    void swap(CompactVector& other) noexcept { std::swap(block_, other.block_); }

    friend bool operator==(const CompactVector& a, const CompactVector& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    static constexpr std::size_t kMaxSize = 0xFFFFFFFFu;

    struct Block {
        std::uint32_t size;
        std::uint32_t capacity;
    };
    // A function, not a constant, so that T need only be complete where the
    // vector is used.
    static constexpr std::size_t header() noexcept {
        return (sizeof(Block) + alignof(T) - 1) / alignof(T) * alignof(T);
    }

    static T* elements(Block* block) noexcept {
        return std::launder(reinterpret_cast<T*>(reinterpret_cast<std::byte*>(block) + header()));
    }
    static const T* elements(const Block* block) noexcept { return elements(const_cast<Block*>(block)); }

    // Moves the entries into a block of exactly `capacity` (at least the
    // size); an empty vector of no capacity holds no block.
    void reallocate(std::size_t capacity) {
        static_assert(std::is_nothrow_move_constructible_v<T>);
        static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
        if (capacity > kMaxSize) throw std::bad_alloc();
        Block* fresh = capacity == 0 ? nullptr : allocate(capacity);
        const std::size_t n = size();
        T* from = data();
        for (std::size_t i = 0; i < n; ++i) {
            ::new (elements(fresh) + i) T(std::move(from[i]));
            from[i].~T();
        }
        if (fresh != nullptr) fresh->size = static_cast<std::uint32_t>(n);
        deallocate(block_);
        block_ = fresh;
    }

    static Block* allocate(std::size_t capacity) {
        void* raw = ::operator new(header() + capacity * sizeof(T));
        return ::new (raw) Block{0, static_cast<std::uint32_t>(capacity)};
    }
    static void deallocate(Block* block) noexcept {
        if (block != nullptr) ::operator delete(block);
    }
    void destroy() noexcept {
        if (block_ == nullptr) return;
        std::destroy_n(elements(block_), block_->size);
        deallocate(block_);
        block_ = nullptr;
    }

    Block* block_ = nullptr;
};

}  // namespace quorvel::syntax
