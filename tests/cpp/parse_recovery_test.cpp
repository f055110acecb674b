// Error recovery of content items: which failures become Error nodes, what
// they cover, what they record, and the helpers the recovery words and skips
// with.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "parse/grammar/arguments.hpp"
#include "parse/grammar/recovery.hpp"
#include "parse_recovery_support.hpp"
#include "parse_work.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::repeat;
using testing::parse_and_show;

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
ParseConfig max_depth(std::size_t depth) {
    ParseConfig c;
    c.max_group_depth = depth;
    return c;
}

struct Case {
    const char* name;
    std::string source;
    std::string tree;  // "" when no document is expected
    std::vector<std::string> diagnostics;
    ParseConfig config = {};
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.source; }

class Recovery : public ::testing::TestWithParam<Case> {};

TEST_P(Recovery, TreeAndDiagnostics) {
    const Case& c = GetParam();
    const auto got = parse_and_show(c.source, c.config);
    EXPECT_EQ(got.tree, c.tree);
    EXPECT_EQ(got.diagnostics, c.diagnostics);
}

std::string name_of(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Skips, Recovery,
    ::testing::Values(
        // An unknown command that fails where the item starts is skipped alone.
        Case{"unknown_command_alone", "a \\foo b", "math[a !\"Unknown command: \\foo\"|\"\\foo\"! b]",
             {"unknown-command 2..6 Unknown command: \\foo"}, reject_unknown()},
        Case{"unknown_command_then_group", "\\foo{x}", "math[!\"Unknown command: \\foo\"|\"\\foo\"! {x}]",
             {"unknown-command 0..4 Unknown command: \\foo"}, reject_unknown()},
        Case{"unknown_command_in_text", "\\text{a \\foo b}",
             "math[\\text{T<\"a \" !\"Unknown command: \\foo\"|\"\\foo\"! \" b\">}]",
             {"unknown-command 8..12 Unknown command: \\foo"}, reject_unknown()},
        // Otherwise up to the next hard stop of the mode.
        Case{"math_up_to_brace", "{a # b} c", "math[{a !\"expected atom or script marker\"|\"# b\"!} c]",
             {"- 3..4 expected atom or script marker"}},
        Case{"math_up_to_end", "\\begin{matrix}# a\\end{matrix}",
             "math[\\begin{matrix}<!\"expected atom or script marker\"|\"# a\"!>]",
             {"- 14..15 expected atom or script marker"}},
        // White space skipped before the stop belongs to the Error.
        Case{"math_up_to_right", "\\left( # \\right)",
             "math[\\left( !\"expected atom or script marker\"|\"# \"! \\right)]",
             {"- 7..8 expected atom or script marker"}},
        Case{"text_script", "\\text{a^b}",
             "math[\\text{T<\"a\" !\"Scripted syntax is not allowed in Text mode\"|\"^b\"!>}]",
             {"text-script-error 7..8 Scripted syntax is not allowed in Text mode"}},
        Case{"text_script_up_to_dollar", "\\text{a^b $c$ d}",
             "math[\\text{T<\"a\" !\"Scripted syntax is not allowed in Text mode\"|\"^b \"! $c$ \" d\">}]",
             {"text-script-error 7..8 Scripted syntax is not allowed in Text mode"}},
        Case{"text_no_alternative", "\\text{a & b}",
             "math[\\text{T<\"a \" !\"found '&' expected something else, text, '$', (, '{', or '~'\"|\"& b\"!>}]",
             {"raw-expected-found 8..9 found '&' expected something else, text, '$', (, '{', or '~'"}},
        // A command of the other mode takes its argument groups whole, so a
        // `$` or `}` inside them does not stop the skip.
        Case{"wrong_mode_groups", "\\text{\\frac{a}{$} c} d",
             "math[\\text{T<!\"Command \\frac is not allowed in text mode\"|\"\\frac{a}{$} c\"!>} d]",
             {"command-mode-error 6..11 Command \\frac is not allowed in text mode"}},
        Case{"wrong_mode_bracket", "\\text{\\sqrt[3]{x} y} z",
             "math[\\text{T<!\"Command \\sqrt is not allowed in text mode\"|\"\\sqrt[3]{x} y\"!>} z]",
             {"command-mode-error 6..11 Command \\sqrt is not allowed in text mode"}},
        // A `{` the skip takes opens a level, and the `}` that closes it is
        // skipped text, not the end of the content around it.
        Case{"skip_closes_its_braces", "\\frac{a}",
             "math[!\"found end of input expected mandatory argument in command argument at 8..8\"|\"\\frac{a}\"!]",
             {"argument-validation 8..8 found end of input expected mandatory argument in command argument at 8..8"}},
        Case{"skip_closes_nested_braces", "\\stackrel{S_{n}}",
             "math[!\"found end of input expected mandatory argument in command argument at 16..16\"|"
             "\"\\stackrel{S_{n}}\"!]",
             {"argument-validation 16..16 found end of input expected mandatory argument in command argument at "
              "16..16"}},
        Case{"skip_takes_later_groups", "B I_{1}_{1}",
             "math[B !\"Double subscripts: use braces to clarify\"|\"I_{1}_{1}\"!]",
             {"- 7..11 Double subscripts: use braces to clarify"}},
        Case{"skip_takes_environment_groups", "\\begin{array}{x}a\\end{array}",
             "math[!\"Illegal pream-token (x)\"|\"\\begin{array}{x}a\\end{array}\"!]",
             {"argument-validation 13..16 Illegal pream-token (x)"}},
        Case{"ambiguous_infix_in_group", "{a \\over b \\atop c} x",
             "math[!\"Ambiguous use of \\atop\"|\"{a \\over b \\atop c} x\"!]",
             {"ambiguous-infix 11..11 Ambiguous use of \\atop"}},
        Case{"infix_right_operand_in_group", "{a \\over #} c",
             "math[!\"expected atom or script marker\"|\"{a \\over #} c\"!]",
             {"- 9..10 expected atom or script marker"}},
        Case{"text_skip_closes_its_braces", "\\text{a^{b} c} d",
             "math[\\text{T<\"a\" !\"Scripted syntax is not allowed in Text mode\"|\"^{b} c\"!>} d]",
             {"text-script-error 7..8 Scripted syntax is not allowed in Text mode"}},
        // Other hard stops still end the skip inside an open level.
        Case{"dollar_inside_level", "\\text{a^{b $c$} d}",
             "math[\\text{T<\"a\" !\"Scripted syntax is not allowed in Text mode\"|\"^{b \"! $c$ "
             "!\"Scripted syntax is not allowed in Text mode\"|\"} d\"!>}]",
             {"text-script-error 7..8 Scripted syntax is not allowed in Text mode",
              "raw-expected-found 14..15 found '}' expected end of input"}},
        // An environment item whose failure lies inside its body takes its
        // \end when that environment is the innermost open at the failure.
        Case{"environment_body_failure", "\\begin{matrix}\\left x\\end{matrix} y",
             "math[!\"invalid \\left delimiter\"|\"\\begin{matrix}\\left x\\end{matrix}\"! y]",
             {"left-right-delimiter 20..20 invalid \\left delimiter"}},
        // The `\(` read inside the groups meets the depth limit, the one read
        // again after the skip left them does not: its content's end, kept
        // from the first reading, does not hold for the second.
        Case{"paren_content_at_another_depth", "\\text{{{$$\\({\\right}}\\right}}",
             "math[\\text{!\"Command \\right is not allowed in text mode\"|\"{{$$\\({\\right}}\\right}\"!}]",
             {"command-mode-error 21..27 Command \\right is not allowed in text mode",
              "- 21..21 content recovery must consume at least one token",
              "command-mode-error 13..19 Command \\right is not allowed in text mode",
              "- 13..13 content recovery must consume at least one token"},
             max_depth(2)}),
    name_of);

