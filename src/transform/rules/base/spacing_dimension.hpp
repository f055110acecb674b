// The spacing primitives that carry a dimension (`\hskip`, `\mkern`,
// `\mskip`) become the canonical spacing command with the same dimension.
#pragma once

#include <array>
#include <string_view>

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

class DimensionSpacingRule final : public RegisteredRule {
public:
    consteval DimensionSpacingRule(std::string_view key, std::string_view target)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), target_(target) {
        const RuleMeta& m = meta();
        if (m.triggers.size() != 1 || m.emits.size() != 1 || m.emits[0].name != target)
            registry_detail::malformed("a dimension spacing rule has one trigger and emits its target");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    std::string_view target_;
};

inline constexpr std::array DIMENSION_SPACING_RULES{
    DimensionSpacingRule("hskip-to-hspace", "hspace"),   // authoring
    DimensionSpacingRule("mkern-to-mspace", "mspace"),   // faithful
    DimensionSpacingRule("mskip-to-mspace", "mspace"),   // faithful
};

}  // namespace quorvel::transform::base_rules
