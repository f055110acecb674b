// The renames, spacing merges, spacing aliases, line breaks and long-arrow
// rules through the whole pipeline: rule, input, profile, expected output.
// Sources the parser reads are parsed; inputs with argument slots are built
// as exchange trees.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"
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

std::optional<sn::Argument> mandatory(sn::ArgumentValue value) {
    return sn::Argument{sn::ArgumentKind::Mandatory{}, false, std::move(value)};
}
std::optional<sn::Argument> dimension(std::string text) { return mandatory(sn::ArgumentValue::Dimension{text}); }
SyntaxNode text_group(std::vector<SyntaxNode> children) {
    return group(ContentMode::Text, std::move(children), sn::GroupKind::Implicit{});
}
SyntaxNode math_group(std::vector<SyntaxNode> children) {
    return group(ContentMode::Math, std::move(children), sn::GroupKind::Implicit{});
}
SyntaxNode chars(std::string_view s) {
    std::vector<SyntaxNode> out;
    for (char c : s) out.push_back(ch(static_cast<char32_t>(c)));
    return out.size() == 1 ? std::move(out[0]) : math_group(std::move(out));
}
// \name{arg} with one mandatory math argument.
SyntaxNode unary(std::string name, std::string_view arg) { return command(std::move(name), {math_arg(chars(arg))}); }

struct Input {
    std::string source;           // parsed when not empty
    std::optional<SyntaxNode> tree;  // otherwise this exchange tree
};
Input src(std::string s) { return {std::move(s), std::nullopt}; }
Input tree(SyntaxNode node) { return {"", std::move(node)}; }

struct Outcome {
    std::string output;
    std::string error;
    TransformReport report;
};

Outcome normalize(const Input& input, std::uint8_t mask, TransformOptions options = TransformOptions{},
                  RuleSelection selection = RuleSelection::all()) {
    static const auto context = testing::make_parse_context();
    const TransformContext engine = testing::make_engine(*context, mask, std::move(selection));
    auto document = input.tree ? testing::tree_document(*input.tree) : testing::parse_document(*context, input.source);
    auto result = testing::run(engine, *context, document.ast_mut(), options);
    return {result.output, result.error, result.report};
}

std::string mask_name(std::uint8_t mask) {
    switch (mask) {
        case AUTHORING: return "authoring";
        case FAITHFUL: return "faithful";
        case CORPUS: return "corpus";
        default: return "equiv";
    }
}

struct RuleCase {
    const char* rule;  // the rule the case is about
    Input input;
    std::uint8_t mask;
    std::string expected;
};

void check(const std::vector<RuleCase>& cases) {
    for (const RuleCase& c : cases) {
        SCOPED_TRACE(std::string(c.rule) + " at " + mask_name(c.mask) + ": " +
                     (c.input.tree ? "(tree) " + c.expected : c.input.source));
        const Outcome outcome = normalize(c.input, c.mask);
        EXPECT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.output, testing::strip_spacing(c.expected));
    }
}

TEST(TransformRules, BareRenamesThroughTheParser) {
    check({
        {"owns-to-ni", src("\\owns_1"), AUTHORING, "\\ni_{1}"},
        {"ge-to-geq", src("\\ge^x"), AUTHORING, "\\geq^{x}"},
        {"le-to-leq", src("a\\le b"), AUTHORING, "a\\leq b"},
        {"ne-to-neq, lnot-to-neg", src("\\ne\\lnot"), AUTHORING, "\\neq\\neg"},
        {"ams character aliases",
         src("\\Doteq\\doublecap\\gggtr\\llless\\trianglerighteq\\unlhd\\vartriangleleft\\vartriangleright"),
         AUTHORING, "\\doteqdot\\Cap\\ggg\\lll\\unrhd\\trianglelefteq\\lhd\\rhd"},
        {"physics character aliases", src("\\divsymbol\\dotproduct"), AUTHORING, "\\divisionsymbol\\vdot"},
        {"faithful rules wait for faithful", src("\\gets\\rightarrow\\Join"), AUTHORING, "\\gets\\rightarrow\\Join"},
        {"base character normalisations", src("\\gets\\land\\lor\\rightarrow"), FAITHFUL,
         "\\leftarrow\\wedge\\vee\\to"},
        {"semantic dots", src("\\dotsb\\dotsm\\dotsi\\dotsc\\dotso"), FAITHFUL,
         "\\cdots\\cdots\\cdots\\ldots\\ldots"},
        {"ams character normalisations",
         src("\\Join\\centerdot\\doublecup\\leadsto\\lozenge\\restriction\\square\\vartriangle"), FAITHFUL,
         "\\bowtie\\cdot\\Cup\\rightsquigarrow\\Diamond\\upharpoonright\\Box\\bigtriangleup"},
        {"cross-aliases-to-times", src("a\\cp b\\cross c\\crossproduct d"), FAITHFUL, "a\\times b\\times c\\times d"},
        {"every level up to equiv", src("\\owns\\rightarrow"), EQUIV, "\\ni\\to"},
    });
}

