// The source spans of an exchange tree, in a tree of the same shape.
//
// One child per part of the node, in the order the arena's edges take:
// group children; filled content arguments in slot order; an infix's left
// operand before and its right operand after its arguments; an
// environment's body after its arguments; a script's base, then subscript,
// then superscript when present. The parser builds it beside the exchange
// tree and the document reads both together.
//
// Copying, comparing and destroying walk with explicit stacks, so a deep
// tree never exhausts the call stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "parse/span.hpp"

namespace quorvel::syntax {

using Span = parse::Span;

// The children of a span tree: a vector with its two counts in one word, so
// that a span tree, which a large input has one of per node until its
// document is built, takes three words. Lists are limited to 2^32 - 1
// entries. (A template only so that its entries' type may be incomplete.)
template <class T>
class CompactList {
public:
    CompactList() noexcept = default;
    CompactList(CompactList&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0)) {}
    CompactList& operator=(CompactList&& other) noexcept {
        if (this != &other) {
            CompactList old(std::move(*this));
            swap(other);
        }
        return *this;
    }
    // Moves the entries of a vector over.
    explicit CompactList(std::vector<T>&& items) {
        reserve(items.size());
        for (T& item : items) push_back(std::move(item));
    }
    // Entries copy one by one; each copy walks its own tree without recursion.
    CompactList(const CompactList& other) {
        try {
            reserve(other.size());
            for (const T& item : other) emplace_back(item);
        } catch (...) {
            reset();
            throw;
        }
    }
    CompactList& operator=(const CompactList& other) {
        if (this != &other) {
            CompactList copy(other);
            swap(copy);
        }
        return *this;
    }
    ~CompactList() { reset(); }

    std::size_t size() const noexcept { return size_; }
    std::size_t capacity() const noexcept { return capacity_; }
    bool empty() const noexcept { return size_ == 0; }
    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }
    const T* begin() const noexcept { return data_; }
    const T* end() const noexcept { return data_ + size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T& front() noexcept { return data_[0]; }
    const T& front() const noexcept { return data_[0]; }
    T& back() noexcept { return data_[size_ - 1]; }
    const T& back() const noexcept { return data_[size_ - 1]; }

    void reserve(std::size_t n) {
        if (n > capacity_) reallocate(n);
    }
    void shrink_to_fit() {
        if (capacity_ > size_) reallocate(size_);
    }
    void swap(CompactList& other) noexcept {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
    }
    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (size_ == capacity_) {
            // The new entry may come from this list: it is made before the
            // room moves.
            T item(std::forward<Args>(args)...);
            grow();
            return *::new (static_cast<void*>(data_ + size_++)) T(std::move(item));
        }
        return *::new (static_cast<void*>(data_ + size_++)) T(std::forward<Args>(args)...);
    }
    void push_back(T&& item) { emplace_back(std::move(item)); }
    // Ends the entries and keeps the room.
    void clear() noexcept {
        for (std::uint32_t i = size_; i-- > 0;) data_[i].~T();
        size_ = 0;
    }
    // Ends the entries and frees the room.
    void reset() noexcept {
        if (data_ == nullptr) return;
        clear();
        ::operator delete(static_cast<void*>(data_));
        data_ = nullptr;
        capacity_ = 0;
    }

private:
    void reallocate(std::size_t n) {
        if (n > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("span list too long");
        T* fresh = n == 0 ? nullptr : static_cast<T*>(::operator new(n * sizeof(T)));
        for (std::uint32_t i = 0; i < size_; ++i) {
            ::new (static_cast<void*>(fresh + i)) T(std::move(data_[i]));
            data_[i].~T();
        }
        if (data_ != nullptr) {
            ::operator delete(static_cast<void*>(data_));
        }
        data_ = fresh;
        capacity_ = static_cast<std::uint32_t>(n);
    }
    void grow() { reallocate(capacity_ == 0 ? 1 : std::size_t{capacity_} * 2); }

    T* data_ = nullptr;
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 0;
};

