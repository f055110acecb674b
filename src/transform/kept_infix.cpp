#include "transform/kept_infix.hpp"

#include <cstddef>

namespace quorvel::transform::kept_infix {

using syntax::ast::Node;
using syntax::ast::NodeId;

bool under_bold_symbol(const syntax::Ast& ast, NodeId infix) {
    const auto* node = ast.node(infix).get_if<Node::Infix>();
    if (node == nullptr || node->name == "over") return false;
    constexpr std::size_t kLevels = 256;
    NodeId at = infix;
    for (std::size_t level = 0; level < kLevels; ++level) {
        const syntax::ParentLink* link = ast.parent_link(at);
        if (link == nullptr) return false;
        at = link->parent;
        const auto* command = ast.node(at).get_if<Node::Command>();
        if (command != nullptr && command->name == "boldsymbol") return true;
    }
    return false;
}

}  // namespace quorvel::transform::kept_infix
