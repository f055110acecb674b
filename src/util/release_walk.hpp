// Frees a tree bottom-up with neither recursion nor heap memory.
//
// Destructors run while an exception unwinds, out of memory among others:
// if freeing a tree needed a list of its nodes, the allocation would throw
// inside a destructor and end the process. The walk instead goes down to a
// node whose children own nothing, frees those, and goes back up, keeping its
// path in a fixed ring. A tree deeper than the ring loses the top of the path;
// once the kept part is used up the walk starts again from the root, where the
// freed parts are no longer found, so each restart costs one path from the top
// and follows at least `Ring` frees.
#pragma once

#include <cstddef>

namespace quorvel::util {

// `owning_child(node)`: a child of `node` that still owns children, or null
// (it may free childless children on the way); `release(node)`: frees the
// children of a node whose children own nothing.
template <std::size_t Ring = 2048, class Node, class OwningChild, class Release>
void release_bottom_up(Node& root, OwningChild&& owning_child, Release&& release) noexcept {
    static_assert(Ring > 0 && (Ring & (Ring - 1)) == 0, "the ring's size is a power of two");
    Node* path[Ring];
    for (;;) {
        std::size_t top = 0;   // index of the deepest entry, counted without wrapping
        std::size_t kept = 1;  // entries of the path the ring still holds
        bool lost = false;
        path[0] = &root;
        while (kept > 0) {
            Node* node = path[top % Ring];
            if (Node* next = owning_child(*node)) {
                ++top;
                path[top % Ring] = next;
                if (kept == Ring) {
                    lost = true;
                } else {
                    ++kept;
                }
            } else {
                release(*node);
                --top;
                --kept;
            }
        }
        if (!lost) return;
    }
}

}  // namespace quorvel::util
