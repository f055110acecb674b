// First blocks of the lists a parse fills item by item (the children of a
// group and their span trees), passed from the document build that empties
// them to the next parse on the same thread.
//
// Nearly every such list takes one first block and the build frees it soon
// after, so a parse otherwise pays an allocation and a release per list and
// kind, and the allocator's fast cache holds few blocks of one size. The
// build hands back the blocks of that size; the grammar takes them first.
// Each thread keeps a bounded number, so an idle thread holds little.
#pragma once

#include <cstddef>
#include <vector>

namespace quorvel::syntax::list_buffers {

// The capacity of a list's first block.
inline constexpr std::size_t kFirstBlock = 8;
// Blocks kept per element type and thread.
inline constexpr std::size_t kKept = 64;

// The kept blocks of this thread. A function's own thread_local, as its
// destructor is then sure to be registered for the thread's exit.
template <class T>
std::vector<std::vector<T>>& spare_blocks() noexcept {
    thread_local std::vector<std::vector<T>> blocks;
    return blocks;
}

// An empty list with room for `kFirstBlock` items.
template <class T>
std::vector<T> take() {
    std::vector<std::vector<T>>& blocks = spare_blocks<T>();
    if (blocks.empty()) {
        std::vector<T> out;
        out.reserve(kFirstBlock);
        return out;
    }
    std::vector<T> out = std::move(blocks.back());
    blocks.pop_back();
    return out;
}

// Empties `list` (its items must own nothing any more) and keeps its block
// when it is a first block and there is room; otherwise frees it.
template <class T>
void give_back(std::vector<T>& list) noexcept {
    std::vector<std::vector<T>>& blocks = spare_blocks<T>();
    if (list.capacity() == kFirstBlock) {
        if (blocks.capacity() == 0) {
            // The first block handed back on a thread makes the room for all;
            // without memory for it, blocks are freed as they come.
            try {
                blocks.reserve(kKept);
            } catch (...) {
            }
        }
        if (blocks.size() < blocks.capacity()) {
            list.clear();
            blocks.push_back(std::move(list));
            return;
        }
    }
    std::vector<T>().swap(list);
}

// Single blocks of `Size` bytes (boxed exchange nodes), kept the same way:
// a parse makes them and the document build frees them by the thousand.
template <std::size_t Size>
struct SingleBlocks {
    std::vector<void*> free;
    SingleBlocks() = default;
    SingleBlocks(const SingleBlocks&) = delete;
    SingleBlocks& operator=(const SingleBlocks&) = delete;
    ~SingleBlocks() {
        for (void* p : free) ::operator delete(p);
    }
};

template <std::size_t Size>
SingleBlocks<Size>& spare_singles() noexcept {
    thread_local SingleBlocks<Size> blocks;
    return blocks;
}

template <std::size_t Size>
void* take_single() {
    std::vector<void*>& free = spare_singles<Size>().free;
    if (free.empty()) return ::operator new(Size);
    void* p = free.back();
    free.pop_back();
    return p;
}

template <std::size_t Size>
void give_back_single(void* p) noexcept {
    std::vector<void*>& free = spare_singles<Size>().free;
    if (free.capacity() == 0) {
        try {
            free.reserve(4 * kKept);
        } catch (...) {
        }
    }
    if (free.size() < free.capacity()) {
        free.push_back(p);
        return;
    }
    ::operator delete(p);
}

}  // namespace quorvel::syntax::list_buffers
