// Environments and \left...\right groups through the whole parse road: tree
// shapes, spans, and the failures of names, modes, closings and delimiters.
#include <gtest/gtest.h>

#include "parse_recovery_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::parse_and_show;

// The default packages plus: "prose", an environment of both modes with a
// text body; "margin", an environment of text mode only; "tover", an infix
// command of text mode only; and without the delimiter control `langle`.
const ParseContext& extended_context() {
    static const std::shared_ptr<const ParseContext> context = [] {
        using knowledge::AllowedMode;
        const auto text_body = static_cast<std::uint8_t>(ContentMode::Text);
        return ParseContextBuilder()
            .item(ContextItem::environment({"prose", "", {}, text_body, AllowedMode::Both}))
            .item(ContextItem::environment({"margin", "", {}, text_body, AllowedMode::Text}))
            .item(ContextItem::command(
                {"tover", "", {}, static_cast<std::uint8_t>(knowledge::CommandKind::Infix), AllowedMode::Text}))
            .remove_delimiter_control("langle")
            .build()
            .value();
    }();
    return *context;
}

ParseConfig reject_unknown() {
    ParseConfig c;
    c.reject_unknown = true;
    return c;
}
ParseConfig abort_on_error() {
    ParseConfig c;
    c.abort_on_error = true;
    return c;
}

struct Case {
    const char* name;
    std::string source;
    std::string tree;  // "" when no document is expected
    std::vector<std::string> diagnostics;
    ParseConfig config = {};
    bool extended = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.source; }

class EnvironmentParse : public ::testing::TestWithParam<Case> {};

TEST_P(EnvironmentParse, TreeAndDiagnostics) {
    const Case& c = GetParam();
    const auto got = parse_and_show(c.source, c.config, c.extended ? extended_context() : default_context());
    EXPECT_EQ(got.tree, c.tree);
    EXPECT_EQ(got.diagnostics, c.diagnostics);
}

