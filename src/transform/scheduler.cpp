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

// The plan's trigger index; a plan assembled by hand carries none, and
// `local` gets one for this call.
const NameIndex& trigger_index(const Plan& plan, NameIndex& local) {
    if (plan.indexed()) return plan.trigger_index;
    for (std::size_t p = 0; p < plan.rules.size(); ++p)
        for (const RuleTarget& trigger : plan.rules[p]->meta().triggers)
            local.add(trigger.name, static_cast<std::uint32_t>(p));
    return local;
}

// The nodes a pass offers, in pre-order. Those before the first one whose
// name some rule triggers on would be passed over, and the tree is
// unchanged until a rule is offered a node: the snapshot starts there,
// often nowhere. Returns whether some node is named in `eliminated`.
bool take_snapshot(const syntax::Ast& ast, const NameIndex& triggers, const NameIndex* eliminated,
                   std::vector<NodeId>& snapshot) {
    bool left = false;
    for_each_preorder(ast, ast.root(), [&](NodeId id, const Node& node) {
        const bool named = syntax::is_command_like(node.kind());
        if (named && eliminated != nullptr && !left && !eliminated->find(*node.name()).empty()) left = true;
        if (snapshot.empty() && (!named || triggers.find(*node.name()).empty())) return;
        snapshot.push_back(id);
    });
    return left;
}

// The snapshot's storage, kept on the thread between calls and taken out
// while in use (so a nested call gets one of its own): the many small trees
// of a batch then cost no allocation each. Every live node may be listed.
constinit thread_local util::ThreadCache<std::vector<NodeId>> kept_snapshot;

class Snapshot {
public:
    explicit Snapshot(std::size_t capacity) : ids_(std::move(*kept_snapshot)) { ids_.reserve(capacity); }
    ~Snapshot() {
        ids_.clear();
        if (ids_.capacity() <= kKeptCapacity) *kept_snapshot = std::move(ids_);
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    std::vector<NodeId>& ids() { return ids_; }

private:
    std::vector<NodeId> ids_;
};

// The rules of one call, offered the tree's nodes pass after pass.
class Rules {
public:
    Rules(syntax::Ast& ast, const parse::ParseContext& context, const Plan& plan, const NameIndex& triggers,
          ReportRecorder& recorder, bool* applied, const FlattenGroupsGuards* flattening)
        : ast_(ast),
          plan_(plan),
          triggers_(triggers),
          math_(*context.math()),
          text_(*context.text()),
          ctx_{ast, math_, text_},
          recorder_(recorder),
          applied_(applied),
          limit_(ast, kBuildMultiple, kBuildConstant) {
        ctx_.preserves_rendering = plan.preserves_rendering;
        ctx_.flattening = flattening;
    }

    // Pass `pass` (from 0) over `snapshot`; whether it changed the tree.
    syntax::Expected<bool, RewriteError> run_pass(std::size_t pass, const std::vector<NodeId>& snapshot) {
        ctx_.pass = pass + 1;
        ctx_.settled = false;
        deferred_.clear();
        auto changed = offer_all(snapshot);
        if (!changed || *changed || deferred_.empty()) return changed;
        // Nothing else changed: the rules that wait for the rest are
        // offered their nodes in the settled tree, in the same pass.
        ctx_.settled = true;
        const std::vector<NodeId> waiting = std::move(deferred_);
        deferred_.clear();
        return offer_all(waiting);
    }

private:
    syntax::Expected<bool, RewriteError> offer_all(const std::vector<NodeId>& ids) {
        bool changed = false;
        for (NodeId id : ids) {
            auto done = offer(id);
            if (!done) return std::move(done).error();
            changed = *done || changed;
        }
        return changed;
    }

