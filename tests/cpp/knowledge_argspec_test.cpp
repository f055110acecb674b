#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "knowledge/argspec.hpp"

namespace {

using namespace quorvel::knowledge;

using K = ArgValueKind;
using F = ArgFormKind;

ArgSpec slot(F form, bool required, K kind = K::MathContent, bool nullable = false, bool nls = false) {
    ArgSpec s;
    s.form.kind = form;
    s.required = required;
    s.kind = kind;
    s.nullable = nullable;
    s.no_leading_space = nls;
    return s;
}

ArgSpec delimited(bool required, DelimiterToken open, DelimiterToken close, K kind = K::MathContent) {
    ArgSpec s = slot(F::Delimited, required, kind);
    s.form.open = open;
    s.form.close = close;
    return s;
}

DelimiterToken ch(char32_t c) { return DelimiterToken::character(c); }
DelimiterToken cs(std::string_view n) { return DelimiterToken::control(n); }

// Pair arrays referenced by expected Paired slots; static so the spans stay valid.
const DelimiterPair kParenBrackBrace[] = {{ch('('), ch(')')}, {ch('['), ch(']')}, {ch('{'), ch('}')}};
const DelimiterPair kEvalPairs[] = {{ch('('), ch('|')}, {ch('['), ch('|')}, {ch('{'), ch('}')}};
const DelimiterPair kParen[] = {{ch('('), ch(')')}};
const DelimiterPair kCommaX[] = {{cs(","), ch('x')}};
const DelimiterPair kMixed[] = {{cs("langle"), ch(U'é')}, {cs("|"), cs("rangle")}};

ArgSpec paired(bool required, std::span<const DelimiterPair> pairs) {
    ArgSpec s = slot(F::Paired, required);
    s.form.pairs = pairs;
    return s;
}

struct ValidCase {
    std::string spec;
    std::vector<ArgSpec> slots;
};

class ArgSpecValid : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ArgSpecValid, ParsesToSlots) {
    const auto& c = GetParam();
    auto result = parse_arg_specs(c.spec, "validate_argspec");
    ASSERT_TRUE(result.has_value()) << result.error().to_string();
    EXPECT_TRUE(result.value() == std::span<const ArgSpec>(c.slots));
    EXPECT_EQ(result.value().size(), c.slots.size());
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ArgSpecValid,
    ::testing::Values(
        ValidCase{"", {}}, ValidCase{"  \t\n ", {}}, ValidCase{"\u3000m\u00a0", {slot(F::Standard, true)}},
        ValidCase{"m", {slot(F::Standard, true)}},
        ValidCase{"mm", {slot(F::Standard, true), slot(F::Standard, true)}},
        ValidCase{"s m{} m",
                  {slot(F::Star, false, K::Star), slot(F::Group, true), slot(F::Standard, true)}},
        ValidCase{"m:T", {slot(F::Standard, true, K::TextContent)}},
        ValidCase{"!s !o:L",
                  {slot(F::Star, false, K::Star, false, true), slot(F::Standard, false, K::Dimension, false, true)}},
        ValidCase{"d<(,)><[,]><{,}>", {paired(false, kParenBrackBrace)}},
        ValidCase{"m:D? m:D? m:L? m:I? m m",
                  {slot(F::Standard, true, K::Delimiter, true), slot(F::Standard, true, K::Delimiter, true),
                   slot(F::Standard, true, K::Dimension, true), slot(F::Standard, true, K::Integer, true),
                   slot(F::Standard, true), slot(F::Standard, true)}},
        ValidCase{"O{c}:N m:L m:T",
                  {slot(F::Standard, false, K::CsName), slot(F::Standard, true, K::Dimension),
                   slot(F::Standard, true, K::TextContent)}},
        ValidCase{"O{}:N", {slot(F::Standard, false, K::CsName)}},
        ValidCase{"m O{0}:I m",
                  {slot(F::Standard, true), slot(F::Standard, false, K::Integer), slot(F::Standard, true)}},
        ValidCase{"s d<(,|><[,|><{,}>", {slot(F::Star, false, K::Star), paired(false, kEvalPairs)}},
        ValidCase{"O{a{b}c}", {slot(F::Standard, false)}}, ValidCase{"O{\\}}", {slot(F::Standard, false)}},
        ValidCase{"G{x}:T g:O", {slot(F::Group, false, K::TextContent), slot(F::Group, false, K::OperatorName)}},
        ValidCase{"!o !g !d()", {slot(F::Standard, false, K::MathContent, false, true),
                                 slot(F::Group, false, K::MathContent, false, true),
                                 [] {
                                     ArgSpec s = delimited(false, ch('('), ch(')'));
                                     s.no_leading_space = true;
                                     return s;
                                 }()}},
        ValidCase{"m:T?", {slot(F::Standard, true, K::TextContent, true)}},
        ValidCase{"m:K m:C", {slot(F::Standard, true, K::KeyVal), slot(F::Standard, true, K::Column)}},
        ValidCase{"r()", {delimited(true, ch('('), ch(')'))}},
        ValidCase{"r\\langle\\rangle", {delimited(true, cs("langle"), cs("rangle"))}},
        // A control word ends at the first non-letter, which is then the next token.
        ValidCase{"R\\langle){x}:T", {delimited(true, cs("langle"), ch(')'), K::TextContent)}},
        ValidCase{"D\\{\\|{}", {delimited(false, cs("{"), cs("|"))}},
        ValidCase{"d<(,)>", {paired(false, kParen)}}, ValidCase{"d<\\,,x>", {paired(false, kCommaX)}},
        ValidCase{"r<\\langle,é><\\|,\\rangle>", {paired(true, kMixed)}},
        ValidCase{"dé\U0001F600", {delimited(false, ch(U'é'), ch(U'\U0001F600'))}}));

