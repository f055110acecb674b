#include "transform/rules/base/stacked_operator.hpp"

#include <array>
#include <optional>
#include <utility>
#include <vector>

#include "transform/buildrel.hpp"
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

bool is_math_group(const Node& node, bool implicit_only) {
    const auto* group = node.get_if<Node::Group>();
    return group != nullptr && group->mode == ContentMode::Math && (!implicit_only || group->kind.is_implicit());
}

bool holds_declarative(const syntax::Ast& ast, std::span<const NodeId> items) {
    for (NodeId item : items)
        if (ast.node(item).is<Node::Declarative>()) return true;
    return false;
}

}  // namespace

namespace stacked_operator::helpers {

Node stacked_operator_command(syntax::Ast& ast, std::string_view class_name, NodeId base, NodeId top) {
    const NodeId mathop = ast.new_node(transform::helpers::prefix_command_node("mathop", transform::helpers::single_math_content_args(base)));
    const NodeId limits = ast.new_node(transform::helpers::bare_command_node("limits"));
    std::vector<NodeId> parts{mathop};
    ast.append_scripted(parts, limits, std::nullopt, top);
    const NodeId group = ast.implicit_math_group(parts);
    return transform::helpers::prefix_command_node(class_name, transform::helpers::single_math_content_args(group));
}

}  // namespace stacked_operator::helpers

namespace buildrel_expand {

NodeId math_content_from_parts(syntax::Ast& ast, std::span<const NodeId> parts) {
    if (parts.size() == 1) return parts[0];
    return ast.implicit_math_group(parts);
}

OperatorAndAfter take_operator_and_after(syntax::Ast& ast, NodeId node) {
    const Node& value = ast.node(node);
    if (!is_math_group(value, true) || value.get_if<Node::Group>()->children.empty()) return {ast.take(node), {}};
    OperatorAndAfter split;
    ast.append_taken_math_content(split.after, node);
    split.op = split.after.front();
    split.after.erase(split.after.begin());
    return split;
}

}  // namespace buildrel_expand

RuleResult StackedCommandExpandRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, source_);
    if (!command) return RuleOutcome::Skipped;
    const CommandDisplay display = CommandDisplay::command(source_);
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 2, display)) return std::move(*error);
    const auto above = RuleScopedContext::mandatory_math_content(command->args[0], display, "above");
    if (!above) return above.error();
    const auto op = RuleScopedContext::mandatory_math_content(command->args[1], display, "operator");
    if (!op) return op.error();

    syntax::Ast& ast = ctx.ast;
    const NodeId top = ast.take(*above);
    const NodeId base = ast.take(*op);
    Node stacked = stacked_operator::helpers::stacked_operator_command(ast, class_, base, top);
    ast.replace_node_drop_detached_children(node, std::move(stacked));
    return RuleOutcome::Applied;
}

namespace {

// Where a `\buildrel` (or the scripts on it) sits: in the numerator of an
// infix `\over` or of the `\frac` it already became, or as the whole of
// either numerator. `host` is the node the result replaces, `right` the
// operand below the bar, `list` the numerator list that holds the position,
// if any.
struct BuildrelPlace {
    NodeId host;
    NodeId right;
    std::optional<NodeId> list;
};

knowledge::Expected<NodeId, RuleError> frac_denominator(const RuleContext::CommandMatch& frac) {
    const CommandDisplay display = CommandDisplay::command("frac");
    if (auto error = RuleScopedContext::expect_arg_len(frac.args.size(), 2, display)) return std::move(*error);
    return RuleScopedContext::mandatory_math_content(frac.args[1], display, "denominator");
}

// The `\over` above a numerator, once its slots pass.
knowledge::Expected<std::optional<BuildrelPlace>, RuleError> over_place(const RuleContext::InfixMatch& over,
                                                                        NodeId host, std::optional<NodeId> list) {
    if (auto error = RuleScopedContext::expect_no_args(over.args.size(), CommandDisplay::command("over")))
        return std::move(*error);
    return std::optional<BuildrelPlace>(BuildrelPlace{host, over.right, list});
}

// Nothing when the position is anywhere else; every check that can fail runs
// here, before the tree is touched.
knowledge::Expected<std::optional<BuildrelPlace>, RuleError> find_place(const RuleContext& ctx, NodeId position) {
    const syntax::Ast& ast = ctx.ast;
    const syntax::ParentLink* link = ast.parent_link(position);
    if (link == nullptr) return std::optional<BuildrelPlace>();
    // `\buildrel top \over rel` with nothing else on the left: the parser
    // makes the position the left operand itself, with no list around it.
    if (link->slot.kind() == syntax::Slot::Kind::InfixLeft) {
        const auto over = ctx.match_infix(link->parent, "over");
        if (!over) return std::optional<BuildrelPlace>();
        return over_place(*over, link->parent, std::nullopt);
    }
    if (link->slot == syntax::Slot::argument(0)) {
        const auto frac = ctx.match_command(link->parent, "frac");
        if (!frac) return std::optional<BuildrelPlace>();
        auto denominator = frac_denominator(*frac);
        if (!denominator) return std::move(denominator).error();
        return std::optional<BuildrelPlace>(BuildrelPlace{link->parent, *denominator, std::nullopt});
    }
    if (!link->slot.is_group_child()) return std::optional<BuildrelPlace>();

    const NodeId list = link->parent;
    const syntax::ParentLink* list_link = ast.parent_link(list);
    if (list_link == nullptr) return std::optional<BuildrelPlace>();
    if (list_link->slot.kind() == syntax::Slot::Kind::InfixLeft) {
        const auto over = ctx.match_infix(list_link->parent, "over");
        if (!over) return std::optional<BuildrelPlace>();
        auto place = over_place(*over, list_link->parent, list);
        if (place && !is_math_group(ast.node(list), true)) return std::optional<BuildrelPlace>();
        return place;
    }
    if (list_link->slot == syntax::Slot::argument(0)) {
        const auto frac = ctx.match_command(list_link->parent, "frac");
        if (!frac || !is_math_group(ast.node(list), false)) return std::optional<BuildrelPlace>();
        auto denominator = frac_denominator(*frac);
        if (!denominator) return std::move(denominator).error();
        return std::optional<BuildrelPlace>(BuildrelPlace{list_link->parent, *denominator, list});
    }
    return std::optional<BuildrelPlace>();
}

}  // namespace

