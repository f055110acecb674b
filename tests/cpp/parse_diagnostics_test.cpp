// Diagnostic conversion: the rewordings read from the source, the ranks and
// their order, and every diagnostic kind from a formula a user could write.
#include <gtest/gtest.h>

#include <set>

#include "parse/diagnostics_supplements.hpp"
#include "parse_recovery_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::diag_full;
using K = ParseDiagnosticKind;

ParseConfig reject_unknown() {
    ParseConfig c;
    c.reject_unknown = true;
    return c;
}

// ---- Every kind ----------------------------------------------------------------------

struct KindCase {
    K kind;
    std::string source;
    ParseConfig config = {};
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.source; }

class EveryKind : public ::testing::TestWithParam<KindCase> {};

TEST_P(EveryKind, OccursForAFormula) {
    const KindCase& c = GetParam();
    ParseOutcome out = parse_source(default_context(), c.source, c.config);
    std::set<std::string_view> kinds;
    for (const auto& d : out.diagnostics) {
        if (d.kind) kinds.insert(parse_diagnostic_kind_name(*d.kind));
    }
    EXPECT_TRUE(kinds.contains(parse_diagnostic_kind_name(c.kind))) << c.source;
}

std::string nested_groups(std::size_t n) { return std::string(n, '{') + "x" + std::string(n, '}'); }

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, EveryKind,
    ::testing::Values(KindCase{K::AmbiguousInfix, "a \\over b \\atop c"}, KindCase{K::ArgumentValidation, "\\frac a"},
                      KindCase{K::CommandModeError, "\\text{\\frac{a}{b}}"},
                      KindCase{K::CommentTruncatedArgument, "\\frac{a % b}{c}"},
                      KindCase{K::EnvironmentModeError, "\\text{\\begin{matrix}a\\end{matrix}}"},
                      KindCase{K::EnvironmentNameMismatch, "\\begin{matrix}a\\end{pmatrix}"},
                      KindCase{K::LeftRightDelimiter, "\\left x \\right)"},
                      KindCase{K::MaxGroupDepthExceeded, nested_groups(129)}, KindCase{K::RawExpectedFound, "x^{2"},
                      KindCase{K::TextScriptError, "\\text{a^b}"}, KindCase{K::UnclosedInlineMath, "\\text{$x}"},
                      KindCase{K::UnexpectedMathShift, "a $5"},
                      KindCase{K::UnknownCommand, "\\foo", reject_unknown()},
                      KindCase{K::UnknownEnvironment, "\\begin{foo}x\\end{foo}", reject_unknown()}));

// ---- Whole parses ------------------------------------------------------------------------

struct ParseCase {
    const char* name;
    std::string source;
    std::vector<std::string> diagnostics;  // diag_full, in the order given
    ParseConfig config = {};
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.source; }

