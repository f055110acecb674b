#include "transform/rules/base/tex_class_wrapper.hpp"

#include <utility>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::base_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

// The content of a well-formed `\mathrel`, or the shape error.
knowledge::Expected<NodeId, RuleError> mathrel_content(const RuleContext::CommandMatch& command) {
    const CommandDisplay display = CommandDisplay::command(command.name);
    if (auto error = RuleScopedContext::expect_arg_len(command.args.size(), 1, display)) return std::move(*error);
    return RuleScopedContext::mandatory_math_content(command.args[0], display, "content");
}

}  // namespace

RuleResult DuplicateMathrelWrapperDropRule::apply(RuleContext& ctx, NodeId node) const {
    const auto outer = ctx.match_command(node, "mathrel");
    if (!outer) return RuleOutcome::Skipped;
    const auto content = mathrel_content(*outer);
    if (!content) return content.error();

    const syntax::Ast& ast = ctx.ast;
    NodeId inner = *content;
    if (const auto* group = ast.node(inner).get_if<Node::Group>()) {
        if (!group->kind.is_implicit() || group->mode != syntax::ContentMode::Math || group->children.size() != 1)
            return RuleOutcome::Skipped;
        inner = group->children[0];
    }
    const auto inner_command = ctx.match_command(inner, "mathrel");
    if (!inner_command) return RuleOutcome::Skipped;
    const auto inner_content = mathrel_content(*inner_command);
    if (!inner_content) return inner_content.error();

    const NodeId moved = ctx.ast.take(*inner_content);
    ctx.ast.replace_node_drop_detached_children(
        node, helpers::prefix_command_node("mathrel", helpers::single_math_content_args(moved)));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
