#include "parse/grammar/tracked.hpp"

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include "parse/hash_index.hpp"
#include "syntax/internal_error.hpp"
#include "syntax/list_buffers.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse::grammar {

namespace {

using syntax::syntax_node::GroupKind;

// Below this many failures duplicates are looked for pairwise; above it through
// a hash of everything the tree-diagnostic match compares.
constexpr std::size_t kPairwiseLimit = 32;

// A list of at most this many failures joins another list's block instead of
// taking a block to join them.
constexpr std::size_t kJoinedItems = 16;

// A list that fills this many items goes on in blocks, which double in size
// up to the last one. Blocks this large come straight from the system and
// go back to it when freed.
constexpr std::size_t kSealFrom = std::size_t{1} << 16;
constexpr std::size_t kLastBlock = std::size_t{1} << 20;

}  // namespace

TrackedNode& TrackedNode::with_diagnostics(std::vector<ParseFailure> failures) {
    diagnostics.append(FailureList(std::move(failures)));
    return *this;
}

TrackedNode TrackedNode::error(Span span, std::string message, std::string text, ParseDiagnosticKind kind) {
    ParseFailure failure = ParseFailure::custom(span, message);
    failure.kind = kind;
    TrackedNode out = leaf(SyntaxNode::Error{std::move(message), std::move(text)}, span);
    out.diagnostics.push_back(std::move(failure));
    return out;
}

// ---- Failure lists ---------------------------------------------------------------

FailureList::FailureList(std::vector<ParseFailure>&& failures) {
    if (failures.empty()) return;
    Fuel::current().hold(sizeof(Block));
    block_ = new Block;
    block_->items = std::move(failures);
}

void FailureList::release(Block* block) noexcept {
    ++util::work_count;
    if (--block->refs != 0) return;
    block->next_dead = nullptr;
    Block* dead = block;
    while (dead != nullptr) {
        Block* b = dead;
        dead = b->next_dead;
        util::work_count += 1 + b->items.size();
        for (Block* child : {b->left, b->right}) {
            if (child != nullptr && --child->refs == 0) {
                child->next_dead = dead;
                dead = child;
            }
        }
        delete b;
    }
}

void FailureList::push_back(ParseFailure&& failure) {
    Fuel::current().hold(sizeof(Block));
    if (block_ != nullptr && block_->refs == 1) {
        block_->items.push_back(std::move(failure));
        return;
    }
    auto* b = new Block;
    try {
        b->items.push_back(std::move(failure));
    } catch (...) {
        delete b;
        throw;
    }
    b->left = block_;
    block_ = b;
}

void FailureList::append(FailureList&& more) {
    if (more.block_ == nullptr) return;
    if (block_ == nullptr) {
        block_ = std::exchange(more.block_, nullptr);
        return;
    }
    // A short list that is a block of its own joins this list's block, so
    // that the many single failures an input gathers take no block each.
    Block* m = more.block_;
    if (block_->refs == 1 && m->refs == 1 && m->left == nullptr && m->right == nullptr &&
        m->items.size() <= kJoinedItems) {
        block_->items.reserve(block_->items.size() + m->items.size());
        for (ParseFailure& f : m->items) block_->items.push_back(std::move(f));
        more.clear();
        return;
    }
    Fuel::current().hold(sizeof(Block));
    auto* b = new Block;
    b->left = block_;
    b->right = std::exchange(more.block_, nullptr);
    block_ = b;
}

