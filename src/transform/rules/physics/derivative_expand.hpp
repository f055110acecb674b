// `\dv`, `\fdv` and `\pdv` become explicit fractions of differentials.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

class DvToFracDRule final : public RegisteredRule {
public:
    consteval DvToFracDRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "dv-to-frac-d")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class FdvToFracDeltaRule final : public RegisteredRule {
public:
    consteval FdvToFracDeltaRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "fdv-to-frac-delta")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class PdvToFracPartialRule final : public RegisteredRule {
public:
    consteval PdvToFracPartialRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "pdv-to-frac-partial")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr DvToFracDRule DV_TO_FRAC_D{};
inline constexpr FdvToFracDeltaRule FDV_TO_FRAC_DELTA{};
inline constexpr PdvToFracPartialRule PDV_TO_FRAC_PARTIAL{};

}  // namespace quorvel::transform::physics_rules
