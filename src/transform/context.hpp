// A prepared transform: the rule plan and the default phase settings, built
// once per engine and then run on any number of trees.
#pragma once

#include "knowledge/expected.hpp"
#include "parse/context.hpp"
#include "syntax/ast.hpp"
#include "syntax/expected.hpp"
#include "transform/config.hpp"
#include "transform/error.hpp"
#include "transform/plan.hpp"
#include "transform/report.hpp"

namespace quorvel::transform {

struct TransformContext {
    Plan plan;
    TransformOptions options;  // the engine's defaults

    // Plans with the config's selection and level mask; keeps its options.
    static knowledge::Expected<TransformContext, error::TransformBuildError> from_build_config(
        BuildConfig config, const parse::ParseContext& context);
    static knowledge::Expected<TransformContext, error::TransformBuildError> from_build_config(
        BuildConfig config, const PlanSource& source);

    // Runs the pipeline on `ast` in place with the options of this call.
    syntax::Expected<void, error::TransformError> run_with(syntax::Ast& ast, const parse::ParseContext& context,
                                                           const TransformOptions& options) const;

    // The same, collecting a report; a failed run returns only its error.
    knowledge::Expected<TransformReport, error::TransformError> run_with_report(
        syntax::Ast& ast, const parse::ParseContext& context, const TransformOptions& options) const;

    // As run_with_report, with guard values that replace the defaults for
    // this run.
    knowledge::Expected<TransformReport, error::TransformError> run_with_flatten_groups_guards(
        syntax::Ast& ast, const parse::ParseContext& context, const TransformOptions& options,
        const FlattenGroupsGuardsOverlay& overlay) const;
};

}  // namespace quorvel::transform
