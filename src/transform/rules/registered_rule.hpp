// Base of the rule objects: a rule's metadata is its registry row.
//
// A rule's code lives in its own source under rules/<package>/; its object
// derives from RegisteredRule with the registry position of its key:
//
//     class OverToFracRule final : public RegisteredRule {
//     public:
//         constexpr OverToFracRule()
//             : RegisteredRule(rule_index(knowledge::PackageName::Base, "over-to-frac")) {}
//         RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
//     };
//     inline constexpr OverToFracRule OVER_TO_FRAC{};
//
// and is listed in BUILT_RULES of registry.cpp, which puts it in its place.
#pragma once

#include <cstddef>

#include "transform/rule.hpp"
#include "transform/rules/registry_table.hpp"

namespace quorvel::transform {

class RegisteredRule : public RewriteRule {
public:
    constexpr const RuleMeta& meta() const noexcept final { return *meta_; }

protected:
    explicit constexpr RegisteredRule(std::size_t index) noexcept : meta_(&RULE_METAS[index]) {}

private:
    const RuleMeta* meta_;
};

}  // namespace quorvel::transform
