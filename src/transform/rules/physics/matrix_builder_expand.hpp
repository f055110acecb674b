// `\pmqty`, `\bmqty`, `\mdet` and `\zmat` become the general matrix builders
// `\mqty`, `\vmqty` and `\xmat`.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

class BmqtyToMqtyRule final : public RegisteredRule {
public:
    consteval BmqtyToMqtyRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "bmqty-to-mqty")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class MdetToVmqtyRule final : public RegisteredRule {
public:
    consteval MdetToVmqtyRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "mdet-to-vmqty")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class PmqtyToMqtyRule final : public RegisteredRule {
public:
    consteval PmqtyToMqtyRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "pmqty-to-mqty")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

class ZmatToXmatRule final : public RegisteredRule {
public:
    consteval ZmatToXmatRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "zmat-to-xmat")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr BmqtyToMqtyRule BMQTY_TO_MQTY{};
inline constexpr MdetToVmqtyRule MDET_TO_VMQTY{};
inline constexpr PmqtyToMqtyRule PMQTY_TO_MQTY{};
inline constexpr ZmatToXmatRule ZMAT_TO_XMAT{};

}  // namespace quorvel::transform::physics_rules
