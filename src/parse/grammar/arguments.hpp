// The argument rules: token collection, values by kind, and the re-parse of
// content arguments, with the per-parse state they share.
//
// A collected argument is a window of the token stream: the tokens between
// its opening and its closing token, and the bytes between the end of the one
// and the start of the other. Content is re-parsed over that window in
// whole-source coordinates, so spans and the positions written into messages
// are true source positions, and the tokens are exactly those collected.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <memory>
#include <memory_resource>
#include <unordered_map>
#include <vector>

#include "knowledge/argspec.hpp"
#include "knowledge/knowledge_base.hpp"
#include "parse/grammar/grammar.hpp"
#include "syntax/syntax_node.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse::grammar {

// Tokens [first, last) of the collecting input, between byte `start` (the end
// of the opening token) and byte `end` (the start of the closing token).
struct Collected {
    std::size_t first = 0;
    std::size_t last = 0;
    std::size_t start = 0;
    std::size_t end = 0;
};

// Thrown inside the re-parse of an argument once the recovery budget of the
// parse is spent; the argument's reader reads the window again without
// recovery, and gives it up when it fails there.
struct ArgumentsTooComplex {};

namespace detail {
// The recovery budget's size on this thread: units per token and the floor.
// Tests make it small to spend it with short inputs.
struct RecoveryBudgetScale {
    std::size_t per_token = 16;
    std::size_t floor = std::size_t{1} << 13;
};
inline thread_local constinit RecoveryBudgetScale recovery_budget_scale{};
}  // namespace detail

// Thrown when a watched parse reads a window again; the parse is run again
// with the windows' outcomes shared (see `SharedContents::watch`).
struct ContentsReadAgain {};

// What a content argument's window reads as. The reading is a function of the
// window, its mode and the parse's settings alone: a failed item around it
// and the retry of an enclosing argument on a prefix read it again, and
// unclosed nesting makes every level do so.
struct ContentOutcome {
    enum class Kind : std::uint8_t {
        Node,        // the content (an `Error` node when it cannot be read)
        Chosen,      // with unknown commands rejected: the slot fails with `chosen`
        Unreadable,  // no node and no failure to report
    };
    Kind kind = Kind::Node;
    TrackedNode node;
    // Rare: kept out of line, so that the many kept outcomes stay small.
    std::unique_ptr<ParseFailure> chosen;
};

// The outcomes of the windows one parse read, each kept once. A reader gets a
// stand-in of constant size: its node and span tree refer to the kept
// outcome by number, and its failures share the kept list. The parse puts the
// kept nodes and span trees in place of their stand-ins once the whole tree
// is read (`resolve`), where each window of the final tree stands once; a
// reading that was given up never costs a copy.
class SharedContents {
public:
    struct Key {
        const SpannedToken* first;
        std::size_t count;
        std::size_t start;
        std::size_t end;
        ContentMode mode;
        bool operator==(const Key&) const = default;
    };

    // On in the parse that resolves the stand-ins at its end; elsewhere every
    // reader reads its window itself. The stream's length sets the recovery
    // budget.
    bool enabled() const noexcept { return enabled_; }
    void enable(std::string_view source, const SpannedToken* tokens, std::size_t count) noexcept {
        enabled_ = true;
        source_ = source;
        tokens_ = tokens;
        token_count_ = count;
        budget_ = detail::linear_budget(detail::recovery_budget_scale.per_token, count,
                                        detail::recovery_budget_scale.floor);
    }

    // Off, a parse reads windows in the order of their first tokens until it
    // goes back over one it has read; then `note_read` throws
    // `ContentsReadAgain`, for the caller to run the parse again with the
    // outcomes shared. A parse that never goes back takes no stand-ins and
    // no resolving walk.
    void watch() noexcept { watching_ = true; }
    void note_read(const SpannedToken* first) {
        if (!watching_) return;
        if (last_first_ != nullptr && first <= last_first_) throw ContentsReadAgain{};
        last_first_ = first;
    }

    // The texts Error nodes keep: written at once when short or when sharing
    // is off, else a marker that `resolve` replaces. A failed item or an
    // unreadable argument keeps all the text it covers, which under unclosed
    // nesting holds every level below; only the few that stay in the final
    // tree are written. `source_text` is `slice_snippet` of the source,
    // `token_text` is `tokens_to_string`.
    std::string source_text(std::string_view source, std::size_t start, std::size_t end);
    std::string token_text(std::span<const SpannedToken> tokens);

