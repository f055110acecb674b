#include "transform/rules/physics/expansion_support.hpp"

#include <string>
#include <utility>
#include <vector>

#include "syntax/serializer.hpp"
#include "transform/helpers.hpp"
#include "transform/passes/tree_support.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::physics_rules {

namespace build = transform::helpers;

namespace {

using syntax::Ast;
using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentSlots;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

// Whether `node` lies in an argument whose reader pairs brackets or
// parentheses, as `\mqty[...]` and `\qty(...)`, and sees no braces. The
// walk up is charged to the work bound.
bool in_pairing_argument(const syntax::Ast& ast, NodeId node) {
    auto pairing = [](const syntax::ast::Delimiter& d) {
        const auto* c = d.as_char();
        return c != nullptr && (c->value == U'[' || c->value == U']' || c->value == U'(' || c->value == U')');
    };
    std::size_t steps = 0;
    bool found = false;
    for (const syntax::ParentLink* link = ast.parent_link(node); link != nullptr && !found;
         link = ast.parent_link(link->parent)) {
        ++steps;
        if (!link->slot.is_argument()) continue;
        const auto* args = ast.node(link->parent).args();
        if (args == nullptr || link->slot.index() >= args->size() || !(*args)[link->slot.index()]) continue;
        const auto& kind = (*args)[link->slot.index()]->kind;
        if (const auto* d = kind.as_delimited(); d != nullptr && (pairing(d->open) || pairing(d->close))) found = true;
        if (const auto* p = kind.as_paired(); p != nullptr && (pairing(p->open) || pairing(p->close))) found = true;
    }
    util::work_count += steps;
    util::check_work();
    return found;
}

// Whether the text of `content` pairs its brackets and its parentheses.
bool pairs_brackets(const syntax::Ast& ast, NodeId content) {
    const auto text = syntax::serialize::serialize_node_with(ast, content, syntax::ContentMode::Math, {});
    if (!text) return false;
    long brackets = 0;
    long parentheses = 0;
    for (std::size_t i = 0; i < text->size(); ++i) {
        switch ((*text)[i]) {
            case '\\': ++i; break;  // a control symbol, or a control word's first letter
            case '%': return false;  // a comment would hide the rest of its line
            case '[': ++brackets; break;
            case ']': --brackets; break;
            case '(': ++parentheses; break;
            case ')': --parentheses; break;
            default: break;
        }
    }
    return brackets == 0 && parentheses == 0;
}

}  // namespace

namespace expansion_checks {

bool copies_would_unpair(const syntax::Ast& ast, NodeId node, NodeId content) {
    return !pairs_brackets(ast, content) && in_pairing_argument(ast, node);
}

knowledge::Expected<std::optional<NodeId>, RuleError> optional_math_content(const Slot& slot,
                                                                            const CommandDisplay& display,
                                                                            std::string_view label) {
    if (!slot) return std::optional<NodeId>();
    if (!std::holds_alternative<ArgumentKind::Optional>(slot->kind.value))
        return labelled_error(display, label, "should be an optional math argument");
    const auto* content = std::get_if<ArgumentValue::MathContent>(&slot->value.value);
    if (content == nullptr) return labelled_error(display, label, "should be math content");
    return std::optional<NodeId>(content->node);
}

}  // namespace expansion_checks

namespace derivative_expand::helpers {

NodeId differential_d(Ast& ast) {
    const NodeId d = ast.new_node(Node::Char{U'd'});
    return ast.new_node(Node::Command{"mathrm", build::single_math_content_args(d), true});
}

NodeId delta_symbol(Ast& ast) { return ast.new_node(Node::Command{"delta", {}, true}); }

NodeId partial_symbol(Ast& ast) { return ast.new_node(Node::Command{"partial", {}, true}); }

NodeId derivative_numerator(Ast& ast, SymbolBuilder symbol, std::optional<NodeId> order,
                            std::optional<NodeId> function) {
    std::vector<NodeId> children;
    const NodeId made = symbol(ast);
    if (order) ast.append_scripted(children, made, std::nullopt, *order);
    else children.push_back(made);
    if (function) passes::support::append_taken_content_after(ast, children, *function);
    return ast.implicit_math_group(children);
}

NodeId derivative_denominator(Ast& ast, SymbolBuilder symbol, NodeId variable, std::optional<NodeId> order) {
    std::vector<NodeId> children{symbol(ast)};
    if (order) {
        NodeId base = ast.take(variable);
        // A variable that is a script or primes itself takes the order in
        // braces: bare, its script and the order would be two superscripts
        // of one base, and primes would join the base before them.
        const Node* inner = &ast.node(base);
        while (const auto* g = inner->get_if<Node::Group>()) {
            if (!g->kind.is_implicit() || g->children.size() != 1) break;
            inner = &ast.node(g->children[0]);
        }
        if (inner->is<Node::Scripted>() || inner->is<Node::Prime>())
            base = ast.new_node(Node::Group{{base}, syntax::ast::GroupKind::Explicit{}, syntax::ContentMode::Math});
        ast.append_scripted(children, base, std::nullopt, *order);
    } else {
        passes::support::append_taken_content_after(ast, children, variable);
    }
    return ast.implicit_math_group(children);
}

Node derivative_fraction(bool flat, NodeId numerator, NodeId denominator) {
    ArgumentSlots args;
    args.reserve(2);
    args.push_back(build::math_content_arg(numerator));
    args.push_back(build::math_content_arg(denominator));
    return Node::Command{flat ? "flatfrac" : "frac", std::move(args), true};
}

}  // namespace derivative_expand::helpers

namespace vector_expand::helpers {

knowledge::Expected<VectorArgs, RuleError> vector_args(std::span<const Slot> slots, const CommandDisplay& display) {
    if (auto error = RuleScopedContext::expect_arg_len(slots.size(), 2, display)) return std::move(*error);
    auto starred = RuleScopedContext::star_flag(slots[0], display);
    if (!starred) return std::move(starred).error();
    auto argument = RuleScopedContext::mandatory_math_content(slots[1], display, "argument");
    if (!argument) return std::move(argument).error();
    return VectorArgs{*starred, *argument};
}

namespace {

Node vector_style(Ast& ast, bool starred, NodeId argument) {
    return Node::Command{starred ? "boldsymbol" : "mathbf", build::single_math_content_args(ast.take(argument)), true};
}

}  // namespace

void replace_with_vector_style(Ast& ast, NodeId node, bool starred, NodeId argument) {
    ast.replace_node_drop_detached_children(node, vector_style(ast, starred, argument));
}

void replace_with_wrapped_vector_style(Ast& ast, NodeId node, std::string_view wrapper, bool starred,
                                       NodeId argument) {
    const NodeId bold = ast.new_node(vector_style(ast, starred, argument));
    ast.replace_node_drop_detached_children(node, Node::Command{std::string(wrapper), build::single_math_content_args(bold), true});
}

}  // namespace vector_expand::helpers

namespace matrix_builder_expand::helpers {

Node matrix_quantity_command(NodeId content, char32_t open, char32_t close) {
    ArgumentSlots args;
    args.reserve(2);
    args.push_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{false}});
    args.push_back(Argument{
        ArgumentKind::Paired{syntax::ast::Delimiter::character(open), syntax::ast::Delimiter::character(close)},
        false, ArgumentValue::MathContent{content}});
    return Node::Command{"mqty", std::move(args), true};
}

}  // namespace matrix_builder_expand::helpers

}  // namespace quorvel::transform::physics_rules