class ConvertedDiagnostics : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ConvertedDiagnostics, MessagesSpansAndOrder) {
    const ParseCase& c = GetParam();
    ParseOutcome out = parse_source(default_context(), c.source, c.config);
    std::vector<std::string> got;
    for (const auto& d : out.diagnostics) got.push_back(diag_full(d));
    EXPECT_EQ(got, c.diagnostics);
}

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, ConvertedDiagnostics,
    ::testing::Values(
        ParseCase{"comment_truncates_argument",
                  "\\frac{a % b}{c}",
                  {"comment-truncated-argument 5..8 Unescaped % starts a comment inside this argument [] - "
                   "{command argument@5..8}"}},
        ParseCase{"escaped_percent", "\\frac{a \\% b}{c}", {}},
        // An end-of-input failure inside an unclosed environment names it and
        // ranks after the environment's own failure.
        ParseCase{"end_of_input_in_environment",
                  "\\begin{matrix} {x",
                  {"- 17..17 Environment matrix missing closing \\end{matrix} [] - {}",
                   "raw-expected-found 17..17 Environment matrix missing closing \\end{matrix} [something else, '}'] "
                   "- {}"}},
        ParseCase{"end_of_input_after_brace",
                  "x{",
                  {"raw-expected-found 2..2 Unclosed { ... } group [something else, '}'] - {}"}},
        // The plainer messages: an environment in the wrong mode, a
        // mismatched \end, a stray `$`, a bad \left delimiter.
        ParseCase{"environment_in_wrong_mode",
                  "\\text{\\begin{matrix}a\\end{matrix}}",
                  {"environment-mode-error 6..20 Environment matrix is not allowed in text mode [] - {}"}},
        ParseCase{"mismatched_end",
                  "\\begin{a}x\\end{b}",
                  {"environment-name-mismatch 10..17 Environment name mismatch: expected \\end{a}, found \\end{b} "
                   "[\\end{a}] \\end{b} {}"}},
        ParseCase{"stray_dollar", "a $ b",
                  {"unexpected-math-shift 2..3 Unexpected $ inside a math formula [] $ {}"}},
        ParseCase{"bad_left",
                  "\\left x",
                  {"left-right-delimiter 6..6 invalid \\left delimiter [] - {left-delimited group@0..6}"}},
        ParseCase{"bad_left_in_environment",
                  "\\begin{matrix}\\left x\\end{matrix} y",
                  {"left-right-delimiter 20..20 invalid \\left delimiter [] - {left-delimited group@14..20, "
                   "environment body@14..20}"}},
        // Ranks: the unknown command (1), then the argument failure and the
        // text script (2), then the raw failure (4), found first.
        ParseCase{"ranks_sort_stably",
                  "\\foo {x_} {\\bar} \\text{a^b}",
                  {"unknown-command 0..4 Unknown command: \\foo [] - {}",
                   "argument-validation 15..16 found '}' expected mandatory argument in command argument at 15..15 "
                   "[] - {}",
                   "text-script-error 24..25 Scripted syntax is not allowed in Text mode [] - {}",
                   "raw-expected-found 8..9 Missing subscript content [subscript content] } {}"},
                  reject_unknown()}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

// Many diagnostics of mixed ranks: every one converted, in rank order, equal
// ranks in the order found.
TEST(ConvertedDiagnosticsOrder, ManyOfMixedRanks) {
    struct Case {
        const char* unit;
        std::size_t repeats;
    };
    const std::vector<Case> cases = {{"\\foo {x_} ", 3}, {"\\foo {x_} ", 3000}, {"{x_} \\foo ", 2500}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.unit) + " x" + std::to_string(c.repeats));
        std::string source;
        for (std::size_t i = 0; i < c.repeats; ++i) source += c.unit;
        ParseOutcome out = parse_source(default_context(), source, reject_unknown());
        ASSERT_EQ(out.diagnostics.size(), 2 * c.repeats);
        for (std::size_t i = 0; i < out.diagnostics.size(); ++i) {
            const std::optional<K> want = i < c.repeats ? K::UnknownCommand : K::RawExpectedFound;
            ASSERT_EQ(out.diagnostics[i].kind, want) << i;
            if (i > 0 && i != c.repeats) {
                ASSERT_LT(out.diagnostics[i - 1].span.start, out.diagnostics[i].span.start) << i;
            }
        }
    }
}

// The spans and contexts the grammar's rules state for their own failures:
// the fault itself, not the first token of the construct around it.
ParseConfig aborting() {
    ParseConfig c;
    c.abort_on_error = true;
    return c;
}

