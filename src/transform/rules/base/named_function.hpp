// `\operatorname{sin}` and `\operatorname*{lim}` become the built-in `\sin`
// and `\lim` when the name is one of base's named functions (unstarred) or
// named operators (starred).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "knowledge/packages.hpp"
#include "syntax/ast.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace operatorname_to_named_function {

// The longest name of either table; a longer name matches neither.
inline constexpr std::size_t MAX_NAME_LENGTH = 6;

// The name an operator-name content spells: an implicit math group of ASCII
// characters only. Names up to `max_length` characters; a longer one, or any
// other shape, gives nothing. The view points into `buffer`.
std::optional<std::string_view> plain_operator_name(const syntax::Ast& ast, syntax::ast::NodeId content,
                                                    std::span<char> buffer);

// The base command of a named function (unstarred form) or named operator
// (starred form), or nullptr.
const knowledge::BuiltinCommandSpec* named_function_record(std::string_view name) noexcept;
const knowledge::BuiltinCommandSpec* named_operator_record(std::string_view name) noexcept;

// A `\limits` without slots, possibly as the base of scripts (`\limits_{x}`).
bool is_limits_modifier(const syntax::Ast& ast, syntax::ast::NodeId node);

}  // namespace operatorname_to_named_function

class OperatornameToNamedFunctionRule final : public RegisteredRule {
public:
    consteval OperatornameToNamedFunctionRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "operatorname-to-named-function")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr OperatornameToNamedFunctionRule OPERATORNAME_TO_NAMED_FUNCTION{};

}  // namespace quorvel::transform::base_rules
