// `\idotsint` spelled out with core integrals: `\int\cdots\int`, its scripts
// on the last integral, or with a following `\limits` a `\mathop` that keeps
// the scripts above and below the whole sign.
#pragma once

#include <vector>

#include "syntax/ast.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

namespace idotsint_expand {

// Replaces `node` by the given values in order: the first takes the node's
// place (and id, as a group child), the others follow it; outside a list
// they become one implicit math group. `values` is never empty.
void replace_with_math_nodes(RuleContext& ctx, syntax::ast::NodeId node, std::vector<syntax::ast::Node> values);

}  // namespace idotsint_expand

class IdotsintExpandRule final : public RegisteredRule {
public:
    consteval IdotsintExpandRule() : RegisteredRule(rule_index(knowledge::PackageName::Ams, "idotsint-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr IdotsintExpandRule IDOTSINT_EXPAND{};

}  // namespace quorvel::transform::ams_rules