struct InvalidCase {
    std::string spec;
    std::size_t position;
    std::string message;
};

class ArgSpecInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(ArgSpecInvalid, RefusedWithPositionAndMessage) {
    const auto& c = GetParam();
    auto result = parse_arg_specs(c.spec, "validate_argspec");
    ASSERT_FALSE(result.has_value()) << "spec: " << c.spec;
    EXPECT_EQ(result.error().message, c.message) << "spec: " << c.spec;
    EXPECT_EQ(result.error().position, c.position) << "spec: " << c.spec;
    EXPECT_EQ(result.error().context, "validate_argspec");
}

INSTANTIATE_TEST_SUITE_P(
    Specs, ArgSpecInvalid,
    ::testing::Values(
        InvalidCase{"!", 1, "expected argument token"},
        InvalidCase{"! m", 2, "unsupported argument token ` `"},
        InvalidCase{"x", 1, "unsupported argument token `x`"},
        InvalidCase{"é", 1, "unsupported argument token `é`"},
        InvalidCase{"mé", 2, "unsupported argument token `é`"},
        InvalidCase{"m s?", 4, "unsupported argument token `?`"},
        InvalidCase{"!m", 2, "`!` prefix is only valid for optional argument forms"},
        InvalidCase{"!r()", 4, "`!` prefix is only valid for optional argument forms"},
        InvalidCase{"m{", 2, "`m` only supports required braced group syntax `m{}`"},
        InvalidCase{"m{x}", 2, "`m` only supports required braced group syntax `m{}`"},
        InvalidCase{"O", 1, "`O` requires a default block like `{...}`"},
        InvalidCase{"m O[x]", 3, "`O` requires a default block like `{...}`"},
        InvalidCase{"G", 1, "`G` requires a default block like `{...}`"},
        InvalidCase{"D()", 3, "`D` requires a default block like `{...}`"},
        InvalidCase{"O{", 2, "unterminated default block for `O`"},
        InvalidCase{"R(){a{b}", 8, "unterminated default block for `R`"},
        InvalidCase{"O{\\", 3, "unterminated default block for `O`"},
        InvalidCase{"m:", 2, "missing value kind annotation after `:`"},
        InvalidCase{"m:X", 3, "unsupported value kind annotation `:X`"},
        InvalidCase{"o:t", 3, "unsupported value kind annotation `:t`"},
        InvalidCase{"m:é", 3, "unsupported value kind annotation `:é`"},
        InvalidCase{"m:C?", 4, "`?` is not supported for star or column annotations"},
        InvalidCase{"s:T", 1, "`s` does not accept value type annotation"},
        InvalidCase{"r(", 2, "missing delimiter token"},
        InvalidCase{"r", 1, "missing delimiter token"},
        InvalidCase{"r( ", 3, "delimiter token cannot be whitespace"},
        InvalidCase{"r\\", 2, "expected control sequence name after `\\`"},
        InvalidCase{"r():D", 5, "delimiter kind cannot use delimited/paired form"},
        InvalidCase{"d<(,)>:D", 8, "delimiter kind cannot use delimited/paired form"},
        InvalidCase{"d<(,)", 5, "expected `>`"},
        InvalidCase{"d<(", 3, "expected `,`"},
        InvalidCase{"d<(;)>", 4, "expected `,`, found `;`"},
        InvalidCase{"d<(,)é", 6, "expected `>`, found `é`"},
        InvalidCase{"d<<,>>", 3, "`<`, `>`, `,` are reserved in pair syntax"},
        InvalidCase{"d<(,,>", 5, "`<`, `>`, `,` are reserved in pair syntax"},
        InvalidCase{"d<", 2, "missing pair delimiter token"},
        InvalidCase{"d< ,)>", 3, "pair delimiter cannot be whitespace"},
        InvalidCase{"d<\\", 3, "expected control sequence name after `\\`"}));

