// Fenced matrix environments, cfrac, substack and multiple integrals.
#pragma once

#include "transform/rules/ams/fenced_matrix_env.hpp"
#include "transform/rules/ams/fraction_style.hpp"
#include "transform/rules/ams/multi_integral.hpp"
#include "transform/rules/ams/substack.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::ams_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_structural_rule(F&& f) {
    for (const auto& rule : FENCED_MATRIX_ENV_RULES) f(&rule);
    f(&CFRAC_TO_FRAC);
    f(&IDOTSINT_EXPAND);
    f(&SUBSTACK_EXPAND);
}

}  // namespace quorvel::transform::ams_rules
