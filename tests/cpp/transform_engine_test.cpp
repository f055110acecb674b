// The rewrite fixed point, the contract check, the pipeline's switches and the
// run operations, driven by small hand-made rules over exchange trees.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/contract.hpp"
#include "transform/engine.hpp"
#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/registry.hpp"
#include "transform/scheduler.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;
using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::compact;
using testing::make_parse_context;
using testing::strip_spacing;
using testing::tree_document;

using ApplyFn = std::function<RuleResult(RuleContext&, NodeId)>;

// A rule with its own metadata and behaviour.
class FakeRule final : public RewriteRule {
public:
    FakeRule(RuleMeta meta, ApplyFn fn) : meta_(meta), fn_(std::move(fn)) {}
    const RuleMeta& meta() const noexcept override { return meta_; }
    RuleResult apply(RuleContext& ctx, NodeId node) const override { return fn_(ctx, node); }

private:
    RuleMeta meta_;
    ApplyFn fn_;
};

constexpr RuleTarget QUAD[] = {{RuleTargetKind::Command, "quad"}};
constexpr RuleTarget OWNS[] = {{RuleTargetKind::Character, "owns"}};
constexpr RuleTarget MATRIX_ENV[] = {{RuleTargetKind::Environment, "matrix"}};

RuleMeta fake_meta(std::string_view name, std::span<const RuleTarget> triggers) {
    RuleMeta meta;
    meta.key = {name, PackageName::Base};
    meta.triggers = triggers;
    meta.consumes = triggers;
    return meta;
}

RuleResult skip(RuleContext&, NodeId) { return RuleOutcome::Skipped; }

// Renames the node to `to` when it is named `from`.
ApplyFn rename(std::string from, std::string to) {
    return [from, to](RuleContext& ctx, NodeId node) -> RuleResult {
        const auto* command = ctx.ast.node(node).get_if<Node::Command>();
        if (command == nullptr || command->name != from) return RuleOutcome::Skipped;
        ctx.ast.replace_node(node, helpers::bare_command_node(to));
        return RuleOutcome::Applied;
    };
}

Plan plan_of(std::vector<const RewriteRule*> rules, bool indexed = true) {
    Plan plan;
    plan.rules = std::move(rules);
    for (const RewriteRule* rule : plan.rules)
        for (const RuleTarget& target : rule->meta().consumes)
            if (std::find(plan.eliminated.begin(), plan.eliminated.end(), target.key()) == plan.eliminated.end())
                plan.eliminated.push_back(target.key());
    if (indexed) plan.index();
    return plan;
}

struct FixedPointRun {
    std::string output;
    std::string error;
    RewriteReport report;
};

FixedPointRun drive(const Plan& plan, const SyntaxNode& tree, std::size_t max_iterations = 100,
                    std::vector<std::string> removed = {}) {
    auto context = make_parse_context({"base", "ams"}, std::move(removed));
    auto document = tree_document(tree);
    ReportRecorder recorder = ReportRecorder::collecting();
    auto result = scheduler::drive_fixed_point(document.ast_mut(), *context, plan, max_iterations, recorder);
    FixedPointRun run;
    if (!result) run.error = result.error().to_string();
    run.output = strip_spacing(compact(document.ast()));
    run.report = std::move(recorder).into_report().rewrite;
    return run;
}

std::vector<RewriteRuleStat> stats(std::initializer_list<std::tuple<std::string_view, std::uint64_t, std::uint64_t>> rows) {
    std::vector<RewriteRuleStat> out;
    for (auto [name, applied, skipped] : rows) out.push_back({applied, skipped, {name, PackageName::Base}});
    return out;
}