INSTANTIATE_TEST_SUITE_P(
    StatedSpans, ConvertedDiagnostics,
    ::testing::Values(
        // Environments: the missing \end at the point after the body, a mismatch
        // at the \end{...} marker, an unknown environment at its header.
        ParseCase{"missing_closing_at_end",
                  "\\begin{a}x",
                  {"- 10..10 Environment a missing closing \\end{a} [] - {}"}},
        ParseCase{"missing_closing_before_brace",
                  "{\\begin{a}x}",
                  {"- 11..11 Environment a missing closing \\end{a} [] - {}"}},
        ParseCase{"end_name_mismatch",
                  "\\begin{a}x\\end{b}",
                  {"environment-name-mismatch 10..17 Environment name mismatch: expected \\end{a}, found \\end{b} "
                   "[\\end{a}] \\end{b} {}"}},
        ParseCase{"unknown_environment",
                  "\\begin{foo}x\\end{foo}",
                  {"unknown-environment 0..11 Unknown environment: foo [] - {}"},
                  reject_unknown()},
        // \left...\right: a missing delimiter at the point where it was expected,
        // a missing \right from \left to the content's end; each in the group's
        // context.
        ParseCase{"bad_left",
                  "\\left x",
                  {"left-right-delimiter 6..6 invalid \\left delimiter [] - {left-delimited group@0..6}"}},
        ParseCase{"missing_right_at_end",
                  "\\left( x",
                  {"left-right-delimiter 0..8 missing \\right for \\left-delimited group [] - {left-delimited "
                   "group@0..8}"}},
        ParseCase{"missing_right_in_braces",
                  "{\\left( x}",
                  {"left-right-delimiter 1..9 missing \\right for \\left-delimited group [] - {left-delimited "
                   "group@1..9}"}},
        ParseCase{"bad_right_at_end",
                  "\\left( x \\right",
                  {"left-right-delimiter 15..15 invalid \\right delimiter [] - {left-delimited group@0..15}"}},
        ParseCase{"missing_right_aborting",
                  "\\left( x",
                  {"left-right-delimiter 0..8 missing \\right for \\left-delimited group [] - {left-delimited "
                   "group@0..8}"},
                  aborting()},
        // Scripts: from the second marker to the end of its operand, or over the
        // primes; a missing operand at the token that cannot start one.
        ParseCase{"double_subscripts",
                  "x_1_2",
                  {"- 3..5 Double subscripts: use braces to clarify [] - {}"}},
        ParseCase{"double_subscripts_after_base",
                  "a+x_1_2",
                  {"- 5..7 Double subscripts: use braces to clarify [] - {}"}},
        ParseCase{"double_exponent",
                  "x^2^3",
                  {"- 3..5 Double exponent: use braces to clarify [] - {}"}},
        ParseCase{"prime_after_exponent",
                  "x^2'",
                  {"- 3..4 Prime causes double exponent: use braces to clarify [] - {}"}},
        ParseCase{"third_prime_run",
                  "x' ' '",
                  {"- 5..6 Prime causes double exponent: use braces to clarify [] - {}"}},
        ParseCase{"missing_operand_at_end",
                  "x_",
                  {"raw-expected-found 2..2 Missing subscript content [subscript content] - {}"}},
        // The recorded operand failure and the run's own read alike: one is reported.
        ParseCase{"missing_operand_aborting",
                  "x_",
                  {"raw-expected-found 2..2 Missing subscript content [subscript content] - {}"},
                  aborting()},
        ParseCase{"missing_operand_before_brace",
                  "{x^ }",
                  {"raw-expected-found 4..5 Missing superscript content [superscript content] } {}"}},
        // A token no atom accepts, an infix command met twice, an infix
        // argument, a script marker in text, an unknown command, stray tokens.
        ParseCase{"no_atom",
                  "{a # b}",
                  {"- 3..4 expected atom or script marker [] - {}"}},
        ParseCase{"ambiguous_infix",
                  "a \\over b \\atop c",
                  {"ambiguous-infix 10..10 Ambiguous use of \\atop [] - {}"}},
        ParseCase{"infix_argument",
                  "a \\above b",
                  {"argument-validation 9..10 invalid dimension [] - {infix command argument@9..10}"}},
        ParseCase{"text_script",
                  "\\text{x^2}",
                  {"text-script-error 7..8 Scripted syntax is not allowed in Text mode [] - {}"}},
        ParseCase{"unknown_command",
                  "a \\foo b",
                  {"unknown-command 2..6 Unknown command: \\foo [] - {}"},
                  reject_unknown()},
        ParseCase{"stray_brace",
                  "a}",
                  {"raw-expected-found 1..2 found '}' expected something else, or end of input [something else, end "
                   "of input] } {}"}},
        ParseCase{"stray_dollar",
                  "a $",
                  {"unexpected-math-shift 2..3 Unexpected $ inside a math formula [] $ {}"}}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

// ---- One failure converted -------------------------------------------------------------------

struct ConvertCase {
    const char* name;
    std::string source;
    ParseFailure failure;
    std::string diagnostic;  // diag_full
    int rank;
};

void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.source; }

class ConvertOne : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertOne, Supplements) {
    const ConvertCase& c = GetParam();
    const TokenStream tokens = std::get<TokenStream>(build_token_stream(c.source));
    RankedDiagnostic r = convert_diagnostic(default_context(), c.source, tokens, c.failure);
    EXPECT_EQ(diag_full(r.diagnostic), c.diagnostic);
    EXPECT_EQ(r.rank, c.rank);
}

