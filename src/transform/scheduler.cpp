#include "transform/scheduler.hpp"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "transform/preorder.hpp"
#include "transform/rule_context.hpp"
#include "util/thread_storage.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::scheduler {

namespace {

using knowledge::KnowledgeBase;
using syntax::NodeKind;
using syntax::ast::Node;
using syntax::ast::NodeId;

// The knowledge-base gate: whether a node of that kind and name may be offered
// to a rule through `trigger`. Names the caller removed from the parse
// context fail it, so they never reach a rule.
bool passes_gate(const RuleTarget& trigger, NodeKind kind, std::string_view name, const KnowledgeBase& math,
                 const KnowledgeBase& text) {
    switch (trigger.kind) {
        case RuleTargetKind::Character:
            if (kind == NodeKind::Environment || name != trigger.name) return false;
            return math.lookup_character(name) != nullptr || text.lookup_character(name) != nullptr;
        case RuleTargetKind::Environment: {
            if (kind != NodeKind::Environment) return false;
            const knowledge::ActiveEnvironmentRecord* found = math.lookup_env(name);
            if (found == nullptr) found = text.lookup_env(name);
            return found != nullptr && found->name == trigger.name;
        }
        case RuleTargetKind::Command: {
            if (kind == NodeKind::Environment) return false;
            const knowledge::ActiveCommandRecord* found = math.lookup_command(name);
            if (found == nullptr) found = text.lookup_command(name);
            return found != nullptr && found->name == trigger.name;
        }
    }
    return false;
}

// Snapshots longer than this are not kept for the next call.
constexpr std::size_t kKeptCapacity = 1 << 14;

bool is_candidate(const RuleMeta& meta, NodeKind kind, std::string_view name, const KnowledgeBase& math,
                  const KnowledgeBase& text) {
    for (const RuleTarget& trigger : meta.triggers)
        if (passes_gate(trigger, kind, name, math, text)) return true;
    return false;
}

// "the rewrite would build more than ...": why a rule stopped at the limit.
std::string too_large(const syntax::Ast::BuildLimit& limit) {
    return "the rewrite would build more than " + std::to_string(limit.allowance()) + " bytes, " +
           std::to_string(kBuildMultiple) + " times the " + std::to_string(limit.measured()) +
           " bytes of the tree it was given plus " + std::to_string(kBuildConstant) +
           ": an argument copied at every level of a nesting doubles the output with each level";
}

// Whether some live node of the arena, detached ones included, bears a name
// listed in `triggers` or `eliminated`. Most trees bear none: a sweep over
// the slots, without the walk's stack, then shows that a pass would offer
// nothing and meet nothing eliminated.
bool names_any(const syntax::Ast& ast, const NameIndex& triggers, const NameIndex* eliminated) {
    return ast.any_node([&](NodeId, const Node& node) {
        if (!syntax::is_command_like(node.kind())) return false;
        const auto& name = *node.name();
        return !triggers.find(name).empty() || (eliminated != nullptr && !eliminated->find(name).empty());
    });
}

}  // namespace