TEST(TransformFixedPoint, PassesAndCounters) {
    const FakeRule to_qquad(fake_meta("to-qquad", QUAD), rename("quad", "qquad"));
    const FakeRule decliner(fake_meta("decliner", QUAD), skip);
    const FakeRule owns_to_ni(fake_meta("owns-to-ni", OWNS), rename("owns", "ni"));

    struct Case {
        const char* name;
        std::vector<const RewriteRule*> rules;
        SyntaxNode tree;
        std::string output;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> stats;
    };
    const Case cases[] = {
        {"no targets: one pass", {&to_qquad}, root({ch(U'a'), command("alpha")}), "a\\alpha", 1, {}},
        {"empty plan: no pass", {}, root({command("quad")}), "\\quad", 0, {}},
        {"applies once: a confirming pass", {&to_qquad}, root({ch(U'a'), command("quad")}), "a\\qquad", 2,
         stats({{"to-qquad", 1, 0}})},
        {"earlier rule wins", {&to_qquad, &decliner}, root({command("quad"), command("quad")}), "\\qquad\\qquad", 2,
         stats({{"to-qquad", 2, 0}})},
        {"a decline lets the next rule try", {&decliner, &to_qquad}, root({command("quad")}), "\\qquad", 2,
         stats({{"decliner", 0, 1}, {"to-qquad", 1, 0}})},
        {"first-use order", {&to_qquad, &owns_to_ni}, root({command("owns"), command("quad")}), "\\ni\\qquad", 2,
         stats({{"owns-to-ni", 1, 0}, {"to-qquad", 1, 0}})},
        {"character trigger in a script base", {&owns_to_ni}, root({scripted(command("owns"), ch(U'1'), {})}),
         "\\ni_{1}", 2, stats({{"owns-to-ni", 1, 0}})},
        {"trigger deep in arguments", {&to_qquad},
         root({command("sqrt", {math_arg(math({scripted(ch(U'x'), math({command("quad")}), {})}))})}),
         "\\sqrt{x_{\\qquad}}", 2, stats({{"to-qquad", 1, 0}})},
        {"an environment is no command", {&to_qquad},
         root({environment("quad", group(ContentMode::Math, {}, sn::GroupKind::Implicit{}))}), "", 1, {}},
    };
    for (const Case& c : cases) {
        for (bool indexed : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (indexed ? "" : " (plan without index)"));
            const FixedPointRun run = drive(plan_of(c.rules, indexed), c.tree);
            EXPECT_EQ(run.error, "");
            if (!c.output.empty()) {
                EXPECT_EQ(run.output, c.output);
            }
            EXPECT_EQ(run.report.iterations, c.iterations);
            EXPECT_EQ(run.report.rules, c.stats);
        }
    }
}

// Environment triggers go through the environment lookup.
TEST(TransformFixedPoint, EnvironmentTrigger) {
    int calls = 0;
    const FakeRule counter(fake_meta("env", MATRIX_ENV), [&](RuleContext&, NodeId) -> RuleResult {
        ++calls;
        return RuleOutcome::Skipped;
    });
    const SyntaxNode body = group(ContentMode::Math, {ch(U'a')}, sn::GroupKind::Implicit{});
    drive(plan_of({&counter}), root({environment("matrix", body), command("matrix")}));
    EXPECT_EQ(calls, 1);
}

// A rule applied at an ancestor removes the descendants it replaced; they are
// not offered later in the same pass.
TEST(TransformFixedPoint, RemovedNodesAreNotOffered) {
    std::vector<std::string> offered;
    const FakeRule collapse(fake_meta("collapse", OWNS), [&](RuleContext& ctx, NodeId node) -> RuleResult {
        offered.push_back(ctx.ast.node(node).name()->str());
        const auto* command = ctx.ast.node(node).get_if<Node::Command>();
        if (command->args.empty()) return RuleOutcome::Skipped;
        ctx.ast.replace_node_drop_detached_children(node, helpers::bare_command_node("ni"));
        return RuleOutcome::Applied;
    });
    // \owns{\owns}: the outer one applies and frees the inner one.
    drive(plan_of({&collapse}), root({command("owns", {math_arg(command("owns"))})}));
    EXPECT_EQ(offered, (std::vector<std::string>{"owns"}));
}

TEST(TransformFixedPoint, RemovedNamesAreNotOffered) {
    const FakeRule to_qquad(fake_meta("to-qquad", QUAD), rename("quad", "qquad"));
    const FixedPointRun run = drive(plan_of({&to_qquad}), root({command("quad")}), 100, {"quad"});
    EXPECT_EQ(run.output, "\\quad");
    EXPECT_EQ(run.report.iterations, 1u);
    EXPECT_TRUE(run.report.rules.empty());
}

