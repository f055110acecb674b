#include "transform/rules/base/spacing_merge.hpp"

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::base_rules {

namespace {

using syntax::ContentMode;
using syntax::ast::Node;
using syntax::ast::NodeId;

// Thin, medium and thick spaces: 3, 4 and 5 mu of the 18 mu em.
enum class SmallSpacerKind : std::uint8_t { Thin = 0, Medium = 1, Thick = 2 };

std::optional<SmallSpacerKind> small_spacer_kind(const Node& node) {
    const auto* command = node.get_if<Node::Command>();
    if (command == nullptr || command->name.size() != 1) return std::nullopt;
    switch (command->name[0]) {
        case ',': return SmallSpacerKind::Thin;
        case ':': return SmallSpacerKind::Medium;
        case ';': return SmallSpacerKind::Thick;
        default: return std::nullopt;
    }
}

// A small spacer that may join a run: one with no slots.
std::optional<SmallSpacerKind> bare_small_spacer(const syntax::Ast& ast, std::optional<NodeId> id) {
    if (!id) return std::nullopt;
    const Node& node = ast.node(*id);
    const auto* command = node.get_if<Node::Command>();
    if (command == nullptr || !command->args.empty()) return std::nullopt;
    return small_spacer_kind(node);
}

bool in_math_list(const syntax::Ast& ast, NodeId node) {
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr || !link->slot.is_group_child()) return false;
    const Node& parent = ast.node(link->parent);
    if (const auto* root = parent.get_if<Node::Root>()) return root->mode == ContentMode::Math;
    if (const auto* group = parent.get_if<Node::Group>()) return group->mode == ContentMode::Math;
    return false;
}

}  // namespace

RuleResult DoubleQuadToQquadRule::apply(RuleContext& ctx, NodeId node) const {
    const auto matched = ctx.match_command(node, "quad");
    if (!matched) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(matched->args.size(), CommandDisplay::command("quad")))
        return std::move(*error);
    const std::optional<NodeId> next = ctx.ast.next_sibling(node);
    if (!next || !ctx.match_command(*next, "quad")) return RuleOutcome::Skipped;
    ctx.ast.replace_node(node, helpers::bare_command_node("qquad"));
    ctx.ast.remove_node(*next);
    return RuleOutcome::Applied;
}

RuleResult DoubleEnspaceToQuadRule::apply(RuleContext& ctx, NodeId node) const {
    syntax::Ast& ast = ctx.ast;
    if (!in_math_list(ast, node)) return RuleOutcome::Skipped;
    const auto matched = ctx.match_command(node, "enspace");
    if (!matched) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(matched->args.size(), CommandDisplay::command("enspace")))
        return std::move(*error);
    auto bare_enspace = [&](std::optional<NodeId> id) {
        if (!id) return false;
        const auto command = ctx.match_command(*id, "enspace");
        return command && command->args.empty();
    };
    if (bare_enspace(ast.prev_sibling(node))) return RuleOutcome::Skipped;
    const std::optional<NodeId> next = ast.next_sibling(node);
    if (!bare_enspace(next)) return RuleOutcome::Skipped;
    ast.replace_node(node, helpers::bare_command_node("quad"));
    ast.remove_node(*next);
    return RuleOutcome::Applied;
}

RuleResult SmallSpacerMergeToEnspaceRule::apply(RuleContext& ctx, NodeId node) const {
    syntax::Ast& ast = ctx.ast;
    if (!in_math_list(ast, node)) return RuleOutcome::Skipped;
    const Node& value = ast.node(node);
    if (!small_spacer_kind(value)) return RuleOutcome::Skipped;
    const auto& command = *value.get_if<Node::Command>();
    if (auto error = RuleScopedContext::expect_no_args(command.args.size(), CommandDisplay::command(command.name)))
        return std::move(*error);
    // Only the first spacer of a run acts.
    if (bare_small_spacer(ast, ast.prev_sibling(node))) return RuleOutcome::Skipped;

    std::vector<std::pair<NodeId, SmallSpacerKind>> run;
    std::optional<NodeId> at = node;
    while (auto kind = bare_small_spacer(ast, at)) {
        run.emplace_back(*at, *kind);
        at = ast.next_sibling(*at);
    }

    bool merged = false;
    std::size_t i = 0;
    while (i < run.size()) {
        const std::size_t left = run.size() - i;
        auto kind = [&](std::size_t k) { return run[i + k].second; };
        std::size_t width = 0;
        if (left >= 3 && kind(0) == SmallSpacerKind::Thin && kind(1) == SmallSpacerKind::Thin &&
            kind(2) == SmallSpacerKind::Thin)
            width = 3;
        else if (left >= 2 && ((kind(0) == SmallSpacerKind::Thick && kind(1) == SmallSpacerKind::Medium) ||
                               (kind(0) == SmallSpacerKind::Medium && kind(1) == SmallSpacerKind::Thick)))
            width = 2;
        if (width == 0) {
            ++i;
            continue;
        }
        ast.replace_node(run[i].first, helpers::bare_command_node("enspace"));
        for (std::size_t k = 1; k < width; ++k) ast.remove_node(run[i + k].first);
        merged = true;
        i += width;
    }
    return merged ? RuleOutcome::Applied : RuleOutcome::Skipped;
}

}  // namespace quorvel::transform::base_rules
