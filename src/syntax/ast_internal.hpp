// Helpers shared by the arena's source files; not part of the interface.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "syntax/ast.hpp"

namespace quorvel::syntax::detail {

// Like for_each_edge, with mutable access to each child id.
template <class F>
void for_each_edge_mut(ast::Node& node, F&& fn) {
    auto args = [&fn](ast::ArgumentSlots& slots) {
        for (auto& slot : slots) {
            if (!slot) continue;
            if (ast::NodeId* content = slot->value.content_ptr()) fn(*content);
        }
    };
    switch (node.kind()) {
        case NodeKind::Root:
            for (auto& c : std::get<ast::Node::Root>(node.value).children) fn(c);
            break;
        case NodeKind::Group:
            for (auto& c : std::get<ast::Node::Group>(node.value).children) fn(c);
            break;
        case NodeKind::Command: args(std::get<ast::Node::Command>(node.value).args); break;
        case NodeKind::Declarative: args(std::get<ast::Node::Declarative>(node.value).args); break;
        case NodeKind::Infix: {
            auto& v = std::get<ast::Node::Infix>(node.value);
            fn(v.left);
            args(v.args);
            fn(v.right);
            break;
        }
        case NodeKind::Environment: {
            auto& v = std::get<ast::Node::Environment>(node.value);
            args(v.args);
            fn(v.body);
            break;
        }
        case NodeKind::Scripted: {
            auto& v = std::get<ast::Node::Scripted>(node.value);
            fn(v.base);
            if (v.subscript) fn(*v.subscript);
            if (v.superscript) fn(*v.superscript);
            break;
        }
        default: break;
    }
}

// An edge in a trivially copyable form, for inline buffers.
struct EdgeRec {
    ast::NodeId id;
    Slot slot;
};
using EdgeBuffer = SmallVector<EdgeRec, 4>;

inline void collect_edges(const ast::Node& node, EdgeBuffer& out) {
    for_each_edge(node, [&out](ast::NodeId id, Slot slot) { out.push_back(EdgeRec{id, slot}); });
}

// The position of the first edge whose id equals an earlier one, or size.
std::size_t first_repeat(const EdgeBuffer& edges);

// A sorted set of ids for membership tests without hashing.
class IdSet {
public:
    explicit IdSet(std::vector<ast::NodeId> ids);
    bool contains(ast::NodeId id) const;
    static bool less(ast::NodeId a, ast::NodeId b);

private:
    std::vector<ast::NodeId> ids_;
};

// The position of the first id equal to an earlier one, or ids.size().
std::size_t first_repeat(std::span<const ast::NodeId> ids);

}  // namespace quorvel::syntax::detail