struct SpanTree;
using SpanList = CompactList<SpanTree>;

struct SpanTree {
    Span span;
    // Most trees are leaves or have handed their children on, and their
    // destruction is then one test, inline (see ~SpanTree).
    SpanList children;

    SpanTree() noexcept = default;
    explicit SpanTree(Span s) noexcept : span(s) {}
    SpanTree(Span s, SpanList&& kids) noexcept : span(s), children(std::move(kids)) {}
    SpanTree(Span s, const SpanList& kids) : span(s), children(kids) {}
    SpanTree(Span s, std::vector<SpanTree>&& kids) : span(s), children(std::move(kids)) {}
    SpanTree(Span s, const std::vector<SpanTree>& kids) : span(s) {
        guarded([&] {
            children.reserve(kids.size());
            for (const SpanTree& k : kids) children.push_back(SpanTree(k));
        });
    }

    SpanTree(SpanTree&& other) noexcept : span(other.span), children(std::move(other.children)) {}
    SpanTree& operator=(SpanTree&& other) noexcept {
        if (this != &other) {
            // `other` may lie inside this tree: it stays alive in `old` until
            // its children have been taken.
            SpanTree old(std::move(*this));
            span = other.span;
            children = std::move(other.children);
        }
        return *this;
    }

    SpanTree(const SpanTree& other) : span(other.span) {
        guarded([&] { copy_children_from(other); });
    }
    SpanTree& operator=(const SpanTree& other) {
        if (this != &other) {
            SpanTree copy(other);
            *this = std::move(copy);
        }
        return *this;
    }

    ~SpanTree() {
        if (children.data() != nullptr) release();
    }

    friend bool operator==(const SpanTree& a, const SpanTree& b) {
        std::vector<std::pair<const SpanTree*, const SpanTree*>> pending{{&a, &b}};
        while (!pending.empty()) {
            auto [x, y] = pending.back();
            pending.pop_back();
            if (x->span != y->span || x->children.size() != y->children.size()) return false;
            for (std::size_t i = 0; i < x->children.size(); ++i) {
                pending.emplace_back(&x->children[i], &y->children[i]);
            }
        }
        return true;
    }

private:
    // Runs a step that fills `children`; if it throws, frees what it built
    // without recursion.
    template <class F>
    void guarded(F&& fill) {
        try {
            fill();
        } catch (...) {
            if (children.data() != nullptr) release();
            throw;
        }
    }

    // Frees the children and all their descendants.
    [[gnu::noinline]] void release() noexcept {
        // The descendants that hold storage, parents before their own
        // descendants. Freed from the back, each one's children hold none
        // any more, so no destructor does more than its inline test.
        std::vector<SpanTree*> owners;
        for (SpanTree& c : children) {
            if (c.children.data() != nullptr) owners.push_back(&c);
        }
        for (std::size_t i = 0; i < owners.size(); ++i) {
            for (SpanTree& c : owners[i]->children) {
                if (c.children.data() != nullptr) owners.push_back(&c);
            }
        }
        for (std::size_t i = owners.size(); i-- > 0;) owners[i]->children.reset();
        children.reset();
    }

    void copy_children_from(const SpanTree& other) {
        std::vector<std::pair<SpanTree*, const SpanTree*>> pending{{this, &other}};
        while (!pending.empty()) {
            auto [dst, src] = pending.back();
            pending.pop_back();
            dst->children.reserve(src->children.size());
            for (const SpanTree& c : src->children) dst->children.emplace_back(c.span);
            // The reserve above keeps these addresses stable.
            for (std::size_t i = 0; i < src->children.size(); ++i) {
                pending.emplace_back(&dst->children[i], &src->children[i]);
            }
        }
    }
};

static_assert(sizeof(SpanTree) == sizeof(Span) + 16, "a span tree is its span and three words' list");

}  // namespace quorvel::syntax
