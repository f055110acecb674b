// Conversion between the exchange tree and the arena: validation of an
// incoming exchange tree, and the exchange-tree walk order.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "syntax/ast.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/from_syntax_error.hpp"
#include "syntax/span_tree.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::syntax {

// A run of top-level items of a parsed tree: their nodes and, parallel to
// them, their span trees.
struct ParsedBlock {
    std::vector<SyntaxNode> nodes;
    SpanList spans;
};

// The Root of a parsed tree with its items in blocks, in the order the
// parser gathered them. A large input's items never need one list for them
// all: the parser never copies them into a larger list, and the document
// build frees each block once it has been built.
struct ParsedRoot {
    ContentMode mode = ContentMode::Math;
    Span span;
    std::vector<ParsedBlock> blocks;  // the earlier blocks of a long list
    ParsedBlock last;                 // the latest items: all of most lists
};

// Validates an exchange tree; returns the first failure of the depth-first
// walk, or nothing. `mode` is the current content mode (none only for an
// environment body, whose Group brings its own); `top` says whether `node`
// is the top of the tree, which must be a Root. A whole tree is validated
// with `validate_syntax(tree, std::nullopt, true)`. The walk checks what
// the arena can hold; with `Validation::ReadBack` it also refuses names,
// characters, texts and argument values that would not read back once
// written (syntax/read_back.hpp).
std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& node, std::optional<ContentMode> mode, bool top,
                                               Validation validation = Validation::Structure);
// The same, counting the nodes the walk visited (the top included), which
// is the node count of an accepted tree.
std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& node, std::optional<ContentMode> mode, bool top,
                                               std::size_t& node_count,
                                               Validation validation = Validation::Structure);

// The number of nodes of an exchange tree, `top` included. Missing
// children are skipped, so any tree can be counted.
std::size_t count_syntax_nodes(const SyntaxNode& top);
// The number of nodes of the trees `items`, each one included.
std::size_t count_syntax_nodes(std::span<const SyntaxNode> items);

// Calls fn(child, slot) for each child an exchange node owns, in the order
// of `for_each_edge` on the arena: group children; content arguments in
// slot order, after an infix's left operand and before its right operand
// and an environment's body; a script's base, subscript, superscript.
// `child` is null where a required child (operand, body, base) is missing;
// absent scripts are skipped.
template <class F>
void for_each_syntax_edge(const SyntaxNode& node, F&& fn) {
    auto args = [&fn](const SyntaxNode::ArgumentSlots& slots) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (!slots[i] || !slots[i]->value.is_content()) continue;
            fn(slots[i]->value.content(), Slot::argument(i));
        }
    };
    switch (node.kind()) {
        case NodeKind::Root: {
            const auto& c = std::get<SyntaxNode::Root>(node.value).children;
            for (std::size_t i = 0; i < c.size(); ++i) fn(&c[i], Slot::group_child(i));
            break;
        }
        case NodeKind::Group: {
            const auto& c = std::get<SyntaxNode::Group>(node.value).children;
            for (std::size_t i = 0; i < c.size(); ++i) fn(&c[i], Slot::group_child(i));
            break;
        }
        case NodeKind::Command: args(std::get<SyntaxNode::Command>(node.value).args); break;
        case NodeKind::Infix: {
            const auto& v = std::get<SyntaxNode::Infix>(node.value);
            fn(v.left.get(), Slot::infix_left());
            args(v.args);
            fn(v.right.get(), Slot::infix_right());
            break;
        }
        case NodeKind::Declarative: args(std::get<SyntaxNode::Declarative>(node.value).args); break;
        case NodeKind::Environment: {
            const auto& v = std::get<SyntaxNode::Environment>(node.value);
            args(v.args);
            fn(v.body.get(), Slot::env_body());
            break;
        }
        case NodeKind::Scripted: {
            const auto& v = std::get<SyntaxNode::Scripted>(node.value);
            fn(v.base.get(), Slot::script_base());
            if (v.subscript) fn(v.subscript.get(), Slot::script_sub());
            if (v.superscript) fn(v.superscript.get(), Slot::script_sup());
            break;
        }
        default: break;
    }
}

}  // namespace quorvel::syntax
