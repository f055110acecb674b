// The three tree passes (attribute lowering, finalisation, group flattening)
// alone and inside the pipeline: input, settings, expected output and the
// counters of the report. Counters are compared in one line per case that
// names only those that are not zero.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "syntax_test_util.hpp"
#include "transform/passes/passes.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel::transform {
namespace {

using namespace syntax_test;
using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::Input;
using testing::describe;
using testing::document_of;
using testing::parse_context;
using testing::reachable;
using testing::src;
using testing::tree;

SyntaxNode declarative(std::string name) { return SyntaxNode::Declarative{std::move(name), {}}; }
SyntaxNode implicit(ContentMode mode, std::vector<SyntaxNode> children) {
    return group(mode, std::move(children), sn::GroupKind::Implicit{});
}
SyntaxNode in_text(std::vector<SyntaxNode> children) {
    return root({command("text", {text_arg(implicit(ContentMode::Text, std::move(children)))})});
}

std::string value_name(const AttrValue& value) {
    struct Name {
        std::string operator()(const attr::MathVariant& v) const { return std::string(v.name); }
        std::string operator()(const attr::Size& v) const { return std::to_string(v.scale); }
        std::string operator()(const attr::MathStyle& v) const { return std::string(v.name); }
        std::string operator()(attr::TextFamily v) const { return "family" + std::to_string(int(v)); }
        std::string operator()(attr::TextSeries v) const { return "series" + std::to_string(int(v)); }
        std::string operator()(attr::TextShape v) const { return "shape" + std::to_string(int(v)); }
    };
    return std::visit(Name{}, value);
}

// The non-zero counters of the passes: plain counters as name=n, attribute
// rows as axis:value consumed/redundant/emitted, each declaratives.prefixes.
std::string counters(const TransformReport& report) {
    std::vector<std::string> parts;
    std::vector<std::string> rows;
    for (const auto& [set, stat] : report.lower_attributes.attributes) {
        auto pair = [](const AttributeFormCounts& c) {
            return std::to_string(c.declaratives) + "." + std::to_string(c.prefixes);
        };
        rows.push_back(std::string(to_string(set.attr)) + ":" + value_name(set.value) + " " + pair(stat.consumed) +
                       "/" + pair(stat.redundant) + "/" + pair(stat.emitted));
    }
    std::sort(rows.begin(), rows.end());
    parts.insert(parts.end(), rows.begin(), rows.end());
    auto add = [&](const char* name, std::uint64_t value) {
        if (value != 0) parts.push_back(std::string(name) + "=" + std::to_string(value));
    };
    add("eliminated_empty_segments", report.lower_attributes.eliminated_empty_segments);
    add("prime_run_merges", report.finalize_ast.prime_run_merges);
    add("text_normalizations", report.finalize_ast.text_normalizations);
    const auto& a = report.flatten_groups.actions;
    add("removed_empty", a.removed_empty);
    add("replaced_single_child", a.replaced_single_child);
    add("inlined_multi_child", a.inlined_multi_child);
    add("unwrapped_slot", a.unwrapped_slot);
    const auto& h = report.flatten_groups.guard_hits;
    add("declarative_scope", h.declarative_scope);
    add("script_base", h.script_base);
    add("env_body", h.env_body);
    add("infix_scope", h.infix_scope);
    add("command_contact", h.command_contact);
    add("command_argument", h.command_argument);
    add("command_contact_via_scripted_base", h.command_contact_via_scripted_base);
    add("empty_group", h.empty_group);
    add("lone_atom_spacing_char", h.lone_atom_spacing_char);
    add("leading_atom_spacing_char", h.leading_atom_spacing_char);
    add("delimited_pair", h.delimited_pair);
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
    return out;
}

using Pass = std::function<void(syntax::Ast&, ReportRecorder&)>;

struct PassRun {
    std::string output;
    std::string counters;
    SyntaxNode tree;
};

// Runs one pass with a collecting recorder and once more with an off one,
// which must leave the same tree.
PassRun run_pass(const Input& input, const Pass& pass) {
    auto document = document_of(input);
    ReportRecorder recorder = ReportRecorder::collecting();
    pass(document.ast_mut(), recorder);
    PassRun run;
    run.output = testing::strip_spacing(testing::compact(document.ast()));
    run.counters = counters(std::move(recorder).into_report());
    run.tree = document.to_syntax();
    EXPECT_EQ(reachable(document.ast()), document.ast().node_count()) << "detached nodes left";

    auto quiet = document_of(input);
    ReportRecorder off = ReportRecorder::off();
    pass(quiet.ast_mut(), off);
    EXPECT_EQ(quiet.to_syntax(), run.tree) << "an off recorder changed the result";
    return run;
}

void lower(syntax::Ast& ast, ReportRecorder& recorder) { passes::lower_attributes(ast, ast.root(), recorder); }
void finalize(syntax::Ast& ast, ReportRecorder& recorder) { passes::finalize_ast(ast, ast.root(), recorder); }

struct Case {
    const char* about;
    Input input;
    std::string output;    // without optional spaces
    std::string counters;  // as `counters` writes them
};

void check(const std::vector<Case>& cases, const Pass& pass) {
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.about) + ": " + describe(c.input));
        const PassRun run = run_pass(c.input, pass);
        EXPECT_EQ(run.output, testing::strip_spacing(c.output));
        EXPECT_EQ(run.counters, c.counters);
    }
}

// ---- Attribute lowering -------------------------------------------------------------------

constexpr const char* BOLD = "math_font:VARIANT.BOLD";

std::string row(const char* key, const char* counts) { return std::string(key) + " " + counts; }

