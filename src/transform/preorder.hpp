// The pre-order walk of the transform's read-only sweeps (the fixed point's
// pass snapshot, the contract check): the order of `Ast::walk_preorder`, on
// a stack kept from call to call on the thread, so that the many small trees
// of a batch cost no allocation each.
#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "syntax/ast.hpp"
#include "util/thread_storage.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform {

// The kinds that name no other node.
constexpr bool never_has_children(syntax::NodeKind kind) noexcept {
    using syntax::NodeKind;
    return kind == NodeKind::Prime || kind == NodeKind::Text || kind == NodeKind::Char ||
           kind == NodeKind::ActiveSpace || kind == NodeKind::Error;
}

// Calls fn(id, node) for `start` and every node below it, in pre-order;
// counts the nodes as work, and may end a run past its work bound.
template <class F>
void for_each_preorder(const syntax::Ast& ast, syntax::ast::NodeId start, F&& fn) {
    using syntax::ast::NodeId;
    // Taken out while in use, so a walk started from `fn` gets a stack of
    // its own; a stack grown past this many entries is not kept.
    constexpr std::size_t kKeptCapacity = 1 << 12;
    constinit thread_local util::ThreadCache<std::vector<NodeId>> kept;
    std::vector<NodeId> stack = std::move(*kept);
    stack.clear();
    stack.push_back(start);
    std::size_t visited = 0;
    while (!stack.empty()) {
        const NodeId id = stack.back();
        stack.pop_back();
        ++visited;
        const syntax::ast::Node& node = ast.node(id);
        fn(id, node);
        const syntax::NodeKind kind = node.kind();
        if (kind == syntax::NodeKind::Root || kind == syntax::NodeKind::Group) {
            const auto [front, back] = node.child_list()->segments();
            for (std::size_t i = back.size(); i-- > 0;) stack.push_back(back[i]);
            for (std::size_t i = front.size(); i-- > 0;) stack.push_back(front[i]);
            continue;
        }
        if (never_has_children(kind)) continue;
        const std::size_t mark = stack.size();
        syntax::for_each_edge(node, [&](NodeId child, syntax::Slot) { stack.push_back(child); });
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
    }
    if (stack.capacity() <= kKeptCapacity) *kept = std::move(stack);
    util::work_count += visited;
    util::check_work();
}

}  // namespace quorvel::transform