ParseFailure raw(Span span, std::optional<OwnedToken> found, std::optional<K> kind = K::RawExpectedFound) {
    ParseFailure f = ParseFailure::expected_found(span, {Pattern::label("text")}, std::move(found));
    f.kind = kind;
    return f;
}
ParseFailure custom(Span span, std::string message, std::optional<K> kind) {
    ParseFailure f = ParseFailure::custom(span, std::move(message));
    f.kind = kind;
    return f;
}
OwnedToken token(TokenKind kind) { return OwnedToken::simple(kind); }
OwnedToken control(std::string name) { return OwnedToken::control_seq(std::move(name)); }

ParseFailure with_direct(ParseFailure f) {
    f.at_source(f.span);
    return f;
}
ParseFailure with_left_context(ParseFailure f) {
    return std::move(f).with_context("left-delimited group", Span{0, 3});
}

INSTANTIATE_TEST_SUITE_P(
    Diagnostics, ConvertOne,
    ::testing::Values(
        // An environment of one mode: found at the `}` of its header...
        ConvertCase{"mode_at_header_close", "\\begin{matrix}x", raw({13, 14}, token(TokenKind::RBrace)),
                    "raw-expected-found 0..14 Environment matrix is not allowed in text mode [] - {}", 4},
        ConvertCase{"mode_after_header_close", "\\begin{matrix}x", raw({10, 14}, token(TokenKind::Char)),
                    "raw-expected-found 0..14 Environment matrix is not allowed in text mode [] - {}", 4},
        // ... or, for a failure at the start, the first such header.
        ConvertCase{"mode_from_start", "\\begin{a}\\begin{matrix}", raw({0, 6}, control("begin")),
                    "raw-expected-found 9..23 Environment matrix is not allowed in text mode [] - {}", 4},
        // A header holding another token ends the scan.
        ConvertCase{"mode_scan_ended", "\\begin{a b}\\begin{matrix}", raw({0, 6}, control("begin")),
                    "raw-expected-found 0..6 found '\\begin' expected text [text] \\begin {}", 4},
        ConvertCase{"mode_not_with_direct", "\\begin{matrix}x", with_direct(raw({13, 14}, token(TokenKind::RBrace))),
                    "raw-expected-found 13..14 found '}' expected text [text] } {}", 4},
        // A mismatched \end located at its `}`.
        ConvertCase{"mismatch_at_end_close", "\\begin{a}x\\end{b}",
                    raw({16, 17}, token(TokenKind::RBrace), K::EnvironmentNameMismatch),
                    "environment-name-mismatch 10..17 Environment name mismatch: expected \\end{a}, found \\end{b} "
                    "[\\end{a}] \\end{b} {}",
                    2},
        ConvertCase{"mismatch_skips_passed_end", "\\begin{a}\\end{c}\\end{b}",
                    raw({22, 23}, token(TokenKind::RBrace), K::EnvironmentNameMismatch),
                    "environment-name-mismatch 16..23 Environment name mismatch: expected \\end{a}, found \\end{b} "
                    "[\\end{a}] \\end{b} {}",
                    2},
        // A failure at \begin reads as an unknown environment, named.
        ConvertCase{"unknown_environment_named", "x\\begin{foo}y", raw({1, 7}, control("begin"), std::nullopt),
                    "unknown-environment 8..11 Unknown environment: foo [] - {}", 1},
        ConvertCase{"known_environment_not_named", "x\\begin{matrix}y", raw({1, 7}, control("begin"), std::nullopt),
                    "unknown-environment 1..7 found '\\begin' expected text [text] \\begin {}", 1},
        // The first bad \left of the source supplies the contexts.
        ConvertCase{"left_contexts", "\\begin{matrix}\\left x\\end{matrix}\\left y",
                    custom({50, 51}, "invalid \\left delimiter", K::LeftRightDelimiter),
                    "left-right-delimiter 50..51 invalid \\left delimiter [] - {left-delimited group@14..21, "
                    "environment body@14..21}",
                    1},
        ConvertCase{"left_context_kept", "\\left x", with_left_context(custom({6, 7}, "invalid \\left delimiter",
                                                                             K::LeftRightDelimiter)),
                    "left-right-delimiter 6..7 invalid \\left delimiter [] - {left-delimited group@0..3}", 1},
        ConvertCase{"left_all_valid", "\\left( x \\right", custom({9, 15}, "invalid \\right delimiter",
                                                                  K::LeftRightDelimiter),
                    "left-right-delimiter 9..15 invalid \\right delimiter [] - {}", 1},
        // An argument failure at a command covers the argument group after it.
        ConvertCase{"argument_bracket_group", "\\sqrt [a{]}] x", custom({0, 5}, "bad", K::ArgumentValidation),
                    "argument-validation 6..12 bad [] - {}", 2},
        ConvertCase{"argument_brace_group", "\\frac{a{b}c}", custom({0, 5}, "bad", K::ArgumentValidation),
                    "argument-validation 5..12 bad [] - {}", 2},
        ConvertCase{"argument_not_at_command", "x{a}", custom({0, 1}, "bad", K::ArgumentValidation),
                    "argument-validation 0..1 bad [] - {}", 2},
        ConvertCase{"argument_unclosed", "\\frac{a", custom({0, 5}, "bad", K::ArgumentValidation),
                    "argument-validation 0..5 bad [] - {}", 2}),
    [](const ::testing::TestParamInfo<ConvertCase>& info) { return std::string(info.param.name); });

// The indexed percent test agrees with a plain scan of every slice: the
// backslash run a slice starts in counts from the slice's start only.
TEST(SourceFactsPercent, AgreesWithTheScanOfEverySlice) {
    for (const std::string source : {"a%b", "\\%x%", "\\\\%", "\\\\\\%\\%%", "x\\\\\\\\%y\\\\%", "%\\", "\\\\\\"}) {
        const TokenStream tokens = std::get<TokenStream>(build_token_stream(source));
        SourceFacts facts(default_context(), source, tokens);
        for (std::size_t start = 0; start <= source.size(); ++start) {
            for (std::size_t end = start; end <= source.size() + 1; ++end) {
                const bool expected = has_unescaped_percent(std::string_view(source).substr(start, end - start));
                EXPECT_EQ(facts.has_unescaped_percent_in(start, end), expected) << source << " " << start << ".." << end;
            }
        }
    }
}

}  // namespace
}  // namespace quorvel::parse
