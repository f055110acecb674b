// `\not` followed by a relation becomes the single negated character:
// `\not=` is `\neq`, `\not\in` is `\notin`, `\not\exists` is `\nexists`,
// `\not\to` is `\nrightarrow`. A `\not` before anything else stays, so no
// rule of the family consumes it unconditionally.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "knowledge/packages.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace not_remap::helpers {

// The node right after `not_node` when it is the wanted atom: the Char
// `code_point`, or a known command without slots named after one of
// `characters` that the math-mode base knows as a character.
std::optional<syntax::ast::NodeId> following_character_atom(
    const RuleContext& ctx, syntax::ast::NodeId not_node, char32_t code_point,
    std::span<const knowledge::BuiltinCharacterSpec* const> characters);

// `not_node` becomes the result character command (same id and place) and
// `second` goes with its subtree.
void replace_not_pair(RuleContext& ctx, syntax::ast::NodeId not_node, syntax::ast::NodeId second,
                      const knowledge::BuiltinCharacterSpec& result);

}  // namespace not_remap::helpers

// Which relation follows the `\not`.
enum class NotPair : std::uint8_t { Equals, Exists, In, RightArrow };

class NotRemapRule final : public RegisteredRule {
public:
    consteval NotRemapRule(std::string_view key, NotPair pair)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), pair_(pair) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    NotPair pair_;
};

inline constexpr NotRemapRule NOT_EQUALS_TO_NEQ("not-equals-to-neq", NotPair::Equals);
inline constexpr NotRemapRule NOT_EXISTS_TO_NEXISTS("not-exists-to-nexists", NotPair::Exists);
inline constexpr NotRemapRule NOT_IN_TO_NOTIN("not-in-to-notin", NotPair::In);
inline constexpr NotRemapRule NOT_RIGHT_ARROW_TO_NRIGHTARROW("not-right-arrow-to-nrightarrow", NotPair::RightArrow);

}  // namespace quorvel::transform::base_rules