TEST(TransformRules, OneNodeReplacementsThroughTheParser) {
    check({
        {"ast-to-asterisk", src("a\\ast b"), AUTHORING, "a*b"},
        {"prime-to-prime-node", src("f^\\prime"), AUTHORING, "f'"},
        {"prime-to-prime-node, baseline", src("f\\prime"), AUTHORING, "f\\prime"},
        {"prime-to-prime-node, baseline", src("f\\prime"), CORPUS, "f'"},
        {"break-to-linebreak", src("a \\break b"), AUTHORING, "a\\\\b"},
        {"newline-to-linebreak", src("a\\newline b"), AUTHORING, "a\\\\b"},
        {"control-space-to-tilde", src("x\\ y"), AUTHORING, "x~y"},
        {"control-space-to-tilde, script", src("x_\\ "), AUTHORING, "x_{~}"},
        {"space-to-tilde", src("a\\space b"), AUTHORING, "a~b"},
        {"space-to-tilde keeps the script", src("\\space^2"), AUTHORING, "~^{2}"},
        {"nobreakspace-to-tilde", src("a\\nobreakspace b"), AUTHORING, "a~b"},
        {"thinspace-to-comma-space", src("a\\thinspace b"), AUTHORING, "a\\,b"},
        {"negthinspace-to-neg-comma-space", src("a\\negthinspace b"), AUTHORING, "a\\!b"},
        {"hfil-to-hfill, hfilll-to-hfill", src("\\hfil\\hfilll"), AUTHORING, "\\hfill\\hfill"},
        {"gt-space-to-colon-space", src("a\\>b"), AUTHORING, "a\\:b"},
        {"impliedby-to-Longleftarrow", src("a \\impliedby b"), FAITHFUL, "a\\;\\Longleftarrow\\;b"},
        {"impliedby-to-Longleftarrow waits", src("a \\impliedby b"), AUTHORING, "a\\impliedby b"},
        {"impliedby: scripts move to the last node", src("\\impliedby^x"), FAITHFUL,
         "\\;\\Longleftarrow\\;^{x}"},
        {"implies-to-Longrightarrow", src("a\\implies b"), FAITHFUL, "a\\;\\Longrightarrow\\;b"},
        {"implies: a script base becomes a group", src("\\implies^x"), FAITHFUL, "{\\;\\Longrightarrow\\;}^{x}"},
    });
}

TEST(TransformRules, SpacingMergesThroughTheParser) {
    check({
        {"double-quad-to-qquad", src("a\\quad\\quad b"), AUTHORING, "a\\qquad b"},
        {"double-quad-to-qquad, lone", src("a\\quad b"), AUTHORING, "a\\quad b"},
        {"double-quad-to-qquad, three", src("\\quad\\quad\\quad"), AUTHORING, "\\qquad\\quad"},
        {"double-enspace-to-quad", src("\\enspace\\enspace"), AUTHORING, "\\quad"},
        {"double-enspace-to-quad, three", src("\\enspace\\enspace\\enspace"), AUTHORING, "\\quad\\enspace"},
        {"double-enspace-to-quad, then qquad", src("\\enspace\\enspace\\enspace\\enspace"), AUTHORING, "\\qquad"},
        {"double-enspace-to-quad, in text", src("\\text{a\\enspace\\enspace b}"), AUTHORING,
         "\\text{a\\enspace\\enspace b}"},
        {"double-enspace-to-quad, in a text argument's math", src("\\text{$\\enspace\\enspace$}"), AUTHORING,
         "\\text{$\\quad$}"},
        // The enspace merged in the first pass begins the run: the next pair
        // waits for it instead of pairing up behind it.
        {"double-enspace-to-quad, from the first of a run", src("\\,\\,\\,\\enspace\\enspace"), AUTHORING,
         "\\quad\\enspace"},
        {"small-spacer-merge, thin", src("\\,\\,\\,"), AUTHORING, "\\enspace"},
        {"small-spacer-merge, thick medium", src("\\;\\:"), AUTHORING, "\\enspace"},
        {"small-spacer-merge, medium thick", src("\\:\\;"), AUTHORING, "\\enspace"},
        {"small-spacer-merge, four thin", src("\\,\\,\\,\\,"), AUTHORING, "\\enspace\\,"},
        {"small-spacer-merge, later pair", src("\\,\\;\\:"), AUTHORING, "\\,\\enspace"},
        {"small-spacer-merge, two medium", src("\\:\\:"), AUTHORING, "\\:\\:"},
        {"small-spacer-merge, lone", src("a\\,b"), AUTHORING, "a\\,b"},
        {"small-spacer-merge, then double enspace", src("\\,\\,\\,\\;\\:"), AUTHORING, "\\quad"},
        // The group goes too: it guards nothing.
        {"small-spacer-merge, in a group", src("{a\\:\\;b}"), AUTHORING, "a\\enspace b"},
    });
}

