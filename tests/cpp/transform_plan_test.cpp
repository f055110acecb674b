#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "syntax/slot_map.hpp"
#include "transform/context.hpp"
#include "transform/name_index.hpp"
#include "transform/plan.hpp"
#include "transform/rules/registry.hpp"
#include "transform/rules/registry_table.hpp"
#include "transform_plan_sources.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;
using testing::FakePlanSource;

std::vector<std::string> plan_keys(const Plan& plan) {
    std::vector<std::string> keys;
    for (const RewriteRule* rule : plan.rules) keys.push_back(to_string(rule->meta().key));
    return keys;
}

std::size_t registry_position(const RewriteRule* rule) {
    return static_cast<std::size_t>(std::find(ALL_RULES.begin(), ALL_RULES.end(), rule) - ALL_RULES.begin());
}

bool planned(const Plan& plan, std::string_view key) {
    auto keys = plan_keys(plan);
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

// The whole registry under a profile that admits everything.
TEST(TransformPlan, AllRulesPlanInFifoDependencyOrder) {
    FakePlanSource source;
    auto plan = Plan::build(BuildConfig{}, source);
    ASSERT_TRUE(plan) << plan.error().to_string();
    ASSERT_EQ(plan->rules.size(), 146u);

    // The 124 rules without predecessors open the plan in registry order.
    for (std::size_t i = 1; i < 124; ++i)
        EXPECT_LT(registry_position(plan->rules[i - 1]), registry_position(plan->rules[i]));

    // The rest follow in their order of release; a priority queue would
    // reorder them.
    const std::vector<std::string> tail{
        "ams/pmatrix-env-to-paren-matrix",      "base/small-spacer-merge-to-enspace",
        "base/big-delimiter-size-drop",         "base/bigg-delimiter-size-drop",
        "base/not-right-arrow-to-nrightarrow",  "base/duplicate-mathrel-wrapper-drop",
        "base/limits-drop",                     "physics/dv-to-frac-d",
        "physics/fdv-to-frac-delta",            "physics/pdv-to-frac-partial",
        "physics/mdet-to-vmqty",                "physics/abs-to-vert-fence",
        "physics/eval-expand",                  "physics/va-to-vec-mathbf",
        "physics/vb-to-mathbf",                 "physics/vu-to-hat-mathbf",
        "base/operatorname-to-named-function",  "base/double-enspace-to-quad",
        "base/enspace-drop",                    "base/double-quad-to-qquad",
        "base/quad-drop",                       "base/qquad-drop",
    };
    auto keys = plan_keys(*plan);
    EXPECT_EQ(std::vector<std::string>(keys.begin() + 124, keys.end()), tail);

    EXPECT_EQ(plan->eliminated.size(), 115u);  // `\prime`, `\ast`, line breaks, spacing drops, the matrix, size and bare fence builders, `\eval`, `\braket`, `\ev`, `\matrixel` and the derivatives may stay
    EXPECT_EQ(plan->eliminated.front(), (RuleTargetKey{"Doteq", RuleTargetKind::Character}));
    EXPECT_EQ(std::count(plan->eliminated.begin(), plan->eliminated.end(),
                         RuleTargetKey{"widehat", RuleTargetKind::Command}),
              1);
    // Conditional consumes never enter the list.
    for (const char* name : {"not", "quad"})
        EXPECT_EQ(std::count(plan->eliminated.begin(), plan->eliminated.end(),
                             RuleTargetKey{name, RuleTargetKind::Command}),
                  0);
}

// The same with real knowledge bases for the default packages plus braket.
TEST(TransformPlan, AllRulesAgainstRealKnowledge) {
    const testing::KnowledgePlanSource source(testing::ALL_SEVEN_PACKAGES);
    auto plan = Plan::build(BuildConfig{}, source);
    ASSERT_TRUE(plan) << plan.error().to_string();
    EXPECT_EQ(plan->rules.size(), 146u);
    auto keys = plan_keys(*plan);
    EXPECT_EQ(std::vector<std::string>(keys.end() - 6, keys.end()),
              (std::vector<std::string>{"base/operatorname-to-named-function", "base/double-enspace-to-quad",
                                        "base/enspace-drop", "base/double-quad-to-qquad", "base/quad-drop",
                                        "base/qquad-drop"}));
    EXPECT_EQ(plan->eliminated.size(), 115u);  // `\prime`, `\ast`, line breaks, spacing drops, the matrix, size and bare fence builders, `\eval`, `\braket`, `\ev`, `\matrixel` and the derivatives may stay
}

struct SelectionCase {
    std::string name;
    RuleSelection selection;
    std::uint8_t level_mask = 0x0F;
    std::vector<PackageName> packages = testing::ALL_SEVEN_PACKAGES;
    std::vector<std::string> mutated_commands = {};
    std::vector<std::string> mutated_environments = {};
    std::vector<std::string> unknown_names = {};
    // Either the error text, or the plan's size and keys it must (not) hold.
    std::string error = {};
    std::size_t size = 0;
    std::vector<std::string> present = {};
    std::vector<std::string> absent = {};
};

class TransformPlanSelection : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(TransformPlanSelection, Builds) {
    const SelectionCase& c = GetParam();
    FakePlanSource source;
    source.packages = c.packages;
    source.mutated_commands.insert(c.mutated_commands.begin(), c.mutated_commands.end());
    source.mutated_environments.insert(c.mutated_environments.begin(), c.mutated_environments.end());
    source.unknown_names.insert(c.unknown_names.begin(), c.unknown_names.end());
    BuildConfig config;
    config.selection = c.selection;
    config.level_mask = c.level_mask;

    auto plan = Plan::build(config, source);
    if (!c.error.empty()) {
        ASSERT_FALSE(plan);
        EXPECT_EQ(plan.error().to_string(), c.error);
        return;
    }
    ASSERT_TRUE(plan) << plan.error().to_string();
    EXPECT_EQ(plan->rules.size(), c.size);
    for (const std::string& key : c.present) EXPECT_TRUE(planned(*plan, key)) << key;
    for (const std::string& key : c.absent) EXPECT_FALSE(planned(*plan, key)) << key;
    if (plan->rules.empty()) {
        EXPECT_TRUE(plan->eliminated.empty());
    }
}

const RuleKey QUANTITY_TO_QTY{"quantity-to-qty", PackageName::Physics};
const RuleKey OPERATORNAME{"operatorname-to-named-function", PackageName::Base};
const RuleKey OVER_TO_FRAC{"over-to-frac", PackageName::Base};
const RuleKey DFRAC_TO_FRAC{"dfrac-to-frac", PackageName::Ams};

INSTANTIATE_TEST_SUITE_P(
    Cases, TransformPlanSelection,
    ::testing::Values(
        SelectionCase{.name = "OnlyPhysicsRuleWithoutPhysics",
                      .selection = RuleSelection::only({QUANTITY_TO_QTY}),
                      .packages = {PackageName::Base, PackageName::Ams},
                      .error = "selected transform rule physics/quantity-to-qty is unavailable: "
                               "enabled_by_packages [\"physics\"] does not intersect active packages "
                               "[\"base\", \"ams\"]"},
        SelectionCase{.name = "OnlyWithNoActivePackages",
                      .selection = RuleSelection::only({OVER_TO_FRAC}),
                      .packages = {},
                      .error = "selected transform rule base/over-to-frac is unavailable: "
                               "enabled_by_packages [\"base\"] does not intersect active packages []"},
        SelectionCase{.name = "OnlyOperatornameWithUnknownEmit",
                      .selection = RuleSelection::only({OPERATORNAME}),
                      .packages = {PackageName::Base},
                      .unknown_names = {"det", "gcd"},
                      .error = "selected transform rule base/operatorname-to-named-function is unavailable: "
                               "produced command `det` is unavailable in active packages [\"base\"]"},
        SelectionCase{.name = "OnlyEnvironmentEmitUnknown",
                      .selection = RuleSelection::only({{"substack-expand", PackageName::Ams}}),
                      .unknown_names = {"subarray"},
                      .error = "selected transform rule ams/substack-expand is unavailable: produced environment "
                               "`subarray` is unavailable in active packages [\"base\", \"ams\", \"braket\", "
                               "\"physics\", \"textmacros\", \"bboldx\", \"boldsymbol\"]"},
        SelectionCase{.name = "OnlyCharacterEmitUnknown",
                      .selection = RuleSelection::only({{"ge-to-geq", PackageName::Base}}),
                      .packages = {PackageName::Base},
                      .unknown_names = {"geq"},
                      .error = "selected transform rule base/ge-to-geq is unavailable: produced character "
                               "`geq` is unavailable in active packages [\"base\"]"},
        SelectionCase{.name = "OperatornameEnabledByAmsAlone",
                      .selection = RuleSelection::only({OPERATORNAME}),
                      .packages = {PackageName::Ams},
                      .size = 1,
                      .present = {"base/operatorname-to-named-function"}},
        SelectionCase{.name = "OnlyRuleOfAnotherLevelIsSilent",
                      .selection = RuleSelection::only({QUANTITY_TO_QTY}),
                      .level_mask = 0x02,
                      .packages = {PackageName::Base},
                      .size = 0},
        SelectionCase{.name = "OnlyRuleTouchedByUserEditIsSilent",
                      .selection = RuleSelection::only({OVER_TO_FRAC, DFRAC_TO_FRAC}),
                      .mutated_commands = {"frac"},
                      .size = 0},
        SelectionCase{.name = "UnknownEmitLeavesOutUnselectedRules",
                      .selection = RuleSelection::all(),
                      .unknown_names = {"middle"},
                      .size = 143,
                      .absent = {"physics/expectation-expand", "physics/matrixel-expand",
                                 "physics/physics-braket-expand"}},
        SelectionCase{.name = "AddedFracLeavesOutItsRules",
                      .selection = RuleSelection::all(),
                      .mutated_commands = {"frac"},
                      .size = 139,
                      .absent = {"base/over-to-frac", "ams/dfrac-to-frac", "ams/tfrac-to-frac", "ams/cfrac-to-frac",
                                 "physics/dv-to-frac-d", "physics/fdv-to-frac-delta", "physics/pdv-to-frac-partial"}},
        SelectionCase{.name = "CommandEditTouchesCharacterTargets",
                      .selection = RuleSelection::all(),
                      .mutated_commands = {"neq"},
                      .size = 144,
                      .absent = {"base/ne-to-neq", "base/not-equals-to-neq"}},
        SelectionCase{.name = "EnvironmentEditTouchesOnlyEnvironmentTargets",
                      .selection = RuleSelection::all(),
                      .mutated_environments = {"matrix"},
                      .size = 141,
                      .present = {"base/pmatrix-to-pmatrix-env"},
                      .absent = {"base/matrix-to-matrix-env", "ams/Bmatrix-env-to-brace-matrix"}},
        SelectionCase{.name = "CommandEditOfAnEnvironmentName",
                      .selection = RuleSelection::all(),
                      .mutated_commands = {"matrix"},
                      .size = 145,
                      .present = {"ams/pmatrix-env-to-paren-matrix"},
                      .absent = {"base/matrix-to-matrix-env"}},
        SelectionCase{.name = "ExceptOtherPackageSameName",
                      .selection = RuleSelection::except({{"over-to-frac", PackageName::Ams}}),
                      .size = 146,
                      .present = {"base/over-to-frac"}},
        SelectionCase{.name = "Except",
                      .selection = RuleSelection::except({OVER_TO_FRAC, QUANTITY_TO_QTY}),
                      .size = 144,
                      .absent = {"base/over-to-frac", "physics/quantity-to-qty"}},
        SelectionCase{.name = "AuthoringDefaultPackages",
                      .selection = RuleSelection::all(),
                      .level_mask = 0x01,
                      .packages = testing::DEFAULT_PACKAGES,
                      .size = 70},
        SelectionCase{.name = "AuthoringWithoutPhysics",
                      .selection = RuleSelection::all(),
                      .level_mask = 0x01,
                      .packages = {PackageName::Base, PackageName::Ams},
                      .size = 50,
                      .absent = {"physics/quantity-to-qty"}},
        SelectionCase{.name = "CorpusProfile", .selection = RuleSelection::all(), .level_mask = 0x07, .size = 137},
        SelectionCase{.name = "NoLevels", .selection = RuleSelection::all(), .level_mask = 0, .size = 0},
        SelectionCase{.name = "OnlyUnregisteredKey",
                      .selection = RuleSelection::only({{"no-such-rule", PackageName::Base}}),
                      .size = 0}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

// Synthetic registries for the metadata checks, cycles and ordering.
class SyntheticRule final : public RewriteRule {
public:
    SyntheticRule(std::string_view name, RuleLevel level, std::uint8_t fidelity, std::vector<RuleTarget> triggers,
                  std::vector<RuleTarget> consumes, std::vector<RuleTarget> conditional, std::vector<RuleTarget> emits)
        : triggers_(std::move(triggers)),
          consumes_(std::move(consumes)),
          conditional_(std::move(conditional)),
          emits_(std::move(emits)) {
        meta_.key = {name, PackageName::Base};
        meta_.level = level;
        meta_.fidelity = fidelity;
        meta_.enabled_by_packages = std::span<const PackageName>(&BASE, 1);
    }

    // The target lists are re-pointed on every read: a copied rule (tables of
    // rules are copied) owns new vectors.
    const RuleMeta& meta() const noexcept override {
        meta_.triggers = triggers_;
        meta_.consumes = consumes_;
        meta_.conditional_consumes = conditional_;
        meta_.emits = emits_;
        return meta_;
    }
    RuleResult apply(RuleContext&, syntax::ast::NodeId) const override { return RuleOutcome::Skipped; }

private:
    static constexpr PackageName BASE = PackageName::Base;
    std::vector<RuleTarget> triggers_, consumes_, conditional_, emits_;
    mutable RuleMeta meta_;
};

RuleTarget cmd(std::string_view name) { return {RuleTargetKind::Command, name}; }
RuleTarget env(std::string_view name) { return {RuleTargetKind::Environment, name}; }
RuleTarget chr(std::string_view name) { return {RuleTargetKind::Character, name}; }

// A plain rule: consumes its trigger `in`, emits `out` (if any).
SyntheticRule simple(std::string_view name, RuleTarget in, std::vector<RuleTarget> out = {}) {
    return SyntheticRule(name, RuleLevel::Authoring, 2, {in}, {in}, {}, std::move(out));
}

struct SyntheticCase {
    std::string name;
    std::vector<SyntheticRule> rules;
    RuleSelection selection = RuleSelection::all();
    std::uint8_t level_mask = 0x0F;
    std::string error = {};
    std::vector<std::string> order = {};
    std::vector<RuleTargetKey> eliminated = {};
};

class TransformPlanSynthetic : public ::testing::TestWithParam<SyntheticCase> {};

TEST_P(TransformPlanSynthetic, Builds) {
    const SyntheticCase& c = GetParam();
    std::vector<const RewriteRule*> registry;
    for (const SyntheticRule& rule : c.rules) registry.push_back(&rule);
    FakePlanSource source;
    BuildConfig config;
    config.selection = c.selection;
    config.level_mask = c.level_mask;

    auto plan = Plan::build(config, source, registry);
    if (!c.error.empty()) {
        ASSERT_FALSE(plan);
        EXPECT_EQ(plan.error().to_string(), c.error);
        return;
    }
    ASSERT_TRUE(plan) << plan.error().to_string();
    EXPECT_EQ(plan_keys(*plan), c.order);
    EXPECT_EQ(plan->eliminated, c.eliminated);
}

RuleTargetKey key_of(RuleTarget target) { return target.key(); }

INSTANTIATE_TEST_SUITE_P(
    Cases, TransformPlanSynthetic,
    ::testing::Values(
        SyntheticCase{.name = "EmptyTriggers",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 2, {}, {cmd("x")}, {}, {})},
                      .error = "transform rule base/a has invalid metadata: triggers must be non-empty"},
        SyntheticCase{.name = "FidelityZeroBelowEquiv",
                      .rules = {SyntheticRule("a", RuleLevel::Corpus, 0, {cmd("x")}, {cmd("x")}, {}, {})},
                      .error = "transform rule base/a has invalid metadata: fidelity must not be below the rule "
                               "level floor"},
        SyntheticCase{.name = "TriggerNotConsumed",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 2, {cmd("x"), cmd("y")}, {cmd("x")}, {},
                                              {})},
                      .error = "transform rule base/a has invalid metadata: triggers must be a subset of consumes"},
        SyntheticCase{.name = "TriggerKindMustMatch",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 2, {chr("x")}, {cmd("x")}, {}, {})},
                      .error = "transform rule base/a has invalid metadata: triggers must be a subset of consumes"},
        SyntheticCase{.name = "EmptyTriggersCheckedFirst",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 0, {}, {}, {}, {})},
                      .error = "transform rule base/a has invalid metadata: triggers must be non-empty"},
        SyntheticCase{.name = "ValidEdgeCasesOfMetadata",
                      .rules = {SyntheticRule("a", RuleLevel::Equiv, 0, {cmd("x")}, {}, {cmd("x")}, {})},
                      .order = {"base/a"}},
        SyntheticCase{.name = "InvalidRuleOfUnadmittedLevelIsIgnored",
                      .rules = {SyntheticRule("a", RuleLevel::Equiv, 2, {}, {}, {}, {}), simple("b", cmd("x"))},
                      .level_mask = 0x01,
                      .order = {"base/b"},
                      .eliminated = {key_of(cmd("x"))}},
        SyntheticCase{.name = "InvalidRuleNotListedUnderOnlyIsIgnored",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 2, {}, {}, {}, {}), simple("b", cmd("x"))},
                      .selection = RuleSelection::only({{"b", PackageName::Base}}),
                      .order = {"base/b"},
                      .eliminated = {key_of(cmd("x"))}},
        SyntheticCase{.name = "TwoRuleCycle",
                      .rules = {simple("a", cmd("x"), {cmd("y")}), simple("b", cmd("y"), {cmd("x")})},
                      .error = "transform dependency cycle detected: base/a -> base/b -> base/a"},
        SyntheticCase{.name = "CycleBehindALeadIn",
                      .rules = {simple("r0", cmd("w"), {cmd("x")}), simple("r1", cmd("x"), {cmd("y")}),
                                simple("r2", cmd("y"), {cmd("x")})},
                      .error = "transform dependency cycle detected: base/r1 -> base/r2 -> base/r1"},
        SyntheticCase{.name = "CycleThroughConditionalConsumes",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 2, {cmd("x")}, {cmd("x")}, {env("e")},
                                              {cmd("y")}),
                                simple("b", cmd("y"), {env("e")})},
                      .error = "transform dependency cycle detected: base/a -> base/b -> base/a"},
        SyntheticCase{.name = "SelfFeedingRuleIsNoCycle",
                      .rules = {simple("a", cmd("x"), {cmd("x")})},
                      .order = {"base/a"},
                      .eliminated = {key_of(cmd("x"))}},
        SyntheticCase{.name = "EmitterFirst",
                      .rules = {simple("consumer", cmd("x")), simple("producer", cmd("w"), {cmd("x")})},
                      .order = {"base/producer", "base/consumer"},
                      .eliminated = {key_of(cmd("w")), key_of(cmd("x"))}},
        // r0 releases r3 before r1 releases r2: first in, first out.
        SyntheticCase{.name = "FifoNotPriority",
                      .rules = {simple("r0", cmd("a"), {cmd("d")}), simple("r1", cmd("b"), {cmd("c")}),
                                simple("r2", cmd("c")), simple("r3", cmd("d"))},
                      .order = {"base/r0", "base/r1", "base/r3", "base/r2"},
                      .eliminated = {key_of(cmd("a")), key_of(cmd("b")), key_of(cmd("d")), key_of(cmd("c"))}},
        SyntheticCase{.name = "EliminatedDistinctWithoutConditional",
                      .rules = {SyntheticRule("a", RuleLevel::Authoring, 2, {cmd("x")}, {cmd("x"), chr("x")},
                                              {cmd("z")}, {}),
                                SyntheticRule("b", RuleLevel::Authoring, 2, {cmd("x")}, {cmd("x")}, {}, {})},
                      .order = {"base/a", "base/b"},
                      .eliminated = {key_of(cmd("x")), key_of(chr("x"))}},
        SyntheticCase{.name = "EmptyRegistry", .rules = {}, .order = {}}),
    [](const ::testing::TestParamInfo<SyntheticCase>& info) { return info.param.name; });

