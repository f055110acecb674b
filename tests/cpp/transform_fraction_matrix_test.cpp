// The infix fraction rules and the plain-TeX matrix rules through the whole
// pipeline: rule, input, expected output or error. Only this family's rules
// run, so other families cannot change the expectations.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/base/fraction_matrix_rules.hpp"
#include "transform/rules/registry.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;
using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::AUTHORING;
using testing::Input;
using testing::document_of;
using testing::parse_context;
using testing::src;
using testing::tree;

constexpr const char* FAMILY[] = {
    "above-to-genfrac",       "abovewithdelims-to-genfrac", "atop-to-genfrac",      "atopwithdelims-to-genfrac",
    "brace-to-genfrac",       "brack-to-genfrac",           "choose-to-binom",      "over-to-frac",
    "overwithdelims-to-genfrac", "cases-to-cases-env",      "eqalign-to-aligned-env", "eqalignno-to-align-env",
    "matrix-to-matrix-env",   "pmatrix-to-pmatrix-env",
};

RuleSelection family_only() { return testing::only_rules(PackageName::Base, FAMILY); }

std::optional<sn::Argument> delim(char32_t c) {
    return mandatory_arg(sn::ArgumentValue::Delimiter{sn::Delimiter::character(c)});
}
std::optional<sn::Argument> dimension(std::string text) {
    return mandatory_arg(sn::ArgumentValue::Dimension{std::move(text)});
}

struct Case {
    const char* what;
    Input input;
    std::string expected;  // the output, or the error's text
};

testing::RunResult normalize(const Input& input) {
    const TransformContext engine = testing::make_engine(parse_context(), AUTHORING, family_only());
    auto document = document_of(input);
    return testing::run(engine, parse_context(), document.ast_mut(), engine.options);
}

void check_outputs(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + (c.input.tree ? "(tree)" : c.input.source));
        const testing::RunResult result = normalize(c.input);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.output, testing::strip_spacing(c.expected));
    }
}

// Each error leaves the tree as it was.
void check_errors(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": " + (c.input.tree ? "(tree)" : c.input.source));
        const auto document =
            c.input.tree ? testing::tree_document(*c.input.tree) : testing::parse_document(parse_context(), c.input.source);
        const std::string before = testing::strip_spacing(testing::compact(document.ast()));
        const testing::RunResult result = normalize(c.input);
        EXPECT_EQ(result.error, c.expected);
        EXPECT_EQ(result.output, before);
    }
}

TEST(TransformFractionMatrix, InfixFractionsThroughTheParser) {
    check_outputs({
        {"over-to-frac: the braces go with the infix", src("{a \\over b}"), "\\frac{a}{b}"},
        {"over-to-frac between neighbours", src("x {a \\over b} y"), "x\\frac{a}{b}y"},
        {"over-to-frac keeps the whole left operand", src("{1 + a \\over b}"), "\\frac{1+a}{b}"},
        {"over-to-frac at the top", src("a \\over b"), "\\frac{a}{b}"},
        {"over-to-frac in an argument", src("\\sqrt{a \\over b}"), "\\sqrt{\\frac{a}{b}}"},
        {"over-to-frac nested", src("{{a \\over b} \\over c}"), "\\frac{\\frac{a}{b}}{c}"},
        {"over-to-frac with an empty operand", src("{\\over b}"), "\\frac{}{b}"},
        {"atop-to-genfrac", src("{a \\atop b}"), "\\genfrac..{0pt}{}{a}{b}"},
        {"brace-to-genfrac", src("{a \\brace b}"), "\\genfrac\\{\\}{0pt}{}{a}{b}"},
        {"brack-to-genfrac", src("{a \\brack b}"), "\\genfrac[]{0pt}{}{a}{b}"},
        {"overwithdelims-to-genfrac: default rule", src("{a \\overwithdelims ( ) b}"), "\\genfrac(){}{}{a}{b}"},
        {"above-to-genfrac", src("{a \\above 2pt b}"), "\\genfrac..{2pt}{}{a}{b}"},
        {"abovewithdelims-to-genfrac", src("{a \\abovewithdelims [ ] 1.5pt b}"), "\\genfrac[]{1.5pt}{}{a}{b}"},
        {"atopwithdelims-to-genfrac", src("{a \\atopwithdelims[] b}"), "\\genfrac[]{0pt}{}{a}{b}"},
        {"atopwithdelims-to-genfrac, control delimiters", src("{a \\atopwithdelims\\langle\\rangle b}"),
         "\\genfrac\\langle\\rangle{0pt}{}{a}{b}"},
        {"choose-to-binom", src("{n \\choose k}"), "\\binom{n}{k}"},
        {"choose-to-binom keeps the whole left operand", src("{a+n \\choose k}"), "\\binom{a+n}{k}"},
        {"choose inside over", src("{{n \\choose k} \\over 2}"), "\\frac{\\binom{n}{k}}{2}"},
    });
}

