// The argument rules: token collection, values by kind, and the re-parse of
// content arguments, with the per-parse state they share.
//
// A collected argument is a window of the token stream: the tokens between
// its opening and its closing token, and the bytes between the end of the one
// and the start of the other. Content is re-parsed over that window in
// whole-source coordinates, so spans and the positions written into messages
// are true source positions, and the tokens are exactly those collected.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "knowledge/argspec.hpp"
#include "knowledge/knowledge_base.hpp"
#include "parse/grammar/grammar.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::parse::grammar {

// Tokens [first, last) of the collecting input, between byte `start` (the end
// of the opening token) and byte `end` (the start of the closing token).
struct Collected {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t start = 0;
    std::size_t end = 0;
};

// One run of the content-block parser over a window.
struct SubParse {
    bool ok = false;
    TrackedNode node;
    // The run's recovery entries, then its failure when it failed.
    std::vector<ParseFailure> failures;
    // How many of the window's tokens the run consumed.
    std::size_t consumed = 0;
};

// What the argument rules share across one parse and all its re-parses.
struct ArgumentSession {
    explicit ArgumentSession(const Input& root);

    // The token stream of the whole source; every window lies inside it.
    const SpannedToken* base;
    std::size_t count;

    // The index of the closing token of the group an opening token at
    // `index` starts, in the whole stream; none when it is never closed.
    // Built once per delimiter pair, so nested arguments are collected in
    // constant time and the work stays linear in the nesting.
    std::optional<std::size_t> brace_match(std::size_t index);
    std::optional<std::size_t> pair_match(const knowledge::DelimiterToken& open,
                                          const knowledge::DelimiterToken& close, std::size_t index);

    // The stream index of a token of a window.
    std::optional<std::size_t> index_of(const SpannedToken* token) const noexcept {
        if (token == nullptr || token < base || token >= base + count) return std::nullopt;
        return static_cast<std::size_t>(token - base);
    }

    // Re-parses are pure in their window, mode and end-of-input requirement,
    // and repeat only when an enclosing re-parse retries on a prefix; while
    // such a retry runs, results are kept so that no window is parsed more
    // than twice whatever the nesting.
    struct MemoKey {
        const SpannedToken* first;
        std::size_t count;
        std::size_t start;
        std::size_t end;
        ContentMode mode;
        bool require_end;
        bool operator==(const MemoKey&) const = default;
    };
    struct MemoKeyHash {
        std::size_t operator()(const MemoKey& k) const noexcept;
    };
    std::unordered_map<MemoKey, SubParse, MemoKeyHash> memo;
    std::size_t retry_depth = 0;
    // How many windows are being read, one inside the other, and that count
    // where the innermost retry on a prefix started.
    std::size_t window_depth = 0;
    std::size_t retry_base = 0;
    struct WindowLevel {
        explicit WindowLevel(ArgumentSession& s) noexcept : session(s) { ++session.window_depth; }
        ~WindowLevel() { --session.window_depth; }
        WindowLevel(const WindowLevel&) = delete;
        WindowLevel& operator=(const WindowLevel&) = delete;
        ArgumentSession& session;
    };

private:
    struct MatchTable {
        knowledge::DelimiterToken open;
        knowledge::DelimiterToken close;
        std::vector<std::uint32_t> match;
    };
    std::vector<MatchTable> tables_;
    // Braces, by far the most collected pair, have a table of their own.
    std::vector<std::uint32_t> braces_;
    std::optional<std::size_t> lookup(const knowledge::DelimiterToken& open, const knowledge::DelimiterToken& close,
                                      std::size_t index);
};

// ---- Token collection ------------------------------------------------------------

// Whether a token is the delimiter a spec names: `[`, `]`, `{` and `}` are
// their own tokens, another character a plain character token, a name a
// control sequence of that name.
bool matches_delimiter(const Token& token, const knowledge::DelimiterToken& delimiter) noexcept;
syntax::syntax_node::Delimiter to_syntax_delimiter(const knowledge::DelimiterToken& delimiter);

// The collectors consume the argument with its opening and closing tokens.
// A failure is a custom failure from the collector's start to where it
// stopped, returned in `failure`; the input stays there.
bool collect_braced_tokens(Grammar& g, Collected& out, Failure& failure);
enum class Bracketed : std::uint8_t { Absent, Collected, Failed };
// `[`...`]`: braces nest and hide `]`; brackets do not nest.
Bracketed collect_optional_bracketed_tokens(Grammar& g, Collected& out, Failure& failure);
bool collect_delimited_tokens(Grammar& g, const knowledge::DelimiterToken& open,
                              const knowledge::DelimiterToken& close, Collected& out, Failure& failure);

// The tokens written back as text: one space per white-space token, a
// control sequence as a backslash and its name.
std::string tokens_to_string(std::span<const SpannedToken> tokens);
std::span<const SpannedToken> window_tokens(const Input& in, const Collected& c) noexcept;

// ---- Values ---------------------------------------------------------------------

// The delimiter selector: one token the math knowledge base holds as a
// delimiter; refuses every other token, expecting "delimiter".
bool read_delimiter(Input& in, const knowledge::KnowledgeBase& math, syntax::syntax_node::Delimiter& out);
// Token-level values over plain characters. A dimension fails with "invalid
// dimension" or "unsupported dimension unit"; an integer never fails.
bool read_dimension(Input& in, std::string& out);
void read_integer(Input& in, std::string& out);

// Nothing when the key-value text is well formed, else the reason.
std::optional<std::string_view> validate_keyval(std::string_view text);
// Unicode white space removed at both ends.
std::string_view trim_white_space(std::string_view text) noexcept;

// The value of a `Group`, `Delimited` or `Paired` slot of a scalar kind. On
// failure the message is reported at the next token of the running input.
bool parse_delimited_value(Grammar& g, knowledge::ArgValueKind kind, const Collected& c, bool nullable,
                           syntax::syntax_node::ArgumentValue& out, Failure& failure);
// A control-sequence name: the text of tokens holding no control sequence.
bool parse_tokens_as_cs_name(Grammar& g, std::span<const SpannedToken> tokens, std::string& out, Failure& failure);

// ---- Content ------------------------------------------------------------------

// The content of a collected argument read in `mode`: a node (an `Error`
// node when nothing can be read and unknown commands are not rejected), or
// the slot's failure.
bool parse_tokens_as_content(Grammar& g, ContentMode mode, const Collected& c, TrackedNode& out, Failure& failure);

// A content node as the argument value of a content kind.
syntax::syntax_node::ArgumentValue argument_content_value_for_kind(knowledge::ArgValueKind kind, SyntaxNode node);

}  // namespace quorvel::parse::grammar