std::string name_of(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Shapes, EnvironmentParse,
    ::testing::Values(
        Case{"unknown_kept", "\\begin{foo}x\\end{foo}", "math[\\begin{foo}?<x>]", {}},
        Case{"spaces_before_names", "\\begin {a}x\\end {a}", "math[\\begin{a}?<x>]", {}},
        Case{"padded_body", "\\begin{a} x \\end{a}", "math[\\begin{a}?<x>]", {}},
        Case{"known_rows", "\\begin{matrix}a&b\\\\c\\end{matrix}", "math[\\begin{matrix}<a & b \\\\{}- c>]", {}},
        Case{"star_name", "\\begin{align*}x\\end{align*}", "math[\\begin{align*}<x>]", {}},
        Case{"punctuated_name", "\\begin{a-b:c.d}x\\end{a-b:c.d}", "math[\\begin{a-b:c.d}?<x>]", {}},
        Case{"column_argument", "\\begin{array}{cc}a&b\\end{array}", "math[\\begin{array}-{=cc}<a & b>]", {}},
        Case{"infix_in_body", "\\begin{matrix}a \\over b\\end{matrix}", "math[\\begin{matrix}<over(a|b)>]", {}},
        Case{"nested", "\\begin{a}\\begin{b}x\\end{b}\\end{a}", "math[\\begin{a}?<\\begin{b}?<x>>]", {}},
        Case{"scripted", "\\begin{a}x\\end{a}^2", "math[\\begin{a}?<x>^2]", {}},
        Case{"text_body", "\\begin{prose}a  b\\end{prose}", "math[\\begin{prose}T<\"a b\">]", {}, {}, true},
        // A text body stops before the white space that precedes `\end`.
        Case{"text_body_spaced_end", "\\begin{prose}a \\foo  \\end{prose}", "math[\\begin{prose}T<\"a \" \\foo?>]", {},
             {}, true},
        Case{"text_mode_spaced_end", "\\text{\\begin{foo}\\foo \\end{foo}}", "math[\\text{T<\\begin{foo}?T<\\foo?>>}]",
             {}},
        Case{"text_mode_unknown_body", "\\text{\\begin{foo}a b\\end{foo}}", "math[\\text{T<\\begin{foo}?T<\"a b\">>}]",
             {}}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    Failures, EnvironmentParse,
    ::testing::Values(
        Case{"unknown_rejected", "\\begin{foo}x\\end{foo}", "", {"unknown-environment 0..11 Unknown environment: foo"},
             reject_unknown()},
        Case{"mismatch",
             "\\begin{a}x\\end{b}",
             "math[!\"Environment name mismatch: expected \\end{a}, found \\end{b}\"|\"\\begin{a}x\\end{b}\"!]",
             {"environment-name-mismatch 10..17 Environment name mismatch: expected \\end{a}, found \\end{b}"}},
        Case{"missing_closing", "\\begin{a}x", "math[!\"Environment a missing closing \\end{a}\"|\"\\begin{a}x\"!]",
             {"- 10..10 Environment a missing closing \\end{a}"}},
        Case{"missing_closing_aborts", "\\begin{a}x", "", {"- 10..10 Environment a missing closing \\end{a}"},
             abort_on_error()},
        // The body stops before a stray `}`, an outer boundary.
        Case{"stray_brace",
             "\\begin{a}x}",
             "",
             {"- 10..10 Environment a missing closing \\end{a}",
              "raw-expected-found 10..11 found '}' expected something else, or end of input"}},
        Case{"end_without_name",
             "\\begin{a}x\\end",
             "",
             {"- 10..14 Environment a missing closing \\end{a}",
              "raw-expected-found 10..14 found '\\end' expected something else, or end of input"}},
        // The recovery's skip takes the braces of the name as a group.
        Case{"empty_name",
             "\\begin{}",
             "math[!\"found '}' expected something else\"|\"\\begin{}\"!]",
             {"raw-expected-found 7..8 found '}' expected something else"}},
        // The skip stops at `\end`, which is then stray.
        Case{"name_with_space",
             "\\begin{a b}x\\end{a b}",
             "",
             {"raw-expected-found 8..9 found ' ' expected something else, or '}'",
              "raw-expected-found 12..16 found '\\end' expected something else, or end of input"}},
        Case{"math_only_in_text",
             "\\text{\\begin{matrix}a\\end{matrix}}",
             "math[\\text{!\"Environment matrix is not allowed in text mode\"|\"\\begin{matrix}a\\end{matrix}\"!}]",
             {"environment-mode-error 6..20 Environment matrix is not allowed in text mode"}},
        Case{"text_only_in_math",
             "\\begin{margin}a\\end{margin}",
             "",
             {"environment-mode-error 0..14 Environment margin is not allowed in math mode"},
             {},
             true},
        // An inner mismatch whose \end closes the enclosing environment: the
        // Error stops before it and the outer environment closes.
        Case{"inner_mismatch_enclosing",
             "\\begin{a}\\begin{b}x\\end{a}",
             "math[\\begin{a}?<!\"Environment name mismatch: expected \\end{b}, found \\end{a}\"|\"\\begin{b}x\"!>]",
             {"environment-name-mismatch 19..26 Environment name mismatch: expected \\end{b}, found \\end{a}"}},
        // An \end that closes nothing open outside is swallowed.
        Case{"inner_mismatch_stray_end",
             "\\begin{a}\\begin{b}x\\end{c}y\\end{a}",
             "math[\\begin{a}?<!\"Environment name mismatch: expected \\end{b}, found \\end{c}\"|\"\\begin{b}x\\end{c}\"! "
             "y>]",
             {"environment-name-mismatch 19..26 Environment name mismatch: expected \\end{b}, found \\end{c}"}}),
    name_of);

// The closing probe, on the environment rule alone: a body that stops at a
// token that closes nothing reports why one item fails there; one that stops
// at a boundary reports the missing \end.
struct ProbeCase {
    const char* name;
    std::string source;
    std::string failure;  // the kept failure's display and span
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << c.source; }

class ClosingProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ClosingProbe, FailureOfTheRule) {
    const ProbeCase& c = GetParam();
    testing::Harness h(c.source, {}, extended_context());
    grammar::TrackedNode out;
    ASSERT_FALSE(h.g().environment(ContentMode::Math, out));
    ASSERT_TRUE(h.in().alt());
    const auto& kept = h.in().alt()->failure;
    EXPECT_EQ(h.failure_text() + " @" + std::to_string(kept.span.start) + ".." + std::to_string(kept.span.end),
              c.failure);
}

INSTANTIATE_TEST_SUITE_P(
    Environments, ClosingProbe,
    ::testing::Values(
        // Math content ends before a text-mode infix command, which no math
        // item accepts.
        ProbeCase{"text_infix", "\\begin{matrix}a \\tover b\\end{matrix}",
                  "found '\\tover' expected something else @16..22"},
        // A text body stops before white space; at the end of input no item
        // follows it.
        ProbeCase{"text_trailing_space", "\\begin{prose}a\\foo ", "found end of input expected something else, text, '$', (, '{', or '~' @19..19"},
        ProbeCase{"boundary_brace", "\\begin{matrix}a}", "Environment matrix missing closing \\end{matrix} @15..15"},
        ProbeCase{"boundary_end_of_input", "\\begin{matrix}a ", "Environment matrix missing closing \\end{matrix} @16..16"},
        ProbeCase{"boundary_right", "\\begin{matrix}a\\right)", "Environment matrix missing closing \\end{matrix} @15..15"}),
    [](const ::testing::TestParamInfo<ProbeCase>& info) { return std::string(info.param.name); });