TEST(TransformFixedPoint, IterationLimit) {
    // Recreates its own trigger on every pass.
    const FakeRule spinner(fake_meta("spinner", QUAD), [](RuleContext& ctx, NodeId node) -> RuleResult {
        ctx.ast.replace_node(node, helpers::bare_command_node("quad"));
        return RuleOutcome::Applied;
    });
    const FakeRule to_qquad(fake_meta("to-qquad", QUAD), rename("quad", "qquad"));
    struct Case {
        const RewriteRule* rule;
        std::size_t limit;
        std::string error;
        std::uint64_t iterations;
    };
    const Case cases[] = {
        {&spinner, 100, "rewrite exceeded max iterations: 100", 0},
        {&to_qquad, 1, "rewrite exceeded max iterations: 1", 0},  // the tree is final already
        {&to_qquad, 2, "", 2},
        {&to_qquad, 0, "rewrite exceeded max iterations: 0", 0},
        {nullptr, 0, "", 0},  // an empty plan needs no pass
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        std::vector<const RewriteRule*> rules;
        if (c.rule != nullptr) rules.push_back(c.rule);
        const FixedPointRun run = drive(plan_of(rules), root({command("quad")}), c.limit);
        EXPECT_EQ(run.error, c.error);
        EXPECT_EQ(run.report.iterations, c.iterations);
    }
}

// A rule error ends the phase: nothing is recorded for the failing call, and
// the changes made before it stay.
TEST(TransformFixedPoint, RuleErrorStopsThePhase) {
    const FakeRule to_qquad(fake_meta("to-qquad", QUAD), rename("quad", "qquad"));
    const FakeRule failing(fake_meta("failing", OWNS),
                           [](RuleContext&, NodeId) -> RuleResult { return RuleError::message("bad shape"); });
    const FakeRule missing(fake_meta("missing", OWNS), [](RuleContext&, NodeId) -> RuleResult {
        return RuleError::missing_metadata("owns");
    });
    FixedPointRun run = drive(plan_of({&to_qquad, &failing}), root({command("quad"), command("owns")}));
    EXPECT_EQ(run.error, "base/failing: bad shape");
    EXPECT_EQ(run.output, "\\qquad\\owns");
    EXPECT_EQ(run.report.iterations, 0u);
    EXPECT_EQ(run.report.rules, stats({{"to-qquad", 1, 0}}));

    run = drive(plan_of({&missing}), root({command("owns")}));
    EXPECT_EQ(run.error, "base/missing: missing metadata for owns");
}

// The node kinds offered, and one snapshot per pass: a node created in a
// pass waits for the next.
TEST(TransformFixedPoint, SnapshotPerPass) {
    std::vector<std::string> seen;
    const FakeRule grow(fake_meta("grow", QUAD), [&](RuleContext& ctx, NodeId node) -> RuleResult {
        seen.push_back("quad");
        if (ctx.ast.next_sibling(node)) return RuleOutcome::Skipped;
        const NodeId parent = *ctx.ast.parent_id(node);
        ctx.ast.append_child(parent, ctx.ast.new_node(helpers::bare_command_node("quad")));
        return RuleOutcome::Applied;
    });
    const FixedPointRun run = drive(plan_of({&grow}), root({command("quad")}), 3);
    // Pass 1 sees one quad, pass 2 two, pass 3 three.
    EXPECT_EQ(seen.size(), 6u);
    EXPECT_EQ(run.error, "rewrite exceeded max iterations: 3");
}

