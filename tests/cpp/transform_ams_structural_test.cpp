// The AMS structural rules through the whole pipeline: fenced matrix
// environments, cfrac, substack and idotsint. Only these rules are planned,
// so the expectations do not move with the other rule families.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/ams/fenced_matrix_env.hpp"
#include "transform/rules/ams/fraction_style.hpp"
#include "transform/rules/ams/multi_integral.hpp"
#include "transform/rules/ams/substack.hpp"
#include "transform/rules/registry.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using knowledge::PackageName;
using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::AUTHORING;
using testing::CORPUS;
using testing::EQUIV;
using testing::FAITHFUL;
using testing::Input;
using testing::document_of;
using testing::parse_context;
using testing::src;
using testing::tree;

constexpr const char* RULES[] = {
    "Bmatrix-env-to-brace-matrix", "bmatrix-env-to-bracket-matrix", "pmatrix-env-to-paren-matrix",
    "vmatrix-env-to-vert-matrix",  "cfrac-to-frac",                 "idotsint-expand",
    "substack-expand",
};

RuleSelection structural_rules() { return testing::only_rules(PackageName::Ams, RULES); }

testing::RunResult normalize(const Input& input, std::uint8_t mask) {
    const TransformContext engine = testing::make_engine(parse_context(), mask, structural_rules());
    auto document = document_of(input);
    return testing::run(engine, parse_context(), document.ast_mut(), engine.options);
}

std::string written(const Input& input) { return testing::strip_spacing(testing::compact(document_of(input).ast())); }

std::string mask_name(std::uint8_t mask) {
    switch (mask) {
        case AUTHORING: return "authoring";
        case FAITHFUL: return "faithful";
        case CORPUS: return "corpus";
        default: return "equiv";
    }
}

struct Case {
    const char* about;
    Input input;
    std::uint8_t mask;
    std::string expected;  // the output, or the error when it starts with "ams/"
};

// An error leaves the tree as it was.
void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.about) + " at " + mask_name(c.mask) + ": " +
                     (c.input.tree ? "(tree)" : c.input.source));
        const testing::RunResult result = normalize(c.input, c.mask);
        if (c.expected.starts_with("ams/")) {
            EXPECT_EQ(result.error, c.expected);
            EXPECT_EQ(result.output, written(c.input));
        } else {
            EXPECT_EQ(result.error, "");
            EXPECT_EQ(result.output, testing::strip_spacing(c.expected));
        }
    }
}

std::optional<sn::Argument> optional_arg(sn::ArgumentValue value) {
    return sn::Argument{sn::ArgumentKind::Optional{}, false, std::move(value)};
}
std::optional<sn::Argument> csname(std::string name) { return optional_arg(sn::ArgumentValue::CSName{name}); }
SyntaxNode cfrac(std::optional<sn::Argument> alignment, std::optional<sn::Argument> numerator,
                 std::optional<sn::Argument> denominator) {
    return command("cfrac", {std::move(alignment), std::move(numerator), std::move(denominator)});
}

