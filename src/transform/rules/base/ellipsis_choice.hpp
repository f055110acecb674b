// `\dots` becomes `\ldots` or `\cdots` after the atom that follows it: on
// the axis before binary operators and relations, on the baseline before
// letters, digits and punctuation. Where the atom does not decide, `\dots`
// stays, so the rule does not always consume its trigger.
#pragma once

#include <cstdint>

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

enum class EllipsisChoice : std::uint8_t { Ldots = 0, Cdots = 1, Undetermined = 2 };

// The choice a single character makes when it follows `\dots`.
constexpr EllipsisChoice literal_character_choice(char32_t c) noexcept {
    switch (c) {
        case U'*': case U'+': case U'-': case U':': case U'<': case U'=': case U'>':
            return EllipsisChoice::Cdots;
        case U'!': case U'(': case U')': case U',': case U'.': case U'/': case U';': case U'?':
        case U'[': case U']': case U'|':
            return EllipsisChoice::Ldots;
        default: break;
    }
    if ((c >= U'0' && c <= U'9') || (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'))
        return EllipsisChoice::Ldots;
    return EllipsisChoice::Undetermined;
}

class DotsToLdotsOrCdotsRule final : public RegisteredRule {
public:
    consteval DotsToLdotsOrCdotsRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "dots-to-ldots-or-cdots")) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr DotsToLdotsOrCdotsRule DOTS_TO_LDOTS_OR_CDOTS{};

}  // namespace quorvel::transform::base_rules