    // The recovery of failed items, counted over the whole parse: an item
    // run, a step of the skip after a failed item, or an environment header
    // an argument indexes, is one unit. Reading each
    // window once keeps nearly every input to a few units per token, but a
    // retry on a prefix reads the levels cut by the prefix at its own level,
    // and a failed item's skip reads the levels it passes; unclosed nesting
    // of both can still cost a unit per token per level. Past the budget the
    // window being read, and every one read after, is read without recovery
    // (`ArgumentsTooComplex`): one that fails there is given up.
    void charge(std::size_t units) noexcept { work_ += units; }
    bool exhausted() const noexcept { return enabled_ && work_ > budget_; }

    // The number of a kept outcome.
    std::optional<std::size_t> find(const Key& key) const;
    // Keeps an outcome and answers its number; none when the numbers of the
    // stand-ins run out.
    std::optional<std::size_t> keep(const Key& key, ContentOutcome&& outcome);
    const ContentOutcome& outcome(std::size_t number) const { return entries_[number].outcome; }
    // A stand-in of a kept `Node` outcome, for one reader.
    TrackedNode stand_in(std::size_t number) const;

    // Puts the kept contents in place of every stand-in in the items, and in
    // the contents put in place.
    void resolve(DecomposedChildren& items);

private:
    struct Entry {
        ContentOutcome outcome;
        Key key;
        // The entry kept before it for the same first token, plus one (0 for
        // none).
        std::uint32_t next = 0;
        // Put in place: each window stands once in the final tree.
        bool placed = false;
    };
    // The index in the stream of a key's first token.
    std::optional<std::size_t> slot_of(const Key& key) const noexcept {
        if (key.first == nullptr || key.first < tokens_ || key.first >= tokens_ + token_count_) return std::nullopt;
        return static_cast<std::size_t>(key.first - tokens_);
    }
    void resolve_tree(SyntaxNode& root, SpanTree* root_spans);
    // A marker for a text written later; none when there is no room for one.
    std::optional<std::string> defer(const SpannedToken* tokens, std::size_t count, Span span);
    void write_deferred(syntax::CompactString& text) const;

    // What a deferred text is: the text of `count` tokens from `tokens`, or
    // when `tokens` is null the source's bytes in `span`.
    struct Deferred {
        const SpannedToken* tokens;
        std::size_t count;
        Span span;
    };

    bool enabled_ = false;
    bool watching_ = false;
    const SpannedToken* last_first_ = nullptr;
    std::string_view source_;
    const SpannedToken* tokens_ = nullptr;
    std::size_t token_count_ = 0;
    std::vector<Deferred> deferred_;
    std::size_t work_ = 0;
    std::size_t budget_ = 0;
    // Per token of the stream, the newest entry whose window starts there,
    // plus one: a window is known by its first token and, rarely, its extent
    // and mode. Made on the first kept outcome.
    std::vector<std::uint32_t> newest_;
    std::deque<Entry> entries_;
};

struct ArgumentSession;

// The recovery skip of one mode as the stream's tokens steer it, `kb` being
// that mode's knowledge base: a command steers the skip when its record there
// has a text slot, as the skip reads only that record. Each token is
// classified once by what it does to the skip (`Role`); the tables, and so
// every pass of the skip over more than one token, are derived from that.
class SkipTable {
public:
    enum OpenerKind : std::uint8_t { OpensBrace, OpensLeft, OpensEnvironment, OpensNothing };

    SkipTable(ArgumentSession& session, const knowledge::KnowledgeBase& kb);

    // What a token does to the skip. A `\begin` or `\end` control word
    // whose header does not read has `kBadHeader`.
    enum Role : std::uint16_t {
        kOpenBrace = 1 << 0,
        kCloseBrace = 1 << 1,
        kOpenBracket = 1 << 2,
        kCloseBracket = 1 << 3,
        kMathShift = 1 << 4,
        kParen = 1 << 5,  // `\)`
        kLeft = 1 << 6,
        kRight = 1 << 7,
        kBegin = 1 << 8,
        kEnd = 1 << 9,
        kBadHeader = 1 << 10,
        kTextBody = 1 << 11,   // the `\begin` of an environment with a text body, taken whole
        kTextSlots = 1 << 12,  // a command with a text slot, taken with its slots
        kScanSlots = 1 << 13,  // ... one of which the skip scans
    };
    // The role of `t[0]`, its header read within the `count` tokens from
    // it; `close` is set to the index of a readable header's `}`. The skip
    // steps by it, and the tables are made of it.
    static std::uint16_t role_of(const SpannedToken* t, std::size_t count, const knowledge::KnowledgeBase& kb,
                                 std::size_t* close = nullptr);

