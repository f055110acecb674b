// Whitespace repair shared by the spacing rules.
#pragma once

#include "syntax/ast.hpp"

namespace quorvel::transform::spacing_support {

// When the node's next sibling is a Text whose text begins with a space,
// removes that one space: a spacing command that replaces a word-like one
// must not leave the space that ended the old name doubled in text.
void drop_leading_space_of_next_text(syntax::Ast& ast, syntax::ast::NodeId node);

}  // namespace quorvel::transform::spacing_support
