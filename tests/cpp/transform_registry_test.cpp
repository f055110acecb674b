#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "syntax/slot_map.hpp"
#include "transform/rules/registered_rule.hpp"
#include "transform/rules/registry.hpp"
#include "transform_plan_sources.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;

std::string targets_text(std::span<const RuleTarget> targets) {
    std::string out;
    for (const RuleTarget& t : targets) {
        if (!out.empty()) out += ' ';
        out += t.kind == RuleTargetKind::Command ? "cmd:" : t.kind == RuleTargetKind::Environment ? "env:" : "chr:";
        out += t.name == " " ? "(space)" : std::string(t.name);
    }
    return out.empty() ? "-" : out;
}

TEST(TransformRegistry, ObjectsFollowTheTableInOrder) {
    ASSERT_EQ(ALL_RULES.size(), 146u);
    for (std::size_t i = 0; i < RULE_COUNT; ++i) {
        ASSERT_NE(ALL_RULES[i], nullptr);
        EXPECT_EQ(&ALL_RULES[i]->meta(), &RULE_METAS[i]) << i;
        EXPECT_EQ(ALL_RULES[i]->meta().key.name, RULE_ROWS[i].name);
    }
}

TEST(TransformRegistry, OrderIsModulePathByteOrder) {
    auto path = [](const RuleRow& row) {
        std::string module(row.name);
        std::replace(module.begin(), module.end(), '-', '_');
        return std::tuple(std::string(knowledge::to_string(row.package)), std::string(to_string(row.level)),
                          std::string(row.family), module);
    };
    for (std::size_t i = 1; i < RULE_COUNT; ++i)
        EXPECT_LT(path(RULE_ROWS[i - 1]), path(RULE_ROWS[i])) << RULE_ROWS[i].name;
    EXPECT_EQ(RULE_METAS[0].key.name, "Doteq-to-doteqdot");
    EXPECT_EQ(RULE_METAS[1].key.name, "doublecap-to-Cap");
}

TEST(TransformRegistry, Counts) {
    std::map<PackageName, int> by_package;
    std::map<RuleLevel, int> by_level;
    std::map<int, int> by_fidelity;
    std::map<std::pair<PackageName, RuleLevel>, int> by_cell;
    for (const RuleMeta& meta : RULE_METAS) {
        ++by_package[meta.key.package];
        ++by_level[meta.level];
        ++by_fidelity[meta.fidelity];
        ++by_cell[{meta.key.package, meta.level}];
    }
    EXPECT_EQ(by_package, (std::map<PackageName, int>{
                              {PackageName::Base, 72}, {PackageName::Ams, 29}, {PackageName::Physics, 45}}));
    EXPECT_EQ(by_level, (std::map<RuleLevel, int>{{RuleLevel::Authoring, 70},
                                                  {RuleLevel::Faithful, 49},
                                                  {RuleLevel::Corpus, 18},
                                                  {RuleLevel::Equiv, 9}}));
    EXPECT_EQ(by_fidelity, (std::map<int, int>{{2, 112}, {1, 31}, {0, 3}}));
    const struct {
        PackageName package;
        int authoring, faithful, corpus, equiv;
    } cells[] = {
        {PackageName::Ams, 9, 12, 6, 2},
        {PackageName::Base, 41, 12, 12, 7},
        {PackageName::Physics, 20, 25, 0, 0},
    };
    for (const auto& c : cells) {
        EXPECT_EQ((by_cell[{c.package, RuleLevel::Authoring}]), c.authoring);
        EXPECT_EQ((by_cell[{c.package, RuleLevel::Faithful}]), c.faithful);
        EXPECT_EQ((by_cell[{c.package, RuleLevel::Corpus}]), c.corpus);
        EXPECT_EQ((by_cell[{c.package, RuleLevel::Equiv}]), c.equiv);
    }
}

TEST(TransformRegistry, KeysUniqueEvenWithoutPackage) {
    std::set<std::string_view> names;
    for (const RuleMeta& meta : RULE_METAS) EXPECT_TRUE(names.insert(meta.key.name).second) << meta.key.name;
}

