// The grammar: recursive-descent rules over the token stream of one parse,
// written against the runtime of input.hpp.
//
// One `Grammar` serves one (sub-)parse. Its rules return true with their
// result, or false after making sure the input keeps a failure. The content
// parsers of the two modes call each other (text arguments in math, inline
// math in text), so every recursive entry checks the remaining stack.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "knowledge/argspec.hpp"
#include "knowledge/knowledge_base.hpp"
#include "knowledge/packages.hpp"
#include "parse/config.hpp"
#include "parse/grammar/input.hpp"
#include "parse/grammar/tracked.hpp"
#include "parse/parser_state.hpp"
#include "parse/token.hpp"

namespace quorvel::parse::grammar {

struct ArgumentSession;
class EnvironmentIndex;

// Where error recovery must stop skipping, by the content an item stands in.
enum class HardStop : std::uint8_t {
    Math,              // `}`, `$`, \end, \right
    Text,              // `}`, `$`, \end
    MathControlParen,  // the math stops and \)
};

bool is_hard_stop(HardStop stop, const Token& token) noexcept;

// True at the end of input and for `}`, `$`, `]`, \end and \right: the points
// at which an enclosing construct, not the current one, ends a body.
bool is_outer_closing_boundary(const Token* next) noexcept;

// `&`, `\\` and `\cr`: each ends a cell of an alignment, which TeX sets as a
// group of its own. An infix command's operands end there, and a script
// after one has an empty base, as at the start of a list.
bool is_cell_separator(const SpannedToken* t) noexcept;

// How many `\buildrel` commands a math item carries where the `\over` of
// its cell can close one: the item itself, its base and its scripts (one
// no `\over` can close counts as two). TeX reads `\buildrel top \over rel`
// as one macro whose first argument runs to the first `\over` of its
// group, so only the first `\buildrel` before the `\over` that ends a
// cell's left items is closed; any other one is reported, as is one read
// as a command's unbraced argument.
std::size_t buildrels_carried(const SyntaxNode& item) noexcept;
inline constexpr std::string_view kUnclosedBuildrel = "\\buildrel without its \\over";

// source[start..end] when the range is ordered, inside the source and on
// character boundaries; otherwise the empty text.
std::string slice_snippet(std::string_view source, std::size_t start, std::size_t end);

// What a run whose work bound is spent makes of the tokens from `from` on:
// one Error node over them, but their white space at both ends, keeping
// their text, with the diagnostic "formula too complex to parse"; nothing
// when only white space is left.
std::optional<TrackedNode> too_complex_rest(std::string_view source, std::span<const SpannedToken> tokens,
                                            std::size_t from);

// Joins the pieces of one text chunk: a one-space piece right after another
// one-space piece is dropped, everything else is appended as it is.
class TextChunkJoiner {
public:
    void add(std::string_view piece) {
        const bool space = piece == " ";
        if (space && last_was_space_) return;
        text_.append(piece);
        last_was_space_ = space;
    }
    std::string take() { return std::move(text_); }

private:
    std::string text_;
    bool last_was_space_ = false;
};

// Which math content a rule reads: with or without item recovery, and whether
// it also stops before \) (the content of \(...\) inside text).
struct MathContentKind {
    bool recover = true;
    bool paren_stop = false;
};

class Grammar {
public:
    Grammar(ParserState& state, Input& input);
    Grammar(const Grammar&) = delete;
    Grammar& operator=(const Grammar&) = delete;

    Input& input() noexcept { return in_; }
    ParserState& state() noexcept { return st_; }

    // The list the top-level items of the run go into. When the run's fuel
    // is spent while it reads one of them, the items before it stay and the
    // rest of the input becomes one Error node (`too_complex_rest`); a quiet run
    // is abandoned instead.
    void set_top_level(const DecomposedChildren* top) noexcept { top_ = top; }
    static constexpr std::string_view kTooComplex = "formula too complex to parse";

    // ---- Content and groups -------------------------------------------------

