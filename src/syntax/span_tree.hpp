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

#include <utility>
#include <vector>

#include "parse/span.hpp"

namespace quorvel::syntax {

using Span = parse::Span;

struct SpanTree {
    Span span;
    std::vector<SpanTree> children;

    SpanTree() = default;
    explicit SpanTree(Span s) : span(s) {}
    SpanTree(Span s, std::vector<SpanTree> kids) : span(s), children(std::move(kids)) {}

    SpanTree(SpanTree&&) noexcept = default;
    SpanTree& operator=(SpanTree&& other) noexcept {
        if (this != &other) {
            SpanTree old(std::move(*this));
            span = other.span;
            children = std::move(other.children);
        }
        return *this;
    }

    SpanTree(const SpanTree& other) : span(other.span) { copy_children_from(other); }
    SpanTree& operator=(const SpanTree& other) {
        if (this != &other) {
            SpanTree copy(other);
            *this = std::move(copy);
        }
        return *this;
    }

    ~SpanTree() {
        if (!children.empty()) release_descendants();
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
    void release_descendants() {
        // The descendants that have children, parents before their own
        // descendants. Cleared from the back, each one's children are
        // already childless, so no destructor recurses more than one level.
        std::vector<SpanTree*> parents;
        for (SpanTree& c : children) {
            if (!c.children.empty()) parents.push_back(&c);
        }
        for (std::size_t i = 0; i < parents.size(); ++i) {
            for (SpanTree& c : parents[i]->children) {
                if (!c.children.empty()) parents.push_back(&c);
            }
        }
        for (std::size_t i = parents.size(); i-- > 0;) parents[i]->children.clear();
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

}  // namespace quorvel::syntax
