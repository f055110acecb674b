#include "transform/engine.hpp"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <vector>

#include "transform/contract.hpp"
#include "transform/passes/passes.hpp"
#include "transform/scheduler.hpp"
#include "util/work_count.hpp"
#include "util/thread_storage.hpp"

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
    // Lowering cuts its runs on the lists flattening will leave.
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
                                                      &applied, &eliminated_left);
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
    // the tree the fixed point left. Whether lowering or flattening showed
    // the rules something new; `seen`: the nodes named by a trigger that
    // they showed it to (with a plan indexed by name; without, every node is
    // offered again).
    const NameIndex* watched = plan.indexed() ? &plan.trigger_index : nullptr;
    constinit thread_local util::ThreadCache<std::vector<syntax::ast::NodeId>> kept_seen;
    std::vector<syntax::ast::NodeId> seen = std::move(*kept_seen);
    struct Return {
        std::vector<syntax::ast::NodeId>& from;
        ~Return() {
            from.clear();
            if (from.capacity() <= 4096) *kept_seen = std::move(from);
        }
    } give_back{seen};
    bool parted_prefixes = false;
    const passes::PassSight sight{context.math().get(), context.text().get(), watched, &seen, &parted_prefixes};
    const auto passes_after_rules = [&] {
        if (lower_again) passes::lower_attributes(ast, ast.root(), recorder, flattening, sight);
        if (options.finalize_ast.enabled) passes::finalize_ast(ast, ast.root(), recorder);
        if (!options.flatten_groups.enabled) return false;
        if (!options.finalize_ast.enabled) return passes::flatten_groups(ast, ast.root(), resolved, recorder, nullptr, sight);
        // The tree was finalised before; only the lists flattening
        // changed can have new runs of primes or texts. Groups it took
        // out are freed only when the step ends: lists are looked up
        // among the nodes still standing.
        std::vector<syntax::ast::NodeId> changed_lists;
        const bool removed = passes::flatten_groups(ast, ast.root(), resolved, recorder, &changed_lists, sight);
        passes::finalize_lists(ast, changed_lists, recorder);
        return removed;
    };
    const auto tail = [&] {
        seen.clear();
        parted_prefixes = false;
        bool removed = run_as_step(ast, passes_after_rules);
        // Flattening brought two runs of one prefix together, parted by an
        // empty group that lowering takes as gone (`{\mathbf{x}}{}\mathbf{y}`):
        // lowered once more, they join as the next reading would join them.
        if (parted_prefixes && options.lower_attributes.enabled) {
            const bool lowered = std::exchange(lower_again, true);
            removed = run_as_step(ast, passes_after_rules) || removed;
            lower_again = lowered;
        }
        return removed || !seen.empty();
    };
    bool shown = tail();

    // Lowering and flattening can bring together what a rule acts on: two
    // spacers that an empty group or a dropped command's runs parted, a pair
    // the braces kept apart. The rules then go over the tree once more, and
    // the passes after them, so that the output normalises to itself; the
    // rounds are bounded. A round in which no rule applied leaves the report
    // as it was.
    // The rules declined everything else before: their first pass offers
    // them what the tail showed something new, in the order of the nodes'
    // making, which is the order of the text for those the parser made.
    for (std::size_t round = 0; shown && options.rewrite.enabled && round < kSettleRounds; ++round) {
        if (watched != nullptr) {
            if (seen.empty()) break;
            std::sort(seen.begin(), seen.end(), [](auto a, auto b) { return a.index < b.index; });
            seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        }
        bool again = false;
        ReportRecorder rules = recorder.is_collecting() ? ReportRecorder::collecting() : ReportRecorder::off();
        auto rewritten = scheduler::drive_fixed_point(ast, context, plan, options.rewrite.max_iterations, rules,
                                                      &again, &eliminated_left, watched != nullptr ? &seen : nullptr);
        if (!rewritten) return error::TransformError{std::move(rewritten.error())};
        if (!again) break;
        recorder.add_rewrite(rules);
        lower_again = options.lower_attributes.enabled;
        shown = tail();
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