    // Offers the node to its candidate rules in plan order, up to the first
    // that applies; whether one did. A rule that waits for the settled tree
    // leaves the node in `deferred_`.
    syntax::Expected<bool, RewriteError> offer(NodeId id) {
        // Gone when a rule applied at an ancestor earlier in this pass.
        const Node* node = ast_.node_opt(id);
        if (node == nullptr) return false;
        const NodeKind kind = node->kind();
        if (!syntax::is_command_like(kind)) return false;
        const std::span<const std::uint32_t> positions = triggers_.find(*node->name());
        // A rule's edits are one step, taken back whole when they run out
        // of memory halfway. Rules that decline change nothing, and at
        // most one rule applies to a node in a pass: one step per node.
        syntax::Ast::Step step(ast_);
        const std::size_t logged = ast_.step_log()->records.size();
        bool done = false;
        for (std::uint32_t position : positions) {
            const RewriteRule& rule = *plan_.rules[position];
            const RuleMeta& meta = rule.meta();
            // The name is read again every time: a rule that declined left
            // the node as it was, but the name must not dangle across calls.
            if (!is_candidate(meta, kind, *ast_.node(id).name(), math_, text_)) continue;
            // Every attempt counts, also one that declines and builds nothing.
            ++util::work_count;
            util::check_work();
            ctx_.waiting = false;
            RuleResult result = apply(rule, id);
            if (!result) return RewriteError::from_rule_error(meta.key, std::move(result).error());
            if (result.value() == RuleOutcome::Skipped) {
                recorder_.record_skipped(meta.key);
                if (ctx_.waiting && (deferred_.empty() || deferred_.back() != id)) deferred_.push_back(id);
                continue;
            }
            recorder_.record_applied(meta.key);
            ++ctx_.edits;
            ctx_.stretch_above.keep_past(ast_, *ast_.step_log(), logged, ctx_.edits);
            done = true;
            if (applied_ != nullptr) *applied_ = true;
            break;
        }
        step.commit();
        return done;
    }

    RuleResult apply(const RewriteRule& rule, NodeId id) {
        try {
            return rule.apply(ctx_, id);
        } catch (const syntax::BuildLimitExceeded&) {
            return RuleError::message(too_large(limit_));
        }
    }

    syntax::Ast& ast_;
    const Plan& plan_;
    const NameIndex& triggers_;
    const KnowledgeBase& math_;
    const KnowledgeBase& text_;
    RuleContext ctx_;
    ReportRecorder& recorder_;
    bool* applied_;
    syntax::Ast::BuildLimit limit_;
    std::vector<NodeId> deferred_;
};

}  // namespace

syntax::Expected<void, RewriteError> drive_fixed_point(syntax::Ast& ast, const parse::ParseContext& context,
                                                       const Plan& plan, std::size_t max_iterations,
                                                       ReportRecorder& recorder, bool* applied,
                                                       bool* eliminated_left, const FlattenGroupsGuards* flattening) {
    if (plan.rules.empty()) {
        recorder.set_iterations(0);
        return {};
    }
    NameIndex local;
    const NameIndex& triggers = trigger_index(plan, local);
    const NameIndex* eliminated = plan.indexed() ? &plan.eliminated_index : nullptr;
    Snapshot snapshot(ast.node_count());
    Rules rules(ast, context, plan, triggers, recorder, applied, flattening);
    for (std::size_t pass = 0; pass < max_iterations; ++pass) {
        bool left = false;  // some node of this pass is named in `eliminated`
        if (names_any(ast, triggers, eliminated)) {
            snapshot.ids().clear();
            left = take_snapshot(ast, triggers, eliminated, snapshot.ids());
            // The nodes offered to rules, counted at once (a walk counts itself).
            util::work_count += snapshot.ids().size();
            auto changed = rules.run_pass(pass, snapshot.ids());
            if (!changed) return std::move(changed).error();
            if (*changed) continue;
        } else {
            // The walk would find nothing: charged as if it had been taken.
            util::work_count += ast.node_count();
            util::check_work();
        }
        recorder.set_iterations(pass + 1);
        if (eliminated_left != nullptr && eliminated != nullptr) *eliminated_left = left;
        return {};
    }
    return RewriteError{RewriteError::MaxIterations{max_iterations}};
}

}  // namespace quorvel::transform::scheduler
