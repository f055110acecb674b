#include "transform/plan.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "transform/attributes.hpp"
#include "transform/rules/registry.hpp"

namespace quorvel::transform {

namespace {

using knowledge::PackageName;

bool contains_target(std::span<const RuleTarget> targets, const RuleTarget& target) {
    return std::any_of(targets.begin(), targets.end(),
                       [&](const RuleTarget& t) { return t.key() == target.key(); });
}

bool touched_by_mutations(const RuleMeta& meta, const PlanSource& source) {
    auto touched = [&](const RuleTarget& target) {
        return target.kind == RuleTargetKind::Environment ? source.environment_mutated(target.name)
                                                          : source.command_mutated(target.name);
    };
    for (std::span<const RuleTarget> list : {meta.consumes, meta.conditional_consumes, meta.emits})
        if (std::any_of(list.begin(), list.end(), touched)) return true;
    return false;
}

std::optional<std::string_view> metadata_violation(const RuleMeta& meta) {
    if (meta.triggers.empty()) return TRIGGERS_EMPTY_REASON;
    if (meta.fidelity == 0 && meta.level != RuleLevel::Equiv) return FIDELITY_FLOOR_REASON;
    for (const RuleTarget& trigger : meta.triggers)
        if (!contains_target(meta.consumes, trigger) && !contains_target(meta.conditional_consumes, trigger))
            return TRIGGERS_NOT_CONSUMED_REASON;
    return std::nullopt;
}

bool enabled(const RuleMeta& meta, std::span<const PackageName> active) {
    return std::any_of(meta.enabled_by_packages.begin(), meta.enabled_by_packages.end(), [&](PackageName p) {
        return std::find(active.begin(), active.end(), p) != active.end();
    });
}

bool known(const RuleTarget& target, const PlanSource& source) {
    switch (target.kind) {
        case RuleTargetKind::Command: return source.knows_command_name(target.name);
        case RuleTargetKind::Environment: return source.knows_env_name(target.name);
        case RuleTargetKind::Character: return source.knows_character_name(target.name);
    }
    return false;
}

std::vector<PackageName> to_vector(std::span<const PackageName> packages) {
    return {packages.begin(), packages.end()};
}

// Whether some target `from` emits is consumed, surely or conditionally, by `to`.
bool feeds(const RuleMeta& from, const RuleMeta& to) {
    for (const RuleTarget& emitted : from.emits)
        if (contains_target(to.consumes, emitted) || contains_target(to.conditional_consumes, emitted))
            return true;
    return false;
}

// Depth-first search for a cycle among the selected rules, with one state per
// rule shared by all starts, starts in increasing number, successors in their
// order. Iterative, so a long chain cannot exhaust the stack.
std::vector<std::uint32_t> find_cycle(const std::vector<std::vector<std::uint32_t>>& successors) {
    enum class State : std::uint8_t { Unvisited, OnPath, Done };
    const std::size_t n = successors.size();
    std::vector<State> state(n, State::Unvisited);
    std::vector<std::uint32_t> path;         // rules on the current path
    std::vector<std::size_t> next_successor;  // per path entry

    for (std::uint32_t start = 0; start < n; ++start) {
        if (state[start] != State::Unvisited) continue;
        state[start] = State::OnPath;
        path.push_back(start);
        next_successor.push_back(0);
        while (!path.empty()) {
            const std::uint32_t rule = path.back();
            std::size_t& next = next_successor.back();
            if (next == successors[rule].size()) {
                state[rule] = State::Done;
                path.pop_back();
                next_successor.pop_back();
                continue;
            }
            const std::uint32_t succ = successors[rule][next++];
            if (state[succ] == State::OnPath) {
                auto first = std::find(path.begin(), path.end(), succ);
                std::vector<std::uint32_t> cycle(first, path.end());
                cycle.push_back(succ);
                return cycle;
            }
            if (state[succ] == State::Unvisited) {
                state[succ] = State::OnPath;
                path.push_back(succ);
                next_successor.push_back(0);
            }
        }
    }
    return {};
}

}  // namespace

std::string package_names_for_message(std::span<const PackageName> packages) {
    std::string out = "[";
    for (std::size_t i = 0; i < packages.size(); ++i) {
        if (i > 0) out += ", ";
        out += '"';
        out += knowledge::to_string(packages[i]);
        out += '"';
    }
    out += ']';
    return out;
}

std::string RuleAvailabilityFailure::to_string() const {
    std::string out;
    if (const auto* failure = std::get_if<NotEnabled>(&value)) {
        out = "enabled_by_packages ";
        out += package_names_for_message(failure->enabled_by_packages);
        out += " does not intersect active packages ";
        out += package_names_for_message(failure->active_packages);
    } else {
        const auto& produced = std::get<ProducedUnavailable>(value);
        out = "produced ";
        out += transform::to_string(produced.kind);
        out += " `";
        out += produced.name;
        out += "` is unavailable in active packages ";
        out += package_names_for_message(produced.active_packages);
    }
    return out;
}

std::string PlanBuildError::to_string() const {
    std::string out;
    if (const auto* error = std::get_if<Unavailable>(&value)) {
        out = "selected transform rule ";
        append_to(out, error->key);
        out += " is unavailable: ";
        out += error->failure.to_string();
    } else if (const auto* error = std::get_if<InvalidMetadata>(&value)) {
        out = "transform rule ";
        append_to(out, error->key);
        out += " has invalid metadata: ";
        out += error->reason;
    } else {
        out = "transform dependency cycle detected: ";
        const auto& keys = std::get<Cycle>(value).keys;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (i > 0) out += " -> ";
            append_to(out, keys[i]);
        }
    }
    return out;
}