    // The whole math content: items up to `}`, `$`, the end of input, \right,
    // \end or the extra stop, each cell split by one infix command; padded by
    // white space.
    // The items are appended to `out`, which holds nothing of use after a
    // failure.
    bool math_content(MathContentKind kind, DecomposedChildren& out);
    // Text items up to `}`, the end of input or \end; the white space before
    // the stop is left unconsumed.
    bool text_content(DecomposedChildren& out);
    // The space TeX sets before the stop at `at`, as an item of its own.
    void closing_space(std::size_t at, DecomposedChildren& out);
    // The content of a mode made one implicit group.
    bool math_group(MathContentKind kind, TrackedNode& out);
    bool text_group(TrackedNode& out);
    // The group parser of a mode: the main math content or the text content.
    bool content_block(ContentMode mode, TrackedNode& out);

    // The kinds of content the frame reads with this grammar's settings.
    MathContentKind main_math() const noexcept { return {recover_, false}; }
    MathContentKind paren_math(bool with_recovery) const noexcept { return {recover_ && with_recovery, true}; }

    // ---- Items -------------------------------------------------------------

    // One scripted atom padded by white space; no guard of its own.
    bool math_item_node(TrackedNode& out);
    // The math item that refuses to start at an infix command, \right or \end.
    bool math_item(TrackedNode& out);
    // A text atom that refuses to start at \end; its \(...\) content never
    // recovers.
    bool text_item(TrackedNode& out);
    bool mode_item(ContentMode mode, TrackedNode& out);

    // ---- Atoms -------------------------------------------------------------

    bool scripted_atom(TrackedNode& out);
    bool math_atom(TrackedNode& out);
    // `paren_recover`: whether the content of \(...\) recovers its items.
    bool text_atom(bool paren_recover, TrackedNode& out);
    bool braced_group(ContentMode mode, TrackedNode& out);
    // `one_token`: the chunk of an argument written without braces, which
    // TeX reads as one token.
    bool text_chunk(TrackedNode& out, bool one_token = false);
    // An argument written without braces: one token, or a text item.
    bool text_argument(TrackedNode& out);

    // ---- Commands ------------------------------------------------------------

    struct CommandHead {
        std::string_view name;
        const knowledge::ActiveCommandRecord* record = nullptr;
    };
    // Reads a control sequence known in `mode` with the expected kind.
    bool command_head(knowledge::CommandKind expected, ContentMode mode, CommandHead& out);
    bool prefix_command(ContentMode mode, TrackedNode& out);
    bool declarative_command(ContentMode mode, TrackedNode& out);
    // A look-ahead: the next token is a control word of kind infix in the
    // knowledge base of `mode` or, failing that, of the other mode.
    bool infix_guard(ContentMode mode) const noexcept;

    // ---- Rules built elsewhere -------------------------------------------------
    // The argument slots of a command, environment or infix command; a
    // `\left`...`\right` group after its `\left`; an environment after its
    // `\begin`; and the recovery wrapper around one content item.

    bool argument_slots(std::span<const knowledge::ArgSpec> specs, PatternId label,
                        std::vector<TrackedArgumentSlot>& out);
    // What the argument rules share across one parse and its argument
    // re-parses; made on first use, handed to the grammar of each re-parse.
    ArgumentSession& argument_session();
    ArgumentSession* argument_session_if_made() const noexcept { return argument_session_.get(); }
    // How the session, once made, treats the windows of arguments (see
    // `SharedContents`): each reader reads its own; the parse throws
    // `ContentsReadAgain` where it goes back over a window; or every outcome
    // is kept for the whole parse and the caller resolves the stand-ins in
    // the final tree. Set on the grammar of a whole parse.
    enum class Contents : std::uint8_t { Own, Watched, Shared };
    void set_contents(Contents contents) noexcept { contents_ = contents; }
    // A re-parse ends before its parent: it borrows the session without
    // counting a reference (no atomic operations per argument).
    void share_argument_session(const Grammar& parent) noexcept {
        argument_session_ = std::shared_ptr<ArgumentSession>(std::shared_ptr<ArgumentSession>(),
                                                             parent.argument_session_.get());
    }
    bool delimited_group(TrackedNode& out);
    bool environment(ContentMode mode, TrackedNode& out);
    // The first `\left` of the input that starts in [start, end] and is
    // followed by no delimiter of the math knowledge base: "invalid \left
    // delimiter" at that token (at the `\left` when nothing follows).
    // Answered from the stream's list of `\left` words: scanning the failed
    // item's text would read every level of a deep nesting once per level.
    std::optional<Failure> invalid_left_between(std::size_t start, std::size_t end);

