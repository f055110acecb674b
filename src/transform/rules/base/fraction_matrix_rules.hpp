// Infix fractions and the plain-TeX matrix commands.
#pragma once

#include "transform/rules/base/over_family.hpp"
#include "transform/rules/base/plain_tex_matrix.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_fraction_matrix_rule(F&& f) {
    f(&ABOVE_TO_GENFRAC);
    f(&ABOVEWITHDELIMS_TO_GENFRAC);
    f(&ATOP_TO_GENFRAC);
    f(&ATOPWITHDELIMS_TO_GENFRAC);
    f(&BRACE_TO_GENFRAC);
    f(&BRACK_TO_GENFRAC);
    f(&CHOOSE_TO_BINOM);
    f(&OVER_TO_FRAC);
    f(&OVERWITHDELIMS_TO_GENFRAC);
    f(&CASES_TO_CASES_ENV);
    f(&EQALIGN_TO_ALIGNED_ENV);
    f(&EQALIGNNO_TO_ALIGN_ENV);
    f(&MATRIX_TO_MATRIX_ENV);
    f(&PMATRIX_TO_PMATRIX_ENV);
}

}  // namespace quorvel::transform::base_rules