knowledge::Expected<Plan, PlanBuildError> Plan::build(const BuildConfig& config, const PlanSource& source) {
    return build(config, source, ALL_RULES);
}

knowledge::Expected<Plan, PlanBuildError> Plan::build(const BuildConfig& config, const PlanSource& source,
                                                      std::span<const RewriteRule* const> registry) {
    const std::span<const PackageName> active = source.active_packages();
    const RuleSelection& selection = config.selection;
    auto listed = [&](const RuleKey& key) {
        return std::find(selection.keys.begin(), selection.keys.end(), key) != selection.keys.end();
    };

    // Step 1: selection, in registry order; the first failing test decides.
    std::vector<const RewriteRule*> selected;
    for (const RewriteRule* rule : registry) {
        const RuleMeta& meta = rule->meta();
        bool explicitly_selected = false;
        switch (selection.kind) {
            case RuleSelection::Kind::All: break;
            case RuleSelection::Kind::Except:
                if (listed(meta.key)) continue;
                break;
            case RuleSelection::Kind::Only:
                if (!listed(meta.key)) continue;
                explicitly_selected = true;
                break;
        }
        if ((config.level_mask & level_bit(meta.level)) == 0) continue;
        if (touched_by_mutations(meta, source)) continue;
        if (auto reason = metadata_violation(meta))
            return PlanBuildError{PlanBuildError::InvalidMetadata{meta.key, *reason}};
        if (!enabled(meta, active)) {
            if (!explicitly_selected) continue;
            return PlanBuildError{PlanBuildError::Unavailable{
                meta.key, {RuleAvailabilityFailure::NotEnabled{to_vector(meta.enabled_by_packages),
                                                               to_vector(active)}}}};
        }
        auto unknown = std::find_if(meta.emits.begin(), meta.emits.end(),
                                    [&](const RuleTarget& target) { return !known(target, source); });
        if (unknown != meta.emits.end()) {
            if (!explicitly_selected) continue;
            return PlanBuildError{PlanBuildError::Unavailable{
                meta.key, {RuleAvailabilityFailure::ProducedUnavailable{unknown->kind, unknown->name,
                                                                        to_vector(active)}}}};
        }
        selected.push_back(rule);
    }

    // Step 2: edges from a rule's emits to the rules consuming them.
    const std::size_t n = selected.size();
    std::vector<std::vector<std::uint32_t>> successors(n);
    std::vector<std::uint32_t> predecessors(n, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
        const RuleMeta& from = selected[i]->meta();
        if (from.emits.empty()) continue;
        for (std::uint32_t j = 0; j < n; ++j) {
            if (i == j || !feeds(from, selected[j]->meta())) continue;
            successors[i].push_back(j);
            ++predecessors[j];
        }
    }

    // Step 3: first-in first-out topological order. A rule released later
    // joins the back of the queue and never overtakes one already waiting.
    std::vector<std::uint32_t> queue;
    queue.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i)
        if (predecessors[i] == 0) queue.push_back(i);
    Plan plan;
    plan.preserves_rendering =
        (config.level_mask & (level_bit(RuleLevel::Corpus) | level_bit(RuleLevel::Equiv))) == 0;
    plan.rules.reserve(n);
    for (std::size_t head = 0; head < queue.size(); ++head) {
        const std::uint32_t rule = queue[head];
        plan.rules.push_back(selected[rule]);
        for (std::uint32_t succ : successors[rule])
            if (--predecessors[succ] == 0) queue.push_back(succ);
    }

    // Step 4: rules left unplaced lie on or behind a cycle.
    if (plan.rules.size() < n) {
        PlanBuildError::Cycle cycle;
        for (std::uint32_t rule : find_cycle(successors)) cycle.keys.push_back(selected[rule]->meta().key);
        return PlanBuildError{std::move(cycle)};
    }

    // Step 5: the targets the contract check must find gone.
    for (const RewriteRule* rule : plan.rules)
        for (const RuleTarget& target : rule->meta().consumes)
            if (std::find(plan.eliminated.begin(), plan.eliminated.end(), target.key()) == plan.eliminated.end())
                plan.eliminated.push_back(target.key());
    plan.index();
    return plan;
}

void Plan::index() {
    trigger_index = NameIndex();
    eliminated_index = NameIndex();
    for (std::size_t p = 0; p < rules.size(); ++p)
        for (const RuleTarget& trigger : rules[p]->meta().triggers)
            trigger_index.add(trigger.name, static_cast<std::uint32_t>(p));
    for (std::size_t t = 0; t < eliminated.size(); ++t)
        eliminated_index.add(eliminated[t].name, static_cast<std::uint32_t>(t));
    lowering_emits_eliminated = false;
    for (const CanonicalForm& line : CANONICAL_FORMS)
        for (const auto* form : {&line.math_declarative, &line.math_prefix, &line.text_declarative, &line.text_prefix})
            if (*form && !eliminated_index.find((*form)->name).empty()) lowering_emits_eliminated = true;
    indexed_rules_ = rules.size();
    indexed_targets_ = eliminated.size();
}

}  // namespace quorvel::transform
