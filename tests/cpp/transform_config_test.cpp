#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "syntax/internal_error.hpp"
#include "transform/config.hpp"
#include "transform/error.hpp"
#include "transform/report.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;

const RuleKey A{"quad-drop", PackageName::Base};
const RuleKey A_AMS{"quad-drop", PackageName::Ams};
const RuleKey B{"dfrac-to-frac", PackageName::Ams};

TEST(TransformConfig, DisableRule) {
    const struct {
        std::string name;
        RuleSelection before;
        std::vector<RuleKey> disabled;
        RuleSelection after;
    } cases[] = {
        {"AllBecomesExcept", RuleSelection::all(), {A}, RuleSelection::except({A})},
        {"ExceptAppends", RuleSelection::except({B}), {A}, RuleSelection::except({B, A})},
        {"SameKeyTwiceOnce", RuleSelection::all(), {A, A}, RuleSelection::except({A})},
        {"AlreadyExcluded", RuleSelection::except({A, B}), {A}, RuleSelection::except({A, B})},
        {"OtherPackageIsAnotherKey", RuleSelection::all(), {A, A_AMS}, RuleSelection::except({A, A_AMS})},
        {"OnlyDropsTheKey", RuleSelection::only({A, B}), {A}, RuleSelection::only({B})},
    };
    for (const auto& c : cases) {
        BuildConfig config;
        config.selection = c.before;
        config.level_mask = 0x03;
        const BuildConfig original = config;
        for (const RuleKey& key : c.disabled) config = std::move(config).disable_rule(key);
        EXPECT_EQ(config.selection, c.after) << c.name;
        EXPECT_EQ(config.level_mask, 0x03) << c.name;
        // The copying overload leaves its source alone.
        BuildConfig copy = original.disable_rule(c.disabled.front());
        EXPECT_EQ(original.selection, c.before) << c.name;
        (void)copy;
    }
}

TEST(TransformConfig, OptionDefaults) {
    const TransformOptions options;
    EXPECT_EQ(options.rewrite.max_iterations, 100u);
    EXPECT_TRUE(options.rewrite.enabled);
    EXPECT_TRUE(options.flatten_groups.enabled);
    EXPECT_TRUE(options.flatten_groups.preserve_rendered_spacing);
    EXPECT_TRUE(options.lower_attributes.enabled);
    EXPECT_TRUE(options.finalize_ast.enabled);
    const BuildConfig config;
    EXPECT_EQ(config.selection.kind, RuleSelection::Kind::All);
}

TEST(TransformConfig, ResolveGuards) {
    auto overlay_with = [](std::vector<std::pair<FlattenGuard, bool>> entries) {
        FlattenGroupsGuardsOverlay overlay;
        for (auto [guard, value] : entries) overlay.guards[static_cast<std::size_t>(guard)] = value;
        return overlay;
    };
    const FlattenGroupsGuardsOverlay empty;
    const FlattenGroupsGuardsOverlay empty_group_on = overlay_with({{FlattenGuard::EmptyGroup, true}});
    const FlattenGroupsGuardsOverlay scope_off = overlay_with({{FlattenGuard::DeclarativeScope, false}});
    const struct {
        std::string name;
        bool preserve;
        const FlattenGroupsGuardsOverlay* overlay;
        std::string expected;  // guard 0 first
    } cases[] = {
        {"Preserve", true, nullptr, "11111111111"},
        {"NoPreserve", false, nullptr, "11110000000"},
        {"AbsentEntriesKeepDefaults", false, &empty, "11110000000"},
        {"OverlayTurnsOneGuardOn", false, &empty_group_on, "11110001000"},
        {"OverlayTurnsAFixedGuardOff", true, &scope_off, "01111111111"},
    };
    for (const auto& c : cases) {
        const FlattenGroupsGuards guards = FlattenGroupsGuards::resolve(c.preserve, c.overlay);
        std::string bits;
        for (bool on : guards.guards) bits += on ? '1' : '0';
        EXPECT_EQ(bits, c.expected) << c.name;
    }
    EXPECT_EQ(FLATTEN_GUARD_NAMES[5], "command_like_includes_scripted_base");
    EXPECT_EQ(FLATTEN_GUARD_NAMES[10], "delimited_pair");
}