TEST(TransformRules, AliasRenamesThroughTheParser) {
    check({
        {"widehat-to-hat", src("\\widehat{abc}"), EQUIV, "\\hat{abc}"},
        {"widehat-to-hat waits for equiv", src("\\widehat{abc}"), CORPUS, "\\widehat{abc}"},
        {"widetilde-to-tilde", src("\\widetilde x"), EQUIV, "\\tilde{x}"},
        {"bigg-class-variants-to-bigg", src("\\biggl(x\\biggr)"), CORPUS, "\\bigg(x\\bigg)"},
        {"big-class-variants-to-big", src("\\bigl[\\bigm|\\bigr]"), CORPUS, "\\big[\\big|\\big]"},
        {"big-class-variants-to-big waits for corpus", src("\\bigl["), FAITHFUL, "\\bigl["},
        {"dfrac-to-frac, tfrac-to-frac", src("\\dfrac{a}{b}\\tfrac ab"), CORPUS, "\\frac{a}{b}\\frac{a}{b}"},
        {"dbinom-and-tbinom-to-binom", src("\\dbinom{a}{b}\\tbinom12"), EQUIV, "\\binom{a}{b}\\binom{1}{2}"},
        {"vectorbold-to-vb", src("\\vectorbold{v}"), AUTHORING, "\\vb{v}"},
        {"vector aliases", src("\\vectorarrow{a}\\vectorunit{u}"), AUTHORING, "\\va{a}\\vu{u}"},
        {"derivative aliases",
         src("\\derivative{x}\\partialderivative{x}\\pderivative{x}\\fderivative{x}\\functionalderivative{x}"),
         AUTHORING, "\\dv{x}\\pdv{x}\\pdv{x}\\fdv{x}\\fdv{x}"},
        {"matrix aliases", src("\\diagonalmatrix{a}\\antidiagonalmatrix{a}\\matrixdeterminant{a}"), AUTHORING,
         "\\dmat{a}\\admat{a}\\mdet{a}"},
        {"named function aliases", src("\\sine{x}\\cosine{x}\\naturallogarithm{x}\\Probability{x}"), AUTHORING,
         "\\sin{x}\\cos{x}\\ln{x}\\Pr{x}"},
        {"quantity and trace aliases", src("\\quantity{x}\\evaluated{x}\\absolutevalue{x}\\Trace{x}\\trace{x}"),
         AUTHORING, "\\qty{x}\\eval{x}\\abs{x}\\Tr{x}\\tr{x}"},
    });
}

TEST(TransformRules, SpacingAliasesThroughTheParser) {
    check({
        {"control space in text stays", src("\\text{a\\ b}"), AUTHORING, "\\text{a\\ b}"},
        {"thinspace in text: the space is not doubled", src("\\text{a\\thinspace b}"), AUTHORING, "\\text{a\\,b}"},
        {"small spacers in text are left alone", src("\\text{\\,\\,\\,}"), AUTHORING, "\\text{\\,\\,\\,}"},
        {"mkern-to-mspace", src("\\mkern3mu x"), FAITHFUL, "\\mspace{3mu}x"},
        {"mskip-to-mspace", src("\\mskip 2mu"), FAITHFUL, "\\mspace{2mu}"},
        {"hskip-to-hspace", src("a\\hskip 1em b"), AUTHORING, "a\\hspace{1em}b"},
        {"hskip-to-hspace in text", src("\\text{\\hskip 1em x}"), AUTHORING, "\\text{\\hspace{1em}x}"},
        {"mkern-to-mspace waits for faithful", src("\\mkern3mu"), AUTHORING, "\\mkern 3mu"},
    });
}

// Shapes the parser does not make: argument slots kept on any command, and
// texts with given spacing.
TEST(TransformRules, RenamesOnBuiltTrees) {
    check({
        {"alias renames never check slots", tree(root({unary("hfil", "x")})), AUTHORING, "\\hfill{x}"},
        {"alias renames keep an empty slot",
         tree(root({command("dfrac", {std::nullopt, math_arg(ch(U'a')), math_arg(ch(U'b'))})})), CORPUS,
         "\\frac{a}{b}"},
        {"control space in a text argument",
         tree(root({command("text", {text_arg(text_group({text("a"), command(" "), text("b")}))})})), AUTHORING,
         "\\text{a\\ b}"},
        {"mskip-to-mspace copies the dimension text",
         tree(root({command("mskip", {dimension("2mu plus 1mu")})})), FAITHFUL, "\\mspace{2mu plus 1mu}"},
        {"control space as operator-name content",
         tree(root({command("operatorname", {star_arg(false), opname_arg(command(" "))})})), AUTHORING,
         "\\operatorname{~}"},
        {"control space as text content stays", tree(root({command("text", {text_arg(command(" "))})})), AUTHORING,
         "\\text{\\ }"},
        {"control space in a text group stays",
         tree(root({command("mbox", {text_arg(text_group({command(" ")}))})})), AUTHORING, "\\mbox{\\ }"},
    });
}

