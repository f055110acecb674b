// Math content through the whole parse road: atoms, scripts and primes,
// braced groups and the depth limit, infix splitting, and the diagnostics.
#include <gtest/gtest.h>

#include "parse_grammar_support.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::diag;
using testing::spans;
using testing::tree;

struct Case {
    const char* name;
    std::string source;
    std::string tree;   // "" when no document is expected
    std::string spans;  // "" to leave the spans unchecked
    std::vector<std::string> diagnostics;
    ParseConfig config = {};
};

ParseConfig abort_on_error() {
    ParseConfig c;
    c.abort_on_error = true;
    return c;
}
ParseConfig reject_unknown() {
    ParseConfig c = abort_on_error();
    c.reject_unknown = true;
    return c;
}
ParseConfig max_depth(std::size_t depth) {
    ParseConfig c;
    c.max_group_depth = depth;
    return c;
}

std::string root_spans(const syntax::document::Document& doc) {
    std::string out;
    for (const auto& entry : doc.node_spans()) {
        if (!out.empty()) out += " ";
        out += entry.id + "=" + std::to_string(entry.span.start) + ".." + std::to_string(entry.span.end);
    }
    return out;
}

class MathParse : public ::testing::TestWithParam<Case> {};

TEST_P(MathParse, TreeSpansAndDiagnostics) {
    const Case& c = GetParam();
    ParseOutcome out = parse_source(default_context(), c.source, c.config);
    if (c.tree.empty()) {
        EXPECT_FALSE(out.document) << tree(out.document->to_syntax());
    } else {
        ASSERT_TRUE(out.document);
        EXPECT_EQ(tree(out.document->to_syntax()), c.tree);
        if (!c.spans.empty()) {
            EXPECT_EQ(root_spans(*out.document), c.spans);
        }
        EXPECT_EQ(out.document->parse_context_id(), default_context().id());
    }
    std::vector<std::string> got;
    for (const auto& d : out.diagnostics) got.push_back(diag(d));
    EXPECT_EQ(got, c.diagnostics);
}

