// The physics derivative, vector, matrix-builder and named-function
// expansions through the whole pipeline: input source or exchange tree,
// profile, expected output or error. Only these rules are selected, so the
// expectations hold whatever other families do.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/physics/expansion_rules.hpp"
#include "transform/rules/registry.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;
using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::AUTHORING;
using testing::FAITHFUL;
using testing::Input;
using testing::document_of;
using testing::parse_context;
using testing::reachable;
using testing::rewrite_only;
using testing::src;
using testing::tree;

std::vector<RuleKey> expansion_keys() {
    std::vector<RuleKey> keys;
    physics_rules::for_each_expansion_rule([&](const RewriteRule* rule) { keys.push_back(rule->meta().key); });
    return keys;
}

RuleSelection expansions_and(std::vector<RuleKey> more = {}) {
    std::vector<RuleKey> keys = expansion_keys();
    keys.insert(keys.end(), more.begin(), more.end());
    return RuleSelection::only(std::move(keys));
}

struct Outcome {
    std::string before;
    std::string output;
    std::string error;
    TransformReport report;
    std::size_t unreachable = 0;  // arena nodes no longer in the tree
};

Outcome normalize(const Input& input, std::uint8_t mask, RuleSelection selection = expansions_and(),
                  const TransformOptions& options = rewrite_only()) {
    const TransformContext engine = testing::make_engine(parse_context(), mask, std::move(selection));
    auto document = document_of(input);
    Outcome outcome;
    outcome.before = testing::strip_spacing(testing::compact(document.ast()));
    auto result = testing::run(engine, parse_context(), document.ast_mut(), options);
    outcome.output = result.output;
    outcome.error = result.error;
    outcome.report = std::move(result.report);
    outcome.unreachable = document.ast().node_count() - reachable(document.ast());
    return outcome;
}

struct Case {
    std::string name;
    Input input;
    std::string expected;
    std::uint8_t mask = FAITHFUL;
};

void check(const std::vector<Case>& cases, const RuleSelection& selection = expansions_and(),
           const TransformOptions& options = rewrite_only()) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + ": " + (c.input.tree ? "(tree)" : c.input.source));
        const Outcome outcome = normalize(c.input, c.mask, selection, options);
        EXPECT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.output, testing::strip_spacing(c.expected));
        // Everything the rules made or moved is in the tree; every node they left is freed.
        EXPECT_EQ(outcome.unreachable, 0u);
    }
}

// Slot builders for the exchange trees.
std::optional<sn::Argument> opt_arg(SyntaxNode content) { return math_slot(sn::ArgumentKind::Optional{}, std::move(content)); }
std::optional<sn::Argument> group_arg(SyntaxNode content) { return math_slot(sn::ArgumentKind::Group{}, std::move(content)); }
std::optional<sn::Argument> int_arg(std::string value) {
    return sn::Argument{sn::ArgumentKind::Mandatory{}, false, sn::ArgumentValue::Integer{std::move(value)}};
}
std::optional<sn::Argument> text_in(sn::ArgumentKind kind) {
    return sn::Argument{std::move(kind), false, sn::ArgumentValue::TextContent{text("t")}};
}
std::optional<sn::Argument> star_math() { return math_slot(sn::ArgumentKind::Star{}, ch(U'x')); }
const std::optional<sn::Argument> none;