// Shapes the parser does not make.
TEST(TransformFractionMatrix, InfixFractionsOnBuiltTrees) {
    check_outputs({
        {"over-to-frac in an implicit group",
         tree(root({scripted(ch(U'x'), std::nullopt, implicit_math({infix("over", ch(U'a'), ch(U'b'))}))})),
         "x^{\\frac{a}{b}}"},
        {"above-to-genfrac copies the thickness text",
         tree(root({math({infix("above", ch(U'a'), ch(U'b'), {dimension("1pt plus 2pt")})})})),
         "\\genfrac..{1pt plus 2pt}{}{a}{b}"},
        {"overwithdelims-to-genfrac, no delimiters",
         tree(root({math({infix("overwithdelims", ch(U'a'), ch(U'b'),
                                {mandatory_arg(sn::ArgumentValue::Delimiter{sn::Delimiter::none()}), delim(U'|')})})})),
         "\\genfrac.|{}{}{a}{b}"},
    });
}

TEST(TransformFractionMatrix, InfixFractionSlotErrors) {
    const auto math_slot = math_arg(ch(U'x'));
    const auto optional_dimension = dim_arg("2pt");
    const auto a = ch(U'a');
    const auto b = ch(U'b');
    check_errors({
        {"over-to-frac", tree(root({infix("over", a, b, {math_slot})})),
         "base/over-to-frac: \\over should carry exactly 0 explicit argument slots, got 1"},
        {"choose-to-binom", tree(root({infix("choose", a, b, {std::nullopt})})),
         "base/choose-to-binom: \\choose should carry exactly 0 explicit argument slots, got 1"},
        {"overwithdelims-to-genfrac", tree(root({infix("overwithdelims", a, b, {delim(U'(')})})),
         "base/overwithdelims-to-genfrac: \\overwithdelims should carry exactly 2 explicit argument slots, got 1"},
        {"above-to-genfrac, count", tree(root({infix("above", a, b)})),
         "base/above-to-genfrac: \\above should carry exactly 1 explicit argument slots, got 0"},
        {"abovewithdelims-to-genfrac, count", tree(root({infix("abovewithdelims", a, b, {delim(U'('), delim(U')')})})),
         "base/abovewithdelims-to-genfrac: \\abovewithdelims should carry exactly 3 explicit argument slots, got 2"},
        {"atopwithdelims-to-genfrac, count", tree(root({infix("atopwithdelims", a, b)})),
         "base/atopwithdelims-to-genfrac: \\atopwithdelims should carry exactly 2 explicit argument slots, got 0"},
        {"atopwithdelims: empty left slot",
         tree(root({infix("atopwithdelims", a, b, {std::nullopt, delim(U')')})})),
         "base/atopwithdelims-to-genfrac: \\atopwithdelims left delimiter should be a mandatory delimiter argument"},
        {"atopwithdelims: right slot not a delimiter",
         tree(root({infix("atopwithdelims", a, b, {delim(U'('), dimension("1pt")})})),
         "base/atopwithdelims-to-genfrac: \\atopwithdelims right delimiter should be a delimiter"},
        {"overwithdelims: the left slot is read first",
         tree(root({infix("overwithdelims", a, b, {math_slot, std::nullopt})})),
         "base/overwithdelims-to-genfrac: \\overwithdelims left delimiter should be a delimiter"},
        {"above: thickness not a dimension", tree(root({infix("above", a, b, {math_slot})})),
         "base/above-to-genfrac: \\above thickness should be a dimension"},
        {"above: optional thickness", tree(root({infix("above", a, b, {optional_dimension})})),
         "base/above-to-genfrac: \\above thickness should be a mandatory dimension argument"},
        {"abovewithdelims: empty thickness",
         tree(root({infix("abovewithdelims", a, b, {delim(U'('), delim(U')'), std::nullopt})})),
         "base/abovewithdelims-to-genfrac: \\abovewithdelims thickness should be a mandatory dimension argument"},
        {"abovewithdelims: delimiters before thickness",
         tree(root({infix("abovewithdelims", a, b, {delim(U'('), math_slot, math_slot})})),
         "base/abovewithdelims-to-genfrac: \\abovewithdelims right delimiter should be a delimiter"},
    });
}

