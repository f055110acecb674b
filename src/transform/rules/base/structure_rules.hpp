// Operator names, negation pairs, limit placement, stacked operators, the root family and the mathrel wrapper.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_structure_rule(F&&) {}

}  // namespace quorvel::transform::base_rules