// The space repair after a spacing command: exactly one leading space of a
// following text goes, nothing else.
TEST(TransformRules, SpaceRepair) {
    struct Case {
        std::string command;
        std::optional<sn::Argument> arg;
        SyntaxNode next;
        std::uint8_t mask;
        std::string replaced_by;
        std::string text_after;  // the value of the first Text node after the run
    };
    const Case cases[] = {
        {"thinspace", std::nullopt, text(" b"), AUTHORING, ",", "b"},
        {"negthinspace", std::nullopt, text("  b"), AUTHORING, "!", " b"},
        {"mkern", dimension("3mu"), text(" b"), FAITHFUL, "mspace", "b"},
        {"mskip", dimension("3mu"), text(" b"), FAITHFUL, "mspace", "b"},
        {"hskip", dimension("1em"), text("b "), AUTHORING, "hspace", "b "},
        {"thinspace", std::nullopt, text(" "), AUTHORING, ",", ""},
        {"thinspace", std::nullopt, command("textbf", {text_arg(text(" b"))}), AUTHORING, ",", " b"},
    };
    static const auto context = testing::make_parse_context();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command + " before \"" + c.text_after + "\"");
        SyntaxNode::ArgumentSlots args;
        if (c.arg) args.push_back(c.arg);
        const SyntaxNode input = root({command("text", {text_arg(text_group({command(c.command, args), c.next}))})});
        const TransformContext engine = testing::make_engine(*context, c.mask);
        auto document = testing::tree_document(input);
        const syntax::Ast& ast = document.ast();
        ASSERT_TRUE(engine.run_with(document.ast_mut(), *context, engine.options));
        const auto spacer = ast.find_impl(ast.root(), [&](const Node& n) {
            return n.is<Node::Command>() && *n.name() == c.replaced_by;
        });
        ASSERT_TRUE(spacer);
        const auto texts = ast.find_impl(ast.root(), [](const Node& n) { return n.is<Node::Text>(); });
        if (c.text_after.empty()) {
            EXPECT_FALSE(texts);  // finalisation drops the emptied text
            continue;
        }
        ASSERT_TRUE(texts);
        EXPECT_EQ(ast.node(*texts).get_if<Node::Text>()->value, c.text_after);
    }
}

