// `\stackrel{top}{rel}`, `\stackbin{top}{bin}` and plain TeX's
// `\buildrel top \over rel` set a symbol under a small superscript; they are
// written in one explicit form, the class command around an operator with
// limits: `\mathrel{\mathop{rel}\limits^{top}}` (`\mathbin` for stackbin).
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "syntax/ast.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace stacked_operator::helpers {

// `\class{\mathop{base}\limits^{top}}` as a node value; `base` and `top` are
// detached roots that the value takes over.
syntax::ast::Node stacked_operator_command(syntax::Ast& ast, std::string_view class_name, syntax::ast::NodeId base,
                                           syntax::ast::NodeId top);

}  // namespace stacked_operator::helpers

namespace buildrel_expand {

// One part as it is, any other number of parts (none too) as a new implicit
// math group.
syntax::ast::NodeId math_content_from_parts(syntax::Ast& ast, std::span<const syntax::ast::NodeId> parts);

struct OperatorAndAfter {
    syntax::ast::NodeId op;
    std::vector<syntax::ast::NodeId> after;
};

// The operator and what follows it, cut out of the tree (see `Ast::take`):
// the first child and the rest of a non-empty implicit math group, else the
// node itself and nothing.
OperatorAndAfter take_operator_and_after(syntax::Ast& ast, syntax::ast::NodeId node);

}  // namespace buildrel_expand

// stackrel-expand and stackbin-expand: a two-argument command.
class StackedCommandExpandRule final : public RegisteredRule {
public:
    consteval StackedCommandExpandRule(std::string_view key, std::string_view source, std::string_view class_name)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), source_(source), class_(class_name) {
        const RuleMeta& m = meta();
        if (m.triggers.size() != 1 || m.triggers[0].name != source || m.emits.empty() || m.emits[0].name != class_name)
            registry_detail::malformed("a stacked command expands its trigger into its class command");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    std::string_view source_;
    std::string_view class_;
};

inline constexpr StackedCommandExpandRule STACKBIN_EXPAND("stackbin-expand", "stackbin", "mathbin");
inline constexpr StackedCommandExpandRule STACKREL_EXPAND("stackrel-expand", "stackrel", "mathrel");

class BuildrelExpandRule final : public RegisteredRule {
public:
    consteval BuildrelExpandRule() : RegisteredRule(rule_index(knowledge::PackageName::Base, "buildrel-expand")) {}
    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr BuildrelExpandRule BUILDREL_EXPAND{};

}  // namespace quorvel::transform::base_rules
