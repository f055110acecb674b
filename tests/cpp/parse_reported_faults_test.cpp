// Faults the recovery must still point at: inside a closed text argument that
// a failed item's skip passes, and in the arguments read once the recovery
// budget of the parse is spent.
#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "corpus_mistakes.hpp"
#include "malformed_invariants.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse_recovery_support.hpp"
#include "parse_work.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::repeat;

std::vector<std::string> diagnostics_of(const ParseOutcome& out) {
    std::vector<std::string> got;
    for (const auto& d : out.diagnostics) got.push_back(testing::diag(d));
    return got;
}

// ---- A closed text argument passed by the skip -------------------------------------

struct TextFaultCase {
    const char* name;
    std::string source;
    std::vector<std::string> diagnostics;
};

void PrintTo(const TextFaultCase& c, std::ostream* os) { *os << c.source; }

class FaultInClosedTextArgument : public ::testing::TestWithParam<TextFaultCase> {};

TEST_P(FaultInClosedTextArgument, IsReported) {
    const TextFaultCase& c = GetParam();
    const ParseOutcome out = parse_source(default_context(), c.source, {});
    EXPECT_EQ(diagnostics_of(out), c.diagnostics);
    // The faulty argument is taken whole: the document stays.
    ASSERT_TRUE(out.document.has_value());
    EXPECT_TRUE(invariants::diagnostics_in_error_nodes(out));
}

const std::string kBraceAtEnd = "found end of input expected something else, or '}'";
const std::string kStrayEnd = "found '\\end' expected something else, or end of input";
const std::string kEndInText = "found '\\end' expected end of input";
const std::string kRightInText = "command-mode-error";
const std::string kRightInTextMessage = " Command \\right is not allowed in text mode";
const std::string kNothingTaken = "content recovery must consume at least one token";
const std::string kOpenMath = "unclosed-inline-math";
const std::string kOpenMathMessage = "found '$' expected something else, or end of input";