TEST(TransformPassesLowering, MathAndTextCommands) {
    check(
        {
            {"declarative becomes a prefix", src(R"(\bf x)"), R"(\mathbf{x})", row(BOLD, "1.0/0.0/0.1")},
            {"brace group scoping a declarative dissolves", src(R"({\bf x})"), R"(\mathbf{x})",
             row(BOLD, "1.0/0.0/0.1") + ", eliminated_empty_segments=1"},
            {"font and size: the size goes inside", src(R"(\mathbf{\large x})"), R"(\mathbf{\large x})",
             row(BOLD, "0.1/0.0/0.1") + ", math_size:120 1.0/0.0/1.0, eliminated_empty_segments=1"},
            {"two declaratives", src(R"(\bf\large x)"), R"(\mathbf{\large x})",
             row(BOLD, "1.0/0.0/0.1") + ", math_size:120 1.0/0.0/1.0"},
            {"style has no prefix", src(R"(\displaystyle\bf x)"), R"(\displaystyle\mathbf{x})",
             row(BOLD, "1.0/0.0/0.1") + ", math_style:D 1.0/0.0/1.0"},
            {"text declarative", src(R"(\text{\bf a})"), R"(\text{\textbf{a}})", "text_series:series1 1.0/0.0/0.1"},
            {"text axes: shape innermost", src(R"(\text{\it\bf a})"), R"(\text{\textbf{\textit{a}}})",
             "text_series:series1 1.0/0.0/0.1, text_shape:shape1 1.0/0.0/0.1"},
            {"declarative at the end governs nothing", src(R"(x\bf)"), "x",
             row(BOLD, "1.0/0.0/0.0") + ", eliminated_empty_segments=1"},
            {"last content already in the final state", src(R"({\bf x}\bf)"), R"(\mathbf{x})",
             row(BOLD, "2.0/0.0/0.1")},
            {"repeated declarative is redundant", src(R"(\bf\bf x)"), R"(\mathbf{x})", row(BOLD, "2.0/1.0/0.1")},
            {"overridden prefix is fully absorbed", src(R"(\mathbf{\mathrm{x}})"), R"(\mathrm{x})",
             row(BOLD, "0.1/0.1/0.0") + ", math_font:VARIANT.NORMAL 0.1/0.0/0.1, eliminated_empty_segments=2"},
            {"empty group keeps its braces", src(R"({\bf})"), "{}",
             row(BOLD, "1.0/0.0/0.0") + ", eliminated_empty_segments=1"},
            {"empty prefix disappears", src(R"(\mathbf{})"), "", row(BOLD, "0.1/0.1/0.0")},
            {"infix operands are left alone", src(R"(a\over{\bf b})"), R"(a\over{\bf b})", ""},
            {"text prefix met in math", src(R"(\textbf{x})"), R"(\textbf{x})", "text_series:series1 0.1/0.0/0.1"},
            {"prefix inside a run", src(R"(\bf a\mathrm{b}c)"), R"(\mathbf{a}\mathrm{b}\mathbf{c})",
             row(BOLD, "1.0/0.0/0.2") + ", math_font:VARIANT.NORMAL 0.1/0.0/0.1"},
            {"inner declarative overrides the prefix", src(R"(\mathcal{\bf A})"), R"(\mathbf{A})",
             row(BOLD, "1.0/0.0/0.1") + ", math_font:VARIANT.CALLIGRAPHIC 0.1/0.1/0.0, eliminated_empty_segments=1"},
            {"declarative-only font before a prefix font", src(R"(\oldstyle a\bf b)"), R"(\oldstyle a\mathbf{b})",
             "math_font:-tex-oldstyle 1.0/0.0/1.0, " + row(BOLD, "1.0/0.0/0.1")},
            {"superscript slot", src(R"(x^{\bf 2})"), R"(x^{\mathbf{2}})",
             row(BOLD, "1.0/0.0/0.1") + ", eliminated_empty_segments=1"},
            {"argument left empty", src(R"(\sqrt{\bf})"), R"(\sqrt{})",
             row(BOLD, "1.0/0.0/0.0") + ", eliminated_empty_segments=1"},
            {"environment body", src(R"(\begin{matrix}\bf a\end{matrix})"), R"(\begin{matrix}\mathbf{a}\end{matrix})",
             row(BOLD, "1.0/0.0/0.1")},
            {"nothing to lower", src(R"(\frac{a}{b}+\text{c d})"), R"(\frac{a}{b}+\text{c d})", ""},
            // Past a few states a task's pairs are looked at one by one; a
            // group or body that leaves them hands that on with them.
            {"a dissolved group hands on more states than are kept",
             src(R"(x{{\bf a\rm b\it c\sf d\scriptstyle e}}y)"),
             R"(x\mathbf{a}\mathrm{b}\mathit{c}\mathsf{d}{\scriptstyle\mathsf{e}}y)",
             row(BOLD, "1.0/0.0/0.1") + ", math_font:VARIANT.MATHITALIC 1.0/0.0/0.1, math_font:VARIANT.NORMAL "
                                       "1.0/0.0/0.1, math_font:VARIANT.SANSSERIF 1.0/0.0/0.2, "
                                       "math_style:S 1.0/0.0/1.0, eliminated_empty_segments=1"},
            {"a prefix whose value comes back after more states", src(R"(\mathbf{{\rm a\it b\sf c\tt d\bf e}})"),
             R"(\mathrm{a}\mathit{b}\mathsf{c}\mathtt{d}\mathbf{e})",
             row(BOLD, "1.1/0.0/0.1") + ", math_font:VARIANT.MATHITALIC 1.0/0.0/0.1, math_font:VARIANT.MONOSPACE "
                                       "1.0/0.0/0.1, math_font:VARIANT.NORMAL 1.0/0.0/0.1, math_font:VARIANT.SANSSERIF "
                                       "1.0/0.0/0.1, eliminated_empty_segments=1"},
        },
        lower);
}

// A declarative written in front of a run governs the rest of its list; a
// later run that must not carry the value is kept out by braces.
TEST(TransformPassesLowering, DeclarativeScopeIsBounded) {
    check(
        {
            {"middle run", src(R"(a{\large b}c)"), R"(a{\large b}c)", "math_size:120 1.0/0.0/1.0"},
            {"last run needs no braces", src(R"(a{\large b})"), R"(a\large b)",
             "math_size:120 1.0/0.0/1.0, eliminated_empty_segments=1"},
            {"a later run declares its own value", src(R"({\large a}\small b)"), R"(\large a\small b)",
             "math_size:120 1.0/0.0/1.0, math_size:85 1.0/0.0/1.0"},
            {"inside a prefix the braces are the prefix's", src(R"(\mathbf{a{\large b}c})"),
             R"(\mathbf{a}\mathbf{\large b}\mathbf{c})",
             row(BOLD, "0.1/0.0/0.3") + ", math_size:120 1.0/0.0/1.0, eliminated_empty_segments=1"},
            // A text declarative must not land in the math list, where it
            // would read as a math one: it goes inside the prefix.
            {"text prefix across modes", src(R"(\textbf{\large a}b)"), R"(\textbf{\large a}b)",
             "text_series:series1 0.1/0.0/0.1, text_size:120 1.0/0.0/1.0"},
        },
        lower);
}

// Where flattening will take empty groups out, runs are cut as if they had
// gone: an empty group joins the content after it, so no declarative is
// written for it and no run before it is braced for its sake. Elsewhere it
// is content like any other; an empty text never is.
TEST(TransformPassesLowering, EmptyGroupsThatGoPartNoRuns) {
    const FlattenGroupsGuards guards = FlattenGroupsGuards::resolve(false, nullptr);
    const Pass going = [&](syntax::Ast& ast, ReportRecorder& recorder) {
        passes::lower_attributes(ast, ast.root(), recorder, &guards);
    };
    const std::string display = "math_style:D 1.0/0.0/1.0";
    const std::string bold_italic =
        row(BOLD, "1.0/0.0/0.1") + ", math_font:VARIANT.MATHITALIC 1.0/0.0/0.1, eliminated_empty_segments=1";
    check(
        {
            {"after the last run", src(R"({\displaystyle1}{})"), R"(\displaystyle1{})", display},
            {"nested empty groups", src(R"({\displaystyle1}{{}{}})"), R"(\displaystyle1{{}{}})", display},
            {"between runs of two values", src(R"({\bf 1}{}{\it 2})"), R"(\mathbf{1}\mathit{{}2})", bold_italic},
            {"nothing else in the list", src(R"(\displaystyle{})"), "{}", "math_style:D 1.0/0.0/0.0"},
            {"kept in an environment body", src(R"(\begin{matrix}{\displaystyle1}{}\end{matrix})"),
             R"(\begin{matrix}{\displaystyle1}{}\end{matrix})", display},
            {"out of a brace group kept before it", src(R"({{\bf a}}{}\bf b)"), R"({\mathbf{a}}\mathbf{{}b})",
             row(BOLD, "2.0/0.0/0.2") + ", eliminated_empty_segments=1"},
            {"prefixes of one name meet past it", src(R"(\mathbf{a}{}\mathbf{b})"), R"(\mathbf{a{}b})",
             row(BOLD, "0.2/0.0/0.1") + ", eliminated_empty_segments=1"},
            {"a text declarative not written twice", src(R"(\text{\large{}\bf x})"), R"(\text{\large\textbf{{}x}})",
             "text_series:series1 1.0/0.0/0.1, text_size:120 1.0/0.0/1.0"},
            {"written into the other mode it stays", src(R"(\textbf{{}}x)"), R"(\textbf{{}}x)",
             "text_series:series1 0.1/0.0/0.1"},
        },
        going);
    check(
        {
            {"kept groups are content", src(R"({\displaystyle1}{})"), R"({\displaystyle1}{})", display},
            {"kept group between runs", src(R"({\bf 1}{}{\it 2})"), R"(\mathbf{1}{}\mathit{2})", bold_italic},
            {"a text left empty is no content",
             tree(in_text({declarative("large"), text(""), declarative("sf"), text("")})), R"(\text{})",
             "text_family:family1 1.0/0.0/0.0, text_size:120 1.0/0.0/0.0, eliminated_empty_segments=1"},
        },
        lower);
}

