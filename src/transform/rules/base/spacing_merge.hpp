// Runs of adjacent spacing commands worth one standard space merge into it:
// `\quad\quad` into `\qquad`, `\enspace\enspace` into `\quad`, and half-em
// runs of `\,` `\:` `\;` into `\enspace`. A lone spacer stays, so none of
// these rules consumes its trigger unconditionally.
#pragma once

#include <array>
#include <string_view>

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// A spacer followed directly by the same spacer becomes `target`.
class DoubleSpacerMergeRule final : public RegisteredRule {
public:
    consteval DoubleSpacerMergeRule(std::string_view key, std::string_view target)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), target_(target) {
        const RuleMeta& m = meta();
        if (m.triggers.size() != 1 || m.emits.size() != 1 || m.emits[0].name != target)
            registry_detail::malformed("a spacer merge has one trigger and emits its target");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    std::string_view target_;
};

inline constexpr std::array DOUBLE_SPACER_MERGE_RULES{
    DoubleSpacerMergeRule("double-enspace-to-quad", "quad"),
    DoubleSpacerMergeRule("double-quad-to-qquad", "qquad"),
};

class SmallSpacerMergeToEnspaceRule final : public RegisteredRule {
public:
    consteval SmallSpacerMergeToEnspaceRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "small-spacer-merge-to-enspace")) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr SmallSpacerMergeToEnspaceRule SMALL_SPACER_MERGE_TO_ENSPACE{};

}  // namespace quorvel::transform::base_rules
