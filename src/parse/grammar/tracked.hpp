// What every grammar rule returns: an exchange-tree node with the source span
// it came from, the span trees of its children (parallel to the exchange
// tree, in the document's child order) and the failures gathered below it.
//
// All parts destroy and copy without recursion per tree level (SyntaxNode and
// SpanTree walk with explicit stacks), so deep trees are safe.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "parse/failure.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse/span.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/conversion.hpp"
#include "syntax/span_tree.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::parse::grammar {

using syntax::ContentMode;
using syntax::SpanTree;
using syntax::SyntaxNode;

struct DecomposedChildren;

// The failures gathered below a rule result, in order. Nearly every result
// has none, so an empty list is one null pointer: results move and die at
// the cost of a test.
//
// Lists meet level by level as results nest, and an argument's result can
// be read by several enclosing attempts, so joining two lists and copying
// one take constant time: a list is a tree of blocks in which `left`, then
// `right`, then the block's own items come in that order. A block held by
// two lists is never changed again. Failures that match as tree diagnostics
// are dropped, keeping the first, when the list is taken: keeping the first
// of each kind at every join leaves the same failures as keeping it once
// over the joined whole.
class FailureList {
public:
    FailureList() noexcept = default;
    explicit FailureList(std::vector<ParseFailure>&& failures);
    FailureList(FailureList&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    FailureList& operator=(FailureList&& other) noexcept {
        if (this != &other) {
            clear();
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    // A copy shares the failures.
    FailureList(const FailureList& other) noexcept : block_(other.block_) {
        if (block_ != nullptr) ++block_->refs;
    }
    FailureList& operator=(const FailureList& other) noexcept {
        if (this != &other) *this = FailureList(other);
        return *this;
    }
    ~FailureList() { clear(); }

    bool empty() const noexcept { return block_ == nullptr; }
    void clear() noexcept {
        if (block_ != nullptr) release(std::exchange(block_, nullptr));
    }
    void push_back(ParseFailure&& failure);
    // Adds the failures of `more` after these; `more` is left empty.
    void append(FailureList&& more);

    // The failures in order, each that matches an earlier one as a tree
    // diagnostic left out; the list is left empty.
    std::vector<ParseFailure> take() &&;

private:
    struct Block {
        std::size_t refs = 1;
        Block* left = nullptr;
        Block* right = nullptr;
        // Links the blocks that are being freed.
        Block* next_dead = nullptr;
        std::vector<ParseFailure> items;
    };
    // Drops one reference; frees every block no list holds any more, without
    // recursion or allocation.
    static void release(Block* block) noexcept;

    Block* block_ = nullptr;
};

struct TrackedNode {
    SyntaxNode node;
    Span span;
    syntax::SpanList spans;
    FailureList diagnostics;

    // A node without children and failures.
    static TrackedNode leaf(SyntaxNode node, Span span) {
        TrackedNode t;
        t.node = std::move(node);
        t.span = span;
        return t;
    }

    // The node's own span tree; the node keeps its exchange node.
    SpanTree take_span_tree() noexcept { return SpanTree(span, std::move(spans)); }

    // Appends failures after the node's own.
    TrackedNode& with_diagnostics(std::vector<ParseFailure> failures);

    // An Error node over `span` that keeps `text`, with `message` as its one
    // diagnostic, of `kind`.
    static TrackedNode error(Span span, std::string message, std::string text, ParseDiagnosticKind kind);

    // A content list made one node: an empty implicit group, the single item
    // itself (with `span`), or an implicit group of the items.
    // `input_tokens`, the size of the whole input, decides whether a group
    // trims its lists (see `set_group`).
    static TrackedNode fold(ContentMode mode, DecomposedChildren&& items, Span span, std::size_t input_tokens);

    // The top-level content as a Root in blocks, with its failures.
    struct FinishedRoot {
        syntax::ParsedRoot root;
        std::vector<ParseFailure> diagnostics;
    };
    static FinishedRoot finish_root(ContentMode mode, DecomposedChildren&& items, Span span);
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

// Makes `out` the group of a content list, built in place (see
// `TrackedNode::group`).
void set_group(TrackedNode& out, ContentMode mode, syntax::syntax_node::GroupKind kind, DecomposedChildren&& items,
               Span span, std::size_t input_tokens);

// One read argument slot: the argument (none for an optional slot that was
// not written), the span tree of its content when the value is content, and
// the slot's failures.
struct TrackedArgumentSlot {
    std::optional<syntax::syntax_node::Argument> argument;
    std::optional<SpanTree> content_spans;
    FailureList diagnostics;
};

// Items in the form a group needs them: their nodes, one span tree each, and
// their failures. Content parsers build it item by item.
//
// A long list is kept in blocks: `nodes` and `spans` hold the latest items,
// `sealed` the earlier blocks. Its items are then never copied into a list
// twice their size; a group takes them into one list of the exact size,
// freeing block by block, and the top level hands its blocks to the document
// build as they are.
struct DecomposedChildren {
    std::vector<SyntaxNode> nodes;
    syntax::SpanList spans;
    FailureList diagnostics;
    // The earlier blocks, with their item count; none for nearly every list.
    struct Sealed {
        std::vector<syntax::ParsedBlock> blocks;
        std::size_t size = 0;
    };
    std::unique_ptr<Sealed> sealed;

    bool empty() const noexcept { return nodes.empty() && sealed == nullptr; }
    std::size_t size() const noexcept { return (sealed != nullptr ? sealed->size : 0) + nodes.size(); }
    // What an item holds, charged to the run's fuel.
    static constexpr std::size_t kItemBytes = sizeof(SyntaxNode) + sizeof(SpanTree);
    // Adds one item at the end.
    void push(TrackedNode&& item) {
        Fuel::current().hold(kItemBytes);
        push_held(std::move(item));
    }
    // The same, the caller having charged `kItemBytes`.
    void push_held(TrackedNode&& item) {
        if (nodes.size() == nodes.capacity()) [[unlikely]] make_room();
        if (!item.diagnostics.empty()) diagnostics.append(std::move(item.diagnostics));
        spans.emplace_back(item.span, std::move(item.spans));
        nodes.push_back(std::move(item.node));
    }
    // Adds the items of another list at the end.
    void append(DecomposedChildren&& more);
    // From the first item's start to the last item's end; `empty` without items.
    Span extent(Span empty) const noexcept {
        if (this->empty()) return empty;
        const Span first = sealed == nullptr ? spans.front().span : sealed->blocks.front().spans.front().span;
        return Span{first.start, spans.back().span.end};
    }
    // Puts every item into `nodes` and `spans`.
    void flatten();
    // Every item as blocks, in order, into `root`; the list is left without
    // items.
    void take_blocks(syntax::ParsedRoot& root) &&;

private:
    // Adds one item whose failures were taken.
    void push_parts(SyntaxNode&& node, SpanTree&& span);
    // Makes room for one more item in full lists: a full block of a long
    // list is sealed.
    [[gnu::noinline]] void make_room();
};

struct DecomposedArgs {
    syntax::SyntaxNode::ArgumentSlots args;
    syntax::SpanList spans;  // one per content-bearing slot
    FailureList diagnostics;
};
DecomposedArgs decompose_args(std::vector<TrackedArgumentSlot>&& slots, std::size_t input_tokens);

// Whether the tree of an input of this many tokens keeps its lists at their
// size: in a large input the room a first block leaves over would outweigh
// the nodes, while a formula of ordinary size takes its lists' blocks from
// those earlier documents gave back and frees its tree soon after.
inline bool compact_lists(std::size_t input_tokens) noexcept { return input_tokens >= (std::size_t{1} << 16); }


}  // namespace quorvel::parse::grammar
