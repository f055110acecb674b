#include "transform/rules/physics/named_fn_expand.hpp"

#include <array>
#include <cstddef>
#include <iterator>
#include <utility>

#include "transform/rule_context.hpp"

namespace quorvel::transform::physics_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentSlots;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

constexpr char32_t RANK[] = {U'r', U'a', U'n', U'k'};

}  // namespace

// Replaced in place, so scripts on `\rank` stay on the operator name.
RuleResult RankToOperatornameRankRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "rank");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command("rank")))
        return std::move(*error);
    syntax::Ast& ast = ctx.ast;
    std::array<NodeId, std::size(RANK)> letters;
    for (std::size_t i = 0; i < letters.size(); ++i) letters[i] = ast.new_node(Node::Char{RANK[i]});
    const NodeId name = ast.implicit_math_group(letters);
    ArgumentSlots args;
    args.reserve(2);
    args.push_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{false}});
    args.push_back(Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::OperatorNameContent{name}});
    ast.replace_node(node, Node::Command{"operatorname", std::move(args), true});
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::physics_rules