TEST(TransformReport, RuleStatsInFirstUseOrder) {
    ReportRecorder recorder = ReportRecorder::collecting();
    recorder.record_skipped(B);
    recorder.record_applied(A);
    recorder.record_applied(B);
    recorder.record_applied(A_AMS);
    recorder.record_skipped(B);
    recorder.set_iterations(3);
    const TransformReport report = std::move(recorder).into_report();
    EXPECT_EQ(report.rewrite.rules, (std::vector<RewriteRuleStat>{{1, 2, B}, {1, 0, A}, {1, 0, A_AMS}}));
    EXPECT_EQ(report.rewrite.iterations, 3u);
}

TEST(TransformReport, FreshReportIsZero) {
    EXPECT_EQ(ReportRecorder::collecting().into_report(), TransformReport{});
}

TEST(TransformReport, OffRecorderCountsNothing) {
    ReportRecorder recorder = ReportRecorder::off();
    EXPECT_FALSE(recorder.is_collecting());
    recorder.record_applied(A);
    recorder.set_iterations(2);
    recorder.count(ReportCounter::PrimeRunMerges);
    recorder.count_attribute({attr::TextSeries::Bold, Attr::TextSeries}, AttributeCounter::EmittedPrefixes);
    try {
        (void)std::move(recorder).into_report();
        FAIL() << "expected an internal error";
    } catch (const syntax::InternalError& error) {
        EXPECT_EQ(error.message(), "into_report requires a collecting recorder");
    }
}

TEST(TransformReport, EachCounterRaisesItsOwnField) {
    using Get = std::function<std::uint64_t(const TransformReport&)>;
    const std::vector<std::pair<ReportCounter, Get>> cases{
        {ReportCounter::EliminatedEmptySegments, [](auto& r) { return r.lower_attributes.eliminated_empty_segments; }},
        {ReportCounter::PrimeRunMerges, [](auto& r) { return r.finalize_ast.prime_run_merges; }},
        {ReportCounter::TextNormalizations, [](auto& r) { return r.finalize_ast.text_normalizations; }},
        {ReportCounter::RemovedEmpty, [](auto& r) { return r.flatten_groups.actions.removed_empty; }},
        {ReportCounter::ReplacedSingleChild, [](auto& r) { return r.flatten_groups.actions.replaced_single_child; }},
        {ReportCounter::InlinedMultiChild, [](auto& r) { return r.flatten_groups.actions.inlined_multi_child; }},
        {ReportCounter::UnwrappedSlot, [](auto& r) { return r.flatten_groups.actions.unwrapped_slot; }},
        {ReportCounter::DeclarativeScopeHit, [](auto& r) { return r.flatten_groups.guard_hits.declarative_scope; }},
        {ReportCounter::ScriptBaseHit, [](auto& r) { return r.flatten_groups.guard_hits.script_base; }},
        {ReportCounter::EnvBodyHit, [](auto& r) { return r.flatten_groups.guard_hits.env_body; }},
        {ReportCounter::InfixScopeHit, [](auto& r) { return r.flatten_groups.guard_hits.infix_scope; }},
        {ReportCounter::CommandContactHit, [](auto& r) { return r.flatten_groups.guard_hits.command_contact; }},
        {ReportCounter::CommandArgumentHit, [](auto& r) { return r.flatten_groups.guard_hits.command_argument; }},
        {ReportCounter::CommandContactViaScriptedBaseHit,
         [](auto& r) { return r.flatten_groups.guard_hits.command_contact_via_scripted_base; }},
        {ReportCounter::EmptyGroupHit, [](auto& r) { return r.flatten_groups.guard_hits.empty_group; }},
        {ReportCounter::LoneAtomSpacingCharHit,
         [](auto& r) { return r.flatten_groups.guard_hits.lone_atom_spacing_char; }},
        {ReportCounter::LeadingAtomSpacingCharHit,
         [](auto& r) { return r.flatten_groups.guard_hits.leading_atom_spacing_char; }},
        {ReportCounter::DelimitedPairHit, [](auto& r) { return r.flatten_groups.guard_hits.delimited_pair; }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        ReportRecorder recorder = ReportRecorder::collecting();
        recorder.count(cases[i].first);
        recorder.count(cases[i].first);
        const TransformReport report = std::move(recorder).into_report();
        for (std::size_t j = 0; j < cases.size(); ++j)
            EXPECT_EQ(cases[j].second(report), i == j ? 2u : 0u) << "counted " << i << ", read " << j;
    }
}

TEST(TransformReport, AttributeCounters) {
    const AttributeSet bold{attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont};
    const AttributeSet size{attr::Size{120}, Attr::TextSize};
    ReportRecorder recorder = ReportRecorder::collecting();
    recorder.count_attribute(bold, AttributeCounter::ConsumedDeclaratives);
    recorder.count_attribute(bold, AttributeCounter::EmittedPrefixes);
    recorder.count_attribute(bold, AttributeCounter::EmittedPrefixes);
    recorder.count_attribute(size, AttributeCounter::RedundantPrefixes);
    recorder.count_attribute(size, AttributeCounter::ConsumedPrefixes);
    recorder.count_attribute(size, AttributeCounter::RedundantDeclaratives);
    recorder.count_attribute(size, AttributeCounter::EmittedDeclaratives);
    const TransformReport report = std::move(recorder).into_report();
    const auto& map = report.lower_attributes.attributes;
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map.at(bold), (AttributeStat{{1, 0}, {0, 0}, {0, 2}}));
    EXPECT_EQ(map.at(size), (AttributeStat{{0, 1}, {1, 1}, {1, 0}}));
}

