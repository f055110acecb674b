// Plain TeX's infix fractions inside a group, `{a \over b}`, `{a \atop b}`,
// `{a \abovewithdelims ( ) 2pt b}` and their kin, become the prefix commands
// `\frac`, `\binom` and `\genfrac` with explicit delimiters and rule
// thickness.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "knowledge/expected.hpp"
#include "syntax/ast.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace over_family::helpers {

// The six Mandatory `\genfrac` slots: left and right delimiter, rule
// thickness, math style, then the numerator and denominator as math
// content. The operands move: the caller detaches them in the same edit.
syntax::ast::ArgumentSlots genfrac_args(syntax::ast::Delimiter left, syntax::ast::Delimiter right,
                                        std::string thickness, std::string style, syntax::ast::NodeId numerator,
                                        syntax::ast::NodeId denominator);

// The text of a Mandatory dimension slot, unchanged: "{} {} should be a
// mandatory dimension argument" / "{} {} should be a dimension".
knowledge::Expected<std::string, RuleError> dimension_arg(const RuleScopedContext::Slot& slot,
                                                          const CommandDisplay& display, std::string_view label);

// Puts a known Command `name` holding `args` (which name the infix's
// operands) in the infix's place, or in the place of the explicit group
// whose only child the infix is, so `{a \over b}` loses its braces.
void replace_infix_with_command(syntax::Ast& ast, syntax::ast::NodeId infix, std::string_view name,
                                syntax::ast::ArgumentSlots args);

}  // namespace over_family::helpers

// One member of the family: the trigger is the registry row's only trigger,
// the built command its only emitted target.
class InfixFractionRule final : public RegisteredRule {
public:
    enum class Target : std::uint8_t { Frac, Binom, Genfrac };
    // Where the `\genfrac` delimiters come from: fixed pairs, or the infix's
    // slots 0 and 1.
    enum class Delimiters : std::uint8_t { None, Braces, Brackets, FromSlots };
    static constexpr std::uint8_t NO_SLOT = 0xFF;

    // A rule without `\genfrac` parts (`\over`, `\choose`).
    consteval InfixFractionRule(std::string_view key, Target target)
        : InfixFractionRule(key, target, 0, Delimiters::None, NO_SLOT, {}) {}

    // A `\genfrac` rule: the infix carries `slots` own slots; the thickness
    // is slot `thickness_slot` or, with NO_SLOT, the literal `thickness`.
    consteval InfixFractionRule(std::string_view key, std::uint8_t slots, Delimiters delimiters,
                                std::uint8_t thickness_slot, std::string_view thickness)
        : InfixFractionRule(key, Target::Genfrac, slots, delimiters, thickness_slot, thickness) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    consteval InfixFractionRule(std::string_view key, Target target, std::uint8_t slots, Delimiters delimiters,
                                std::uint8_t thickness_slot, std::string_view thickness)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)),
          target_(target),
          slots_(slots),
          delimiters_(delimiters),
          thickness_slot_(thickness_slot),
          thickness_(thickness) {
        const RuleMeta& m = meta();
        constexpr std::string_view NAMES[] = {"frac", "binom", "genfrac"};
        if (m.triggers.size() != 1 || m.emits.size() != 1 ||
            m.emits[0].name != NAMES[static_cast<std::uint8_t>(target)])
            registry_detail::malformed("an infix fraction rule has one trigger and emits its command");
        if ((delimiters == Delimiters::FromSlots && slots < 2) ||
            (thickness_slot != NO_SLOT && thickness_slot >= slots))
            registry_detail::malformed("an infix fraction rule reads only slots it checks");
    }

    Target target_;
    std::uint8_t slots_;
    Delimiters delimiters_;
    std::uint8_t thickness_slot_;
    std::string_view thickness_;
};

namespace over_family {
using R = InfixFractionRule;
using D = InfixFractionRule::Delimiters;
}  // namespace over_family

inline constexpr over_family::R OVER_TO_FRAC{"over-to-frac", over_family::R::Target::Frac};
inline constexpr over_family::R CHOOSE_TO_BINOM{"choose-to-binom", over_family::R::Target::Binom};
inline constexpr over_family::R ATOP_TO_GENFRAC{"atop-to-genfrac", 0, over_family::D::None, over_family::R::NO_SLOT,
                                                "0pt"};
inline constexpr over_family::R BRACE_TO_GENFRAC{"brace-to-genfrac", 0, over_family::D::Braces,
                                                 over_family::R::NO_SLOT, "0pt"};
inline constexpr over_family::R BRACK_TO_GENFRAC{"brack-to-genfrac", 0, over_family::D::Brackets,
                                                 over_family::R::NO_SLOT, "0pt"};
// An empty thickness is the default rule.
inline constexpr over_family::R OVERWITHDELIMS_TO_GENFRAC{"overwithdelims-to-genfrac", 2, over_family::D::FromSlots,
                                                          over_family::R::NO_SLOT, ""};
inline constexpr over_family::R ATOPWITHDELIMS_TO_GENFRAC{"atopwithdelims-to-genfrac", 2, over_family::D::FromSlots,
                                                          over_family::R::NO_SLOT, "0pt"};
inline constexpr over_family::R ABOVE_TO_GENFRAC{"above-to-genfrac", 1, over_family::D::None, 0, {}};
inline constexpr over_family::R ABOVEWITHDELIMS_TO_GENFRAC{"abovewithdelims-to-genfrac", 3, over_family::D::FromSlots,
                                                           2, {}};

}  // namespace quorvel::transform::base_rules
