// `\substack{a \\ b}` becomes `\begin{subarray}{c} a \\ b \end{subarray}`.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

class SubstackExpandRule final : public RegisteredRule {
public:
    consteval SubstackExpandRule() : RegisteredRule(rule_index(knowledge::PackageName::Ams, "substack-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr SubstackExpandRule SUBSTACK_EXPAND{};

}  // namespace quorvel::transform::ams_rules
