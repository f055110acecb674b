// Bra-ket, commutator, delimiter-shorthand and evaluation-fence expansions.
#pragma once

#include <cstdint>
#include <string_view>

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

// A delimiter of a rule's row: a character, or a control sequence by name.
struct FenceDelimiter {
    char32_t ch = 0;
    std::string_view control;

    static consteval FenceDelimiter character(char32_t c) { return {c, {}}; }
    static consteval FenceDelimiter control_sequence(std::string_view name) { return {0, name}; }
};

// `\ev`: `\ev{O}`, `\ev*{O}`, `\ev{O}{s}`, `\ev*{O}{s}`, `\ev**{O}{s}`.
class ExpectationExpandRule final : public RegisteredRule {
public:
    consteval ExpectationExpandRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "expectation-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

// `\matrixel{l}{O}{r}` with its two star slots.
class MatrixelExpandRule final : public RegisteredRule {
public:
    consteval MatrixelExpandRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "matrixel-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

// `\bra{x}` and `\ket{x}`: one star slot and one body.
class BraOrKetExpandRule final : public RegisteredRule {
public:
    enum class Side : std::uint8_t { Bra, Ket };

    consteval BraOrKetExpandRule(std::string_view key, Side side)
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, key)), side_(side) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    Side side_;
};

// `\braket{a}{b}`; `\braket{a}` stands for `\braket{a}{a}`.
class BraketExpandRule final : public RegisteredRule {
public:
    consteval BraketExpandRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, "physics-braket-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

// `\comm{A}{B}` and `\pb{A}{B}`: a bracket fence around `A , B`.
class BinaryBracketRule final : public RegisteredRule {
public:
    consteval BinaryBracketRule(std::string_view key, FenceDelimiter open, FenceDelimiter close)
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, key)), open_(open), close_(close) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    FenceDelimiter open_;
    FenceDelimiter close_;
};

// `\pqty{x}` and its kin: a fence of the row's delimiters around the body.
class DelimiterShorthandRule final : public RegisteredRule {
public:
    consteval DelimiterShorthandRule(std::string_view key, FenceDelimiter left, FenceDelimiter right)
        : RegisteredRule(rule_index(knowledge::PackageName::Physics, key)), left_(left), right_(right) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    FenceDelimiter left_;
    FenceDelimiter right_;
};

// `\eval{x}`, `\eval(x|`, `\eval[x|`, each also starred.
class EvalExpandRule final : public RegisteredRule {
public:
    consteval EvalExpandRule() : RegisteredRule(rule_index(knowledge::PackageName::Physics, "eval-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr ExpectationExpandRule EXPECTATION_EXPAND{};
inline constexpr MatrixelExpandRule MATRIXEL_EXPAND{};
inline constexpr BraOrKetExpandRule PHYSICS_BRA_EXPAND{"physics-bra-expand", BraOrKetExpandRule::Side::Bra};
inline constexpr BraOrKetExpandRule PHYSICS_KET_EXPAND{"physics-ket-expand", BraOrKetExpandRule::Side::Ket};
inline constexpr BraketExpandRule PHYSICS_BRAKET_EXPAND{};
inline constexpr BinaryBracketRule COMMUTATOR_EXPAND{"commutator-expand", FenceDelimiter::character(U'['),
                                                     FenceDelimiter::character(U']')};
inline constexpr BinaryBracketRule POISSON_BRACKET_EXPAND{"poisson-bracket-expand",
                                                          FenceDelimiter::control_sequence("{"),
                                                          FenceDelimiter::control_sequence("}")};
inline constexpr DelimiterShorthandRule BQTY_TO_BRACE_FENCE{"Bqty-to-brace-fence",
                                                            FenceDelimiter::control_sequence("{"),
                                                            FenceDelimiter::control_sequence("}")};
inline constexpr DelimiterShorthandRule ABS_TO_VERT_FENCE{"abs-to-vert-fence", FenceDelimiter::character(U'|'),
                                                          FenceDelimiter::character(U'|')};
inline constexpr DelimiterShorthandRule BQTY_TO_BRACKET_FENCE{"bqty-to-bracket-fence", FenceDelimiter::character(U'['),
                                                              FenceDelimiter::character(U']')};
inline constexpr DelimiterShorthandRule NORM_TO_DOUBLE_VERT_FENCE{"norm-to-double-vert-fence",
                                                                  FenceDelimiter::control_sequence("|"),
                                                                  FenceDelimiter::control_sequence("|")};
inline constexpr DelimiterShorthandRule PQTY_TO_PAREN_FENCE{"pqty-to-paren-fence", FenceDelimiter::character(U'('),
                                                            FenceDelimiter::character(U')')};
inline constexpr EvalExpandRule EVAL_EXPAND{};

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_fence_rule(F&& f) {
    f(&EXPECTATION_EXPAND);
    f(&MATRIXEL_EXPAND);
    f(&PHYSICS_BRA_EXPAND);
    f(&PHYSICS_KET_EXPAND);
    f(&PHYSICS_BRAKET_EXPAND);
    f(&COMMUTATOR_EXPAND);
    f(&POISSON_BRACKET_EXPAND);
    f(&BQTY_TO_BRACE_FENCE);
    f(&ABS_TO_VERT_FENCE);
    f(&BQTY_TO_BRACKET_FENCE);
    f(&NORM_TO_DOUBLE_VERT_FENCE);
    f(&PQTY_TO_PAREN_FENCE);
    f(&EVAL_EXPAND);
}

}  // namespace quorvel::transform::physics_rules
