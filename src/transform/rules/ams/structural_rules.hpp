// Fenced matrix environments, cfrac, substack and multiple integrals.
#pragma once

#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_structural_rule(F&&) {}

}  // namespace quorvel::transform::ams_rules
