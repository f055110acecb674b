// The counters of one pipeline run, and the recorder through which the passes
// write them only when a report was asked for.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "transform/attributes.hpp"
#include "transform/rule.hpp"

namespace quorvel::transform {

struct RewriteRuleStat {
    std::uint64_t applied = 0;  // nodes the rule changed
    std::uint64_t skipped = 0;  // nodes it was tried on and declined
    RuleKey key;
    friend bool operator==(const RewriteRuleStat&, const RewriteRuleStat&) = default;
};

struct RewriteReport {
    std::vector<RewriteRuleStat> rules;  // in order of first use
    // Passes of the fixed point, the final unchanged one included; 0 when the
    // plan is empty or the phase is off.
    std::uint64_t iterations = 0;
    friend bool operator==(const RewriteReport&, const RewriteReport&) = default;
};

struct LowerAttributesReport {
    std::unordered_map<AttributeSet, AttributeStat, AttributeSetHash> attributes;
    std::uint64_t eliminated_empty_segments = 0;
    friend bool operator==(const LowerAttributesReport&, const LowerAttributesReport&) = default;
};

struct FinalizeAstReport {
    std::uint64_t prime_run_merges = 0;
    std::uint64_t text_normalizations = 0;
    friend bool operator==(const FinalizeAstReport&, const FinalizeAstReport&) = default;
};

struct FlattenGroupsActionCounts {
    std::uint64_t removed_empty = 0;
    std::uint64_t replaced_single_child = 0;
    std::uint64_t inlined_multi_child = 0;
    std::uint64_t unwrapped_slot = 0;
    friend bool operator==(const FlattenGroupsActionCounts&, const FlattenGroupsActionCounts&) = default;
};

// Not the guard list: no counter for command_like_includes_scripted_base (it
// only widens command_contact), and command_contact_via_scripted_base after
// command_argument.
struct FlattenGroupsGuardCounts {
    std::uint64_t declarative_scope = 0;
    std::uint64_t script_base = 0;
    std::uint64_t env_body = 0;
    std::uint64_t infix_scope = 0;
    std::uint64_t command_contact = 0;
    std::uint64_t command_argument = 0;
    std::uint64_t command_contact_via_scripted_base = 0;
    std::uint64_t empty_group = 0;
    std::uint64_t lone_atom_spacing_char = 0;
    std::uint64_t leading_atom_spacing_char = 0;
    std::uint64_t delimited_pair = 0;
    friend bool operator==(const FlattenGroupsGuardCounts&, const FlattenGroupsGuardCounts&) = default;
};

struct FlattenGroupsReport {
    FlattenGroupsActionCounts actions;
    FlattenGroupsGuardCounts guard_hits;
    friend bool operator==(const FlattenGroupsReport&, const FlattenGroupsReport&) = default;
};

struct TransformReport {
    RewriteReport rewrite;
    LowerAttributesReport lower_attributes;
    FinalizeAstReport finalize_ast;
    FlattenGroupsReport flatten_groups;
    friend bool operator==(const TransformReport&, const TransformReport&) = default;
};

// The plain counters a pass raises by one.
enum class ReportCounter : std::uint8_t {
    EliminatedEmptySegments,
    PrimeRunMerges,
    TextNormalizations,
    RemovedEmpty,
    ReplacedSingleChild,
    InlinedMultiChild,
    UnwrappedSlot,
    DeclarativeScopeHit,
    ScriptBaseHit,
    EnvBodyHit,
    InfixScopeHit,
    CommandContactHit,
    CommandArgumentHit,
    CommandContactViaScriptedBaseHit,
    EmptyGroupHit,
    LoneAtomSpacingCharHit,
    LeadingAtomSpacingCharHit,
    DelimitedPairHit,
};

// One of the six per-value attribute counters.
enum class AttributeCounter : std::uint8_t {
    ConsumedDeclaratives,
    ConsumedPrefixes,
    RedundantDeclaratives,
    RedundantPrefixes,
    EmittedDeclaratives,
    EmittedPrefixes,
};

// Off, or collecting one run's report. Every operation does nothing when off,
// so passes call it unconditionally.
class ReportRecorder {
public:
    static ReportRecorder off() noexcept { return ReportRecorder(); }
    static ReportRecorder collecting() {
        ReportRecorder recorder;
        recorder.report_.emplace();
        return recorder;
    }

    bool is_collecting() const noexcept { return report_.has_value(); }

    // Raise the rule's counter: its stat is found by key (package and name);
    // a key not yet listed is appended.
    void record_applied(const RuleKey& key);
    void record_skipped(const RuleKey& key);

    void set_iterations(std::uint64_t iterations) noexcept;
    // Adds the rule counters and the iterations of a further round of the
    // rules, recorded apart.
    void add_rewrite(const ReportRecorder& round);
    void count(ReportCounter counter) noexcept;
    void count_attribute(const AttributeSet& set, AttributeCounter counter);

    // The collected report; on an off recorder a programming error
    // ("into_report requires a collecting recorder").
    TransformReport into_report() &&;

private:
    ReportRecorder() = default;
    RewriteRuleStat& rule_stat(const RuleKey& key);

    std::optional<TransformReport> report_;
};

}  // namespace quorvel::transform