// Primes written right after a declarative would be read as its scripts:
// the content they start keeps them in braces.
TEST(TransformPassesLowering, DeclarativesBeforePrimes) {
    const std::string large_bold =
        row(BOLD, "0.1/0.0/0.1") + ", math_size:120 1.0/0.0/1.0, eliminated_empty_segments=1";
    check(
        {
            {"size inside a font prefix", src(R"(\large\mathbf{'})"), R"(\mathbf{\large{'}})", large_bold},
            {"primes with a superscript", src(R"(\large\mathbf{'^2})"), R"(\mathbf{\large{'^{2}}})", large_bold},
            {"braces already there", src(R"(\large\mathbf{{'}})"), R"(\mathbf{\large{'}})", large_bold},
        },
        lower);
}

// Each cell of an environment body is lowered on its own, from the state in
// force where the environment starts: a switch ends at the `&` or row end.
// Every slot but a script base starts with no style, as TeX may set one
// there; fonts and sizes carry on into it.
TEST(TransformPassesLowering, CellsAndStyleSlots) {
    constexpr const char* D = "math_style:D";
    check(
        {
            {"font at the start of a cell", src(R"(\begin{pmatrix}\bf a&b\\c&d\end{pmatrix})"),
             R"(\begin{pmatrix}\mathbf{a}&b\\c&d\end{pmatrix})", row(BOLD, "1.0/0.0/0.1")},
            {"declarative ends at its cell", src(R"(\begin{matrix}\displaystyle a&b\cr c\end{matrix})"),
             R"(\begin{matrix}\displaystyle a&b\cr c\end{matrix})", row(D, "1.0/0.0/1.0")},
            {"declarative at the end of a cell", src(R"(\begin{matrix}a\bf&b\end{matrix})"),
             R"(\begin{matrix}a&b\end{matrix})", row(BOLD, "1.0/0.0/0.0") + ", eliminated_empty_segments=1"},
            {"cells start from the state outside", src(R"(\bf x\begin{matrix}a&\rm b\end{matrix})"),
             R"(\mathbf{x\begin{matrix}a&\mathrm{b}\end{matrix}})",
             row(BOLD, "1.0/0.0/0.1") + ", math_font:VARIANT.NORMAL 1.0/0.0/0.1"},
            {"a switch in each cell", src(R"(\begin{matrix}\large a&\large b\end{matrix})"),
             R"(\begin{matrix}\large a&\large b\end{matrix})", "math_size:120 2.0/0.0/2.0"},
            {"style in a fraction part", src(R"(\displaystyle\frac{\displaystyle a}{b})"),
             R"(\displaystyle\frac{\displaystyle a}{b})", row(D, "2.0/0.0/2.0")},
            {"style in a superscript", src(R"(\displaystyle x^{\displaystyle 2})"),
             R"(\displaystyle x^{\displaystyle 2})", row(D, "2.0/0.0/2.0") + ", eliminated_empty_segments=1"},
            {"style in a cell", src(R"(\displaystyle\begin{matrix}\displaystyle a\end{matrix})"),
             R"(\displaystyle\begin{matrix}\displaystyle a\end{matrix})", row(D, "2.0/0.0/2.0")},
            {"a script base keeps the style", src(R"(\displaystyle{\displaystyle x}^2)"), R"(\displaystyle{x}^{2})",
             row(D, "2.0/1.0/1.0")},
            {"a second switch in one list goes", src(R"(\sqrt{\displaystyle a\displaystyle b})"),
             R"(\sqrt{\displaystyle ab})", row(D, "2.0/1.0/1.0")},
            {"fonts carry into slots", src(R"(\bf\frac{\bf a}{b})"), R"(\mathbf{\frac{a}{b}})",
             row(BOLD, "2.0/1.0/0.1")},
        },
        lower);
}

// A canonical prefix command that lowering would write back unchanged is
// left in place, counted as if taken apart and written again; anything that
// would change it still goes through the rebuild.
TEST(TransformPassesLowering, CanonicalPrefixesStayInPlace) {
    struct StayCase {
        Case lowering;
        bool stays;  // the last command met in a pre-order walk is still the same node
    };
    const std::string bold_once = row(BOLD, "0.1/0.0/0.1");
    const StayCase cases[] = {
        {{"alone", src(R"(\mathbf{x})"), R"(\mathbf{x})", bold_once + ", eliminated_empty_segments=1"}, true},
        {{"between atoms", src(R"(a\mathbf{xy}b)"), R"(a\mathbf{xy}b)", bold_once}, true},
        {{"in a script group", src(R"(H_{\mathrm{q}})"), R"(H_{\mathrm{q}})",
          "math_font:VARIANT.NORMAL 0.1/0.0/0.1, eliminated_empty_segments=1"},
         true},
        {{"different values side by side", src(R"(\mathbf{x}\mathrm{y})"), R"(\mathbf{x}\mathrm{y})",
          bold_once + ", math_font:VARIANT.NORMAL 0.1/0.0/0.1, eliminated_empty_segments=1"},
         true},
        {{"text mode", src(R"(\text{a\textbf{b}})"), R"(\text{a\textbf{b}})",
          "text_series:series1 0.1/0.0/0.1, eliminated_empty_segments=1"},
         true},
        {{"script base", src(R"(\mathbf{x}_{a})"), R"(\mathbf{x}_{a})", bold_once + ", eliminated_empty_segments=1"},
         true},
        {{"unbraced superscript", src(R"(x^\mathrm{T})"), R"(x^{\mathrm{T}})",
          "math_font:VARIANT.NORMAL 0.1/0.0/0.1, eliminated_empty_segments=1"},
         true},
        {{"unbraced argument", src(R"(\frac\mathbf{x}2)"), R"(\frac{\mathbf{x}}{2})",
          bold_once + ", eliminated_empty_segments=1"},
         true},
        {{"in an infix operand: never lowered", src(R"(a\over\mathbf{b})"), R"(a\over\mathbf{b})", ""}, true},
        {{"same value side by side joins", src(R"(\mathbf{x}\mathbf{y})"), R"(\mathbf{xy})",
          row(BOLD, "0.2/0.0/0.1") + ", eliminated_empty_segments=1"},
         false},
        {{"inside another prefix", src(R"(\mathrm{\mathbf{x}})"), R"(\mathbf{x})",
          row(BOLD, "0.1/0.0/0.1") + ", math_font:VARIANT.NORMAL 0.1/0.1/0.0, eliminated_empty_segments=2"},
         false},
        {{"unbraced body", src(R"(\mathbf x)"), R"(\mathbf{x})", bold_once + ", eliminated_empty_segments=1"},
         false},
        {{"empty body", src(R"(a\mathbf{})"), "a", row(BOLD, "0.1/0.1/0.0")}, false},
        {{"a text command in math", src(R"(\textbf{x})"), R"(\textbf{x})", "text_series:series1 0.1/0.0/0.1"}, false},
        {{"script base beside a declarative", src(R"(\mathbf{x}_{a}{\large y})"), R"(\mathbf{x}_{a}\large y)",
          bold_once + ", math_size:120 1.0/0.0/1.0, eliminated_empty_segments=2"},
         false},
        {{"a declarative elsewhere", src(R"(\mathbf{x}{\large y})"), R"(\mathbf{x}\large y)",
          bold_once + ", math_size:120 1.0/0.0/1.0, eliminated_empty_segments=1"},
         false},
    };
    for (const StayCase& c : cases) {
        SCOPED_TRACE(std::string(c.lowering.about) + ": " + describe(c.lowering.input));
        const PassRun run = run_pass(c.lowering.input, lower);
        EXPECT_EQ(run.output, testing::strip_spacing(c.lowering.output));
        EXPECT_EQ(run.counters, c.lowering.counters);

        auto document = document_of(c.lowering.input);
        std::optional<NodeId> last;
        document.ast().walk_preorder(document.ast().root(), [&](NodeId id, const syntax::ast::Node& node) {
            if (node.is<syntax::ast::Node::Command>()) last = id;
            return true;
        });
        ASSERT_TRUE(last.has_value());
        ReportRecorder off = ReportRecorder::off();
        lower(document.ast_mut(), off);
        EXPECT_EQ(document.ast().contains(*last), c.stays);
    }
}