    // Whether the stream's tokens [from, to) hold nothing that stops or
    // steers the skip inside a closed group: no `$`, \begin, \end, \left,
    // \right, \) or command whose text slots the skip scans (an optional
    // bracket or a delimited form).
    bool plain_between(std::size_t from, std::size_t to) const {
        return from <= to && to <= steering_before_.size() - 1 && steering_before_[to] == steering_before_[from];
    }

    // From `index`, the end of the stretch of tokens the skip, once it has
    // taken a token, passes one after another without stopping or steering:
    // white space, characters, commands without a text argument, `[`, plain
    // braced groups (holding nothing `plain_between` finds) and inert
    // environments (whose body the skip would pass without stopping or
    // steering, with balanced braces), each passed whole, and the levels it
    // opens: `{` that opens no plain group, `\left`, and readable `\begin`
    // headers of environments without a text body. These are the openers
    // among the stream's tokens [index, end), so the skip keeps them as that
    // range (see `openers_before`). A paired or delimited argument closes on
    // a token the stretch passes, so the stream's stretch can run past a
    // window ending before `limit`: it is cut there, and the window's skip
    // passes the rest of the window at once. None when the stretch passes
    // whole some opener that the count by index would take for its own (it
    // starts inside an inert environment).
    std::optional<std::size_t> stretch_end(std::size_t index, std::size_t limit) const;
    // The stream's stretch from `index`, uncut.
    std::size_t stretch_to(std::size_t index) const { return stretch_end_[index]; }
    // How many levels of `kind` the openers among tokens [0, index) open, not
    // counting those inside inert environments.
    std::size_t openers_before(OpenerKind kind, std::size_t index) const { return opener_prefix_[kind][index]; }
    // In [from, to): the opener of `kind` with `nth` of them from it to `to`
    // (nth >= 1, and at least that many in the range).
    std::size_t nth_opener_from_top(OpenerKind kind, std::size_t from, std::size_t to, std::size_t nth) const;

    // From a `}` at `index`: the `n`-th `}` of the stretch from there made of
    // `}` tokens, of what a stretch passes without opening a level and, with
    // `parens_pass`, of `\)` (which a skip that does not stop there passes as
    // any token), taking only those before stream index `limit`. Answers the
    // index after that `}` and how many that is; none when no `}` stands at
    // `index`, or one that a plain group or an inert environment encloses.
    // The skip passes such a run in one step while it has brace levels for
    // each `}` to close.
    struct CloserRun {
        std::size_t end;
        std::size_t nth;
    };
    std::optional<CloserRun> closer_run(std::size_t index, std::size_t n, std::size_t limit, bool parens_pass) const;

    // From a readable `\end{..}` header whose control word is at `index`:
    // the control word of the `n`-th of the readable `\end` headers that
    // follow one another from there, with only white space between them
    // (the first is the one at `index`), counting only those whose `}` lies
    // before stream index `limit`, and how many that is; none when no header
    // starts at `index` or none counts. The recovery skip passes a run of
    // them in one step while it has levels for them to close.
    struct EndHeader {
        std::size_t control;
        std::size_t nth;
    };
    std::optional<EndHeader> end_header_run(std::size_t index, std::size_t n, std::size_t limit) const;

private:
    // What stops or steers the skip even inside a closed group, which the
    // slots of a command are taken with; what an inert environment may not
    // hold besides unbalanced braces and an environment with a text body;
    // and what ends a stretch.
    static constexpr std::uint16_t kSteers = kMathShift | kParen | kLeft | kRight | kBegin | kEnd | kScanSlots;
    static constexpr std::uint16_t kTaints =
        kMathShift | kParen | kLeft | kRight | kOpenBracket | kBadHeader | kTextSlots;
    static constexpr std::uint16_t kStops =
        kCloseBrace | kCloseBracket | kMathShift | kParen | kRight | kEnd | kBadHeader | kTextBody | kTextSlots;

    // What the tables are built from, per token: its role; the `}` of a
    // readable header at its control word, and of a plain group at its `{`;
    // and the `}` of the `\end` header of an inert environment at its
    // `\begin`.
    struct Scratch {
        std::vector<std::uint16_t> roles;
        std::vector<std::uint32_t> close;
        std::vector<std::uint32_t> inert;
    };
    // How a stretch takes a token: where it goes on, and the level the token
    // opens; none where the token stops or steers the skip.
    struct Step {
        std::size_t to;
        OpenerKind opens;
    };
    void classify(ArgumentSession& session, const knowledge::KnowledgeBase& kb, Scratch& s);
    void find_inert_environments(Scratch& s);
    static std::optional<Step> step(std::size_t i, const Scratch& s);
    std::vector<std::int32_t> inside_whole(const Scratch& s, bool groups) const;
    void build_stretches(const Scratch& s);
    void build_closer_runs(const Scratch& s);

