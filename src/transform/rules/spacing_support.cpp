#include "transform/rules/spacing_support.hpp"

#include <string>
#include <utility>

namespace quorvel::transform::spacing_support {

void drop_leading_space_of_next_text(syntax::Ast& ast, syntax::ast::NodeId node) {
    const std::optional<syntax::ast::NodeId> next = ast.next_sibling(node);
    if (!next) return;
    const auto* text = ast.node(*next).get_if<syntax::ast::Node::Text>();
    if (text == nullptr || text->value.empty() || text->value.front() != ' ') return;
    ast.replace_node(*next, syntax::ast::Node::Text{text->value.substr(1)});
}

}  // namespace quorvel::transform::spacing_support