    enum class ItemRule : std::uint8_t { MathItemNode, TextAtom };
    bool recoverable_item(ItemRule rule, HardStop stop, ContentMode mode, TrackedNode& out);
    // The item's run and recovery once failures are kept.
    bool recover_item(ItemRule rule, HardStop stop, ContentMode mode, TrackedNode& out);
    // After the item at `p` failed: its diagnostic, and the skip over the bad
    // content to an Error node (see `ItemSkip` in recovery.cpp).
    bool skip_failed_item(HardStop stop, ContentMode mode, std::size_t p, TrackedNode& out);
    friend class ItemSkip;

    // The source text an Error node keeps over `span`: deferred when long and
    // the parse resolves its tree at the end (see `SharedContents`), so that
    // a failure at every level of a nesting does not copy every level below.
    std::string error_text(Span span);

    // Counts recovery work against the parse's budget; inside an argument,
    // throws `ArgumentsTooComplex` once the budget is spent.
    void charge_recovery(std::size_t units);

    // Runs one item rule without recovery.
    bool run_item(ItemRule rule, bool paren_recover, TrackedNode& out);

    // ---- Small rules ---------------------------------------------------------

    // Skips white-space tokens; the refusal of the token after them is kept.
    // Inline, as the two below: every item and every operand calls them.
    [[gnu::always_inline]] void skip_ws() {
        in_.skip_whitespace();
        in_.expect(pattern::kSomethingElse);
    }
    // A look-ahead: after white space, the next token (null at the end).
    const SpannedToken* peek_after_ws() const noexcept { return in_.peek_after_whitespace(); }
    // Accepts exactly the control sequence `name`, else fails expecting `label`.
    bool control_seq(std::string_view name, PatternId label);

    const knowledge::KnowledgeBase& kb(ContentMode mode) const noexcept {
        return mode == ContentMode::Math ? math_kb_ : text_kb_;
    }
    // The math knowledge base's record of a control-sequence token (null for
    // none). The stop test, the atom and the command head ask about the same
    // token in turn, so the last answer is kept.
    const knowledge::ActiveCommandRecord* math_record(const SpannedToken& t) const noexcept {
        if (&t != last_math_token_) {
            last_math_token_ = &t;
            last_math_record_ = math_kb_.lookup_command(t.token.name());
        }
        return last_math_record_;
    }

private:
    bool math_item_in(MathContentKind kind, TrackedNode& out);
    // A top-level item of a run that keeps failures; true when it was read,
    // false when it failed or the rest of the input was given up (then
    // `gave_up` is set).
    [[gnu::noinline]] bool top_level_item(MathContentKind kind, std::size_t item_start, TrackedNode& out,
                                          DecomposedChildren& items, bool& gave_up);
    bool text_item_in(TrackedNode& out);
    // Whether `t`, the next token after white space, ends the items before
    // an infix command.
    bool left_stop_at(MathContentKind kind, const SpannedToken* t) const noexcept;
    bool right_stop_after_ws(MathContentKind kind) const noexcept;
    // One math content up to its infix command's right operand, without the
    // white space after it. `tail` is set to where the content goes on after a
    // `\buildrel` construction whose tail the caller must read.
    static constexpr std::size_t kNoTail = static_cast<std::size_t>(-1);
    bool content_level(MathContentKind kind, RuleScope& scope, DecomposedChildren& out, std::size_t& tail);
    // Whether a cell's left items hold a `\buildrel`, and the span of its
    // item: only the `\over` that ends them closes it, and that `\over` is
    // no infix but the end of the macro's first argument.
    struct OpenBuildrel {
        bool open = false;
        Span span;
    };
    // Notes a left item of the cell; false when no `\over` can close it.
    bool note_buildrel(const TrackedNode& item, OpenBuildrel& buildrel);
    bool unclosed_buildrel(RuleScope& scope, Span span);
    bool infix_step(MathContentKind kind, RuleScope& scope, std::size_t cell_start, DecomposedChildren& left,
                    const OpenBuildrel& buildrel, DecomposedChildren& out, std::size_t& tail);
    bool buildrel_tails(MathContentKind kind, RuleScope& outer, std::size_t tail, DecomposedChildren& out);

