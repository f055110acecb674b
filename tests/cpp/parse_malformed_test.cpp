// Malformed formulas through the whole parse road: what survives of them,
// which Error nodes stand for the bad text (the written text keeps every part
// of the source and reads back to itself), what is reported and where.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "corpus_mistakes.hpp"
#include "facade/transform_engine.hpp"
#include "malformed_invariants.hpp"
#include "parse_recovery_support.hpp"

namespace quorvel::parse {
namespace {

// ---- Spans after white space and comments ------------------------------------

// The default packages plus "prose", a caller environment with a text body,
// and "cg", a command whose one argument must be a braced group.
const facade::TransformEngine& span_engine() {
    static const facade::TransformEngine built = [] {
        using knowledge::AllowedMode;
        facade::TransformEngineBuilder builder;
        builder.profile(facade::EngineProfile::Corpus)
            .item(ContextItem::environment(
                {"prose", "", {}, static_cast<std::uint8_t>(syntax::ContentMode::Text), AllowedMode::Both}))
            .item(ContextItem::command({"cg", "m{}", {}, 0, AllowedMode::Both}));
        return std::move(builder.build()).value();
    }();
    return built;
}

std::string show_span(Span s) { return std::to_string(s.start) + ".." + std::to_string(s.end); }

struct SpanCase {
    const char* name;
    std::string source;
    // Every diagnostic: "kind start..end message {label@start..end, ...}".
    std::vector<std::string> diagnostics;
    // The span of the first node whose tree path ends with `node` ("" when the
    // case checks none), read before and, for a document without errors,
    // after a transform (which may change the path above the node).
    std::string node = {};
    std::string node_span = {};
};

void PrintTo(const SpanCase& c, std::ostream* os) { *os << c.source; }

class MalformedSpans : public ::testing::TestWithParam<SpanCase> {};

TEST_P(MalformedSpans, PointFailuresAreEmptySpansAtTheirToken) {
    const SpanCase& c = GetParam();
    auto result = span_engine().parser().parse_with(c.source, {});
    std::vector<std::string> got;
    for (const auto& d : result.diagnostics) {
        std::string line = testing::diag(d) + " {";
        for (std::size_t i = 0; i < d.contexts.size(); ++i)
            line += (i > 0 ? ", " : "") + d.contexts[i].label + "@" + show_span(d.contexts[i].span);
        got.push_back(line + "}");
    }
    EXPECT_EQ(got, c.diagnostics);
    if (c.node.empty()) return;
    ASSERT_TRUE(result.document);
    auto span_of = [&](const syntax::document::Document& doc) {
        for (const auto& entry : doc.node_spans())
            if (entry.id.ends_with(c.node)) return show_span(entry.span);
        std::string ids = "none of";
        for (const auto& entry : doc.node_spans()) ids += " " + entry.id;
        return ids;
    };
    EXPECT_EQ(span_of(*result.document), c.node_span);
    if (result.document->read_only()) return;
    ASSERT_TRUE(span_engine().transform_with(*result.document, span_engine().default_transform_options()));
    EXPECT_EQ(span_of(*result.document), c.node_span) << "after a transform";
}

INSTANTIATE_TEST_SUITE_P(
    AfterCommentsAndWhiteSpace, MalformedSpans,
    ::testing::Values(
        SpanCase{"no_atom_after_white_space", "a # b", {"- 2..3 expected atom or script marker {}"}},
        SpanCase{"no_atom_after_a_comment",
                 "a %c\n# b",
                 {"- 5..6 expected atom or script marker {}"}},
        SpanCase{"dimension_after_a_comment",
                 "\\kern{%\n}",
                 {"argument-validation 8..8 invalid dimension {command argument@5..5}"}},
        SpanCase{"left_delimiter_after_a_comment",
                 "\\left%\nx\\right)",
                 {"left-right-delimiter 7..7 invalid \\left delimiter {left-delimited group@0..5}"}},
        SpanCase{"environment_closing_after_a_comment",
                 "{\\begin{matrix}a%c\n}",
                 {"- 19..19 Environment matrix missing closing \\end{matrix} {}"}},
        SpanCase{"ambiguous_infix_after_a_comment",
                 "a \\over b%c\n\\atop c",
                 {"ambiguous-infix 12..12 Ambiguous use of \\atop {}"}},
        SpanCase{"braced_group_argument_after_a_comment",
                 "\\cg%c\nx",
                 {"argument-validation 6..6 missing required braced group argument {command argument@6..6}"}},
        // The first bad `\left` of the source lies in a `\begin` header, in
        // no environment body.
        SpanCase{"left_in_an_environment_header",
                 "{\\begin{\\left x}} \\left y",
                 {"left-right-delimiter 24..24 invalid \\left delimiter {left-delimited group@18..24}",
                  "raw-expected-found 8..13 found '\\left' expected something else {}"}},
        SpanCase{"text_body_of_comment_only",
                 "\\text{\\begin{prose}%c\n\\end{prose}}",
                 {},
                 ".body",
                 "22..22"}),
    [](const ::testing::TestParamInfo<SpanCase>& info) { return std::string(info.param.name); });

using testing::parse_and_show;

// ---- The recovery skip over \left...\right and environments; the closing
// check of an environment body -------------------------------------------------

// The default packages plus "tenv", an environment of both modes with a text
// body, "tinf", an infix command of text mode only, and "tdel", a command
// whose text argument stands between parentheses.
const ParseContext& caller_context() {
    static const std::shared_ptr<const ParseContext> context = [] {
        using knowledge::AllowedMode;
        const auto text_body = static_cast<std::uint8_t>(ContentMode::Text);
        return ParseContextBuilder()
            .item(ContextItem::environment({"tenv", "", {}, text_body, AllowedMode::Both}))
            .item(ContextItem::command(
                {"tinf", "", {}, static_cast<std::uint8_t>(knowledge::CommandKind::Infix), AllowedMode::Text}))
            .item(ContextItem::command({"tdel", "r():T", {}, 0, AllowedMode::Both}))
            .build()
            .value();
    }();
    return *context;
}

struct PairCase {
    const char* name;
    std::string source;
    int errors;  // Error nodes in the document; -1 when no document is expected
    std::vector<std::string> diagnostics;
};

void PrintTo(const PairCase& c, std::ostream* os) { *os << c.source; }

class SkipPairsAndClosings : public ::testing::TestWithParam<PairCase> {};

TEST_P(SkipPairsAndClosings, DocumentErrorsAndDiagnostics) {
    const PairCase& c = GetParam();
    ParseOutcome out = parse_source(caller_context(), c.source, {});
    ASSERT_EQ(out.document.has_value(), c.errors >= 0);
    if (out.document) {
        EXPECT_EQ(static_cast<int>(out.document->errors().size()), c.errors)
            << testing::show(out.document->to_syntax());
    }
    std::vector<std::string> got;
    for (const auto& d : out.diagnostics) got.push_back(testing::diag(d));
    EXPECT_EQ(got, c.diagnostics);
}

const std::string kAtomAfterHash =
    "found '#' expected something else, '{', begin, escaped symbol, not a command, bare delimiter control, "
    "unknown command, '~', math prime, or math character";
const std::string kBraceAtEnd = "found end of input expected something else, or '}'";
const std::string kText = "expected something else, text, '$', (, '{', or '~'";

INSTANTIATE_TEST_SUITE_P(
    Cases, SkipPairsAndClosings,
    ::testing::Values(
        // A script fault after a complete pair: its closing half is skipped
        // text, not a stray closer that ends the formula.
        PairCase{"left_right_then_double_exponent", "\\left(x\\right)^2^3", 1,
                 {"- 16..18 Double exponent: use braces to clarify"}},
        PairCase{"left_right_then_double_subscript", "y + \\left[ x \\right]_1_2 + z", 1,
                 {"- 22..24 Double subscripts: use braces to clarify"}},
        PairCase{"environment_then_bad_superscript", "\\begin{matrix}a\\end{matrix}^#", 1,
                 {"raw-expected-found 28..29 " + kAtomAfterHash}},
        PairCase{"nested_left_right", "\\left(\\left[x\\right]\\right)^1^2 + y", 1,
                 {"- 29..31 Double exponent: use braces to clarify"}},
        PairCase{"nested_environments", "\\begin{matrix}\\begin{matrix}a\\end{matrix}\\end{matrix}^# b", 1,
                 {"raw-expected-found 54..55 " + kAtomAfterHash}},
        PairCase{"environment_inside_left_right", "\\left(\\begin{matrix}a\\end{matrix}\\right)_1_2 c", 1,
                 {"- 42..44 Double subscripts: use braces to clarify"}},
        PairCase{"pair_inside_an_argument", "\\frac{\\left(x\\right)^2^3}{y}", 1,
                 {"- 22..24 Double exponent: use braces to clarify"}},
        // An unclosed brace the skip opened swallows the pairs after it whole.
        PairCase{"unclosed_braces_then_left_right", "{{{}\\left(\\right)", 1, {"raw-expected-found 17..17 " + kBraceAtEnd}},
        PairCase{"unclosed_brace_then_environment", "{\\begin{n}\\end{n}", 1,
                 {"raw-expected-found 17..17 " + kBraceAtEnd}},
        PairCase{"left_right_then_unclosed_script", "\\left( x \\right) ^ {2", 1,
                 {"raw-expected-found 21..21 " + kBraceAtEnd}},
        // A right operand is read without recovery, so its fault loses the
        // formula; the run's failure and the recovery's read alike and are
        // reported once.
        PairCase{"unclosed_braces_in_right_operand", "\\over{{{}", -1, {"raw-expected-found 9..9 " + kBraceAtEnd}},
        // Levels close innermost first: the `}` of the text argument closes
        // the `\left` opened inside it, and the `\right` after it strays.
        PairCase{"closing_brace_closes_inner_left", "{\\text{\\left x}\\right)}", -1,
                 {"left-right-delimiter 13..14 invalid \\left delimiter",
                  "raw-expected-found 15..21 found '\\right' expected something else, or end of input"}},
        PairCase{"stray_right_after_pair", "\\left( x \\right) \\right) ^2^3", -1,
                 {"raw-expected-found 17..23 found '\\right' expected something else, or end of input"}},

        // The closing check's probe keeps its own failure: found token and span.
        PairCase{"text_body_ends_in_space", "\\begin{tenv}a \\foo ", 1,
                 {"raw-expected-found 19..19 Environment tenv missing closing \\end{tenv}"}},
        PairCase{"text_body_before_brace", "{\\begin{tenv}a \\foo }", 1, {"raw-expected-found 20..21 found '}' " + kText}},
        PairCase{"text_infix_in_unknown_environment", "\\begin{a} x \\tinf y\\end{a}", 1,
                 {"raw-expected-found 12..17 found '\\tinf' expected something else"}},
        PairCase{"text_infix_in_math_environment", "\\begin{matrix} x \\tinf y\\end{matrix}", 1,
                 {"raw-expected-found 17..22 found '\\tinf' expected something else"}},

        // Inline math in a valid text argument or text body is skipped with
        // the construct around it that fails: only that construct's fault is
        // reported, not a `$` read as math.
        PairCase{"text_math_in_unclosed_group", "{\\text{$y$}", 1, {"raw-expected-found 11..11 " + kBraceAtEnd}},
        PairCase{"text_math_after_pair", "{\\left(a\\right)\\text{$y$}", 1,
                 {"raw-expected-found 25..25 " + kBraceAtEnd}},
        PairCase{"text_math_in_unclosed_environment", "\\begin{matrix} \\text{$x$}", 1,
                 {"- 25..25 Environment matrix missing closing \\end{matrix}"}},
        PairCase{"text_math_in_unclosed_argument", "\\frac{a}{\\text{$y$}", 1,
                 {"argument-validation 8..19 unclosed brace argument"}},
        PairCase{"text_math_in_two_text_commands", "{\\mbox{$a$} \\textbf{$b$ and $c$}", 1,
                 {"raw-expected-found 32..32 " + kBraceAtEnd}},
        PairCase{"text_math_after_optional_slot", "{\\makebox[1cm] {$y$}", 1,
                 {"raw-expected-found 20..20 " + kBraceAtEnd}},
        PairCase{"text_math_in_delimited_slot", "{\\tdel($y$)", 1, {"raw-expected-found 11..11 " + kBraceAtEnd}},
        PairCase{"text_math_in_text_body", "{\\begin{tenv}$y$\\end{tenv}", 1,
                 {"raw-expected-found 26..26 " + kBraceAtEnd}},
        // A text body that failed inside is skipped through its own `\end`.
        PairCase{"fault_in_own_text_body", "\\begin{tenv}$y$ }\\end{tenv} #", 2,
                 {"- 28..29 expected atom or script marker", "raw-expected-found 16..17 found '}' " + kText}}),
    [](const auto& info) { return std::string(info.param.name); });

// Over corpus formulas: a script fault right after a complete `\left...\right`
// pair or environment leaves a document with an Error node, and nothing is
// reported twice.
TEST(SkipPairsAndClosingsOverCorpus, ScriptFaultAfterPairKeepsDocument) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found";
    static const std::regex closer(R"(\\right(\\[A-Za-z]+|\\.|[^\s\\])|\\end\{[A-Za-z*]+\})");
    static const std::array<std::string_view, 3> faults = {"^1^2", "_1_2", "^#"};
    std::size_t checked = 0;
    std::vector<std::string> failures;
    for (std::size_t i = 0; i < lines->size(); ++i) {
        const std::string& line = (*lines)[i];
        if (line.find("\\right") == std::string::npos && line.find("\\end") == std::string::npos) continue;
        // Only formulas that parse clean, so the pair is complete.
        if (!parse_source(testing::default_context(), line, {}).diagnostics.empty()) continue;
        std::size_t k = 0;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), closer); it != std::sregex_iterator(); ++it) {
            const std::size_t at = static_cast<std::size_t>(it->position() + it->length());
            std::string source = line;
            source.insert(at, faults[(i + k++) % faults.size()]);
            ParseOutcome out = parse_source(testing::default_context(), source, {});
            ++checked;
            std::set<std::string> seen;
            bool repeated = false;
            for (const auto& d : out.diagnostics) repeated |= !seen.insert(testing::diag_full(d)).second;
            if (!out.document || out.document->errors().empty() || out.diagnostics.empty() || repeated) {
                if (failures.size() < 20) failures.push_back(source);
            }
        }
    }
    EXPECT_GT(checked, 1000u);
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}