TEST(AmsStructuralRules, FencedMatrixEnvironments) {
    check({
        {"pmatrix", src("\\begin{pmatrix} a & b \\\\ c & d \\end{pmatrix}"), CORPUS,
         "\\left(\\begin{matrix}a&b\\\\c&d\\end{matrix}\\right)"},
        {"Bmatrix", src("\\begin{Bmatrix} a \\end{Bmatrix}"), CORPUS,
         "\\left\\{\\begin{matrix}a\\end{matrix}\\right\\}"},
        {"bmatrix", src("\\begin{bmatrix} a & b \\end{bmatrix}"), CORPUS,
         "\\left[\\begin{matrix}a&b\\end{matrix}\\right]"},
        {"vmatrix", src("\\begin{vmatrix} a \\end{vmatrix}"), CORPUS, "\\left|\\begin{matrix}a\\end{matrix}\\right|"},
        {"empty body", src("\\begin{pmatrix}\\end{pmatrix}"), CORPUS, "\\left(\\begin{matrix}\\end{matrix}\\right)"},
        {"scripts stay on the fence", src("\\begin{pmatrix} a \\end{pmatrix}^T"), CORPUS,
         "\\left(\\begin{matrix}a\\end{matrix}\\right)^{T}"},
        {"nested, both rewritten", src("\\begin{vmatrix} \\begin{bmatrix} a \\end{bmatrix} \\end{vmatrix}"), EQUIV,
         "\\left|\\begin{matrix}\\left[\\begin{matrix}a\\end{matrix}\\right]\\end{matrix}\\right|"},
        {"inside an argument", src("\\frac{\\begin{pmatrix} a \\end{pmatrix}}{2}"), CORPUS,
         "\\frac{\\left(\\begin{matrix}a\\end{matrix}\\right)}{2}"},
        {"Vmatrix has no rule", src("\\begin{Vmatrix} a \\end{Vmatrix}"), EQUIV, "\\begin{Vmatrix}a\\end{Vmatrix}"},
        {"waits for corpus", src("\\begin{pmatrix} a \\end{pmatrix}"), FAITHFUL, "\\begin{pmatrix}a\\end{pmatrix}"},
        {"pmatrix slot count", tree(root({environment("pmatrix", math({ch(U'a')}), {math_arg(ch(U'x'))})})), CORPUS,
         "ams/pmatrix-env-to-paren-matrix: \\begin{pmatrix} should carry exactly 0 explicit argument slots, got 1"},
        {"an empty slot counts", tree(root({environment("Bmatrix", math({}), {std::nullopt, std::nullopt})})), CORPUS,
         "ams/Bmatrix-env-to-brace-matrix: \\begin{Bmatrix} should carry exactly 0 explicit argument slots, got 2"},
        {"bmatrix slot count", tree(root({environment("bmatrix", math({}), {std::nullopt})})), CORPUS,
         "ams/bmatrix-env-to-bracket-matrix: \\begin{bmatrix} should carry exactly 0 explicit argument slots, got 1"},
        {"vmatrix slot count", tree(root({environment("vmatrix", math({}), {std::nullopt})})), CORPUS,
         "ams/vmatrix-env-to-vert-matrix: \\begin{vmatrix} should carry exactly 0 explicit argument slots, got 1"},
    });
}