    std::size_t count_;
    // How many tokens that steer the skip stand before each index.
    std::vector<std::uint32_t> steering_before_;
    // Per token, where the stretch from it ends and the levels it opens;
    // per kind, the openers before each index.
    std::vector<std::uint32_t> stretch_end_;
    std::vector<std::uint32_t> stretch_opens_;
    std::vector<std::uint32_t> opener_prefix_[3];
    // The `}` tokens no plain group or inert environment encloses, and per
    // index where the run of closers from there ends, without and with `\)`.
    std::vector<std::uint32_t> rbraces_;
    std::vector<std::uint32_t> closers_end_[2];
    // The readable `\end` headers, in order: control word, closing brace,
    // and how many headers the run from there still holds after it.
    struct EndRun {
        std::uint32_t control;
        std::uint32_t close;
        std::uint32_t after;
    };
    std::vector<EndRun> end_runs_;
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

    // The recovery skip's view of the stream in `mode`, `kb` being that
    // mode's knowledge base; built on first use per mode, so that a parse
    // without failures neither builds nor frees it. None when the stream is
    // too long for its indices: the skip then goes token by token.
    const SkipTable* skip_table(ContentMode mode, const knowledge::KnowledgeBase& kb);

    // The `\begin` and `\end` control words among the `count` tokens from
    // stream index `first`, as indices from `first`, ascending. Valid until
    // the next call.
    std::span<const std::size_t> environment_controls(std::size_t first, std::size_t count);

    // The stream's `\left` control words, ascending, and per entry the first
    // entry from there on whose `\left` no delimiter follows in the stream
    // (the entry count for none). Built on first use, with the math
    // knowledge base of the parse, for the recovery's test of a bad `\left`:
    // scanning the failed item's text would read every level of a deep
    // nesting once per level.
    struct LeftControls {
        std::vector<std::size_t> at;
        std::vector<std::size_t> next_bad;
    };
    const LeftControls& left_controls(const knowledge::KnowledgeBase& math);

    // The stream index of a token of a window.
    std::optional<std::size_t> index_of(const SpannedToken* token) const noexcept {
        if (token == nullptr || token < base || token >= base + count) return std::nullopt;
        return static_cast<std::size_t>(token - base);
    }

    // The content of every collected argument is read once per parse and
    // shared by every reader; see `SharedContents`.
    SharedContents contents;

    // A stream token as one recovery skip sees it: what a skip does from a
    // token depends on its mode and hard stop besides the tokens.
    struct SkipKey {
        std::size_t token;
        std::uint8_t mode_and_stop;
        bool operator==(const SkipKey&) const = default;
    };
    struct SkipKeyHash {
        std::size_t operator()(const SkipKey& k) const noexcept {
            return std::hash<std::size_t>{}(k.token * 8 + k.mode_and_stop);
        }
    };

    // The closed text arguments, by the stream index of their closing token,
    // inside which the recovery skip, going through token by token, would
    // stop, and which it takes whole instead. Inside one the skip depends
    // only on the argument's tokens, its mode and its hard stop, so every
    // enclosing level's skip takes it at once.
    // A bit per mode and hard stop of each token: the set is looked up at
    // every text argument a skip enters, and a hash set's misses grew with
    // the input.
    class KeySet {
    public:
        void insert(const SkipKey& k) {
            if (k.token >= bits_.size()) bits_.resize(k.token + 1);
            bits_[k.token] |= static_cast<std::uint8_t>(1u << k.mode_and_stop);
        }
        bool contains(const SkipKey& k) const noexcept {
            return k.token < bits_.size() && (bits_[k.token] >> k.mode_and_stop & 1u) != 0;
        }

    private:
        std::vector<std::uint8_t> bits_;
    };
    KeySet stopping_text_arguments;

