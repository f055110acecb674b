// Slot checks and node builders shared by the physics derivative, vector
// and matrix-builder expansions.
//
// The builders make new detached nodes around the material they keep,
// which they move out of the command they replace (see `Ast::take`), so a
// rule checks every slot and decides first, and reads the ids it needs out
// of the slot list before building anything: building grows the arena,
// which may move the slot list it was reading.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "knowledge/expected.hpp"
#include "syntax/ast.hpp"
#include "transform/rule.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::physics_rules {

namespace expansion_checks {

using Slot = RuleScopedContext::Slot;

// An empty slot gives nothing; "{} {} should be an optional math argument" /
// "{} {} should be math content".
knowledge::Expected<std::optional<syntax::ast::NodeId>, RuleError> optional_math_content(
    const Slot& slot, const CommandDisplay& display, std::string_view label);

// Whether `content`, written more than once or not at all where `node`
// stands, would unpair an argument around `node` whose reader pairs
// brackets or parentheses and sees no braces (`\mqty[...]`, `\qty(...)`).
bool copies_would_unpair(const syntax::Ast& ast, syntax::ast::NodeId node, syntax::ast::NodeId content);

}  // namespace expansion_checks

namespace derivative_expand::helpers {

// Makes the differential symbol as a new detached node.
using SymbolBuilder = syntax::ast::NodeId (*)(syntax::Ast& ast);

// `\mathrm{d}`.
syntax::ast::NodeId differential_d(syntax::Ast& ast);
// `\delta`, a known command without slots.
syntax::ast::NodeId delta_symbol(syntax::Ast& ast);
// `\partial`, a known command without slots.
syntax::ast::NodeId partial_symbol(syntax::Ast& ast);

// An implicit math group: the symbol, raised to the order when there is
// one (a detached root the group takes over), then the function's math
// content, moved.
syntax::ast::NodeId derivative_numerator(syntax::Ast& ast, SymbolBuilder symbol,
                                         std::optional<syntax::ast::NodeId> order,
                                         std::optional<syntax::ast::NodeId> function);

// An implicit math group: the symbol, then the variable, moved. With an
// order (a detached root the group takes over) the variable is raised as a
// whole, so the order lands on it; without one an implicit group's children
// follow the symbol one by one.
syntax::ast::NodeId derivative_denominator(syntax::Ast& ast, SymbolBuilder symbol, syntax::ast::NodeId variable,
                                           std::optional<syntax::ast::NodeId> order);

// `\flatfrac` (flat) or `\frac` holding the two groups, not yet inserted.
syntax::ast::Node derivative_fraction(bool flat, syntax::ast::NodeId numerator, syntax::ast::NodeId denominator);

}  // namespace derivative_expand::helpers

namespace vector_expand::helpers {

using expansion_checks::Slot;

struct VectorArgs {
    bool starred;
    syntax::ast::NodeId argument;
};

// The slots of `\va`, `\vb`, `\vu`: a star slot, then the mandatory math
// "argument".
knowledge::Expected<VectorArgs, RuleError> vector_args(std::span<const Slot> slots, const CommandDisplay& display);

// The node becomes `\mathbf` (`\boldsymbol` when starred) of its argument.
void replace_with_vector_style(syntax::Ast& ast, syntax::ast::NodeId node, bool starred,
                               syntax::ast::NodeId argument);

// The node becomes `\wrapper` holding the bold form.
void replace_with_wrapped_vector_style(syntax::Ast& ast, syntax::ast::NodeId node, std::string_view wrapper,
                                       bool starred, syntax::ast::NodeId argument);

}  // namespace vector_expand::helpers

namespace matrix_builder_expand::helpers {

// `\mqty` without star whose paired slot holds `content` between the
// characters `open` and `close`.
syntax::ast::Node matrix_quantity_command(syntax::ast::NodeId content, char32_t open, char32_t close);

}  // namespace matrix_builder_expand::helpers

}  // namespace quorvel::transform::physics_rules
