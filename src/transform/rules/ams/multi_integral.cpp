#include "transform/rules/ams/multi_integral.hpp"

#include <optional>
#include <utility>

#include "syntax/internal_error.hpp"
#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::ams_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

struct Scripts {
    std::optional<NodeId> subscript;
    std::optional<NodeId> superscript;
};

// A Scripted node's scripts, taken out of it (the node then goes).
Scripts take_scripts(syntax::Ast& ast, NodeId scripted) {
    // Read both ids first: a placeholder grows the arena.
    const auto& holder = std::get<Node::Scripted>(ast.node(scripted).value);
    Scripts scripts{holder.subscript, holder.superscript};
    if (scripts.subscript) scripts.subscript = ast.take(*scripts.subscript);
    if (scripts.superscript) scripts.superscript = ast.take(*scripts.superscript);
    return scripts;
}

// `\limits_a^b` as the source writes it after `\idotsint`.
bool is_scripted_limits(const syntax::Ast& ast, NodeId id) {
    const auto* scripted = ast.node(id).get_if<Node::Scripted>();
    if (scripted == nullptr) return false;
    const auto* base = ast.node(scripted->base).get_if<Node::Command>();
    return base != nullptr && base->name == "limits" && base->args.empty();
}

}  // namespace

namespace idotsint_expand {

void replace_with_math_nodes(RuleContext& ctx, NodeId node, std::vector<Node> values) {
    if (values.empty()) syntax::internal_error("idotsint expansions always emit at least one node");
    syntax::Ast& ast = ctx.ast;
    const NodeId middle = ast.new_node(std::move(values.front()));
    std::vector<NodeId> after;
    after.reserve(values.size() - 1);
    for (std::size_t i = 1; i < values.size(); ++i) after.push_back(ast.new_node(std::move(values[i])));
    ast.replace_with_math_sequence(node, {}, middle, std::move(after));
}

}  // namespace idotsint_expand

RuleResult IdotsintExpandRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "idotsint");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command("idotsint")))
        return std::move(*error);

    syntax::Ast& ast = ctx.ast;
    using helpers::bare_command_node;
    std::vector<Node> values;

    // `\idotsint\limits_a^b`: the scripts belong to the whole sign, so the
    // integrals go into one `\mathop`, pulled together as amsmath sets them.
    if (const auto next = ast.next_sibling(node); next && is_scripted_limits(ast, *next)) {
        const Scripts scripts = take_scripts(ast, *next);
        const NodeId limits = ast.new_node(bare_command_node("limits"));
        const NodeId sign[] = {
            ast.new_node(bare_command_node(",")),   ast.new_node(bare_command_node(",")),
            ast.new_node(bare_command_node("int")), ast.new_node(bare_command_node("cdots")),
            ast.new_node(bare_command_node("int")),
        };
        const NodeId operand = ast.implicit_math_group(sign);
        values.reserve(4);
        values.push_back(bare_command_node("!"));
        values.push_back(bare_command_node("!"));
        values.push_back(helpers::prefix_command_node("mathop", helpers::single_math_content_args(operand)));
        values.push_back(Node::Scripted{limits, scripts.subscript, scripts.superscript});
        idotsint_expand::replace_with_math_nodes(ctx, node, std::move(values));
        ast.remove_node(*next);
        return RuleOutcome::Applied;
    }

    // `\idotsint_a^b`: the scripts go on the last integral.
    if (const syntax::ParentLink* link = ast.parent_link(node);
        link != nullptr && link->slot.kind() == syntax::Slot::Kind::ScriptBase) {
        const NodeId scripted = link->parent;
        const Scripts scripts = take_scripts(ast, scripted);
        const NodeId last = ast.new_node(bare_command_node("int"));
        values.reserve(3);
        values.push_back(bare_command_node("int"));
        values.push_back(bare_command_node("cdots"));
        values.push_back(Node::Scripted{last, scripts.subscript, scripts.superscript});
        idotsint_expand::replace_with_math_nodes(ctx, scripted, std::move(values));
        return RuleOutcome::Applied;
    }

    values.reserve(3);
    values.push_back(bare_command_node("int"));
    values.push_back(bare_command_node("cdots"));
    values.push_back(bare_command_node("int"));
    idotsint_expand::replace_with_math_nodes(ctx, node, std::move(values));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::ams_rules
