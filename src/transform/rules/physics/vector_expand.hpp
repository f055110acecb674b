// `\va`, `\vb` and `\vu` become bold forms, wrapped in `\vec` or `\hat`
// where the shorthand implies it.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

class VaToVecMathbfRule final : public RegisteredRule {
public:
    consteval VaToVecMathbfRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "va-to-vec-mathbf")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class VbToMathbfRule final : public RegisteredRule {
public:
    consteval VbToMathbfRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "vb-to-mathbf")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class VuToHatMathbfRule final : public RegisteredRule {
public:
    consteval VuToHatMathbfRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "vu-to-hat-mathbf")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr VaToVecMathbfRule VA_TO_VEC_MATHBF{};
inline constexpr VbToMathbfRule VB_TO_MATHBF{};
inline constexpr VuToHatMathbfRule VU_TO_HAT_MATHBF{};

}  // namespace quorvel::transform::physics_rules
