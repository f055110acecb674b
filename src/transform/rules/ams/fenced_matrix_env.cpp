#include "transform/rules/ams/fenced_matrix_env.hpp"

#include <string>
#include <utility>

#include "transform/rule_context.hpp"

namespace quorvel::transform::ams_rules {

namespace {

using syntax::ast::Delimiter;
using syntax::ast::Node;
using syntax::ast::NodeId;

Delimiter to_delimiter(FenceDelimiter side) {
    if (!side.control.empty()) return Delimiter::control(std::string(side.control));
    return Delimiter::character(side.character);
}

}  // namespace

namespace fenced_matrix_env::helpers {

void replace_with_fenced_matrix_env(syntax::Ast& ast, NodeId environment, NodeId body, Delimiter left,
                                    Delimiter right) {
    const NodeId matrix = ast.new_node(Node::Environment{"matrix", {}, true, ast.take(body)});
    ast.replace_node_drop_detached_children(
        environment, Node::Group{syntax::ast::ChildList{matrix},
                                 syntax::ast::GroupKind::Delimited{std::move(left), std::move(right)},
                                 syntax::ContentMode::Math});
}

}  // namespace fenced_matrix_env::helpers

RuleResult FencedMatrixEnvRule::apply(RuleContext& ctx, NodeId node) const {
    const std::string_view name = meta().triggers[0].name;
    const auto* environment = ctx.ast.node(node).get_if<Node::Environment>();
    if (environment == nullptr || environment->name != name) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(environment->args.size(), CommandDisplay::environment(name)))
        return std::move(*error);
    fenced_matrix_env::helpers::replace_with_fenced_matrix_env(ctx.ast, node, environment->body, to_delimiter(left_),
                                                               to_delimiter(right_));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::ams_rules
