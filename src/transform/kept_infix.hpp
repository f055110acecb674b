// Infix fractions that stay infix at every profile: bm's `\boldsymbol`
// reads its argument token by token and stops with an error at `\genfrac`
// or `\binom` there, where it sets the infix (`\frac` it sets too).
#pragma once

#include "syntax/ast.hpp"

namespace quorvel::transform::kept_infix {

// Whether `infix`, one other than `\over`, lies in a `\boldsymbol`
// argument at most a fixed number of levels up: the question is asked of
// every infix, and a `\boldsymbol` farther up is left to TeX's own error.
bool under_bold_symbol(const syntax::Ast& ast, syntax::ast::NodeId infix);

}  // namespace quorvel::transform::kept_infix
