// Spacing and break drops, fixed delimiter sizes and the ellipsis choice.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_drop_rule(F&&) {}

}  // namespace quorvel::transform::base_rules
