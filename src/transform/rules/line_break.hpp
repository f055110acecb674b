// Where `\break` and `\newline` break the line, and where TeX sets the list
// of one that breaks none alike without it.
#pragma once

#include "syntax/ast.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::line_break {

// Whether a line break at `node` breaks the line: in the formula's own list
// (or that of inline math the root holds), as the item or the base of one.
// Anywhere else it ends up in a box of its own (a cell, a group, an
// argument), where TeX's penalty does nothing.
bool breaks_the_line(RuleContext& ctx, syntax::ast::NodeId node);

// A row end ends the left operand of an infix as the parser reads it: one
// that a line break became in the left operand of the `\over` of a
// `\buildrel`, before it, moves out of that operand into the list that holds
// the infix, with what stands before it. That list is no operand: one starts
// after any infix before it. An operand left with one item is that item once
// flattening has run.
void leave_operand(syntax::Ast& ast, syntax::ast::NodeId row_end);

// Whether TeX sets the list of a line break that breaks no line alike once
// a `\break` goes or a `\newline` leaves only the empty box it ends in.
bool sets_alike_without(RuleContext& ctx, syntax::ast::NodeId node);

}  // namespace quorvel::transform::line_break
