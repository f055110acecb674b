// TeX reads `\buildrel top \over rel` as one macro whose first argument the
// `\over` ends: that `\over` is no fraction. The parser accepts a `\buildrel`
// only where its `\over` reads it, and reports one anywhere else: as an item
// of that infix's left operand (the operand itself or a member of its
// implicit list), or as the base or a script of such an item.
#pragma once

#include <optional>

#include "syntax/ast.hpp"

namespace quorvel::transform::buildrel {

// The item of a list or operand that the `\buildrel` is, or whose base or
// script it is.
syntax::ast::NodeId carrier(const syntax::Ast& ast, syntax::ast::NodeId buildrel);

// The `\buildrel` that `infix` closes, when it is a `\over` that closes one.
std::optional<syntax::ast::NodeId> closed_by(const syntax::Ast& ast, syntax::ast::NodeId infix);

}  // namespace quorvel::transform::buildrel
