#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "parse/diagnostic_kind.hpp"
#include "parse/failure.hpp"

namespace {

using quorvel::parse::build_token_stream;
using quorvel::parse::Custom;
using quorvel::parse::err_peek_or_point;
using quorvel::parse::err_since;
using quorvel::parse::ExpectedFound;
using quorvel::parse::KeptFailure;
using quorvel::parse::OwnedToken;
using quorvel::parse::ParseDiagnosticKind;
using quorvel::parse::ParseFailure;
using quorvel::parse::Pattern;
using quorvel::parse::Span;
using quorvel::parse::Token;
using quorvel::parse::TokenKind;
using quorvel::parse::TokenStream;

OwnedToken rbrace() { return OwnedToken(Token::simple(TokenKind::RBrace)); }
Pattern tok(char32_t c) { return Pattern::of_token(Token::character(c)); }
Pattern label(std::string_view text) { return Pattern::label(text); }

ParseFailure ef(Span span, std::vector<Pattern> expected, std::optional<OwnedToken> found = std::nullopt) {
    return ParseFailure::expected_found(span, std::move(expected), std::move(found));
}

TEST(ParseFailure, Display) {
    struct Case {
        std::string name;
        ParseFailure failure;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"label with context",
         ef({6, 7}, {label("subscript content")}, rbrace()).with_context("environment argument", {4, 9}),
         "found '}' expected subscript content in environment argument at 4..9"},
        {"empty expected list", ef({0, 1}, {}, rbrace()), "found '}' expected something else"},
        {"one pattern", ef({0, 0}, {tok('a')}), "found end of input expected 'a'"},
        {"two patterns", ef({0, 0}, {tok('a'), tok('b')}), "found end of input expected 'a', or 'b'"},
        {"three patterns", ef({0, 0}, {tok('a'), tok('b'), tok('c')}),
         "found end of input expected 'a', 'b', or 'c'"},
        {"special patterns",
         ef({0, 1}, {Pattern::end_of_input(), Pattern::something_else(), Pattern::any()},
            OwnedToken(Token::control_seq("alpha"))),
         "found '\\alpha' expected end of input, something else, or any"},
        {"found primes", ef({0, 2}, {label("x")}, OwnedToken(Token::primes(2))), "found '''' expected x"},
        {"custom with two contexts",
         ParseFailure::custom({3, 4}, "boom").with_context("inner", {1, 2}).with_context("outer", {0, 5}),
         "boom in inner at 1..2 in outer at 0..5"},
        {"inverted context span", ParseFailure::custom({3, 4}, "m").with_context("c", {7, 3}), "m in c at 7..3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.failure.display(), c.want);
    }
}

TEST(ParseFailure, MergeAtOnePosition) {
    ParseFailure withCtx = ef({2, 3}, {tok('a')}, rbrace()).with_context("ctx", {0, 3});
    ParseFailure c1 = ParseFailure::custom({5, 9}, "c1").at_source({7, 8});
    c1.kind = ParseDiagnosticKind::UnknownCommand;
    c1.soft = true;
    ParseFailure c2 = ParseFailure::custom({6, 6}, "c2");
    c2.kind = ParseDiagnosticKind::TextScriptError;

    struct Case {
        std::string name;
        std::vector<ParseFailure> offered;  // merged into the first, in order
        std::string want;
        Span span;
        std::optional<ParseDiagnosticKind> kind;
        bool soft;
        std::optional<Span> direct;
    };
    const std::vector<Case> cases = {
        // The first custom replaces the expected/found failure whole, with
        // its own span and (no) contexts.
        {"expected/found then two customs keeps the first custom", {withCtx, c1, c2}, "c1", {5, 9},
         ParseDiagnosticKind::UnknownCommand, true, Span{7, 8}},
        {"custom first stays", {c2, withCtx, c1}, "c2", {6, 6}, ParseDiagnosticKind::TextScriptError, false,
         std::nullopt},
        {"expected lists join without duplicates",
         {ef({1, 2}, {tok('a'), tok('b')}, rbrace()), ef({1, 5}, {tok('b'), tok('c'), tok('a')}), ef({1, 2}, {label("x")})},
         "found '}' expected 'a', 'b', 'c', or x", {1, 2}, std::nullopt, false, std::nullopt},
        {"a custom replacing expected/found drops the old kind", [&] {
             ParseFailure first = ef({1, 2}, {tok('a')});
             first.kind = ParseDiagnosticKind::RawExpectedFound;
             first.at_source({0, 9});
             return std::vector<ParseFailure>{first, ParseFailure::custom({4, 4}, "m")};
         }(),
         "m", {4, 4}, std::nullopt, false, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ParseFailure kept = c.offered.front();
        for (std::size_t i = 1; i < c.offered.size(); ++i) kept.merge(c.offered[i]);
        EXPECT_EQ(kept.display(), c.want);
        EXPECT_EQ(kept.span, c.span);
        EXPECT_EQ(kept.kind, c.kind);
        EXPECT_EQ(kept.soft, c.soft);
        EXPECT_EQ(kept.direct ? std::optional<Span>(kept.direct->span) : std::nullopt, c.direct);
    }
}

TEST(ParseFailure, OfferByPosition) {
    struct Offer {
        std::size_t position;
        ParseFailure failure;
    };
    struct Case {
        std::string name;
        std::vector<Offer> offers;
        std::size_t position;
        std::string want;
    };
    const std::vector<Case> cases = {
        {"later position replaces", {{1, ParseFailure::custom({0, 1}, "early")}, {3, ef({5, 6}, {tok('x')})}}, 3,
         "found end of input expected 'x'"},
        {"earlier position is dropped", {{3, ef({5, 6}, {tok('x')})}, {1, ParseFailure::custom({0, 1}, "early")}}, 3,
         "found end of input expected 'x'"},
        {"same position merges", {{2, ef({5, 6}, {tok('x')})}, {2, ef({5, 6}, {tok('y')})}}, 2,
         "found end of input expected 'x', or 'y'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<KeptFailure> kept;
        for (const auto& o : c.offers) quorvel::parse::offer_failure(kept, o.position, o.failure);
        ASSERT_TRUE(kept.has_value());
        EXPECT_EQ(kept->position, c.position);
        EXPECT_EQ(kept->failure.display(), c.want);
    }
}

TEST(ParseFailure, LabelWith) {
    ParseFailure custom = ParseFailure::custom({3, 5}, "Unknown command: \\foo").with_context("arg", {0, 5});
    custom.kind = ParseDiagnosticKind::UnknownCommand;
    custom.soft = true;
    custom.at_environment({1, 2}, "b", "a");
    custom.label_with("L");
    EXPECT_EQ(custom.display(), "found end of input expected L in arg at 0..5");
    EXPECT_TRUE(custom.at_end_of_input());
    EXPECT_FALSE(custom.kind.has_value());
    EXPECT_FALSE(custom.direct.has_value());
    EXPECT_FALSE(custom.soft);
    EXPECT_EQ(custom.span, (Span{3, 5}));

    ParseFailure found = ef({1, 2}, {tok('a'), tok('b')}, rbrace());
    found.label_with("first");
    found.label_with("second");
    EXPECT_EQ(found.display(), "found '}' expected second");
}

TEST(ParseFailure, ContextAndDirect) {
    ParseFailure f = ParseFailure::custom({0, 1}, "m");
    f.with_context("same", {1, 2}).with_context("same", {5, 9}).with_context("other", {0, 9});
    ASSERT_EQ(f.context.size(), 2u);
    EXPECT_EQ(f.context[0].span, (Span{1, 2}));
    EXPECT_EQ(f.context[1].label.display(), "other");

    f.at_environment({4, 5}, "found", "expected");
    ASSERT_TRUE(f.direct && f.direct->environment_names);
    EXPECT_EQ(f.direct->environment_names->found, "found");
    EXPECT_EQ(f.direct->environment_names->expected, "expected");
    f.at_source({6, 7});
    ASSERT_TRUE(f.direct);
    EXPECT_FALSE(f.direct->environment_names.has_value());
    EXPECT_EQ(f.direct->span, (Span{6, 7}));
}

TEST(ParseFailure, MatchTests) {
    auto base = [] { return ParseFailure::custom({1, 2}, "m").with_context("c", {0, 3}); };
    auto with_kind = [&](ParseDiagnosticKind k) {
        ParseFailure f = base();
        f.kind = k;
        return f;
    };
    auto with_names = [&](std::string found) { return base().at_environment({1, 2}, std::move(found), "a"); };
    struct Case {
        std::string name;
        ParseFailure a, b;
        bool same_source, tree, recovery;
    };
    const std::vector<Case> cases = {
        {"identical", base(), base(), true, true, true},
        {"context spans differ", base(), ParseFailure::custom({1, 2}, "m").with_context("c", {0, 4}), true, false,
         false},
        {"context counts differ", base(), ParseFailure::custom({1, 2}, "m"), true, false, false},
        {"kind against none", base(), with_kind(ParseDiagnosticKind::UnknownCommand), false, false, false},
        {"different kinds", with_kind(ParseDiagnosticKind::UnknownCommand),
         with_kind(ParseDiagnosticKind::UnknownEnvironment), false, false, false},
        {"spans differ", base(), ParseFailure::custom({1, 3}, "m").with_context("c", {0, 3}), false, false, false},
        {"environment names differ", with_names("b"), with_names("c"), false, false, false},
        {"names against plain direct", with_names("b"), base().at_source({1, 2}), false, false, false},
        {"custom text reading like expected/found",
         ParseFailure::custom({1, 2}, "found 'x' expected y").with_context("c", {0, 3}),
         ef({1, 2}, {label("y")}, OwnedToken(Token::character('x'))).with_context("c", {0, 3}), true, false, true},
        {"token pattern against label of the same text", ef({1, 2}, {tok('a')}), ef({1, 2}, {label("'a'")}), true,
         true, true},
        {"expected order matters", ef({1, 2}, {tok('a'), tok('b')}), ef({1, 2}, {tok('b'), tok('a')}), true, false,
         false},
        {"found against end of input", ef({1, 2}, {tok('a')}, rbrace()), ef({1, 2}, {tok('a')}), true, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.a.same_source(c.b), c.same_source);
        EXPECT_EQ(c.a.matches_tree_diagnostic(c.b), c.tree);
        EXPECT_EQ(c.a.matches_recovery_diagnostic(c.b), c.recovery);
        EXPECT_EQ(c.b.matches_tree_diagnostic(c.a), c.tree);
    }
}

TEST(ParseFailure, Shifted) {
    ParseFailure f = ef({0, 3}, {tok('a')}, rbrace()).with_context("L", {1, 2}).at_source({0, 3});
    f.soft = true;
    f.kind = ParseDiagnosticKind::LeftRightDelimiter;
    // A repeated label, put there by hand, is kept once.
    f.context.push_back({label("L"), {2, 3}});
    ParseFailure g = std::move(f).shifted(10);
    EXPECT_EQ(g.span, (Span{10, 13}));
    ASSERT_EQ(g.context.size(), 1u);
    EXPECT_EQ(g.context[0].span, (Span{11, 12}));
    ASSERT_TRUE(g.direct);
    EXPECT_EQ(g.direct->span, (Span{10, 13}));
    EXPECT_TRUE(g.soft);
    EXPECT_EQ(g.kind, ParseDiagnosticKind::LeftRightDelimiter);
    EXPECT_EQ(quorvel::parse::reason_display(g.reason), "found '}' expected 'a'");
}

TEST(ParseFailure, SpansOfErrSince) {
    struct Case {
        std::string name;
        std::string source;
        std::size_t saved, current;
        Span want;
    };
    const std::vector<Case> cases = {
        {"two tokens consumed", "ab", 0, 2, {0, 2}},
        {"point at the start falls back to the end", "x}", 0, 0, {0, 2}},
        {"point after the first token", "x}", 1, 1, {1, 1}},
        {"point at the end", "ab", 2, 2, {2, 2}},
        {"point after a comment lies at the next token", "a%c\nb", 1, 1, {4, 4}},
        {"saved at the end after a trailing comment", "a%c", 1, 1, {3, 3}},
        {"empty source", "", 0, 0, {0, 0}},
        {"white space counts as a token", "a b", 0, 3, {0, 3}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stream = std::get<TokenStream>(build_token_stream(c.source));
        const ParseFailure f = c.saved == c.current ? err_peek_or_point(stream, c.current, "m")
                                                    : err_since(stream, c.saved, c.current, "m");
        EXPECT_EQ(f.span, c.want);
        EXPECT_EQ(f.display(), "m");
        EXPECT_TRUE(f.context.empty());
        EXPECT_FALSE(f.direct || f.soft || f.kind);
    }
}

TEST(ParseFailure, DiagnosticKindNames) {
    using K = ParseDiagnosticKind;
    const std::vector<std::pair<K, std::string>> cases = {
        {K::AmbiguousInfix, "ambiguous-infix"},
        {K::ArgumentValidation, "argument-validation"},
        {K::CommandModeError, "command-mode-error"},
        {K::CommentTruncatedArgument, "comment-truncated-argument"},
        {K::EnvironmentModeError, "environment-mode-error"},
        {K::EnvironmentNameMismatch, "environment-name-mismatch"},
        {K::LeftRightDelimiter, "left-right-delimiter"},
        {K::MaxGroupDepthExceeded, "max-group-depth-exceeded"},
        {K::RawExpectedFound, "raw-expected-found"},
        {K::TextScriptError, "text-script-error"},
        {K::UnclosedInlineMath, "unclosed-inline-math"},
        {K::UnexpectedMathShift, "unexpected-math-shift"},
        {K::UnknownCommand, "unknown-command"},
        {K::UnknownEnvironment, "unknown-environment"},
        {K::FormulaTooComplex, "formula-too-complex"},
    };
    ASSERT_EQ(cases.size(), quorvel::parse::kParseDiagnosticKindCount);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(static_cast<std::size_t>(cases[i].first), i);
        EXPECT_EQ(quorvel::parse::parse_diagnostic_kind_name(cases[i].first), cases[i].second);
    }
}

// Patterns keep their token or label through copies and moves; a control
// sequence owns its name, which may be long or empty.
TEST(ParseFailure, PatternsSurviveCopiesAndMoves) {
    const std::string long_name(40, 'q');
    struct Case {
        std::string name;
        Pattern pattern;
        std::string display;
        std::optional<OwnedToken> token;  // for token patterns
    };
    const std::vector<Case> cases = {
        {"short control sequence", Pattern::of_token(Token::control_seq("begin")), "'\\begin'",
         OwnedToken(Token::control_seq("begin"))},
        {"long control sequence", Pattern::of_token(OwnedToken::control_seq(long_name)), "'\\" + long_name + "'",
         OwnedToken::control_seq(long_name)},
        {"empty control sequence", Pattern::of_token(Token::control_seq("")), "'\\'",
         OwnedToken(Token::control_seq(""))},
        {"character", tok(U'\u00e9'), "'\u00e9'", OwnedToken(Token::character(U'\u00e9'))},
        {"primes", Pattern::of_token(Token::primes(3)), "'" + std::string(3, '\'') + "'",
         OwnedToken(Token::primes(3))},
        {"simple token", Pattern::of_token(Token::simple(TokenKind::LBrace)), "'{'",
         OwnedToken(Token::simple(TokenKind::LBrace))},
        {"label", label("math character"), "math character", std::nullopt},
        {"end of input", Pattern::end_of_input(), "end of input", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Pattern copy = c.pattern;
        Pattern moved = std::move(copy);
        Pattern assigned = label("other");
        assigned = moved;
        assigned = Pattern(assigned);
        for (const Pattern* p : {&moved, &assigned}) {
            EXPECT_EQ(*p, c.pattern);
            EXPECT_EQ(p->display(), c.display);
            EXPECT_EQ(p->kind(), c.pattern.kind());
            if (c.token) {
                EXPECT_EQ(p->token(), *c.token);
            }
        }
        if (c.pattern.kind() == Pattern::Kind::Label) {
            EXPECT_EQ(moved.label_text(), c.display);
        }
    }
}

TEST(ParseFailure, PatternsCompareByKindAndPayload) {
    std::vector<std::pair<Pattern, Pattern>> different;
    different.emplace_back(Pattern::of_token(Token::control_seq("a")), Pattern::of_token(Token::control_seq("ab")));
    different.emplace_back(Pattern::of_token(Token::control_seq("")), Pattern::of_token(Token::simple(TokenKind::Tilde)));
    different.emplace_back(tok('a'), tok('b'));
    different.emplace_back(tok('a'), label("a"));
    different.emplace_back(Pattern::of_token(Token::primes(1)), Pattern::of_token(Token::primes(2)));
    different.emplace_back(Pattern::of_token(Token::simple(TokenKind::LBrace)),
                           Pattern::of_token(Token::simple(TokenKind::RBrace)));
    different.emplace_back(label("x"), label("y"));
    different.emplace_back(Pattern::any(), Pattern::something_else());
    for (const auto& [a, b] : different) {
        SCOPED_TRACE(a.display() + " / " + b.display());
        EXPECT_FALSE(a == b);
        EXPECT_TRUE(a == Pattern(a));
    }
}

// The direct report is held behind a pointer: copies are deep and compare by
// value.
TEST(ParseFailure, DirectReportCopiesAndCompares) {
    ParseFailure named = ParseFailure::custom({0, 1}, "m").at_environment({2, 3}, "b", "a");
    ParseFailure plain = ParseFailure::custom({0, 1}, "m").at_source({2, 3});
    ParseFailure none = ParseFailure::custom({0, 1}, "m");
    struct Case {
        const char* name;
        const ParseFailure* a;
        const ParseFailure* b;
        bool same;
    };
    const std::vector<Case> cases = {
        {"names against none", &named, &plain, false}, {"none against a report", &none, &plain, false},
        {"both none", &none, &none, true}, {"same report", &plain, &plain, true}, {"same names", &named, &named, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ParseFailure copy = *c.b;
        EXPECT_EQ(c.a->same_source(copy), c.same);
    }
    ParseFailure copy = named;
    copy.direct->environment_names->found = "changed";
    EXPECT_EQ(named.direct->environment_names->found, "b");
    EXPECT_EQ(std::move(copy.direct).take()->environment_names->found, "changed");
    EXPECT_FALSE(copy.direct.has_value());
}

}  // namespace
