// `\rank` becomes `\operatorname{rank}`.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

class RankToOperatornameRankRule final : public RegisteredRule {
public:
    consteval RankToOperatornameRankRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "rank-to-operatorname-rank")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr RankToOperatornameRankRule RANK_TO_OPERATORNAME_RANK{};

}  // namespace quorvel::transform::physics_rules