// Spans are listed as path=start..end in the document's pre-order.
INSTANTIATE_TEST_SUITE_P(
    Scripts, MathParse,
    ::testing::Values(
        Case{"sup", "x^2", "math[x^2]", "root=0..3 root.child.0=0..3 root.child.0.base=0..1 root.child.0.sup=1..3", {}},
        Case{"sub_then_sup", "x_1^2", "math[x_1^2]",
             "root=0..5 root.child.0=0..5 root.child.0.base=0..1 root.child.0.sub=1..3 root.child.0.sup=3..5", {}},
        Case{"sup_then_sub_same_node", "x^2_1", "math[x_1^2]",
             "root=0..5 root.child.0=0..5 root.child.0.base=0..1 root.child.0.sub=3..5 root.child.0.sup=1..3", {}},
        Case{"padded", " x^2 ", "math[x^2]",
             "root=0..5 root.child.0=1..4 root.child.0.base=1..2 root.child.0.sup=2..4", {}},
        Case{"spaced_markers", "x ^ 2", "math[x^2]", "", {}},
        Case{"prime", "x'", "math[x^'1]", "", {}},
        Case{"primes_and_sub", "x''_1", "math[x_1^'2]", "", {}},
        Case{"prime_then_sup_merge", "x'^2", "math[x^<'1 2>]",
             "root=0..4 root.child.0=0..4 root.child.0.base=0..1 root.child.0.sup=1..4 "
             "root.child.0.sup.child.0=1..2 root.child.0.sup.child.1=2..4",
             {}},
        Case{"prime_sub_sup", "x'_1^2", "math[x_1^<'1 2>]", "", {}},
        Case{"two_prime_runs", "x' '", "math[x^<'1 '1>]", "", {}},
        Case{"third_prime_run", "x' ' '", "", "", {"- 5..6 Prime causes double exponent: use braces to clarify"}, abort_on_error()},
        Case{"prime_after_sup", "x^2'", "", "", {"- 3..4 Prime causes double exponent: use braces to clarify"}, abort_on_error()},
        Case{"double_exponent", "x^2^3", "", "", {"- 3..5 Double exponent: use braces to clarify"}, abort_on_error()},
        Case{"double_exponent_after_prime", "x'^2^3", "", "", {"- 4..6 Double exponent: use braces to clarify"}, abort_on_error()},
        Case{"double_subscripts", "x_1_2", "", "", {"- 3..5 Double subscripts: use braces to clarify"}, abort_on_error()},
        Case{"sup_prime_atom", "x^'", "math[x^'1]", "", {}},
        Case{"braced_prime", "x^{'}", "math[x^{'1}]",
             "root=0..5 root.child.0=0..5 root.child.0.base=0..1 root.child.0.sup=1..5 root.child.0.sup.child.0=3..4",
             {}},
        Case{"braced_prime_spaced", "x^{ '' }", "math[x^{'2}]", "", {}},
        Case{"braced_prime_falls_back", "x^{'a}", "math[x^{'1 a}]", "", {}},
        Case{"prime_merges_braced_prime", "x'^{'}", "math[x^<'1 {'1}>]", "", {}},
        Case{"sub_span_starts_at_marker", "x_{a}", "math[x_{a}]",
             "root=0..5 root.child.0=0..5 root.child.0.base=0..1 root.child.0.sub=1..5 root.child.0.sub.child.0=3..4",
             {}},
        Case{"empty_base", "^2", "math[<>^2]", "root=0..2 root.child.0=0..2 root.child.0.base=0..0 root.child.0.sup=0..2",
             {}},
        Case{"operands_are_atoms", "x^]_&", "math[x_&^]]", "", {}},
        Case{"missing_subscript", "x_", "math[!\"Missing subscript content\"|\"x_\"!]", "root=0..2 root.child.0=0..2",
             {"raw-expected-found 2..2 Missing subscript content"}},
        Case{"missing_sup_before_brace", "{x^ }", "math[{!\"Missing superscript content\"|\"x^ \"!}]", "",
             {"raw-expected-found 4..5 Missing superscript content"}},
        Case{"missing_sub_aborts", "x_", "", "",
             {"raw-expected-found 2..2 Missing subscript content"},
             abort_on_error()},
        Case{"operand_no_atom", "x^#", "", "",
             {"raw-expected-found 2..3 found '#' expected something else, '{', begin, escaped symbol, not a "
              "command, bare delimiter control, unknown command, '~', math prime, or math character"}, abort_on_error()}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Atoms, MathParse,
    ::testing::Values(Case{"escaped_hash", "\\#", "math[#]", "root=0..2 root.child.0=0..2", {}},
                      Case{"escaped_brace", "\\{\\_", "math[{ _]", "", {}},
                      Case{"active_space", "~", "math[~]", "", {}},
                      Case{"prime_atom", "''", "math['2]", "", {}},
                      Case{"special_characters", "&*[]", "math[& * [ ]]", "", {}},
                      // `\&` is the control symbol, not the cell separator `&`.
                      Case{"escaped_ampersand", "a\\&&b", "math[a \\& & b]",
                           "root=0..5 root.child.0=0..1 root.child.1=1..3 root.child.2=3..4 root.child.3=4..5", {}},
                      Case{"escaped_ampersand_scripted", "\\&^2&_1", "math[\\&^2 & <>_1]", "", {}},
                      Case{"escaped_ampersand_in_infix_operand", "{a \\& b \\over c}", "math[{over(<a \\& b>|c)}]", "", {}},
                      Case{"unknown_command", "\\foo{x}", "math[\\foo? {x}]", "", {}},
                      Case{"character_command", "\\alpha", "math[\\alpha]", "", {}},
                      Case{"delimiter_control", "\\langle x", "math[\\langle x]", "", {}},
                      Case{"control_symbol_not_escapable", "\\,", "math[\\,]", "", {}},
                      Case{"reject_unknown", "\\foo", "", "", {"unknown-command 0..4 Unknown command: \\foo"},
                           reject_unknown()},
                      Case{"stray_end", "a\\end", "", "",
                           {"raw-expected-found 1..5 found '\\end' expected something else, or end of input"}},
                      Case{"empty", "", "math[]", "root=0..0", {}},
                      Case{"blank", "  ", "math[]", "root=0..2", {}},
                      Case{"stray_brace", "a}", "", "",
                           {"raw-expected-found 1..2 found '}' expected something else, or end of input"}},
                      Case{"currency", "a $5", "", "",
                           {"unexpected-math-shift 2..3 Unexpected $ inside a math formula; it looks like a "
                            "currency marker"}},
                      Case{"lone_dollar", "a$", "", "", {"unexpected-math-shift 1..2 Unexpected $ inside a math formula"}},
                      Case{"lexer_error", std::string("a\x01" "b"), "", "", {"- 1..2 Lexer error at byte offset 1..2"}}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Groups, MathParse,
    ::testing::Values(
        Case{"group", "{a b}", "math[{a b}]", "root=0..5 root.child.0=0..5 root.child.0.child.0=1..2 root.child.0.child.1=3..4",
             {}},
        Case{"depth_zero", "{a}b", "math[!\"max group depth (0) exceeded\"|\"{a}\"! b]",
             "root=0..4 root.child.0=0..3 root.child.1=3..4",
             {"max-group-depth-exceeded 0..3 max group depth (0) exceeded"}, max_depth(0)},
        Case{"depth_skip_balances", "{{a}{b}c}d", "math[{!\"max group depth (1) exceeded\"|\"{a}\"! "
                                                  "!\"max group depth (1) exceeded\"|\"{b}\"! c} d]",
             "",
             {"max-group-depth-exceeded 1..4 max group depth (1) exceeded",
              "max-group-depth-exceeded 4..7 max group depth (1) exceeded"},
             max_depth(1)},
        Case{"depth_skip_to_end", "x{a{b}", "math[x !\"max group depth (0) exceeded\"|\"{a{b}\"!]", "",
             {"max-group-depth-exceeded 1..6 max group depth (0) exceeded"}, max_depth(0)},
        Case{"unclosed", "x^{", "", "", {"raw-expected-found 3..3 Unclosed { ... } group"}, abort_on_error()},
        Case{"unclosed_after_content", "{a", "", "",
             {"raw-expected-found 2..2 found end of input expected something else, or '}'"}, abort_on_error()}),
    [](const auto& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Infix, MathParse,
    ::testing::Values(
        Case{"over", "a \\over b", "math[over(a|b)]", "root=0..9 root.child.0=0..9 root.child.0.left=0..1 root.child.0.right=8..9",
             {}},
        Case{"empty_left", "\\over b", "math[over(<>|b)]",
             "root=0..7 root.child.0=0..7 root.child.0.left=0..0 root.child.0.right=6..7", {}},
        Case{"empty_right", "a \\over ", "math[over(a|<>)]",
             "root=0..8 root.child.0=0..7 root.child.0.left=0..1 root.child.0.right=7..7", {}},
        Case{"group_operand", "a b \\over c", "math[over(<a b>|c)]",
             "root=0..11 root.child.0=0..11 root.child.0.left=0..3 root.child.0.left.child.0=0..1 "
             "root.child.0.left.child.1=2..3 root.child.0.right=10..11",
             {}},
        Case{"ambiguous", "a \\over b \\atop c", "", "", {"ambiguous-infix 10..10 Ambiguous use of \\atop"}},
        Case{"nested_in_group", "{a \\over b} \\over c", "math[over({over(a|b)}|c)]", "", {}},
        Case{"ambiguous_in_group", "{a \\over b \\choose c}", "", "",
             {"ambiguous-infix 11..11 Ambiguous use of \\choose"}, abort_on_error()},
        Case{"scripted_operands", "x^2 \\atop y_1", "math[atop(x^2|y_1)]", "", {}}),
    [](const auto& info) { return info.param.name; });

// A cell of an alignment, ended by `&`, `\\` or `\cr`, is split on its own:
// an infix command's operands end at the separator, the separator is a
// member of the list, and a script after it has an empty base.
INSTANTIATE_TEST_SUITE_P(
    Cells, MathParse,
    ::testing::Values(
        Case{"right_ends_at_ampersand", "a \\over b & c", "math[over(a|b) & c]",
             "root=0..13 root.child.0=0..9 root.child.0.left=0..1 root.child.0.right=8..9 root.child.1=10..11 "
             "root.child.2=12..13",
             {}},
        Case{"empty_left_in_cell", "a & \\over b", "math[a & over(<>|b)]",
             "root=0..11 root.child.0=0..1 root.child.1=2..3 root.child.2=4..11 root.child.2.left=4..4 "
             "root.child.2.right=10..11",
             {}},
        Case{"empty_right_in_cell", "a \\over & b", "math[over(a|<>) & b]",
             "root=0..11 root.child.0=0..7 root.child.0.left=0..1 root.child.0.right=7..7 root.child.1=8..9 "
             "root.child.2=10..11",
             {}},
        Case{"one_a_row", "a \\over b \\\\ c \\over d", "math[over(a|b) \\\\ over(c|d)]",
             "root=0..22 root.child.0=0..9 root.child.0.left=0..1 root.child.0.right=8..9 root.child.1=10..12 "
             "root.child.2=13..22 root.child.2.left=13..14 root.child.2.right=21..22",
             {}},
        Case{"row_end_with_argument", "a \\over b \\\\[2pt] c", "math[over(a|b) \\\\ c]",
             "root=0..19 root.child.0=0..9 root.child.0.left=0..1 root.child.0.right=8..9 root.child.1=10..17 "
             "root.child.2=18..19",
             {}},
        Case{"plain_rows", "a \\over b \\cr c \\atop d \\cr", "math[over(a|b) \\cr atop(c|d) \\cr]", "", {}},
        Case{"ambiguous_in_one_cell", "a & b \\over c \\atop d & e", "", "",
             {"ambiguous-infix 14..14 Ambiguous use of \\atop"}, abort_on_error()},
        Case{"buildrel_tail_ends_at_cell", "\\buildrel a \\over b c & d \\over e",
             "math[over(\\buildrel|b) c & over(d|e)]", "", {}},
        Case{"environment_body",
             "\\begin{matrix} a \\over b & c \\end{matrix}", "math[?env]",
             "root=0..41 root.child.0=0..41 root.child.0.body=14..29 root.child.0.body.child.0=15..24 "
             "root.child.0.body.child.0.left=15..16 root.child.0.body.child.0.right=23..24 "
             "root.child.0.body.child.1=25..26 root.child.0.body.child.2=27..28",
             {}},
        Case{"argument_body", "\\substack{a \\over b \\\\ c}", "math[\\substack]",
             "root=0..25 root.child.0=0..25 root.child.0.arg.0.content=10..24 "
             "root.child.0.arg.0.content.child.0=10..19 root.child.0.arg.0.content.child.0.left=10..11 "
             "root.child.0.arg.0.content.child.0.right=18..19 root.child.0.arg.0.content.child.1=20..22 "
             "root.child.0.arg.0.content.child.2=23..24",
             {}},
        Case{"superscript_after_ampersand", "x &^2 y", "math[x & <>^2 y]",
             "root=0..7 root.child.0=0..1 root.child.1=2..3 root.child.2=3..5 root.child.2.base=3..3 "
             "root.child.2.sup=3..5 root.child.3=6..7",
             {}},
        Case{"prime_after_row_end", "x \\\\' y", "math[x \\\\ '1 y]", "", {}},
        Case{"subscript_after_cr", "x \\cr _1", "math[x \\cr <>_1]", "", {}},
        Case{"primes_as_at_list_start", "x & '^2", "math[x & '1^2]", "", {}},
        Case{"ampersand_operand_unchanged", "x^& y", "math[x^& y]", "", {}},
        Case{"missing_operand_after_ampersand", "x &^", "math[x & !\"Missing superscript content\"|\"^\"!]", "",
             {"raw-expected-found 4..4 Missing superscript content"}}),
    [](const auto& info) { return info.param.name; });

TEST(MathParseDepth, DefaultLimitCutsTheHundredTwentyNinthGroup) {
    std::string source(129, '{');
    source += "x";
    source += std::string(129, '}');
    ParseOutcome out = parse_source(default_context(), source, ParseConfig{});
    ASSERT_TRUE(out.document);
    std::string expected = "math[" + std::string(128, '{') + "!\"max group depth (128) exceeded\"|\"{x}\"!" +
                           std::string(128, '}') + "]";
    EXPECT_EQ(tree(out.document->to_syntax()), expected);
    ASSERT_EQ(out.diagnostics.size(), 1u);
    EXPECT_EQ(diag(out.diagnostics[0]), "max-group-depth-exceeded 128..131 max group depth (128) exceeded");

    source = std::string(128, '{') + "x" + std::string(128, '}');
    out = parse_source(default_context(), source, ParseConfig{});
    EXPECT_TRUE(out.diagnostics.empty());
}

TEST(MathParseContext, RemovedDelimiterControlIsUnknown) {
    auto context = ParseContextBuilder().remove_delimiter_control("langle").build().value();
    ParseOutcome out = parse_source(*context, "\\langle", ParseConfig{});
    ASSERT_TRUE(out.document);
    EXPECT_EQ(tree(out.document->to_syntax()), "math[\\langle?]");
    EXPECT_EQ(out.document->parse_context_id(), context->id());
}

TEST(MathParseContext, SecondParseStartsAfresh) {
    const ParseConfig config = max_depth(1);
    ParseOutcome first = parse_source(default_context(), "{{a}}", config);
    ParseOutcome second = parse_source(default_context(), "{a}", config);
    EXPECT_EQ(first.diagnostics.size(), 1u);
    EXPECT_TRUE(second.diagnostics.empty());
}

}  // namespace
}  // namespace quorvel::parse
