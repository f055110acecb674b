#include "transform/rules/base/root_family.hpp"

#include <optional>
#include <utility>
#include <vector>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::base_rules {

namespace {

using syntax::ContentMode;
using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

RuleError message(std::string_view text) { return RuleError::message(std::string(text)); }

}  // namespace

// The parser reads `\root` with one argument, the first token or group of the
// degree; the rest of the degree, the `\of` and the radicand follow it as
// siblings.
RuleResult RootOfToSqrtRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "root");
    if (!command) return RuleOutcome::Skipped;
    const CommandDisplay display = CommandDisplay::command("root");
    const auto degree = RuleScopedContext::single_math_content(command->args, display, "degree");
    if (!degree) return degree.error();

    syntax::Ast& ast = ctx.ast;
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr) return message("\\root should be attached to a parent");
    if (!link->slot.is_group_child()) return message("\\root should appear as math-list content");
    const NodeId list = link->parent;
    const std::size_t at = link->slot.index();
    // Siblings are read one by one: reading the whole list would cost its
    // length on every `\root` of a long formula.
    const std::size_t count = ast.child_count(list);
    std::size_t of = at + 1;
    while (of < count && !ctx.match_command(ast.child_at(list, of), "of")) ++of;
    if (of >= count) return message("\\root should be followed by \\of");
    const std::size_t of_slots = ast.arg_slots(ast.child_at(list, of)).size();
    if (auto error = RuleScopedContext::expect_no_args(of_slots, CommandDisplay::command("of")))
        return std::move(*error);
    if (of + 1 >= count) return message("\\of should be followed by a radicand");

    // Detaching from the front of the range keeps the next node at `at + 1`.
    std::vector<NodeId> degree_parts{*degree};
    for (std::size_t k = at + 1; k < of; ++k) degree_parts.push_back(ast.detach(ast.child_at(list, at + 1)));
    ast.remove_node(ast.child_at(list, at + 1));  // the `\of`
    const NodeId radicand = ast.detach(ast.child_at(list, at + 1));

    // Taking the slots off the `\root` frees its degree content for reuse.
    ast.replace_node(node, helpers::bare_command_node("sqrt"));
    const NodeId index = degree_parts.size() == 1 ? degree_parts[0] : ast.implicit_math_group(degree_parts);
    syntax::ast::ArgumentSlots args;
    args.reserve(2);
    args.emplace_back(Argument{ArgumentKind::Optional{}, false, ArgumentValue::MathContent{index}});
    args.emplace_back(helpers::math_content_arg(radicand));
    ast.replace_node(node, helpers::prefix_command_node("sqrt", std::move(args)));
    return RuleOutcome::Applied;
}

RuleResult RootHintDropRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, hint_);
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 1, CommandDisplay::command(hint_)))
        return std::move(*error);
    syntax::Ast& ast = ctx.ast;
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link != nullptr && link->slot.is_group_child()) {
        ast.remove_node(node);
    } else {
        // An argument's content, a script or a script base stays filled.
        ast.replace_node_drop_detached_children(
            node, Node::Group{{}, syntax::ast::GroupKind::Implicit{}, ContentMode::Math});
    }
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
