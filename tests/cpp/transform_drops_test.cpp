// The spacing and break drops, the fixed delimiter sizes and the ellipsis
// choice through the whole pipeline: input, profile, expected output or
// error. Only these rules are planned, so other families cannot change the
// expectations.
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/base/drop_rules.hpp"
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
using testing::describe;
using testing::document_of;
using testing::parse_context;
using testing::rewrite_only;
using testing::src;
using testing::tree;

std::vector<RuleKey> drop_keys() {
    std::vector<RuleKey> keys;
    base_rules::for_each_drop_rule([&](const RewriteRule* rule) { keys.push_back(rule->meta().key); });
    return keys;
}

struct Outcome {
    std::string output;  // compact, spaces kept
    std::string error;
    TransformReport report;
};

Outcome normalize(const Input& input, std::uint8_t mask, std::vector<RuleKey> keys = drop_keys(),
                  const TransformOptions& options = rewrite_only()) {
    const TransformContext engine = testing::make_engine(parse_context(), mask, RuleSelection::only(std::move(keys)));
    auto document = document_of(input);
    Outcome outcome;
    auto report = engine.run_with_report(document.ast_mut(), parse_context(), options);
    if (report) {
        outcome.report = std::move(report).value();
    } else {
        outcome.error = report.error().to_string();
    }
    outcome.output = testing::compact(document.ast());
    return outcome;
}

std::optional<sn::Argument> delimiter_arg(sn::Delimiter delimiter, bool mandatory = true) {
    sn::ArgumentKind kind = sn::ArgumentKind::Mandatory{};
    if (!mandatory) kind = sn::ArgumentKind::Optional{};
    return sn::Argument{kind, false, sn::ArgumentValue::Delimiter{std::move(delimiter)}};
}
SyntaxNode text_group(std::vector<SyntaxNode> children) {
    return group(ContentMode::Text, std::move(children), sn::GroupKind::Implicit{});
}
// \text{...} around a text list.
SyntaxNode in_text(std::vector<SyntaxNode> children) {
    return root({command("text", {text_arg(text_group(std::move(children)))})});
}

struct Case {
    const char* about;
    Input input;
    std::uint8_t mask;
    std::string expected;
    bool keep_spaces = false;  // compare text spacing byte for byte
};

void check(const std::vector<Case>& cases, const TransformOptions& options = rewrite_only()) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.about) + ": " + describe(c.input));
        const Outcome outcome = normalize(c.input, c.mask, drop_keys(), options);
        EXPECT_EQ(outcome.error, "");
        if (c.keep_spaces) {
            EXPECT_EQ(outcome.output, c.expected);
        } else {
            EXPECT_EQ(testing::strip_spacing(outcome.output), testing::strip_spacing(c.expected));
        }
    }
}

TEST(TransformDrops, WideSpacesInMath) {
    check({
        {"quad between atoms", src("a\\quad b"), EQUIV, "ab"},
        {"qquad between atoms", src("a\\qquad b"), EQUIV, "ab"},
        {"enspace between atoms", src("a\\enspace b"), EQUIV, "ab"},
        {"every quad of the list", src("a\\quad b\\quad c\\quad"), EQUIV, "abc"},
        {"all three wide spaces", src("a\\quad\\qquad\\enspace b"), EQUIV, "ab"},
        {"nested list", src("{a\\quad b}"), EQUIV, "{ab}"},
        {"argument keeps an empty group", src("\\sqrt{\\quad}"), EQUIV, "\\sqrt{}"},
        {"superscript keeps an empty group", src("x^\\quad"), EQUIV, "x^{}"},
        {"script base", src("\\qquad_a"), EQUIV, "{}_{a}"},
        {"waits for equiv", src("a\\quad b\\qquad c\\enspace d"), CORPUS, "a\\quad b\\qquad c\\enspace d"},
        {"operator-name content is math", tree(root({command("operatorname", {opname_arg(command("quad"))})})),
         EQUIV, "\\operatorname{}"},
        {"infix operand is math", tree(root({infix("over", command("enspace"), ch(U'x'))})), EQUIV,
         "\\over x"},
    });
}