TEST(TransformRules, SlotShapeErrors) {
    struct Case {
        SyntaxNode tree;
        std::uint8_t mask;
        std::string error;
    };
    const std::optional<sn::Argument> optional_dimension = dim_arg("3mu");
    const Case cases[] = {
        {root({command("owns", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/owns-to-ni: \\owns should carry exactly 0 explicit argument slots, got 1"},
        {root({command("ne", {std::nullopt, std::nullopt})}), AUTHORING,
         "base/ne-to-neq: \\ne should carry exactly 0 explicit argument slots, got 2"},
        {root({command("ast", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/ast-to-asterisk: \\ast should carry exactly 0 explicit argument slots, got 1"},
        {root({command(" ", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/control-space-to-tilde: \\  should carry exactly 0 explicit argument slots, got 1"},
        {root({command("prime", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/prime-to-prime-node: \\prime should carry exactly 0 explicit argument slots, got 1"},
        {root({command("break", {std::nullopt})}), AUTHORING,
         "base/break-to-linebreak: \\break should carry exactly 0 explicit argument slots, got 1"},
        {root({command("quad", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/double-quad-to-qquad: \\quad should carry exactly 0 explicit argument slots, got 1"},
        {root({command("enspace", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/double-enspace-to-quad: \\enspace should carry exactly 0 explicit argument slots, got 1"},
        // Made by edits: the first `\enspace` has no partner, the second fails.
        {root({command("enspace"), command("enspace", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/double-enspace-to-quad: \\enspace should carry exactly 0 explicit argument slots, got 1"},
        {root({command(";", {math_arg(ch(U'x'))})}), AUTHORING,
         "base/small-spacer-merge-to-enspace: \\; should carry exactly 0 explicit argument slots, got 1"},
        {root({command("mkern")}), FAITHFUL,
         "base/mkern-to-mspace: \\mkern should carry exactly 1 explicit argument slots, got 0"},
        {root({command("mkern", {optional_dimension})}), FAITHFUL,
         "base/mkern-to-mspace: \\mkern should carry a mandatory dimension argument"},
        {root({command("hskip", {std::nullopt})}), AUTHORING,
         "base/hskip-to-hspace: \\hskip should carry a mandatory dimension argument"},
        {root({command("mskip", {math_arg(ch(U'x'))})}), FAITHFUL,
         "base/mskip-to-mspace: \\mskip argument should carry a dimension"},
        {root({command("impliedby", {math_arg(ch(U'x'))})}), FAITHFUL,
         "ams/impliedby-to-Longleftarrow: \\impliedby should carry exactly 0 explicit argument slots, got 1"},
        {root({command("implies", {math_arg(ch(U'x'))})}), FAITHFUL,
         "ams/implies-to-Longrightarrow: \\implies should carry exactly 0 explicit argument slots, got 1"},
        {root({command("cross", {math_arg(ch(U'x'))})}), FAITHFUL,
         "physics/cross-aliases-to-times: \\cross should carry exactly 0 explicit argument slots, got 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const auto before = testing::strip_spacing(testing::compact(testing::tree_document(c.tree).ast()));
        const Outcome outcome = normalize(tree(c.tree), c.mask);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.output, before);  // unchanged
    }
}

// A run of small spacers merges from its first spacer; the others decline.
TEST(TransformRules, ReportCounts) {
    struct Case {
        Input input;
        std::uint8_t mask;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> rules;
    };
    const Case cases[] = {
        {src("\\owns_1"), AUTHORING, 2, {{1, 0, {"owns-to-ni", PackageName::Base}}}},
        {src("x+y"), EQUIV, 1, {}},
        // The third quad has no partner; in the second pass the qquad is no
        // trigger and the quad declines again.
        {src("\\quad\\quad\\quad"), AUTHORING, 2, {{1, 2, {"double-quad-to-qquad", PackageName::Base}}}},
        // The enspace made in the first pass is offered in the second.
        {src("\\,\\,\\,\\,"), AUTHORING, 2,
         {{1, 2, {"small-spacer-merge-to-enspace", PackageName::Base}},
          {0, 1, {"double-enspace-to-quad", PackageName::Base}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input.source);
        const Outcome outcome = normalize(c.input, c.mask);
        ASSERT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.report.rewrite.iterations, c.iterations);
        EXPECT_EQ(outcome.report.rewrite.rules, c.rules);
    }
}

TEST(TransformRules, IterationLimitAndEmptyPlan) {
    TransformOptions one;
    one.rewrite.max_iterations = 1;
    TransformOptions none;
    none.rewrite.max_iterations = 0;
    EXPECT_EQ(normalize(src("\\owns"), AUTHORING, one).error, "rewrite exceeded max iterations: 1");
    EXPECT_EQ(normalize(src("\\owns"), AUTHORING, none).error, "rewrite exceeded max iterations: 0");
    const Outcome empty = normalize(src("\\owns"), AUTHORING, none, RuleSelection::only({}));
    EXPECT_EQ(empty.error, "");
    EXPECT_EQ(empty.output, "\\owns");
    EXPECT_EQ(empty.report.rewrite.iterations, 0u);
}

// A command made through the document interface is not known; each rule
// still changes it at most once, so no rule spins.
TEST(TransformRules, DocumentMadeNodesDoNotSpin) {
    const auto context = testing::make_parse_context(
        {"base", "ams", "braket", "physics", "textmacros", "bboldx", "boldsymbol"});
    for (const RewriteRule* rule : ALL_RULES) {
        const RuleMeta& meta = rule->meta();
        const TransformContext engine = testing::make_engine(*context, EQUIV, RuleSelection::only({meta.key}));
        for (const RuleTarget& trigger : meta.triggers) {
            SCOPED_TRACE(to_string(meta.key) + " on " + std::string(trigger.name));
            syntax::document::Document document;
            for (int i = 0; i < 2; ++i) {
                auto made = document.create_command(std::string(trigger.name), {});
                ASSERT_TRUE(made);
                ASSERT_TRUE(document.append_child(document.root(), *made));
            }
            auto report = engine.run_with_report(document.ast_mut(), *context, engine.options);
            if (report) {
                EXPECT_LE(report->rewrite.iterations, 3u);
            } else {
                EXPECT_EQ(report.error().to_string().find("max iterations"), std::string::npos)
                    << report.error().to_string();
            }
        }
    }
}

// Every rule declines a plain character it does not target.
TEST(TransformRules, EveryRuleDeclinesAForeignNode) {
    const auto context = testing::make_parse_context();
    syntax::Ast ast = syntax::Ast::with_root_mode(ContentMode::Math);
    const NodeId x = ast.new_node(Node::Char{U'x'});
    ast.append_child(ast.root(), x);
    RuleContext ctx{ast, *context->math(), *context->text()};
    for (const RewriteRule* rule : ALL_RULES) {
        SCOPED_TRACE(to_string(rule->meta().key));
        const RuleResult result = rule->apply(ctx, x);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
    }
}

// Every corpus line that parses normalises at every profile, and the result
// is a fixed point: a second run finds nothing to change.
TEST(TransformCorpus, EveryLineNormalises) {
    const std::string dir = QUORVEL_CORPUS_DIR;
    std::vector<std::string> lines;
    for (const char* name : {"/arxiv.txt", "/exam.txt"}) {
        std::ifstream in(dir + name);
        if (!in) GTEST_SKIP() << "corpus not found at " << dir;
        std::string line;
        // A sample keeps the sanitised build quick.
        for (std::size_t i = 0; std::getline(in, line); ++i)
            if (i % 25 == 0) lines.push_back(line);
    }
    const auto context = testing::make_parse_context();
    for (std::uint8_t mask : {AUTHORING, FAITHFUL, CORPUS, EQUIV}) {
        const TransformContext engine = testing::make_engine(*context, mask);
        std::size_t failures = 0;
        for (const std::string& line : lines) {
            auto outcome = parse::parse_source(*context, line, parse::ParseConfig{});
            if (!outcome.document || outcome.document->read_only()) continue;
            syntax::Ast& ast = outcome.document->ast_mut();
            auto first = engine.run_with_report(ast, *context, engine.options);
            auto second = first ? engine.run_with_report(ast, *context, engine.options) : std::move(first);
            if (!second || second->rewrite.iterations != 1) {
                if (failures++ < 5)
                    ADD_FAILURE() << mask_name(mask) << ": " << line << ": "
                                  << (second ? "not a fixed point" : second.error().to_string());
            }
        }
        EXPECT_EQ(failures, 0u) << mask_name(mask);
    }
}

TEST(TransformRuleContext, Checks) {
    using S = RuleScopedContext;
    const CommandDisplay over = CommandDisplay::command("over");
    const CommandDisplay cfrac = CommandDisplay::command("cfrac");
    syntax::Ast ast = syntax::Ast::with_root_mode(ContentMode::Math);
    const NodeId x = ast.new_node(Node::Char{U'x'});
    const auto math = [&](syntax::ast::ArgumentKind kind) {
        return std::optional<syntax::ast::Argument>(
            syntax::ast::Argument{kind, false, syntax::ast::ArgumentValue::MathContent{x}});
    };
    const auto delim = std::optional<syntax::ast::Argument>(syntax::ast::Argument{
        sn::ArgumentKind::Mandatory{}, false, syntax::ast::ArgumentValue::Delimiter{sn::Delimiter::character(U'(')}});
    const std::optional<syntax::ast::Argument> empty;

    EXPECT_EQ(S::expect_no_args(1, over)->text, "\\over should carry exactly 0 explicit argument slots, got 1");
    EXPECT_FALSE(S::expect_arg_len(3, 3, cfrac));
    EXPECT_EQ(S::expect_arg_len(2, 3, CommandDisplay::environment("pmatrix"))->text,
              "\\begin{pmatrix} should carry exactly 3 explicit argument slots, got 2");

    EXPECT_EQ(S::mandatory_delimiter(empty, over, "left delimiter").error().text,
              "\\over left delimiter should be a mandatory delimiter argument");
    EXPECT_EQ(S::mandatory_delimiter(math(sn::ArgumentKind::Mandatory{}), over, "left delimiter").error().text,
              "\\over left delimiter should be a delimiter");
    EXPECT_EQ(S::mandatory_delimiter(delim, over, "left delimiter").value(), sn::Delimiter::character(U'('));

    EXPECT_EQ(S::mandatory_math_content(math(sn::ArgumentKind::Optional{}), cfrac, "numerator").error().text,
              "\\cfrac numerator should be a mandatory math argument");
    EXPECT_EQ(S::mandatory_math_content(delim, cfrac, "numerator").error().text,
              "\\cfrac numerator should be math content");
    EXPECT_EQ(S::mandatory_math_content(math(sn::ArgumentKind::Mandatory{}), cfrac, "numerator").value(), x);

    EXPECT_EQ(S::optional_group_math_content(empty, cfrac, "index").value(), std::nullopt);
    EXPECT_EQ(S::optional_group_math_content(math(sn::ArgumentKind::Optional{}), cfrac, "index").error().text,
              "\\cfrac optional index should be a braced group");
    EXPECT_EQ(S::optional_group_math_content(delim, cfrac, "index").error().text,
              "\\cfrac optional index should be a braced group");
    EXPECT_EQ(S::optional_group_math_content(math(sn::ArgumentKind::Group{}), cfrac, "index").value(), x);
}

TEST(TransformRuleContext, AliasRenameKeepsEverySlot) {
    const auto context = testing::make_parse_context();
    auto document = testing::tree_document(root({
        command("dfrac", {std::nullopt, math_arg(ch(U'a')), math_arg(ch(U'b'))}),
        infix("dfrac", ch(U'a'), ch(U'b')),
        SyntaxNode::Declarative{"dfrac", {}},
    }));
    syntax::Ast& ast = document.ast_mut();
    RuleContext ctx{ast, *context->math(), *context->text()};
    constexpr RuleTarget ALIASES[] = {{RuleTargetKind::Command, "tfrac"}, {RuleTargetKind::Command, "dfrac"}};
    const auto children = std::vector<NodeId>(ast.children(ast.root()).begin(), ast.children(ast.root()).end());
    const NodeId numerator = *ast.node(children[0]).args()->at(1)->value.content();

    EXPECT_EQ(macro_support::rename_prefix_command_alias(ctx, children[0], "frac", ALIASES).value(),
              RuleOutcome::Applied);
    EXPECT_EQ(macro_support::rename_prefix_command_alias(ctx, children[1], "frac", ALIASES).value(),
              RuleOutcome::Skipped);
    EXPECT_EQ(macro_support::rename_prefix_command_alias(ctx, children[2], "frac", ALIASES).value(),
              RuleOutcome::Skipped);
    EXPECT_EQ(macro_support::rename_prefix_command_alias(ctx, children[0], "frac", {}).value(),
              RuleOutcome::Skipped);

    const auto* renamed = ast.node(children[0]).get_if<Node::Command>();
    ASSERT_NE(renamed, nullptr);
    EXPECT_EQ(renamed->name, "frac");
    EXPECT_TRUE(renamed->known);
    ASSERT_EQ(renamed->args.size(), 3u);
    EXPECT_FALSE(renamed->args[0].has_value());
    EXPECT_EQ(renamed->args[1]->value.content(), numerator);  // the same content node
    EXPECT_EQ(ast.parent_id(numerator), children[0]);

    EXPECT_TRUE(ctx.match_command(children[0], "frac"));
    EXPECT_FALSE(ctx.match_command(children[1], "dfrac"));
    const auto infix_match = ctx.match_infix(children[1], "dfrac");
    ASSERT_TRUE(infix_match);
    EXPECT_EQ(ast.node(infix_match->left), Node(Node::Char{U'a'}));
}

TEST(TransformNodeBuilders, Serialize) {
    syntax::document::Document document;
    syntax::Ast& ast = document.ast_mut();
    auto append = [&](Node value) { ast.append_child(ast.root(), ast.new_node(std::move(value))); };
    append(helpers::bare_command_node("alpha"));
    append(helpers::prefix_command_node("frac", {}));
    append(Node::Char{U'x'});
    append(helpers::linebreak_command_node());
    append(Node::Char{U'y'});
    const NodeId left = ast.new_node(Node::Char{U'a'});
    const NodeId right = ast.new_node(Node::Char{U'b'});
    append(helpers::prefix_command_node("frac", helpers::infix_prefix_args(left, right, helpers::ContentKind::Math)));
    EXPECT_EQ(testing::strip_spacing(testing::compact(ast)), "\\alpha\\frac x\\\\y\\frac{a}{b}");
}


// ---- Rewrites that change a list's length -------------------------------------------------

// A long formula of one pattern repeated, whose rewrites remove siblings from
// (or insert them into) one long list: normalising 8 times the copies does
// about 8 times the work. An edit that moved or renumbered every later
// sibling, or a rule that walked the whole list on each rewrite, makes it
// about 64 times.
struct LinearCase {
    const char* family;
    const char* pattern;
    std::uint8_t mask;
    const char* one;  // one copy, normalised (compact, without optional spaces)
};

void PrintTo(const LinearCase& c, std::ostream* os) { *os << c.family << ": " << c.pattern; }

class ListEditingRewrites : public ::testing::TestWithParam<LinearCase> {};

TEST_P(ListEditingRewrites, StayLinear) {
    const LinearCase& c = GetParam();
    const parse::ParseContext& context = testing::parse_context();
    const TransformContext engine = testing::make_engine(context, c.mask);
    ASSERT_EQ(normalize(src(c.pattern), c.mask).output, c.one);
    auto work = [&](std::size_t copies) {
        std::string source;
        for (std::size_t i = 0; i < copies; ++i) source += c.pattern;
        auto document = testing::parse_document(context, source);
        return testing::work_of([&] { EXPECT_TRUE(engine.run_with(document.ast_mut(), context, engine.options)); });
    };
    const std::uint64_t small = work(1000);
    const std::uint64_t large = work(8000);
    EXPECT_GE(small, 1000u);
    EXPECT_LE(large, 12 * small) << c.pattern << ": " << small << " units for 1000 copies, " << large << " for 8000";
}

INSTANTIATE_TEST_SUITE_P(
    Families, ListEditingRewrites,
    ::testing::Values(LinearCase{"negation pairs", "a \\not= b ", AUTHORING, "a\\neq b"},
                      LinearCase{"negation pairs", "a \\not\\in b ", AUTHORING, "a\\notin b"},
                      LinearCase{"negation pairs", "\\not\\exists ", AUTHORING, "\\nexists"},
                      LinearCase{"negation pairs", "a \\not\\to b ", AUTHORING, "a\\nrightarrow b"},
                      LinearCase{"limit placement", "\\sum\\limits ", CORPUS, "\\sum"},
                      LinearCase{"limit placement", "\\int\\nolimits ", CORPUS, "\\int"},
                      LinearCase{"limit placement", "\\sum\\limits_a^b ", CORPUS, "\\sum_{a}^{b}"},
                      LinearCase{"spacing merges", "a\\quad\\quad b ", FAITHFUL, "a\\qquad b"},
                      LinearCase{"spacing merges", "a\\enspace\\enspace b ", FAITHFUL, "a\\quad b"},
                      LinearCase{"spacing merges", "a\\,\\,\\, b ", FAITHFUL, "a\\enspace b"},
                      LinearCase{"root family", "\\root 3 \\of x ", AUTHORING, "\\sqrt[3]{x}"},
                      LinearCase{"root family", "a\\uproot{2} b ", CORPUS, "ab"},
                      LinearCase{"spacing and hint drops", "a\\qquad b ", EQUIV, "ab"},
                      LinearCase{"spacing and hint drops", "a\\allowbreak b ", CORPUS, "ab"},
                      LinearCase{"stacked operators", "\\buildrel a \\over b ", CORPUS, "\\mathrel{\\mathop{\\mspace{0mu}b}^{a}}"},
                      LinearCase{"stacked operators", "\\buildrel a \\over b ", FAITHFUL,
                                 "\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}"},
                      LinearCase{"long arrows", "a \\implies b ", FAITHFUL, "a\\;\\Longrightarrow\\;b"},
                      LinearCase{"multiple integrals", "\\idotsint ", FAITHFUL, "\\int\\cdots\\int"},
                      LinearCase{"multiple integrals", "\\idotsint\\limits_a^b ", FAITHFUL,
                                 "\\!\\!\\mathop{\\,\\,\\int\\cdots\\int}\\limits_{a}^{b}"}),
    [](const ::testing::TestParamInfo<LinearCase>& info) { return "Case" + std::to_string(info.index); });


// ---- Rewrites at every level of a deep nest ----------------------------------------------

// One construct nested n deep, open^n x close^n, with the depth limit lifted:
// normalising 8 times as deep does about 8 times the work. A rewrite
// that walked the subtree below it at every level, or checked each attach
// against the whole path above it, makes it about 64 times.
struct NestedCase {
    const char* family;
    const char* open;
    const char* close;
    std::uint8_t mask;
    const char* one;  // one level, normalised (compact, without optional spaces)
    const char* prefix = "";  // written once, before the nest
    const char* centre = "x";
};

void PrintTo(const NestedCase& c, std::ostream* os) {
    *os << c.family << ": " << c.prefix << c.open << c.centre << c.close;
}

class NestedRewrites : public ::testing::TestWithParam<NestedCase> {};

TEST_P(NestedRewrites, StayLinear) {
    const NestedCase& c = GetParam();
    const parse::ParseContext& context = testing::parse_context();
    const TransformContext engine = testing::make_engine(context, c.mask);
    const std::string open = c.open;
    const std::string close = c.close;
    const std::string prefix = c.prefix;
    const std::string centre = c.centre;
    ASSERT_EQ(normalize(src(prefix + open + centre + close), c.mask).output, c.one);
    ASSERT_EQ(normalize(src(prefix + open + open + centre + close + close), c.mask).error, "");
    auto work = [&](std::size_t depth) {
        std::string source = prefix;
        for (std::size_t i = 0; i < depth; ++i) source += open;
        source += centre;
        for (std::size_t i = 0; i < depth; ++i) source += close;
        parse::ParseConfig config;
        config.max_group_depth = 4 * depth + 128;
        auto outcome = parse::parse_source(context, source, config);
        EXPECT_TRUE(outcome.document && outcome.diagnostics.empty());
        if (!outcome.document) return std::uint64_t{0};
        syntax::Ast ast = outcome.document->ast();
        return testing::work_of([&] { EXPECT_TRUE(engine.run_with(ast, context, engine.options)); });
    };
    const std::uint64_t small = work(1000);
    const std::uint64_t large = work(8000);
    EXPECT_GE(small, 1000u);
    EXPECT_LE(large, 12 * small) << small << " units for 1000 levels, " << large << " for 8000";
}

INSTANTIATE_TEST_SUITE_P(
    Families, NestedRewrites,
    ::testing::Values(
        NestedCase{"infix fractions", "{a\\over ", "}", FAITHFUL, "\\frac{a}{x}"},
        NestedCase{"infix fractions", "{a\\over ", "}", AUTHORING, "\\frac{a}{x}"},
        NestedCase{"infix fractions", "{a\\over ", "}", EQUIV, "\\frac{a}{x}"},
        NestedCase{"infix fractions", "{", "\\over a}", FAITHFUL, "\\frac{x}{a}"},
        NestedCase{"infix fractions", "{", "\\over a}", EQUIV, "\\frac{x}{a}"},
        NestedCase{"infix fractions", "{a\\atop ", "}", FAITHFUL, "\\genfrac..{0pt}{}{a}{x}"},
        NestedCase{"infix fractions", "{a\\choose ", "}", FAITHFUL, "\\binom{a}{x}"},
        NestedCase{"infix fractions", "{", "\\choose a}", EQUIV, "\\binom{x}{a}"},
        NestedCase{"infix fractions", "{a\\above 2pt ", "}", FAITHFUL, "\\genfrac..{2pt}{}{a}{x}"},
        NestedCase{"infix fractions", "{", "\\atopwithdelims[] a}", FAITHFUL, "\\genfrac[]{0pt}{}{x}{a}"},
        NestedCase{"infix fractions", "y^{a\\over ", "}", FAITHFUL, "y^{\\frac{a}{x}}"},
        NestedCase{"root family", "\\root 3\\of {", "}", AUTHORING, "\\sqrt[3]{x}"},
        NestedCase{"root family", "\\root {", "}\\of a", AUTHORING, "\\sqrt[x]{a}"},
        NestedCase{"root family", "\\root {", "} y\\of a", AUTHORING, "\\sqrt[xy]{a}"},
        // A \buildrel beside the nest, or at its bottom, is not looked for
        // again at every level.
        NestedCase{"infix fractions", "\\mathrm{", "\\over b}", FAITHFUL,
                   "\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}\\mathrm{\\frac{x}{b}}", "\\buildrel a\\over b "},
        NestedCase{"infix fractions", "\\mathrm{", "x\\over b}", FAITHFUL,
                   "\\mathrm{\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}\\frac{x}{b}}", "", "\\buildrel a\\over b "},
        NestedCase{"infix fractions", "\\mathrm{{c\\over d}", "x\\over b}", FAITHFUL,
                   "\\mathrm{\\frac{c}{d}\\mathrel{\\mathop{\\mspace{0mu}b}\\limits^{a}}\\frac{x}{b}}", "", "\\buildrel a\\over b "},
        // Not a nest: every `\\prime` of one long superscript asks whether
        // the superscript is primes alone, each a bounded look.
        NestedCase{"primes", "\\prime", "", CORPUS, "x'", "x^{", "}"},
        NestedCase{"primes", "{\\prime}", "", CORPUS, "x^{{\\prime}a}", "x^{", "a}"}),
    [](const ::testing::TestParamInfo<NestedCase>& info) { return "Case" + std::to_string(info.index); });

}  // namespace
}  // namespace quorvel::transform
