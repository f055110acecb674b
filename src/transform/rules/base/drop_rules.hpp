// Spacing and break drops, fixed delimiter sizes and the ellipsis choice.
#pragma once

#include "transform/rules/base/ellipsis_choice.hpp"
#include "transform/rules/base/fixed_delimiter_size.hpp"
#include "transform/rules/base/spacing_drop.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform::base_rules {

// Calls `f` on each of this family's rule objects.
template <class F>
constexpr void for_each_drop_rule(F&& f) {
    f(&ALLOWBREAK_DROP);
    f(&BADBREAK_DROP);
    f(&GOODBREAK_DROP);
    f(&MATHSTRUT_DROP);
    f(&NOBREAK_DROP);
    f(&STRUT_DROP);
    f(&BIG_DELIMITER_SIZE_DROP);
    f(&BIGG_DELIMITER_SIZE_DROP);
    f(&ENSPACE_DROP);
    f(&QQUAD_DROP);
    f(&QUAD_DROP);
    f(&DOTS_TO_LDOTS_OR_CDOTS);
}

}  // namespace quorvel::transform::base_rules