    // What the recovery skip did from a token it passed past the item's
    // header, when from there it closed no level open at the token and met
    // no closer that such a level, or the fence of an argument entered
    // before, answers: either it stopped (at a hard stop, at the fence of an
    // argument entered since, or at its window's end), or it came back to
    // the levels it had at the token, inside no argument entered since, and
    // maybe brace levels opened since (a `\right` or `\end` that closes a
    // level leaves the braces opened inside it open). That
    // depends on nothing before the token: only on the skip's mode and hard
    // stop, on the tokens it read and on where its window ends, as far as it
    // found groups open there. So every skip that passes the same token, in
    // a window that holds `reach` and ends by `end_at_most`, does the same,
    // whatever levels it has open. Stream indices.
    struct SkipStop {
        std::size_t stop;         // where it stopped, or was back
        std::size_t reach;        // the last token it read: the stop, or the close of an argument still open
        std::size_t end_at_most;  // the latest window end that leaves the groups it found open so
        bool goes_on;             // back to its levels at `stop`, and going on from there
        std::size_t steps;        // the steps it took from the token to `stop`
        std::size_t braces = 0;   // going on: the brace levels it opened since and left open, innermost
    };
    // Where a skip that passes `at` inside a window ending at stream index
    // `end` stops, as one kept for such a window says.
    std::optional<SkipStop> skip_stop(const SkipKey& at, std::size_t end) const {
        if (!kept_) return std::nullopt;
        ++util::work_count;
        const auto kept = kept_->stops.find(at);
        if (kept == kept_->stops.end()) return std::nullopt;
        for (const SkipStop& stop : kept->second) {
            ++util::work_count;
            if (stop.reach < end && end <= stop.end_at_most) return stop;
        }
        return std::nullopt;
    }
    // Skips in windows of other ends may keep other stops for one token; a
    // few are kept, so that asking stays constant time. `kb` and `mode` are
    // the skip's, whose stretches pass the token.
    void keep_skip_stop(const SkipKey& at, const SkipStop& stop, const knowledge::KnowledgeBase& kb,
                        ContentMode mode);
    // The first token after `index` and before `limit` that the stretch from
    // `index` (see `SkipTable::stretch_end`) steps on and where a skip of
    // `table`'s mode was kept going on that any window ending at `end` may
    // take (one that asked nothing of its window's end). None when the first
    // such token's skip reached past `end`.
    std::optional<std::size_t> kept_return_in_stretch(std::size_t index, std::size_t limit, std::size_t end,
                                                      const SkipTable& table, std::uint8_t mode_and_stop) const;

private:
    // What the skips kept: made on the first keep, so that a parse without
    // failures neither builds nor frees it. It only grows while the parse
    // runs, so its nodes come from one arena, given back at once.
    struct Kept {
        std::pmr::monotonic_buffer_resource memory;
        std::pmr::unordered_map<SkipKey, std::pmr::vector<SkipStop>, SkipKeyHash> stops{&memory};
        // The tokens where a skip was kept going on, with its reach, by mode
        // and stop and by the end of the stretch from each: the tokens a
        // stretch steps on are those between its start and its end whose own
        // stretch ends where it does (one inside a group, environment or
        // header it passes whole ends inside that).
        std::pmr::set<std::tuple<std::uint8_t, std::uint32_t, std::uint32_t, std::size_t>> returns_by_stretch{&memory};
    };
    std::unique_ptr<Kept> kept_;  // made on the first keep
    struct MatchTable {
        knowledge::DelimiterToken open;
        knowledge::DelimiterToken close;
        std::vector<std::uint32_t> match;
    };
    std::vector<MatchTable> tables_;
    // Braces, by far the most collected pair, have a table of their own.
    std::vector<std::uint32_t> braces_;
    std::unique_ptr<SkipTable> skip_tables_[2];  // by ContentMode
    // The stream's `\begin` and `\end` control words, built on first use,
    // and those of the last window asked for.
    std::optional<std::vector<std::size_t>> environment_controls_;
    std::vector<std::size_t> window_controls_;
    std::optional<LeftControls> left_controls_;
    std::optional<std::size_t> lookup(const knowledge::DelimiterToken& open, const knowledge::DelimiterToken& close,
                                      std::size_t index);
};

// ---- What the recovery skip takes after a command ---------------------------------

// The slots of a command up to its last text-content slot (none without a
// record or a text slot): those the recovery skip takes after the command,
// so that a `$` in a text argument does not read as a hard stop.
std::span<const knowledge::ArgSpec> skip_taken_slots(const knowledge::ActiveCommandRecord* record);

// The header of the `\begin` or `\end` control word at token `i`, read with
// only the tokens before `limit`: white space, `{`, one or more name tokens
// (a character gives itself, `*` gives "*") and `}`. `close` is the index of
// the `}`, or `limit` when the limit cuts the header after its name began;
// `open` that of the `{`.
struct TokenHeader {
    std::size_t open;
    std::size_t close;
    std::string name;
};
std::optional<TokenHeader> read_environment_header(const SpannedToken* tokens, std::size_t i, std::size_t limit);

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
