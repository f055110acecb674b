// TeX's class of the atom a math item makes, for the passes that must keep
// the spacing TeX sets beside it.
#pragma once

#include <cstdint>
#include <string_view>

#include "syntax/ast.hpp"

namespace quorvel::transform::passes::support {

// TeX's class of the atom a math item makes, as far as the spacing beside
// it goes; Other: one not known here.
enum class AtomClass : std::uint8_t { Ord, Op, Bin, Rel, Open, Close, Punct, Inner, Other };

// The class of the atom `id` makes: a script leaves its base's class, and a
// command for which `ordinary_command` holds (a font command, whose body TeX
// sets in a group) is ordinary.
AtomClass atom_class(const syntax::Ast& ast, syntax::ast::NodeId id, bool (*ordinary_command)(std::string_view));

}  // namespace quorvel::transform::passes::support