// An optional scalar argument that does not match is not there, and what its
// reading met is forgotten: the item after the `[` fails on its own terms.
INSTANTIATE_TEST_SUITE_P(
    UnmatchedOptional, Recovery,
    ::testing::Values(
        Case{"unknown_command_after_bracket", "\\\\[\\y]",
             "math[\\\\{}- [ !\"Unknown command: \\y\"|\"\\y\"! ]]",
             {"unknown-command 3..5 Unknown command: \\y"}, reject_unknown()},
        Case{"unknown_command_after_bracket_in_group", "x^{\\\\[\\y]b}",
             "math[x^{\\\\{}- [ !\"Unknown command: \\y\"|\"\\y\"! ] b}]",
             {"unknown-command 6..8 Unknown command: \\y"}, reject_unknown()},
        Case{"no_atom_after_bracket", "\\\\[#]",
             "math[\\\\{}- [ !\"expected atom or script marker\"|\"#]\"!]",
             {"- 3..4 expected atom or script marker"}}),
    name_of);

INSTANTIATE_TEST_SUITE_P(
    NotRecovered, Recovery,
    ::testing::Values(
        // A hard stop after the item's white space: the failure goes to the
        // enclosing construct, here the top level.
        Case{"stray_brace", "a}", "", {"raw-expected-found 1..2 found '}' expected something else, or end of input"}},
        Case{"aborting", "{a # b}", "", {"- 3..4 expected atom or script marker"}, abort_on_error()},
        // \right ends the skip inside an open level too; the `}` after it
        // is then stray.
        Case{"right_inside_level", "\\left( # {b \\right) c}", "",
             {"- 7..8 expected atom or script marker",
              "raw-expected-found 21..22 found '}' expected something else, or end of input"}},
        // A `}` the skip did not open is a hard stop: here stray.
        Case{"stray_brace_after_skip", "a # {b} c} d", "",
             {"- 2..3 expected atom or script marker",
              "raw-expected-found 9..10 found '}' expected something else, or end of input"}},
        // In text, where \right is no hard stop, an item at \right records its
        // failure and then cannot consume anything.
        Case{"right_in_text",
             "\\text{\\right}",
             "math[\\text{!\"Command \\right is not allowed in text mode\"|\"\\right\"!}]",
             {"command-mode-error 6..12 Command \\right is not allowed in text mode",
              "- 6..12 content recovery must consume at least one token"}},
        // A raw failure at \right re-reads the item for a bad \left, here one
        // that text mode skipped as a command.
        Case{"invalid_left_found_at_right",
             "{\\text{\\left x}\\right)}",
             "",
             {"left-right-delimiter 13..14 invalid \\left delimiter",
              "raw-expected-found 15..21 found '\\right' expected something else, or end of input"}}),
    name_of);