// Over one- and two-edit mistakes of corpus formulas (every fourth, to keep
// the sanitized run short): no diagnostic is reported twice.
TEST(SkipPairsAndClosingsOverCorpus, NoDiagnosticTwice) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found";
    std::vector<std::string> failures;
    const auto sources = mistakes::corpus_mistakes(*lines, 1);
    for (std::size_t i = 0; i < sources.size(); i += 4) {
        const std::string& source = sources[i];
        ParseOutcome out = parse_source(testing::default_context(), source, {});
        std::set<std::string> seen;
        for (const auto& d : out.diagnostics) {
            if (!seen.insert(testing::diag_full(d)).second && failures.size() < 20) failures.push_back(source);
        }
    }
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}

// Over corpus formulas with a text argument: inline math put into the
// argument leaves the formula valid, and wrapped in a construct left open the
// formula reports that construct's fault alone, at the end.
TEST(TextMathOverCorpus, OnlyTheOpenConstructIsReported) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found";
    static const std::regex text_argument(R"(\\(text|mbox|textbf|textrm|textit|hbox)\s*\{)");
    static const std::array<std::string_view, 2> openers = {"{", "\\begin{matrix}"};
    std::size_t checked = 0;
    std::vector<std::string> failures;
    for (const std::string& line : *lines) {
        std::smatch m;
        if (!std::regex_search(line, m, text_argument)) continue;
        std::string source = line;
        source.insert(static_cast<std::size_t>(m.position() + m.length()), "$x^{2}$ ");
        if (!parse_source(testing::default_context(), source, {}).diagnostics.empty()) continue;
        for (const std::string_view opener : openers) {
            const std::string wrapped = std::string(opener) + source;
            ParseOutcome out = parse_source(testing::default_context(), wrapped, {});
            ++checked;
            const bool one_at_end = out.diagnostics.size() == 1 && out.diagnostics[0].span.start == wrapped.size() &&
                                    out.diagnostics[0].span.end == wrapped.size();
            if ((!out.document || !one_at_end) && failures.size() < 20) failures.push_back(wrapped);
        }
    }
    EXPECT_GT(checked, 1000u);
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}

}  // namespace
}  // namespace quorvel::parse