TEST(TransformDrops, WideSpacesInText) {
    check({
        {"a run becomes one space, the following space goes", src("\\text{a\\quad\\quad b}"), EQUIV,
         "\\text{a b}", true},
        {"one spacer", src("\\text{a\\qquad b}"), EQUIV, "\\text{a b}", true},
        {"only one leading space goes", tree(in_text({text("a"), command("enspace"), text("  b")})), EQUIV,
         "\\text{a  b}", true},
        {"two runs", tree(in_text({text("a"), command("quad"), text(" b"), command("quad"), command("quad"),
                                   text(" c")})),
         EQUIV, "\\text{a b c}", true},
        {"run at the end", tree(in_text({text("a"), command("quad")})), EQUIV, "\\text{a }", true},
        {"run before a command keeps its text",
         tree(in_text({command("quad"), command("textbf", {text_arg(text(" b"))})})), EQUIV,
         "\\text{ \\textbf{ b}}", true},
        {"text argument becomes a space", tree(root({command("text", {text_arg(command("quad"))})})), EQUIV,
         "\\text{ }", true},
        {"text argument chain: the space after the outer command goes",
         tree(in_text({command("textbf", {text_arg(command("qquad"))}), text(" b")})), EQUIV,
         "\\text{\\textbf{ }b}", true},
        {"waits for equiv", src("\\text{a\\quad b}"), CORPUS, "\\text{a\\quad b}"},
    });
}

// The text-mode example as a tree: the run's first spacer turns into the
// space text in place, the second goes, one space of the next text goes.
TEST(TransformDrops, TextRunShape) {
    auto document = testing::tree_document(in_text({text("a"), command("quad"), command("quad"), text(" b")}));
    syntax::Ast& ast = document.ast_mut();
    const NodeId text_command = ast.children(ast.root())[0];
    const NodeId list = *ast.node(text_command).args()->at(0)->value.content();
    const NodeId first_quad = ast.children(list)[1];
    const TransformContext engine = testing::make_engine(parse_context(), EQUIV, RuleSelection::only(drop_keys()));
    ASSERT_TRUE(engine.run_with(ast, parse_context(), rewrite_only()));
    std::vector<std::string> texts;
    for (NodeId child : ast.children(list)) {
        const auto* t = ast.node(child).get_if<Node::Text>();
        texts.push_back(t != nullptr ? t->value.str() : "<not text>");
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"a", " ", "b"}));
    EXPECT_EQ(ast.children(list)[1], first_quad);
}

TEST(TransformDrops, LayoutHints) {
    check({
        {"nobreak", src("x\\nobreak y"), CORPUS, "xy"},
        {"allowbreak", src("a\\allowbreak b"), CORPUS, "ab"},
        {"goodbreak", src("a\\goodbreak b"), CORPUS, "ab"},
        {"badbreak", src("a\\badbreak b"), CORPUS, "ab"},
        {"strut", src("\\strut x"), CORPUS, "x"},
        {"mathstrut", src("\\mathstrut x"), CORPUS, "x"},
        {"only the node itself", src("a\\nobreak b\\nobreak c"), CORPUS, "abc"},
        {"group child of a script", src("x^{\\goodbreak}"), CORPUS, "x^{}"},
        {"the script itself", src("x^\\goodbreak"), CORPUS, "x^{}"},
        {"argument", src("\\sqrt{\\strut}"), CORPUS, "\\sqrt{}"},
        {"script base", src("\\mathstrut^2"), CORPUS, "{}^{2}"},
        {"text list: removed, no space repair", tree(in_text({text("a"), command("mathstrut"), text(" b")})),
         CORPUS, "\\text{a b}", true},
        {"text argument: an empty math group", tree(root({command("text", {text_arg(command("strut"))})})),
         CORPUS, "\\text{}", true},
        {"corpus also at equiv", src("a\\nobreak b"), EQUIV, "ab"},
        {"waits for corpus", src("a\\nobreak\\allowbreak\\goodbreak\\badbreak\\strut\\mathstrut b"), FAITHFUL,
         "a\\nobreak\\allowbreak\\goodbreak\\badbreak\\strut\\mathstrut b"},
    });
}