std::vector<ParseFailure> FailureList::take() && {
    std::vector<ParseFailure> all;
    if (block_ == nullptr) return all;
    // In order: left, right, then the block's items. A block that only this
    // list holds gives its failures up; a shared one is copied from.
    struct Visit {
        Block* block;
        bool owned;
        std::uint8_t stage;
    };
    std::vector<Visit> stack;
    stack.push_back({block_, block_->refs == 1, 0});
    while (!stack.empty()) {
        Visit& v = stack.back();
        Block* b = v.block;
        const bool owned = v.owned;
        if (v.stage == 0) {
            v.stage = 1;
            if (b->left != nullptr) stack.push_back({b->left, owned && b->left->refs == 1, 0});
            continue;
        }
        if (v.stage == 1) {
            v.stage = 2;
            if (b->right != nullptr) stack.push_back({b->right, owned && b->right->refs == 1, 0});
            continue;
        }
        stack.pop_back();
        util::work_count += 1 + b->items.size();
        for (ParseFailure& f : b->items) {
            if (owned) {
                all.push_back(std::move(f));
            } else {
                all.push_back(f);
            }
        }
    }
    clear();

    if (all.size() < 2) return all;
    std::size_t kept = 0;
    auto keep = [&](std::size_t i) {
        if (kept != i) all[kept] = std::move(all[i]);
        ++kept;
    };
    if (all.size() <= kPairwiseLimit) {
        for (std::size_t i = 0; i < all.size(); ++i) {
            bool seen = false;
            for (std::size_t j = 0; j < kept && !seen; ++j) seen = all[j].matches_tree_diagnostic(all[i]);
            if (!seen) keep(i);
        }
    } else {
        HashIndex index;
        for (std::size_t i = 0; i < all.size(); ++i) {
            const std::size_t h = diagnostic_match_hash(all[i]);
            if (index.any_of(h, [&](std::size_t j) { return all[j].matches_tree_diagnostic(all[i]); })) continue;
            index.insert(h, kept);
            keep(i);
        }
    }
    all.resize(kept);
    return all;
}

void DecomposedChildren::make_room() {
    if (nodes.size() < nodes.capacity()) return;
    // One first block of each for nearly every list, reused from lists the
    // document build emptied. Smaller first blocks cost more in reallocation
    // than they save, larger ones leave the allocator's fast cache.
    namespace lists = syntax::list_buffers;
    if (nodes.size() < lists::kFirstBlock) {
        if (nodes.capacity() == 0 && spans.capacity() == 0) {
            nodes = lists::take<SyntaxNode>();
            spans = lists::take_list<syntax::SpanList>();
        } else {
            nodes.reserve(lists::kFirstBlock);
            spans.reserve(lists::kFirstBlock);
        }
        return;
    }
    if (nodes.size() < kSealFrom) return;
    const std::size_t next = std::min(nodes.size() * 2, kLastBlock);
    if (sealed == nullptr) sealed = std::make_unique<Sealed>();
    sealed->size += nodes.size();
    sealed->blocks.push_back(syntax::ParsedBlock{std::move(nodes), std::move(spans)});
    nodes = {};
    spans = {};
    nodes.reserve(next);
    spans.reserve(next);
}

void DecomposedChildren::push_parts(SyntaxNode&& node, SpanTree&& span) {
    make_room();
    spans.push_back(std::move(span));
    nodes.push_back(std::move(node));
}

void DecomposedChildren::append(DecomposedChildren&& more) {
    if (empty()) {
        *this = std::move(more);
        return;
    }
    if (sealed == nullptr && more.sealed == nullptr && nodes.size() + more.nodes.size() < kSealFrom) {
        // Grown by doubling: a content appends one list per cell.
        const std::size_t wanted = nodes.size() + more.nodes.size();
        if (wanted > nodes.capacity()) nodes.reserve(std::max(wanted, 2 * nodes.capacity()));
        if (wanted > spans.capacity()) spans.reserve(std::max(wanted, 2 * spans.capacity()));
        for (auto& n : more.nodes) nodes.push_back(std::move(n));
        for (auto& s : more.spans) spans.push_back(std::move(s));
    } else {
        if (std::unique_ptr<Sealed> earlier = std::move(more.sealed)) {
            for (syntax::ParsedBlock& block : earlier->blocks) {
                for (std::size_t i = 0; i < block.nodes.size(); ++i) {
                    push_parts(std::move(block.nodes[i]), std::move(block.spans[i]));
                }
                block = {};
            }
        }
        for (std::size_t i = 0; i < more.nodes.size(); ++i) {
            push_parts(std::move(more.nodes[i]), std::move(more.spans[i]));
        }
    }
    diagnostics.append(std::move(more.diagnostics));
}

