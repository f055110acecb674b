// The runtime the grammar rules run on: positions and spans, the kept
// failure and its merge rules, labels and contexts, rule-owned failures.
#include <gtest/gtest.h>

#include "parse/grammar/input.hpp"
#include "parse_grammar_support.hpp"

namespace quorvel::parse::grammar {
namespace {

using testing::Harness;
namespace pat = pattern;

TokenStream lex(std::string_view source) { return std::get<TokenStream>(build_token_stream(source)); }

struct SpanCase {
    const char* name;
    std::string source;
    std::size_t saved;
    std::size_t current;
    Span expected;
};

class SpanRule : public ::testing::TestWithParam<SpanCase> {};

TEST_P(SpanRule, SpanSinceFollowsTheTokens) {
    const auto& c = GetParam();
    TokenStream stream = lex(c.source);
    Input in(stream);
    in.rewind(c.current);
    EXPECT_EQ(in.err_since(c.saved, "m").span, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SpanRule,
    ::testing::Values(SpanCase{"both_consumed", "ab", 0, 2, {0, 2}},
                      // Nothing consumed yet: the end falls back to the end of input.
                      SpanCase{"point_at_start", "xyz", 0, 0, {0, 3}},
                      SpanCase{"point_after_first", "x}", 1, 1, {1, 1}},
                      SpanCase{"point_at_end", "ab", 2, 2, {2, 2}},
                      // A comment between the two tokens: the point lies at the next token.
                      SpanCase{"comment_between", "a%c\nb", 1, 1, {4, 4}},
                      SpanCase{"saved_at_end_of_comment_source", "a%c", 1, 1, {3, 3}}),
    [](const auto& info) { return info.param.name; });

// Offers failures in order; each is (position, kind, payload) with kind 'e'
// an expected/found failure expecting the pattern and 'c' a custom one.
struct Offer {
    std::size_t pos;
    char kind;
    PatternId expected = pat::kSomethingElse;
    const char* message = "";
    std::optional<ParseDiagnosticKind> diag = std::nullopt;
};

struct MergeCase {
    const char* name;
    std::vector<Offer> offers;
    std::size_t kept_pos;
    std::string kept_text;
    std::optional<ParseDiagnosticKind> kept_kind;
};

class MergeRules : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeRules, KeepsTheFarthestAndMergesEqualPositions) {
    const auto& c = GetParam();
    TokenStream stream = lex("a b c d");
    Input in(stream);
    for (const Offer& o : c.offers) {
        in.rewind(o.pos);
        if (o.kind == 'e') {
            in.expect(o.expected);
        } else {
            in.add_alt(o.pos, Failure::custom_message(in.here_span(), o.message, o.diag));
        }
    }
    ASSERT_TRUE(in.alt());
    EXPECT_EQ(in.alt()->pos, c.kept_pos);
    EXPECT_EQ(in.display(in.alt()->failure), c.kept_text);
    EXPECT_EQ(in.alt()->failure.kind, c.kept_kind);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MergeRules,
    ::testing::Values(
        MergeCase{"later_replaces", {{0, 'e', pat::kLBrace}, {2, 'e', pat::kRBrace}}, 2, "found 'b' expected '}'", {}},
        MergeCase{"earlier_dropped", {{2, 'e', pat::kRBrace}, {0, 'e', pat::kLBrace}}, 2, "found 'b' expected '}'", {}},
        MergeCase{"same_position_unites_in_order",
                  {{0, 'e', pat::kLBrace}, {0, 'e', pat::kText}, {0, 'e', pat::kLBrace}, {0, 'e', pat::kTilde}},
                  0,
                  "found 'a' expected '{', text, or '~'",
                  {}},
        MergeCase{"custom_replaces_expected",
                  {{0, 'e', pat::kLBrace}, {0, 'c', 0, "boom", ParseDiagnosticKind::UnknownCommand}},
                  0,
                  "boom",
                  ParseDiagnosticKind::UnknownCommand},
        MergeCase{"custom_stays_before_expected", {{0, 'c', 0, "boom"}, {0, 'e', pat::kLBrace}}, 0, "boom", {}},
        MergeCase{"first_custom_stays",
                  {{0, 'e', pat::kLBrace}, {0, 'c', 0, "first"}, {0, 'c', 0, "second"}},
                  0,
                  "first",
                  {}}),
    [](const auto& info) { return info.param.name; });

// A rule's own failure replaces a leftover expected/found failure at its
// start whole: it keeps its own span and contexts, which say where the fault
// is, along with its direct report, soft mark and kind.
TEST(GrammarRuntime, CustomReplacingExpectedBringsItsOwnSpanAndContexts) {
    TokenStream stream = lex("a b");
    Input in(stream);
    Failure leftover = Failure::expected_found({0, 1}, 0, pat::kLBrace);
    leftover.with_context(pat::kCommandArgument, {0, 3});
    in.add_alt(0, std::move(leftover));
    Failure custom = Failure::custom_message({7, 9}, "boom", ParseDiagnosticKind::AmbiguousInfix);
    custom.with_context(pat::kLeftDelimitedGroup, {0, 9});
    custom.at_source({5, 6});
    custom.soft = true;
    in.add_alt(0, std::move(custom));
    const Failure& kept = in.alt()->failure;
    EXPECT_EQ(kept.span, (Span{7, 9}));
    EXPECT_EQ(in.display(kept), "boom in left-delimited group at 0..9");
    ASSERT_TRUE(kept.direct() && *kept.direct());
    EXPECT_EQ((*kept.direct())->span, (Span{5, 6}));
    EXPECT_TRUE(kept.soft);
    EXPECT_EQ(kept.kind, ParseDiagnosticKind::AmbiguousInfix);
}

TEST(GrammarRuntime, EmptyExpectedListReadsSomethingElse) {
    TokenStream stream = lex("}");
    Input in(stream);
    Failure f = Failure::expected_found(in.here_span(), 0, pat::kLBrace);
    f.expected.clear();
    EXPECT_EQ(in.reason_display(f), "found '}' expected something else");
}

struct LabelCase {
    const char* name;
    std::string source;
    std::size_t consumed;  // tokens the labelled rule consumes before failing
    bool custom;           // it fails with a custom message, else expecting '{'
    bool context;
    std::string text;
};

class Labels : public ::testing::TestWithParam<LabelCase> {};

TEST_P(Labels, RelabelAtStartAndAddContextBeyond) {
    const auto& c = GetParam();
    TokenStream stream = lex(c.source);
    Input in(stream);
    const bool ok = labelled(in, pat::kEnvironmentName, c.context, [&] {
        for (std::size_t i = 0; i < c.consumed; ++i) in.bump();
        if (c.custom) {
            Failure f = in.err_peek_or_point("inner message");
            f.kind = ParseDiagnosticKind::UnknownCommand;
            in.add_alt(in.pos(), std::move(f));
        } else {
            in.expect(pat::kLBrace);
        }
        return false;
    });
    EXPECT_FALSE(ok);
    ASSERT_TRUE(in.alt());
    EXPECT_EQ(in.display(in.alt()->failure), c.text);
    if (c.consumed == 0) {
        EXPECT_FALSE(in.alt()->failure.kind);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Labels,
    ::testing::Values(
        LabelCase{"expected_at_start", "x y", 0, false, false, "found 'x' expected environment name"},
        // A relabelled custom failure has no found token: it reads as the end of input.
        LabelCase{"custom_at_start", "x y", 0, true, false, "found end of input expected environment name"},
        LabelCase{"context_beyond_start", "x y z", 2, false, true,
                  "found 'y' expected '{' in environment name at 0..2"},
        LabelCase{"no_context_without_flag", "x y z", 2, false, false, "found 'y' expected '{'"}),
    [](const auto& info) { return info.param.name; });

TEST(GrammarRuntime, NestedContextLabelAddsOneEntry) {
    TokenStream stream = lex("a b c");
    Input in(stream);
    labelled(in, pat::kCommandArgument, true, [&] {
        in.bump();
        return labelled(in, pat::kCommandArgument, true, [&] {
            in.bump();
            in.bump();
            in.expect(pat::kLBrace);
            return false;
        });
    });
    EXPECT_EQ(in.display(in.alt()->failure), "found ' ' expected '{' in command argument at 1..3");
}

TEST(GrammarRuntime, LabellingTwiceKeepsTheSecondLabel) {
    TokenStream stream = lex("a");
    Input in(stream);
    labelled(in, pat::kText, false, [&] {
        return labelled(in, pat::kEscapedSymbol, false, [&] {
            in.expect(pat::kLBrace);
            return false;
        });
    });
    EXPECT_EQ(in.display(in.alt()->failure), "found 'a' expected text");
}

TEST(GrammarRuntime, LabelledRuleMergesIntoTheOldFailure) {
    TokenStream stream = lex("a");
    Input in(stream);
    in.expect(pat::kSomethingElse);
    labelled(in, pat::kMathCharacter, false, [&] {
        in.expect(pat::kLBrace);
        return false;
    });
    EXPECT_EQ(in.display(in.alt()->failure), "found 'a' expected something else, or math character");
}

struct ScopeCase {
    const char* name;
    std::optional<std::size_t> old_pos;  // a failure kept before the rule starts
    std::size_t start;
    std::size_t inner_pos;  // what the rule records while it runs
    std::size_t fail_pos;   // where the rule stands when it fails
    bool own_failure;       // else the rule succeeds
    std::size_t kept_pos;
    std::string kept_text;
    Span kept_span;
};

class RuleScopes : public ::testing::TestWithParam<ScopeCase> {};

TEST_P(RuleScopes, OwnFailureDiscardsOnlyWhatTheRuleRecorded) {
    const auto& c = GetParam();
    TokenStream stream = lex("a b c d");
    Input in(stream);
    if (c.old_pos) {
        in.rewind(*c.old_pos);
        in.expect(pat::kLBrace);
    }
    in.rewind(c.start);
    {
        RuleScope scope(in);
        in.rewind(c.inner_pos);
        in.expect(pat::kRBrace);
        in.rewind(c.fail_pos);
        if (c.own_failure) scope.fail(Failure::custom_message({9, 9}, "own"));
    }
    ASSERT_TRUE(in.alt());
    EXPECT_EQ(in.alt()->pos, c.kept_pos);
    EXPECT_EQ(in.display(in.alt()->failure), c.kept_text);
    EXPECT_EQ(in.alt()->failure.span, c.kept_span);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RuleScopes,
    ::testing::Values(
        ScopeCase{"leftover_before_failure_discarded", std::nullopt, 0, 4, 6, true, 0, "own", {9, 9}},
        ScopeCase{"leftover_at_failure_discarded", std::nullopt, 0, 4, 4, true, 0, "own", {9, 9}},
        // An attempt the rule gave up that reached farther still competes.
        ScopeCase{"abandoned_farther_attempt_wins", std::nullopt, 0, 4, 2, true, 4, "found 'c' expected '}'", {4, 5}},
        // A failure kept from an earlier alternative, farther on, still wins.
        ScopeCase{"older_farther_failure_stays", 4, 2, 6, 6, true, 4, "found 'c' expected '{'", {4, 5}},
        // At the same position the custom failure replaces the older
        // expected/found one whole, its own span included.
        ScopeCase{"merges_with_older_at_start", 2, 2, 6, 6, true, 2, "own", {9, 9}},
        ScopeCase{"success_keeps_inner", 0, 0, 4, 4, false, 4, "found 'c' expected '}'", {4, 5}},
        ScopeCase{"success_keeps_farther_old", 6, 0, 4, 4, false, 6, "found 'd' expected '{'", {6, 7}}),
    [](const auto& info) { return info.param.name; });

TEST(GrammarRuntime, LookaheadRestoresCursorAndFailure) {
    TokenStream stream = lex("a b");
    Input in(stream);
    in.expect(pat::kLBrace);
    const bool seen = lookahead(in, [&] {
        in.bump();
        in.bump();
        in.expect(pat::kRBrace);
        return true;
    });
    EXPECT_TRUE(seen);
    EXPECT_EQ(in.pos(), 0u);
    EXPECT_EQ(in.display(in.alt()->failure), "found 'a' expected '{'");
}

TEST(GrammarRuntime, OwnedRoundTripKeepsEverything) {
    TokenStream stream = lex("\\foo b");
    Input in(stream);
    in.expect(pat::kLBrace);
    in.expect(pat::kText);
    Failure f = in.take_failure();
    f.with_context(pat::kCommandArgument, {0, 4});
    f.kind = ParseDiagnosticKind::RawExpectedFound;
    ParseFailure owned = in.to_owned(f);
    EXPECT_EQ(owned.display(), "found '\\foo' expected '{', or text in command argument at 0..4");

    TokenStream other_stream = lex("x");
    Input other(other_stream);
    Failure back = other.from_owned(owned);
    EXPECT_EQ(other.display(back), owned.display());
    EXPECT_TRUE(other.to_owned(back).matches_tree_diagnostic(owned));
}

}  // namespace
}  // namespace quorvel::parse::grammar