// A merged superscript keeps the failures of its parts.
TEST(RecoveryInScripts, MergedSuperscriptKeepsItsDiagnostic) {
    const auto got = parse_and_show("x'^{\\frac{a^}{b}}");
    EXPECT_EQ(got.tree, "math[x^<'1 {\\frac{<!\"Missing superscript content\"|\"a^\"!>}{<b>}}>]");
    EXPECT_EQ(got.diagnostics, std::vector<std::string>{"raw-expected-found 12..12 Missing superscript content"});
}

// ---- Helpers ----------------------------------------------------------------------------

TokenStream lex(std::string_view source) { return std::get<TokenStream>(build_token_stream(source)); }

struct StackCase {
    std::string source;
    std::size_t offset;
    std::vector<std::string> stack;
};

class EnvironmentStack : public ::testing::TestWithParam<StackCase> {};

TEST_P(EnvironmentStack, OpenBeforeOffset) {
    const StackCase& c = GetParam();
    const TokenStream tokens = lex(c.source);
    grammar::EnvironmentIndex index(tokens.tokens.data(), tokens.tokens.size());
    EXPECT_EQ(index.stack_before(c.offset), c.stack) << c.source << " @" << c.offset;
}

INSTANTIATE_TEST_SUITE_P(
    Recovery, EnvironmentStack,
    ::testing::Values(StackCase{"", 0, {}}, StackCase{"\\begin{a}\\begin{b}x", 19, {"a", "b"}},
                      StackCase{"\\begin{a}\\begin{b}x", 9, {"a"}}, StackCase{"\\begin{a}\\begin{b}x", 0, {}},
                      // An \end removes the topmost entry of its name and all above it.
                      StackCase{"\\begin{a}\\begin{b}\\begin{c}\\end{b}x", 34, {"a"}},
                      // An \end of no open name changes nothing.
                      StackCase{"\\begin{a}\\end{z}x", 17, {"a"}},
                      StackCase{"\\begin {a}\\begin{a}\\end {a}", 30, {"a"}},
                      // Not headers: a space in the name, an empty name.
                      StackCase{"\\begin{a b}\\begin{}x", 20, {}},
                      // A header cut off by the offset counts with what lies before it.
                      StackCase{"\\begin{ab}", 8, {"a"}}, StackCase{"\\begin{a}\\begin{bc", 17, {"a", "b"}},
                      StackCase{"\\begin{a}\\end{ab}", 15, {}}, StackCase{"\\begin{a b}", 8, {"a"}},
                      StackCase{"\\begin{a}\\begin{", 16, {"a"}}, StackCase{"\\begin{a}x", 100, {"a"}}));

