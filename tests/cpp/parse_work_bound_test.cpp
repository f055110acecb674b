// The bound on a parse's work: a formula whose reading grows faster than its
// length ends with the top-level items read before the one that ran out, and
// the rest as one Error node with one diagnostic; everything else stays far
// below the bound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "corpus_mistakes.hpp"
#include "malformed_invariants.hpp"
#include "parse/grammar/arguments.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse_grammar_support.hpp"
#include "parse_work.hpp"

namespace quorvel::parse {
namespace {

using grammar::Fuel;
using testing::default_context;
using testing::repeat;

constexpr std::string_view kTooComplex = "formula too complex to parse";

// Text math in bold text, nested: without a bound each level reads the
// levels below it about twice.
std::string bold_text_math(std::size_t n, std::string_view command = "\\textbf") {
    return repeat(std::string(command) + "{\\(", n) + "z" + repeat("}", n);
}

// Runs in `text` without a closing: each one read to the end of the text.
std::string open_text_math(std::size_t n) { return "\\text{" + repeat("\\(", n) + "}"; }

// A small tank for the scope: the tests reach its end with short inputs.
struct SmallTank {
    grammar::detail::FuelScale old = grammar::detail::exchange_fuel_scale({8, 4096});
    ~SmallTank() { grammar::detail::exchange_fuel_scale(old); }
};

std::vector<std::pair<const char*, ParseConfig>> configs() {
    ParseConfig reject;
    reject.reject_unknown = true;
    ParseConfig abort;
    abort.abort_on_error = true;
    ParseConfig shallow;
    shallow.max_group_depth = 4;
    return {{"default", {}}, {"reject_unknown", reject}, {"abort_on_error", abort}, {"max_group_depth=4", shallow}};
}

std::size_t count_too_complex(const ParseOutcome& out) {
    std::size_t n = 0;
    for (const auto& d : out.diagnostics) n += d.message == kTooComplex;
    return n;
}

struct SpentCase {
    const char* name;
    std::string prefix;  // read before the bound is reached
    std::string rest;    // given up
    // The rest is reached inside an item that began at the formula's start
    // (an infix command's right operand): the whole formula is given up.
    bool whole = false;
    // The prefix holds a fault, which `abort_on_error` may stop at.
    bool faulty = false;
};

void PrintTo(const SpentCase& c, std::ostream* os) { *os << c.name; }

class SpentFuel : public ::testing::TestWithParam<SpentCase> {};

TEST_P(SpentFuel, RestIsOneErrorNode) {
    const SpentCase& c = GetParam();
    const std::string source = c.prefix + c.rest;
    const SmallTank tank;
    for (const auto& [name, config] : configs()) {
        SCOPED_TRACE(name);
        const ParseOutcome out = parse_source(default_context(), source, config);
        // The first fault may end the parse before the bound does.
        if (c.faulty && config.abort_on_error && count_too_complex(out) == 0) continue;
        EXPECT_NE(testing::last_work().reached & grammar::detail::kWorkBound, 0);
        ASSERT_TRUE(out.document);
        ASSERT_EQ(count_too_complex(out), 1u);
        const ParseDiagnostic* spent = nullptr;
        for (const auto& d : out.diagnostics) {
            if (d.message == kTooComplex) spent = &d;
        }
        EXPECT_EQ(spent->kind, ParseDiagnosticKind::FormulaTooComplex);
        const std::size_t start = c.whole ? 0 : c.prefix.size();
        EXPECT_EQ(spent->span, (Span{start, source.size()}));
        // What the given-up item recovered from goes with it.
        for (const auto& d : out.diagnostics) {
            if (&d != spent) {
                EXPECT_LE(d.span.end, start) << d.message;
            }
        }

        // The rest is the last top-level node, an Error that keeps its text.
        const syntax::SyntaxNode root = out.document->to_syntax();
        const auto& children = root.get_if<syntax::SyntaxNode::Root>()->children;
        ASSERT_FALSE(children.empty());
        const auto* error = children.back().get_if<syntax::SyntaxNode::Error>();
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(std::string_view(error->snippet), std::string_view(source).substr(start));
        if (!c.whole && !c.prefix.empty()) {
            EXPECT_GT(children.size(), 1u);
        }

        // The written text reads back to itself, with the same diagnostics.
        const auto check = invariants::check_parse(default_context(), source, out, config);
        EXPECT_EQ(check.violation, invariants::Violation::None) << check.written;
        const ParseOutcome again = parse_source(default_context(), check.written, config);
        EXPECT_EQ(again.diagnostics.size(), out.diagnostics.size());
        EXPECT_EQ(count_too_complex(again), 1u);

        // A quiet run that runs out falls through to the run that keeps
        // failures, which gives what a parse without the quiet run gives.
        const ParseOutcome direct = parse_source_keeping_failures(default_context(), source, config);
        EXPECT_EQ(direct.diagnostics, out.diagnostics);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, SpentFuel,
    ::testing::Values(SpentCase{"alone", "", open_text_math(300)},
                      SpentCase{"after_items", "a+b=", open_text_math(300)},
                      SpentCase{"after_commands", "\\frac{a}{b} x^{2} ", open_text_math(300)},
                      SpentCase{"after_a_fault", "a&+", open_text_math(300), false, true},
                      SpentCase{"inside_a_group", "x ", "{" + open_text_math(300) + "}"},
                      SpentCase{"after_a_fault_in_the_item", "x ", "{a^#+" + open_text_math(300) + "}", false, true},
                      SpentCase{"infix_operand", "a \\over ", open_text_math(300), true}),
    [](const auto& info) { return std::string(info.param.name); });

// Open constructs around closed `\left...\right` runs, thousands of levels:
// no nesting limit is passed, so the parse keeps a document and never says
// the nesting is too deep, whichever budget the reading reaches.
struct OpenAroundClosedCase {
    const char* name;
    std::string source;
    std::size_t max_group_depth;
};

class OpenAroundClosed : public ::testing::TestWithParam<OpenAroundClosedCase> {};

TEST_P(OpenAroundClosed, KeepsItsDocument) {
    const OpenAroundClosedCase& c = GetParam();
    ParseConfig config;
    config.max_group_depth = c.max_group_depth;
    const ParseOutcome out = parse_source(default_context(), c.source, config);
    ASSERT_TRUE(out.document.has_value());
    for (const auto& d : out.diagnostics) {
        EXPECT_EQ(d.message.find("nesting depth"), std::string::npos) << d.message;
        EXPECT_NE(d.kind, ParseDiagnosticKind::MaxGroupDepthExceeded);
    }
    EXPECT_TRUE(invariants::diagnostics_in_error_nodes(out));
}

std::string matrix_left_block() {
    return "{" + repeat("\\begin{matrix}\\left(", 1000) + "z" + repeat("\\right)", 1000) + "}";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, OpenAroundClosed,
    ::testing::Values(OpenAroundClosedCase{"matrix_left_blocks", repeat(matrix_left_block(), 5), 128},
                      OpenAroundClosedCase{"braces_around_left",
                                           repeat("{\\left(", 7144) + "z" + repeat("\\right)", 7144), 100000}),
    [](const auto& info) { return std::string(info.param.name); });

// Deep but linear inputs, faulty or not, stay far below the bound, in every
// run: they are read to the end, with their own diagnostics. Where one
// level's recovery reads the levels below it again, the recovery budget
// keeps the work linear; nothing else reaches a budget.
TEST(WorkBound, LinearFamiliesStayBelow) {
    const std::vector<std::pair<std::string, testing::WorkLimits>> inputs = {
        {repeat("\\frac{", 4000) + "x" + repeat("$}{}", 4000), {}},
        {repeat("\\sqrt{", 4000) + "x" + repeat("}$", 4000), {}},
        {repeat("\\sqrt{", 2500) + "x" + repeat("#}", 2500), {}},
        {repeat("\\text{${", 256) + "x}" + repeat("}$}", 256), testing::kRecoveryBound},
        {repeat("\\begin{array}{c}\\text{${", 256) + "x}" + repeat("}$}\\end{array}", 256), testing::kRecoveryBound},
        {repeat("\\sqrt{a\\over ", 2000) + "x" + repeat("}", 2000), {}},
        {repeat("\\frac{a}{b}", 20000) + "}", {}},
        {repeat("\\sqrt{", 50000) + "x" + repeat("}", 50000), {}},
        // Every level is read as inline math, then as a command: the quiet
        // run reads each argument once by reading them all again shared.
        {bold_text_math(24), {}},
        {bold_text_math(24, "\\textit"), {}},
        // Cells, each split by its own infix command or starting with a
        // script; bodies in the right operands of a nest.
        {"\\begin{matrix}" + repeat("a \\over b & ", 20000) + "\\end{matrix}", {}},
        {"\\pmatrix{" + repeat("a \\choose b \\cr ", 20000) + "}", {}},
        {repeat("x &^2 \\\\' ", 20000), {}},
        {repeat("\\begin{matrix}a \\over ", 2000) + "x" + repeat(" & b \\end{matrix}", 2000), {}},
        {"\\begin{matrix}" + repeat("a \\over b \\atop c & ", 2000) + "\\end{matrix}", {}},
    };
    for (const auto& [name, config] : configs()) {
        for (const auto& [source, limits] : inputs) {
            const ParseOutcome out = parse_source(default_context(), source, config);
            EXPECT_EQ(count_too_complex(out), 0u) << name << ": " << source.substr(0, 60);
            EXPECT_EQ(testing::work_fault(testing::last_work(), limits), "") << name << ": " << source.substr(0, 60);
        }
    }
}

// Every corpus formula and a generated mistake of each stay twenty times
// below the bound.
TEST(WorkBound, CorpusStaysTwentyTimesBelow) {
    const auto lines = mistakes::read_corpus();
    if (!lines) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
    const std::vector<std::string> made = mistakes::corpus_mistakes(*lines, 1);
    for (const auto* set : {&*lines, &made}) {
        for (const std::string& source : *set) {
            (void)parse_source(default_context(), source, {});
            const auto r = grammar::detail::last_parse_fuel;
            ASSERT_LE(20 * r.used, Fuel::kUnitsPerToken * r.tokens + Fuel::kFloor) << source;
        }
    }
}

// A smaller tank reaches its end sooner, inside a formula the full tank
// reads whole.
TEST(WorkBound, SmallerTankGivesUpEarlier) {
    const std::string source = repeat("x+", 50) + open_text_math(300);
    const ParseOutcome full = parse_source(default_context(), source, {});
    EXPECT_EQ(count_too_complex(full), 0u);
    const SmallTank tank;
    const ParseOutcome small = parse_source(default_context(), source, {});
    ASSERT_EQ(count_too_complex(small), 1u);
    ASSERT_TRUE(small.document);
    const auto check = invariants::check_parse(default_context(), source, small);
    EXPECT_EQ(check.violation, invariants::Violation::None) << check.written;
    // Given up at the bold text, or at a plain item before it.
    const Span span = small.diagnostics.back().span;
    EXPECT_LE(span.start, 100u);
    EXPECT_EQ(span.end, source.size());
}

// A budget's units per token times the tokens past the largest size give
// the largest budget, not what the product wraps to.
class BudgetScale : public ::testing::TestWithParam<grammar::detail::Budget> {};

TEST_P(BudgetScale, SaturatesInsteadOfWrapping) {
    namespace d = grammar::detail;
    const d::Budget budget = GetParam();
    const std::string source = repeat("\\frac{#}{#}", 40);
    auto reached = [&](std::size_t per_token, std::size_t floor) {
        const d::FuelScale fuel = d::fuel_scale;
        const d::RecoveryBudgetScale recovery = d::recovery_budget_scale;
        if (budget == d::kWorkBound) d::fuel_scale = {per_token, floor};
        if (budget == d::kRecoveryBudget) d::recovery_budget_scale = {per_token, floor};
        (void)parse_source(default_context(), source, {});
        d::fuel_scale = fuel;
        d::recovery_budget_scale = recovery;
        // An even count: 2^63 units per token wrap to none.
        EXPECT_EQ(testing::last_work().tokens % 2, 0u);
        return (testing::last_work().reached & budget) != 0;
    };
    EXPECT_TRUE(reached(0, 2));
    EXPECT_FALSE(reached(std::size_t{1} << 63, 2));
}

INSTANTIATE_TEST_SUITE_P(Budgets, BudgetScale,
                         ::testing::Values(grammar::detail::kWorkBound, grammar::detail::kRecoveryBudget));

}  // namespace
}  // namespace quorvel::parse
