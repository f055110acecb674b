// The fenced amsmath matrices become a core `matrix` inside `\left`/`\right`:
// `\begin{pmatrix} a \end{pmatrix}` reads `\left( \begin{matrix} a \end{matrix} \right)`.
#pragma once

#include <array>
#include <string_view>

#include "syntax/ast.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

namespace fenced_matrix_env::helpers {

// Replaces `environment` in place by a Delimited math group (left, right)
// holding a new known `matrix` environment, without slots, around a deep
// copy of `body`; the old body is freed.
void replace_with_fenced_matrix_env(syntax::Ast& ast, syntax::ast::NodeId environment, syntax::ast::NodeId body,
                                    syntax::ast::Delimiter left, syntax::ast::Delimiter right);

}  // namespace fenced_matrix_env::helpers

// One fence side: the control sequence `control` when it is given (`\{`),
// else the character.
struct FenceDelimiter {
    char32_t character = 0;
    std::string_view control = {};
};

class FencedMatrixEnvRule final : public RegisteredRule {
public:
    consteval FencedMatrixEnvRule(std::string_view key, FenceDelimiter left, FenceDelimiter right)
        : RegisteredRule(rule_index(knowledge::PackageName::Ams, key)), left_(left), right_(right) {
        const RuleMeta& m = meta();
        if (m.triggers.size() != 1 || m.triggers[0].kind != RuleTargetKind::Environment)
            registry_detail::malformed("a fenced matrix rule has one environment trigger");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    FenceDelimiter left_;
    FenceDelimiter right_;
};

inline constexpr std::array FENCED_MATRIX_ENV_RULES{
    FencedMatrixEnvRule("Bmatrix-env-to-brace-matrix", {0, "{"}, {0, "}"}),
    FencedMatrixEnvRule("bmatrix-env-to-bracket-matrix", {U'['}, {U']'}),
    FencedMatrixEnvRule("pmatrix-env-to-paren-matrix", {U'('}, {U')'}),
    FencedMatrixEnvRule("vmatrix-env-to-vert-matrix", {U'|'}, {U'|'}),
};

}  // namespace quorvel::transform::ams_rules