TEST(TransformPassesLowering, BuiltTrees) {
    const SyntaxNode body = group(ContentMode::Math, {declarative("bf"), ch(U'x')});
    check(
        {
            {"unrecognised in text mode", tree(in_text({declarative("textstyle"), text("a")})),
             R"(\text{\textstyle a})", ""},
            {"math prefix met in text", tree(in_text({command("mathbf", {math_arg(ch(U'x'))})})),
             R"(\text{\mathbf{x}})", row(BOLD, "0.1/0.0/0.1")},
            {"explicit environment body stays a group", tree(root({environment("matrix", body)})),
             R"(\begin{matrix}\mathbf{x}\end{matrix})", row(BOLD, "1.0/0.0/0.1") + ", eliminated_empty_segments=1"},
            // left as it is, but for the font the left operand hands on
            {"infix operand", tree(root({infix("over", declarative("bf"), ch(U'x'))})), R"(\bf\over\bf x)", ""},
        },
        lower);
}

// In math, white space around the content of a text stays outside the
// wrappers.
TEST(TransformPassesLowering, MathTextsAreSplitAroundWhiteSpace) {
    struct TreeCase {
        const char* about;
        SyntaxNode input;
        SyntaxNode expected;
    };
    const auto bold = [](std::vector<SyntaxNode> children) {
        return command("mathbf", {math_arg(implicit(ContentMode::Math, std::move(children)))});
    };
    const TreeCase cases[] = {
        {"inside a bold run", root({declarative("bf"), text(" x ")}), root({text(" "), bold({text("x")}), text(" ")})},
        {"white space ends a chunk", root({declarative("bf"), ch(U'a'), text("\u3000"), ch(U'b')}),
         root({bold({ch(U'a')}), text("\u3000"), bold({ch(U'b')})})},
        {"no attribute: still split", root({text("\t y")}), root({text("\t "), text("y")})},
        {"text mode is not split", in_text({text(" y ")}), in_text({text(" y ")})},
    };
    for (const TreeCase& c : cases) {
        SCOPED_TRACE(c.about);
        EXPECT_EQ(run_pass(tree(c.input), lower).tree, c.expected);
    }
}

// ---- Finalisation --------------------------------------------------------------------------

TEST(TransformPassesFinalize, NormalizeWhitespace) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a  b", "a b"},
        {"\t\n\xc2\xa0x", " x"},  // tab, line feed and no-break space
        {"a\vb", "a\vb"},        // a vertical tab is no white space here
        {"   ", " "},
        {" a \r\f", " a "},
        {"\xe3\x80\x80", "\xe3\x80\x80"},  // U+3000 is left as it is
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(passes::normalize_whitespace(text), expected) << text;
}

TEST(TransformPassesFinalize, PrimesAndTexts) {
    check(
        {
            {"prime run merged", tree(root({ch(U'a'), prime(1), prime(2), ch(U'b')})), "a'''b", "prime_run_merges=1"},
            {"lone primes stay", tree(root({prime(1), ch(U'x'), prime(1)})), "'x'", ""},
            {"two runs", tree(root({prime(1), prime(1), ch(U'x'), prime(2), prime(1)})), "''x'''",
             "prime_run_merges=2"},
            {"math texts are not normalised", tree(root({text("a  b")})), "a  b", ""},
            {"text run joined", tree(in_text({text("a "), text(" b")})), R"(\text{a b})", "text_normalizations=1"},
            {"single text respaced", tree(in_text({text("a  b")})), R"(\text{a b})", "text_normalizations=1"},
            {"canonical text untouched", tree(in_text({text("a b")})), R"(\text{a b})", ""},
            {"empty text dropped", tree(in_text({ch(U'a'), text("")})), R"(\text{a})", "text_normalizations=1"},
            {"text argument respaced", tree(root({command("text", {text_arg(text("a \t b"))})})), R"(\text{a b})",
             "text_normalizations=1"},
            {"empty text argument", tree(root({command("text", {text_arg(text(""))})})), R"(\text{})",
             "text_normalizations=1"},
            {"nested text group", tree(in_text({group(ContentMode::Text, {text("x  "), text("y")})})),
             R"(\text{{x y}})", "text_normalizations=1"},
            {"prime run in a superscript", tree(root({scripted(ch(U'x'), {}, math({prime(1), prime(1)}))})),
             "x^{''}", "prime_run_merges=1"},
            {"prime run in an argument", tree(root({command("sqrt", {math_arg(math({ch(U'a'), prime(1), prime(1)}))})})),
             R"(\sqrt{a''})", "prime_run_merges=1"},
            {"a prime and a text are no run", tree(root({prime(1), text("a"), prime(1)})), "'a'", ""},
            {"text run at the end of a list", tree(in_text({ch(U'a'), text("b"), text("c")})), R"(\text{abc})",
             "text_normalizations=1"},
        },
        finalize);
}

TEST(TransformPassesFinalize, SecondRunChangesNothing) {
    auto document = testing::tree_document(in_text({text("a "), text(" b"), group(ContentMode::Text, {text(" ")})}));
    ReportRecorder first = ReportRecorder::collecting();
    finalize(document.ast_mut(), first);
    const SyntaxNode once = document.to_syntax();
    ReportRecorder second = ReportRecorder::collecting();
    finalize(document.ast_mut(), second);
    EXPECT_EQ(document.to_syntax(), once);
    EXPECT_EQ(counters(std::move(second).into_report()), "");
}

// ---- Group flattening ----------------------------------------------------------------------