TEST(TransformFractionMatrix, PlainTexMatricesThroughTheParser) {
    check_outputs({
        {"matrix-to-matrix-env", src("\\matrix{a&b\\cr c&d}"), "\\begin{matrix}a&b\\\\c&d\\end{matrix}"},
        {"matrix-to-matrix-env: a trailing cr gives a trailing break", src("\\matrix{a&b\\cr c&d\\cr}"),
         "\\begin{matrix}a&b\\\\c&d\\\\\\end{matrix}"},
        {"matrix-to-matrix-env: empty", src("\\matrix{}"), "\\begin{matrix}\\end{matrix}"},
        {"matrix-to-matrix-env: one row", src("\\matrix{x}"), "\\begin{matrix}x\\end{matrix}"},
        {"matrix-to-matrix-env: a lone item body", src("\\matrix x"), "\\begin{matrix}x\\end{matrix}"},
        {"matrix-to-matrix-env: scripts stay", src("\\matrix{a\\cr b}^T"),
         "\\begin{matrix}a\\\\b\\end{matrix}^{T}"},
        {"matrix-to-matrix-env: nested", src("\\matrix{\\matrix{a\\cr b}&c}"),
         "\\begin{matrix}\\begin{matrix}a\\\\b\\end{matrix}&c\\end{matrix}"},
        {"pmatrix-to-pmatrix-env", src("\\pmatrix{1&0\\cr 0&1}"), "\\begin{pmatrix}1&0\\\\0&1\\end{pmatrix}"},
        {"cases-to-cases-env", src("f=\\cases{1&x>0\\cr 0&x\\le 0}"),
         "f=\\begin{cases}1&x>0\\\\0&x\\le 0\\end{cases}"},
        {"eqalign-to-aligned-env: no position", src("\\eqalign{x&=1\\cr y&=2}"),
         "\\begin{aligned}x&=1\\\\y&=2\\end{aligned}"},
        {"fractions inside a matrix", src("\\matrix{{a\\over b}&{n\\choose k}}"),
         "\\begin{matrix}\\frac{a}{b}&\\binom{n}{k}\\end{matrix}"},
        {"eqalignno-to-align-env", src("\\eqalignno{a&=b&(1)\\cr c&=d&(2.1)}"),
         "\\begin{align}a&=b\\tag{1}\\\\c&=d\\tag{2.1}\\end{align}"},
        {"eqalignno: only the last & goes", src("\\eqalignno{a&b&c&(x)}"), "\\begin{align}a&b&c\\tag{x}\\end{align}"},
        {"eqalignno: the rightmost &( is the tag", src("\\eqalignno{a&(b)&(2)}"),
         "\\begin{align}a&(b)\\tag{2}\\end{align}"},
        {"eqalignno: an empty tag", src("\\eqalignno{a&()}"), "\\begin{align}a\\tag{}\\end{align}"},
        {"a cr outside a matrix stays", src("a\\cr b"), "a\\cr b"},
    });
}

