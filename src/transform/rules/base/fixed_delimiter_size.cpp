#include "transform/rules/base/fixed_delimiter_size.hpp"

#include <optional>
#include <utility>

#include "transform/helpers.hpp"
#include "transform/passes/exposure.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/base/spacing_drop.hpp"

namespace quorvel::transform::base_rules {

namespace fixed_delimiter_size::helpers {

namespace {

using syntax::ast::Node;
using syntax::ast::NodeId;

// The delimiter as a node of its own, as it reads back: the angle brackets
// have no bare character form in math, so they become their commands, and
// `\{` becomes the character the parser makes of it.
Node bare_delimiter_node(const syntax::ast::Delimiter& delimiter) {
    if (const auto* c = delimiter.as_char()) {
        if (c->value == U'<') return transform::helpers::bare_command_node("langle");
        if (c->value == U'>') return transform::helpers::bare_command_node("rangle");
        return Node::Char{c->value};
    }
    const std::string& name = delimiter.as_control()->name;
    if (name == "lt") return transform::helpers::bare_command_node("langle");
    if (name == "gt") return transform::helpers::bare_command_node("rangle");
    return transform::helpers::bare_symbol_node(name);
}

}  // namespace

bool bare_delimiter_fills_a_slot(const RuleContext& ctx, NodeId node, const syntax::ast::Delimiter& delimiter) {
    // The null delimiter leaves nothing: the token after the size comes next.
    if (delimiter.is_none()) return spacing_drop::helpers::removal_exposes_next(ctx, node);
    const Node bare = bare_delimiter_node(delimiter);
    transform::passes::support::LeadToken token;
    if (const auto* c = bare.get_if<Node::Char>()) {
        token = {transform::passes::support::LeadToken::Kind::Char, c->value, {}};
    } else {
        token = {transform::passes::support::LeadToken::Kind::Control, 0, *bare.name()};
    }
    return transform::passes::support::taken_by_item_before(ctx.ast, ctx.math, ctx.text, node, token);
}

void drop_fixed_delimiter_size(syntax::Ast& ast, NodeId node, const syntax::ast::Delimiter& delimiter) {
    if (delimiter.is_none()) {
        spacing_drop::helpers::remove_or_leave_empty_group(ast, node);
        return;
    }
    const NodeId bare = ast.new_node(bare_delimiter_node(delimiter));
    ast.replace_with_math_sequence_preserving_scripts(node, {}, bare, {});
}

}  // namespace fixed_delimiter_size::helpers

RuleResult FixedDelimiterSizeDropRule::apply(RuleContext& ctx, syntax::ast::NodeId node) const {
    const std::string_view name = meta().triggers[0].name;
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleOutcome::Skipped;
    const CommandDisplay display = CommandDisplay::command(name);
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 1, display)) return std::move(*error);
    auto delimiter = RuleScopedContext::mandatory_delimiter(command->args[0], display, "argument");
    if (!delimiter) return std::move(delimiter).error();
    // Bare, the delimiter would fill an open slot of what stands before it:
    // the size stays.
    if (fixed_delimiter_size::helpers::bare_delimiter_fills_a_slot(ctx, node, *delimiter)) return RuleOutcome::Skipped;
    fixed_delimiter_size::helpers::drop_fixed_delimiter_size(ctx.ast, node, *delimiter);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