RuleResult BuildrelExpandRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "buildrel");
    if (!command) return RuleOutcome::Skipped;
    const CommandDisplay display = CommandDisplay::command("buildrel");
    const auto above = RuleScopedContext::single_math_content(command->args, display, "above");
    if (!above) return above.error();

    syntax::Ast& ast = ctx.ast;
    // The item the `\buildrel` is, or whose base or script it is.
    const NodeId position = buildrel::carrier(ast, node);
    const syntax::Slot::Kind slot =
        position == node ? syntax::Slot::Kind::GroupChild : ast.parent_link(node)->slot.kind();
    auto found = find_place(ctx, position);
    if (!found) return std::move(found).error();
    if (!*found) return RuleOutcome::Skipped;
    const BuildrelPlace place = **found;

    // Everything kept moves out of the host, which then goes with the rest.
    std::vector<NodeId> top_parts;
    ast.append_taken_math_content(top_parts, *above);
    if (ast.node(*above).is<Node::Group>() && holds_declarative(ast, top_parts)) {
        // The argument's braces end the reach of a declarative in it: the
        // rest of the top lies outside them.
        const NodeId braced = ast.new_node(Node::Group{
            syntax::ast::ChildList(std::span<const NodeId>(top_parts)), syntax::ast::GroupKind::Explicit{},
            ContentMode::Math});
        top_parts.assign(1, braced);
    }
    if (slot == syntax::Slot::Kind::ScriptBase) {
        // Scripts on the `\buildrel` belong to its top material.
        const auto& scripts = *ast.node(position).get_if<Node::Scripted>();
        std::optional<NodeId> sub = scripts.subscript;
        std::optional<NodeId> sup = scripts.superscript;
        if (sub) sub = ast.take(*sub);
        if (sup) sup = ast.take(*sup);
        const NodeId base = buildrel_expand::math_content_from_parts(ast, top_parts);
        top_parts.clear();
        ast.append_scripted(top_parts, base, sub, sup);
    }

    std::vector<NodeId> before;
    if (place.list) {
        // The tail first, so that cutting the head moves one node.
        const std::size_t at = ast.parent_link(position)->slot.index();
        const std::vector<NodeId> tail = ast.detach_children_range(*place.list, at + 1, ast.child_count(*place.list));
        top_parts.insert(top_parts.end(), tail.begin(), tail.end());
        before = ast.detach_children_range(*place.list, 0, at);
    }
    const NodeId top = buildrel_expand::math_content_from_parts(ast, top_parts);

    buildrel_expand::OperatorAndAfter split = buildrel_expand::take_operator_and_after(ast, place.right);
    std::vector<NodeId> after = std::move(split.after);
    // TeX takes one token or braced group for the relation: scripts and
    // primes read with it go on the relation the macro builds.
    std::optional<NodeId> rel_sub;
    std::optional<NodeId> rel_sup;
    if (const auto* scripted = ast.node(split.op).get_if<Node::Scripted>()) {
        const NodeId base = scripted->base;
        rel_sub = scripted->subscript;
        rel_sup = scripted->superscript;
        if (rel_sub) rel_sub = ast.take(*rel_sub);
        if (rel_sup) rel_sup = ast.take(*rel_sup);
        const NodeId scripts = split.op;
        split.op = ast.take(base);
        ast.remove_detached(scripts);
    }
    // As plain TeX's `\mathop{\kern\z@ rel}`, a space of nothing before the
    // relation: a lone symbol as an operator's nucleus would be centred on
    // the axis, and a letter would move.
    syntax::ast::ArgumentSlots space_args;
    space_args.push_back(Argument{ArgumentKind::Group{}, false, ArgumentValue::Dimension{"0mu"}});
    const std::array<NodeId, 2> spaced{
        ast.new_node(transform::helpers::prefix_command_node("mspace", std::move(space_args))), split.op};
    const NodeId op = ast.implicit_math_group(spaced);

    NodeId stacked = ast.new_node(stacked_operator::helpers::stacked_operator_command(ast, "mathrel", op, top));
    if (rel_sub || rel_sup) stacked = ast.new_node(Node::Scripted{stacked, rel_sub, rel_sup});
    if (position != node && slot != syntax::Slot::Kind::ScriptBase) {
        // A script `\buildrel` (`x^\buildrel a \over b`): the relation is
        // that script, and its item takes the infix's place.
        ast.replace_content_child(node, stacked);
        ast.remove_detached(node);
        stacked = ast.take(position);
    }
    ast.replace_with_math_sequence(place.host, std::move(before), stacked, std::move(after));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