TEST(TransformFractionMatrix, PlainTexMatricesOnBuiltTrees) {
    check_outputs({
        {"a cr with slots is an ordinary item",
         tree(root({command("matrix", {math_arg(math({ch(U'a'), command("cr", {std::nullopt}), ch(U'b')}))})})),
         "\\begin{matrix}a\\cr b\\end{matrix}"},
        {"a lone cr body", tree(root({command("matrix", {math_arg(command("cr"))})})),
         "\\begin{matrix}\\\\\\end{matrix}"},
        {"eqalignno: text in a tag",
         tree(root({command("eqalignno",
                            {math_arg(math({ch(U'a'), ch(U'&'), ch(U'('), text("eq"), ch(U'1'), ch(U')')}))})})),
         "\\begin{align}a\\tag{eq1}\\end{align}"},
        {"eqalignno: a non-ASCII tag",
         tree(root({command("eqalignno", {math_arg(math({ch(U'&'), ch(U'('), ch(U'\u2020'), ch(U')')}))})})),
         "\\begin{align}\\tag{\u2020}\\end{align}"},
    });
}

TEST(TransformFractionMatrix, PlainTexMatrixErrors) {
    check_errors({
        {"matrix: no slot", tree(root({command("matrix")})),
         "base/matrix-to-matrix-env: \\matrix should carry exactly 1 explicit argument slots, got 0"},
        {"cases: two slots", tree(root({command("cases", {math_arg(ch(U'a')), math_arg(ch(U'b'))})})),
         "base/cases-to-cases-env: \\cases should carry exactly 1 explicit argument slots, got 2"},
        {"pmatrix: empty slot", tree(root({command("pmatrix", {std::nullopt})})),
         "base/pmatrix-to-pmatrix-env: \\pmatrix body should be a mandatory math argument"},
        {"eqalign: text body", tree(root({command("eqalign", {text_arg(text("x"))})})),
         "base/eqalign-to-aligned-env: \\eqalign body should be math content"},
        {"eqalignno: no slot", tree(root({command("eqalignno")})),
         "base/eqalignno-to-align-env: \\eqalignno should carry exactly 1 explicit argument slots, got 0"},
        {"eqalignno: optional body", tree(root({command("eqalignno", {dim_arg("1pt")})})),
         "base/eqalignno-to-align-env: \\eqalignno body should be a mandatory math argument"},
        {"eqalignno: trailing cr", src("\\eqalignno{a&=b&(1)\\cr}"),
         "base/eqalignno-to-align-env: \\eqalignno row should not be empty"},
        {"eqalignno: empty body", src("\\eqalignno{}"),
         "base/eqalignno-to-align-env: \\eqalignno row should not be empty"},
        {"eqalignno: no tag", src("\\eqalignno{a&=b}"),
         "base/eqalignno-to-align-env: \\eqalignno row should end with a parenthesized tag"},
        {"eqalignno: no & before the tag", src("\\eqalignno{a=b(1)}"),
         "base/eqalignno-to-align-env: \\eqalignno row should contain a final &(...) tag"},
        {"eqalignno: the ( must not be the closing )", src("\\eqalignno{a&)}"),
         "base/eqalignno-to-align-env: \\eqalignno row should contain a final &(...) tag"},
        {"eqalignno: a command in the tag", src("\\eqalignno{a&=b&(\\alpha)}"),
         "base/eqalignno-to-align-env: \\eqalignno tags should contain text-like content"},
        {"eqalignno: the first bad row", src("\\eqalignno{a&=b\\cr c&=d&(\\alpha)}"),
         "base/eqalignno-to-align-env: \\eqalignno row should end with a parenthesized tag"},
    });
}