TEST(AmsStructuralRules, Cfrac) {
    const auto x = [] { return math_arg(ch(U'x')); };
    check({
        {"plain", src("\\cfrac{1}{2}"), EQUIV, "\\frac{1}{2}"},
        {"continued", src("a_0 + \\cfrac{1}{a_1 + \\cfrac{1}{a_2}}"), EQUIV, "a_{0}+\\frac{1}{a_{1}+\\frac{1}{a_{2}}}"},
        {"scripts stay", src("\\cfrac{1}{2}^2"), EQUIV, "\\frac{1}{2}^{2}"},
        {"waits for equiv", src("\\cfrac{1}{2}"), CORPUS, "\\cfrac{1}{2}"},
        {"left alignment declined", src("\\cfrac[l]{1}{2}"), EQUIV, "\\cfrac[l]{1}{2}"},
        {"declined outer, rewritten inner", src("\\cfrac[r]{1}{1+\\cfrac{1}{x}}"), EQUIV,
         "\\cfrac[r]{1}{1+\\frac{1}{x}}"},
        {"empty alignment", src("\\cfrac[]{1}{2}"), EQUIV, "\\frac{1}{2}"},
        {"slot count", tree(root({command("cfrac", {x(), x()})})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac should carry exactly 3 explicit argument slots, got 2"},
        {"no slots", tree(root({command("cfrac")})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac should carry exactly 3 explicit argument slots, got 0"},
        {"mandatory alignment", tree(root({cfrac(mandatory_arg(sn::ArgumentValue::CSName{"l"}), x(), x())})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac alignment should be an optional argument"},
        {"alignment of math", tree(root({cfrac(optional_arg(sn::ArgumentValue::MathContent{ch(U'l')}), x(), x())})),
         EQUIV, "ams/cfrac-to-frac: \\cfrac alignment should be a control-sequence name"},
        {"alignment checked first", tree(root({cfrac(mandatory_arg(sn::ArgumentValue::CSName{"l"}), {}, {})})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac alignment should be an optional argument"},
        {"missing numerator", tree(root({cfrac({}, {}, x())})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac numerator should be a mandatory math argument"},
        {"optional numerator", tree(root({cfrac({}, optional_arg(sn::ArgumentValue::MathContent{ch(U'x')}), x())})),
         EQUIV, "ams/cfrac-to-frac: \\cfrac numerator should be a mandatory math argument"},
        {"text denominator", tree(root({cfrac({}, x(), text_arg(text("x")))})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac denominator should be math content"},
        {"an aligned form is still checked", tree(root({cfrac(csname("l"), x(), {})})), EQUIV,
         "ams/cfrac-to-frac: \\cfrac denominator should be a mandatory math argument"},
    });
}

TEST(AmsStructuralRules, Substack) {
    const auto subarray = [](std::string body) { return "\\begin{subarray}{c}" + body + "\\end{subarray}"; };
    check({
        {"two rows", src("\\sum_{\\substack{i<n \\\\ j<m}} a_{ij}"), FAITHFUL,
         "\\sum_{" + subarray("i<n\\\\j<m") + "}a_{ij}"},
        {"one atom", src("\\substack x"), FAITHFUL, subarray("x")},
        {"one braced row", src("\\prod_{\\substack{p}}"), FAITHFUL, "\\prod_{" + subarray("p") + "}"},
        {"a fence body is kept with its fences", src("\\substack{\\left(a\\right)}"), FAITHFUL,
         subarray("\\left(a\\right)")},
        {"nested", src("\\substack{\\substack{a \\\\ b} \\\\ c}"), FAITHFUL,
         subarray(subarray("a\\\\b") + "\\\\c")},
        {"waits for faithful", src("\\substack{a}"), AUTHORING, "\\substack{a}"},
        {"a command body is wrapped", tree(root({command("substack", {math_arg(command("alpha"))})})), FAITHFUL,
         subarray("\\alpha")},
        {"an explicit group body is written as its items, as the argument's braces were",
         tree(root({command("substack", {math_arg(math({ch(U'a'), ch(U'b')}))})})), FAITHFUL, subarray("ab")},
        {"slot count", tree(root({command("substack")})), FAITHFUL,
         "ams/substack-expand: \\substack should carry exactly 1 explicit argument slots, got 0"},
        {"empty body slot", tree(root({command("substack", {std::nullopt})})), FAITHFUL,
         "ams/substack-expand: \\substack body should be a mandatory math argument"},
        {"text body", tree(root({command("substack", {text_arg(text("a"))})})), FAITHFUL,
         "ams/substack-expand: \\substack body should be math content"},
    });
}

TEST(AmsStructuralRules, Idotsint) {
    check({
        {"alone", src("\\idotsint f"), FAITHFUL, "\\int\\cdots\\int f"},
        {"script base", src("\\idotsint_a^b f"), FAITHFUL, "\\int\\cdots\\int_{a}^{b}f"},
        {"subscript only", src("x\\idotsint_V"), FAITHFUL, "x\\int\\cdots\\int_{V}"},
        {"limits form", src("\\idotsint\\limits_a^b f"), FAITHFUL,
         "\\!\\!\\mathop{\\,\\,\\int\\cdots\\int}\\limits_{a}^{b}f"},
        {"limits form, superscript only", src("\\idotsint\\limits^b"), FAITHFUL,
         "\\!\\!\\mathop{\\,\\,\\int\\cdots\\int}\\limits^{b}"},
        {"bare limits is not the limits form", src("\\idotsint\\limits"), FAITHFUL, "\\int\\cdots\\int\\limits"},
        {"nolimits is not the limits form", src("\\idotsint\\nolimits_a"), FAITHFUL, "\\int\\cdots\\int\\nolimits_{a}"},
        {"in a script", src("x^\\idotsint"), FAITHFUL, "x^{\\int\\cdots\\int}"},
        {"script base in an argument", src("\\frac{\\idotsint_a}{2}"), FAITHFUL, "\\frac{\\int\\cdots\\int_{a}}{2}"},
        {"twice", src("\\idotsint\\idotsint\\limits_a"), FAITHFUL,
         "\\int\\cdots\\int\\!\\!\\mathop{\\,\\,\\int\\cdots\\int}\\limits_{a}"},
        {"waits for faithful", src("\\idotsint"), AUTHORING, "\\idotsint"},
        {"slotted limits is not the limits form",
         tree(root({command("idotsint"), scripted(command("limits", {math_arg(ch(U'x'))}), ch(U'a'), std::nullopt)})),
         FAITHFUL, "\\int\\cdots\\int\\limits{x}_{a}"},
        {"slot count", tree(root({command("idotsint", {math_arg(ch(U'x'))})})), FAITHFUL,
         "ams/idotsint-expand: \\idotsint should carry exactly 0 explicit argument slots, got 1"},
    });
}

// The checks in the order the rules make them, and every decline: a node
// of another kind or name is left alone, a shape error changes nothing.
TEST(AmsStructuralRules, DeclinesLeaveTheTree) {
    struct DeclineCase {
        const RewriteRule* rule;
        SyntaxNode node;
    };
    const auto x = [] { return math_arg(ch(U'x')); };
    const DeclineCase cases[] = {
        {&ams_rules::FENCED_MATRIX_ENV_RULES[2], command("pmatrix", {x()})},
        {&ams_rules::FENCED_MATRIX_ENV_RULES[2], environment("bmatrix", math({}))},
        {&ams_rules::FENCED_MATRIX_ENV_RULES[0], environment("bmatrix", math({}))},
        {&ams_rules::FENCED_MATRIX_ENV_RULES[1], environment("Bmatrix", math({}))},
        {&ams_rules::FENCED_MATRIX_ENV_RULES[3], environment("Vmatrix", math({}))},
        {&ams_rules::CFRAC_TO_FRAC, environment("cfrac", math({}))},
        {&ams_rules::CFRAC_TO_FRAC, infix("cfrac", ch(U'a'), ch(U'b'))},
        {&ams_rules::CFRAC_TO_FRAC, command("frac", {x(), x()})},
        {&ams_rules::CFRAC_TO_FRAC, cfrac(csname("c"), x(), x())},
        {&ams_rules::SUBSTACK_EXPAND, command("substackx", {x()})},
        {&ams_rules::SUBSTACK_EXPAND, SyntaxNode::Declarative{"substack", {}}},
        {&ams_rules::IDOTSINT_EXPAND, command("iiint")},
        {&ams_rules::IDOTSINT_EXPAND, ch(U'x')},
    };
    for (const DeclineCase& c : cases) {
        SCOPED_TRACE(to_string(c.rule->meta().key) + " on " + written(tree(root({c.node}))));
        auto document = testing::tree_document(root({c.node}));
        syntax::Ast& ast = document.ast_mut();
        const NodeId node = ast.children(ast.root())[0];
        const std::string before = testing::compact(ast);
        const std::size_t count = ast.node_count();
        RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
        const RuleResult result = c.rule->apply(ctx, node);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        EXPECT_EQ(testing::compact(ast), before);
        EXPECT_EQ(ast.node_count(), count);
    }
}

// The rewrites free what they replace and leave no detached node behind.
TEST(AmsStructuralRules, NoNodeLeftBehind) {
    const char* sources[] = {
        "\\begin{pmatrix} a & b \\end{pmatrix}",
        "\\cfrac{1}{2}",
        "\\cfrac[l]{1}{2}",
        "\\substack{a \\\\ b}",
        "\\substack x",
        "\\idotsint",
        "\\idotsint_a^b",
        "\\idotsint\\limits_a^b",
        "x^{\\idotsint_a}",
    };
    const TransformContext engine = testing::make_engine(parse_context(), EQUIV, structural_rules());
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        auto document = testing::parse_document(parse_context(), source);
        syntax::Ast& ast = document.ast_mut();
        ASSERT_TRUE(engine.run_with(ast, parse_context(), engine.options));
        EXPECT_EQ(ast.node_count(), testing::reachable(ast));
    }
}

// `\cfrac` hands its very argument nodes to `\frac`; the fenced matrices
// move their body into the new environment.
TEST(AmsStructuralRules, MovedAndCopiedNodes) {
    auto document = testing::parse_document(parse_context(), "\\cfrac{a}{b}");
    syntax::Ast& ast = document.ast_mut();
    const NodeId node = ast.children(ast.root())[0];
    const NodeId numerator = *ast.node(node).args()->at(1)->value.content();
    const NodeId denominator = *ast.node(node).args()->at(2)->value.content();
    RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
    ASSERT_EQ(ams_rules::CFRAC_TO_FRAC.apply(ctx, node).value(), RuleOutcome::Applied);
    const auto* frac = ast.node(node).get_if<Node::Command>();
    ASSERT_NE(frac, nullptr);
    EXPECT_EQ(frac->name, "frac");
    EXPECT_TRUE(frac->known);
    ASSERT_EQ(frac->args.size(), 2u);
    EXPECT_EQ(frac->args[0]->value.content(), numerator);
    EXPECT_EQ(frac->args[1]->value.content(), denominator);
    EXPECT_TRUE(std::holds_alternative<sn::ArgumentKind::Mandatory>(frac->args[1]->kind.value));
    EXPECT_EQ(ast.parent_link(denominator)->slot, syntax::Slot::argument(1));

    auto matrix_document = testing::parse_document(parse_context(), "\\begin{Bmatrix} a \\end{Bmatrix}");
    syntax::Ast& tree = matrix_document.ast_mut();
    const NodeId env = tree.children(tree.root())[0];
    const NodeId body = tree.node(env).get_if<Node::Environment>()->body;
    RuleContext matrix_ctx{tree, *parse_context().math(), *parse_context().text()};
    ASSERT_EQ(ams_rules::FENCED_MATRIX_ENV_RULES[0].apply(matrix_ctx, env).value(), RuleOutcome::Applied);
    const auto* fence = tree.node(env).get_if<Node::Group>();
    ASSERT_NE(fence, nullptr);
    EXPECT_EQ(fence->kind, sn::GroupKind(sn::GroupKind::Delimited{sn::Delimiter::control("{"),
                                                                  sn::Delimiter::control("}")}));
    EXPECT_EQ(fence->mode, ContentMode::Math);
    ASSERT_EQ(fence->children.size(), 1u);
    const auto* matrix = tree.node(fence->children[0]).get_if<Node::Environment>();
    ASSERT_NE(matrix, nullptr);
    EXPECT_EQ(matrix->name, "matrix");
    EXPECT_TRUE(matrix->known);
    EXPECT_TRUE(matrix->args.empty());
    EXPECT_EQ(matrix->body, body);
    EXPECT_EQ(tree.parent_id(body), fence->children[0]);
}

TEST(AmsStructuralRules, ReplaceWithMathNodesNeedsAValue) {
    auto document = testing::parse_document(parse_context(), "\\idotsint");
    syntax::Ast& ast = document.ast_mut();
    RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
    EXPECT_EQ(internal_message([&] {
                  ams_rules::idotsint_expand::replace_with_math_nodes(ctx, ast.children(ast.root())[0], {});
              }),
              "idotsint expansions always emit at least one node");
}

// Each trigger is rewritten once and leaves no trigger behind, so one pass
// does the work and the second finds nothing; a declined `\cfrac[l]` stays
// without failing the contract.
TEST(AmsStructuralRules, ReportCounts) {
    struct ReportCase {
        std::string source;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> rules;
    };
    const ReportCase cases[] = {
        {"\\begin{pmatrix} a \\end{pmatrix}\\begin{pmatrix} b \\end{pmatrix}", 2,
         {{2, 0, {"pmatrix-env-to-paren-matrix", PackageName::Ams}}}},
        {"\\cfrac[l]{1}{2}", 1, {{0, 1, {"cfrac-to-frac", PackageName::Ams}}}},
        {"\\idotsint\\limits_a^b", 2, {{1, 0, {"idotsint-expand", PackageName::Ams}}}},
        {"\\substack{a}", 2, {{1, 0, {"substack-expand", PackageName::Ams}}}},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(c.source);
        const testing::RunResult result = normalize(src(c.source), EQUIV);
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(result.report.rewrite.iterations, c.iterations);
        EXPECT_EQ(result.report.rewrite.rules, c.rules);
    }
}

// Nodes made through the document interface (not known) are rewritten once,
// never repeatedly.
TEST(AmsStructuralRules, DocumentMadeNodesDoNotSpin) {
    const TransformContext engine = testing::make_engine(parse_context(), EQUIV, structural_rules());
    for (const char* name : {"pmatrix", "Bmatrix", "bmatrix", "vmatrix"}) {
        SCOPED_TRACE(name);
        syntax::document::Document document;
        auto body = document.create_group(ContentMode::Math);
        ASSERT_TRUE(body);
        auto env = document.create_environment(name, {}, *body);
        ASSERT_TRUE(env);
        ASSERT_TRUE(document.append_child(document.root(), *env));
        auto report = engine.run_with_report(document.ast_mut(), parse_context(), engine.options);
        ASSERT_TRUE(report) << report.error().to_string();
        EXPECT_EQ(report->rewrite.iterations, 2u);
    }
    syntax::document::Document document;
    auto idotsint = document.create_command("idotsint", {});
    ASSERT_TRUE(idotsint);
    ASSERT_TRUE(document.append_child(document.root(), *idotsint));
    auto report = engine.run_with_report(document.ast_mut(), parse_context(), engine.options);
    ASSERT_TRUE(report) << report.error().to_string();
    EXPECT_EQ(testing::strip_spacing(testing::compact(document.ast())), "\\int\\cdots\\int");
}

// Real formulas with these rules' triggers normalise without error, leave
// none of the consumed triggers, and reach a fixed point.
TEST(AmsStructuralRules, CorpusFormulas) {
    const auto corpus = testing::corpus_lines_with({"matrix}", "\\cfrac", "\\substack", "\\idotsint"});
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const std::vector<std::string>& lines = *corpus;
    const TransformContext engine = testing::make_engine(parse_context(), EQUIV, structural_rules());
    std::size_t rewritten = 0;
    for (const std::string& line : lines) {
        auto outcome = parse::parse_source(parse_context(), line, parse::ParseConfig{});
        if (!outcome.document || outcome.document->read_only()) continue;
        syntax::Ast& ast = outcome.document->ast_mut();
        auto first = engine.run_with_report(ast, parse_context(), engine.options);
        ASSERT_TRUE(first) << line << ": " << first.error().to_string();
        auto second = engine.run_with_report(ast, parse_context(), engine.options);
        ASSERT_TRUE(second) << line << ": " << second.error().to_string();
        EXPECT_EQ(second->rewrite.iterations, 1u) << line;
        if (first->rewrite.iterations > 1) ++rewritten;
    }
    EXPECT_GT(rewritten, 0u);
}

}  // namespace
}  // namespace quorvel::transform
