#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "parse/span.hpp"
#include "parse/token.hpp"

namespace quorvel::parse {

struct SpannedToken {
    Token token;
    Span span;
};

// A byte the lexer has no token for: a rejected control character outside a comment
// and not right after a backslash, or a sequence that is not well-formed UTF-8 (the
// span then runs from the bad byte up to the next byte that is not a continuation
// byte; after a backslash it includes the backslash). A parse reports it as one
// diagnostic with `message()` and no kind.
struct LexError {
    Span span;

    friend bool operator==(const LexError&, const LexError&) = default;

    // "Lexer error at byte offset {start}..{end}"
    std::string message() const;
};

// A cursor over one text. Each step yields the next token with its span, a lexer
// error with its span, or the end. Comments are skipped through their line end. The
// lexer never stops on bad input: after an error it resumes behind the error's span.
// Tokens point into the text, which must outlive them.
class Lexer {
public:
    enum class Status : unsigned char { Token, Error, End };
    struct Step {
        Status status;
        Token token;  // meaningful for Status::Token
        Span span;    // the token's or the error's span; (n, n) at the end
    };

    explicit Lexer(std::string_view text) noexcept : text_(text) {}

    Step next() noexcept;
    // Byte offset where the next step starts reading.
    std::size_t offset() const noexcept { return pos_; }
    std::string_view text() const noexcept { return text_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

// The token vector of one whole text, with the end-of-input point.
struct TokenStream {
    std::vector<SpannedToken> tokens;
    std::size_t source_len = 0;

    // The span the end of input carries: (n, n), n the text's length in bytes.
    Span end_span() const { return {source_len, source_len}; }
};

// Lexes `text` from its start into `out` (replacing its contents, reusing its storage).
// Stops at the first lexer error, which is returned; `out.tokens` is then empty.
std::optional<LexError> lex_into(std::string_view text, TokenStream& out);

// The collector the grammar reads: the whole text's tokens, or the first lexer error.
std::variant<TokenStream, LexError> build_token_stream(std::string_view text);

}  // namespace quorvel::parse
