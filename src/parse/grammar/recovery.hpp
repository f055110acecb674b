// Helpers of environments and of the error recovery of content items: the
// environment-name rule and header peeks, the hard-stop look-ahead, the
// environment stacks of the token stream, and the wording of recovery
// diagnostics.
//
// The recovery scans walk the token stream of the running input (the whole
// source, or the window of a re-parsed argument), never a fresh lex: the
// `EnvironmentIndex` is built once per grammar and answers every scan in
// logarithmic or amortised constant time, so a formula with thousands of
// failed items stays linear.
#pragma once

#include <algorithm>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "knowledge/knowledge_base.hpp"
#include "parse/context.hpp"
#include "parse/diagnostic_kind.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/input.hpp"
#include "parse/lexer.hpp"

namespace quorvel::parse::grammar {

// The environment name rule: `{`, one or more name tokens (a character gives
// itself, `*` gives "*"), `}`, labelled "environment name". On failure the
// cursor stays where the rule stopped.
bool environment_name(Input& in, std::string& name);

// Consumes `\keyword`, white space and a braced name and answers true; answers
// false with the input and the kept failure unchanged otherwise.
bool consume_environment_marker(Input& in, std::string_view keyword);

// The `\begin{name}` / `\end{name}` headers of one token stream.
class EnvironmentIndex {
public:
    EnvironmentIndex(const SpannedToken* tokens, std::size_t count);
    // The same, given the indices (ascending) of the tokens that are `\begin`
    // or `\end` control words: a window of a long stream finds its own in the
    // stream's list instead of reading every token.
    EnvironmentIndex(const SpannedToken* tokens, std::size_t count, std::span<const std::size_t> controls);

    // The environments opened and not yet closed by the tokens that start
    // before `offset`, outermost first: `\begin{N}` pushes N, `\end{N}` removes
    // the topmost N and everything above it (nothing when N is not open). A
    // header cut off by the offset counts with the name characters before it.
    // Takes time in the depth of the stack; the two questions below answer in
    // logarithmic time, so that recovery stays linear under deep unclosed
    // nesting.
    std::vector<std::string> stack_before(std::size_t offset) const;
    // Whether `name` is in `stack_before(offset)`.
    bool is_open_before(std::size_t offset, std::string_view name) const;
    // Whether `name` is the last (innermost) entry of `stack_before(offset)`.
    bool is_innermost_before(std::size_t offset, std::string_view name) const;

    struct Mismatch {
        std::string expected;  // the innermost open environment
        std::string found;     // the name of the `\end`
    };
    // Walks the headers of the tokens from `offset` on with an empty stack,
    // where an `\end` with an empty stack is ignored and one equal to the top
    // pops it: the first `\end` that differs from the top.
    std::optional<Mismatch> first_mismatch_from(std::size_t offset) const;

    // For a `\begin` header whose control word is token `begin`: the token
    // after the `}` of the `\end` header that closes it (the strict walk's
    // pairing), or none.
    std::optional<std::size_t> after_closing_end(std::size_t begin) const;

private:
    struct Header {
        std::size_t control;  // token index of `\begin` / `\end`
        std::size_t close;    // token index of `}`; the token count when cut off by the end
        bool begin;
        std::string name;
    };
    // Every `\begin` / `\end` control word: its readable header (or none) and
    // the stack state (a node of `nodes_`) before and after it.
    struct Control {
        std::size_t token;
        std::size_t header;
        std::size_t before;
        std::size_t after;
    };
    // A persistent stack: each node names the header that pushed it.
    struct StackNode {
        std::size_t header;
        std::size_t parent;
        std::size_t depth;  // entries from the bottom up to this one
    };
    // The entries of one name on the stack after control `control`: the
    // bottommost and the topmost (kEmpty when there are none).
    struct NameEntries {
        std::size_t control;
        std::size_t bottom;
        std::size_t top;
    };
    // The stack before an offset: the state after the first `controls`
    // controls, then the header cut off by the offset, if any.
    struct Position {
        std::size_t controls;
        std::optional<Header> cut;
    };
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
    };
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    static constexpr std::size_t kEmpty = 0;  // the node of the empty stack

    // The header at token `i` read with only the tokens before `limit`.
    std::optional<Header> read(std::size_t i, std::size_t limit) const;
    std::size_t first_token_at_or_after(std::size_t offset) const;
    Position position_before(std::size_t offset) const;
    // The entries of `name` after the first `controls` controls.
    NameEntries entries_of(std::string_view name, std::size_t controls) const;
    std::string_view name_of(std::size_t node) const { return headers_[nodes_[node].header].name; }
    void build_stacks();
    void build_walks();

    const SpannedToken* tokens_;
    std::size_t count_;
    std::vector<Header> headers_;  // the readable headers, in order
    std::vector<Control> controls_;
    std::vector<StackNode> nodes_;  // node 0 is the empty stack
    // Per name, each change of its entries along the controls, in order.
    std::unordered_map<std::string, std::vector<NameEntries>, NameHash, std::equal_to<>> entries_;
    std::vector<Mismatch> mismatches_;
    // Per header, and one past the last: the index into `mismatches_` of what
    // the strict walk starting there finds, or kNone.
    std::vector<std::size_t> walk_from_;
    // Per header: the `\end` header that closes a `\begin` in the strict
    // walk, or kNone.
    std::vector<std::size_t> closed_at_;
};

// Rewords a raw expected/found failure at an environment header of the
// other mode, or at a mismatched `\end`; every other kind comes back as it
// is. `snippet` is the source from the item's start; `index` (asked only
// for a raw failure) and `snippet_offset` give the headers of the same text.
using EnvironmentIndexSource = std::function<const EnvironmentIndex&()>;
std::pair<std::string, std::optional<ParseDiagnosticKind>> normalize_recovery_message(
    const ParseContext& context, ContentMode mode, std::string_view snippet, const EnvironmentIndexSource& index,
    std::size_t snippet_offset, std::string message, std::optional<ParseDiagnosticKind> kind);

// The failure a recovery records for `failure` with the final message and kind.
Failure recovery_diagnostic_from_error(Failure failure, std::string_view message,
                                       std::optional<ParseDiagnosticKind> kind);

// Test only: makes every recovery skip of this thread go token by token,
// without the passes that take a group, an environment or a stretch of
// opening levels in one step. Those passes are shortcuts and must change no
// result; the tests compare both ways.
void set_stepwise_recovery_skip(bool on) noexcept;

// Whether the token after `\left` (or `\right`) is a delimiter of the math
// knowledge base, as the recovery scans and the diagnostics see it.
bool is_delimiter_token(const knowledge::KnowledgeBase& math, const Token& token);

}  // namespace quorvel::parse::grammar
