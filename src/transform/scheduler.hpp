// The rewrite fixed point: the plan's rules applied over the tree, pass after
// pass, until a pass changes nothing or the pass limit is reached.
#pragma once

#include <cstddef>
#include <vector>

#include "parse/context.hpp"
#include "syntax/ast.hpp"
#include "syntax/expected.hpp"
#include "transform/error.hpp"
#include "transform/plan.hpp"
#include "transform/report.hpp"

namespace quorvel::transform::scheduler {

// Runs the plan to a fixed point. On failure the tree keeps every change made
// before it, and the recorder's iterations stay unset. With `applied`, sets
// it when some rule changed the tree. With `eliminated_left`, clears it when
// the last pass, which changed nothing, met no command-like node named in the
// plan's `eliminated_index` (it stays set for a plan without that index).
syntax::Expected<void, RewriteError> drive_fixed_point(syntax::Ast& ast, const parse::ParseContext& context,
                                                       const Plan& plan, std::size_t max_iterations,
                                                       ReportRecorder& recorder, bool* applied = nullptr,
                                                       bool* eliminated_left = nullptr);

}  // namespace quorvel::transform::scheduler
