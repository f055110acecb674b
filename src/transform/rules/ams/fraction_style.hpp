// `\cfrac` without an explicit alignment becomes `\frac`.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

// A `\cfrac[l]` or `\cfrac[r]` is declined: dropping its alignment would
// change more than the continued-fraction styling.
class CfracToFracRule final : public RegisteredRule {
public:
    consteval CfracToFracRule() : RegisteredRule(rule_index(knowledge::PackageName::Ams, "cfrac-to-frac")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr CfracToFracRule CFRAC_TO_FRAC{};

}  // namespace quorvel::transform::ams_rules
