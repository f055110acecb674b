// Builders of the command node values that rules put into the tree. They
// only make values; the rules install them with the tree's operations.
#pragma once

#include <cstdint>
#include <string_view>

#include "syntax/ast.hpp"

namespace quorvel::transform::helpers {

// A known Command with that name and no slots.
syntax::ast::Node bare_command_node(std::string_view name);

// A control symbol standing on its own, as the parser reads it: an escaped
// character (`\{`) is that character, `\&` and any other name a bare command.
syntax::ast::Node bare_symbol_node(std::string_view name);

// A known Command with that name holding `args` (taken over, not copied).
syntax::ast::Node prefix_command_node(std::string_view name, syntax::ast::ArgumentSlots args);

// A Mandatory slot holding math content.
syntax::ast::Argument math_content_arg(syntax::ast::NodeId content);

// The slots of a one-argument command: a math_content_arg.
syntax::ast::ArgumentSlots single_math_content_args(syntax::ast::NodeId content);

enum class ContentKind : std::uint8_t { Math, Text, OperatorName };

// Two Mandatory slots holding an infix's operands as content of `kind`. The
// operands move: the caller detaches them from the infix in the same edit.
syntax::ast::ArgumentSlots infix_prefix_args(syntax::ast::NodeId left, syntax::ast::NodeId right,
                                             ContentKind kind);

// The line-break command `\\`: a Star slot holding false and an empty
// optional slot.
syntax::ast::Node linebreak_command_node();

}  // namespace quorvel::transform::helpers