// The missing closing lies at the point after the body.
INSTANTIATE_TEST_SUITE_P(
    ClosingProbeParsed, EnvironmentParse,
    ::testing::Values(
        Case{"boundary_in_braces",
             "{\\begin{matrix}a}",
             "math[{!\"Environment matrix missing closing \\end{matrix}\"|\"\\begin{matrix}a\"!}]",
             {"- 16..16 Environment matrix missing closing \\end{matrix}"}}),
    name_of);

TEST(EnvironmentSpans, EnvironmentFromBeginToEndBodyOnlyBody) {
    ParseOutcome out = parse_source(default_context(), "\\begin{a} x \\end{a}", {});
    ASSERT_TRUE(out.document);
    std::string spans;
    for (const auto& entry : out.document->node_spans()) {
        spans += entry.id + "=" + std::to_string(entry.span.start) + ".." + std::to_string(entry.span.end) + " ";
    }
    EXPECT_EQ(spans, "root=0..19 root.child.0=0..19 root.child.0.body=9..12 root.child.0.body.child.0=10..11 ");
}

INSTANTIATE_TEST_SUITE_P(
    DelimitedGroups, EnvironmentParse,
    ::testing::Values(
        Case{"parens", "\\left( x \\right)", "math[\\left( x \\right)]", {}},
        Case{"null_and_angle", "\\left. x \\right<", "math[\\left. x \\right<]", {}},
        Case{"controls", "\\left\\lbrace x \\right\\}", "math[\\left\\lbrace x \\right\\}]", {}},
        Case{"mismatched_accepted", "\\left( x \\right]", "math[\\left( x \\right]]", {}},
        Case{"spaced_delimiters", "\\left ( x \\right )", "math[\\left( x \\right)]", {}},
        Case{"nested", "\\left(\\left[x\\right]\\right)", "math[\\left( \\left[ x \\right] \\right)]", {}},
        Case{"infix_inside", "\\left( a \\over b \\right)", "math[\\left( over(a|b) \\right)]", {}},
        Case{"middle_is_a_command", "\\left(x\\middle| y\\right)", "math[\\left( x \\middle{=|} y \\right)]", {}},
        Case{"scripted", "\\left(x\\right)^2", "math[\\left( x \\right)^2]", {}},
        Case{"in_text_math", "\\text{$\\left(x\\right)$}", "math[\\text{T<$\\left( x \\right)$>}]", {}}),
    name_of);

// A failure of the rule replaces a whitespace leftover recorded where the
// item began, so it keeps that leftover's span; the diagnostics supply the
// "left-delimited group" context from the source.
INSTANTIATE_TEST_SUITE_P(
    DelimitedGroupFailures, EnvironmentParse,
    ::testing::Values(
        Case{"left_not_a_delimiter", "\\left x", "", {"left-right-delimiter 6..6 invalid \\left delimiter"}},
        Case{"left_brace_token", "\\left{ x \\right}", "", {"left-right-delimiter 5..5 invalid \\left delimiter"}},
        Case{"removed_control", "\\left\\langle x\\right)", "", {"left-right-delimiter 5..5 invalid \\left delimiter"},
             {}, true},
        Case{"missing_right", "\\left( x", "", {"left-right-delimiter 0..8 missing \\right for \\left-delimited group"}},
        Case{"right_not_a_delimiter", "\\left( x \\right",
             "", {"left-right-delimiter 15..15 invalid \\right delimiter"}},
        Case{"aborting", "\\left( x", "", {"left-right-delimiter 0..8 missing \\right for \\left-delimited group"},
             abort_on_error()},
        // Inside braces the item does not start with \left: it is recovered,
        // and the recovery's skip takes the braces it opened.
        Case{"missing_right_in_braces",
             "{\\left( x}",
             "math[!\"missing \\right for \\left-delimited group\"|\"{\\left( x}\"!]",
             {"left-right-delimiter 1..9 missing \\right for \\left-delimited group"}}),
    name_of);

TEST(DelimitedGroupFailure, CarriesContextAndKind) {
    ParseOutcome out = parse_source(default_context(), "\\left x", {});
    ASSERT_EQ(out.diagnostics.size(), 1u);
    EXPECT_EQ(testing::diag_full(out.diagnostics[0]),
              "left-right-delimiter 6..6 invalid \\left delimiter [] - {left-delimited group@0..6}");
}

TEST(DelimitedGroupSpans, GroupRunsFromLeftThroughRightDelimiter) {
    ParseOutcome out = parse_source(default_context(), "\\left( x \\right) ", {});
    ASSERT_TRUE(out.document);
    std::string spans;
    for (const auto& entry : out.document->node_spans()) {
        spans += entry.id + "=" + std::to_string(entry.span.start) + ".." + std::to_string(entry.span.end) + " ";
    }
    EXPECT_EQ(spans, "root=0..17 root.child.0=0..16 root.child.0.child.0=7..8 ");
}

}  // namespace
}  // namespace quorvel::parse
