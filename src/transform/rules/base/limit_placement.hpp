// `\limits` and `\nolimits` after a large operator only move its scripts; at
// the corpus level they are dropped and the scripts stay on the operator. A
// modifier after anything that is not such an operator stays, so neither
// rule consumes its trigger unconditionally.
#pragma once

#include <string_view>

#include "knowledge/knowledge_base.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace limit_placement::helpers {

// Whether the knowledge base's record is the built-in entry (name, kind,
// allowed mode and argument specification) and comes from `package`: among
// its packages, or as its only one when `exact`.
bool matches_builtin_command(const knowledge::ActiveCommandRecord& entry, const knowledge::BuiltinCommandSpec& builtin,
                             std::string_view package, bool exact) noexcept;

// Whether `node` is an operator whose limits a modifier may place: the starred
// `\operatorname`, a built-in named function or operator, or a big-operator
// character command.
bool is_eligible_operator(const RuleContext& ctx, syntax::ast::NodeId node);

RuleResult drop_limit_modifier(RuleContext& ctx, syntax::ast::NodeId node,
                               const knowledge::BuiltinCommandSpec& modifier);

}  // namespace limit_placement::helpers

class LimitModifierDropRule final : public RegisteredRule {
public:
    consteval LimitModifierDropRule(std::string_view key, bool limits)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), limits_(limits) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    bool limits_;  // `\limits`, else `\nolimits`
};

inline constexpr LimitModifierDropRule LIMITS_DROP("limits-drop", true);
inline constexpr LimitModifierDropRule NOLIMITS_DROP("nolimits-drop", false);

}  // namespace quorvel::transform::base_rules
