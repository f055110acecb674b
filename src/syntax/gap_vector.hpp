// A vector of trivially copyable values that keeps its first N elements
// inline, like SmallVector, and can hold a gap in its heap block.
//
// A gap is a run of unused slots inside the block. Inserting or erasing
// through the gap (`insert_at_gap`, `erase_at_gap`) first moves the gap to
// the position, costing the distance from where it was, not the elements
// behind the position: a series of edits that walks a long list from left to
// right then costs the list's length once, not once per edit. Element access,
// `size` and in-place writes see through the gap at no cost; anything that
// needs the elements contiguous (`data`, `begin`, `span`, and the plain
// `insert`, `erase` and `push_back`) closes it first, moving the elements
// behind it. The gap's two counters sit in the inline room, which a heap
// block leaves unused, so the type is no larger than SmallVector.
//
// Closing is the one change a const access makes: a vector with a gap must
// have a single user, as every edited list has.
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

#include "util/work_count.hpp"

namespace quorvel::syntax {

template <class T, std::uint32_t N>
class GapVector {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(N > 0);

    struct Heap {
        T* block;
        std::uint32_t gap_start;  // physical position of the gap
        std::uint32_t gap_length;
    };
    static_assert(sizeof(Heap) <= N * sizeof(T), "the inline room must hold a block and the gap");

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    GapVector() noexcept = default;
    GapVector(std::initializer_list<T> values) { assign(values.begin(), values.size()); }
    explicit GapVector(std::span<const T> values) { assign(values.data(), values.size()); }
    template <class It>
    GapVector(It first, It last) {
        for (; first != last; ++first) push_back(*first);
    }
    GapVector(const GapVector& other) { copy_from(other); }
    GapVector(GapVector&& other) noexcept { steal(other); }
    GapVector& operator=(const GapVector& other) {
        if (this != &other) {
            clear();
            copy_from(other);
        }
        return *this;
    }
    GapVector& operator=(GapVector&& other) noexcept {
        if (this != &other) {
            release();
            steal(other);
        }
        return *this;
    }
    ~GapVector() { release(); }

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool has_gap() const noexcept { return gap_length() != 0; }

    // Element access sees through the gap.
    T& operator[](std::size_t i) noexcept { return raw()[physical(i)]; }
    const T& operator[](std::size_t i) const noexcept { return raw()[physical(i)]; }
    T& back() noexcept { return (*this)[size_ - 1]; }
    const T& back() const noexcept { return (*this)[size_ - 1]; }

    // The elements before the gap and after it, without closing it: walks
    // over every element pay for the gap once, not per element.
    struct Segments {
        std::span<const T> front;
        std::span<const T> back;
    };
    Segments segments() const noexcept {
        if (is_inline()) return {{inline_data_const(), size_}, {}};
        const Heap& h = heap();
        if (h.gap_length == 0) return {{h.block, size_}, {}};
        return {{h.block, h.gap_start}, {h.block + h.gap_start + h.gap_length, size_ - h.gap_start}};
    }

    // Contiguous access closes the gap.
    T* data() noexcept {
        if (is_inline()) return inline_data();
        if (heap().gap_length != 0) [[unlikely]] close_open_gap();
        return heap().block;
    }
    const T* data() const noexcept { return const_cast<GapVector*>(this)->data(); }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size_; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size_; }
    operator std::span<const T>() const noexcept { return span(); }  // NOLINT
    std::span<const T> span() const noexcept { return {data(), size_}; }

    // Moves the elements behind the gap down onto it.
    void close_gap() const noexcept {
        if (has_gap()) const_cast<GapVector&>(*this).close_open_gap();
    }

    void reserve(std::size_t wanted) {
        close_gap();
        grow_to(wanted);
    }

    void push_back(const T& value) {
        close_gap();
        if (size_ == capacity_) {
            T copy = value;  // `value` may live in this vector
            grow_to(std::size_t{size_} + 1);
            raw()[size_++] = copy;
            return;
        }
        raw()[size_++] = value;
    }