// The logarithmic questions agree with the stack itself at every offset,
// headers cut by the offset and deep unclosed nesting included.
TEST(EnvironmentStack, QuestionsAgreeWithTheStack) {
    std::string deep;
    for (int i = 0; i < 40; ++i) deep += i % 3 == 0 ? "\\begin{a}x\\end{b}" : i % 3 == 1 ? "\\begin{b}" : "\\end{a}";
    const std::vector<std::string> sources = {
        "\\begin{a}\\begin{b}\\begin{c}\\end{b}x\\end{a}",
        "\\begin{a}\\begin{b}\\begin{a}\\end{a}\\end{ab}\\end{a}",
        "\\begin {ab}\\begin{a}\\end {a}\\end{abc}",
        "\\begin{a}\\begin{b}\\end{bc",
        "\\begin{a b}\\begin{}\\end{a}x",
        deep};
    const std::vector<std::string> names = {"a", "b", "c", "ab", "abc", "bc", "z"};
    for (const std::string& source : sources) {
        const TokenStream tokens = lex(source);
        grammar::EnvironmentIndex index(tokens.tokens.data(), tokens.tokens.size());
        for (std::size_t offset = 0; offset <= source.size() + 1; ++offset) {
            const std::vector<std::string> stack = index.stack_before(offset);
            for (const std::string& name : names) {
                const bool open = std::find(stack.begin(), stack.end(), name) != stack.end();
                const bool innermost = !stack.empty() && stack.back() == name;
                EXPECT_EQ(index.is_open_before(offset, name), open) << source << " @" << offset << " " << name;
                EXPECT_EQ(index.is_innermost_before(offset, name), innermost)
                    << source << " @" << offset << " " << name;
            }
        }
    }
}

struct MismatchCase {
    std::string source;
    std::size_t offset;
    std::string mismatch;  // "expected/found", or "" for none
};

class FirstMismatch : public ::testing::TestWithParam<MismatchCase> {};

TEST_P(FirstMismatch, WalkFromOffset) {
    const MismatchCase& c = GetParam();
    const TokenStream tokens = lex(c.source);
    grammar::EnvironmentIndex index(tokens.tokens.data(), tokens.tokens.size());
    const auto m = index.first_mismatch_from(c.offset);
    EXPECT_EQ(m ? m->expected + "/" + m->found : "", c.mismatch) << c.source << " @" << c.offset;
}

