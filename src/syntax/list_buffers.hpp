// First blocks of the lists a parse fills item by item (the children of a
// group and their span trees), passed from the document build that empties
// them to the next parse on the same thread.
//
// Nearly every such list takes one first block and the build frees it soon
// after, so a parse otherwise pays an allocation and a release per list and
// kind, and the allocator's fast cache holds few blocks of one size. The
// build hands back the blocks of that size; the grammar takes them first.
// Each thread keeps a bounded number, so an idle thread holds little.
//
// The kept blocks of a thread are freed when the thread ends. A list freed
// after that (by an object that outlives the thread's own storage) is freed
// directly: the handle below stays valid for the whole life of the thread.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#include "util/thread_storage.hpp"

namespace quorvel::syntax::list_buffers {

// The capacity of a list's first block.
inline constexpr std::size_t kFirstBlock = 8;
// Blocks kept per element type and thread.
inline constexpr std::size_t kKept = 64;

namespace detail {

// Trivially destructible, so it can be read until the thread is gone; the
// blocks themselves live behind `kept` and go with the thread's `Release`.
template <class Kept>
struct Handle {
    Kept* kept = nullptr;
    bool closed = false;
};

template <class Kept>
inline thread_local constinit Handle<Kept> handle{};

template <class Kept>
struct Release {
    ~Release() {
        Handle<Kept>& h = handle<Kept>;
        delete h.kept;
        h.kept = nullptr;
        h.closed = true;
    }
};

// Makes this thread's kept blocks on first use; null once the thread is
// ending, or when there is no memory for the bookkeeping.
template <class Kept>
[[gnu::noinline]] Kept* open_kept() noexcept {
    Handle<Kept>& h = handle<Kept>;
    if (h.closed) return nullptr;
    try {
        h.kept = new Kept();
        h.kept->reserve(Kept::kRoom);
        constinit thread_local util::ThreadCache<Release<Kept>> release;
        (void)*release;
    } catch (...) {
        delete h.kept;
        h.kept = nullptr;
    }
    return h.kept;
}

template <class Kept>
inline Kept* kept() noexcept {
    Kept* k = handle<Kept>.kept;
    return k != nullptr ? k : open_kept<Kept>();
}

template <class List>
struct KeptLists : std::vector<List> {
    static constexpr std::size_t kRoom = kKept;
};

}  // namespace detail

// An empty list (a std::vector or any list with the same reserve, capacity,
// clear and move surface) with room for `kFirstBlock` items.
template <class List>
List take_list() {
    auto* blocks = detail::kept<detail::KeptLists<List>>();
    if (blocks == nullptr || blocks->empty()) {
        List out;
        out.reserve(kFirstBlock);
        return out;
    }
    List out = std::move(blocks->back());
    blocks->pop_back();
    return out;
}

template <class T>
std::vector<T> take() {
    return take_list<std::vector<T>>();
}

// Empties `list` (its items must own nothing any more) and keeps its block
// when it is a first block and there is room; otherwise frees it.
template <class List>
void give_back(List& list) noexcept {
    if (list.capacity() == kFirstBlock) {
        auto* blocks = detail::kept<detail::KeptLists<List>>();
        if (blocks != nullptr && blocks->size() < blocks->capacity()) {
            list.clear();
            blocks->push_back(std::move(list));
            return;
        }
    }
    List().swap(list);
}

// Single blocks of `Size` bytes (boxed exchange nodes), kept the same way:
// a parse makes them and the document build frees them by the thousand.
namespace detail {

template <std::size_t Size>
struct KeptSingles : std::vector<void*> {
    static constexpr std::size_t kRoom = 4 * kKept;
    KeptSingles() = default;
    KeptSingles(const KeptSingles&) = delete;
    KeptSingles& operator=(const KeptSingles&) = delete;
    ~KeptSingles() {
        for (void* p : *this) ::operator delete(p);
    }
};

}  // namespace detail

template <std::size_t Size>
void* take_single() {
    auto* free = detail::kept<detail::KeptSingles<Size>>();
    if (free == nullptr || free->empty()) return ::operator new(Size);
    void* p = free->back();
    free->pop_back();
    return p;
}

template <std::size_t Size>
void give_back_single(void* p) noexcept {
    auto* free = detail::kept<detail::KeptSingles<Size>>();
    if (free != nullptr && free->size() < free->capacity()) {
        free->push_back(p);
        return;
    }
    ::operator delete(p);
}

}  // namespace quorvel::syntax::list_buffers