    // Removes the last element; the vector must not be empty.
    void pop_back() noexcept {
        close_gap();
        --size_;
    }

    // Inserts at position `pos` (at most size()), moving everything behind.
    void insert(std::size_t pos, const T& value) {
        T copy = value;
        close_gap();
        if (size_ == capacity_) grow_to(std::size_t{size_} + 1);
        T* d = raw();
        shift(d + pos + 1, d + pos, size_ - pos);
        d[pos] = copy;
        ++size_;
    }

    // Removes positions [first, last), moving everything behind.
    void erase(std::size_t first, std::size_t last) {
        close_gap();
        T* d = raw();
        shift(d + first, d + last, size_ - last);
        size_ -= static_cast<std::uint32_t>(last - first);
    }
    void erase(std::size_t pos) { erase(pos, pos + 1); }

    // Inserts at position `pos` through the gap. A missing gap is opened with
    // room for an eighth of the list more, so a run of insertions in one
    // place moves the elements behind it once per that many.
    void insert_at_gap(std::size_t pos, const T& value) {
        T copy = value;
        if (gap_length() == 0) open_gap(pos, std::max<std::size_t>(8, size_ / 8));
        move_gap(pos);
        Heap& h = heap();
        h.block[h.gap_start++] = copy;
        --h.gap_length;
        ++size_;
    }

    // Removes positions [first, last) into the gap.
    void erase_at_gap(std::size_t first, std::size_t last) {
        if (first == last) return;
        if (is_inline()) {
            erase(first, last);
            return;
        }
        move_gap(first);
        heap().gap_length += static_cast<std::uint32_t>(last - first);
        size_ -= static_cast<std::uint32_t>(last - first);
    }

    // Inserts `count` values at `pos` without allocating: through the gap
    // when it is wide enough, else moving the elements behind. The caller
    // knows there is room: `size() + count` is at most `capacity()`, as it
    // is when putting back what an erase took out.
    void insert_in_place(std::size_t pos, const T* values, std::size_t count) noexcept {
        if (count == 0) return;
        if (gap_length() >= count) {
            move_gap(pos);
            Heap& h = heap();
            std::memcpy(h.block + h.gap_start, values, count * sizeof(T));
            h.gap_start += static_cast<std::uint32_t>(count);
            h.gap_length -= static_cast<std::uint32_t>(count);
        } else {
            close_gap();
            T* d = raw();
            shift(d + pos + count, d + pos, size_ - pos);
            std::memcpy(d + pos, values, count * sizeof(T));
        }
        size_ += static_cast<std::uint32_t>(count);
    }

    // Removes positions [first, last) without allocating, and without
    // opening a gap in a vector that has none.
    void erase_in_place(std::size_t first, std::size_t last) noexcept {
        if (has_gap()) {
            erase_at_gap(first, last);
            return;
        }
        T* d = raw();
        shift(d + first, d + last, size_ - last);
        size_ -= static_cast<std::uint32_t>(last - first);
    }

    void clear() noexcept {
        size_ = 0;
        if (!is_inline()) heap().gap_length = 0;
    }

    friend bool operator==(const GapVector& a, const GapVector& b) noexcept {
        if (a.size_ != b.size_) return false;
        for (std::size_t i = 0; i < a.size_; ++i)
            if (!(a[i] == b[i])) return false;
        return true;
    }

private:
    static constexpr std::size_t kMaxSize = 0xFFFFFFFFu;

    bool is_inline() const noexcept { return capacity_ == N; }
    T* inline_data() noexcept { return std::launder(reinterpret_cast<T*>(inline_)); }
    const T* inline_data_const() const noexcept { return std::launder(reinterpret_cast<const T*>(inline_)); }
    Heap& heap() noexcept { return *std::launder(reinterpret_cast<Heap*>(inline_)); }
    const Heap& heap() const noexcept { return *std::launder(reinterpret_cast<const Heap*>(inline_)); }
    T* raw() noexcept { return is_inline() ? inline_data() : heap().block; }
    const T* raw() const noexcept { return const_cast<GapVector*>(this)->raw(); }
    std::uint32_t gap_length() const noexcept { return is_inline() ? 0 : heap().gap_length; }