INSTANTIATE_TEST_SUITE_P(
    Cases, FaultInClosedTextArgument,
    ::testing::Values(
        // A fault inside the argument is reported as the argument's own
        // reading reports it, beside the fault of the construct left open.
        TextFaultCase{"end_in_text",
                      "{\\text { (.) \\end{x}} 5",
                      {"raw-expected-found 23..23 " + kBraceAtEnd, "raw-expected-found 13..17 " + kStrayEnd}},
        TextFaultCase{"right_in_text_in_unclosed_argument",
                      "\\frac{\\text{a \\right) b}",
                      {"argument-validation 5..24 unclosed brace argument", kRightInText + " 14..20" + kRightInTextMessage,
                       "- 14..14 " + kNothingTaken}},
        TextFaultCase{"unclosed_text_math_deep",
                      "{{{{{{{{{\\text{${x}}}}}}}}}}",
                      {kOpenMath + " 19..19 " + kOpenMathMessage, "raw-expected-found 28..28 " + kBraceAtEnd}},
        TextFaultCase{"unclosed_text_math_currency",
                      "{\\text { 2$7. } 18 \\%",
                      {kOpenMath + " 14..14 " + kOpenMathMessage, "raw-expected-found 21..21 " + kBraceAtEnd}},
        // Other text commands and slot forms.
        TextFaultCase{"end_in_mbox",
                      "{\\mbox{\\end{x}}",
                      {"raw-expected-found 15..15 " + kBraceAtEnd, "raw-expected-found 7..11 " + kEndInText}},
        TextFaultCase{"dollar_after_optional_slot",
                      "{\\makebox[1cm]{$}",
                      {kOpenMath + " 16..16 " + kOpenMathMessage, "raw-expected-found 17..17 " + kBraceAtEnd}},
        TextFaultCase{"fault_in_nested_text_argument",
                      "{\\text{a \\textbf{b \\end{x}} c}",
                      {"raw-expected-found 30..30 " + kBraceAtEnd, "raw-expected-found 19..23 " + kStrayEnd}},
        // A clean argument is still taken whole, a faulty one after it too.
        TextFaultCase{"clean_then_faulty",
                      "{\\text{ok}\\text{bad \\right)}",
                      {kRightInText + " 20..26" + kRightInTextMessage, "- 20..20 " + kNothingTaken,
                       "raw-expected-found 28..28 " + kBraceAtEnd}},
        TextFaultCase{"clean_math_then_faulty",
                      "{\\text{a $x$ b} \\text{c $}",
                      {kOpenMath + " 25..25 " + kOpenMathMessage, "raw-expected-found 26..26 " + kBraceAtEnd}},
        // A faulty argument's `\right` or `\end` is text: it closes no
        // `\left` or environment opened outside it.
        TextFaultCase{"right_in_text_inside_left",
                      "{\\left[ B , \\textbf{a \\right)} \\right] = 0",
                      {kRightInText + " 22..28" + kRightInTextMessage, "- 22..22 " + kNothingTaken,
                       "raw-expected-found 42..42 " + kBraceAtEnd}},
        TextFaultCase{"end_in_text_inside_environment",
                      "{\\begin{cases} a & \\text{\\end{x} b} \\end{cases}",
                      {"environment-name-mismatch 47..47 " + kBraceAtEnd, "raw-expected-found 25..29 " + kEndInText}},
        TextFaultCase{"end_of_own_environment_in_text",
                      "\\begin{matrix}\\text{\\end{matrix}}",
                      {"- 33..33 Environment matrix missing closing \\end{matrix}",
                       "raw-expected-found 20..24 " + kEndInText}},
        // Pairs opened inside the argument are the argument's.
        TextFaultCase{"left_right_inside_faulty_text",
                      "{\\left( \\text{a \\left[ b \\right] c $} \\right)",
                      {"command-mode-error 16..21 Command \\left is not allowed in text mode",
                       "raw-expected-found 45..45 " + kBraceAtEnd}},
        TextFaultCase{"environment_inside_faulty_text",
                      "{\\begin{cases} a & \\text{\\begin{x} b \\end{x} $} \\end{cases}",
                      {kOpenMath + " 46..46 " + kOpenMathMessage, "raw-expected-found 59..59 " + kBraceAtEnd}},
        // A fault inside a closed text argument and another outside it.
        TextFaultCase{"right_in_text_in_open_group",
                      "\\rho{ = \\textrm { c\\right) o n s t }",
                      {kRightInText + " 19..25" + kRightInTextMessage, "- 19..19 " + kNothingTaken,
                       "raw-expected-found 36..36 " + kBraceAtEnd}},
        TextFaultCase{"end_in_text_then_open_subscript",
                      "\\textnormal { U n \\end{x}} _{ { \\delta }",
                      {"raw-expected-found 40..40 " + kBraceAtEnd, "raw-expected-found 18..22 " + kStrayEnd}},
        TextFaultCase{"text_math_in_open_subscript",
                      "^ { 1 1 } _{ { \\Lambda } \\textrm {$ B } ( 1 _ { 1 } ^ { + } )",
                      {kOpenMath + " 38..38 " + kOpenMathMessage, "raw-expected-found 61..61 " + kBraceAtEnd}},
        // Valid text math, nested too, is not read as math and reported.
        TextFaultCase{"clean_nested_text_math", "{\\text{a \\textbf{$b$} c}", {"raw-expected-found 24..24 " + kBraceAtEnd}},
        TextFaultCase{"clean_text_math_in_environment",
                      "\\begin{matrix}\\text{$a$ and $b$}",
                      {"- 32..32 Environment matrix missing closing \\end{matrix}"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Arguments read after the recovery budget is spent ---------------------------------

// Nested roots whose every level fails: with a budget of a few units, their
// recovery spends it.
std::string spending_prefix() {
    return repeat("\\sqrt{\\begin{matrix}", 40) + " z " + repeat("\\end{matrix}#}", 40) + " + ";
}

// Makes the recovery budget a few units for one test.
struct SmallRecoveryBudget {
    grammar::detail::RecoveryBudgetScale old =
        std::exchange(grammar::detail::recovery_budget_scale, grammar::detail::RecoveryBudgetScale{0, 32});
    ~SmallRecoveryBudget() { grammar::detail::recovery_budget_scale = old; }
};

constexpr const char* kTooComplex = "formula-too-complex";

struct BudgetCase {
    const char* name;
    std::string tail;  // after the prefix
    // The diagnostics after the prefix's own, with spans relative to the
    // tail's start.
    std::vector<std::pair<std::size_t, std::size_t>> given_up;
    int error_nodes;
    std::string written;  // how the document writes the tail
};

void PrintTo(const BudgetCase& c, std::ostream* os) { *os << "prefix + " << c.tail; }

class SpentBudget : public ::testing::TestWithParam<BudgetCase> {};

TEST_P(SpentBudget, GivesUpOnlyWhatFails) {
    const BudgetCase& c = GetParam();
    const SmallRecoveryBudget small;
    const std::string prefix = spending_prefix();
    const ParseOutcome out = parse_source(default_context(), prefix + c.tail, {});
    EXPECT_NE(testing::last_work().reached & grammar::detail::kRecoveryBudget, 0);
    // The prefix's argument is the one given up first.
    const std::string message = " argument nesting too complex to recover";
    std::vector<std::string> expected = {std::string(kTooComplex) + " 6.." + std::to_string(prefix.size() - 4) +
                                         message};
    for (const auto& [start, end] : c.given_up) {
        expected.push_back(std::string(kTooComplex) + " " + std::to_string(prefix.size() + start) + ".." +
                           std::to_string(prefix.size() + end) + message);
    }
    EXPECT_EQ(diagnostics_of(out), expected);
    ASSERT_TRUE(out.document.has_value());
    EXPECT_EQ(static_cast<int>(out.document->errors().size()), c.error_nodes);
    const auto written = out.document->to_latex();
    ASSERT_TRUE(written.has_value());
    EXPECT_TRUE(written.value().ends_with(c.written)) << written.value().substr(written.value().size() / 2);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpentBudget,
    ::testing::Values(
        // Valid arguments keep their trees and report nothing.
        BudgetCase{"valid_fractions", repeat("\\frac{a}{b}", 100), {}, 1,
                   "} + " + repeat("\\frac { a } { b } ", 99) + "\\frac { a } { b }"},
        BudgetCase{"valid_nested_arguments", repeat("\\frac{\\sqrt{a}}{b}", 2), {}, 1,
                   "} + \\frac { \\sqrt { a } } { b } \\frac { \\sqrt { a } } { b }"},
        BudgetCase{"valid_text_math", repeat("\\text{a $x$ b}", 2), {}, 1, "} + \\text {a $x$ b} \\text {a $x$ b}"},
        // Each argument that fails is one Error node with the diagnostic.
        BudgetCase{"failing_arguments", repeat("\\frac{a}{#}", 3), {{9, 10}, {20, 21}, {31, 32}}, 4,
                   "} + \\frac { a } { # } \\frac { a } { # } \\frac { a } { # }"},
        BudgetCase{"failing_text_math", "\\frac{a}{\\text{$b}} \\frac{c}{d}", {{9, 18}}, 2,
                   "} + \\frac { a } { \\text{$b} } \\frac { c } { d }"},
        // An argument with a failing argument inside fails as a whole.
        BudgetCase{"failing_inner_argument", "\\sqrt{\\sqrt{a}#} \\sqrt{e}", {{6, 15}}, 2,
                   "} + \\sqrt { \\sqrt{a}# } \\sqrt { e }"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Over corpus formulas: an injected fault is reported -----------------------------

// Over corpus formulas with a text argument: a fault put into the argument,
// in a formula wrapped in a group left open, lies in the span of some
// diagnostic, or in the argument an empty one ends.
TEST(InjectedTextFaultOverCorpus, IsCoveredByADiagnostic) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found";
    static const std::regex text_argument(R"(\\(text|mbox|textbf|textrm|textit|hbox)\s*\{)");
    static const std::array<std::string_view, 3> faults = {"$", "\\right)", "\\end{x}"};
    std::size_t checked = 0;
    std::vector<std::string> failures;
    for (std::size_t i = 0; i < lines->size(); ++i) {
        const std::string& line = (*lines)[i];
        std::smatch m;
        if (!std::regex_search(line, m, text_argument)) continue;
        if (!parse_source(default_context(), line, {}).diagnostics.empty()) continue;
        // Right after the opening brace, and before the closing one.
        const std::size_t open = static_cast<std::size_t>(m.position() + m.length());
        std::size_t close = open;
        for (int depth = 1; close < line.size(); ++close) {
            if (line[close] == '\\') {
                ++close;
            } else if (line[close] == '{') {
                ++depth;
            } else if (line[close] == '}' && --depth == 0) {
                break;
            }
        }
        if (close >= line.size()) continue;
        for (const std::size_t at : {open, close}) {
            const std::string_view fault = faults[(i + at) % faults.size()];
            std::string source = "{" + line;
            source.insert(at + 1, fault);
            const ParseOutcome out = parse_source(default_context(), source, {});
            ++checked;
            const std::size_t fault_at = at + 1;
            // A `$` the argument leaves open is reported where the argument's
            // text ends, at its closing brace.
            const std::size_t after = close + 1 + fault.size();
            const bool covered = std::any_of(out.diagnostics.begin(), out.diagnostics.end(), [&](const auto& d) {
                return (d.span.start <= fault_at && fault_at < std::max(d.span.end, d.span.start + 1)) ||
                       (d.span.start == d.span.end && d.span.start == after);
            });
            if (!covered && failures.size() < 20) failures.push_back(source);
        }
    }
    EXPECT_GT(checked, 1000u);
    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
}

}  // namespace
}  // namespace quorvel::parse
