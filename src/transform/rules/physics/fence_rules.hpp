// Bra-ket, commutator, delimiter-shorthand and evaluation-fence expansions.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_fence_rule(F&&) {}

}  // namespace quorvel::transform::physics_rules