    [[gnu::noinline]] void close_open_gap() noexcept {
        move_gap(size_);
        heap().gap_length = 0;
    }

    std::size_t physical(std::size_t i) const noexcept {
        if (is_inline()) return i;
        const Heap& h = heap();
        return i < h.gap_start ? i : i + h.gap_length;
    }

    // Moves `count` elements within the block: the list work of an edit.
    static void shift(T* to, const T* from, std::size_t count) noexcept {
        std::memmove(to, from, count * sizeof(T));
        util::work_count += count;
    }

    // Moves the gap so that it starts at element `pos`.
    void move_gap(std::size_t pos) noexcept {
        Heap& h = heap();
        if (h.gap_length == 0) {
            h.gap_start = static_cast<std::uint32_t>(pos);
            return;
        }
        T* d = h.block;
        if (pos < h.gap_start) {
            shift(d + pos + h.gap_length, d + pos, h.gap_start - pos);
        } else if (pos > h.gap_start) {
            shift(d + h.gap_start, d + h.gap_start + h.gap_length, pos - h.gap_start);
        }
        h.gap_start = static_cast<std::uint32_t>(pos);
    }

    // A gap of `extra` slots at `pos` in a vector that has none.
    void open_gap(std::size_t pos, std::size_t extra) {
        grow_to(std::max<std::size_t>(std::size_t{size_} + extra, N + 1));
        Heap& h = heap();
        T* d = h.block;
        shift(d + pos + extra, d + pos, size_ - pos);
        h.gap_start = static_cast<std::uint32_t>(pos);
        h.gap_length = static_cast<std::uint32_t>(extra);
    }

    // Room for `wanted` elements in a heap block (the gap closed before).
    void grow_to(std::size_t wanted) {
        if (wanted <= capacity_) return;
        if (wanted > kMaxSize) throw std::bad_alloc();
        std::size_t grown = std::max<std::size_t>(wanted, std::size_t{capacity_} * 2);
        if (grown > kMaxSize) grown = kMaxSize;
        // Through operator new, as every other block of the tree, so that a
        // failing allocation behaves the same wherever it happens.
        T* fresh = static_cast<T*>(::operator new(grown * sizeof(T)));
        if (size_ > 0) std::memcpy(fresh, raw(), size_ * sizeof(T));
        release();
        heap() = Heap{fresh, 0, 0};
        capacity_ = static_cast<std::uint32_t>(grown);
    }

    void assign(const T* values, std::size_t count) {
        grow_to(count);
        if (count > 0) std::memcpy(raw(), values, count * sizeof(T));
        size_ = static_cast<std::uint32_t>(count);
    }
    // The elements of `other` into this empty vector, without touching
    // `other`'s gap (it may be a const object).
    void copy_from(const GapVector& other) {
        grow_to(other.size_);
        T* d = raw();
        const T* s = other.raw();
        if (other.gap_length() == 0) {
            if (other.size_ > 0) std::memcpy(d, s, other.size_ * sizeof(T));
        } else {
            const Heap& h = other.heap();
            if (h.gap_start > 0) std::memcpy(d, s, h.gap_start * sizeof(T));
            const std::size_t tail = other.size_ - h.gap_start;
            if (tail > 0) std::memcpy(d + h.gap_start, s + h.gap_start + h.gap_length, tail * sizeof(T));
        }
        size_ = other.size_;
    }
    void steal(GapVector& other) noexcept {
        size_ = other.size_;
        capacity_ = other.capacity_;
        std::memcpy(inline_, other.inline_, sizeof(inline_));
        other.size_ = 0;
        other.capacity_ = N;
    }
    void release() noexcept {
        if (!is_inline()) ::operator delete(heap().block);
        capacity_ = N;
    }

    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = N;  // equal to N exactly while inline
    alignas(T) alignas(Heap) std::byte inline_[N * sizeof(T)];
};

}  // namespace quorvel::syntax
