// `\impliedby` and `\implies` become their long arrows between thick spaces.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

class ImpliedbyToLongleftarrowRule final : public RegisteredRule {
public:
    consteval ImpliedbyToLongleftarrowRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Ams, "impliedby-to-Longleftarrow")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class ImpliesToLongrightarrowRule final : public RegisteredRule {
public:
    consteval ImpliesToLongrightarrowRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Ams, "implies-to-Longrightarrow")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr ImpliedbyToLongleftarrowRule IMPLIEDBY_TO_LONGLEFTARROW{};
inline constexpr ImpliesToLongrightarrowRule IMPLIES_TO_LONGRIGHTARROW{};

}  // namespace quorvel::transform::ams_rules
