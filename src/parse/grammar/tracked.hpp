// What every grammar rule returns: an exchange-tree node with the source span
// it came from, the span trees of its children (parallel to the exchange
// tree, in the document's child order) and the failures gathered below it.
//
// All parts destroy and copy without recursion per tree level (SyntaxNode and
// SpanTree walk with explicit stacks), so deep trees are safe.
#pragma once

#include <cstddef>
#include <optional>
#include <tuple>
#include <vector>

#include "parse/failure.hpp"
#include "parse/span.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/span_tree.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::parse::grammar {

using syntax::ContentMode;
using syntax::SpanTree;
using syntax::SyntaxNode;

struct DecomposedChildren;

struct TrackedNode {
    SyntaxNode node;
    Span span;
    std::vector<SpanTree> spans;
    std::vector<ParseFailure> diagnostics;

    // A node without children and failures.
    static TrackedNode leaf(SyntaxNode node, Span span) {
        TrackedNode t;
        t.node = std::move(node);
        t.span = span;
        return t;
    }

    // The node's own span tree; the node keeps its exchange node.
    SpanTree take_span_tree() { return SpanTree(span, std::move(spans)); }

    // Appends failures after the node's own, duplicates included.
    TrackedNode& with_diagnostics(std::vector<ParseFailure> failures);

    // Moves every span of the node, of its span trees and of its failures.
    void offset(std::size_t delta);

    // A content list made one node: an empty implicit group, the single item
    // itself (with `span`), or an implicit group of the items.
    static TrackedNode fold(ContentMode mode, std::vector<TrackedNode> items, Span span);
    static TrackedNode fold(ContentMode mode, DecomposedChildren&& items, Span span);
    // The group of a content list with the given mode, kind and span.
    static TrackedNode group(ContentMode mode, syntax::syntax_node::GroupKind kind, DecomposedChildren&& items,
                             Span span);

    // The top-level node as a Root with its span tree and failures.
    struct FinishedRoot {
        SyntaxNode root;
        SpanTree spans;
        std::vector<ParseFailure> diagnostics;
    };
    static FinishedRoot finish_root(TrackedNode top);
};

// Makes `out` a node without children and failures holding `value` over
// `span`; the node is built in place.
template <class V>
void set_leaf(TrackedNode& out, V value, Span span) {
    out.node.value.template emplace<V>(std::move(value));
    out.span = span;
    out.spans.clear();
    out.diagnostics.clear();
}

// One read argument slot: the argument (none for an optional slot that was
// not written), the span tree of its content when the value is content, and
// the slot's failures.
struct TrackedArgumentSlot {
    std::optional<syntax::syntax_node::Argument> argument;
    std::optional<SpanTree> content_spans;
    std::vector<ParseFailure> diagnostics;
};

// Items in the form a group needs them: their nodes, one span tree each, and
// their failures without duplicates. Content parsers build it item by item.
struct DecomposedChildren {
    std::vector<SyntaxNode> nodes;
    std::vector<SpanTree> spans;
    std::vector<ParseFailure> diagnostics;

    bool empty() const noexcept { return nodes.empty(); }
    std::size_t size() const noexcept { return nodes.size(); }
    // Adds one item at the end.
    void push(TrackedNode&& item);
    // Adds the items of another list at the end.
    void append(DecomposedChildren&& more);
    // From the first item's start to the last item's end; `empty` without items.
    Span extent(Span empty) const noexcept {
        return nodes.empty() ? empty : Span{spans.front().span.start, spans.back().span.end};
    }
};
// The items' nodes, one span tree each, and their failures without duplicates.
DecomposedChildren decompose_children(std::vector<TrackedNode> items);

struct DecomposedArgs {
    syntax::SyntaxNode::ArgumentSlots args;
    std::vector<SpanTree> spans;  // one per content-bearing slot
    std::vector<ParseFailure> diagnostics;
};
DecomposedArgs decompose_args(std::vector<TrackedArgumentSlot>&& slots);

// Appends the failures of `more` that no failure of `into` (those appended by
// this call included) matches as a tree diagnostic.
void extend_unique_diagnostics(std::vector<ParseFailure>& into, std::vector<ParseFailure> more);

// Every span of the tree moved by `delta`.
void shift_span_tree(SpanTree& tree, std::size_t delta);

}  // namespace quorvel::parse::grammar
