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

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "parse/span.hpp"
#include "syntax/compact_vector.hpp"
#include "util/release_walk.hpp"

namespace quorvel::syntax {

using Span = parse::Span;

struct SpanTree;
// A span tree, which a large input has one of per node until its document
// is built, is then its span and one word.
using SpanList = CompactVector<SpanTree>;

struct SpanTree {
    Span span;
    // Most trees are leaves or have handed their children on, and their
    // destruction is then one test, inline (see ~SpanTree).
    SpanList children;

    SpanTree() noexcept = default;
    explicit SpanTree(Span s) noexcept : span(s) {}
    // A template, so that a braced list of children picks the vector form.
    template <class List, std::enable_if_t<std::is_same_v<std::remove_cvref_t<List>, SpanList>, int> = 0>
    SpanTree(Span s, List&& kids) : span(s), children(std::forward<List>(kids)) {}
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

    // Frees the children and all their descendants with no allocation (the
    // destructor's way when memory is exhausted), bottom-up on a path kept
    // in a fixed ring.
    void release_in_place() noexcept {
        const auto owning_child = [](SpanTree& tree) -> SpanTree* {
            auto& list = tree.children;
            while (!list.empty() && list.back().children.data() == nullptr) list.pop_back();
            return list.empty() ? nullptr : &list.back();
        };
        util::release_bottom_up(*this, owning_child, [](SpanTree& tree) { tree.children.reset(); });
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

    // Frees the children and all their descendants, without allocating:
    // this runs in destructors, also while out of memory.
    [[gnu::noinline]] void release() noexcept {
        // The descendants that hold storage, parents before their own
        // descendants. Freed from the back, each one's children hold none
        // any more, so no destructor does more than its inline test.
        std::vector<SpanTree*> owners;
        try {
            for (SpanTree& c : children) {
                if (c.children.data() != nullptr) owners.push_back(&c);
            }
            for (std::size_t i = 0; i < owners.size(); ++i) {
                for (SpanTree& c : owners[i]->children) {
                    if (c.children.data() != nullptr) owners.push_back(&c);
                }
            }
        } catch (const std::bad_alloc&) {
            // No memory for the list (often because of this tree's size):
            // nothing is freed yet, so take the walk that needs none.
            release_in_place();
            return;
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

static_assert(sizeof(SpanTree) == sizeof(Span) + 8, "a span tree is its span and a one-word list");

}  // namespace quorvel::syntax
