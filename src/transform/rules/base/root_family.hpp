// The plain-TeX radical `\root n \of x` becomes `\sqrt[n]{x}`; at the corpus
// level the index-position hints `\uproot` and `\leftroot` go.
#pragma once

#include <string_view>

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

class RootOfToSqrtRule final : public RegisteredRule {
public:
    consteval RootOfToSqrtRule() : RegisteredRule(rule_index(knowledge::PackageName::Base, "root-of-to-sqrt")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr RootOfToSqrtRule ROOT_OF_TO_SQRT{};

// A hint with one argument: removed from its list, or left as an empty math
// group where a slot must stay filled.
class RootHintDropRule final : public RegisteredRule {
public:
    consteval RootHintDropRule(std::string_view key, std::string_view hint)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), hint_(hint) {
        const RuleMeta& m = meta();
        if (m.triggers.size() != 1 || m.triggers[0].name != hint)
            registry_detail::malformed("a root hint drop has its hint as its one trigger");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    std::string_view hint_;
};

inline constexpr RootHintDropRule LEFTROOT_DROP("leftroot-drop", "leftroot");
inline constexpr RootHintDropRule UPROOT_DROP("uproot-drop", "uproot");

}  // namespace quorvel::transform::base_rules