// The bit filter in front of the name lookup may let a stranger through but
// must never turn a listed name away, however full it gets.
TEST(TransformNameIndex, FindsEveryListedNameAndNoOther) {
    std::vector<std::string> listed;
    std::vector<std::string> strangers;
    for (int i = 0; i < 600; ++i) {
        // Names of every length from 0 to 11, sharing first and last letters.
        std::string name = "q" + std::string(static_cast<std::size_t>(i % 10), "abcde"[i % 5]) + std::to_string(i);
        (i % 2 == 0 ? listed : strangers).push_back(std::move(name));
    }
    listed.push_back("");
    NameIndex index;
    EXPECT_TRUE(index.find("q").empty());
    for (std::size_t i = 0; i < listed.size(); ++i) {
        index.add(listed[i], static_cast<std::uint32_t>(i));
        index.add(listed[i], static_cast<std::uint32_t>(i));  // a repeat is listed once
    }
    index.add(listed[0], 900);
    for (std::size_t i = 0; i < listed.size(); ++i) {
        const std::vector<std::uint32_t> expected =
            i == 0 ? std::vector<std::uint32_t>{0, 900} : std::vector<std::uint32_t>{static_cast<std::uint32_t>(i)};
        const auto found = index.find(listed[i]);
        EXPECT_EQ(std::vector<std::uint32_t>(found.begin(), found.end()), expected) << listed[i];
    }
    for (const std::string& name : strangers) EXPECT_TRUE(index.find(name).empty()) << name;
}