TEST(TransformDrops, FixedDelimiterSizes) {
    check({
        {"parentheses", src("\\big(x\\big)"), EQUIV, "(x)"},
        {"brackets", src("\\bigg[x\\bigg]"), EQUIV, "[x]"},
        {"bar", src("\\big|x\\big|"), EQUIV, "|x|"},
        {"less-than character", src("\\big<x\\big>"), EQUIV, "\\langle x\\rangle"},
        {"lt and gt controls", src("\\bigg\\lt x\\bigg\\gt"), EQUIV, "\\langle x\\rangle"},
        {"other control", src("\\big\\langle x\\big\\|"), EQUIV, "\\langle x\\|"},
        {"scripts stay", src("\\big(_a^b"), EQUIV, "(_{a}^{b}"},
        {"no delimiter in a list", src("a\\big.b"), EQUIV, "ab"},
        {"no delimiter as script base", src("\\big._a"), EQUIV, "{}_{a}"},
        {"waits for equiv", src("\\big(x\\bigg)"), CORPUS, "\\big(x\\bigg)"},
        {"built tree, no delimiter", tree(root({ch(U'a'), command("bigg", {delimiter_arg(sn::Delimiter::none())})})),
         EQUIV, "a"},
        {"built tree, argument position",
         tree(root({command("sqrt", {math_arg(command("big", {delimiter_arg(sn::Delimiter::character(U'('))}))})})),
         EQUIV, "\\sqrt{(}"},
    });
}

TEST(TransformDrops, EllipsisChoice) {
    check({
        {"binary operator", src("a+\\dots+b"), FAITHFUL, "a+\\cdots+b"},
        {"comma", src("x_1,\\dots,x_n"), FAITHFUL, "x_{1},\\ldots,x_{n}"},
        {"letter", src("\\dots x"), FAITHFUL, "\\ldots x"},
        {"digit", src("\\dots 9"), FAITHFUL, "\\ldots 9"},
        {"relation", src("\\dots ="), FAITHFUL, "\\cdots="},
        {"one-child group", src("\\dots{+}"), FAITHFUL, "\\cdots{+}"},
        {"nested one-child groups", src("\\dots{{<}}"), FAITHFUL, "\\cdots{{<}}"},
        {"empty group", src("\\dots{}"), FAITHFUL, "\\ldots{}"},
        {"two-child group", src("\\dots{+-}"), FAITHFUL, "\\dots{+-}"},
        {"last in its list", src("a\\dots"), FAITHFUL, "a\\dots"},
        {"script base", src("\\dots a^2"), FAITHFUL, "\\ldots a^{2}"},
        {"character command of one tabled character", src("\\dots\\lt"), FAITHFUL, "\\cdots\\lt"},
        {"character command outside the tables", src("\\dots\\pm"), FAITHFUL, "\\dots\\pm"},
        {"Greek letter", src("\\dots\\alpha"), FAITHFUL, "\\dots\\alpha"},
        {"command that is no character", src("\\dots\\frac{a}{b}"), FAITHFUL, "\\dots\\frac{a}{b}"},
        {"delimited group", src("\\dots\\left(x\\right)"), FAITHFUL, "\\ldots\\left(x\\right)"},
        {"environment", src("\\dots\\begin{matrix}a\\end{matrix}"), FAITHFUL,
         "\\ldots\\begin{matrix}a\\end{matrix}"},
        {"not a list member", src("x^\\dots"), FAITHFUL, "x^{\\dots}"},
        {"waits for faithful", src("a+\\dots+b"), AUTHORING, "a+\\dots+b"},
        {"non-ASCII character", tree(root({command("dots"), ch(U'\u00e9')})), FAITHFUL, "\\dots\u00e9"},
        {"prime", tree(root({command("dots"), prime(1)})), FAITHFUL, "\\ldots'"},
        {"text", tree(root({command("dots"), text("x")})), FAITHFUL, "\\dots x"},
        {"infix", tree(root({command("dots"), infix("over", ch(U'a'), ch(U'b'))})), FAITHFUL,
         "\\dots a\\over b"},
    });
}

// Lowering takes out an attribute prefix left with no content after the
// rules, and joins the bodies of two prefixes of one name it parted, so
// the atom that will follow decides.
TEST(TransformDrops, EllipsisSeesPastEmptiedPrefixes) {
    check({
        {"emptied by a dropped space", src("\\dots\\mathsf{\\quad}x"), EQUIV, "\\ldots\\mathsf{}x"},
        {"two in a row", src("\\dots\\mathsf{\\quad}\\mathbf\\qquad+"), EQUIV, "\\cdots\\mathsf{}\\mathbf{}+"},
        {"text prefix", tree(root({command("dots"), command("textbf", {text_arg(text_group({}))}), ch(U'x')})),
         FAITHFUL, "\\ldots\\textbf{}x"},
        {"prefix with content", src("\\dots\\mathsf{\\quad x}"), EQUIV, "\\dots\\mathsf{x}"},
        {"script base emptied", src("\\dots\\mathsf{\\nobreak}_{}"), CORPUS, "\\ldots\\mathsf{}_{}"},
        {"bodies joined past an emptied prefix", src("\\mathcal{\\dots}\\mathbf{\\nobreak}\\mathcal{+}"), CORPUS,
         "\\mathcal{\\cdots}\\mathbf{}\\mathcal{+}"},
        {"next prefix of another name", src("\\mathcal{\\dots}\\mathbf{\\nobreak}\\mathsf{+}"), CORPUS,
         "\\mathcal{\\dots}\\mathbf{}\\mathsf{+}"},
    });
}