syntax::Expected<void, RewriteError> drive_fixed_point(syntax::Ast& ast, const parse::ParseContext& context,
                                                       const Plan& plan, std::size_t max_iterations,
                                                       ReportRecorder& recorder, bool* applied,
                                                       bool* eliminated_left, const FlattenGroupsGuards* flattening) {
    if (plan.rules.empty()) {
        recorder.set_iterations(0);
        return {};
    }

    // A plan assembled by hand carries no index; build one for this call.
    const NameIndex* triggers = &plan.trigger_index;
    NameIndex local;
    if (!plan.indexed()) {
        for (std::size_t p = 0; p < plan.rules.size(); ++p)
            for (const RuleTarget& trigger : plan.rules[p]->meta().triggers)
                local.add(trigger.name, static_cast<std::uint32_t>(p));
        triggers = &local;
    }

    const KnowledgeBase& math = *context.math();
    const KnowledgeBase& text = *context.text();
    RuleContext ctx{ast, math, text};
    ctx.preserves_rendering = plan.preserves_rendering;
    ctx.flattening = flattening;
    // Kept on the thread between calls, and taken out while in use (so a
    // nested call gets one of its own): the many small trees of a batch
    // then cost no allocation each. Every live node may be listed.
    constinit thread_local util::ThreadCache<std::vector<NodeId>> kept;
    std::vector<NodeId> snapshot = std::move(*kept);
    struct Return {
        std::vector<NodeId>& from;
        ~Return() {
            from.clear();
            if (from.capacity() <= kKeptCapacity) *kept = std::move(from);
        }
    } give_back{snapshot};
    snapshot.reserve(ast.node_count());

    const NameIndex* eliminated = plan.indexed() ? &plan.eliminated_index : nullptr;
    syntax::Ast::BuildLimit limit(ast, kBuildMultiple, kBuildConstant);
    // Offers the node to its candidate rules in plan order, up to the first
    // that applies; whether one did. A rule that waits for the settled tree
    // leaves the node in `deferred`.
    std::vector<NodeId> deferred;
    const auto offer = [&](NodeId id) -> syntax::Expected<bool, RewriteError> {
        // Gone when a rule applied at an ancestor earlier in this pass.
        const Node* node = ast.node_opt(id);
        if (node == nullptr) return false;
        const NodeKind kind = node->kind();
        if (!syntax::is_command_like(kind)) return false;
        const std::span<const std::uint32_t> positions = triggers->find(*node->name());
        // A rule's edits are one step, taken back whole when they run out
        // of memory halfway. Rules that decline change nothing, and at
        // most one rule applies to a node in a pass: one step per node.
        syntax::Ast::Step step(ast);
        bool done = false;
        for (std::uint32_t position : positions) {
            // Re-read every time: a rule that declined left the node as it
            // was, but the name must not dangle across apply calls.
            const Node& current = ast.node(id);
            const RewriteRule& rule = *plan.rules[position];
            const RuleMeta& meta = rule.meta();
            if (!is_candidate(meta, kind, *current.name(), math, text)) continue;
            // Every attempt counts, also one that declines and builds nothing.
            ++util::work_count;
            util::check_work();
            ctx.waiting = false;
            RuleResult result = [&]() -> RuleResult {
                try {
                    return rule.apply(ctx, id);
                } catch (const syntax::BuildLimitExceeded&) {
                    return RuleError::message(too_large(limit));
                }
            }();
            if (!result) return RewriteError::from_rule_error(meta.key, std::move(result).error());
            if (result.value() == RuleOutcome::Skipped) {
                recorder.record_skipped(meta.key);
                if (ctx.waiting && (deferred.empty() || deferred.back() != id)) deferred.push_back(id);
                continue;
            }
            recorder.record_applied(meta.key);
            ++ctx.edits;
            done = true;
            if (applied != nullptr) *applied = true;
            break;
        }
        step.commit();
        return done;
    };
    for (std::size_t pass = 0; pass < max_iterations; ++pass) {
        ctx.pass = pass + 1;
        ctx.settled = false;
        bool changed = false;
        bool left = false;  // some node of this pass is named in `eliminated`
        snapshot.clear();
        deferred.clear();
        if (!names_any(ast, *triggers, eliminated)) {
            // The walk would find nothing: charged as if it had been taken.
            util::work_count += ast.node_count();
            util::check_work();
            recorder.set_iterations(pass + 1);
            if (eliminated_left != nullptr && eliminated != nullptr) *eliminated_left = false;
            return {};
        }
        // The nodes before the first one whose name some rule triggers on
        // would be passed over, and the tree is unchanged until a rule is
        // offered a node: the snapshot starts there, often nowhere.
        for_each_preorder(ast, ast.root(), [&](NodeId id, const Node& node) {
            if (snapshot.empty()) {
                if (!syntax::is_command_like(node.kind())) return;
                const auto& name = *node.name();
                if (eliminated != nullptr && !left && !eliminated->find(name).empty()) left = true;
                if (triggers->find(name).empty()) return;
            } else if (eliminated != nullptr && !left && syntax::is_command_like(node.kind()) &&
                       !eliminated->find(*node.name()).empty()) {
                left = true;
            }
            snapshot.push_back(id);
        });
        // The nodes offered to rules, counted at once (a walk counts itself).
        util::work_count += snapshot.size();
        for (NodeId id : snapshot) {
            auto done = offer(id);
            if (!done) return std::move(done).error();
            changed = *done || changed;
        }
        if (!changed && !deferred.empty()) {
            // Nothing else changed: the rules that wait for the rest are
            // offered their nodes in the settled tree, in the same pass.
            ctx.settled = true;
            const std::vector<NodeId> waiting = std::move(deferred);
            deferred.clear();
            for (NodeId id : waiting) {
                auto done = offer(id);
                if (!done) return std::move(done).error();
                changed = *done || changed;
            }
        }
        if (!changed) {
            recorder.set_iterations(pass + 1);
            if (eliminated_left != nullptr && eliminated != nullptr) *eliminated_left = left;
            return {};
        }
    }
    return RewriteError{RewriteError::MaxIterations{max_iterations}};
}

}  // namespace quorvel::transform::scheduler
