#include "transform/helpers.hpp"

#include <string>
#include <utility>

#include "knowledge/knowledge_base.hpp"

namespace quorvel::transform::helpers {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

ArgumentValue content(NodeId node, ContentKind kind) {
    switch (kind) {
        case ContentKind::Text: return ArgumentValue::TextContent{node};
        case ContentKind::OperatorName: return ArgumentValue::OperatorNameContent{node};
        case ContentKind::Math: break;
    }
    return ArgumentValue::MathContent{node};
}

}  // namespace

Node bare_command_node(std::string_view name) { return Node::Command{std::string(name), {}, true}; }

Node bare_symbol_node(std::string_view name) {
    if (knowledge::is_escaped_character(name) && knowledge::escaped_command(name) == nullptr)
        return Node::Char{static_cast<char32_t>(name[0])};
    return bare_command_node(name);
}

Argument math_content_arg(NodeId content) {
    return Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::MathContent{content}};
}

syntax::ast::ArgumentSlots single_math_content_args(NodeId content) {
    syntax::ast::ArgumentSlots args;
    args.emplace_back(math_content_arg(content));
    return args;
}

Node prefix_command_node(std::string_view name, syntax::ast::ArgumentSlots args) {
    return Node::Command{std::string(name), std::move(args), true};
}

syntax::ast::ArgumentSlots infix_prefix_args(NodeId left, NodeId right, ContentKind kind) {
    syntax::ast::ArgumentSlots args;
    args.reserve(2);
    args.emplace_back(Argument{ArgumentKind::Mandatory{}, false, content(left, kind)});
    args.emplace_back(Argument{ArgumentKind::Mandatory{}, false, content(right, kind)});
    return args;
}

Node linebreak_command_node() {
    syntax::ast::ArgumentSlots args;
    args.reserve(2);
    args.emplace_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{false}});
    args.emplace_back(std::nullopt);
    return Node::Command{std::string("\\"), std::move(args), true};
}

}  // namespace quorvel::transform::helpers
