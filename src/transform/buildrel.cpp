#include "transform/buildrel.hpp"

#include <span>

namespace quorvel::transform::buildrel {

namespace {

using syntax::ContentMode;
using syntax::Slot;
using syntax::ast::Node;
using syntax::ast::NodeId;

bool is_buildrel(const Node& node) {
    const auto* command = node.get_if<Node::Command>();
    return command != nullptr && command->name == "buildrel";
}

std::optional<NodeId> carried(const syntax::Ast& ast, NodeId item) {
    const Node& node = ast.node(item);
    if (is_buildrel(node)) return item;
    const auto* scripted = node.get_if<Node::Scripted>();
    if (scripted == nullptr) return std::nullopt;
    for (const std::optional<NodeId>& part : {std::optional(scripted->base), scripted->subscript, scripted->superscript})
        if (part && is_buildrel(ast.node(*part))) return part;
    return std::nullopt;
}

}  // namespace

NodeId carrier(const syntax::Ast& ast, NodeId buildrel) {
    const syntax::ParentLink* link = ast.parent_link(buildrel);
    if (link == nullptr) return buildrel;
    const Slot::Kind kind = link->slot.kind();
    const bool on_scripts = kind == Slot::Kind::ScriptBase || kind == Slot::Kind::ScriptSub || kind == Slot::Kind::ScriptSup;
    return on_scripts ? link->parent : buildrel;
}

std::optional<NodeId> closed_by(const syntax::Ast& ast, NodeId infix) {
    const auto* over = ast.node(infix).get_if<Node::Infix>();
    if (over == nullptr || over->name != "over") return std::nullopt;
    const auto* list = ast.node(over->left).get_if<Node::Group>();
    if (list == nullptr || !list->kind.is_implicit() || list->mode != ContentMode::Math)
        return carried(ast, over->left);
    for (NodeId item : ast.children(over->left))
        if (auto found = carried(ast, item)) return found;
    return std::nullopt;
}

}  // namespace quorvel::transform::buildrel