struct FlattenCase {
    const char* about;
    Input input;
    bool preserve;  // preserve_rendered_spacing: default of guards 4 to 10
    std::vector<std::pair<FlattenGuard, bool>> overlay;
    std::string output;
    std::string counters;
};

void check_flatten(const std::vector<FlattenCase>& cases) {
    for (const FlattenCase& c : cases) {
        SCOPED_TRACE(std::string(c.about) + ": " + describe(c.input));
        FlattenGroupsGuardsOverlay overlay;
        for (auto [guard, value] : c.overlay) overlay.guards[static_cast<std::size_t>(guard)] = value;
        const FlattenGroupsGuards guards = FlattenGroupsGuards::resolve(c.preserve, &overlay);
        const PassRun run = run_pass(c.input, [&](syntax::Ast& ast, ReportRecorder& recorder) {
            passes::flatten_groups(ast, ast.root(), guards, recorder);
        });
        EXPECT_EQ(run.output, testing::strip_spacing(c.output));
        EXPECT_EQ(run.counters, c.counters);
    }
}

using G = FlattenGuard;

TEST(TransformPassesFlatten, Actions) {
    check_flatten({
        {"single child", src("{a}b"), false, {}, "ab", "replaced_single_child=1"},
        {"several children", src("{ab}c"), false, {}, "abc", "inlined_multi_child=1"},
        {"empty group", src("{}x"), false, {}, "x", "removed_empty=1"},
        {"superscript slot", src("x^{2}"), false, {}, "x^{2}", "unwrapped_slot=1"},
        {"inside out", src("{{{x}}}"), false, {}, "x", "replaced_single_child=3"},
        {"argument", src(R"(\sqrt{{x}})"), false, {}, R"(\sqrt{x})", "replaced_single_child=1, unwrapped_slot=1"},
        {"text argument", src(R"(\text{{a}})"), true, {}, R"(\text{a})", "replaced_single_child=1, unwrapped_slot=1"},
        {"script base", src("{x}_i"), true, {}, "x_{i}", "unwrapped_slot=1"},
        {"atomic command base", src(R"({\alpha}^2)"), true, {}, R"(\alpha^{2})", "unwrapped_slot=1"},
        {"primes meet", src("{'}{'}"), true, {}, "''", "prime_run_merges=1, replaced_single_child=2"},
    });
}

// Primes that come to follow an item read back as its script, or as one run
// with a prime before them: the groups around decide on the list as it will
// read, so that the next reading decides alike.
TEST(TransformPassesFlatten, PrimesThatLand) {
    check_flatten({
        {"a run in a script group", src("x^{'{'}}"), false, {}, "x''",
         "prime_run_merges=1, replaced_single_child=1, unwrapped_slot=1"},
        {"a raised run keeps its braces", src("x^{'{'}}"), true, {}, "x^{''}",
         "prime_run_merges=1, replaced_single_child=1"},
        {"a run parted by an empty group", src("'{}{'}"), false, {}, "''",
         "prime_run_merges=1, removed_empty=1, replaced_single_child=1"},
        {"after a spacing character", src("{!{'}}"), true, {}, "!'", "replaced_single_child=1, inlined_multi_child=1"},
        {"prefixes of one name stay parted", src(R"(\mathbf{x}{}\mathbf{y})"), false, {}, R"(\mathbf{x}{}\mathbf{y})",
         "unwrapped_slot=2"},
        {"a primed prefix meets nothing", src(R"(\mathbf{x}{}\mathbf{y}{'})"), false, {}, R"(\mathbf{x}\mathbf{y}')",
         "removed_empty=1, replaced_single_child=1, unwrapped_slot=2"},
        {"primed once the group around goes", src(R"({\mathbf{x}{}\mathbf{y}}{'})"), false, {},
         R"(\mathbf{x}\mathbf{y}')", "removed_empty=1, replaced_single_child=1, inlined_multi_child=1, unwrapped_slot=2"},
        {"a prefix group before a prefix of its name", src(R"({\mathbf{x}}\mathbf{y})"), false, {},
         R"({\mathbf{x}}\mathbf{y})", "unwrapped_slot=2"},
        {"a prefix group before a primed one", src(R"({\mathbf{x}}\mathbf{y}{'})"), false, {}, R"(\mathbf{x}\mathbf{y}')",
         "replaced_single_child=2, unwrapped_slot=2"},
    });
}

TEST(TransformPassesFlatten, Guards) {
    check_flatten({
        {"declarative scope", src(R"({\bf x} y)"), false, {}, R"({\bf x}y)", "declarative_scope=1"},
        {"declarative scope before the environment body",
         src(R"(\begin{matrix}{\bf x}\end{matrix})"), false, {}, R"(\begin{matrix}{\bf x}\end{matrix})",
         "declarative_scope=2"},
        {"environment body", src(R"(\begin{matrix}{a}\end{matrix})"), false, {}, R"(\begin{matrix}{a}\end{matrix})",
         "env_body=2"},
        {"single prime superscript in an environment", src(R"(\begin{matrix}x^{'}\end{matrix})"), false, {},
         R"(\begin{matrix}x'\end{matrix})", "unwrapped_slot=1, env_body=1"},
        {"environment body guard off", src(R"(\begin{matrix}{a}\end{matrix})"), false, {{G::EnvBody, false}},
         R"(\begin{matrix}a\end{matrix})", "replaced_single_child=1"},
        {"operator base", src(R"({\sum}_i)"), false, {}, R"({\sum}_{i})", "script_base=1"},
        {"operator base guard off", src(R"({\sum}_i)"), false, {{G::ScriptBase, false}}, R"(\sum_{i})",
         "unwrapped_slot=1"},
        {"two children in a slot", src("x^{ab}"), false, {}, "x^{ab}", ""},
        {"infix scope", src(R"({a\over b}c)"), false, {}, R"({a\over b}c)", "infix_scope=1"},
        {"delimited pair", src(R"({\left(x\right)})"), true, {}, R"({\left(x\right)})", "delimited_pair=1"},
        {"delimited pair off", src(R"({\left(x\right)})"), false, {}, R"(\left(x\right))",
         "replaced_single_child=1"},
        {"command contact", src(R"(\alpha{b})"), true, {}, R"(\alpha{b})", "command_contact=1"},
        {"command contact through a scripted base", src(R"(\alpha^2{b})"), true, {}, R"(\alpha^{2}{b})",
         "command_contact=1, command_contact_via_scripted_base=1"},
        {"scripted base not included", src(R"(\alpha^2{b})"), false, {{G::CommandContact, true}}, R"(\alpha^{2}b)",
         "replaced_single_child=1"},
        {"contact off", src(R"(\alpha{b})"), false, {}, R"(\alpha b)", "replaced_single_child=1"},
        {"command argument", src(R"(\sqrt{\alpha})"), true, {}, R"(\sqrt{\alpha})", "command_argument=1"},
        {"empty group", src("{}x"), true, {}, "{}x", "empty_group=1"},
        {"overlay turns one guard back on", src("{}x{a}"), false, {{G::EmptyGroup, true}}, "{}xa",
         "replaced_single_child=1, empty_group=1"},
        {"lone spacing character", src("{=}"), true, {}, "{=}", "lone_atom_spacing_char=1"},
        {"lone spacing character as a base", src("{+}_1"), true, {}, "{+}_{1}", "lone_atom_spacing_char=1"},
        {"leading spacing character", src("{,x}"), true, {}, "{,x}", "leading_atom_spacing_char=1"},
        {"text group in a math list", tree(root({group(ContentMode::Text, {text("a")}), ch(U'b')})), false, {},
         R"({a}b)", ""},
    });
}

