// Text content, driven through the text group parser directly.
#include <gtest/gtest.h>

#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using testing::Harness;
using testing::spans;
using testing::tree;

struct TextCase {
    const char* name;
    std::string source;
    std::string tree;
    std::string spans;         // "" to leave unchecked
    std::size_t stop = 0;      // the token index the content stops at; 0: the end
};

class TextContent : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextContent, ReadsItemsUpToTheStop) {
    const TextCase& c = GetParam();
    Harness h(c.source);
    grammar::TrackedNode out;
    ASSERT_TRUE(h.g().text_group(out)) << h.failure_text();
    EXPECT_EQ(tree(out.node), c.tree);
    if (!c.spans.empty()) {
        EXPECT_EQ(spans(out), c.spans);
    }
    EXPECT_EQ(h.in().pos(), c.stop == 0 ? h.in().token_count() : c.stop);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextContent,
    ::testing::Values(TextCase{"spaces_collapse", "a  b", "T<\"a b\">", "0..4[0..4]", 0},
                      TextCase{"space_runs_collapse", "a \n b", "T<\"a b\">", "", 0},
                      TextCase{"apostrophe", "f'", "T<\"f'\">", "", 0},
                      TextCase{"primes_become_apostrophes", "it\xE2\x80\x99s''", "T<\"it's''\">", "", 0},
                      TextCase{"brackets_and_star", "[x] a*b", "T<\"[x] a*b\">", "", 0},
                      TextCase{"active_space", "a~b", "T<\"a\" ~ \"b\">", "0..3[0..1 1..2 2..3]", 0},
                      TextCase{"inline_dollar", "$x$", "T<$x$>", "0..3[0..3[1..2]]", 0},
                      TextCase{"inline_paren", "\\(x\\)", "T<$x$>", "0..5[0..5[2..3]]", 0},
                      TextCase{"inline_paren_spaced", "a \\( x^2 \\) b", "T<\"a \" $x^2$ \" b\">", "0..13[0..2 2..11[5..8[5..6 6..8]] 11..13]", 0},
                      TextCase{"escaped_brace", "\\{", "T<{>", "", 0},
                      TextCase{"escaped_ampersand", "a\\&b", "T<\"a\" \\& \"b\">", "0..4[0..1 1..3 3..4]", 0},
                      TextCase{"escaped_dollar_then_digit", "\\$5", "T<$ \"5\">", "", 0},
                      TextCase{"text_braced_group", "a{b c}d", "T<\"a\" T{\"b c\"} \"d\">", "", 0},
                      TextCase{"command_then_space_before_brace", "{\\quad }", "T<T{\\quad}>", "", 0},
                      // White space alone in a group is a space, not an empty group.
                      TextCase{"space_alone_in_group", "a{ }b", "T<\"a\" T{\" \"} \"b\">", "0..5[0..1 1..4[2..3] 4..5]", 0},
                      TextCase{"unknown_command", "\\foo x", "T<\\foo? \" x\">", "", 0},
                      // The content leaves the stop and the white space before it.
                      TextCase{"trailing_space_kept_in_chunk", "a }", "T<\"a \">", "", 2},
                      TextCase{"stops_before_end", "a \\end{x}", "T<\"a \">", "", 2},
                      TextCase{"stops_at_space_before_end", "\\quad \\end", "T<\\quad>", "", 1},
                      // An unclosed \( falls back to an unknown command.
                      TextCase{"unclosed_paren", "\\(x", "T<\\(? \"x\">", "", 0},
                      TextCase{"empty", "", "T<>", "0..0", 0}),
    [](const auto& info) { return info.param.name; });

struct TextFailureCase {
    const char* name;
    std::string source;
    std::string text;  // the kept failure's display
    std::optional<ParseDiagnosticKind> kind;
    std::optional<Span> direct;
};

class TextFailures : public ::testing::TestWithParam<TextFailureCase> {};

TEST_P(TextFailures, FailWithTheItemsFailure) {
    const TextFailureCase& c = GetParam();
    ParseConfig config;
    config.abort_on_error = true;  // the item's own failure, not its recovery
    Harness h(c.source, config);
    grammar::TrackedNode out;
    ASSERT_FALSE(h.g().text_group(out));
    ASSERT_TRUE(h.in().alt());
    const grammar::Failure& f = h.in().alt()->failure;
    EXPECT_EQ(h.in().display(f), c.text);
    EXPECT_EQ(f.kind, c.kind);
    const auto* direct = f.direct();
    EXPECT_EQ(direct && *direct ? std::optional<Span>((*direct)->span) : std::nullopt, c.direct);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextFailures,
    ::testing::Values(
        TextFailureCase{"caret", "x^2", "Scripted syntax is not allowed in Text mode",
                        ParseDiagnosticKind::TextScriptError, Span{1, 2}},
        TextFailureCase{"underscore", "a _", "Scripted syntax is not allowed in Text mode",
                        ParseDiagnosticKind::TextScriptError, Span{2, 3}},
        TextFailureCase{"math_only_command", "\\alpha", "Command \\alpha is not allowed in text mode",
                        ParseDiagnosticKind::CommandModeError, Span{0, 6}},
        // The raw lists below follow what each alternative contributes.
        TextFailureCase{"ampersand", "&", "found '&' expected text, '$', (, '{', something else, or '~'", std::nullopt,
                        std::nullopt},
        TextFailureCase{"unclosed_dollar", "a $x", "found end of input expected something else, or '$'", std::nullopt,
                        std::nullopt},
        TextFailureCase{"hash_after_text", "a #", "found '#' expected something else, text, '$', (, '{', or '~'",
                        std::nullopt, std::nullopt}),
    [](const auto& info) { return info.param.name; });

TEST(TextContentReject, UnknownCommandFailsWhenRejected) {
    ParseConfig config;
    config.reject_unknown = true;
    config.abort_on_error = true;
    Harness h("\\foo", config);
    grammar::TrackedNode out;
    ASSERT_FALSE(h.g().text_group(out));
    EXPECT_EQ(h.failure_text(), "Unknown command: \\foo");
    EXPECT_EQ(h.in().alt()->failure.kind, ParseDiagnosticKind::UnknownCommand);
}

TEST(TextChunkJoiner, CollapsesOnlySingleSpacePieces) {
    grammar::TextChunkJoiner j;
    for (std::string_view piece : {" ", " ", "x", " ", "  ", " "}) j.add(piece);
    EXPECT_EQ(j.take(), " x    ");
}

}  // namespace
}  // namespace quorvel::parse
