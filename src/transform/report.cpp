#include "transform/report.hpp"

#include <utility>

#include "syntax/internal_error.hpp"

namespace quorvel::transform {

RewriteRuleStat& ReportRecorder::rule_stat(const RuleKey& key) {
    std::vector<RewriteRuleStat>& rules = report_->rewrite.rules;
    for (RewriteRuleStat& stat : rules)
        if (stat.key == key) return stat;
    return rules.emplace_back(RewriteRuleStat{0, 0, key});
}

void ReportRecorder::record_applied(const RuleKey& key) {
    if (report_) ++rule_stat(key).applied;
}

void ReportRecorder::record_skipped(const RuleKey& key) {
    if (report_) ++rule_stat(key).skipped;
}

void ReportRecorder::set_iterations(std::uint64_t iterations) noexcept {
    if (report_) report_->rewrite.iterations = iterations;
}

void ReportRecorder::add_rewrite(const ReportRecorder& round) {
    if (!report_ || !round.report_) return;
    for (const RewriteRuleStat& stat : round.report_->rewrite.rules) {
        RewriteRuleStat& mine = rule_stat(stat.key);
        mine.applied += stat.applied;
        mine.skipped += stat.skipped;
    }
    report_->rewrite.iterations += round.report_->rewrite.iterations;
}

void ReportRecorder::count(ReportCounter counter) noexcept {
    if (!report_) return;
    FinalizeAstReport& finalize = report_->finalize_ast;
    FlattenGroupsActionCounts& actions = report_->flatten_groups.actions;
    FlattenGroupsGuardCounts& hits = report_->flatten_groups.guard_hits;
    std::uint64_t* target = nullptr;
    switch (counter) {
        case ReportCounter::EliminatedEmptySegments:
            target = &report_->lower_attributes.eliminated_empty_segments;
            break;
        case ReportCounter::PrimeRunMerges: target = &finalize.prime_run_merges; break;
        case ReportCounter::TextNormalizations: target = &finalize.text_normalizations; break;
        case ReportCounter::RemovedEmpty: target = &actions.removed_empty; break;
        case ReportCounter::ReplacedSingleChild: target = &actions.replaced_single_child; break;
        case ReportCounter::InlinedMultiChild: target = &actions.inlined_multi_child; break;
        case ReportCounter::UnwrappedSlot: target = &actions.unwrapped_slot; break;
        case ReportCounter::DeclarativeScopeHit: target = &hits.declarative_scope; break;
        case ReportCounter::ScriptBaseHit: target = &hits.script_base; break;
        case ReportCounter::EnvBodyHit: target = &hits.env_body; break;
        case ReportCounter::InfixScopeHit: target = &hits.infix_scope; break;
        case ReportCounter::CommandContactHit: target = &hits.command_contact; break;
        case ReportCounter::CommandArgumentHit: target = &hits.command_argument; break;
        case ReportCounter::CommandContactViaScriptedBaseHit:
            target = &hits.command_contact_via_scripted_base;
            break;
        case ReportCounter::EmptyGroupHit: target = &hits.empty_group; break;
        case ReportCounter::LoneAtomSpacingCharHit: target = &hits.lone_atom_spacing_char; break;
        case ReportCounter::LeadingAtomSpacingCharHit: target = &hits.leading_atom_spacing_char; break;
        case ReportCounter::DelimitedPairHit: target = &hits.delimited_pair; break;
    }
    if (target != nullptr) ++*target;
}

void ReportRecorder::count_attribute(const AttributeSet& set, AttributeCounter counter) {
    if (!report_) return;
    AttributeStat& stat = report_->lower_attributes.attributes[set];
    switch (counter) {
        case AttributeCounter::ConsumedDeclaratives: ++stat.consumed.declaratives; break;
        case AttributeCounter::ConsumedPrefixes: ++stat.consumed.prefixes; break;
        case AttributeCounter::RedundantDeclaratives: ++stat.redundant.declaratives; break;
        case AttributeCounter::RedundantPrefixes: ++stat.redundant.prefixes; break;
        case AttributeCounter::EmittedDeclaratives: ++stat.emitted.declaratives; break;
        case AttributeCounter::EmittedPrefixes: ++stat.emitted.prefixes; break;
    }
}

TransformReport ReportRecorder::into_report() && {
    if (!report_) syntax::internal_error("into_report requires a collecting recorder");
    return std::move(*report_);
}

}  // namespace quorvel::transform