// Every check runs before the tree changes, so a failing rule leaves it as
// it was.
TEST(TransformDrops, SlotErrors) {
    struct ErrorCase {
        SyntaxNode tree;
        std::uint8_t mask;
        std::string error;
    };
    const ErrorCase cases[] = {
        {root({command("quad", {math_arg(ch(U'x'))})}), EQUIV,
         "base/quad-drop: \\quad should carry exactly 0 explicit argument slots, got 1"},
        {root({command("qquad", {std::nullopt})}), EQUIV,
         "base/qquad-drop: \\qquad should carry exactly 0 explicit argument slots, got 1"},
        {root({command("enspace", {std::nullopt, std::nullopt})}), EQUIV,
         "base/enspace-drop: \\enspace should carry exactly 0 explicit argument slots, got 2"},
        {root({command("nobreak", {math_arg(ch(U'x'))})}), CORPUS,
         "base/nobreak-drop: \\nobreak should carry exactly 0 explicit argument slots, got 1"},
        {root({command("allowbreak", {std::nullopt})}), CORPUS,
         "base/allowbreak-drop: \\allowbreak should carry exactly 0 explicit argument slots, got 1"},
        {root({command("goodbreak", {std::nullopt})}), CORPUS,
         "base/goodbreak-drop: \\goodbreak should carry exactly 0 explicit argument slots, got 1"},
        {root({command("badbreak", {std::nullopt})}), CORPUS,
         "base/badbreak-drop: \\badbreak should carry exactly 0 explicit argument slots, got 1"},
        {root({command("strut", {std::nullopt})}), CORPUS,
         "base/strut-drop: \\strut should carry exactly 0 explicit argument slots, got 1"},
        {root({command("mathstrut", {std::nullopt})}), CORPUS,
         "base/mathstrut-drop: \\mathstrut should carry exactly 0 explicit argument slots, got 1"},
        {root({command("big")}), EQUIV,
         "base/big-delimiter-size-drop: \\big should carry exactly 1 explicit argument slots, got 0"},
        {root({command("bigg", {delimiter_arg(sn::Delimiter::character(U'(')), std::nullopt})}), EQUIV,
         "base/bigg-delimiter-size-drop: \\bigg should carry exactly 1 explicit argument slots, got 2"},
        {root({command("bigg", {math_arg(ch(U'x'))})}), EQUIV,
         "base/bigg-delimiter-size-drop: \\bigg argument should be a delimiter"},
        {root({command("big", {std::nullopt})}), EQUIV,
         "base/big-delimiter-size-drop: \\big argument should be a mandatory delimiter argument"},
        {root({command("big", {delimiter_arg(sn::Delimiter::character(U'('), false)})}), EQUIV,
         "base/big-delimiter-size-drop: \\big argument should be a mandatory delimiter argument"},
        {root({command("dots", {math_arg(ch(U'x'))}), ch(U'+')}), FAITHFUL,
         "base/dots-to-ldots-or-cdots: \\dots should carry exactly 0 explicit argument slots, got 1"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.error);
        const std::string before = testing::compact(testing::tree_document(c.tree).ast());
        const Outcome outcome = normalize(tree(c.tree), c.mask);
        EXPECT_EQ(outcome.error, c.error);
        EXPECT_EQ(outcome.output, before);
    }
}

