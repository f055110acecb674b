// Derivative, vector, matrix-builder and named-function expansions.
#pragma once

#include "transform/rules/physics/derivative_expand.hpp"
#include "transform/rules/physics/matrix_builder_expand.hpp"
#include "transform/rules/physics/named_fn_expand.hpp"
#include "transform/rules/physics/vector_expand.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::physics_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_expansion_rule(F&& f) {
    f(&DV_TO_FRAC_D);
    f(&FDV_TO_FRAC_DELTA);
    f(&PDV_TO_FRAC_PARTIAL);
    f(&BMQTY_TO_MQTY);
    f(&MDET_TO_VMQTY);
    f(&PMQTY_TO_MQTY);
    f(&ZMAT_TO_XMAT);
    f(&RANK_TO_OPERATORNAME_RANK);
    f(&VA_TO_VEC_MATHBF);
    f(&VB_TO_MATHBF);
    f(&VU_TO_HAT_MATHBF);
}

}  // namespace quorvel::transform::physics_rules