TEST(PhysicsExpansions, Derivatives) {
    check({
        {"dv", src("\\dv{f}{x}"), "\\frac{\\mathrm{d}f}{\\mathrm{d}x}"},
        {"dv with an order: the variable group is raised", src("\\dv[2]{f}{x}"),
         "\\frac{\\mathrm{d}^{2}f}{\\mathrm{d}{x}^{2}}"},
        {"dv without a denominator", src("\\dv{x}"), "\\frac{\\mathrm{d}}{\\mathrm{d}x}"},
        {"dv, order without a denominator", src("\\dv[n]{x}"), "\\frac{\\mathrm{d}^{n}}{\\mathrm{d}{x}^{n}}"},
        {"dv starred keeps the order", src("\\dv*[2]{f}{x}"), "\\flatfrac{\\mathrm{d}^{2}f}{\\mathrm{d}{x}^{2}}"},
        {"dv: an ordered variable group is raised whole", src("\\dv[2]{f}{xy}"),
         "\\frac{\\mathrm{d}^{2}f}{\\mathrm{d}{xy}^{2}}"},
        {"dv: an unordered variable group is spread", src("\\dv{f}{xy}"), "\\frac{\\mathrm{d}f}{\\mathrm{d}xy}"},
        {"dv: the function group is spread", src("\\dv{fg}{x}"), "\\frac{\\mathrm{d}fg}{\\mathrm{d}x}"},
        {"dv: scripts stay on the fraction", src("\\dv{f}{x}^{2}_{0}"),
         "\\frac{\\mathrm{d}f}{\\mathrm{d}x}_{0}^{2}"},
        {"dv nested", src("\\dv{\\dv{f}{x}}{x}"),
         "\\frac{\\mathrm{d}\\frac{\\mathrm{d}f}{\\mathrm{d}x}}{\\mathrm{d}x}"},
        {"dv waits for faithful", src("\\dv{f}{x}"), "\\dv{f}{x}", AUTHORING},
        {"fdv", src("\\fdv{F}{g}"), "\\frac{\\delta F}{\\delta g}"},
        {"fdv with an order", src("\\fdv[2]{F}{g}"), "\\frac{\\delta^{2}F}{\\delta{g}^{2}}"},
        {"fdv starred, no denominator", src("\\fdv*{g}"), "\\flatfrac{\\delta}{\\delta g}"},
        {"pdv without a denominator", src("\\pdv{x}"), "\\frac{\\partial}{\\partial x}"},
        {"pdv", src("\\pdv{f}{x}"), "\\frac{\\partial f}{\\partial x}"},
        {"pdv with an order", src("\\pdv[2]{f}{x}"), "\\frac{\\partial^{2}f}{\\partial{x}^{2}}"},
        {"pdv mixed", src("\\pdv{f}{x}{y}"), "\\frac{\\partial^{2}f}{\\partial x\\partial y}"},
        {"pdv mixed ignores the order", src("\\pdv[3]{f}{x}{y}"), "\\frac{\\partial^{2}f}{\\partial x\\partial y}"},
        {"pdv mixed spreads both groups", src("\\pdv{f}{xy}{zw}"),
         "\\frac{\\partial^{2}f}{\\partial xy\\partial zw}"},
    });
    // The long aliases reach the same fractions.
    check({{"derivative aliases", src("\\derivative{f}{x}\\partialderivative{f}{x}"),
            "\\frac{\\mathrm{d}f}{\\mathrm{d}x}\\frac{\\partial f}{\\partial x}"}},
          expansions_and({{"derivative-to-dv", PackageName::Physics},
                          {"partial-derivative-to-pdv", PackageName::Physics}}));
}

// With the other passes the raised one-letter group loses its braces.
TEST(PhysicsExpansions, WholePipeline) {
    check({{"dv", src("\\dv[2]{f}{x}"), "\\frac{\\mathrm{d}^{2}f}{\\mathrm{d}x^{2}}"},
           {"pdv", src("\\pdv[2]{f}{x}"), "\\frac{\\partial^{2}f}{\\partial x^{2}}"}},
          expansions_and(), TransformOptions{});
}

// Derivative shapes the parser does not make.
TEST(PhysicsExpansions, DerivativeTrees) {
    check({
        {"empty order slot",
         tree(root({command("dv", {star_arg(false), none, math_arg(ch(U'f')), group_arg(ch(U'x'))})})),
         "\\frac{\\mathrm{d}f}{\\mathrm{d}x}"},
        {"an implicit order group is copied whole",
         tree(root({command("dv", {star_arg(false), opt_arg(implicit_math({ch(U'n'), ch(U'+'), ch(U'1')})),
                                   math_arg(ch(U'x')), none})})),
         "\\frac{\\mathrm{d}^{n+1}}{\\mathrm{d}x^{n+1}}"},
        {"pdv mixed with a filled order slot",
         tree(root({command("pdv", {star_arg(true), opt_arg(ch(U'5')), math_arg(ch(U'f')), group_arg(ch(U'x')),
                                    group_arg(ch(U'y'))})})),
         "\\flatfrac{\\partial^{2}f}{\\partial x\\partial y}"},
        {"in a script",
         tree(root({scripted(ch(U'a'), command("fdv", {star_arg(false), none, math_arg(ch(U'g')), none}),
                             std::nullopt)})),
         "a_{\\frac{\\delta}{\\delta g}}"},
    });
}