// Nodes of another kind or name are declined and left as they were.
TEST(TransformFractionMatrix, Declines) {
    struct Case {
        const RewriteRule* rule;
        SyntaxNode node;  // the node offered, the only child of the root
    };
    const auto a = ch(U'a');
    const auto b = ch(U'b');
    const Case cases[] = {
        {&base_rules::OVER_TO_FRAC, command("over")},
        {&base_rules::OVER_TO_FRAC, infix("frac", a, b)},
        {&base_rules::OVER_TO_FRAC, SyntaxNode::Declarative{"over", {}}},
        {&base_rules::OVER_TO_FRAC, infix("over", implicit_math({a, command("buildrel", {math_arg(a)})}), b)},
        {&base_rules::OVER_TO_FRAC, infix("over", scripted(a, std::nullopt, command("buildrel", {math_arg(a)})), b)},
        {&base_rules::OVER_TO_FRAC, infix("over", command("buildrel", {math_arg(a)}), b)},
        {&base_rules::CHOOSE_TO_BINOM, infix("over", a, b)},
        {&base_rules::ATOPWITHDELIMS_TO_GENFRAC, infix("atop", a, b)},
        {&base_rules::ABOVE_TO_GENFRAC, command("above", {dimension("1pt")})},
        {&base_rules::MATRIX_TO_MATRIX_ENV, infix("matrix", a, b)},
        {&base_rules::MATRIX_TO_MATRIX_ENV, environment("matrix", implicit_math({a}))},
        {&base_rules::PMATRIX_TO_PMATRIX_ENV, command("matrix", {math_arg(a)})},
        {&base_rules::EQALIGNNO_TO_ALIGN_ENV, command("eqalign", {math_arg(a)})},
        {&base_rules::EQALIGNNO_TO_ALIGN_ENV, ch(U'x')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(to_string(c.rule->meta().key) + " on " + syntax::debug_string(c.node.kind()));
        auto document = testing::tree_document(root({c.node}));
        syntax::Ast& ast = document.ast_mut();
        const std::string before = testing::compact(ast);
        const std::size_t nodes = ast.node_count();
        RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
        const RuleResult result = c.rule->apply(ctx, ast.children(ast.root())[0]);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        EXPECT_EQ(testing::compact(ast), before);
        EXPECT_EQ(ast.node_count(), nodes);
    }
}

// Only an explicit group whose one child is the infix gives way to the
// command; any other group keeps its place (seen before group flattening).
TEST(TransformFractionMatrix, WhichGroupTheCommandReplaces) {
    struct Case {
        SyntaxNode tree;
        std::string expected;
    };
    const Case cases[] = {
        {root({math({infix("over", ch(U'a'), ch(U'b'))})}), "\\frac{a}{b}"},
        {root({math({ch(U'x'), infix("over", ch(U'a'), ch(U'b'))})}), "{x\\frac{a}{b}}"},
        {root({implicit_math({infix("over", ch(U'a'), ch(U'b'))})}), "{\\frac{a}{b}}"},
        {root({scripted(ch(U'x'), std::nullopt, math({infix("over", ch(U'a'), ch(U'b'))}))}), "x^{\\frac{a}{b}}"},
        {root({infix("over", math({infix("over", ch(U'a'), ch(U'b'))}), ch(U'c'))}), "\\frac{a\\over b}{c}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        auto document = testing::tree_document(c.tree);
        syntax::Ast& ast = document.ast_mut();
        RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
        const NodeId top = ast.children(ast.root())[0];
        const NodeId infix_node = *ast.find_impl(top, [](const Node& n) { return n.is<Node::Infix>(); });
        const RuleResult result = base_rules::OVER_TO_FRAC.apply(ctx, infix_node);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Applied);
        EXPECT_EQ(testing::strip_spacing(testing::compact(ast)), c.expected);
        std::vector<NodeId> attached;
        ast.collect_postorder(ast.root(), attached);
        EXPECT_EQ(ast.node_count(), attached.size());
    }
}

// A failing rule adds no node to the arena, and the replaced command leaves
// nothing behind: the arena holds just the tree.
TEST(TransformFractionMatrix, NothingLeftDetached) {
    const char* sources[] = {
        "{a \\over b}", "x{a \\abovewithdelims [ ] 2pt b}y", "\\matrix{a&b\\cr c}", "\\eqalignno{a&(1)\\cr b&(2)}",
        "\\eqalignno{a&(1)\\cr b&(\\alpha)}",
    };
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        auto document = testing::parse_document(parse_context(), source);
        syntax::Ast& ast = document.ast_mut();
        const TransformContext engine = testing::make_engine(parse_context(), AUTHORING, family_only());
        (void)engine.run_with(ast, parse_context(), engine.options);
        std::vector<NodeId> attached;
        ast.collect_postorder(ast.root(), attached);
        EXPECT_EQ(ast.node_count(), attached.size());
    }
}

