#include "transform/rules/physics/vector_expand.hpp"

#include <string_view>
#include <utility>

#include "transform/rule_context.hpp"
#include "transform/rules/physics/expansion_support.hpp"

namespace quorvel::transform::physics_rules {

namespace {

using syntax::ast::NodeId;
namespace helpers = vector_expand::helpers;

// The bold form of the argument, wrapped in `\wrapper` unless `wrapper` is
// empty.
RuleResult expand(RuleContext& ctx, NodeId node, std::string_view name, std::string_view wrapper) {
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleOutcome::Skipped;
    auto args = helpers::vector_args(command->args, CommandDisplay::command(name));
    if (!args) return std::move(args).error();
    if (wrapper.empty()) {
        helpers::replace_with_vector_style(ctx.ast, node, args->starred, args->argument);
    } else {
        helpers::replace_with_wrapped_vector_style(ctx.ast, node, wrapper, args->starred, args->argument);
    }
    return RuleOutcome::Applied;
}

}  // namespace

RuleResult VaToVecMathbfRule::apply(RuleContext& ctx, NodeId node) const { return expand(ctx, node, "va", "vec"); }

RuleResult VbToMathbfRule::apply(RuleContext& ctx, NodeId node) const { return expand(ctx, node, "vb", ""); }

RuleResult VuToHatMathbfRule::apply(RuleContext& ctx, NodeId node) const { return expand(ctx, node, "vu", "hat"); }

}  // namespace quorvel::transform::physics_rules