// An unknown command is read with no arguments: its optional run and brace
// groups follow it as siblings, and all of those groups are its arguments.
TEST(TransformPassesFlatten, UnknownCommandArgumentRuns) {
    check_flatten({
        {"every group of the run", src(R"(\foo{a}{bc}{de})"), true, {}, R"(\foo{a}{bc}{de})", "command_contact=3"},
        {"after an optional run", src(R"(\foo[2]{ab}{cd})"), true, {}, R"(\foo[2]{ab}{cd})", "command_contact=2"},
        {"through a scripted base", src(R"(\foo^2{ab}{cd})"), true, {}, R"(\foo^{2}{ab}{cd})",
         "command_contact=2, command_contact_via_scripted_base=2"},
        {"scripted base not included", src(R"(\foo^2{ab}{cd})"), false, {{G::CommandContact, true}},
         R"(\foo^{2}abcd)", "inlined_multi_child=2"},
        {"contact off", src(R"(\foo{x}{yz})"), false, {{G::CommandLikeIncludesScriptedBase, true}}, R"(\foo xyz)",
         "replaced_single_child=1, inlined_multi_child=1"},
        {"inside another's optional run", src(R"(\foo[\qux{a}{b}]{c}{d})"), true, {},
         R"(\foo[\qux{a}{b}]{c}{d})", "command_contact=4"},
    });
}

// ---- The pipeline ----------------------------------------------------------------------------

struct PipelineCase {
    const char* about;
    Input input;
    std::uint8_t mask;
    TransformOptions options;
    std::string output;
    std::string counters;
};

TransformOptions with(bool lower, bool finalize, bool flatten, bool preserve = true) {
    TransformOptions options;
    options.lower_attributes.enabled = lower;
    options.finalize_ast.enabled = finalize;
    options.flatten_groups.enabled = flatten;
    options.flatten_groups.preserve_rendered_spacing = preserve;
    return options;
}

void check_pipeline(const std::vector<PipelineCase>& cases, RuleSelection selection) {
    for (const PipelineCase& c : cases) {
        SCOPED_TRACE(std::string(c.about) + ": " + describe(c.input));
        const TransformContext engine = testing::make_engine(parse_context(), c.mask, selection);
        auto document = document_of(c.input);
        const testing::RunResult result = testing::run(engine, parse_context(), document.ast_mut(), c.options);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.output, testing::strip_spacing(c.output));
        EXPECT_EQ(counters(result.report), c.counters);
    }
}

TEST(TransformPassesPipeline, PassesAlone) {
    check_pipeline(
        {
            {"flattening lets primes meet", src("{'}{'}"), testing::AUTHORING, with(true, true, true), "''",
             "prime_run_merges=1, replaced_single_child=2"},
            {"no finalisation after flattening", src("{'}{'}"), testing::AUTHORING, with(true, false, true), "''",
             "prime_run_merges=1, replaced_single_child=2"},
            {"no flattening", src("{'}{'}"), testing::AUTHORING, with(true, true, false), "{'}{'}", ""},
            {"lowered twice", src(R"({\bf x})"), testing::AUTHORING, with(true, true, true), R"(\mathbf{x})",
             row(BOLD, "1.1/0.0/0.2") + ", eliminated_empty_segments=2, unwrapped_slot=1"},
            {"lowering off", src(R"({\bf x})"), testing::AUTHORING, with(false, true, true), R"({\bf x})",
             "declarative_scope=1"},
            {"spacing not preserved", src(R"(\alpha{b}{}{=})"), testing::EQUIV, with(true, true, true, false),
             R"(\alpha b=)", "removed_empty=1, replaced_single_child=2"},
            {"spacing preserved", src(R"(\alpha{b}{}{=})"), testing::EQUIV, with(true, true, true, true),
             R"(\alpha{b}{}{=})", "command_contact=1, empty_group=1, lone_atom_spacing_char=1"},
            {"text respaced after flattening", tree(in_text({text("a "), group(ContentMode::Text, {text("b")})})),
             testing::AUTHORING, with(false, true, true), R"(\text{a b})",
             "text_normalizations=1, replaced_single_child=1"},
            // Primes that meet are merged as they meet, so that the group
            // around them decides on one member; texts that meet are
            // respaced by finalising the lists flattening changed. Two spaces
            // that would meet keep their group: TeX sets both.
            {"primes meet in a kept script group", src("x^{'{'}}"), testing::AUTHORING, with(true, true, true),
             "x^{''}", "prime_run_merges=1, replaced_single_child=1"},
            {"primes meet three levels up", src("a{'{{'}}}"), testing::AUTHORING, with(true, true, true), "a''",
             "prime_run_merges=1, replaced_single_child=3"},
            {"texts meet two levels up", src(R"(\text{a {b {c} d}})"), testing::AUTHORING, with(true, true, true),
             R"(\text{a b c d})", "text_normalizations=1, replaced_single_child=1, inlined_multi_child=1"},
        },
        RuleSelection::only({}));
}

// The runs through the whole pipeline: kept where rendering is, flattened as
// before at corpus and equiv. After a known command its arguments are slots
// and only the first following group touches it.
TEST(TransformPassesPipeline, UnknownCommandArgumentRunsAtEachProfile) {
    struct Case {
        const char* source;
        const char* kept;  // authoring and faithful
        const char* flat;  // corpus and equiv
    };
    const Case cases[] = {
        {R"(\textcolor{blue}{a+b} = c)", R"(\textcolor{blue}{a+b}=c)", R"(\textcolor blue a+b=c)"},
        {R"(\foo{x}{yz})", R"(\foo{x}{yz})", R"(\foo xyz)"},
        {R"(\foo{a}{bc}{de})", R"(\foo{a}{bc}{de})", R"(\foo abcde)"},
        {R"(\href{u}{x+y})", R"(\href{u}{x+y})", R"(\href u x+y)"},
        {R"(\foo[2]{ab}{cd})", R"(\foo[2]{ab}{cd})", R"(\foo[2]abcd)"},
        {R"(\text{\foo{ab}{cd} e})", R"(\text{\foo{ab}{cd} e})", R"(\text{\foo abcd e})"},
        {R"(\text{\foo[2]{ab}{cd} e})", R"(\text{\foo[2]{ab}{cd} e})", R"(\text{\foo[2]abcd e})"},
        {R"(\foo^2{ab}{cd})", R"(\foo^{2}{ab}{cd})", R"(\foo^{2}abcd)"},
        {R"({\foo{ab}}{cd})", R"({\foo{ab}}cd)", R"(\foo abcd)"},
        {R"(\sqrt{x}{y}{z})", R"(\sqrt{x}{y}z)", R"(\sqrt{x}yz)"},
        {R"(\alpha{b}{cd})", R"(\alpha{b}cd)", R"(\alpha bcd)"},
        {R"(\foo x{a}{b})", R"(\foo xab)", R"(\foo xab)"},
        {R"(\foo{a}[x]{b})", R"(\foo{a}[x]b)", R"(\foo a[x]b)"},
        {R"(\foo[[a]]{b})", R"(\foo[[a]]b)", R"(\foo[[a]]b)"},
    };
    for (const std::uint8_t mask : {testing::AUTHORING, testing::FAITHFUL, testing::CORPUS, testing::EQUIV}) {
        const bool preserve = mask <= testing::FAITHFUL;
        const TransformContext engine = testing::make_engine(parse_context(), mask);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.source) + " at level mask " + std::to_string(mask));
            auto document = testing::parse_document(parse_context(), c.source);
            const auto result =
                testing::run(engine, parse_context(), document.ast_mut(), with(true, true, true, preserve));
            EXPECT_EQ(result.error, "");
            EXPECT_EQ(result.output, testing::strip_spacing(preserve ? c.kept : c.flat));
        }
    }
}

