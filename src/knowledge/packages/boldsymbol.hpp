// The `boldsymbol` package: bold math symbols, one named constant per entry.
#pragma once

#include "knowledge/packages/arg_specs.hpp"

namespace quorvel::knowledge::builtin::boldsymbol {

// Commands
inline constexpr BuiltinCommandSpec cmd_boldsymbol = prefix(ARGS_m, "boldsymbol", TAGS_presentation);

}  // namespace quorvel::knowledge::builtin::boldsymbol
