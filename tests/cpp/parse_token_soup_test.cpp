// Soups of the tokens recovery meets most: every diagnostic lies in an Error
// node (or there is no document), and a written document reads back to the
// same text.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <string_view>

#include "malformed_invariants.hpp"
#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;

constexpr std::array<std::string_view, 21> kPieces = {
    "\\text{", "\\(",     "\\)", "{",      "}",         "$",       "$$",  "\\end", "\\begin{matrix}", "\\left(",
    "\\right)", "\\frac{", "}{",  "^",      "_",         "'",       "&",   "\\\\",  "x",  "\\textbf{",  "\\mbox{x}"};

// The first fault of `source` under `config`, or the empty text.
std::string fault(std::string_view source, const ParseConfig& config) {
    const ParseOutcome out = parse_source(default_context(), source, config);
    if (!out.document) return "";
    if (!invariants::diagnostics_in_error_nodes(out)) return "a diagnostic outside every Error node";
    const invariants::Check check = invariants::check_parse(default_context(), source, out, config);
    if (check.violation != invariants::Violation::NotFixedPoint) return "";
    // Known writer choices, not recovery faults: an Error text that leaves a
    // brace open takes the brace written around a script operand, and a
    // caret beside a prime is dropped or moved on purpose.
    if (invariants::known_unstable(source, out, check) || invariants::caret_meets_prime(source)) return "";
    return "written " + check.written + " reads back as " + check.rewritten;
}

TEST(TokenSoup, DiagnosticsLieInErrorNodesAndWrittenTextReadsBack) {
    std::mt19937 rng(45);
    std::size_t violations = 0;
    for (int k = 0; k < 30000; ++k) {
        std::string source;
        for (std::size_t n = 3 + rng() % 10; n > 0; --n) source += kPieces[rng() % kPieces.size()];
        for (const bool abort : {false, true}) {
            ParseConfig config;
            config.abort_on_error = abort;
            const std::string found = fault(source, config);
            if (found.empty()) continue;
            if (++violations <= 5) ADD_FAILURE() << source << " (abort_on_error " << abort << "): " << found;
        }
    }
    EXPECT_EQ(violations, 0u);
}

// The reported inputs of each class.
struct SoupCase {
    const char* name;
    const char* source;
    bool error_node;  // the document holds an Error node
};

void PrintTo(const SoupCase& c, std::ostream* os) { *os << c.source; }

class ReportedSoups : public ::testing::TestWithParam<SoupCase> {};

TEST_P(ReportedSoups, KeepTheirInvariants) {
    const SoupCase& c = GetParam();
    for (const bool abort : {false, true}) {
        ParseConfig config;
        config.abort_on_error = abort;
        EXPECT_EQ(fault(c.source, config), "") << "abort_on_error " << abort;
    }
    const ParseOutcome out = parse_source(default_context(), c.source, {});
    ASSERT_TRUE(out.document.has_value());
    EXPECT_EQ(!out.document->errors().empty(), c.error_node);
    EXPECT_EQ(out.diagnostics.empty(), !c.error_node);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportedSoups,
    ::testing::Values(
        // A `\(` the math does not close is read as a command: what the
        // math's recovery reported goes with it.
        SoupCase{"unclosed_paren_before_dollars", R"(\text{\({$$}})", false},
        SoupCase{"unclosed_paren_before_paren_math", R"(\text{\({\(x\)}})", false},
        SoupCase{"unclosed_paren_before_end", R"(\text{\({\(\)}\end})", true},
        // A faulty text argument is taken whole by the skip of the fault
        // around it.
        SoupCase{"text_argument_in_unclosed_fraction", R"(\left(\\x_\right)\frac{}\left(\frac{\)\text{\right))", true},
        SoupCase{"text_argument_after_scripts", R"(\frac{^^}\left(\textbf{\right)\mbox{x}{^)", true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel::parse