TEST(PhysicsExpansions, VectorsMatricesAndRank) {
    check({
        {"va", src("\\va{x}"), "\\vec{\\mathbf{x}}"},
        {"va starred", src("\\va*{x}"), "\\vec{\\boldsymbol{x}}"},
        {"va of an empty group", src("\\va{}"), "\\vec{\\mathbf{}}"},
        {"vb", src("\\vb{x}"), "\\mathbf{x}"},
        {"vb starred", src("\\vb*{\\alpha}"), "\\boldsymbol{\\alpha}"},
        {"vb keeps scripts", src("\\vb{x}_1"), "\\mathbf{x}_{1}"},
        {"vu", src("\\vu{x}"), "\\hat{\\mathbf{x}}"},
        {"vu starred", src("\\vu*{x}"), "\\hat{\\boldsymbol{x}}"},
        {"vectors nested", src("\\vb{\\vu{x}}"), "\\mathbf{\\hat{\\mathbf{x}}}"},
        {"vectors wait for faithful", src("\\va{x}\\vb{x}"), "\\va{x}\\vb{x}", AUTHORING},
        {"pmqty", src("\\pmqty{a & b \\\\ c & d}"), "\\mqty(a&b\\\\c&d)"},
        {"bmqty", src("\\bmqty{a}"), "\\mqty[a]"},
        {"mdet", src("\\mdet{a & b \\\\ c & d}"), "\\vmqty{a&b\\\\c&d}"},
        {"zmat", src("\\zmat{2}{3}"), "\\xmat{0}{2}{3}"},
        {"rank", src("\\rank A"), "\\operatorname{rank}A"},
        {"rank keeps scripts", src("\\rank^2"), "\\operatorname{rank}^{2}"},
        {"rank waits for faithful", src("\\rank"), "\\rank", AUTHORING},
    });
}

TEST(PhysicsExpansions, BuilderTrees) {
    check({
        {"zmat keeps math slots", tree(root({command("zmat", {math_arg(ch(U'm')), math_arg(ch(U'n'))})})),
         "\\xmat{0}{m}{n}"},
        {"zmat keeps empty slots", tree(root({command("zmat", {none, none})})), "\\xmat{0}"},
        {"zmat keeps integer slots", tree(root({command("zmat", {int_arg("4"), int_arg("5")})})),
         "\\xmat{0}{4}{5}"},
        {"mdet keeps its body", tree(root({command("mdet", {math_arg(implicit_math({ch(U'a'), ch(U'b')}))})})),
         "\\vmqty{ab}"},
        {"rank as a script", tree(root({scripted(ch(U'x'), std::nullopt, command("rank"))})),
         "x^{\\operatorname{rank}}"},
        {"vu as a script base",
         tree(root({scripted(command("vu", {star_arg(false), math_arg(ch(U'n'))}), ch(U'i'), std::nullopt)})),
         "\\hat{\\mathbf{n}}_{i}"},
    });
}