TEST(ArgSpecParseError, DisplaysContextPositionMessage) {
    auto result = parse_arg_specs("m:X", "command foo");
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().to_string(), "invalid argspec (command foo) at char 3: unsupported value kind annotation `:X`");
    EXPECT_EQ(parse_arg_specs("!", "validate_argspec").error().to_string(),
              "invalid argspec (validate_argspec) at char 1: expected argument token");
}

TEST(ArgSpecList, CopiesShareStorageAndOutliveTheSource) {
    ArgSpecList copy;
    {
        std::string spec = "r\\langle\\rangle d<\\lvert,\\rvert>";
        auto parsed = parse_arg_specs(spec, "x");
        ASSERT_TRUE(parsed.has_value());
        copy = parsed.value();
        spec.assign(spec.size(), '#');  // the list must not point into the caller's text
    }
    ASSERT_EQ(copy.size(), 2u);
    EXPECT_EQ(copy[0].form.open.name, "langle");
    EXPECT_EQ(copy[0].form.close.name, "rangle");
    ASSERT_EQ(copy[1].form.pairs.size(), 1u);
    EXPECT_EQ(copy[1].form.pairs[0].open.name, "lvert");
    EXPECT_EQ(copy[1].form.pairs[0].close.name, "rvert");
    EXPECT_TRUE(copy == parse_arg_specs("r\\langle\\rangle d<\\lvert,\\rvert>", "y").value());
    EXPECT_FALSE(copy == parse_arg_specs("r\\langle\\rangle d<\\lvert,\\rVert>", "y").value());
}

struct Utf8Case {
    std::string spec;
    bool valid;
    std::size_t position;
};

class ArgSpecIllFormedUtf8 : public ::testing::TestWithParam<Utf8Case> {};

// Each ill-formed byte counts as one character U+FFFD.
TEST_P(ArgSpecIllFormedUtf8, TreatedAsReplacementCharacter) {
    const auto& c = GetParam();
    auto result = parse_arg_specs(c.spec, "validate_argspec");
    ASSERT_EQ(result.has_value(), c.valid);
    if (!c.valid) {
        EXPECT_EQ(result.error().position, c.position);
        EXPECT_EQ(result.error().message, "unsupported argument token `\xEF\xBF\xBD`");
    }
}

INSTANTIATE_TEST_SUITE_P(Bytes, ArgSpecIllFormedUtf8,
                         ::testing::Values(Utf8Case{"m\xFF", false, 2}, Utf8Case{"m\xC3", false, 2},
                                           Utf8Case{"\xE2\x82 m", false, 1}, Utf8Case{"\xED\xA0\x80", false, 1},
                                           Utf8Case{"O{\xFF\xFE}", true, 0}, Utf8Case{"r\\\xC0)", true, 0}));

TEST(ArgSpecIllFormedUtf8, ControlNameIsValidText) {
    auto result = parse_arg_specs("r\\\xC0)", "x");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result.value()[0].form.open.name, "\xEF\xBF\xBD");
}

}  // namespace

namespace {

// Random specs over the language's own characters: every outcome must be a
// well-formed slot list or a refusal positioned inside the argument spec.
TEST(ArgSpecRandom, OutcomesKeepTheInvariants) {
    const std::vector<std::string> pieces = {"m", "o", "O", "g", "G", "s", "r", "R", "d", "D", "{", "}", "<",
                                             ">", ",", ":", "?", "!", "\\", " ", "T", "N", "L", "C", "X", "(",
                                             "|", "\xC3\xA9", "\xFF", "langle"};
    std::uint64_t state = 0x243F6A8885A308D3ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string spec;
        const auto length = next() % 12;
        for (std::uint64_t i = 0; i < length; ++i) spec += pieces[next() % pieces.size()];
        std::size_t chars = 0;
        for (unsigned char b : spec) chars += (b & 0xC0) != 0x80;
        const auto result = parse_arg_specs(spec, "fuzz");
        if (!result) {
            EXPECT_LE(result.error().position, chars) << spec;
            EXPECT_FALSE(result.error().message.empty()) << spec;
            continue;
        }
        for (const ArgSpec& s : result.value()) {
            EXPECT_FALSE(s.no_leading_space && s.required) << spec;
            EXPECT_EQ(s.form.kind == ArgFormKind::Star, s.kind == ArgValueKind::Star) << spec;
            EXPECT_FALSE(s.nullable && (s.kind == ArgValueKind::Column || s.kind == ArgValueKind::Star)) << spec;
            if (s.form.kind == ArgFormKind::Paired) {
                EXPECT_FALSE(s.form.pairs.empty()) << spec;
            }
        }
    }
}

}  // namespace
