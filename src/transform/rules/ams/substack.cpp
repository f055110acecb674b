#include "transform/rules/ams/substack.hpp"

#include <string>
#include <utility>

#include "transform/rule_context.hpp"

namespace quorvel::transform::ams_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

constexpr CommandDisplay SUBSTACK = CommandDisplay::command("substack");

}  // namespace

RuleResult SubstackExpandRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "substack");
    if (!command) return RuleOutcome::Skipped;
    auto body = RuleScopedContext::single_math_content(command->args, SUBSTACK, "body");
    if (!body) return std::move(body).error();

    syntax::Ast& ast = ctx.ast;
    NodeId moved = ast.take(*body);
    // An environment body is always a group.
    if (!ast.node(moved).is<Node::Group>()) moved = ast.implicit_math_group({&moved, 1});
    syntax::ast::ArgumentSlots args;
    args.emplace_back(Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::Column{"c"}});
    ast.replace_node_drop_detached_children(node, Node::Environment{"subarray", std::move(args), true, moved});
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::ams_rules
