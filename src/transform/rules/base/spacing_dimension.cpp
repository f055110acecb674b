#include "transform/rules/base/spacing_dimension.hpp"

#include <string>
#include <utility>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/spacing_support.hpp"

namespace quorvel::transform::base_rules {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;

RuleResult DimensionSpacingRule::apply(RuleContext& ctx, syntax::ast::NodeId node) const {
    const std::string_view source = meta().triggers[0].name;
    const auto matched = ctx.match_command(node, source);
    if (!matched) return RuleOutcome::Skipped;
    const CommandDisplay display = CommandDisplay::command(source);
    if (auto error = RuleScopedContext::expect_arg_len(matched->args.size(), 1, display)) return std::move(*error);
    const auto& slot = matched->args[0];
    if (!slot || !std::holds_alternative<ArgumentKind::Mandatory>(slot->kind.value))
        return RuleError::message(display.to_string() + " should carry a mandatory dimension argument");
    const auto* dimension = std::get_if<ArgumentValue::Dimension>(&slot->value.value);
    if (dimension == nullptr) return RuleError::message(display.to_string() + " argument should carry a dimension");

    syntax::ast::ArgumentSlots args;
    // The primitive reads its dimension bare, the macro in braces.
    args.emplace_back(Argument{ArgumentKind::Group{}, false, ArgumentValue::Dimension{dimension->value}});
    ctx.ast.replace_node(node, helpers::prefix_command_node(target_, std::move(args)));
    spacing_support::drop_leading_space_of_next_text(ctx.ast, node);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
