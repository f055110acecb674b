#include "transform/context.hpp"

#include <utility>

#include "transform/engine.hpp"
#include "transform/parse_context_source.hpp"

namespace quorvel::transform {

namespace {

knowledge::Expected<TransformReport, error::TransformError> run_collecting(
    const Plan& plan, syntax::Ast& ast, const parse::ParseContext& context, const TransformOptions& options,
    const FlattenGroupsGuardsOverlay* overlay) {
    ReportRecorder recorder = ReportRecorder::collecting();
    auto result = engine::execute(plan, ast, context, options, overlay, recorder);
    if (!result) return std::move(result.error());
    return std::move(recorder).into_report();
}

}  // namespace

knowledge::Expected<TransformContext, error::TransformBuildError> TransformContext::from_build_config(
    BuildConfig config, const PlanSource& source) {
    auto plan = Plan::build(config, source);
    if (!plan) return error::TransformBuildError{std::move(plan).error()};
    return TransformContext{std::move(plan).value(), config.options};
}

knowledge::Expected<TransformContext, error::TransformBuildError> TransformContext::from_build_config(
    BuildConfig config, const parse::ParseContext& context) {
    return from_build_config(std::move(config), ParseContextPlanSource(context));
}

syntax::Expected<void, error::TransformError> TransformContext::run_with(syntax::Ast& ast,
                                                                         const parse::ParseContext& context,
                                                                         const TransformOptions& run_options) const {
    ReportRecorder recorder = ReportRecorder::off();
    return engine::execute(plan, ast, context, run_options, nullptr, recorder);
}

knowledge::Expected<TransformReport, error::TransformError> TransformContext::run_with_report(
    syntax::Ast& ast, const parse::ParseContext& context, const TransformOptions& run_options) const {
    return run_collecting(plan, ast, context, run_options, nullptr);
}

knowledge::Expected<TransformReport, error::TransformError> TransformContext::run_with_flatten_groups_guards(
    syntax::Ast& ast, const parse::ParseContext& context, const TransformOptions& run_options,
    const FlattenGroupsGuardsOverlay& overlay) const {
    return run_collecting(plan, ast, context, run_options, &overlay);
}

}  // namespace quorvel::transform