namespace quorvel {
namespace {

const facade::TransformEngine& corpus_engine() {
    static const facade::TransformEngine engine = [] {
        facade::TransformEngineBuilder builder;
        builder.profile(facade::EngineProfile::Corpus);
        auto built = builder.build();
        if (!built) throw std::runtime_error(std::string(built.error().message()));
        return std::move(built).value();
    }();
    return engine;
}

struct KeptCase {
    const char* name;
    const char* source;
    const char* latex;       // the document's written text
    std::size_t diagnostics;
    bool has_error;          // the document holds an Error node (and normalising refuses it)
};

void PrintTo(const KeptCase& c, std::ostream* os) { *os << c.source; }

class KeptText : public ::testing::TestWithParam<KeptCase> {};

TEST_P(KeptText, WrittenWholeAndStable) {
    const KeptCase& c = GetParam();
    const auto& engine = corpus_engine();
    const auto& context = engine.parser().context();
    const auto out = parse::parse_source(context, c.source, {});
    ASSERT_TRUE(out.document.has_value());
    EXPECT_EQ(out.diagnostics.size(), c.diagnostics);
    EXPECT_EQ(invariants::has_error_node(*out.document), c.has_error);

    const auto check = invariants::check_parse(context, c.source, out);
    EXPECT_EQ(check.written, c.latex);
    EXPECT_EQ(check.violation, invariants::Violation::None) << "written again: " << check.rewritten;

    const auto normalized = engine.normalize_with(c.source, engine.default_normalize_config());
    if (c.has_error) {
        ASSERT_FALSE(normalized.has_value()) << normalized.value();
        EXPECT_TRUE(std::holds_alternative<facade::ParseError>(normalized.error().value()));
    } else {
        EXPECT_TRUE(normalized.has_value());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, KeptText,
    ::testing::Values(
        // The rest of an argument that a prefix could not read.
        KeptCase{"right_in_argument", R"(\frac{a-b \right) c}{d})", R"(\frac { a - b \right) c } { d })", 1, true},
        KeptCase{"dollar_opens_argument", R"(\frac{$y^{2}}{p}=1)", R"(\frac { $y^{2} } { p } = 1)", 1, true},
        KeptCase{"currency_in_argument", R"(\sqrt{x $11$})", R"(\sqrt { x $11$ })", 1, true},
        KeptCase{"end_opens_argument", R"(\frac{\end{array}c+a}{2})", R"(\frac { \end{array}c+a } { 2 })", 1,
                 true},
        KeptCase{"end_opens_text_argument", R"(\text{\end{array} II} a)", R"(\text {\end{array} II} a)", 1, true},
        KeptCase{"end_after_open_paren", R"(y=\sqrt{(\end{array}a-1) x^{2}+a x+1})",
                 R"(y = \sqrt { ( \end{array}a-1) x^{2}+a x+1 })", 1, true},
        KeptCase{"right_opens_argument", R"(\mathbf{\right)R})", R"(\mathbf { \right)R })", 1, true},
        // Error snippets that used to end early.
        KeptCase{"end_in_nested_group", R"(\overline{{X\end{array}}} = X)", R"(\overline { {X \end{array}} } = X)",
                 2, true},
        KeptCase{"end_in_script_group", R"(\frac{a_{\end{array}5}}{b})", R"(\frac { a_{ \end{array}5} } { b })", 2,
                 true},
        // White space before a closing brace, and after an unknown command in
        // text, does not grow when written text is read and written again.
        KeptCase{"error_before_closing_brace", R"(E _ { \emph { m a n t i s s a } } ( ))",
                 R"(E _ { \emph { m a n t i s s a } } ( ))", 1, true},
        KeptCase{"error_text_ends_in_space", R"(\frac { a - b \right) c } { d })", R"(\frac { a - b \right) c } { d })",
                 1, true},
        KeptCase{"unknown_command_in_text", R"(\mathstrut\textrm{\intc|l})", R"(\mathstrut \textrm {\intc|l})", 0,
                 false},
        KeptCase{"unknown_command_then_space", R"(\textrm{\intc |l})", R"(\textrm {\intc |l})", 0, false},
        KeptCase{"unknown_command_in_spaced_text", R"(\text { \LambdaI) })", R"(\text { \LambdaI) })", 0, false},
        // An error that ends in an open script marker is not given the
        // braces of the empty base that follows it; a prime there is
        // written with its caret.
        KeptCase{"missing_superscript_before_subscript", R"(x^_{0})", R"(x^ _ { 0 })", 1, true},
        KeptCase{"missing_subscript_before_superscript", R"(1 0_ ^ { - 5 })", R"(1 0_ ^ { - 5 })", 1, true},
        KeptCase{"missing_superscript_before_prime", R"(x^^')", R"(x^ ^')", 1, true},
        // An environment closed inside a brace it opened: the Error keeps the
        // brace's `}`, not the group around it, which would pair differently
        // once written.
        KeptCase{"end_inside_own_brace", R"({{}}^{\begin{array}{}\frac{\end{array}{}}_2)",
                 R"({{}}^{\begin{array}{}\frac{\end{array}{}}_2)", 2, true},
        KeptCase{"end_inside_own_brace_in_script", R"(x^{\begin{x}{\end{x}}_2)",
                 R"(x _ { 2 } ^ { \begin {x} { \end {x} })", 1, true},
        KeptCase{"right_inside_own_brace", R"(A_{1} B^{_\left({1}, \frac{\right)D D}_{1})",
                 R"(A _ { 1 } B^{_\left({1}, \frac{\right)D D}_{1})", 2, true},
        // In text, the white space before an argument's unread rest is kept.
        KeptCase{"space_before_unread_text", R"(\textbf{\begin{ a }\end})", R"(\textbf {\begin{ a }\end})", 2, true},
        // A backslash that stands for itself (at the end of the source or
        // before a line break) is written before a line break.
        KeptCase{"backslash_as_superscript", "^^\\", "^ ^ { \\\n}", 1, true},
        KeptCase{"backslash_as_subscript", "x_\\", "x _ { \\\n}", 0, false},
        KeptCase{"backslash_at_the_end", "a\\", "a \\", 0, false},
        KeptCase{"backslash_before_line_break", "a\\\nb", "a \\\nb", 0, false},
        KeptCase{"backslash_in_text", "\\text{a\\\nb}", "\\text {a\\\nb}", 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The content check itself: layout is ignored, the characters are not.
struct ContentCase {
    const char* source;
    const char* written;
    bool same;
};

class ContentCharacters : public ::testing::TestWithParam<ContentCase> {};

TEST_P(ContentCharacters, ComparesContentOnly) {
    const ContentCase& c = GetParam();
    EXPECT_EQ(invariants::same_content(c.source, c.written), c.same);
}

INSTANTIATE_TEST_SUITE_P(Malformed, ContentCharacters,
                         ::testing::Values(ContentCase{"\\frac12", "\\frac { 1 } { 2 }", true},
                                           // Inline math is written in dollars.
                                           ContentCase{"\\text{\\(z\\)}", "\\text {$z$}", true},
                                           ContentCase{"\\text{\\(z\\)}", "\\text {$z}", false},
                                           ContentCase{"a %note\nb", "a b", true},
                                           ContentCase{"a \\% b", "a b", false},
                                           ContentCase{"\\{a\\}", "\\{ a \\}", true},
                                           ContentCase{"\\{a\\}", "{ a }", false},
                                           ContentCase{"x^'", "x'", true},
                                           ContentCase{"x'^{2}", "x ^ { ' { 2 } }", true},
                                           ContentCase{"x'^'", "x ^ { '' }", true},
                                           ContentCase{"x^{'}", "x ^ { ' }", true},
                                           ContentCase{"x^2", "x 2", false},
                                           ContentCase{"a \\& b", "a & b", true},
                                           ContentCase{"a \\\\& b", "a \\\\ & b", true},
                                           ContentCase{"1_\\", "1 _ { \\ }", true},
                                           ContentCase{"\\frac{a}{b}", "\\frac { a } { }", false}));

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Expects `source` to give a document whose written text reads back to itself.
void expect_fixed_point(const parse::ParseContext& context, std::string_view source) {
    const auto out = parse::parse_source(context, source, {});
    ASSERT_TRUE(out.document.has_value());
    const auto check = invariants::check_parse(context, source, out);
    EXPECT_EQ(check.violation, invariants::Violation::None) << check.written << "\nwritten again:\n" << check.rewritten;
}

// A group past the depth limit becomes an Error node, braces and all; as a
// script operand or an argument it is written without a second pair, which
// would make each written round one level deeper than the last.
TEST(KeptTextPastTheDepthLimit, IsAFixedPoint) {
    const auto& context = corpus_engine().parser().context();
    const std::pair<std::string_view, std::string_view> shapes[] = {
        {"x^{", "}"}, {"x_{", "}"}, {"\\sqrt{", "}"}, {"\\frac{", "}{y}"}, {"{", "}"}};
    for (const auto& [open, close] : shapes) {
        std::string source;
        for (int i = 0; i < 140; ++i) source += open;
        source += "x";
        for (int i = 0; i < 140; ++i) source += close;
        SCOPED_TRACE(source.substr(0, 12));
        expect_fixed_point(context, source);
    }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// The text of an argument that could not be read lies inside the argument's
// braces even when it is one braced group itself: it keeps them when written.
TEST(KeptTextOfUnreadableArguments, IsAFixedPoint) {
    const auto& context = corpus_engine().parser().context();
    parse::ParseConfig config;
    config.abort_on_error = true;
    for (const std::string_view source : {R"(\sqrt{{x$}})", R"(\frac{{a$}}{b})", R"(\sqrt{{\left(x}})"}) {
        SCOPED_TRACE(source);
        const auto out = parse::parse_source(context, source, config);
        ASSERT_TRUE(out.document.has_value());
        const auto check = invariants::check_parse(context, source, out, config);
        EXPECT_EQ(check.violation, invariants::Violation::None) << check.written << "\nwritten again:\n" << check.rewritten;
    }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A `}` read bare as the name of a mandatory name slot is written bare: in
// braces it would close them.
TEST(KeptTextOfBareBraceNames, IsAFixedPoint) {
    const auto& context = corpus_engine().parser().context();
    for (const std::string_view source : {R"(\ref}t)", R"({\ref}})", R"(a\label }b)"}) {
        SCOPED_TRACE(source);
        const auto out = parse::parse_source(context, source, {});
        ASSERT_TRUE(out.document.has_value());
        EXPECT_TRUE(out.diagnostics.empty());
        const auto check = invariants::check_parse(context, source, out);
        EXPECT_EQ(check.violation, invariants::Violation::None) << check.written << "\nwritten again:\n" << check.rewritten;
    }
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// A backslash that escapes nothing reads back as itself only before a line
// break or at the end of the text: it is written there and nowhere else.
TEST(LoneBackslashes, ReadBackAsThemselves) {
    const auto& context = corpus_engine().parser().context();
    for (const std::string_view source : {"x \\", "x\\", "\\", "x \\\ny", "\\text{a\\\n}", "\\text{a\\}"}) {
        SCOPED_TRACE(source);
        expect_fixed_point(context, source);
    }
}

}  // namespace
}  // namespace quorvel
