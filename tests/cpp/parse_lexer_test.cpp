#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "parse/lexer.hpp"

namespace {

using quorvel::parse::build_token_stream;
using quorvel::parse::LexError;
using quorvel::parse::Lexer;
using quorvel::parse::Span;
using quorvel::parse::Token;
using quorvel::parse::TokenKind;
using quorvel::parse::TokenStream;

struct Tok {
    Token token;
    std::size_t start, end;
};

Tok ch(char32_t c, std::size_t s, std::size_t e) { return {Token::character(c), s, e}; }
Tok cs(std::string_view name, std::size_t s, std::size_t e) { return {Token::control_seq(name), s, e}; }
Tok ws(std::size_t s, std::size_t e) { return {Token::simple(TokenKind::Whitespace), s, e}; }
Tok primes(std::size_t n, std::size_t s, std::size_t e) { return {Token::primes(n), s, e}; }
Tok simple(TokenKind k, std::size_t s) { return {Token::simple(k), s, s + 1}; }

std::string describe(const Token& t) {
    return std::to_string(static_cast<int>(t.kind())) + ":" + t.display();
}

TEST(ParseLexer, TokensAndSpans) {
    using namespace std::string_literals;
    struct Case {
        std::string name;
        std::string source;
        std::vector<Tok> want;
    };
    const std::vector<Case> cases = {
        {"empty", "", {}},
        {"comment only", "%just a comment", {}},
        {"comment with CRLF", "a%x\r\nb", {ch('a', 0, 1), ch('b', 5, 6)}},
        {"comment with lone CR", "a%x\rb", {ch('a', 0, 1), ch('b', 4, 5)}},
        {"comment consumes one line end", "%x\n\n", {ws(3, 4)}},
        {"comment splits white space", "a %c\n b", {ch('a', 0, 1), ws(1, 2), ws(5, 6), ch('b', 6, 7)}},
        {"prime run mixes apostrophes and U+2019", "x''\u2019", {ch('x', 0, 1), primes(3, 1, 6)}},
        {"lone U+2019 is a prime", "\u2019", {primes(1, 0, 3)}},
        {"U+2018 is a character", "\u2018", {ch(0x2018, 0, 3)}},
        {"control word stops at digit", "\\alpha2", {cs("alpha", 0, 6), ch('2', 6, 7)}},
        {"control word stops at non-ASCII letter", "\\ab\u00e9", {cs("ab", 0, 3), ch(0xE9, 3, 5)}},
        {"control symbols", "\\ \\,\\\\\\{\\%", {cs(" ", 0, 2), cs(",", 2, 4), cs("\\", 4, 6), cs("{", 6, 8),
                                                   cs("%", 8, 10)}},
        {"backslash CR is a control symbol", "\\\r", {cs("\r", 0, 2)}},
        {"backslash TAB and FF", "\\\t\\\f", {cs("\t", 0, 2), cs("\f", 2, 4)}},
        {"backslash takes a whole non-ASCII character", "\\\u00e9x", {cs("\u00e9", 0, 3), ch('x', 3, 4)}},
        {"backslash before a rejected control character", "\\\x01", {cs("\x01", 0, 2)}},
        {"backslash before NUL", "\\\0"s, {cs(std::string_view("\0", 1), 0, 2)}},
        {"trailing backslash", "a\\", {ch('a', 0, 1), ch('\\', 1, 2)}},
        {"backslash before LF", "\\\nb", {ch('\\', 0, 1), ws(1, 2), ch('b', 2, 3)}},
        {"space NBSP TAB are one token", " \u00a0\t", {ws(0, 4)}},
        {"all six white space characters", "\t\n\f\r \u00a0", {ws(0, 7)}},
        {"FF is white space", "\f", {ws(0, 1)}},
        {"two-byte character", "\u00e9", {ch(0xE9, 0, 2)}},
        {"three-byte character", "\u2212", {ch(0x2212, 0, 3)}},
        {"four-byte character", "\U0001D400", {ch(0x1D400, 0, 4)}},
        {"C1 control is a character", "\u0085\u009f", {ch(0x85, 0, 2), ch(0x9F, 2, 4)}},
        {"rejected character inside a comment", "a%\x01\x0b\nb", {ch('a', 0, 1), ch('b', 5, 6)}},
        {"single-character tokens",
         "~{}$&#^_*[]",
         {simple(TokenKind::Tilde, 0), simple(TokenKind::LBrace, 1), simple(TokenKind::RBrace, 2),
          simple(TokenKind::MathShift, 3), simple(TokenKind::Ampersand, 4), simple(TokenKind::Hash, 5),
          simple(TokenKind::Caret, 6), simple(TokenKind::Underscore, 7), simple(TokenKind::Star, 8),
          simple(TokenKind::LBracket, 9), simple(TokenKind::RBracket, 10)}},
        {"runs of single tokens are not merged", "{{", {simple(TokenKind::LBrace, 0), simple(TokenKind::LBrace, 1)}},
        {"ASCII characters", "!\"()+,-./09:;<=>?@AZ`az|",
         [] {
             std::vector<Tok> v;
             const std::string s = "!\"()+,-./09:;<=>?@AZ`az|";
             for (std::size_t i = 0; i < s.size(); ++i) v.push_back(ch(static_cast<unsigned char>(s[i]), i, i + 1));
             return v;
         }()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = build_token_stream(c.source);
        ASSERT_TRUE(std::holds_alternative<TokenStream>(result));
        const auto& stream = std::get<TokenStream>(result);
        EXPECT_EQ(stream.end_span(), (Span{c.source.size(), c.source.size()}));
        ASSERT_EQ(stream.tokens.size(), c.want.size());
        for (std::size_t i = 0; i < c.want.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(describe(stream.tokens[i].token), describe(c.want[i].token));
            EXPECT_TRUE(stream.tokens[i].token == c.want[i].token);
            EXPECT_EQ(stream.tokens[i].span, (Span{c.want[i].start, c.want[i].end}));
        }
    }
}

TEST(ParseLexer, RejectedBytes) {
    using namespace std::string_literals;
    struct Case {
        std::string name;
        std::string source;
        Span error;
    };
    const std::vector<Case> cases = {
        {"U+0001 between letters", "a\x01" "b", {1, 2}},
        {"VT", "\x0b", {0, 1}},
        {"DEL", "x\x7f", {1, 2}},
        {"NUL", "\0"s, {0, 1}},
        {"ESC after white space", " \x1b", {1, 2}},
        {"stray continuation bytes", "a\x80\x80" "b", {1, 3}},
        {"lead byte without continuation", "\xc3(", {0, 1}},
        {"overlong form", "\xc0\x80", {0, 2}},
        {"surrogate", "\xed\xa0\x80", {0, 3}},
        {"truncated at the end", "\xf0\x9f\x98", {0, 3}},
        {"byte F5", "\xf5\x80", {0, 2}},
        {"backslash before a bad byte", "\\\xff", {0, 2}},
        {"C2 not followed by A0 nor continuation", "\xc2 ", {0, 1}},
        {"E2 not starting U+2019, truncated", "\xe2\x80", {0, 2}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = build_token_stream(c.source);
        ASSERT_TRUE(std::holds_alternative<LexError>(result));
        EXPECT_EQ(std::get<LexError>(result).span, c.error);
    }
    EXPECT_EQ((LexError{{1, 2}}).message(), "Lexer error at byte offset 1..2");
}

TEST(ParseLexer, ContinuesBehindAnError) {
    Lexer lexer("a\x01" "b");
    auto s1 = lexer.next();
    EXPECT_EQ(s1.status, Lexer::Status::Token);
    auto s2 = lexer.next();
    EXPECT_EQ(s2.status, Lexer::Status::Error);
    EXPECT_EQ(s2.span, (Span{1, 2}));
    auto s3 = lexer.next();
    ASSERT_EQ(s3.status, Lexer::Status::Token);
    EXPECT_TRUE(s3.token == Token::character('b'));
    EXPECT_EQ(s3.span, (Span{2, 3}));
    auto s4 = lexer.next();
    EXPECT_EQ(s4.status, Lexer::Status::End);
    EXPECT_EQ(s4.span, (Span{3, 3}));
}

TEST(ParseLexer, TokenDisplay) {
    struct Case {
        Token token;
        std::string want;
    };
    const std::vector<Case> cases = {
        {Token::control_seq("alpha"), "\\alpha"},
        {Token::control_seq(","), "\\,"},
        {Token::simple(TokenKind::Tilde), "~"},
        {Token::simple(TokenKind::LBrace), "{"},
        {Token::simple(TokenKind::RBrace), "}"},
        {Token::simple(TokenKind::MathShift), "$"},
        {Token::simple(TokenKind::Ampersand), "&"},
        {Token::simple(TokenKind::Hash), "#"},
        {Token::simple(TokenKind::Caret), "^"},
        {Token::simple(TokenKind::Underscore), "_"},
        {Token::simple(TokenKind::Star), "*"},
        {Token::simple(TokenKind::LBracket), "["},
        {Token::simple(TokenKind::RBracket), "]"},
        {Token::primes(3), "'''"},
        {Token::simple(TokenKind::Whitespace), " "},
        {Token::simple(TokenKind::Comment), "%"},
        {Token::character(0xE9), "\u00e9"},
        {Token::character(0x1D400), "\U0001D400"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.token.display(), c.want);
    // Primes written with U+2019 still display as ASCII apostrophes; white space as one blank.
    auto stream = std::get<TokenStream>(build_token_stream("\u2019\u2019 \t\n"));
    ASSERT_EQ(stream.tokens.size(), 2u);
    EXPECT_EQ(stream.tokens[0].token.display(), "''");
    EXPECT_EQ(stream.tokens[1].token.display(), " ");
}

TEST(ParseLexer, TokenEquality) {
    EXPECT_TRUE(Token::control_seq("a") == Token::control_seq("a"));
    EXPECT_FALSE(Token::control_seq("a") == Token::control_seq("b"));
    EXPECT_FALSE(Token::primes(2) == Token::primes(3));
    EXPECT_FALSE(Token::character('a') == Token::simple(TokenKind::Star));
    EXPECT_TRUE(quorvel::parse::OwnedToken(Token::control_seq("left")) == Token::control_seq("left"));
}

// A token keeps its payload through the owned form and back, whatever its
// size: names longer than a byte can count, runs of primes past 32 bits.
TEST(ParseLexer, TokensRoundTripThroughTheOwnedForm) {
    using quorvel::parse::OwnedToken;
    const std::string long_name(70000, 'x');
    struct Case {
        const char* name;
        Token token;
        TokenKind kind;
        std::string_view payload_name;
        std::uint64_t value;
    };
    const std::vector<Case> cases = {
        {"short name", Token::control_seq("alpha"), TokenKind::ControlSeq, "alpha", 0},
        {"empty name", Token::control_seq(""), TokenKind::ControlSeq, "", 0},
        {"long name", Token::control_seq(long_name), TokenKind::ControlSeq, long_name, 0},
        {"long prime run", Token::primes(std::size_t{5} << 32), TokenKind::Primes, "", std::uint64_t{5} << 32},
        {"character", Token::character(0x10FFFF), TokenKind::Char, "", 0x10FFFF},
        {"simple", Token::simple(TokenKind::Hash), TokenKind::Hash, "", 0},
        {"neutral", Token(), TokenKind::Comment, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const OwnedToken owned(c.token);
        const Token back(owned);
        for (const Token& t : {c.token, back}) {
            EXPECT_EQ(t.kind(), c.kind);
            EXPECT_EQ(t.name(), c.payload_name);
            EXPECT_EQ(t.raw_value(), c.value);
        }
        EXPECT_TRUE(owned == c.token);
        EXPECT_TRUE(back == c.token);
        if (c.kind != TokenKind::Primes) {
            EXPECT_EQ(owned.display(), c.token.display());
        }
    }
}

// Every token, lexed again from its own slice, is the same single token; spans ascend
// and stay inside the text. Checked over random byte strings and the corpus.
void check_roundtrip(std::string_view text) {
    Lexer lexer(text);
    std::size_t last_end = 0;
    for (int guard = 0;; ++guard) {
        ASSERT_LE(guard, static_cast<int>(text.size()) + 1) << "lexer made no progress";
        auto step = lexer.next();
        if (step.status == Lexer::Status::End) {
            EXPECT_EQ(step.span, (Span{text.size(), text.size()}));
            return;
        }
        ASSERT_LE(last_end, step.span.start);
        ASSERT_LT(step.span.start, step.span.end);
        ASSERT_LE(step.span.end, text.size());
        last_end = step.span.end;
        if (step.status == Lexer::Status::Token) {
            auto again = build_token_stream(text.substr(step.span.start, step.span.end - step.span.start));
            ASSERT_TRUE(std::holds_alternative<TokenStream>(again));
            const auto& tokens = std::get<TokenStream>(again).tokens;
            ASSERT_EQ(tokens.size(), 1u);
            EXPECT_TRUE(tokens[0].token == step.token);
        }
    }
}

TEST(ParseLexer, RandomBytesNeverStall) {
    std::mt19937 rng(12345);
    const std::string alphabet = std::string("\\%'{}$ \t\n\r\fab1\x01\x0b\x7f") + "\xc2\xa0\xe2\x80\x99\xc3\xa9\xff\x80";
    for (int n = 0; n < 3000; ++n) {
        std::string text;
        const int len = static_cast<int>(rng() % 24);
        for (int i = 0; i < len; ++i) text.push_back(alphabet[rng() % alphabet.size()]);
        SCOPED_TRACE(testing::PrintToString(text));
        check_roundtrip(text);
    }
}

TEST(ParseLexer, CorpusLinesLexCleanly) {
    std::size_t lines = 0;
    for (const char* file : {"arxiv.txt", "exam.txt"}) {
        std::ifstream in(std::string(QUORVEL_CORPUS_DIR) + "/" + file);
        if (!in) GTEST_SKIP() << "corpus not found at " << QUORVEL_CORPUS_DIR;
        std::string line;
        while (std::getline(in, line)) {
            ++lines;
            ASSERT_TRUE(std::holds_alternative<TokenStream>(build_token_stream(line))) << line;
            if (lines % 7 == 0) check_roundtrip(line);
        }
    }
    EXPECT_GT(lines, 0u);
}

}  // namespace
