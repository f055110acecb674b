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

// What the rules of one fixed point may build: this many times the bytes of
// the tree they are given, plus the constant (see Ast::BuildLimit). Past it
// the rule that would build more fails with a RuleFailed error that says so.
// No formula of the corpus builds more than one and a half times its tree.
inline constexpr std::size_t kBuildMultiple = 64;
inline constexpr std::size_t kBuildConstant = std::size_t{64} * 1024;

// Runs the plan to a fixed point. On failure the tree keeps every change made
// before it, and the recorder's iterations stay unset. With `applied`, sets
// it when some rule changed the tree. With `eliminated_left`, clears it when
// the last pass, which changed nothing, met no command-like node named in the
// plan's `eliminated_index` (it stays set for a plan without that index).
// `flattening`: the guards of the group flattening after the rules, which
// the rules may ask (see `RuleContext::groups_stay`); none when it does not
// run.
syntax::Expected<void, RewriteError> drive_fixed_point(syntax::Ast& ast, const parse::ParseContext& context,
                                                       const Plan& plan, std::size_t max_iterations,
                                                       ReportRecorder& recorder, bool* applied = nullptr,
                                                       bool* eliminated_left = nullptr,
                                                       const FlattenGroupsGuards* flattening = nullptr);

}  // namespace quorvel::transform::scheduler