// Every malformed slot list is the rule's error; the tree stays as it was.
TEST(PhysicsExpansions, SlotErrors) {
    using K = sn::ArgumentKind;
    const auto f = [] { return math_arg(ch(U'f')); };
    const auto x = [] { return group_arg(ch(U'x')); };
    struct ErrorCase {
        SyntaxNode tree;
        std::string error;
    };
    const ErrorCase cases[] = {
        {command("dv", {star_arg(false), none, f()}),
         "physics/dv-to-frac-d: \\dv should carry exactly 4 explicit argument slots, got 3"},
        {command("dv", {none, none, f(), x()}), "physics/dv-to-frac-d: \\dv should carry a star slot"},
        {command("dv", {math_arg(ch(U'x')), none, f(), x()}), "physics/dv-to-frac-d: \\dv should carry a star slot"},
        {command("dv", {star_arg(false), math_arg(ch(U'2')), f(), x()}),
         "physics/dv-to-frac-d: \\dv optional order should be an optional math argument"},
        {command("dv", {star_arg(false), dim_arg("2pt"), f(), x()}),
         "physics/dv-to-frac-d: \\dv optional order should be math content"},
        // The first failing slot decides.
        {command("dv", {star_arg(false), math_arg(ch(U'2')), none, none}),
         "physics/dv-to-frac-d: \\dv optional order should be an optional math argument"},
        {command("dv", {star_arg(false), none, none, x()}),
         "physics/dv-to-frac-d: \\dv first argument should be a mandatory math argument"},
        {command("dv", {star_arg(false), none, opt_arg(ch(U'f')), x()}),
         "physics/dv-to-frac-d: \\dv first argument should be a mandatory math argument"},
        {command("dv", {star_arg(false), none, text_in(K::Mandatory{}), x()}),
         "physics/dv-to-frac-d: \\dv first argument should be math content"},
        {command("dv", {star_arg(false), none, f(), math_arg(ch(U'x'))}),
         "physics/dv-to-frac-d: \\dv optional denominator should be a braced group"},
        {command("dv", {star_arg(false), none, f(), text_in(K::Group{})}),
         "physics/dv-to-frac-d: \\dv optional denominator should be math content"},
        {command("fdv", {star_arg(false), none, f(), x(), x()}),
         "physics/fdv-to-frac-delta: \\fdv should carry exactly 4 explicit argument slots, got 5"},
        {command("fdv", {star_arg(false), opt_arg(ch(U'2')), f(), opt_arg(ch(U'x'))}),
         "physics/fdv-to-frac-delta: \\fdv optional denominator should be a braced group"},
        {command("pdv", {star_arg(false), none, f(), x()}),
         "physics/pdv-to-frac-partial: \\pdv should carry exactly 5 explicit argument slots, got 4"},
        {command("pdv", {star_arg(false), none, f(), x(), math_arg(ch(U'y'))}),
         "physics/pdv-to-frac-partial: \\pdv optional mixed denominator should be a braced group"},
        {command("pdv", {star_arg(false), none, f(), x(), text_in(K::Group{})}),
         "physics/pdv-to-frac-partial: \\pdv optional mixed denominator should be math content"},
        {command("pdv", {star_arg(false), none, f(), none, x()}),
         "physics/pdv-to-frac-partial: \\pdv cannot carry a mixed denominator without a first denominator"},
        {command("va", {star_arg(false)}),
         "physics/va-to-vec-mathbf: \\va should carry exactly 2 explicit argument slots, got 1"},
        {command("vb", {none, f()}), "physics/vb-to-mathbf: \\vb should carry a star slot"},
        {command("vu", {star_arg(true), opt_arg(ch(U'x'))}),
         "physics/vu-to-hat-mathbf: \\vu argument should be a mandatory math argument"},
        {command("va", {star_arg(false), text_in(K::Mandatory{})}),
         "physics/va-to-vec-mathbf: \\va argument should be math content"},
        {command("pmqty"), "physics/pmqty-to-mqty: \\pmqty should carry exactly 1 explicit argument slots, got 0"},
        {command("bmqty", {opt_arg(ch(U'a'))}),
         "physics/bmqty-to-mqty: \\bmqty body should be a mandatory math argument"},
        {command("mdet", {text_in(K::Mandatory{})}), "physics/mdet-to-vmqty: \\mdet body should be math content"},
        {command("zmat", {f()}), "physics/zmat-to-xmat: \\zmat should carry exactly 2 explicit argument slots, got 1"},
        {command("rank", {none}),
         "physics/rank-to-operatorname-rank: \\rank should carry exactly 0 explicit argument slots, got 1"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.error);
        const Outcome outcome = normalize(tree(root({c.tree})), FAITHFUL);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.output, outcome.before);
        EXPECT_EQ(outcome.unreachable, 0u);
    }
}