TEST(TransformRegistry, MetadataInvariants) {
    std::vector<std::string_view> fidelity_zero;
    for (const RuleMeta& meta : RULE_METAS) {
        EXPECT_FALSE(meta.triggers.empty()) << meta.key.name;
        for (const RuleTarget& trigger : meta.triggers) {
            auto in = [&](std::span<const RuleTarget> list) {
                return std::find(list.begin(), list.end(), trigger) != list.end();
            };
            EXPECT_TRUE(in(meta.consumes) || in(meta.conditional_consumes)) << meta.key.name;
        }
        if (meta.fidelity == 0) fidelity_zero.push_back(meta.key.name);
        EXPECT_FALSE(meta.description.empty());
        ASSERT_FALSE(meta.enabled_by_packages.empty());
        if (meta.key.name != "operatorname-to-named-function") {
            ASSERT_EQ(meta.enabled_by_packages.size(), 1u) << meta.key.name;
            EXPECT_EQ(meta.enabled_by_packages[0], meta.key.package) << meta.key.name;
        }
    }
    EXPECT_EQ(fidelity_zero, (std::vector<std::string_view>{"cfrac-to-frac", "widehat-to-hat", "widetilde-to-tilde"}));
}

struct RowCase {
    std::size_t index;
    PackageName package;
    std::string_view name;
    RuleLevel level;
    int fidelity;
    std::string triggers, consumes, conditional, emits;
    std::vector<PackageName> packages;
};

class TransformRegistryRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(TransformRegistryRows, Row) {
    const RowCase& c = GetParam();
    const RuleMeta& meta = RULE_METAS[c.index];
    EXPECT_EQ(meta.key, (RuleKey{c.name, c.package}));
    EXPECT_EQ(meta.level, c.level);
    EXPECT_EQ(meta.fidelity, c.fidelity);
    EXPECT_EQ(targets_text(meta.triggers), c.triggers);
    EXPECT_EQ(targets_text(meta.consumes), c.consumes);
    EXPECT_EQ(targets_text(meta.conditional_consumes), c.conditional);
    EXPECT_EQ(targets_text(meta.emits), c.emits);
    EXPECT_EQ(std::vector<PackageName>(meta.enabled_by_packages.begin(), meta.enabled_by_packages.end()),
              c.packages);
}

const std::string OPERATORNAME_EMITS =
    "cmd:arccos cmd:arcsin cmd:arctan cmd:arg cmd:cos cmd:cosh cmd:cot cmd:coth cmd:csc cmd:deg cmd:dim "
    "cmd:exp cmd:hom cmd:ker cmd:lg cmd:ln cmd:log cmd:sec cmd:sin cmd:sinh cmd:tan cmd:tanh cmd:det cmd:gcd "
    "cmd:inf cmd:lim cmd:max cmd:min cmd:Pr cmd:sup";

INSTANTIATE_TEST_SUITE_P(
    Samples, TransformRegistryRows,
    ::testing::Values(
        RowCase{0, PackageName::Ams, "Doteq-to-doteqdot", RuleLevel::Authoring, 2, "chr:Doteq", "chr:Doteq", "-",
                "chr:doteqdot", {PackageName::Ams}},
        RowCase{15, PackageName::Ams, "cfrac-to-frac", RuleLevel::Equiv, 0, "cmd:cfrac", "-", "cmd:cfrac",
                "cmd:frac", {PackageName::Ams}},
        RowCase{27, PackageName::Ams, "idotsint-expand", RuleLevel::Faithful, 2, "cmd:idotsint", "cmd:idotsint",
                "-", "cmd:! cmd:mathop cmd:, cmd:limits chr:int chr:cdots", {PackageName::Ams}},
        RowCase{38, PackageName::Base, "operatorname-to-named-function", RuleLevel::Authoring, 2,
                "cmd:operatorname", "-", "cmd:operatorname cmd:limits", OPERATORNAME_EMITS,
                {PackageName::Base, PackageName::Ams}},
        RowCase{42, PackageName::Base, "not-right-arrow-to-nrightarrow", RuleLevel::Authoring, 2, "cmd:not", "-",
                "cmd:not chr:to chr:rightarrow", "chr:nrightarrow", {PackageName::Base}},
        RowCase{54, PackageName::Base, "eqalignno-to-align-env", RuleLevel::Authoring, 1, "cmd:eqalignno",
                "cmd:eqalignno", "cmd:cr", "env:align cmd:tag", {PackageName::Base}},
        RowCase{58, PackageName::Base, "control-space-to-tilde", RuleLevel::Authoring, 2, "cmd:(space)", "-",
                "cmd:(space)", "-", {PackageName::Base}},
        RowCase{68, PackageName::Base, "small-spacer-merge-to-enspace", RuleLevel::Authoring, 2,
                "cmd:, cmd:: cmd:;", "-", "cmd:, cmd:: cmd:;", "cmd:enspace", {PackageName::Base}},
        RowCase{88, PackageName::Base, "quad-drop", RuleLevel::Equiv, 1, "cmd:quad", "-", "cmd:quad", "-",
                {PackageName::Base}},
        RowCase{94, PackageName::Base, "semantic-dots-to-cdots", RuleLevel::Faithful, 2,
                "chr:dotsb chr:dotsm chr:dotsi", "chr:dotsb chr:dotsm chr:dotsi", "-", "chr:cdots",
                {PackageName::Base}},
        RowCase{98, PackageName::Base, "buildrel-expand", RuleLevel::Faithful, 2, "cmd:buildrel", "cmd:buildrel",
                "cmd:over", "cmd:mathrel cmd:mathop cmd:mspace cmd:limits", {PackageName::Base}},
        RowCase{129, PackageName::Physics, "Bqty-to-brace-fence", RuleLevel::Faithful, 2, "cmd:Bqty", "-",
                "cmd:Bqty", "cmd:left cmd:right", {PackageName::Physics}},
        RowCase{145, PackageName::Physics, "vu-to-hat-mathbf", RuleLevel::Faithful, 2, "cmd:vu", "cmd:vu", "-",
                "cmd:hat cmd:mathbf cmd:boldsymbol", {PackageName::Physics}}),
    [](const ::testing::TestParamInfo<RowCase>& info) { return "Row" + std::to_string(info.param.index); });

