// The rewordings of a converted diagnostic that a look at the source's tokens
// allows: an environment used in the wrong mode, a mismatched `\end`, an
// unknown environment named in the message, the contexts of a bad `\left`,
// and the span of an argument that failed validation.
//
// Each step asks a question about the whole token stream that does not depend
// on the diagnostic, or only through a lookup; `SourceFacts` answers them from
// tables built on first need and shared by every diagnostic of one parse, so
// a parse with many diagnostics stays linear.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "parse/context.hpp"
#include "parse/diagnostic_kind.hpp"
#include "parse/diagnostics.hpp"
#include "parse/lexer.hpp"

namespace quorvel::parse {

class SourceFacts {
public:
    SourceFacts(const ParseContext& context, std::string_view source, const TokenStream& tokens) noexcept
        : context_(context), source_(source), stream_(tokens), tokens_(tokens.tokens) {}
    SourceFacts(const SourceFacts&) = delete;
    SourceFacts& operator=(const SourceFacts&) = delete;

    const ParseContext& context() const noexcept { return context_; }
    std::string_view source() const noexcept { return source_; }
    const TokenStream& stream() const noexcept { return stream_; }
    const std::vector<SpannedToken>& tokens() const noexcept { return tokens_; }

    // A complete `\begin{name}` header.
    struct BeginHeader {
        std::size_t begin_start;
        Span close;  // the `}`
        std::string name;
    };
    // The complete `\begin` headers before the first one whose braces hold
    // another token or that the end cuts off; the first of them whose `}`
    // starts at `start` or ends at `end`.
    const BeginHeader* begin_header_closing_at(std::size_t start, std::size_t end);
    // The first of those headers whose name exactly one mode knows.
    const BeginHeader* first_single_mode_begin_header();

    // An `\end{N}` that meets another open environment E in the walk where a
    // mismatched `\end` is passed over; keyed by the span of its `}`.
    struct MismatchedEnd {
        Span marker;  // from `\end` to its `}`
        std::string expected;
        std::string found;
    };
    const MismatchedEnd* mismatched_end_closing_at(Span close);

    // The first `\left` of the source followed by no delimiter: from its start
    // to the end of the token after it (of itself when none follows), and the
    // start of the innermost environment body open there.
    struct InvalidLeft {
        Span group;
        std::optional<std::size_t> body_start;
    };
    const std::optional<InvalidLeft>& first_invalid_left();

    // The innermost environment left open at the end of the source; null when
    // none is.
    const std::string* innermost_open_environment();

    // Whether the source from `start` to `end` holds a `%` that no backslash
    // escapes (`has_unescaped_percent` of that slice), in logarithmic time.
    bool has_unescaped_percent_in(std::size_t start, std::size_t end);

    // The closing token matching the `{` or `[` at token index `open`.
    std::optional<std::size_t> matching_close(std::size_t open);

    // The index of the first token that starts at or after `offset`, and of the
    // first one that ends after it.
    std::size_t first_token_starting_at(std::size_t offset) const noexcept;
    std::size_t first_token_ending_after(std::size_t offset) const noexcept;

private:
    void build_begin_headers();
    void build_mismatched_ends();
    std::optional<std::size_t> bracket_match(std::size_t open) const;

    const ParseContext& context_;
    std::string_view source_;
    const TokenStream& stream_;
    const std::vector<SpannedToken>& tokens_;

    bool begin_headers_built_ = false;
    std::vector<BeginHeader> begin_headers_;
    std::unordered_map<std::size_t, std::size_t> begin_by_close_start_;
    std::unordered_map<std::size_t, std::size_t> begin_by_close_end_;
    std::optional<std::optional<std::size_t>> single_mode_begin_;

    bool mismatched_ends_built_ = false;
    std::unordered_map<std::size_t, MismatchedEnd> mismatched_ends_;

    bool invalid_left_built_ = false;
    std::optional<InvalidLeft> invalid_left_;

    std::optional<std::optional<std::string>> innermost_open_;

    // The runs of backslashes as [start, end) pairs, and the positions of the
    // `%` that an even number of backslashes precedes.
    bool percents_built_ = false;
    std::vector<std::pair<std::size_t, std::size_t>> backslash_runs_;
    std::vector<std::size_t> unescaped_percents_;

    std::vector<std::size_t> brace_match_;  // per token; npos when unmatched
    std::unordered_map<std::size_t, std::optional<std::size_t>> bracket_match_;
};

// The steps of the supplement that follow the end-of-input rewordings. True
// when it rewrote a diagnostic of an environment in the wrong mode.
bool supplement_from_source(SourceFacts& facts, std::optional<ParseDiagnosticKind> kind, bool had_direct,
                            ParseDiagnostic& d);

}  // namespace quorvel::parse
