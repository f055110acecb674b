#include "transform/rules/physics/matrix_builder_expand.hpp"

#include <string_view>
#include <utility>

#include "transform/rule_context.hpp"
#include "transform/rules/physics/expansion_support.hpp"

namespace quorvel::transform::physics_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentSlots;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

// Skipped for any node but a Command `name`; otherwise its one mandatory
// math "body", or the error of a malformed slot list.
knowledge::Expected<NodeId, RuleResult> body_of(const RuleContext& ctx, NodeId node, std::string_view name) {
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleResult(RuleOutcome::Skipped);
    const CommandDisplay display = CommandDisplay::command(name);
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 1, display))
        return RuleResult(std::move(*error));
    auto body = RuleScopedContext::mandatory_math_content(command->args[0], display, "body");
    if (!body) return RuleResult(std::move(body).error());
    return *body;
}

RuleResult to_matrix_quantity(RuleContext& ctx, NodeId node, std::string_view name, char32_t open,
                              char32_t close) {
    auto body = body_of(ctx, node, name);
    if (!body) return std::move(body).error();
    const NodeId copy = ctx.ast.clone_subtree(*body);
    ctx.ast.replace_node_drop_detached_children(
        node, matrix_builder_expand::helpers::matrix_quantity_command(copy, open, close));
    return RuleOutcome::Applied;
}

}  // namespace

RuleResult BmqtyToMqtyRule::apply(RuleContext& ctx, NodeId node) const {
    return to_matrix_quantity(ctx, node, "bmqty", U'[', U']');
}

RuleResult PmqtyToMqtyRule::apply(RuleContext& ctx, NodeId node) const {
    return to_matrix_quantity(ctx, node, "pmqty", U'(', U')');
}

// A plain rename once the body is checked: the same slots, and so the same
// body node, hang under `\vmqty`.
RuleResult MdetToVmqtyRule::apply(RuleContext& ctx, NodeId node) const {
    auto body = body_of(ctx, node, "mdet");
    if (!body) return std::move(body).error();
    ArgumentSlots args(ctx.ast.arg_slots(node).begin(), ctx.ast.arg_slots(node).end());
    ctx.ast.replace_node(node, Node::Command{"vmqty", std::move(args), true});
    return RuleOutcome::Applied;
}

// `\zmat{m}{n}` is `\xmat{0}{m}{n}`; the two slots move over as they are,
// whatever they hold.
RuleResult ZmatToXmatRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "zmat");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 2, CommandDisplay::command("zmat")))
        return std::move(*error);
    ArgumentSlots args;
    args.reserve(4);
    args.push_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{false}});
    args.emplace_back(std::nullopt);  // the zero, made once the old slots are copied
    args.push_back(command->args[0]);
    args.push_back(command->args[1]);
    const NodeId zero = ctx.ast.new_node(Node::Char{U'0'});
    args[1] = Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::MathContent{zero}};
    ctx.ast.replace_node(node, Node::Command{"xmat", std::move(args), true});
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::physics_rules