// Whether the last pass met a node named by an eliminated target: what lets
// the pipeline leave out the contract check.
TEST(TransformFixedPoint, ReportsEliminatedNamesLeft) {
    const FakeRule to_qquad(fake_meta("to-qquad", QUAD), rename("quad", "qquad"));
    const FakeRule decliner(fake_meta("decliner", QUAD), skip);
    struct Case {
        const char* name;
        std::vector<const RewriteRule*> rules;
        bool indexed;
        SyntaxNode tree;
        bool left;
    };
    const Case cases[] = {
        {"none to begin with", {&to_qquad}, true, root({ch(U'a'), command("alpha")}), false},
        {"all rewritten", {&to_qquad}, true, root({command("quad", {math_arg(command("quad"))})}), false},
        {"declined", {&decliner}, true, root({ch(U'a'), command("quad")}), true},
        {"below a node that is no target", {&decliner}, true, root({command("alpha", {math_arg(command("quad"))})}),
         true},
        {"plan without index: unknown", {&to_qquad}, false, root({ch(U'a')}), true},
        {"empty plan: no pass", {}, true, root({command("quad")}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto context = make_parse_context();
        auto document = tree_document(c.tree);
        ReportRecorder recorder = ReportRecorder::off();
        bool left = true;
        ASSERT_TRUE(scheduler::drive_fixed_point(document.ast_mut(), *context, plan_of(c.rules, c.indexed), 100,
                                                 recorder, nullptr, &left));
        EXPECT_EQ(left, c.left);
    }
}

TEST(TransformContract, Violations) {
    auto context = make_parse_context();
    auto removed = make_parse_context({"base", "ams"}, {"widehat"});
    const std::vector<RuleTargetKey> owns{{"owns", RuleTargetKind::Character}};
    const std::vector<RuleTargetKey> widehat{{"widehat", RuleTargetKind::Command}};
    const std::vector<RuleTargetKey> matrix{{"matrix", RuleTargetKind::Environment}};
    const std::vector<RuleTargetKey> two{{"quad", RuleTargetKind::Command}, {"owns", RuleTargetKind::Character}};
    const SyntaxNode body = group(ContentMode::Math, {}, sn::GroupKind::Implicit{});

    struct Case {
        const char* name;
        const parse::ParseContext* context;
        std::vector<RuleTargetKey> eliminated;
        SyntaxNode tree;
        std::vector<std::string> found;  // "node/target"
    };
    const Case cases[] = {
        {"character target", context.get(), owns, root({ch(U'a'), command("owns"), ch(U'b')}), {"owns/owns"}},
        {"removed command", removed.get(), widehat, root({command("widehat", {math_arg(ch(U'x'))})}), {}},
        {"known command", context.get(), widehat, root({command("widehat", {math_arg(ch(U'x'))})}),
         {"widehat/widehat"}},
        {"environment target ignores commands", context.get(), matrix,
         root({command("matrix"), environment("matrix", body)}), {"matrix/matrix"}},
        {"pre-order, then target order", context.get(), two,
         root({command("owns", {math_arg(command("quad"))}), command("quad")}),
         {"owns/owns", "quad/quad", "quad/quad"}},
        {"no eliminated targets", context.get(), {}, root({command("owns")}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto document = tree_document(c.tree);
        for (bool indexed : {false, true}) {
            Plan plan;
            plan.eliminated = c.eliminated;
            plan.index();
            auto violations = indexed ? contract::collect_eliminated_violations(document.ast(), *c.context,
                                                                                 plan.eliminated, plan.eliminated_index)
                                      : contract::collect_eliminated_violations(document.ast(), *c.context,
                                                                                 c.eliminated);
            std::vector<std::string> found;
            for (const auto& v : violations) found.push_back(*v.node + "/" + std::string(v.name));
            EXPECT_EQ(found, c.found);
        }
    }
}

TEST(TransformContract, DetachedSubtreesAreNotChecked) {
    auto context = make_parse_context();
    auto document = tree_document(root({ch(U'a')}));
    document.ast_mut().new_node(helpers::bare_command_node("owns"));
    const std::vector<RuleTargetKey> owns{{"owns", RuleTargetKind::Character}};
    EXPECT_TRUE(contract::collect_eliminated_violations(document.ast(), *context, owns).empty());
}

// The pipeline on a plan that consumes \owns without removing it.
struct PipelineRun {
    std::string output;
    std::string error;
    TransformReport report;
};

PipelineRun execute(const Plan& plan, const SyntaxNode& tree, const TransformOptions& options,
                    const FlattenGroupsGuardsOverlay* guards = nullptr) {
    auto context = make_parse_context();
    auto document = tree_document(tree);
    ReportRecorder recorder = ReportRecorder::collecting();
    auto result = engine::execute(plan, document.ast_mut(), *context, options, guards, recorder);
    PipelineRun run;
    if (!result) run.error = result.error().to_string();
    run.output = strip_spacing(compact(document.ast()));
    run.report = std::move(recorder).into_report();
    return run;
}

TEST(TransformPipeline, Switches) {
    const FakeRule keeps_owns(fake_meta("keeps-owns", OWNS), skip);
    const FakeRule to_qquad(fake_meta("to-qquad", QUAD), rename("quad", "qquad"));
    const SyntaxNode tree = root({ch(U'a'), command("owns"), command("quad")});

    TransformOptions all_off;
    all_off.rewrite.enabled = false;
    all_off.lower_attributes.enabled = false;
    all_off.finalize_ast.enabled = false;
    all_off.flatten_groups.enabled = false;
    TransformOptions rewrite_off;
    rewrite_off.rewrite.enabled = false;

    struct Case {
        const char* name;
        std::vector<const RewriteRule*> rules;
        TransformOptions options;
        std::string output;
        std::string error;
    };
    const Case cases[] = {
        {"all off", {&keeps_owns, &to_qquad}, all_off, "a\\owns\\quad", ""},
        {"rewrite off: no contract check", {&keeps_owns, &to_qquad}, rewrite_off, "a\\owns\\quad", ""},
        {"leftover consumed target", {&keeps_owns, &to_qquad}, TransformOptions{}, "a\\owns\\qquad",
         "rewrite contract violated for character `owns` (node Some(\"owns\"))"},
        {"empty plan still checks nothing", {}, TransformOptions{}, "a\\owns\\quad", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PipelineRun run = execute(plan_of(c.rules), tree, c.options);
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.error, c.error);
        if (!c.options.rewrite.enabled) {
            EXPECT_EQ(run.report, TransformReport{});
        }
    }
}

// Lowering runs again after the fixed point and may write the canonical form
// of an attribute: the contract check then still looks at the tree.
TEST(TransformPipeline, ContractSeesFormsLoweringWritesLate) {
    constexpr RuleTarget MATHBF[] = {{RuleTargetKind::Command, "mathbf"}};
    const FakeRule to_bf(fake_meta("to-bf", QUAD), [](RuleContext& ctx, NodeId node) -> RuleResult {
        ctx.ast.replace_node(node, Node::Declarative{"bf", {}});
        return RuleOutcome::Applied;
    });
    const FakeRule keeps_mathbf(fake_meta("keeps-mathbf", MATHBF), skip);
    const SyntaxNode tree = root({command("quad"), ch(U'x')});
    struct Case {
        const char* name;
        std::vector<const RewriteRule*> rules;
        std::string error;
    };
    const Case cases[] = {
        {"nothing eliminated is written", {&to_bf}, ""},
        {"the written form is eliminated", {&to_bf, &keeps_mathbf},
         "rewrite contract violated for command `mathbf` (node Some(\"mathbf\"))"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Plan plan = plan_of(c.rules);
        EXPECT_EQ(plan.lowering_emits_eliminated, !c.error.empty());
        const PipelineRun run = execute(plan, tree, TransformOptions{});
        EXPECT_EQ(run.output, "\\mathbf{x}");
        EXPECT_EQ(run.error, c.error);
    }
}

TEST(TransformContextRun, ReportAndPlainRunAgree) {
    auto context = make_parse_context();
    const TransformContext engine = testing::make_engine(*context, testing::FAITHFUL);
    const SyntaxNode tree = root({command("owns"), command("rightarrow"), ch(U'x')});

    auto plain = tree_document(tree);
    ASSERT_TRUE(engine.run_with(plain.ast_mut(), *context, engine.options));
    auto reported = tree_document(tree);
    auto report = engine.run_with_report(reported.ast_mut(), *context, engine.options);
    ASSERT_TRUE(report);
    EXPECT_EQ(plain.to_syntax(), reported.to_syntax());
    EXPECT_EQ(report->rewrite.iterations, 2u);
    EXPECT_EQ(report->rewrite.rules.size(), 2u);

    auto guarded = tree_document(tree);
    auto guarded_report = engine.run_with_flatten_groups_guards(guarded.ast_mut(), *context, engine.options,
                                                                FlattenGroupsGuardsOverlay{});
    ASSERT_TRUE(guarded_report);
    EXPECT_EQ(*guarded_report, *report);

    TransformOptions off = engine.options;
    off.rewrite.enabled = false;
    auto untouched = tree_document(tree);
    auto off_report = engine.run_with_report(untouched.ast_mut(), *context, off);
    ASSERT_TRUE(off_report);
    EXPECT_EQ(off_report->rewrite, RewriteReport{});
}

// A failing run returns the error alone and leaves the edits made before it.
TEST(TransformContextRun, FailureReturnsOnlyTheError) {
    auto context = make_parse_context();
    const TransformContext engine = testing::make_engine(*context, testing::AUTHORING);
    auto document = tree_document(root({command("le"), command("owns", {math_arg(ch(U'x'))})}));
    auto report = engine.run_with_report(document.ast_mut(), *context, engine.options);
    ASSERT_FALSE(report);
    EXPECT_EQ(report.error().to_string(), "base/owns-to-ni: \\owns should carry exactly 0 explicit argument slots, got 1");
    EXPECT_EQ(strip_spacing(compact(document.ast())), "\\leq\\owns{x}");
}

TEST(TransformContextRun, BuildFromParseContext) {
    auto context = make_parse_context({"base", "ams", "braket", "physics", "textmacros", "bboldx", "boldsymbol"});
    auto built = TransformContext::from_build_config(BuildConfig{}, *context);
    ASSERT_TRUE(built);
    ASSERT_EQ(built->plan.rules.size(), 146u);
    EXPECT_EQ(built->plan.eliminated.size(), 115u);  // `\prime`, `\ast`, line breaks, spacing drops, the matrix, size and bare fence builders, `\eval`, `\braket`, `\ev`, `\matrixel` and the derivatives may stay
    std::vector<std::string> tail;
    for (std::size_t i = 140; i < 146; ++i) tail.push_back(to_string(built->plan.rules[i]->meta().key));
    EXPECT_EQ(tail, (std::vector<std::string>{"base/operatorname-to-named-function", "base/double-enspace-to-quad",
                                              "base/enspace-drop", "base/double-quad-to-qquad", "base/quad-drop",
                                              "base/qquad-drop"}));

    auto narrow = make_parse_context({"base", "ams"});
    BuildConfig only{RuleSelection::only({{"quantity-to-qty", PackageName::Physics}}), {}, 15};
    auto failed = TransformContext::from_build_config(only, *narrow);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().to_string(),
              "selected transform rule physics/quantity-to-qty is unavailable: enabled_by_packages [\"physics\"] "
              "does not intersect active packages [\"base\", \"ams\"]");
}

// Names the caller added or removed keep the rules touching them out of the
// plan, also under Only.
TEST(TransformContextRun, MutatedNamesLeaveRulesOut) {
    parse::ParseContextBuilder builder;
    builder.item(parse::ContextItem::command({"frac", "mm", {}, 0, knowledge::AllowedMode::Math}));
    auto context = std::move(builder.build()).value();
    const std::vector<RuleKey> keys{{"over-to-frac", PackageName::Base}, {"dfrac-to-frac", PackageName::Ams},
                                    {"owns-to-ni", PackageName::Base}};
    auto built = TransformContext::from_build_config(BuildConfig{RuleSelection::only(keys), {}, 15}, *context);
    ASSERT_TRUE(built) << built.error().to_string();
    ASSERT_EQ(built->plan.rules.size(), 1u);
    EXPECT_EQ(to_string(built->plan.rules[0]->meta().key), "base/owns-to-ni");
}

}  // namespace
}  // namespace quorvel::transform