TEST(TransformRegistry, KeyDisplayAndLookupByName) {
    EXPECT_EQ(to_string(RuleKey{"over-to-frac", PackageName::Base}), "base/over-to-frac");
    EXPECT_EQ(to_string(RuleKey{"dv-to-frac-d", PackageName::Physics}), "physics/dv-to-frac-d");

    const struct {
        std::string_view text;
        std::optional<RuleKey> key;
    } cases[] = {
        {"base/hfilll-to-hfill", RuleKey{"hfilll-to-hfill", PackageName::Base}},
        {"ams/Doteq-to-doteqdot", RuleKey{"Doteq-to-doteqdot", PackageName::Ams}},
        {"physics/vu-to-hat-mathbf", RuleKey{"vu-to-hat-mathbf", PackageName::Physics}},
        {"hfilll-to-hfill", std::nullopt},
        {"Base/hfilll-to-hfill", std::nullopt},
        {"base/Hfilll-to-hfill", std::nullopt},
        {"ams/hfilll-to-hfill", std::nullopt},
        {"base/hfilll-to-hfill ", std::nullopt},
        {"base:hfilll-to-hfill", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(rule_key_from_name(c.text), c.key) << c.text;

    EXPECT_EQ(find_rule({"quad-drop", PackageName::Base}), ALL_RULES[88]);
    EXPECT_EQ(find_rule({"quad-drop", PackageName::Ams}), nullptr);
}

// Every target names a record of its kind in the built-in packages.
TEST(TransformRegistry, TargetsAreBuiltinRecords) {
    const testing::KnowledgePlanSource known(testing::ALL_SEVEN_PACKAGES);
    for (const RuleMeta& meta : RULE_METAS) {
        for (std::span<const RuleTarget> list : {meta.triggers, meta.consumes, meta.conditional_consumes, meta.emits})
            for (const RuleTarget& t : list) {
                const bool found = t.kind == RuleTargetKind::Command       ? known.knows_command_name(t.name)
                                   : t.kind == RuleTargetKind::Environment ? known.knows_env_name(t.name)
                                                                           : known.knows_character_name(t.name);
                EXPECT_TRUE(found) << to_string(meta.key) << ": " << to_string(t.kind) << " " << t.name;
            }
    }
}

// A rule object with its own code takes its row's metadata.
class SampleRule final : public RegisteredRule {
public:
    constexpr SampleRule() : RegisteredRule(rule_index(PackageName::Base, "over-to-frac")) {}
    RuleResult apply(RuleContext&, syntax::ast::NodeId) const override { return RuleOutcome::Skipped; }
};

TEST(TransformRegistry, RegisteredRuleTakesItsRow) {
    static constexpr SampleRule rule;
    static_assert(rule_index(PackageName::Base, "over-to-frac") == 50);
    EXPECT_EQ(&rule.meta(), &RULE_METAS[50]);
    EXPECT_EQ(rule.meta().key.name, "over-to-frac");
}

}  // namespace
}  // namespace quorvel::transform
