// Operator names, negation pairs, limit placement, stacked operators, the root family and the mathrel wrapper.
#pragma once

#include "transform/rules/base/limit_placement.hpp"
#include "transform/rules/base/named_function.hpp"
#include "transform/rules/base/not_remap.hpp"
#include "transform/rules/base/root_family.hpp"
#include "transform/rules/base/stacked_operator.hpp"
#include "transform/rules/base/tex_class_wrapper.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_structure_rule(F&& f) {
    f(&OPERATORNAME_TO_NAMED_FUNCTION);
    f(&NOT_EQUALS_TO_NEQ);
    f(&NOT_EXISTS_TO_NEXISTS);
    f(&NOT_IN_TO_NOTIN);
    f(&NOT_RIGHT_ARROW_TO_NRIGHTARROW);
    f(&LIMITS_DROP);
    f(&NOLIMITS_DROP);
    f(&BUILDREL_EXPAND);
    f(&STACKBIN_EXPAND);
    f(&STACKREL_EXPAND);
    f(&ROOT_OF_TO_SQRT);
    f(&LEFTROOT_DROP);
    f(&UPROOT_DROP);
    f(&DUPLICATE_MATHREL_WRAPPER_DROP);
}

}  // namespace quorvel::transform::base_rules