INSTANTIATE_TEST_SUITE_P(
    Recovery, FirstMismatch,
    ::testing::Values(MismatchCase{"\\begin{a}x\\end{b}", 0, "a/b"}, MismatchCase{"\\begin{a}x\\end{a}", 0, ""},
                      // An \end with nothing open is ignored.
                      MismatchCase{"\\end{b}\\begin{a}\\end{c}", 0, "a/c"},
                      MismatchCase{"\\begin{a}\\begin{b}\\end{b}\\end{c}", 0, "a/c"},
                      MismatchCase{"\\begin{a}\\begin{b}\\end{a}", 0, "b/a"},
                      // From inside: what lies before the offset is not seen.
                      MismatchCase{"\\begin{a}\\begin{b}\\end{b}\\end{c}", 9, ""},
                      MismatchCase{"\\begin{a}\\end{a}\\begin{b}\\end{c}", 0, "b/c"},
                      MismatchCase{"\\begin{a}x", 0, ""},
                      // A header cut off by the end of the tokens counts.
                      MismatchCase{"\\begin{a}\\end{b", 0, "a/b"}));

struct NormalizeCase {
    ContentMode mode;
    std::string snippet;
    std::optional<ParseDiagnosticKind> kind;
    std::string message;  // the result
    std::optional<ParseDiagnosticKind> result_kind;
};

class NormalizeRecoveryMessage : public ::testing::TestWithParam<NormalizeCase> {};

TEST_P(NormalizeRecoveryMessage, Rewords) {
    const NormalizeCase& c = GetParam();
    const TokenStream tokens = lex(c.snippet);
    grammar::EnvironmentIndex index(tokens.tokens.data(), tokens.tokens.size());
    auto [message, kind] = grammar::normalize_recovery_message(
        default_context(), c.mode, c.snippet, [&]() -> const grammar::EnvironmentIndex& { return index; }, 0,
        "original", c.kind);
    EXPECT_EQ(message, c.message) << c.snippet;
    EXPECT_EQ(kind, c.result_kind) << c.snippet;
}

using K = ParseDiagnosticKind;
constexpr auto Math = ContentMode::Math;
constexpr auto Text = ContentMode::Text;

INSTANTIATE_TEST_SUITE_P(
    Recovery, NormalizeRecoveryMessage,
    ::testing::Values(
        NormalizeCase{Text, "\\begin{matrix}x\\end{b}", K::RawExpectedFound,
                      "Environment matrix is not allowed in text mode", K::EnvironmentModeError},
        NormalizeCase{Text, " \t\\begin {matrix}", K::RawExpectedFound, "Environment matrix is not allowed in text mode",
                      K::EnvironmentModeError},
        // Only raw failures are reworded.
        NormalizeCase{Text, "\\begin{matrix}", K::UnknownCommand, "original", K::UnknownCommand},
        NormalizeCase{Text, "\\begin{matrix}", std::nullopt, "original", std::nullopt},
        // Known in this mode, or in neither, or not a plain name.
        NormalizeCase{Math, "\\begin{matrix}", K::RawExpectedFound, "original", K::RawExpectedFound},
        NormalizeCase{Text, "\\begin{nothing}", K::RawExpectedFound, "original", K::RawExpectedFound},
        NormalizeCase{Text, "\\begin{mat-rix}", K::RawExpectedFound, "original", K::RawExpectedFound},
        NormalizeCase{Text, "\\begin{matrix", K::RawExpectedFound, "original", K::RawExpectedFound},
        NormalizeCase{Math, "\\begin{a}x\\end{b}", K::RawExpectedFound,
                      "Environment name mismatch: expected \\end{a}, found \\end{b}", K::EnvironmentNameMismatch},
        NormalizeCase{Math, "x\\end{b}\\begin{a}\\end{a}", K::RawExpectedFound, "original", K::RawExpectedFound}));

struct FromErrorCase {
    const char* name;
    bool custom;
    std::optional<ParseDiagnosticKind> kind;
    std::string message;
    std::string result;  // display, kind and span of the recorded failure
};

class RecoveryDiagnosticFromError : public ::testing::TestWithParam<FromErrorCase> {};

