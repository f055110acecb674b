// Plain TeX's arrays, a command with one braced body whose rows end in `\cr`
// (`\matrix{a&b\cr c&d}`), become the LaTeX environments with each `\cr`
// turned into `\\`; `\eqalignno` also turns each row's trailing `&(...)`
// equation number into a `\tag`.
#pragma once

#include <span>
#include <string_view>
#include <vector>

#include "knowledge/expected.hpp"
#include "syntax/ast.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

namespace plain_tex_matrix::helpers {

// The math content of a Mandatory body slot: "{} body should be a mandatory
// math argument" / "{} body should be math content".
knowledge::Expected<syntax::ast::NodeId, RuleError> mandatory_math_body(const RuleScopedContext::Slot& slot,
                                                                        const CommandDisplay& display);

// The items a body's rows are made of: its children when it is a group,
// else the body itself (so `body` must outlive the span). The span points
// into the arena: creating a node may move it.
std::span<const syntax::ast::NodeId> body_items(const syntax::Ast& ast, const syntax::ast::NodeId& body);

// The items of `body_items`, cut out of the body (see `Ast::take`): the
// command they leave is replaced, and what it still holds goes with it.
std::vector<syntax::ast::NodeId> take_body_items(syntax::Ast& ast, syntax::ast::NodeId body);

// A row break: `\cr` without slots. One with slots is an ordinary item.
bool is_row_break(const syntax::ast::Node& node);

// Puts a known Environment `name` holding `args` and an implicit math body
// of the detached `body` nodes in the place of `node`, freeing what the old
// node's arguments held.
void replace_with_environment(syntax::Ast& ast, syntax::ast::NodeId node, std::string_view name,
                              syntax::ast::ArgumentSlots args, std::span<const syntax::ast::NodeId> body);

}  // namespace plain_tex_matrix::helpers

// `\cases`, `\eqalign`, `\matrix`, `\pmatrix`: the body's items are moved
// in order, each row break becoming `\\`. The environment is the registry
// row's only emitted target.
class CrBodyToEnvironmentRule final : public RegisteredRule {
public:
    // `optional_slot`: the environment gets one empty optional slot (the
    // position argument of aligned).
    consteval CrBodyToEnvironmentRule(std::string_view key, bool optional_slot)
        : RegisteredRule(rule_index(knowledge::PackageName::Base, key)), optional_slot_(optional_slot) {
        const RuleMeta& m = meta();
        if (m.triggers.size() != 1 || m.emits.size() != 1 || m.emits[0].kind != RuleTargetKind::Environment)
            registry_detail::malformed("a plain-TeX matrix rule has one trigger and emits its environment");
    }

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;

private:
    bool optional_slot_;
};

inline constexpr CrBodyToEnvironmentRule CASES_TO_CASES_ENV{"cases-to-cases-env", false};
inline constexpr CrBodyToEnvironmentRule EQALIGN_TO_ALIGNED_ENV{"eqalign-to-aligned-env", true};
inline constexpr CrBodyToEnvironmentRule MATRIX_TO_MATRIX_ENV{"matrix-to-matrix-env", false};
inline constexpr CrBodyToEnvironmentRule PMATRIX_TO_PMATRIX_ENV{"pmatrix-to-pmatrix-env", false};

// `\eqalignno{a&=b&(1)\cr c&=d&(2)}` becomes align with the body
// `a&=b\tag{1}\\c&=d\tag{2}`: every row must end in `&(...)`.
class EqalignnoToAlignEnvRule final : public RegisteredRule {
public:
    consteval EqalignnoToAlignEnvRule()
        : RegisteredRule(rule_index(knowledge::PackageName::Base, "eqalignno-to-align-env")) {}

    RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const override;
};

inline constexpr EqalignnoToAlignEnvRule EQALIGNNO_TO_ALIGN_ENV{};

}  // namespace quorvel::transform::base_rules
