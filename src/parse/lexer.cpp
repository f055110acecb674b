#include "parse/lexer.hpp"

#include <array>
#include <cstdint>

#include "parse/utf8.hpp"

namespace quorvel::parse {

namespace {

// What the first byte of a token decides.
enum ByteClass : std::uint8_t {
    kChar,       // an ASCII character that is a Char token by itself
    kSingle,     // one of the eleven one-character tokens
    kBackslash,
    kPrime,      // ASCII apostrophe
    kSpace,      // TAB, LF, FF, CR, SPACE
    kPercent,
    kRejected,   // control characters without a token
    kLeadC2,     // may start U+00A0 (white space)
    kLeadE2,     // may start U+2019 (prime)
    kLeadOther,  // any other lead byte of a multi-byte sequence
    kInvalid,    // continuation byte or a byte that never occurs in UTF-8
};

struct Tables {
    std::array<std::uint8_t, 256> cls{};
    std::array<TokenKind, 256> single{};
};

constexpr Tables make_tables() {
    Tables t{};
    for (int b = 0; b < 256; ++b) {
        std::uint8_t c = kInvalid;
        if (b < 0x20 || b == 0x7F) c = kRejected;
        else if (b < 0x80) c = kChar;
        else if (b == 0xC2) c = kLeadC2;
        else if (b == 0xE2) c = kLeadE2;
        else if (b >= 0xC3 && b <= 0xF4) c = kLeadOther;
        t.cls[b] = c;
    }
    for (int b : {0x09, 0x0A, 0x0C, 0x0D, 0x20}) t.cls[b] = kSpace;
    t.cls['\\'] = kBackslash;
    t.cls['\''] = kPrime;
    t.cls['%'] = kPercent;
    const std::pair<char, TokenKind> singles[] = {
        {'~', TokenKind::Tilde},      {'{', TokenKind::LBrace},      {'}', TokenKind::RBrace},
        {'$', TokenKind::MathShift},  {'&', TokenKind::Ampersand},   {'#', TokenKind::Hash},
        {'^', TokenKind::Caret},      {'_', TokenKind::Underscore},  {'*', TokenKind::Star},
        {'[', TokenKind::LBracket},   {']', TokenKind::RBracket},
    };
    for (auto [ch, kind] : singles) {
        t.cls[static_cast<unsigned char>(ch)] = kSingle;
        t.single[static_cast<unsigned char>(ch)] = kind;
    }
    return t;
}

constexpr Tables kTables = make_tables();

constexpr bool is_ascii_letter(unsigned char b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; }
constexpr bool is_space_byte(unsigned char b) {
    return b == 0x20 || b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D;
}

}  // namespace

std::string LexError::message() const {
    return "Lexer error at byte offset " + std::to_string(span.start) + ".." + std::to_string(span.end);
}

namespace {

// One step of the lexer from `pos`: fills `tok` and `span` and says what was found.
// Shared by the cursor and the collector, inlined into both so that the collector's
// loop keeps its state in registers.
[[gnu::always_inline]] inline Lexer::Status lex_step(std::string_view text, std::size_t& pos, Token& tok,
                                                     Span& span) noexcept {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    using Status = Lexer::Status;

    // An ill-formed sequence at `start`: the error runs to the next non-continuation byte.
    auto bad_utf8 = [&](std::size_t start, std::size_t bad) {
        std::size_t end = bad + 1;
        while (end < n && (s[end] & 0xC0) == 0x80) ++end;
        pos = end;
        span = Span{start, end};
        return Status::Error;
    };

    for (;;) {
        if (pos >= n) {
            span = Span{n, n};
            return Status::End;
        }
        const std::size_t start = pos;
        const unsigned char b = s[start];
        switch (kTables.cls[b]) {
            case kChar:
                pos = start + 1;
                tok = Token::character(b);
                break;
            case kSingle:
                pos = start + 1;
                tok = Token::simple(kTables.single[b]);
                break;
            case kSpace:
            case kLeadC2: {
                if (b == 0xC2 && !(start + 1 < n && s[start + 1] == 0xA0)) goto multibyte;
                std::size_t i = start;
                for (;;) {
                    if (i < n && is_space_byte(s[i])) ++i;
                    else if (i + 1 < n && s[i] == 0xC2 && s[i + 1] == 0xA0) i += 2;
                    else break;
                }
                pos = i;
                tok = Token::simple(TokenKind::Whitespace);
                break;
            }
            case kPrime:
            case kLeadE2: {
                auto at_u2019 = [&](std::size_t i) {
                    return i + 2 < n && s[i] == 0xE2 && s[i + 1] == 0x80 && s[i + 2] == 0x99;
                };
                if (b == 0xE2 && !at_u2019(start)) goto multibyte;
                std::size_t i = start;
                std::size_t count = 0;
                for (;; ++count) {
                    if (i < n && s[i] == '\'') ++i;
                    else if (at_u2019(i)) i += 3;
                    else break;
                }
                pos = i;
                tok = Token::primes(count);
                break;
            }
            case kPercent: {
                // A comment runs to its line end (CR LF, LF or CR), which it consumes.
                std::size_t i = start + 1;
                while (i < n && s[i] != '\n' && s[i] != '\r') ++i;
                if (i < n) i += (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') ? 2 : 1;
                pos = i;
                continue;
            }
            case kBackslash: {
                const std::size_t i = start + 1;
                if (i >= n || s[i] == '\n') {
                    pos = i;
                    tok = Token::character(U'\\');
                    break;
                }
                if (is_ascii_letter(s[i])) {
                    std::size_t j = i + 1;
                    while (j < n && is_ascii_letter(s[j])) ++j;
                    pos = j;
                    tok = Token::control_seq(text.substr(i, j - i));
                    break;
                }
                char32_t c;
                const std::size_t len = utf8::decode(s + i, n - i, c);
                if (len == 0) return bad_utf8(start, i);
                pos = i + len;
                tok = Token::control_seq(text.substr(i, len));
                break;
            }
            case kRejected:
                pos = start + 1;
                span = Span{start, start + 1};
                return Status::Error;
            case kLeadOther:
            multibyte: {
                char32_t c;
                const std::size_t len = utf8::decode(s + start, n - start, c);
                if (len == 0) return bad_utf8(start, start);
                pos = start + len;
                tok = Token::character(c);
                break;
            }
            default:
                return bad_utf8(start, start);
        }
        span = Span{start, pos};
        return Status::Token;
    }
}

}  // namespace

Lexer::Step Lexer::next() noexcept {
    Step step{Status::End, Token{}, Span{}};
    step.status = lex_step(text_, pos_, step.token, step.span);
    return step;
}

std::optional<LexError> lex_into(std::string_view text, TokenStream& out) {
    out.tokens.clear();
    // A token takes at least one byte. Reserving the bound once avoids the
    // copies of geometric growth; pages of a large reservation that are
    // never written are never touched.
    out.tokens.reserve(text.size());
    out.source_len = text.size();
    std::size_t pos = 0;
    Token tok;
    Span span;
    for (;;) {
        const Lexer::Status status = lex_step(text, pos, tok, span);
        if (status == Lexer::Status::Token) {
            out.tokens.push_back(SpannedToken{tok, span});
        } else if (status == Lexer::Status::End) {
            return std::nullopt;
        } else {
            out.tokens.clear();
            return LexError{span};
        }
    }
}

std::variant<TokenStream, LexError> build_token_stream(std::string_view text) {
    TokenStream stream;
    if (auto err = lex_into(text, stream)) return *err;
    return stream;
}

}  // namespace quorvel::parse