TEST_P(RecoveryDiagnosticFromError, KeepsOrReplaces) {
    const FromErrorCase& c = GetParam();
    testing::Harness h("x y");
    grammar::Failure original = c.custom ? grammar::Failure::custom_message(Span{0, 1}, "own")
                                         : grammar::Failure::expected_found(Span{2, 3}, 2, grammar::pattern::kText);
    original.with_context(grammar::pattern::kEnvironmentBody, Span{0, 3});
    grammar::Failure out = grammar::recovery_diagnostic_from_error(original, c.message, c.kind);
    const std::string kind = out.kind ? std::string(parse_diagnostic_kind_name(*out.kind)) : "-";
    EXPECT_EQ(h.in().display(out) + " | " + kind + " " + std::to_string(out.span.start) + ".." +
                  std::to_string(out.span.end),
              c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Recovery, RecoveryDiagnosticFromError,
    ::testing::Values(
        FromErrorCase{"no_kind", true, std::nullopt, "other", "own in environment body at 0..3 | - 0..1"},
        FromErrorCase{"same_message", true, K::UnknownCommand, "own", "own in environment body at 0..3 | unknown-command 0..1"},
        FromErrorCase{"other_message", true, K::EnvironmentModeError, "reworded", "reworded | environment-mode-error 0..1"},
        FromErrorCase{"raw_kept", false, K::RawExpectedFound, "m",
                      "found 'y' expected text in environment body at 0..3 | raw-expected-found 2..3"},
        FromErrorCase{"mismatch_kept", false, K::EnvironmentNameMismatch, "m",
                      "found 'y' expected text in environment body at 0..3 | environment-name-mismatch 2..3"},
        FromErrorCase{"unclosed_math_kept", false, K::UnclosedInlineMath, "m",
                      "found 'y' expected text in environment body at 0..3 | unclosed-inline-math 2..3"},
        FromErrorCase{"raw_replaced", false, K::EnvironmentModeError, "reworded",
                      "reworded | environment-mode-error 2..3"}),
    [](const ::testing::TestParamInfo<FromErrorCase>& info) { return std::string(info.param.name); });

struct InvalidLeftCase {
    std::string source;
    std::size_t start;
    std::size_t end;
    std::string span;  // "" for no result
};

class InvalidLeft : public ::testing::TestWithParam<InvalidLeftCase> {};

TEST_P(InvalidLeft, FirstBadDelimiterInRange) {
    const InvalidLeftCase& c = GetParam();
    testing::Harness h(c.source);
    const auto f = h.g().invalid_left_between(c.start, c.end);
    std::string got;
    if (f) {
        got = h.in().display(*f) + " " + std::to_string(f->span.start) + ".." + std::to_string(f->span.end);
        EXPECT_EQ(f->kind, K::LeftRightDelimiter);
    }
    EXPECT_EQ(got, c.span) << c.source;
}

INSTANTIATE_TEST_SUITE_P(
    Recovery, InvalidLeft,
    ::testing::Values(InvalidLeftCase{"\\left x \\right)", 0, 15, "invalid \\left delimiter 6..7"},
                      InvalidLeftCase{"\\left( \\left x", 0, 15, "invalid \\left delimiter 13..14"},
                      InvalidLeftCase{"\\left", 0, 5, "invalid \\left delimiter 0..5"},
                      InvalidLeftCase{"\\left \\{ \\left[ \\left. \\left\\langle x", 0, 40, ""},
                      // Only a \left from the start offset on, and not past the end offset.
                      InvalidLeftCase{"\\left x \\right)", 1, 15, ""},
                      InvalidLeftCase{"a \\left x", 0, 1, ""}, InvalidLeftCase{"\\left  x", 0, 5, ""}));

struct HardStopCase {
    std::string source;
    grammar::HardStop stop;
    bool expected;
};

class HardStopAfterWhitespace : public ::testing::TestWithParam<HardStopCase> {};

TEST_P(HardStopAfterWhitespace, StopsTheSkip) {
    const HardStopCase& c = GetParam();
    testing::Harness h(c.source);
    std::size_t at = 0;
    const SpannedToken* t = h.in().token_after_whitespace(at);
    EXPECT_EQ(t != nullptr && grammar::is_hard_stop(c.stop, t->token), c.expected) << c.source;
}

using grammar::HardStop;
INSTANTIATE_TEST_SUITE_P(
    Recovery, HardStopAfterWhitespace,
    ::testing::Values(HardStopCase{"  }", HardStop::Math, true}, HardStopCase{" ", HardStop::Math, false},
                      HardStopCase{" \\right", HardStop::Math, true}, HardStopCase{" \\right", HardStop::Text, false},
                      HardStopCase{"\\)", HardStop::MathControlParen, true}, HardStopCase{"\\)", HardStop::Math, false},
                      HardStopCase{"$", HardStop::Text, true}, HardStopCase{"]", HardStop::Math, false},
                      HardStopCase{"\\ends", HardStop::Text, false}));

struct HeaderCase {
    std::string source;
    std::size_t limit;  // tokens
    std::optional<std::size_t> close;
    std::string name;
};

class EnvironmentHeaderTokens : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(EnvironmentHeaderTokens, ReadWithinTheLimit) {
    const HeaderCase& c = GetParam();
    testing::Harness h(c.source);
    const auto header = grammar::read_environment_header(h.in().token_at(0), 0, c.limit);
    ASSERT_EQ(header.has_value(), c.close.has_value()) << c.source;
    if (!header) return;
    EXPECT_EQ(header->close, *c.close) << c.source;
    EXPECT_EQ(header->name, c.name) << c.source;
}

INSTANTIATE_TEST_SUITE_P(
    Recovery, EnvironmentHeaderTokens,
    ::testing::Values(HeaderCase{"\\begin {a*}x", 7, 5, "a*"}, HeaderCase{"\\end{ab}", 5, 4, "ab"},
                      // Cut by the limit after the name began: the limit stands for the `}`.
                      HeaderCase{"\\end{ab}", 4, 4, "ab"}, HeaderCase{"\\end{ab}", 2, std::nullopt, ""},
                      HeaderCase{"\\end{a b}", 6, std::nullopt, ""}, HeaderCase{"\\end{}", 3, std::nullopt, ""},
                      HeaderCase{"\\end x", 3, std::nullopt, ""}));

TEST(EnvironmentMarker, ConsumeTakesAllOrNothing) {
    testing::Harness good("\\end{a}x");
    EXPECT_TRUE(grammar::consume_environment_marker(good.in(), "end"));
    EXPECT_EQ(good.in().pos(), 4u);

    testing::Harness bad("\\end{a x");
    EXPECT_FALSE(grammar::consume_environment_marker(bad.in(), "end"));
    EXPECT_EQ(bad.in().pos(), 0u);
    EXPECT_FALSE(bad.in().alt());
}

// ---- Robustness ----------------------------------------------------------------------------

// Nesting without the group-depth limit ends in order: a document or the
// nesting diagnostic.
TEST(RecoveryRobustness, DeepEnvironmentsAndLeftGroupsEndCleanly) {
    const std::size_t n = 100000;
    testing::OneStackSegment budget;
    for (const auto& [open, close] : {std::pair{"\\begin{matrix}", "\\end{matrix}"}, std::pair{"\\left(", "\\right)"}}) {
        const std::string source = repeat(open, n) + "x" + repeat(close, n);
        ParseOutcome out = parse_source(default_context(), source, {});
        if (!out.document) {
            ASSERT_EQ(out.diagnostics.size(), 1u);
            EXPECT_EQ(out.diagnostics[0].kind, K::MaxGroupDepthExceeded);
        }
        // Unclosed: the same, and no hang.
        out = parse_source(default_context(), repeat(open, n) + "x", {});
        EXPECT_FALSE(out.diagnostics.empty());
    }
}

// A caller's command with a text slot, in each argument form: the skip of a
// failed item before it takes the slot whole, `$` and all, and goes on past
// it, so the item's one Error node covers everything to the end.
struct CallerSlotCase {
    const char* name;
    const char* argspec;  // of `\cmd`
    const char* source;
};

void PrintTo(const CallerSlotCase& c, std::ostream* os) { *os << c.argspec << ": " << c.source; }

class CallerTextSlots : public ::testing::TestWithParam<CallerSlotCase> {};

TEST_P(CallerTextSlots, SkipTakesTheSlotWhole) {
    const CallerSlotCase& c = GetParam();
    ParseContextBuilder builder;
    builder.item(ContextItem::command(CommandItem{"cmd", c.argspec, {}, 0, knowledge::AllowedMode::Math}));
    const auto context = builder.build().value();
    const ParseOutcome out = parse_source(*context, c.source, {});
    ASSERT_TRUE(out.document);
    EXPECT_EQ(out.diagnostics.size(), 1u);
    const auto errors = out.document->errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].error_parts()->second, c.source);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CallerTextSlots,
    ::testing::Values(CallerSlotCase{"star", "s m:T", "#\\cmd*{a $x$ b} c"},
                      CallerSlotCase{"star_absent", "s m:T", "#\\cmd{a $x$ b} c"},
                      CallerSlotCase{"braced_group", "m{}:T", "#\\cmd{a $x$ b} c"},
                      CallerSlotCase{"optional_group", "g:T", "#\\cmd{a $x$ b} c"},
                      CallerSlotCase{"paired", "r<(,)><|,|>:T", "#\\cmd(a $x$ b) c"},
                      CallerSlotCase{"paired_second", "r<(,)><[,]>:T", "#\\cmd[a $x$ b] c"},
                      CallerSlotCase{"delimited", "r():T", "#\\cmd(a $x$ b) c"}),
    [](const auto& info) { return std::string(info.param.name); });