TEST(TransformPlan, ErrorTexts) {
    using Error = PlanBuildError;
    using Failure = RuleAvailabilityFailure;
    const RuleKey key{"k", PackageName::Physics};
    const struct {
        PlanBuildError error;
        std::string text;
    } cases[] = {
        {Error{Error::Unavailable{key, {Failure::NotEnabled{{PackageName::Physics}, {}}}}},
         "selected transform rule physics/k is unavailable: enabled_by_packages [\"physics\"] does not "
         "intersect active packages []"},
        {Error{Error::Unavailable{key, {Failure::ProducedUnavailable{RuleTargetKind::Environment, "matrix",
                                                                     {PackageName::Base, PackageName::Boldsymbol}}}}},
         "selected transform rule physics/k is unavailable: produced environment `matrix` is unavailable in "
         "active packages [\"base\", \"boldsymbol\"]"},
        {Error{Error::InvalidMetadata{key, FIDELITY_FLOOR_REASON}},
         "transform rule physics/k has invalid metadata: fidelity must not be below the rule level floor"},
        {Error{Error::Cycle{{key, {"a", PackageName::Ams}, key}}},
         "transform dependency cycle detected: physics/k -> ams/a -> physics/k"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.to_string(), c.text);
    EXPECT_EQ(package_names_for_message(testing::ALL_SEVEN_PACKAGES),
              "[\"base\", \"ams\", \"braket\", \"physics\", \"textmacros\", \"bboldx\", \"boldsymbol\"]");
}

TEST(TransformContext, KeepsOptionsAndReportsPlanErrors) {
    FakePlanSource source;
    BuildConfig config;
    config.options.rewrite.max_iterations = 7;
    config.options.flatten_groups.preserve_rendered_spacing = false;
    auto context = TransformContext::from_build_config(config, source);
    ASSERT_TRUE(context);
    EXPECT_EQ(context->options, config.options);
    EXPECT_EQ(context->plan.rules.size(), 146u);

    source.packages = {PackageName::Base};
    config.selection = RuleSelection::only({QUANTITY_TO_QTY});
    auto failed = TransformContext::from_build_config(config, source);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().to_string(),
              "selected transform rule physics/quantity-to-qty is unavailable: enabled_by_packages [\"physics\"] "
              "does not intersect active packages [\"base\"]");
}

}  // namespace
}  // namespace quorvel::transform