TEST(TransformErrors, RewriteErrorTexts) {
    using C = RewriteError::ContractViolated;
    const struct {
        RewriteError error;
        std::string text;
    } cases[] = {
        {RewriteError::from_rule_error(A, RuleError::message("\\over should carry exactly 0 explicit argument "
                                                              "slots, got 1")),
         "base/quad-drop: \\over should carry exactly 0 explicit argument slots, got 1"},
        {RewriteError::from_rule_error(B, RuleError::missing_metadata("frac")),
         "ams/dfrac-to-frac: missing metadata for frac"},
        {{C{RuleTargetKind::Command, "over", "over"}},
         "rewrite contract violated for command `over` (node Some(\"over\"))"},
        {{C{RuleTargetKind::Environment, "pmatrix", std::nullopt}},
         "rewrite contract violated for environment `pmatrix` (node None)"},
        {{C{RuleTargetKind::Character, "q", std::string("a\"b\\c\nd\x01")}},
         "rewrite contract violated for character `q` (node Some(\"a\\\"b\\\\c\\nd\\u{1}\"))"},
        {{C{RuleTargetKind::Command, ">", ">"}}, "rewrite contract violated for command `>` (node Some(\">\"))"},
        // DEL, a C1 control, NUL and tab escaped; an apostrophe and other
        // non-ASCII text kept.
        {{C{RuleTargetKind::Command, "x", std::string("\x7f\xc2\x85\0\t'\xc3\xa9", 8)}},
         "rewrite contract violated for command `x` (node Some(\"\\u{7f}\\u{85}\\0\\t'\xc3\xa9\"))"},
        {{RewriteError::MaxIterations{100}}, "rewrite exceeded max iterations: 100"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.to_string(), c.text);
        EXPECT_EQ(error::TransformError{c.error}.to_string(), c.text);
    }
    const PlanBuildError plan{PlanBuildError::Cycle{{A, B, A}}};
    EXPECT_EQ(error::TransformError{plan}.to_string(), plan.to_string());
    EXPECT_EQ(error::TransformBuildError{plan}.to_string(),
              "transform dependency cycle detected: base/quad-drop -> ams/dfrac-to-frac -> base/quad-drop");
}

}  // namespace
}  // namespace quorvel::transform