// Nodes the rules decline, offered directly: the tree stays as it was.
TEST(TransformDrops, Declines) {
    struct DeclineCase {
        const RewriteRule* rule;
        SyntaxNode child;  // the root's only child, offered to the rule
    };
    const DeclineCase cases[] = {
        {&base_rules::QUAD_DROP, ch(U'x')},
        {&base_rules::QUAD_DROP, command("qquad")},
        {&base_rules::QUAD_DROP, infix("quad", ch(U'a'), ch(U'b'))},
        {&base_rules::QUAD_DROP, command("quad", {}, false)},  // no spacer: nothing to drop
        {&base_rules::ENSPACE_DROP, SyntaxNode::Declarative{"enspace", {}}},
        {&base_rules::NOBREAK_DROP, command("allowbreak")},
        {&base_rules::GOODBREAK_DROP, SyntaxNode::Declarative{"goodbreak", {}}},
        {&base_rules::BIG_DELIMITER_SIZE_DROP, command("bigg", {delimiter_arg(sn::Delimiter::character(U'('))})},
        {&base_rules::BIGG_DELIMITER_SIZE_DROP, infix("bigg", ch(U'a'), ch(U'b'))},
        {&base_rules::DOTS_TO_LDOTS_OR_CDOTS, command("ldots")},
        {&base_rules::DOTS_TO_LDOTS_OR_CDOTS, command("dots")},  // nothing follows
    };
    for (const DeclineCase& c : cases) {
        SCOPED_TRACE(to_string(c.rule->meta().key) + " on " + syntax::debug_string(c.child));
        auto document = testing::tree_document(root({c.child}));
        syntax::Ast& ast = document.ast_mut();
        const SyntaxNode before = ast.to_syntax();
        RuleContext ctx{ast, *parse_context().math(), *parse_context().text()};
        const RuleResult result = c.rule->apply(ctx, ast.children(ast.root())[0]);
        ASSERT_TRUE(result);
        EXPECT_EQ(result.value(), RuleOutcome::Skipped);
        EXPECT_EQ(ast.to_syntax(), before);
    }
}

// A run's iterations and counters: a quad-drop clears its whole list in one
// application, and a \dots left alone is counted as skipped once per pass.
TEST(TransformDrops, ReportCounts) {
    struct ReportCase {
        Input input;
        std::uint8_t mask;
        std::uint64_t iterations;
        std::vector<RewriteRuleStat> rules;
    };
    const ReportCase cases[] = {
        {src("a\\quad b\\quad c"), EQUIV, 2, {{1, 0, {"quad-drop", PackageName::Base}}}},
        {src("\\text{a\\quad b\\quad c}"), EQUIV, 2, {{1, 0, {"quad-drop", PackageName::Base}}}},
        {src("\\dots\\pm"), FAITHFUL, 1, {{0, 1, {"dots-to-ldots-or-cdots", PackageName::Base}}}},
        {src("\\dots+"), FAITHFUL, 2, {{1, 0, {"dots-to-ldots-or-cdots", PackageName::Base}}}},
        {src("\\big(\\nobreak"), EQUIV, 2,
         {{1, 0, {"big-delimiter-size-drop", PackageName::Base}}, {1, 0, {"nobreak-drop", PackageName::Base}}}},
    };
    for (const ReportCase& c : cases) {
        SCOPED_TRACE(describe(c.input));
        const Outcome outcome = normalize(c.input, c.mask);
        ASSERT_EQ(outcome.error, "");
        EXPECT_EQ(outcome.report.rewrite.iterations, c.iterations);
        EXPECT_EQ(outcome.report.rewrite.rules, c.rules);
    }
}

// With the spacing merges planned as well, merged spaces are dropped in turn.
TEST(TransformDrops, MergesThenDrops) {
    std::vector<RuleKey> keys = drop_keys();
    keys.push_back({"double-quad-to-qquad", PackageName::Base});
    keys.push_back({"double-enspace-to-quad", PackageName::Base});
    keys.push_back({"small-spacer-merge-to-enspace", PackageName::Base});
    const Outcome outcome = normalize(src("a\\quad\\quad b\\enspace\\enspace c\\,\\,\\, d"), EQUIV, keys);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(testing::strip_spacing(outcome.output), "abcd");
}