// Many failed items: the recovery scans are indexed, so the work grows
// linearly with the formula.
TEST(RecoveryRobustness, ManyRecoveriesTakeLinearTime) {
    auto run = [](std::size_t n) {
        const std::string source = repeat("{\\foo}\\begin{matrix}\\end{matrix}", n) + "}" + repeat("\\foo}", n);
        ParseOutcome out = parse_source(default_context(), source, reject_unknown());
        const testing::Work work = testing::last_work();
        EXPECT_FALSE(out.document);
        EXPECT_EQ(out.diagnostics.size(), n + 1);
        std::set<std::string> distinct;
        for (const auto& d : out.diagnostics) distinct.insert(testing::diag_full(d));
        EXPECT_EQ(distinct.size(), out.diagnostics.size());
        return work;
    };
    // About 100,000 tokens for the larger run.
    const testing::Work small = run(1600);
    EXPECT_EQ(testing::work_fault(small, run(12800)), "");
}

// Unclosed groups nested in segments that close one level each. The skip of
// a failed item takes the `}` of every group it opened, so it runs to the end
// of input at each level and the formula keeps one Error node; the kept skip
// stops keep the levels from reading the rest again, and beyond the depth
// limit a budget would end such a parse as nesting too deep.
std::string unclosed_segments(std::size_t segments) {
    return std::string(8, '{') + "{}^{ " + repeat("{{{{{{}", segments) + "{{{{{{";
}