// Formulas made from a seed, with unknown commands named apart: each gets 1
// to 3 groups, sometimes a script or an optional run first, and its groups
// and optional run may hold further commands. Pieces are joined by `+` (in
// text by ` and `), so no run goes on past what was made for it.
class ArgumentRunMaker {
public:
    explicit ArgumentRunMaker(unsigned seed) : rng_(seed) {}
    std::map<std::string, std::size_t> groups;  // of every command made

    std::string formula(bool text) { return text ? R"(\text{)" + content(0, true) + "}" : content(0, false); }

private:
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_); }

    std::string content(int depth, bool text) {
        static const char* const math_atoms[] = {"x", "12", R"(\alpha)", "{y}", "a_i"};
        std::string out;
        for (std::size_t i = 0, n = 1 + below(3); i < n; ++i) {
            if (i > 0) out += text ? " and " : "+";
            out += depth < 2 && below(2) == 0 ? command(depth, text, true) : text ? "ab" : math_atoms[below(5)];
        }
        return out;
    }

    // In an optional run a command has none of its own: its `]` would end the outer one.
    std::string command(int depth, bool text, bool optional_allowed) {
        std::string name = "zq";
        for (std::size_t n = groups.size(); name.size() < 3 || n > 0; n /= 26) name += char('a' + n % 26);
        groups[name] = 0;  // taken before the commands in its optional run are named
        std::string out = "\\" + name;
        if (!text && below(3) == 0) out += below(2) == 0 ? "^2" : "_{i}^{n}";
        if (optional_allowed && below(3) == 0) {
            out += "[" + (!text && below(2) == 0 ? command(depth + 1, false, false) : std::string("v")) + "]";
        }
        const std::size_t k = 1 + below(3);
        groups[name] = k;
        for (std::size_t i = 0; i < k; ++i) out += "{" + content(depth + 1, text) + "}";
        return out;
    }

    std::mt19937 rng_;
};

// The brace groups that follow each unknown command in the lists of a tree,
// after its optional run.
std::map<std::string, std::size_t> argument_groups(const syntax::Ast& ast) {
    std::map<std::string, std::size_t> found;
    auto bracket = [&](NodeId id, char32_t c) {
        const Node& node = ast.node(id);
        if (const auto* ch = node.get_if<Node::Char>()) return ch->value == c;
        const auto* text = node.get_if<Node::Text>();
        return text != nullptr && (c == U'[' ? text->value.starts_with('[') : text->value.view().ends_with(']'));
    };
    ast.walk_preorder(ast.root(), [&](NodeId id, const Node& node) {
        if (!node.is<Node::Root>() && !node.is<Node::Group>()) return true;
        const std::span<const NodeId> list = ast.children(id);
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Node* head = &ast.node(list[i]);
            while (const auto* scripted = head->get_if<Node::Scripted>()) head = &ast.node(scripted->base);
            const auto* command = head->get_if<Node::Command>();
            if (command == nullptr || command->known) continue;
            std::size_t j = i + 1;
            if (j < list.size() && bracket(list[j], U'[')) {
                while (j < list.size() && !bracket(list[j], U']')) ++j;
                ++j;
            }
            std::size_t& count = found[std::string(command->name.view())];
            for (; j < list.size() && ast.node(list[j]).is<Node::Group>(); ++j) ++count;
        }
        return true;
    });
    return found;
}

TEST(TransformPassesPipeline, UnknownCommandsKeepEveryArgumentGroupAtFaithful) {
    const TransformContext engine = testing::make_engine(parse_context(), testing::FAITHFUL);
    for (unsigned seed = 0; seed < 300; ++seed) {
        ArgumentRunMaker maker(seed);
        const std::string source = maker.formula(seed % 4 == 3);
        SCOPED_TRACE(source);
        auto document = testing::parse_document(parse_context(), source);
        const auto result = testing::run(engine, parse_context(), document.ast_mut(), with(true, true, true, true));
        ASSERT_EQ(result.error, "");
        EXPECT_EQ(argument_groups(testing::parse_document(parse_context(), result.output).ast()), maker.groups)
            << result.output;
    }
}

// Rules run between the two lowerings; what they leave is finalised and
// flattened.
TEST(TransformPassesPipeline, WithRules) {
    check_pipeline(
        {
            {"renamed command in a lowered run", src(R"({\bf a\le b})"), testing::AUTHORING, TransformOptions{},
             R"(\mathbf{a\leq b})", row(BOLD, "1.1/0.0/0.2") + ", eliminated_empty_segments=2"},
        },
        RuleSelection::all());
}

// ---- Deep and large trees --------------------------------------------------------------------

using syntax::Ast;
using syntax::ast::GroupKind;
using syntax::ast::Node;

// Builders of one level of a tall tree around the level below it.
NodeId explicit_group(Ast& ast, std::initializer_list<NodeId> children, ContentMode mode = ContentMode::Math) {
    return ast.new_node(Node::Group{syntax::ast::ChildList(children), GroupKind::Explicit{}, mode});
}
NodeId implicit_group(Ast& ast, std::initializer_list<NodeId> children, ContentMode mode = ContentMode::Math) {
    return ast.new_node(Node::Group{syntax::ast::ChildList(children), GroupKind::Implicit{}, mode});
}
NodeId leaf(Ast& ast, Node value) { return ast.new_node(std::move(value)); }
std::optional<syntax::ast::Argument> content(syntax::ast::ArgumentKind kind, syntax::ast::ArgumentValue value) {
    return syntax::ast::Argument{std::move(kind), false, std::move(value)};
}
NodeId prefix(Ast& ast, std::string name, NodeId body) {
    syntax::ast::ArgumentSlots args;
    args.push_back(content(syntax::ast::ArgumentKind::Mandatory{}, syntax::ast::ArgumentValue::MathContent{body}));
    return ast.new_node(Node::Command{std::move(name), std::move(args), true});
}

struct TallShape {
    const char* name;
    std::function<NodeId(Ast&)> bottom;
    std::function<NodeId(Ast&, NodeId)> level;
};