    struct ScriptedParts;
    // How a step of a scripted atom ended: with its result, with a failure of
    // its own (in the out-parameter), or with a sub-rule's failure left kept.
    enum class Step : std::uint8_t { Done, Own, PassedOn };
    bool empty_base(std::size_t before, RuleScope& scope, TrackedNode& out);
    // The script markers after a base in `out`, and the atom they make of it.
    bool scripts_after_base(RuleScope& scope, TrackedNode& out);
    Step scripted_components(ScriptedParts& parts, Failure& failure);
    void attach_scripts(ScriptedParts& parts, std::size_t start);
    bool script_failure(RuleScope& scope, Failure&& failure, TrackedNode& out);
    Step marker_failure(std::size_t marker, const char* message, Failure& failure);
    Step script_operand(PatternId label, TrackedNode& out, Failure& failure);
    bool braced_prime_group(TrackedNode& out);
    // Gives a quiet run up at a `{` (at index `open`) that nothing closes.
    void abandon_unclosed_group(std::size_t open);
    // Groups this deep are checked for a closing brace in a quiet run; no
    // ordinary formula nests so far.
    static constexpr std::size_t kQuietUnclosedCheckDepth = 256;

    bool escaped_symbol(TrackedNode& out);
    bool delimiter_control_command(TrackedNode& out);
    bool unknown_command(TrackedNode& out);
    bool active_space(TrackedNode& out);
    bool math_prime(TrackedNode& out);
    bool math_char(TrackedNode& out);
    bool environment_alternative(ContentMode mode, TrackedNode& out);
    bool inline_math_dollar(TrackedNode& out);
    bool inline_math_paren(bool recover, TrackedNode& out);
    bool text_script_refusal();
    bool command_rule(knowledge::CommandKind kind, ContentMode mode, TrackedNode& out);

    // `\(` in text reads its math content before it can see whether a `\)`
    // ends it; a run of them, none closed, would read the rest of the run
    // once per `\(`. The content from a token, at one depth and kind, always
    // reads the same: where a content read an item before its infix command,
    // if any, a content that starts at that item ends where the first one
    // ended. A `\(` whose content would end there without a `\)` fails
    // without reading it again.
    //
    // A run that keeps failures replays the failure the reading left, when
    // the reading left no recovery diagnostic behind. That failure lies at
    // the content's end or past it, where a reading from any of its items
    // records the same; the depth its groups reached bounds that of such a
    // reading from above, which keeps the recovery's memos on the safe side.
    struct ParenContentEnd {
        std::size_t end = 0;  // where the content ended, after its white space
        std::size_t depth = 0;
        bool recover = false;
        // In a run that keeps failures: the failure the content's reading
        // left, from an empty slot; null in a quiet run.
        std::shared_ptr<const Input::Located> left;
        std::size_t rise = 0;  // how far below `depth` its groups reached
    };
    const ParenContentEnd* paren_content_fails(std::size_t content_start, MathContentKind kind) const noexcept;
    // By the start of an item, made on the first content kept: a window's
    // grammar never pays for the window's length, nor a formula without
    // `\(` in text for any of it.
    std::unique_ptr<std::unordered_map<std::size_t, ParenContentEnd>> paren_ends_;
    // Where the items of the content being read for a `\(` start (and where
    // they stop); its outermost level takes it.
    std::vector<std::size_t>* paren_item_starts_ = nullptr;

    ParserState& st_;
    Input& in_;
    const knowledge::KnowledgeBase& math_kb_;
    const knowledge::KnowledgeBase& text_kb_;
    bool recover_;
    bool reject_unknown_;
    std::shared_ptr<ArgumentSession> argument_session_;
    Contents contents_ = Contents::Own;
    const DecomposedChildren* top_ = nullptr;
    // The environment headers of this grammar's input, indexed when a
    // recovery first asks (see `ItemSkip::environments`).
    std::shared_ptr<const EnvironmentIndex> environments_;
    mutable const SpannedToken* last_math_token_ = nullptr;
    mutable const knowledge::ActiveCommandRecord* last_math_record_ = nullptr;
};

}  // namespace quorvel::parse::grammar
