#include "parse/grammar/tracked.hpp"

#include <functional>
#include <string>
#include <unordered_map>

#include "syntax/internal_error.hpp"

namespace quorvel::parse::grammar {

namespace {

using syntax::syntax_node::GroupKind;

// Below this many failures duplicates are looked for pairwise; above it through
// a hash of everything the tree-diagnostic match compares.
constexpr std::size_t kPairwiseLimit = 32;

}  // namespace

TrackedNode& TrackedNode::with_diagnostics(std::vector<ParseFailure> failures) {
    if (diagnostics.empty()) {
        diagnostics = std::move(failures);
    } else {
        diagnostics.reserve(diagnostics.size() + failures.size());
        for (auto& f : failures) diagnostics.push_back(std::move(f));
    }
    return *this;
}

void shift_span_tree(SpanTree& tree, std::size_t delta) {
    std::vector<SpanTree*> pending{&tree};
    while (!pending.empty()) {
        SpanTree* t = pending.back();
        pending.pop_back();
        t->span = t->span.shifted(delta);
        for (SpanTree& c : t->children) pending.push_back(&c);
    }
}

void TrackedNode::offset(std::size_t delta) {
    span = span.shifted(delta);
    for (SpanTree& t : spans) shift_span_tree(t, delta);
    for (ParseFailure& f : diagnostics) f = std::move(f).shifted(delta);
}

void extend_unique_diagnostics(std::vector<ParseFailure>& into, std::vector<ParseFailure> more) {
    if (more.empty()) return;
    if (into.empty() && more.size() == 1) {
        into.push_back(std::move(more.front()));
        return;
    }
    if (into.size() + more.size() <= kPairwiseLimit) {
        for (auto& f : more) {
            bool seen = false;
            for (const auto& g : into) {
                if (g.matches_tree_diagnostic(f)) {
                    seen = true;
                    break;
                }
            }
            if (!seen) into.push_back(std::move(f));
        }
        return;
    }
    std::unordered_multimap<std::size_t, std::size_t> index;
    index.reserve(into.size() + more.size());
    for (std::size_t i = 0; i < into.size(); ++i) index.emplace(diagnostic_match_hash(into[i]), i);
    for (auto& f : more) {
        const std::size_t h = diagnostic_match_hash(f);
        bool seen = false;
        auto [first, last] = index.equal_range(h);
        for (auto it = first; it != last; ++it) {
            if (into[it->second].matches_tree_diagnostic(f)) {
                seen = true;
                break;
            }
        }
        if (!seen) {
            index.emplace(h, into.size());
            into.push_back(std::move(f));
        }
    }
}

void DecomposedChildren::push(TrackedNode&& item) {
    if (nodes.size() == nodes.capacity() && nodes.size() < 8) {
        nodes.reserve(8);
        spans.reserve(8);
    }
    if (!item.diagnostics.empty()) extend_unique_diagnostics(diagnostics, std::move(item.diagnostics));
    spans.emplace_back(item.span, std::move(item.spans));
    nodes.push_back(std::move(item.node));
}

void DecomposedChildren::append(DecomposedChildren&& more) {
    if (nodes.empty()) {
        *this = std::move(more);
        return;
    }
    nodes.reserve(nodes.size() + more.nodes.size());
    spans.reserve(spans.size() + more.spans.size());
    for (auto& n : more.nodes) nodes.push_back(std::move(n));
    for (auto& s : more.spans) spans.push_back(std::move(s));
    extend_unique_diagnostics(diagnostics, std::move(more.diagnostics));
}

DecomposedChildren decompose_children(std::vector<TrackedNode> items) {
    DecomposedChildren out;
    out.nodes.reserve(items.size());
    out.spans.reserve(items.size());
    for (TrackedNode& item : items) out.push(std::move(item));
    return out;
}

DecomposedArgs decompose_args(std::vector<TrackedArgumentSlot>&& slots) {
    DecomposedArgs out;
    out.args.reserve(slots.size());
    for (TrackedArgumentSlot& slot : slots) {
        if (slot.content_spans) out.spans.push_back(std::move(*slot.content_spans));
        if (!slot.diagnostics.empty()) extend_unique_diagnostics(out.diagnostics, std::move(slot.diagnostics));
        out.args.push_back(std::move(slot.argument));
    }
    return out;
}

TrackedNode TrackedNode::fold(ContentMode mode, std::vector<TrackedNode> items, Span span) {
    if (items.size() == 1) {
        TrackedNode only = std::move(items.front());
        only.span = span;
        return only;
    }
    TrackedNode out;
    out.span = span;
    if (items.empty()) {
        out.node = SyntaxNode::Group{mode, GroupKind::Implicit{}, {}};
        return out;
    }
    DecomposedChildren parts = decompose_children(std::move(items));
    out.node = SyntaxNode::Group{mode, GroupKind::Implicit{}, std::move(parts.nodes)};
    out.spans = std::move(parts.spans);
    out.diagnostics = std::move(parts.diagnostics);
    return out;
}

TrackedNode TrackedNode::fold(ContentMode mode, DecomposedChildren&& items, Span span) {
    if (items.size() == 1) {
        return TrackedNode{std::move(items.nodes.front()), span, std::move(items.spans.front().children),
                           std::move(items.diagnostics)};
    }
    return group(mode, GroupKind::Implicit{}, std::move(items), span);
}

TrackedNode TrackedNode::group(ContentMode mode, GroupKind kind, DecomposedChildren&& items, Span span) {
    TrackedNode out{SyntaxNode(), span, std::move(items.spans), std::move(items.diagnostics)};
    out.node.value.emplace<SyntaxNode::Group>(SyntaxNode::Group{mode, std::move(kind), std::move(items.nodes)});
    return out;
}

TrackedNode::FinishedRoot TrackedNode::finish_root(TrackedNode top) {
    FinishedRoot out;
    if (top.node.is<SyntaxNode::Root>()) {
        out.root = std::move(top.node);
    } else if (auto* group = top.node.get_if<SyntaxNode::Group>(); group != nullptr && group->kind.is_implicit()) {
        out.root = SyntaxNode::Root{group->mode, std::move(group->children)};
    } else {
        syntax::internal_error("top-level parser must finish as implicit group or root, got " +
                               syntax::debug_string(top.node));
    }
    out.spans = SpanTree(top.span, std::move(top.spans));
    out.diagnostics = std::move(top.diagnostics);
    return out;
}

}  // namespace quorvel::parse::grammar