const TallShape TALL_SHAPES[] = {
    {"braces", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) { return explicit_group(a, {in}); }},
    {"primes", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) { return explicit_group(a, {leaf(a, Node::Prime{1}), in}); }},
    {"superscripts", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) { return a.new_node(Node::Scripted{leaf(a, Node::Char{U'x'}), std::nullopt, explicit_group(a, {in})}); }},
    {"arguments", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) { return prefix(a, "sqrt", implicit_group(a, {explicit_group(a, {in})})); }},
    {"operand chain with optional groups", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) {
         syntax::ast::ArgumentSlots args;
         const NodeId index = implicit_group(a, {explicit_group(a, {leaf(a, Node::Char{U'3'})})});
         args.push_back(content(syntax::ast::ArgumentKind::Optional{}, syntax::ast::ArgumentValue::MathContent{index}));
         args.push_back(content(syntax::ast::ArgumentKind::Mandatory{}, syntax::ast::ArgumentValue::MathContent{in}));
         return a.new_node(Node::Command{"sqrt", std::move(args), true});
     }},
    {"declaratives", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) {
         return explicit_group(a, {leaf(a, Node::Declarative{"bf", {}}), leaf(a, Node::Char{U'a'}), in});
     }},
    {"prefixes", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) {
         return prefix(a, "mathbf", implicit_group(a, {leaf(a, Node::Declarative{"large", {}}), leaf(a, Node::Char{U'a'}), in}));
     }},
    {"spaced texts", [](Ast& a) { return leaf(a, Node::Text{"x"}); },
     [](Ast& a, NodeId in) { return explicit_group(a, {leaf(a, Node::Text{" a  "}), in}, ContentMode::Text); }},
    // Every level dissolves for the size declared at the bottom, so each
    // level's group sees the content of all levels below.
    {"groups dissolved from below", [](Ast& a) { return explicit_group(a, {leaf(a, Node::Declarative{"small", {}}), leaf(a, Node::Char{U'x'})}); },
     [](Ast& a, NodeId in) {
         return explicit_group(a, {leaf(a, Node::Char{U'a'}), explicit_group(a, {leaf(a, Node::Declarative{"bf", {}}), in})});
     }},
    {"prefixes in groups", [](Ast& a) { return leaf(a, Node::Char{U'x'}); },
     [](Ast& a, NodeId in) {
         return explicit_group(a, {prefix(a, "mathrm", implicit_group(a, {leaf(a, Node::Char{U'a'})})), in});
     }},
};

// A root over `depth` levels of the shape; a text-mode shape hangs in \text.
Ast tall_tree(const TallShape& shape, std::size_t depth) {
    Ast ast = Ast::with_root_mode(ContentMode::Math);
    NodeId inner = shape.bottom(ast);
    for (std::size_t i = 0; i < depth; ++i) inner = shape.level(ast, inner);
    if (const auto* g = ast.node(inner).get_if<Node::Group>(); g != nullptr && g->mode == ContentMode::Text) {
        syntax::ast::ArgumentSlots args;
        args.push_back(content(syntax::ast::ArgumentKind::Mandatory{}, syntax::ast::ArgumentValue::TextContent{inner}));
        inner = ast.new_node(Node::Command{"text", std::move(args), true});
    }
    ast.append_child(ast.root(), inner);
    return ast;
}

// The whole pipeline on trees far taller than any parse gives: no stack is
// used up, it ends within the work bound (linear in the nodes), and nothing
// is left detached.
TEST(TransformPassesDepth, TallTreesEndQuickly) {
    constexpr std::size_t kDeep = 20000;
    const TransformContext engine = testing::make_engine(parse_context(), testing::EQUIV, RuleSelection::only({}));
    for (const TallShape& shape : TALL_SHAPES) {
        SCOPED_TRACE(shape.name);
        Ast ast = tall_tree(shape, kDeep);
        auto report = engine.run_with_report(ast, parse_context(), with(true, true, true, false));
        ASSERT_TRUE(report) << report.error().to_string();
        EXPECT_EQ(reachable(ast), ast.node_count());
        const std::string name = shape.name;
        if (name == "braces") {
            EXPECT_EQ(ast.node_count(), 2u);
            EXPECT_EQ(report->flatten_groups.actions.replaced_single_child, kDeep);
        } else if (name == "primes") {
            ASSERT_EQ(ast.children(ast.root()).size(), 2u);
            EXPECT_EQ(ast.node(ast.children(ast.root())[0]), Node(Node::Prime{kDeep}));
        } else if (name == "declaratives") {
            const AttributeSet bold{attr::MathVariant{"VARIANT.BOLD"}, Attr::MathFont};
            EXPECT_EQ(report->lower_attributes.attributes.at(bold).consumed.declaratives, kDeep);
        } else if (name == "spaced texts") {
            EXPECT_EQ(report->finalize_ast.text_normalizations, kDeep + 1);  // once more after flattening
        }
    }
}

// Flattening that edits every level of a tall tree stays linear in its
// height: edits deep down cost no more than edits near the root.
TEST(TransformPassesDepth, EditsAtEveryLevelStayLinear) {
    const TallShape& shape = TALL_SHAPES[4];  // every level has two groups to flatten
    auto work = [&](std::size_t depth) {
        Ast ast = tall_tree(shape, depth);
        ReportRecorder recorder = ReportRecorder::collecting();
        const std::uint64_t units = testing::work_of([&] {
            passes::flatten_groups(ast, ast.root(), FlattenGroupsGuards::resolve(false, nullptr), recorder);
        });
        const auto actions = std::move(recorder).into_report().flatten_groups.actions;
        EXPECT_EQ(actions.replaced_single_child, depth);
        EXPECT_EQ(actions.unwrapped_slot, depth);
        return units;
    };
    const std::uint64_t small = work(5000);
    const std::uint64_t large = work(40000);
    EXPECT_LE(large, 12 * small) << small << " units for 5000 levels, " << large << " for 40000";
}

// Whether a group dissolves, or keeps braces around attribute prefixes, is
// decided without a walk over the levels below: the pipeline stays linear.
TEST(TransformPassesDepth, GroupDecisionsStayLinear) {
    const TransformContext engine = testing::make_engine(parse_context(), testing::EQUIV, RuleSelection::only({}));
    for (const TallShape& shape : TALL_SHAPES) {
        const std::string name = shape.name;
        if (name != "groups dissolved from below" && name != "prefixes in groups") continue;
        SCOPED_TRACE(name);
        auto work = [&](std::size_t depth) {
            Ast ast = tall_tree(shape, depth);
            return testing::work_of(
                [&] { EXPECT_TRUE(engine.run_with_report(ast, parse_context(), with(true, true, true, false))); });
        };
        const std::uint64_t small = work(2000);
        const std::uint64_t large = work(16000);
        EXPECT_LE(large, 12 * small) << small << " units for 2000 levels, " << large << " for 16000";
    }
}

// ---- Corpus ----------------------------------------------------------------------------------

// The passes alone on real formulas: no error, nothing left detached, and
// what they write parses again without a diagnostic.
TEST(TransformPassesCorpus, PassesAreStable) {
    const auto corpus = testing::corpus_sample(25);
    if (!corpus) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const std::vector<std::string>& lines = *corpus;
    const TransformContext engine = testing::make_engine(parse_context(), testing::EQUIV, RuleSelection::only({}));
    for (bool preserve : {false, true}) {
        const TransformOptions options = with(true, true, true, preserve);
        for (const std::string& line : lines) {
            auto outcome = parse::parse_source(parse_context(), line, parse::ParseConfig{});
            if (!outcome.document || outcome.document->read_only()) continue;
            auto& document = *outcome.document;
            ASSERT_TRUE(engine.run_with(document.ast_mut(), parse_context(), options)) << line;
            ASSERT_EQ(reachable(document.ast()), document.ast().node_count()) << line;
            const std::string output = testing::compact(document.ast());
            const auto again = parse::parse_source(parse_context(), output, parse::ParseConfig{});
            EXPECT_TRUE(again.document && again.diagnostics.empty()) << line << "\n" << output;
        }
    }
}

}  // namespace
}  // namespace quorvel::transform