TEST(TransformFractionMatrix, ReportCounts) {
    struct Case {
        Input input;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> rules;
    };
    const Case cases[] = {
        // The outer \over is offered first and applies; the inner one is
        // still in the snapshot and applies in the same pass.
        {src("{{a \\over b} \\over c}"), 2, {{2, 0, {"over-to-frac", PackageName::Base}}}},
        // The inner \matrix moves into the environment and applies in the
        // same pass.
        {src("\\matrix{\\matrix{a}}"), 2, {{2, 0, {"matrix-to-matrix-env", PackageName::Base}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.source);
        const testing::RunResult result = normalize(c.input);
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.report.rewrite.iterations, c.iterations);
        EXPECT_EQ(result.report.rewrite.rules, c.rules);
    }
}

// `\\genfrac`, `\\binom` and the environments come with ams: without it
// only over-to-frac is planned, and what the others would consume stays.
TEST(TransformFractionMatrix, WithoutAmsOnlyOverToFracRuns) {
    const auto base_only = testing::make_parse_context({"base"});
    std::vector<RuleKey> others;
    for (const RewriteRule* rule : ALL_RULES) {
        const RuleKey& key = rule->meta().key;
        bool ours = false;
        for (const char* name : FAMILY) ours = ours || (key.package == PackageName::Base && key.name == name);
        if (!ours) others.push_back(key);
    }
    const TransformContext engine =
        testing::make_engine(*base_only, AUTHORING, RuleSelection::except(std::move(others)));
    const std::pair<const char*, const char*> cases[] = {
        {"{a\\over b}", "\\frac{a}{b}"},
        {"{n\\choose k}", "{n\\choose k}"},
        {"{a\\atop b}", "{a\\atop b}"},
        {"\\matrix{a\\cr b}", "\\matrix{a\\cr b}"},
    };
    for (const auto& [source, expected] : cases) {
        SCOPED_TRACE(source);
        auto document = testing::parse_document(*base_only, source);
        const testing::RunResult result = testing::run(engine, *base_only, document.ast_mut(), engine.options);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.output, expected);
    }
}

// Left for buildrel-expand: at a profile that does not plan it, the \over
// of a \buildrel stays, and the contract knows it for no fraction.
TEST(TransformFractionMatrix, BuildrelOverIsLeftAlone) {
    const testing::RunResult result = normalize(src("\\buildrel \\alpha \\over \\rightarrow"));
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.output, "\\buildrel{\\alpha}\\over\\rightarrow");
}

// Only the \over that closes a \buildrel of its own numerator waits for
// buildrel-expand; an \over whose numerator holds one in a group of its
// own goes in the first pass.
TEST(TransformFractionMatrix, OnlyTheOverOfABuildrelWaits) {
    struct Case {
        const char* source;
        const char* expected;
        std::uint64_t applied;  // by over-to-frac
        std::uint64_t skipped;
        std::uint64_t iterations;
    };
    const Case cases[] = {
        {"{{\\buildrel a \\over b}\\over c}", "\\frac{\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}}{c}", 1, 1, 2},
        {"{{{\\buildrel a \\over b}\\over c}\\over d}", "\\frac{\\frac{\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}}{c}}{d}", 2, 1, 2},
        {"{{x\\over y}\\over {\\buildrel a \\over b}}", "\\frac{\\frac{x}{y}}{\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}}", 2, 1, 2},
        {"{{{x\\over a}\\over a}\\over a} \\buildrel p \\over q",
         "\\frac{\\frac{\\frac{x}{a}}{a}}{a}\\mathrel{\\mathop{\\mspace{0mu}q}\\limits^{p}}", 3, 1, 2},
        {"{{{x\\over a}\\over a}\\over a}", "\\frac{\\frac{\\frac{x}{a}}{a}}{a}", 3, 0, 2},
    };
    const TransformContext engine = testing::make_engine(parse_context(), testing::FAITHFUL);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        auto document = testing::parse_document(parse_context(), c.source);
        const testing::RunResult result = testing::run(engine, parse_context(), document.ast_mut(), engine.options);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.output, c.expected);
        EXPECT_EQ(result.report.rewrite.iterations, c.iterations);
        RewriteRuleStat over{};
        for (const RewriteRuleStat& stat : result.report.rewrite.rules)
            if (stat.key.name == "over-to-frac") over = stat;
        EXPECT_EQ(over.applied, c.applied);
        EXPECT_EQ(over.skipped, c.skipped);
    }
}

}  // namespace
}  // namespace quorvel::transform