// A star slot holding anything but a boolean never passes the document
// layer; the rules still refuse it, offered such a node directly.
TEST(PhysicsExpansions, StarSlotValues) {
    struct StarCase {
        const RewriteRule* rule;
        SyntaxNode command;
        std::string error;
    };
    const StarCase cases[] = {
        {&physics_rules::DV_TO_FRAC_D, command("dv", {star_math(), none, math_arg(ch(U'f')), none}),
         "\\dv star slot should carry a boolean value"},
        {&physics_rules::PDV_TO_FRAC_PARTIAL, command("pdv", {star_math(), none, math_arg(ch(U'f')), none, none}),
         "\\pdv star slot should carry a boolean value"},
        {&physics_rules::VB_TO_MATHBF, command("vb", {star_math(), math_arg(ch(U'x'))}),
         "\\vb star slot should carry a boolean value"},
    };
    for (const StarCase& c : cases) {
        SCOPED_TRACE(c.error);
        syntax::Ast ast = syntax::Ast::from_syntax_root(root({c.command}));
        RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
        const NodeId node = ast.children(ast.root())[0];
        const std::size_t nodes = ast.node_count();
        const RuleResult result = c.rule->apply(ctx, node);
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), RuleError::message(c.error));
        EXPECT_EQ(ast.node_count(), nodes);
    }
}

// Offered any node but a command of its own name, each rule declines and
// leaves the tree alone.
TEST(PhysicsExpansions, Declines) {
    auto document = testing::tree_document(root({
        ch(U'x'),
        command("Dv", {star_arg(false), none, math_arg(ch(U'f')), none}),
        command("dvv"),
        infix("dv", ch(U'a'), ch(U'b')),
        SyntaxNode::Declarative{"vb", {}},
        SyntaxNode::Declarative{"rank", {}},
        environment("pmqty", math({ch(U'a')})),
        text("rank"),
    }));
    syntax::Ast& ast = document.ast_mut();
    RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
    const std::string before = testing::compact(ast);
    const std::size_t nodes = ast.node_count();
    const std::vector<NodeId> children(ast.children(ast.root()).begin(), ast.children(ast.root()).end());
    std::size_t rules = 0;
    physics_rules::for_each_expansion_rule([&](const RewriteRule* rule) {
        ++rules;
        for (NodeId child : children) {
            SCOPED_TRACE(to_string(rule->meta().key) + " on " + syntax::debug_string(ast.node(child)));
            const RuleResult result = rule->apply(ctx, child);
            ASSERT_TRUE(result);
            EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        }
    });
    EXPECT_EQ(rules, 11u);
    EXPECT_EQ(testing::compact(ast), before);
    EXPECT_EQ(ast.node_count(), nodes);
}

// Each rule fires once per command and the fixed point then settles.
TEST(PhysicsExpansions, ReportCounts) {
    struct CountCase {
        std::string source;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> rules;
    };
    const CountCase cases[] = {
        {"\\dv{f}{x}", 2, {{1, 0, {"dv-to-frac-d", PackageName::Physics}}}},
        // The inner derivative moves into the outer numerator and is
        // expanded in the same pass.
        {"\\dv{\\dv{f}{x}}{x}", 2, {{2, 0, {"dv-to-frac-d", PackageName::Physics}}}},
        {"\\va{x}\\vb{y}", 2,
         {{1, 0, {"va-to-vec-mathbf", PackageName::Physics}}, {1, 0, {"vb-to-mathbf", PackageName::Physics}}}},
        {"\\rank\\zmat{1}{2}", 2,
         {{1, 0, {"rank-to-operatorname-rank", PackageName::Physics}},
          {1, 0, {"zmat-to-xmat", PackageName::Physics}}}},
        {"x+y", 1, {}},
    };
    for (const CountCase& c : cases) {
        SCOPED_TRACE(c.source);
        const Outcome outcome = normalize(src(c.source), FAITHFUL);
        ASSERT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.report.rewrite.iterations, c.iterations);
        auto rows = outcome.report.rewrite.rules;
        std::sort(rows.begin(), rows.end(),
                  [](const auto& a, const auto& b) { return to_string(a.key) < to_string(b.key); });
        EXPECT_EQ(rows, c.rules);
    }
}

}  // namespace
}  // namespace quorvel::transform
