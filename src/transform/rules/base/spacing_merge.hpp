// Runs of adjacent spacing commands worth one standard space merge into it:
// `\quad\quad` into `\qquad`, `\enspace\enspace` into `\quad`, and half-em
// runs of `\,` `\:` `\;` into `\enspace`. A lone spacer stays, so none of
// these rules consumes its trigger unconditionally.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// `\quad\quad` becomes `\qquad`: the rule looks only at the next sibling, so
// three in a row give `\qquad\quad` in one pass.
class DoubleQuadToQquadRule final : public RegisteredRule {
public:
    consteval DoubleQuadToQquadRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "double-quad-to-qquad")) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr DoubleQuadToQquadRule DOUBLE_QUAD_TO_QQUAD{};

// `\enspace\enspace` in a math list becomes `\quad`. A run pairs from its
// first `\enspace`, and only `\enspace` commands without slots pair, so no
// argument is lost and text keeps its spaces.
class DoubleEnspaceToQuadRule final : public RegisteredRule {
public:
    consteval DoubleEnspaceToQuadRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "double-enspace-to-quad")) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr DoubleEnspaceToQuadRule DOUBLE_ENSPACE_TO_QUAD{};

class SmallSpacerMergeToEnspaceRule final : public RegisteredRule {
public:
    consteval SmallSpacerMergeToEnspaceRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "small-spacer-merge-to-enspace")) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr SmallSpacerMergeToEnspaceRule SMALL_SPACER_MERGE_TO_ENSPACE{};

}  // namespace quorvel::transform::base_rules
