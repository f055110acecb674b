// The shortcuts of the failure runtime: a run of refusals recorded at once,
// and expected sets united wholesale, give what one refusal after another
// and one pattern after another give.
#include <gtest/gtest.h>

#include "parse/grammar/input.hpp"
#include "parse/lexer.hpp"

namespace quorvel::parse::grammar {
namespace {

namespace pat = pattern;

TokenStream lex(std::string_view source) { return std::get<TokenStream>(build_token_stream(source)); }

// What is kept after `before` (a failure offered at `before_pos`, or none),
// then the refusals of `ids` at the cursor.
struct RefusalCase {
    const char* name;
    std::size_t cursor;
    std::optional<std::size_t> before_pos;
    bool before_custom;
    std::vector<PatternId> ids;
};

class RefusalRuns : public ::testing::TestWithParam<RefusalCase> {};

std::string kept_after(const RefusalCase& c, bool at_once, const TokenStream& stream) {
    Input in(stream);
    if (c.before_pos) {
        in.rewind(*c.before_pos);
        if (c.before_custom) {
            in.add_alt(*c.before_pos, Failure::custom_message(in.here_span(), "earlier"));
        } else {
            in.expect(pat::kText);
        }
    }
    in.rewind(c.cursor);
    if (at_once) {
        in.expect_each(c.ids);
    } else {
        for (PatternId id : c.ids) in.expect(id);
    }
    if (!in.alt()) return "<none>";
    return std::to_string(in.alt()->pos) + ": " + in.display(in.alt()->failure);
}

TEST_P(RefusalRuns, AtOnceEqualsOneAfterAnother) {
    const auto& c = GetParam();
    TokenStream stream = lex("a b c");
    EXPECT_EQ(kept_after(c, true, stream), kept_after(c, false, stream));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RefusalRuns,
    ::testing::Values(
        RefusalCase{"nothing_kept", 0, std::nullopt, false, {pat::kLBrace, pat::kBegin, pat::kLBrace, pat::kTilde}},
        RefusalCase{"earlier_failure_replaced", 2, 0, false, {pat::kMathPrime, pat::kTilde}},
        RefusalCase{"same_position_joins", 2, 2, false, {pat::kTilde, pat::kText, pat::kMathCharacter}},
        RefusalCase{"custom_here_stays", 2, 2, true, {pat::kTilde, pat::kMathPrime}},
        RefusalCase{"farther_failure_stays", 0, 4, false, {pat::kTilde, pat::kMathPrime}},
        RefusalCase{"at_end_of_input", 5, 2, false, {pat::kRBrace, pat::kEndOfInput}},
        RefusalCase{"no_patterns", 2, 0, false, {}}),
    [](const auto& info) { return info.param.name; });

// Unites `b` into `a` with merge_failure, both built from pattern lists;
// numbers from 64 on stand for patterns met at run time.
std::vector<PatternId> merged(const std::vector<PatternId>& a, const std::vector<PatternId>& b) {
    Failure kept;
    for (PatternId id : a) kept.expected.add(id);
    Failure rival;
    for (PatternId id : b) rival.expected.add(id);
    merge_failure(kept, std::move(rival));
    return {kept.expected.begin(), kept.expected.end()};
}

TEST(ExpectedSets, UnionKeepsInsertionOrderAndRunTimePatterns) {
    struct Case {
        std::vector<PatternId> a, b, expected;
    };
    const Case cases[] = {
        {{1, 5}, {5, 1}, {1, 5}},
        {{1, 5}, {7, 1, 3}, {1, 5, 7, 3}},
        {{}, {9, 2}, {9, 2}},
        {{70, 3}, {3, 70}, {70, 3}},
        {{3}, {3, 71, 70}, {3, 71, 70}},
        {{70}, {71, 70, 4}, {70, 71, 4}},
        {{63, 0}, {0, 63}, {63, 0}},
    };
    for (const Case& c : cases) EXPECT_EQ(merged(c.a, c.b), c.expected);
}

}  // namespace
}  // namespace quorvel::parse::grammar
