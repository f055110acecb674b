#include "transform/engine.hpp"

#include <type_traits>
#include <utility>
#include <vector>

#include "transform/contract.hpp"
#include "transform/passes/passes.hpp"
#include "transform/scheduler.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::engine {

namespace {

// A tree pass builds lists aside and puts them back as it goes, so a pass
// stopped halfway (out of memory) would leave material detached: each pass
// is one step, taken back whole when it fails, and the tree is then the one
// the passes before it left.
template <class Pass>
auto run_as_step(syntax::Ast& ast, Pass&& pass) {
    syntax::Ast::Step step(ast);
    if constexpr (std::is_void_v<decltype(pass())>) {
        pass();
        step.commit();
    } else {
        auto result = pass();
        step.commit();
        return result;
    }
}

// Rounds of the rules after the tail, at most: each needs something that
// lowering or flattening brought together and a rule that then applied.
constexpr std::size_t kSettleRounds = 4;

syntax::Expected<void, error::TransformError> run_passes(const Plan& plan, syntax::Ast& ast,
                                                         const parse::ParseContext& context,
                                                         const TransformOptions& options,
                                                         const FlattenGroupsGuardsOverlay* guards,
                                                         ReportRecorder& recorder) {
    const syntax::Ast::EditBatch batch(ast);
    const FlattenGroupsGuards resolved =
        FlattenGroupsGuards::resolve(options.flatten_groups.preserve_rendered_spacing, guards);
    // Lowering cuts its runs on the lists flattening will leave, and the
    // rules ask which braces it keeps.
    const FlattenGroupsGuards* flattening = options.flatten_groups.enabled ? &resolved : nullptr;
    passes::Lowered lowered = passes::Lowered::Nothing;
    if (options.lower_attributes.enabled)
        lowered = run_as_step(ast, [&] {
            return passes::lower_attributes(ast, ast.root(), recorder, flattening,
                                            {context.math().get(), context.text().get()});
        });

    bool applied = false;
    bool eliminated_left = true;
    if (options.rewrite.enabled) {
        auto rewritten = scheduler::drive_fixed_point(ast, context, plan, options.rewrite.max_iterations, recorder,
                                                      &applied, &eliminated_left, flattening);
        if (!rewritten) return error::TransformError{std::move(rewritten.error())};
    }

    // A tree the first lowering found nothing in and no rule changed has
    // nothing for the second either; one it only counted in would only be
    // counted again, which matters to a report alone.
    bool lower_again =
        options.lower_attributes.enabled &&
        (applied || lowered == passes::Lowered::Rebuilt ||
         (lowered == passes::Lowered::CountsOnly && recorder.is_collecting()));
    // The passes after the fixed point are one step: one that fails leaves
    // the tree the fixed point left. Whether they changed the tree: lowering
    // rebuilt part of it, or flattening removed a group.
    bool parted_prefixes = false;
    const passes::PassSight sight{context.math().get(), context.text().get(), &parted_prefixes};
    const auto passes_after_rules = [&] {
        bool changed = false;
        if (lower_again)
            changed = passes::lower_attributes(ast, ast.root(), recorder, flattening, sight) == passes::Lowered::Rebuilt;
        if (options.finalize_ast.enabled) passes::finalize_ast(ast, ast.root(), recorder);
        if (!options.flatten_groups.enabled) return changed;
        if (!options.finalize_ast.enabled)
            return passes::flatten_groups(ast, ast.root(), resolved, recorder, nullptr, sight) || changed;
        // The tree was finalised before; only the lists flattening
        // changed can have new runs of primes or texts. Groups it took
        // out are freed only when the step ends: lists are looked up
        // among the nodes still standing.
        std::vector<syntax::ast::NodeId> changed_lists;
        const bool removed = passes::flatten_groups(ast, ast.root(), resolved, recorder, &changed_lists, sight);
        passes::finalize_lists(ast, changed_lists, recorder);
        return removed || changed;
    };
    const auto tail = [&] {
        parted_prefixes = false;
        bool changed = run_as_step(ast, passes_after_rules);
        // Flattening brought two runs of one prefix together, parted by an
        // empty group that lowering takes as gone (`{\mathbf{x}}{}\mathbf{y}`):
        // lowered once more, they join as the next reading would join them.
        if (parted_prefixes && options.lower_attributes.enabled) {
            const bool lowered = std::exchange(lower_again, true);
            changed = run_as_step(ast, passes_after_rules) || changed;
            lower_again = lowered;
        }
        return changed;
    };
    bool changed = tail();

    // Lowering and flattening can bring together what a rule acts on: two
    // spacers that an empty group or a dropped command's runs parted, a pair
    // the braces kept apart. A rule may read any part of the tree, so the
    // rules go over the whole changed tree once more, and the passes after
    // them, so that the output normalises to itself; the rounds are bounded.
    // A round in which no rule applied leaves the report as it was.
    for (std::size_t round = 0; changed && options.rewrite.enabled && round < kSettleRounds; ++round) {
        bool again = false;
        ReportRecorder rules = recorder.is_collecting() ? ReportRecorder::collecting() : ReportRecorder::off();
        auto rewritten = scheduler::drive_fixed_point(ast, context, plan, options.rewrite.max_iterations, rules,
                                                      &again, &eliminated_left, flattening);
        if (!rewritten) return error::TransformError{std::move(rewritten.error())};
        if (!again) break;
        recorder.add_rewrite(rules);
        lower_again = options.lower_attributes.enabled;
        changed = tail();
    }

    // The passes after the fixed point add no command-like node but the
    // attribute forms lowering writes: when the fixed point ended on a tree
    // naming no eliminated target and lowering writes none, nothing can
    // violate the contract.
    if (options.rewrite.enabled && (eliminated_left || (lower_again && plan.lowering_emits_eliminated))) {
        const auto violations = plan.indexed()
                                    ? contract::collect_eliminated_violations(ast, context, plan.eliminated,
                                                                              plan.eliminated_index)
                                    : contract::collect_eliminated_violations(ast, context, plan.eliminated);
        if (!violations.empty()) {
            const contract::ContractViolation& first = violations.front();
            return error::TransformError{
                RewriteError{RewriteError::ContractViolated{first.kind, std::string(first.name), first.node}}};
        }
    }
    return {};
}

}  // namespace

syntax::Expected<void, error::TransformError> execute(const Plan& plan, syntax::Ast& ast,
                                                      const parse::ParseContext& context,
                                                      const TransformOptions& options,
                                                      const FlattenGroupsGuardsOverlay* guards,
                                                      ReportRecorder& recorder) {
    const std::size_t size = ast.node_count();
    const util::WorkBound bound(work_allowance(size));
    try {
        return run_passes(plan, ast, context, options, guards, recorder);
    } catch (const util::WorkBoundReached&) {
        return error::TransformError{RewriteError{RewriteError::TooComplex{work_allowance(size), size}}};
    }
}

}  // namespace quorvel::transform::engine
