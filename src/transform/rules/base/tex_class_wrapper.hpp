// Two directly nested `\mathrel` wrappers mean the same as one.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

class DuplicateMathrelWrapperDropRule final : public RegisteredRule {
public:
    consteval DuplicateMathrelWrapperDropRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "duplicate-mathrel-wrapper-drop")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr DuplicateMathrelWrapperDropRule DUPLICATE_MATHREL_WRAPPER_DROP{};

}  // namespace quorvel::transform::base_rules
