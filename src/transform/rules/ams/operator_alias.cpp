#include "transform/rules/ams/operator_alias.hpp"

#include <utility>
#include <vector>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::ams_rules {

namespace {

using syntax::ast::NodeId;

struct SpacedArrow {
    NodeId before;
    NodeId arrow;
    NodeId after;
};

// `\;`, the arrow and `\;` as new detached commands, in this order.
SpacedArrow spaced_arrow(syntax::Ast& ast, std::string_view arrow) {
    const NodeId before = ast.new_node(helpers::bare_command_node(";"));
    const NodeId middle = ast.new_node(helpers::bare_command_node(arrow));
    const NodeId after = ast.new_node(helpers::bare_command_node(";"));
    return {before, middle, after};
}

// Skipped or the slot-count error, or nothing when the node is a command
// `name` without slots, which the rule then replaces.
std::optional<RuleResult> decline(RuleContext& ctx, NodeId node, std::string_view name) {
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleResult(RuleOutcome::Skipped);
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command(name)))
        return RuleResult(std::move(*error));
    return std::nullopt;
}

}  // namespace

// Scripts on `\impliedby` move to the closing `\;`.
RuleResult ImpliedbyToLongleftarrowRule::apply(RuleContext& ctx, NodeId node) const {
    if (auto declined = decline(ctx, node, "impliedby")) return std::move(*declined);
    const SpacedArrow parts = spaced_arrow(ctx.ast, "Longleftarrow");
    ctx.ast.replace_with_math_sequence_preserving_scripts(node, {parts.before}, parts.arrow, {parts.after});
    return RuleOutcome::Applied;
}

// Outside a list (as a script base, say) the three commands become one
// implicit group in the node's place, which keeps any scripts.
RuleResult ImpliesToLongrightarrowRule::apply(RuleContext& ctx, NodeId node) const {
    if (auto declined = decline(ctx, node, "implies")) return std::move(*declined);
    const SpacedArrow parts = spaced_arrow(ctx.ast, "Longrightarrow");
    ctx.ast.replace_with_math_sequence(node, {parts.before}, parts.arrow, {parts.after});
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::ams_rules
