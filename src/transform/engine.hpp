// The normalisation pipeline: the passes of one run over one tree, in their
// fixed order, each behind its switch in the run's options.
#pragma once

#include "parse/context.hpp"
#include "syntax/ast.hpp"
#include "syntax/expected.hpp"
#include "transform/config.hpp"
#include "transform/error.hpp"
#include "transform/plan.hpp"
#include "transform/report.hpp"

namespace quorvel::transform::engine {

// Lowers attributes, rewrites to a fixed point, lowers again, finalises,
// flattens groups (finalising once more), then checks the plan's contract.
// A failure ends the run at once; the tree keeps what the finished steps did.
syntax::Expected<void, error::TransformError> execute(const Plan& plan, syntax::Ast& ast,
                                                      const parse::ParseContext& context,
                                                      const TransformOptions& options,
                                                      const FlattenGroupsGuardsOverlay* guards,
                                                      ReportRecorder& recorder);

}  // namespace quorvel::transform::engine