TEST(RecoveryRobustness, RereadAfterSkipStaysFast) {
    const auto got = parse_and_show(unclosed_segments(20));
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
    EXPECT_EQ(got.tree,
              "math[!\"found end of input expected something else, or '}'\"|\"" + unclosed_segments(20) + "\"!]");
    EXPECT_EQ(got.diagnostics, (std::vector<std::string>{"raw-expected-found 159..159 Unclosed { ... } group"}));
    // Found by fuzzing: took seconds when every level read the rest again.
    const auto fuzzed = parse_and_show("{{{{{{{{h{{i { 1 m } ^{ " + repeat("{", 15) + "}" + repeat("{", 21) + "}" +
                                       repeat("{", 15));
    EXPECT_FALSE(fuzzed.diagnostics.empty());
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
}

TEST(RecoveryRobustness, RereadBeyondDepthLimitStaysFast) {
    ParseOutcome out = parse_source(default_context(), unclosed_segments(300), {});
    EXPECT_EQ(testing::work_fault(testing::last_work()), "");
    EXPECT_TRUE(out.document);
    ASSERT_EQ(out.diagnostics.size(), 1u);
    EXPECT_EQ(out.diagnostics[0].message, "Unclosed { ... } group");
}

}  // namespace
}  // namespace quorvel::parse
