// `\big` and `\bigg` only fix the size of the delimiter they carry; at the
// equiv level the bare delimiter takes their place and keeps their scripts.
#pragma once

#include <string_view>

#include "syntax/ast.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace fixed_delimiter_size::helpers {

// Replaces the sizing command `node` by the bare `delimiter`: `<` and `\lt`
// become `\langle`, `>` and `\gt` become `\rangle`, another character a Char,
// another control a known command without slots. Scripts of the command stay
// on the delimiter. No delimiter (`\big.`) removes the command from its list
// and leaves an empty math group anywhere else.
void drop_fixed_delimiter_size(syntax::Ast& ast, syntax::ast::NodeId node, const syntax::ast::Delimiter& delimiter);

// Whether the delimiter of the size command `node`, written bare, would fill
// an open slot of the command or environment written before it.
bool bare_delimiter_fills_a_slot(const RuleContext& ctx, syntax::ast::NodeId node,
                                 const syntax::ast::Delimiter& delimiter);

}  // namespace fixed_delimiter_size::helpers

class FixedDelimiterSizeDropRule final : public RegisteredRule {
public:
    consteval explicit FixedDelimiterSizeDropRule(std::string_view key)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)) {
        if (meta().triggers.size() != 1) registry_detail::malformed("a delimiter size drop has one trigger");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr FixedDelimiterSizeDropRule BIG_DELIMITER_SIZE_DROP("big-delimiter-size-drop");
inline constexpr FixedDelimiterSizeDropRule BIGG_DELIMITER_SIZE_DROP("bigg-delimiter-size-drop");

}  // namespace quorvel::transform::base_rules