void DecomposedChildren::flatten() {
    if (sealed == nullptr) return;
    std::vector<SyntaxNode> all_nodes;
    syntax::SpanList all_spans;
    all_nodes.reserve(size());
    all_spans.reserve(size());
    // Each block is freed as soon as it was moved.
    for (syntax::ParsedBlock& block : sealed->blocks) {
        for (auto& n : block.nodes) all_nodes.push_back(std::move(n));
        for (auto& s : block.spans) all_spans.push_back(std::move(s));
        block = {};
    }
    for (auto& n : nodes) all_nodes.push_back(std::move(n));
    for (auto& s : spans) all_spans.push_back(std::move(s));
    nodes = std::move(all_nodes);
    spans = std::move(all_spans);
    sealed.reset();
}

void DecomposedChildren::take_blocks(syntax::ParsedRoot& root) && {
    if (sealed != nullptr) root.blocks = std::move(sealed->blocks);
    root.last = syntax::ParsedBlock{std::move(nodes), std::move(spans)};
    sealed.reset();
    nodes = {};
    spans = {};
}

DecomposedArgs decompose_args(std::vector<TrackedArgumentSlot>&& slots, std::size_t input_tokens) {
    namespace lists = syntax::list_buffers;
    DecomposedArgs out;
    std::size_t contents = 0;
    for (const TrackedArgumentSlot& slot : slots) contents += slot.content_spans ? 1 : 0;
    if (slots.empty()) return out;
    if (slots.size() <= lists::kFirstBlock && !compact_lists(input_tokens)) {
        out.args = lists::take_list<syntax::SyntaxNode::ArgumentSlots>();
        if (contents > 0) out.spans = lists::take_list<syntax::SpanList>();
    } else {
        out.args.reserve(slots.size());
        out.spans.reserve(contents);
    }
    for (TrackedArgumentSlot& slot : slots) {
        if (slot.content_spans) out.spans.push_back(std::move(*slot.content_spans));
        if (!slot.diagnostics.empty()) out.diagnostics.append(std::move(slot.diagnostics));
        out.args.push_back(std::move(slot.argument));
    }
    lists::give_back(slots);
    return out;
}

TrackedNode TrackedNode::fold(ContentMode mode, DecomposedChildren&& items, Span span, std::size_t input_tokens) {
    if (items.size() == 1) {
        return TrackedNode{std::move(items.nodes.front()), span, std::move(items.spans.front().children),
                           std::move(items.diagnostics)};
    }
    TrackedNode out;
    set_group(out, mode, GroupKind::Implicit{}, std::move(items), span, input_tokens);
    return out;
}

void set_group(TrackedNode& out, ContentMode mode, GroupKind kind, DecomposedChildren&& items, Span span,
               std::size_t input_tokens) {
    items.flatten();
    // A finished group keeps its lists until the document is built. In a
    // large input a short list gives back the room its first block left
    // over, which would otherwise outweigh the nodes of inputs made of many
    // small groups; a formula of ordinary size frees its tree so soon that
    // the reallocation would cost more than it saves.
    if (compact_lists(input_tokens) && items.nodes.size() < 8 &&
        items.nodes.capacity() > items.nodes.size()) {
        items.nodes.shrink_to_fit();
        items.spans.shrink_to_fit();
    }
    out.node.value.emplace<SyntaxNode::Group>(SyntaxNode::Group{mode, std::move(kind), std::move(items.nodes)});
    out.span = span;
    out.spans = std::move(items.spans);
    out.diagnostics = std::move(items.diagnostics);
}

TrackedNode::FinishedRoot TrackedNode::finish_root(ContentMode mode, DecomposedChildren&& items, Span span) {
    FinishedRoot out;
    out.root.mode = mode;
    out.root.span = span;
    out.diagnostics = std::move(items.diagnostics).take();
    std::move(items).take_blocks(out.root);
    return out;
}

}  // namespace quorvel::parse::grammar
