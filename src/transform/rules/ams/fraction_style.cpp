#include "transform/rules/ams/fraction_style.hpp"

#include <string>
#include <utility>
#include <variant>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::ams_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::NodeId;

constexpr CommandDisplay CFRAC = CommandDisplay::command("cfrac");

RuleError alignment_error(std::string_view tail) {
    std::string text = CFRAC.to_string();
    text += " alignment should be ";
    text += tail;
    return RuleError::message(std::move(text));
}

}  // namespace

RuleResult CfracToFracRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "cfrac");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 3, CFRAC)) return std::move(*error);

    bool aligned = false;
    if (const auto& alignment = command->args[0]) {
        if (!std::holds_alternative<ArgumentKind::Optional>(alignment->kind.value))
            return alignment_error("an optional argument");
        const auto* name = std::get_if<ArgumentValue::CSName>(&alignment->value.value);
        if (name == nullptr) return alignment_error("a control-sequence name");
        aligned = !name->value.empty();
    }
    auto numerator = RuleScopedContext::mandatory_math_content(command->args[1], CFRAC, "numerator");
    if (!numerator) return std::move(numerator).error();
    auto denominator = RuleScopedContext::mandatory_math_content(command->args[2], CFRAC, "denominator");
    if (!denominator) return std::move(denominator).error();
    if (aligned) return RuleOutcome::Skipped;

    // The very numerator and denominator nodes move under the `\frac`.
    syntax::ast::ArgumentSlots args;
    args.reserve(2);
    args.emplace_back(helpers::math_content_arg(*numerator));
    args.emplace_back(helpers::math_content_arg(*denominator));
    ctx.ast.replace_node(node, helpers::prefix_command_node("frac", std::move(args)));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::ams_rules