// Runs the merges make one at a time in a long list, each dropped in the
// pass that made it. A list is swept whole once a pass, and again only from
// where that sweep ended: what a merge made behind the spacer offered (the
// `\enspace` its run's first `\,` became) goes with it, and a run that stays
// before an open slot keeps its first spacer.
TEST(TransformDrops, MergedRunsGoInThePassThatMadeThem) {
    struct RunCase {
        Input input;
        std::string expected;
        std::uint64_t drops;  // applications of enspace-drop
        std::uint64_t iterations = 2;
    };
    const RunCase cases[] = {
        {src("\\,\\,\\,\\,\\,\\,x\\,\\,\\,\\,\\,\\,y\\,\\,\\,\\,\\,\\,z"), "xyz", 3},
        {src("\\enspace a\\,\\,\\,\\,\\;\\:b\\,\\,\\,\\,\\;\\:c"), "a\\,b\\,c", 3},
        {src("a\\enspace b\\qty\\,\\,\\,\\,\\,\\,(c)\\;\\:\\;\\:d"), "ab\\qty\\enspace(c)d", 3},
        {src("{\\,\\,\\,\\,\\,\\,a}\\,\\,\\,\\,\\,\\,{b\\,\\,\\,\\,\\,\\,}\\enspace"), "{a}{b}", 3},
        {src("x\\,\\,\\,\\,\\,\\,\\quad\\quad y\\,\\,\\,\\,\\,\\,z"), "xyz", 2, 3},
    };
    std::vector<RuleKey> keys = drop_keys();
    for (const char* merge : {"double-quad-to-qquad", "double-enspace-to-quad", "small-spacer-merge-to-enspace"})
        keys.push_back({merge, PackageName::Base});
    for (const RunCase& c : cases) {
        SCOPED_TRACE(describe(c.input));
        const Outcome outcome = normalize(c.input, EQUIV, keys);
        ASSERT_EQ(outcome.error, "");
        EXPECT_EQ(testing::strip_spacing(outcome.output), c.expected);
        std::uint64_t drops = 0;
        for (const RewriteRuleStat& stat : outcome.report.rewrite.rules)
            if (stat.key.name == "enspace-drop") drops = stat.applied;
        EXPECT_EQ(drops, c.drops);
        EXPECT_EQ(outcome.report.rewrite.iterations, c.iterations);
    }
}

// Commands made through the document interface are not known. The rules
// change each at most once, and a spacer that is not known is no spacer, so
// it stays (a spacer may stay, as before what an open slot would take).
TEST(TransformDrops, DocumentMadeCommands) {
    struct MadeCase {
        const char* name;
        std::uint8_t mask;
        std::string output;
        std::string error;
    };
    const MadeCase cases[] = {
        {"quad", EQUIV, "\\quad\\quad", ""},
        {"enspace", EQUIV, "\\enspace\\enspace", ""},
        {"nobreak", CORPUS, "", ""},
        {"strut", CORPUS, "", ""},
        {"dots", FAITHFUL, "\\dots\\dots", ""},
        {"big", EQUIV, "\\big\\big",
         "base/big-delimiter-size-drop: \\big should carry exactly 1 explicit argument slots, got 0"},
    };
    for (const MadeCase& c : cases) {
        SCOPED_TRACE(c.name);
        syntax::document::Document document;
        for (int i = 0; i < 2; ++i) {
            auto made = document.create_command(c.name, {});
            ASSERT_TRUE(made);
            ASSERT_TRUE(document.append_child(document.root(), *made));
        }
        const TransformContext engine = testing::make_engine(parse_context(), c.mask, RuleSelection::only(drop_keys()));
        auto report = engine.run_with_report(document.ast_mut(), parse_context(), rewrite_only());
        EXPECT_EQ(report ? "" : report.error().to_string(), c.error);
        EXPECT_EQ(testing::strip_spacing(testing::compact(document.ast())), c.output);
    }
}

// Every corpus line that holds one of the triggers normalises with these
// rules alone, and a second run finds nothing to change.
TEST(TransformDropsCorpus, TriggerLinesNormalise) {
    const auto corpus =
        testing::corpus_lines_with({"\\quad", "\\enspace", "break", "strut", "\\big", "\\dots"});
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const std::vector<std::string>& lines = *corpus;
    const TransformContext engine = testing::make_engine(parse_context(), EQUIV, RuleSelection::only(drop_keys()));
    std::size_t failures = 0;
    for (const std::string& line : lines) {
        auto outcome = parse::parse_source(parse_context(), line, parse::ParseConfig{});
        if (!outcome.document || outcome.document->read_only()) continue;
        syntax::Ast& ast = outcome.document->ast_mut();
        auto first = engine.run_with_report(ast, parse_context(), engine.options);
        auto second = first ? engine.run_with_report(ast, parse_context(), engine.options) : std::move(first);
        if ((!second || second->rewrite.iterations != 1) && failures++ < 5)
            ADD_FAILURE() << line << ": " << (second ? "not a fixed point" : second.error().to_string());
    }
    EXPECT_EQ(failures, 0u);
}

}  // namespace
}  // namespace quorvel::transform
