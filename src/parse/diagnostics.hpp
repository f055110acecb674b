// User-facing parse diagnostics: the conversion of a grammar failure into a
// diagnostic (message, span, expected and found texts, contexts, kind) with a
// sort rank, and the plainer wordings the source text allows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "parse/context.hpp"
#include "parse/diagnostic_kind.hpp"
#include "parse/failure.hpp"
#include "parse/lexer.hpp"
#include "parse/span.hpp"

namespace quorvel::parse {

struct ParseDiagnosticContext {
    std::string label;
    Span span;

    friend bool operator==(const ParseDiagnosticContext&, const ParseDiagnosticContext&) = default;
};

struct ParseDiagnostic {
    std::optional<ParseDiagnosticKind> kind;
    std::string message;
    Span span;
    std::vector<std::string> expected;
    std::optional<std::string> found;  // none at the end of input or for a message failure
    std::vector<ParseDiagnosticContext> contexts;

    friend bool operator==(const ParseDiagnostic&, const ParseDiagnostic&) = default;
};

// The sort rank of a kind (smaller sorts first). A raw expected/found failure
// at the end of input ranks 3, or 4 when the supplement reworded it.
std::uint8_t diagnostic_rank(std::optional<ParseDiagnosticKind> kind, bool raw_at_end_of_input_supplemented,
                             bool at_end_of_input);

struct RankedDiagnostic {
    std::uint8_t rank;
    ParseDiagnostic diagnostic;
};

// Converts one failure of a parse of `source`. `tokens` is the token stream of
// that parse (the source is not lexed again).
RankedDiagnostic convert_diagnostic(const ParseContext& context, std::string_view source,
                                    const TokenStream& tokens, ParseFailure failure);
// The same, sharing what the source-based rewordings learn about the tokens
// across all diagnostics of one parse (made over the same context, source and
// tokens).
class SourceFacts;
RankedDiagnostic convert_diagnostic(SourceFacts& facts, ParseFailure failure);

// True when a `%` occurs that no backslash escapes.
bool has_unescaped_percent(std::string_view text);

}  // namespace quorvel::parse
