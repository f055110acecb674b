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

// The work one run may do (see util/work_count.hpp): this many steps for
// each node of the tree it is given, plus the floor. A run that passes it
// ends with RewriteError::TooComplex and takes back the step it was in.
// Every walk, copy, free, check written as text and rule tried counts, so
// no input costs more than a fixed multiple of its size; no formula of the
// corpus uses more than a hundredth of it. Long texts count little (a step
// for 64 bytes written), so a tree of few nodes that holds them gets by on
// the floor.
inline constexpr std::uint64_t kWorkPerNode = 512;
inline constexpr std::uint64_t kWorkFloor = std::uint64_t{1} << 18;

// The work a run on a tree of `size` nodes may do.
constexpr std::uint64_t work_allowance(std::size_t size) noexcept { return kWorkPerNode * size + kWorkFloor; }

// Lowers attributes, rewrites to a fixed point, lowers again, finalises,
// flattens groups (finalising once more), then checks the plan's contract.
// A failure ends the run at once; the tree keeps what the finished steps did.
// The run's work is bounded by `work_allowance`.
syntax::Expected<void, error::TransformError> execute(const Plan& plan, syntax::Ast& ast,
                                                      const parse::ParseContext& context,
                                                      const TransformOptions& options,
                                                      const FlattenGroupsGuardsOverlay* guards,
                                                      ReportRecorder& recorder);

}  // namespace quorvel::transform::engine
