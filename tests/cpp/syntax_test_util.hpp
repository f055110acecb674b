// Small builders for syntax-tree tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "syntax/ast.hpp"
#include "syntax/internal_error.hpp"
#include "syntax/syntax_node.hpp"

namespace syntax_test {

namespace sx = quorvel::syntax;
namespace sn = quorvel::syntax::syntax_node;
using sx::ContentMode;
using sx::SyntaxNode;

// The message of the InternalError that `f` throws, or "<no error>".
template <class F>
std::string internal_message(F&& f) {
    try {
        f();
    } catch (const sx::InternalError& e) {
        return e.message();
    }
    return "<no error>";
}

inline SyntaxNode ch(char32_t c) { return SyntaxNode::Char{c}; }
inline SyntaxNode text(std::string s) { return SyntaxNode::Text{std::move(s)}; }
inline SyntaxNode prime(std::uint64_t n) { return SyntaxNode::Prime{n}; }

inline SyntaxNode group(ContentMode mode, std::vector<SyntaxNode> children,
                        sn::GroupKind kind = sn::GroupKind::Explicit{}) {
    return SyntaxNode::Group{mode, std::move(kind), std::move(children)};
}
inline SyntaxNode math(std::vector<SyntaxNode> children) {
    return group(ContentMode::Math, std::move(children));
}
inline SyntaxNode root(std::vector<SyntaxNode> children, ContentMode mode = ContentMode::Math) {
    return SyntaxNode::Root{mode, std::move(children)};
}

inline SyntaxNode implicit_math(std::vector<SyntaxNode> children) {
    return group(ContentMode::Math, std::move(children), sn::GroupKind::Implicit{});
}

inline std::optional<sn::Argument> arg_slot(sn::ArgumentKind kind, sn::ArgumentValue value) {
    return sn::Argument{std::move(kind), false, std::move(value)};
}
inline std::optional<sn::Argument> math_slot(sn::ArgumentKind kind, SyntaxNode node) {
    return arg_slot(std::move(kind), sn::ArgumentValue::MathContent{std::move(node)});
}
inline std::optional<sn::Argument> mandatory_arg(sn::ArgumentValue value) {
    return arg_slot(sn::ArgumentKind::Mandatory{}, std::move(value));
}
inline std::optional<sn::Argument> math_arg(SyntaxNode node) {
    return sn::Argument{sn::ArgumentKind::Mandatory{}, false,
                        sn::ArgumentValue::MathContent{std::move(node)}};
}
inline std::optional<sn::Argument> text_arg(SyntaxNode node) {
    return sn::Argument{sn::ArgumentKind::Mandatory{}, false,
                        sn::ArgumentValue::TextContent{std::move(node)}};
}
inline std::optional<sn::Argument> opname_arg(SyntaxNode node) {
    return sn::Argument{sn::ArgumentKind::Mandatory{}, false,
                        sn::ArgumentValue::OperatorNameContent{std::move(node)}};
}
inline std::optional<sn::Argument> star_arg(bool value) {
    return sn::Argument{sn::ArgumentKind::Star{}, true, sn::ArgumentValue::Boolean{value}};
}
inline std::optional<sn::Argument> dim_arg(std::string value) {
    return sn::Argument{sn::ArgumentKind::Optional{}, false,
                        sn::ArgumentValue::Dimension{std::move(value)}};
}

inline SyntaxNode command(std::string name, SyntaxNode::ArgumentSlots args = {}, bool known = true) {
    return SyntaxNode::Command{std::move(name), std::move(args), known};
}
inline SyntaxNode infix(std::string name, SyntaxNode left, SyntaxNode right,
                        SyntaxNode::ArgumentSlots args = {}) {
    return SyntaxNode::Infix{std::move(name), std::move(args), std::move(left), std::move(right)};
}
inline SyntaxNode environment(std::string name, SyntaxNode body, SyntaxNode::ArgumentSlots args = {}) {
    return SyntaxNode::Environment{std::move(name), std::move(args), true, std::move(body)};
}
inline SyntaxNode scripted(SyntaxNode base, std::optional<SyntaxNode> sub,
                           std::optional<SyntaxNode> sup) {
    SyntaxNode::Scripted s;
    s.base = std::move(base);
    if (sub) s.subscript = std::move(*sub);
    if (sup) s.superscript = std::move(*sup);
    return s;
}

}  // namespace syntax_test
