// Error recovery of content items: a failing item becomes an `Error` node
// over the skipped tokens and one recorded diagnostic, and the content goes
// on after it. Also the helpers environments share with it.
#include "parse/grammar/recovery.hpp"

#include <algorithm>
#include <cassert>
#include <unordered_map>

#include "parse/grammar/arguments.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "parse/utf8.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse::grammar {

using Kind = ParseDiagnosticKind;

namespace {

thread_local constinit bool stepwise_skip = false;

// The most steps a skip counts for going where a kept skip stopped or was
// back, whatever that skip took.
constexpr std::size_t kMostStepsOfKeptSkip = 16;

// What the skip does besides looking at tokens, in units of the work bound
// (a look at a token is one): a step, and a lookup in the tables it keeps or
// searches (kept stops and returns, text arguments taken whole, the sorted
// tables of runs and openers). Deep nesting can make the skips' steps grow
// faster than the formula; charged so, the work the bound allows takes about
// the time the corpus takes per unit, and such input reaches the bound
// early and cheaply.
constexpr std::size_t kUnitsPerSkipStep = 4;
constexpr std::size_t kUnitsPerLookup = 12;
void burn_lookups(std::size_t n = 1) noexcept { Fuel::current().burn(n * kUnitsPerLookup); }

bool is_whitespace_token(const SpannedToken* t) {
    return t != nullptr && t->token.kind() == TokenKind::Whitespace;
}

PatternId keyword_label(std::string_view keyword) {
    return keyword == "end" ? pattern::kEnd : pattern::kBegin;
}

bool match_control(Input& in, std::string_view name, PatternId label) {
    const SpannedToken* t = in.peek();
    if (t != nullptr && t->token.is_control(name)) {
        in.bump();
        return true;
    }
    in.expect(label);
    return false;
}

void skip_whitespace(Input& in) {
    while (is_whitespace_token(in.peek())) in.bump();
    in.expect(pattern::kSomethingElse);
}

// Unicode white space (the White_Space property), for the textual test of
// message normalisation.
bool is_unicode_whitespace(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

std::string_view trim_unicode_whitespace_start(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t c = 0;
        const std::size_t n =
            utf8::decode(reinterpret_cast<const unsigned char*>(text.data()) + i, text.size() - i, c);
        if (n == 0 || !is_unicode_whitespace(c)) break;
        i += n;
    }
    return text.substr(i);
}

bool is_env_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '*';
}

// The environment name of a `\begin {name}` at the start of `text`, when it
// is made of ASCII letters, digits and `*`.
std::optional<std::string_view> textual_begin_name(std::string_view text) {
    text = trim_unicode_whitespace_start(text);
    constexpr std::string_view kBegin = "\\begin";
    if (text.substr(0, kBegin.size()) != kBegin) return std::nullopt;
    text = trim_unicode_whitespace_start(text.substr(kBegin.size()));
    if (text.empty() || text.front() != '{') return std::nullopt;
    std::size_t end = 1;
    while (end < text.size() && is_env_name_char(text[end])) ++end;
    if (end == 1 || end >= text.size() || text[end] != '}') return std::nullopt;
    return text.substr(1, end - 1);
}

std::string mode_error_message(std::string_view name, ContentMode mode) {
    return "Environment " + std::string(name) + " is not allowed in " + std::string(syntax::content_mode_name(mode)) +
           " mode";
}

std::string mismatch_message(std::string_view expected, std::string_view found) {
    return "Environment name mismatch: expected \\end{" + std::string(expected) + "}, found \\end{" +
           std::string(found) + "}";
}

// The header of the `\begin` or `\end` at `t`, read whole within the `count`
// tokens from it.
std::optional<TokenHeader> whole_header(const SpannedToken* t, std::size_t count) {
    auto header = read_environment_header(t, 0, count);
    if (!header || header->close == count) return std::nullopt;
    return header;
}

// The pairs the recovery skip has opened and not yet closed, innermost last.
// Closing a kind closes its innermost open level and every level opened
// inside it, as an `\end` closes the environments left open in its body;
// but a brace level stays open until its own `}`. Written text pairs braces
// whatever stands between them: an Error whose text left a `{` open while
// the construct around it took the `}` would read back differently.
class SkipLevels {
public:
    enum Kind : std::uint8_t { Brace, Left, Environment };
    // A kind and the table's opener kind of the same level are cast into
    // each other.
    static_assert(int{Brace} == int{SkipTable::OpensBrace} && int{Left} == int{SkipTable::OpensLeft} &&
                  int{Environment} == int{SkipTable::OpensEnvironment});

    std::size_t count(Kind kind) const noexcept { return counts_[kind]; }
    // Opens `n` levels of one kind, kept as one run: a skip that passes a
    // deep nesting opens its levels at once.
    void open(Kind kind, std::size_t n = 1) {
        if (n == 0) return;
        if (!runs_.empty() && !runs_.back().stretch && runs_.back().kind == kind) {
            runs_.back().n += n;
        } else {
            runs_.push_back(Run{kind, false, n, 0});
        }
        counts_[kind] += n;
    }
    // Opens the levels of the openers among the stream's tokens [from, to)
    // (see `SkipTable::stretch_end`), kept as that range.
    void open_stretch(const SkipTable& table, std::size_t from, std::size_t to) {
        table_ = &table;
        std::size_t total = 0;
        for (int k = 0; k < 3; ++k) {
            const std::size_t n = in_stretch(static_cast<Kind>(k), from, to);
            counts_[k] += n;
            total += n;
        }
        if (total > 0) runs_.push_back(Run{Brace, true, from, to});
    }
    // Closes `n` levels of a kind one after another; only with
    // `count(kind) >= n`. Brace levels opened inside them stay open until
    // their own `}`.
    void close(Kind kind, std::size_t n = 1) {
        std::size_t braces = 0;
        while (n > 0) {
            if (runs_.empty()) {
                // Counts that promised more levels than the runs hold: never
                // so while the two are kept together, but no reason to read
                // past the end.
                assert(false && "closing more levels than are open");
                counts_[Left] = counts_[Environment] = 0;
                counts_[Brace] = braces;
                break;
            }
            Run& top = runs_.back();
            if (top.stretch) {
                const std::size_t have = in_stretch(kind, top.n, top.to);
                if (have != 0) burn_lookups();
                // The levels above the innermost one this closes.
                const std::size_t from =
                    have == 0 ? top.n
                              : table_->nth_opener_from_top(static_cast<SkipTable::OpenerKind>(kind), top.n, top.to,
                                                            std::min(n, have));
                const std::size_t here = std::min(n, have);
                for (int k = 0; k < 3; ++k) {
                    const std::size_t popped = in_stretch(static_cast<Kind>(k), from, top.to);
                    if (k == Brace && kind != Brace) {
                        braces += popped;
                    } else {
                        counts_[k] -= popped;
                    }
                }
                n -= here;
                top.to = from;
                if (top.to == top.n || in_stretch_total(top.n, top.to) == 0) pop_run();
                continue;
            }
            if (top.kind != kind) {
                if (top.kind == Brace) {
                    braces += top.n;
                } else {
                    counts_[top.kind] -= top.n;
                }
                pop_run();
                continue;
            }
            const std::size_t here = std::min(n, top.n);
            counts_[kind] -= here;
            n -= here;
            if ((top.n -= here) == 0) pop_run();
        }
        if (braces == 0) return;
        // Within the capacity the popped runs left.
        if (!runs_.empty() && !runs_.back().stretch && runs_.back().kind == Brace) {
            runs_.back().n += braces;
        } else {
            runs_.push_back(Run{Brace, false, braces, 0});
        }
    }

private:
    // Levels of one kind, `n` of them; or a stretch of the stream, the
    // tokens [n, to), whose openers are the levels.
    struct Run {
        Kind kind;
        bool stretch;
        std::size_t n;
        std::size_t to;
        bool operator==(const Run&) const = default;
    };

public:
    SkipLevels() = default;
    // Not copied: a skip that passes a deep nesting holds a run per level it
    // passed, and it marks its levels at every argument it enters.
    SkipLevels(const SkipLevels&) = delete;
    SkipLevels& operator=(const SkipLevels&) = delete;

    // Marks the levels as they stand, to go back to (`back_to_mark`). Only
    // the top run changes while the levels open at the mark stay open, so
    // going back costs the runs opened since. They need not stay open: in a
    // delimited argument, or past a text body taken whole, only the
    // delimiters pair, and a `}` there closes a level opened outside. The
    // first close that reaches below the mark saves the runs under it.
    void set_mark() {
        mark_ = Mark{runs_.size(), runs_.empty() ? Run{} : runs_.back(), {counts_[0], counts_[1], counts_[2]}};
        below_.clear();
        saved_below_ = false;
#ifndef NDEBUG
        check_ = runs_;
#endif
    }
    void back_to_mark() {
        assert(mark_);
        if (!mark_) return;
        const Mark& m = *mark_;
        if (saved_below_) {
            util::work_count += below_.size() + runs_.size();
            runs_.swap(below_);
            runs_.push_back(m.top);
        } else {
            assert(runs_.size() >= m.runs);
            util::work_count += runs_.size() - m.runs;
            runs_.resize(m.runs);
            if (m.runs > 0) runs_.back() = m.top;
        }
        std::copy(m.counts, m.counts + 3, counts_);
        assert(runs_ == check_);
        mark_.reset();
    }

private:
    struct Mark {
        std::size_t runs;
        Run top;
        std::size_t counts[3];
    };
    void pop_run() {
        if (mark_ && !saved_below_ && runs_.size() == mark_->runs) {
            // The runs under the marked top are as they were when marked:
            // only the top run changes.
            below_.assign(runs_.begin(), runs_.end() - 1);
            saved_below_ = true;
            util::work_count += below_.size();
            burn_lookups(below_.size());
        }
        runs_.pop_back();
    }

private:
    std::size_t in_stretch(Kind kind, std::size_t from, std::size_t to) const {
        const auto k = static_cast<SkipTable::OpenerKind>(kind);
        return table_->openers_before(k, to) - table_->openers_before(k, from);
    }
    std::size_t in_stretch_total(std::size_t from, std::size_t to) const {
        return in_stretch(Brace, from, to) + in_stretch(Left, from, to) + in_stretch(Environment, from, to);
    }
    const SkipTable* table_ = nullptr;  // the skip's, whose stretches these are
    std::vector<Run> runs_;
    std::size_t counts_[3] = {0, 0, 0};
    std::optional<Mark> mark_;
    std::vector<Run> below_;  // the runs under the marked top, once a close reached them
    bool saved_below_ = false;
#ifndef NDEBUG
    std::vector<Run> check_;  // every run at the mark, to check going back against
#endif
};

// What taking text slots costs one skip. Braced groups and distinct
// delimiter pairs are matched at once; a bracket group, or one whose two
// delimiters are the same, is scanned token by token. Once such a scan finds
// its group open, no later one in the skip is scanned, and the tokens it read
// count against the recovery budget, as skipped tokens do.
struct SlotScans {
    bool found_open = false;
    std::size_t read = 0;
    // Since last asked, a slot was found open, its group running to the
    // window's end: a braced group, with the index of its `{`, or another.
    std::optional<std::size_t> open_brace;
    bool left_open = false;
};

// Whether a collected text argument reads without a failure. Its outcome is
// kept for the parse, and the command's own reading has mostly read it
// already, so asking costs nothing more.
bool reads_clean(Grammar& g, const Collected& group) {
    TrackedNode node;
    Failure failure;
    return parse_tokens_as_content(g, ContentMode::Text, group, node, failure) && node.diagnostics.empty();
}

// Takes the slots of a command the skip has just passed (`skip_taken_slots`),
// each closed group whole. The skip reads in the item's mode,
// but in a text slot a `$` opens inline math: taken for a hard stop, it would
// end the skip inside the argument and leave the rest of the text, valid as
// it is, to be read as math and reported again. Only a text argument that
// reads clean is taken so at once: a faulty one is gone through token by
// token, and taken whole only where the skip would stop inside it (see
// `TextFences`). A group left open is left to the token-by-token skip, which
// stops at the next hard stop as before.
// Answers a closed text argument that does not read clean.
// `plain(from, to)`: whether the tokens [from, to) hold nothing that stops or
// steers the skip.
template <class Plain>
std::optional<Collected> skip_text_slots(Grammar& g, std::span<const knowledge::ArgSpec> specs, SlotScans& scans,
                                         const Plain& plain) {
    using knowledge::ArgFormKind;
    Input& in = g.input();
    for (const knowledge::ArgSpec& spec : specs) {
        const std::size_t before = in.pos();
        if (!spec.no_leading_space) {
            while (is_whitespace_token(in.peek())) in.bump();
        }
        const SpannedToken* t = in.peek();
        if (t == nullptr) return std::nullopt;
        const TokenKind kind = t->token.kind();
        const std::size_t at = in.pos();
        bool braced = false;
        Collected group;
        Failure failure;
        enum { Absent, Taken, Open } outcome = Absent;
        bool scanned = false;
        auto delimited = [&](const knowledge::DelimiterToken& open, const knowledge::DelimiterToken& close) {
            if (!matches_delimiter(t->token, open)) return;
            scanned = open == close;
            if (scanned && scans.found_open) {
                outcome = Open;
                return;
            }
            outcome = collect_delimited_tokens(g, open, close, group, failure) ? Taken : Open;
        };
        switch (spec.form.kind) {
            case ArgFormKind::Star:
                if (kind == TokenKind::Star) {
                    in.bump();
                    outcome = Taken;
                }
                break;
            case ArgFormKind::Standard:
                if (spec.required) {
                    if (kind == TokenKind::LBrace) {
                        braced = true;
                        outcome = collect_braced_tokens(g, group, failure) ? Taken : Open;
                    }
                } else if (kind == TokenKind::LBracket) {
                    scanned = true;
                    outcome = !scans.found_open &&
                                      collect_optional_bracketed_tokens(g, group, failure) == Bracketed::Collected
                                  ? Taken
                                  : Open;
                }
                break;
            case ArgFormKind::Group:
                if (kind == TokenKind::LBrace) {
                    braced = true;
                    outcome = collect_braced_tokens(g, group, failure) ? Taken : Open;
                }
                break;
            case ArgFormKind::Delimited: delimited(spec.form.open, spec.form.close); break;
            case ArgFormKind::Paired:
                for (const auto& pair : spec.form.pairs) {
                    delimited(pair.open, pair.close);
                    if (outcome != Absent) break;
                }
                break;
        }
        if (outcome == Taken) {
            if (spec.kind == knowledge::ArgValueKind::TextContent) {
                if (reads_clean(g, group)) continue;
                in.rewind(before);
                return group;
            }
            // A closed slot that is not text has no math of its own to hide:
            // one holding what stops or steers the skip is gone through token
            // by token, so that a stray `$` or `\end` in it is still found.
            if (plain(before, in.pos())) continue;
            in.rewind(before);
            return std::nullopt;
        }
        if (outcome == Open) {
            if (braced) {
                scans.open_brace = at;
            } else {
                scans.left_open = true;
            }
        }
        if (outcome == Open && scanned) {
            scans.read += in.pos() - before;
            scans.found_open = true;
        }
        in.rewind(before);
        // An absent optional slot takes nothing; past a group left open, or a
        // bare value the skip cannot measure, the skip goes on token by token.
        if (outcome == Open || spec.required) return std::nullopt;
    }
    return std::nullopt;
}

// The closed text arguments that did not read clean and that the skip is
// passing token by token, innermost last. Inside one, a `\right` or `\end`
// is text, which cannot close a `\left` or an environment opened outside
// it. Where the skip would stop inside one, at such a token or at a hard
// stop, the fault lies in the argument: the outermost one is taken whole
// instead, as it stood when the skip entered it, and its Error node carries
// the argument's own diagnostics. Stopping there would leave the rest of the
// argument to the content around it, which cannot read it: the parse would
// keep no document.
class TextFences {
public:
    // `entry`: the index after the command whose argument this is.
    void enter(std::size_t close, std::size_t lefts, std::size_t environments, std::size_t entry) {
        fences_.push_back(Fence{close, lefts, environments, entry});
    }
    // Drops the fences of the arguments the skip has left.
    void leave_before(std::size_t pos) {
        while (!fences_.empty() && pos > fences_.back().close) fences_.pop_back();
    }
    bool stops_right(std::size_t lefts) const { return !fences_.empty() && lefts <= fences_.back().lefts; }
    bool stops_end(std::size_t environments) const {
        return !fences_.empty() && environments <= fences_.back().environments;
    }
    // Inside one, the skip goes token by token: a stretch passed at once
    // would pass the `\right` or `\end` it must stop at.
    bool active() const noexcept { return !fences_.empty(); }
    // The environments open outside the innermost one.
    std::size_t environments() const noexcept { return fences_.empty() ? 0 : fences_.back().environments; }
    std::size_t innermost_entry() const { return fences_.back().entry; }
    // Whether an argument closing at `close` lies inside the innermost one:
    // one whose delimiters pair past that argument's end does not close in
    // its text, and entering it would leave the fences crossed.
    bool nests(std::size_t close) const { return fences_.empty() || close <= fences_.back().close; }

    struct Fence {
        std::size_t close;  // the argument's closing token
        std::size_t lefts;
        std::size_t environments;
        std::size_t entry;
    };
    // Outermost first.
    std::span<const Fence> entered() const noexcept { return fences_; }

private:
    std::vector<Fence> fences_;
};

// The tokens a skip passed, with the levels open there, from which it has
// so far asked nothing of what came before: neither closed a level open
// there, nor met a closer that such a level or the fence of an argument
// entered before would answer (see `ArgumentSession::SkipStop`).
// Innermost last. The levels open at a kept token stay open through every
// later kept token, so each count grows along the list and what a closer
// rules out is a tail of it; tokens with the same levels open form a run.
// What the skip asked of its window's end since a token bounds the ends of
// the windows that may use it. Stream indices throughout.
class StopCandidates {
public:
    StopCandidates(ArgumentSession& session, const knowledge::KnowledgeBase& kb, ContentMode mode, bool on,
                   std::size_t stream_at, std::uint8_t mode_and_stop)
        : session_(session), kb_(kb), mode_(mode), on_(on), stream_at_(stream_at), mode_and_stop_(mode_and_stop) {}
    bool on() const noexcept { return on_; }
    // Off for the rest of the skip: what it does depends on what it did.
    void off() {
        forget();
        on_ = false;
    }
    // Drops the tokens passed so far: what the skip does from them on
    // depends on what it did before.
    void forget() {
        while (!at_.empty()) pop();
    }
    // At window index `pos` and step `step`, with the levels as they are and
    // the innermost argument entered, if any.
    void pass(std::size_t pos, std::size_t step, const SkipLevels& levels, std::optional<std::size_t> fence_entry) {
        if (!on_) return;
        settle(levels);
        const Candidate c{stream_at_ + pos, step,
                          {levels.count(SkipLevels::Brace), levels.count(SkipLevels::Left),
                           levels.count(SkipLevels::Environment)}};
        const std::optional<std::size_t> inside =
            fence_entry ? std::optional(stream_at_ + *fence_entry) : std::nullopt;
        if (!runs_.empty() && std::equal(c.counts, c.counts + 3, at_[runs_.back().first].counts)) {
            // Back to the levels of the run's tokens, inside no argument
            // entered since: from each, the skip came here with its levels
            // as they were.
            Run& run = runs_.back();
            if (!inside || *inside <= at_[run.first].pos) {
                run.back_at = Return{c.pos, step, run.above, run.at_most, c.counts[SkipLevels::Brace], inside};
            }
        } else {
            // With only braces more than a run below, the skip is back to
            // that run's levels too, plus these braces: the new run passes
            // its returns down when it ends (see `pop`).
            runs_.push_back(Run{at_.size()});
            runs_.back().back_at = Return{c.pos, step, 0, kNoEnd, c.counts[SkipLevels::Brace], inside};
        }
        at_.push_back(c);
    }
    // What every token passed so far did asks that a window end after `above`
    // and at or before `at_most`.
    void bound(std::size_t above, std::size_t at_most) {
        if (at_.empty()) return;
        add_bound(above, at_most);
        Run& run = runs_.back();
        run.above = std::max(run.above, above);
        run.at_most = std::min(run.at_most, at_most);
    }
    // A closer of `kind`, met with the levels as they are, is answered by
    // the innermost open level of its kind: one open at a kept token, unless
    // more are open now.
    void closer(SkipLevels::Kind kind, const SkipLevels& levels) {
        while (!at_.empty() && at_.back().counts[kind] >= levels.count(kind)) pop();
    }
    // Levels open at kept tokens were closed.
    void settle(const SkipLevels& levels) {
        auto closed = [&](const Candidate& c) {
            for (int k = 0; k < 3; ++k) {
                if (c.counts[k] > levels.count(static_cast<SkipLevels::Kind>(k))) return true;
            }
            return false;
        };
        while (!at_.empty() && closed(at_.back())) pop();
    }
    // The skip stopped at window index `stop`, at step `step`: keeps where it
    // stopped for every token left. Past each, it read up to `stop` and the
    // closing token of every argument it entered after it and had not left.
    void keep(std::size_t stop, std::size_t step, bool at_end, std::span<const TextFences::Fence> fences) {
        std::size_t f = fences.size();
        std::size_t b = bounds_.size();
        std::size_t above = 0;
        std::size_t at_most = std::numeric_limits<std::size_t>::max();
        // From the innermost token out, gathering the bounds asked after it.
        util::work_count += at_.size();
        for (std::size_t i = at_.size(); i-- > 0;) {
            for (; b > 0 && bounds_[b - 1].n > i; --b) {
                above = std::max(above, bounds_[b - 1].above);
                at_most = std::min(at_most, bounds_[b - 1].at_most);
            }
            const Candidate& c = at_[i];
            // At the window's end, the bound asked there holds the stop.
            std::size_t read = at_end ? above : std::max(above, stream_at_ + stop);
            // The outermost argument entered after the token, still open.
            while (f > 0 && stream_at_ + fences[f - 1].entry > c.pos) --f;
            if (f < fences.size()) read = std::max(read, stream_at_ + fences[f].close);
            if (read < at_most) {
                burn_lookups(2);  // a kept stop, and maybe a kept return
                session_.keep_skip_stop({c.pos, mode_and_stop_},
                                        {stream_at_ + stop, read, at_most, false, step - c.step}, kb_, mode_);
            }
        }
        off();
    }

private:
    struct Candidate {
        std::size_t pos;
        std::size_t step;
        std::size_t counts[3];
    };
    // Asked when the first `n` tokens were kept.
    struct Bound {
        std::size_t n;
        std::size_t above;
        std::size_t at_most;
    };
    static constexpr std::size_t kNoEnd = std::numeric_limits<std::size_t>::max();
    struct Return {
        std::size_t at = 0;
        std::size_t step = 0;
        std::size_t above = 0;
        std::size_t at_most = kNoEnd;
        std::size_t braces = 0;             // the brace levels open there
        std::optional<std::size_t> inside;  // the entry of the innermost argument entered there
    };
    // The tokens from `first` with the same levels open; the bounds asked
    // since the first was kept; the last token where the skip was back to
    // those levels, and the bounds asked up to there.
    struct Run {
        std::size_t first;
        std::size_t above = 0;
        std::size_t at_most = std::numeric_limits<std::size_t>::max();
        Return back_at{};
    };
    void pop() {
        ++util::work_count;
        const Candidate c = at_.back();
        at_.pop_back();
        Run& run = runs_.back();
        // The skip went on from the token to where it was back, whatever it
        // asked later.
        if (run.back_at.at > c.pos) {
            const Return& r = run.back_at;
            if (r.above < r.at_most && r.at < r.at_most) {
                burn_lookups(2);
                session_.keep_skip_stop(
                    {c.pos, mode_and_stop_},
                    {r.at, std::max(r.above, r.at), r.at_most, true, r.step - c.step, r.braces - c.counts[SkipLevels::Brace]},
                    kb_, mode_);
            }
        }
        if (at_.size() == run.first) {
            const Run done = run;
            runs_.pop_back();
            if (!runs_.empty()) {
                Run& below = runs_.back();
                const std::size_t* counts = at_[below.first].counts;
                // Where the skip was back to the ended run's levels, it was
                // back to these, plus braces, if it was inside no argument
                // entered since these and opened nothing else since them.
                const Return& r = done.back_at;
                if (r.at > below.back_at.at && counts[SkipLevels::Left] == c.counts[SkipLevels::Left] &&
                    counts[SkipLevels::Environment] == c.counts[SkipLevels::Environment] &&
                    (!r.inside || *r.inside <= at_[below.first].pos)) {
                    below.back_at = Return{r.at,
                                           r.step,
                                           std::max(below.above, r.above),
                                           std::min(below.at_most, r.at_most),
                                           r.braces,
                                           r.inside};
                }
                below.above = std::max(below.above, done.above);
                below.at_most = std::min(below.at_most, done.at_most);
            }
        }
        // A bound asked after the token popped was asked after those left.
        if (bounds_.empty() || bounds_.back().n <= at_.size()) return;
        const Bound last = bounds_.back();
        bounds_.pop_back();
        if (!at_.empty()) add_bound(last.above, last.at_most);
    }
    // Asked when the first `at_.size()` tokens were kept.
    void add_bound(std::size_t above, std::size_t at_most) {
        if (bounds_.empty() || bounds_.back().n != at_.size()) bounds_.push_back(Bound{at_.size(), 0, kNoEnd});
        bounds_.back().above = std::max(bounds_.back().above, above);
        bounds_.back().at_most = std::min(bounds_.back().at_most, at_most);
    }
    ArgumentSession& session_;
    const knowledge::KnowledgeBase& kb_;
    ContentMode mode_;
    bool on_;
    std::size_t stream_at_;
    std::uint8_t mode_and_stop_;
    std::vector<Candidate> at_;
    std::vector<Bound> bounds_;  // by `n`, ascending
    std::vector<Run> runs_;
};

}  // namespace

void set_stepwise_recovery_skip(bool on) noexcept { stepwise_skip = on; }

// ---- Environment headers at the cursor ----------------------------------------------

bool environment_name(Input& in, std::string& name) {
    return labelled(in, pattern::kEnvironmentName, false, [&] {
        const SpannedToken* t = in.peek();
        if (t == nullptr || t->token.kind() != TokenKind::LBrace) {
            in.expect(pattern::kLBrace);
            return false;
        }
        in.bump();
        name.clear();
        while ((t = in.peek()) != nullptr) {
            if (t->token.kind() == TokenKind::Char) {
                utf8::append(name, t->token.ch());
            } else if (t->token.kind() == TokenKind::Star) {
                name.push_back('*');
            } else {
                break;
            }
            in.bump();
        }
        // The name-token selector refused the token after the name.
        in.expect(pattern::kSomethingElse);
        if (name.empty()) return false;
        t = in.peek();
        if (t == nullptr || t->token.kind() != TokenKind::RBrace) {
            in.expect(pattern::kRBrace);
            return false;
        }
        in.bump();
        return true;
    });
}

bool consume_environment_marker(Input& in, std::string_view keyword) {
    const std::size_t pos = in.pos();
    std::optional<Input::Located> old = in.take_alt();
    bool ok = match_control(in, keyword, keyword_label(keyword));
    if (ok) {
        skip_whitespace(in);
        std::string name;
        ok = environment_name(in, name);
    }
    if (ok) {
        std::optional<Input::Located> fresh = in.take_alt();
        in.restore_alt(std::move(old));
        in.merge_alt(std::move(fresh));
        return true;
    }
    in.rewind(pos);
    in.restore_alt(std::move(old));
    return false;
}

// ---- The environment index ---------------------------------------------------------

EnvironmentIndex::EnvironmentIndex(const SpannedToken* tokens, std::size_t count)
    : EnvironmentIndex(tokens, count, [&] {
          std::vector<std::size_t> controls;
          for (std::size_t i = 0; tokens != nullptr && i < count; ++i) {
              if (tokens[i].token.is_control("begin") || tokens[i].token.is_control("end")) controls.push_back(i);
          }
          return controls;
      }()) {}

EnvironmentIndex::EnvironmentIndex(const SpannedToken* tokens, std::size_t count,
                                   std::span<const std::size_t> controls)
    : tokens_(tokens), count_(tokens != nullptr ? count : 0) {
    for (const std::size_t i : controls) {
        if (i >= count_) break;
        std::size_t header = kNone;
        if (auto h = read(i, count_)) {
            header = headers_.size();
            headers_.push_back(std::move(*h));
        }
        controls_.push_back(Control{i, header, 0, 0});
    }
    build_stacks();
    build_walks();
}

std::optional<EnvironmentIndex::Header> EnvironmentIndex::read(std::size_t i, std::size_t limit) const {
    auto h = read_environment_header(tokens_, i, limit);
    if (!h) return std::nullopt;
    return Header{i, h->close, tokens_[i].token.is_control("begin"), std::move(h->name)};
}

void EnvironmentIndex::build_stacks() {
    nodes_.push_back(StackNode{kNone, kNone, 0});
    // The current stack, with the depths at which each name stands, so that an
    // `\end` finds the topmost entry of its name at once.
    std::vector<std::size_t> stack;
    std::unordered_map<std::string_view, std::vector<std::size_t>> depths;
    auto top = [&] { return stack.empty() ? kEmpty : stack.back(); };
    // Notes the entries of `name` after control `ci`.
    auto note = [&](std::size_t ci, std::string_view name, const std::vector<std::size_t>& at) {
        auto it = entries_.find(name);
        if (it == entries_.end()) it = entries_.emplace(std::string(name), std::vector<NameEntries>{}).first;
        it->second.push_back(at.empty() ? NameEntries{ci, kEmpty, kEmpty}
                                        : NameEntries{ci, stack[at.front()], stack[at.back()]});
    };
    for (std::size_t ci = 0; ci < controls_.size(); ++ci) {
        Control& c = controls_[ci];
        c.before = top();
        if (c.header != kNone) {
            const Header& h = headers_[c.header];
            if (h.begin) {
                nodes_.push_back(StackNode{c.header, top(), stack.size() + 1});
                std::vector<std::size_t>& at = depths[h.name];
                at.push_back(stack.size());
                stack.push_back(nodes_.size() - 1);
                note(ci, h.name, at);
            } else if (auto it = depths.find(h.name); it != depths.end() && !it->second.empty()) {
                const std::size_t depth = it->second.back();
                while (stack.size() > depth) {
                    const std::string_view popped = name_of(stack.back());
                    std::vector<std::size_t>& at = depths[popped];
                    at.pop_back();
                    stack.pop_back();
                    note(ci, popped, at);
                }
            }
        }
        c.after = top();
    }
}

void EnvironmentIndex::build_walks() {
    // A strict walk started at a `\begin` ends at its matching `\end`, at the
    // first `\end` that differs from the innermost open name (which ends the
    // walks of every `\begin` still open), or at the end of the tokens.
    const std::size_t n = headers_.size();
    std::vector<std::size_t>& closed_at = closed_at_;
    closed_at.assign(n, kNone);
    std::vector<std::size_t> mismatch(n, kNone);
    std::vector<std::size_t> open;
    for (std::size_t k = 0; k < n; ++k) {
        if (headers_[k].begin) {
            open.push_back(k);
            continue;
        }
        if (open.empty()) continue;
        if (headers_[open.back()].name == headers_[k].name) {
            closed_at[open.back()] = k;
            open.pop_back();
            continue;
        }
        mismatches_.push_back(Mismatch{headers_[open.back()].name, headers_[k].name});
        for (std::size_t o : open) mismatch[o] = mismatches_.size() - 1;
        open.clear();
    }
    // A walk from header k with an empty stack skips the `\end`s it meets at
    // the top and jumps over every environment that closes properly.
    walk_from_.assign(n + 1, kNone);
    for (std::size_t k = n; k-- > 0;) {
        if (!headers_[k].begin) {
            walk_from_[k] = walk_from_[k + 1];
        } else if (mismatch[k] != kNone) {
            walk_from_[k] = mismatch[k];
        } else if (closed_at[k] != kNone) {
            walk_from_[k] = walk_from_[closed_at[k] + 1];
        }
    }
}

std::optional<std::size_t> EnvironmentIndex::after_closing_end(std::size_t begin) const {
    const auto it = std::lower_bound(headers_.begin(), headers_.end(), begin,
                                     [](const Header& h, std::size_t token) { return h.control < token; });
    if (it == headers_.end() || it->control != begin || !it->begin) return std::nullopt;
    const std::size_t end = closed_at_[static_cast<std::size_t>(it - headers_.begin())];
    // A closing header cut off by the end of the tokens closes nothing whole.
    if (end == kNone || headers_[end].close >= count_) return std::nullopt;
    return headers_[end].close + 1;
}

std::size_t EnvironmentIndex::first_token_at_or_after(std::size_t offset) const {
    const SpannedToken* end = tokens_ + count_;
    const SpannedToken* it =
        std::lower_bound(tokens_, end, offset,
                         [](const SpannedToken& t, std::size_t off) { return t.span.start < off; });
    return static_cast<std::size_t>(it - tokens_);
}

EnvironmentIndex::Position EnvironmentIndex::position_before(std::size_t offset) const {
    if (count_ == 0) return {0, std::nullopt};
    const std::size_t limit = first_token_at_or_after(offset);
    auto it = std::lower_bound(controls_.begin(), controls_.end(), limit,
                               [](const Control& c, std::size_t l) { return c.token < l; });
    if (it == controls_.begin()) return {0, std::nullopt};
    const std::size_t last = static_cast<std::size_t>(it - controls_.begin()) - 1;
    const Control& c = controls_[last];
    if (c.header != kNone && headers_[c.header].close < limit) return {last + 1, std::nullopt};
    // The offset cuts this header: it counts with what lies before the offset.
    return {last, read(c.token, limit)};
}

EnvironmentIndex::NameEntries EnvironmentIndex::entries_of(std::string_view name, std::size_t controls) const {
    constexpr NameEntries none{0, kEmpty, kEmpty};
    const auto it = entries_.find(name);
    if (it == entries_.end() || controls == 0) return none;
    const std::vector<NameEntries>& changes = it->second;
    auto after = std::upper_bound(changes.begin(), changes.end(), controls - 1,
                                  [](std::size_t ci, const NameEntries& e) { return ci < e.control; });
    return after == changes.begin() ? none : *(after - 1);
}

std::vector<std::string> EnvironmentIndex::stack_before(std::size_t offset) const {
    const Position at = position_before(offset);
    std::vector<std::string> stack;
    for (std::size_t node = at.controls > 0 ? controls_[at.controls - 1].after : kEmpty; node != kEmpty;
         node = nodes_[node].parent) {
        stack.emplace_back(name_of(node));
    }
    std::reverse(stack.begin(), stack.end());
    if (!at.cut) return stack;
    if (at.cut->begin) {
        stack.push_back(at.cut->name);
    } else if (auto top = std::find(stack.rbegin(), stack.rend(), at.cut->name); top != stack.rend()) {
        stack.erase(std::prev(top.base()), stack.end());
    }
    return stack;
}

bool EnvironmentIndex::is_open_before(std::size_t offset, std::string_view name) const {
    const Position at = position_before(offset);
    const std::size_t bottom = entries_of(name, at.controls).bottom;
    if (!at.cut) return bottom != kEmpty;
    if (at.cut->begin) return at.cut->name == name || bottom != kEmpty;
    // A cut `\end` removes its name's topmost entry and all above it.
    const std::size_t removed = entries_of(at.cut->name, at.controls).top;
    return bottom != kEmpty && (removed == kEmpty || nodes_[bottom].depth < nodes_[removed].depth);
}

bool EnvironmentIndex::is_innermost_before(std::size_t offset, std::string_view name) const {
    const Position at = position_before(offset);
    std::size_t node = at.controls > 0 ? controls_[at.controls - 1].after : kEmpty;
    if (at.cut) {
        if (at.cut->begin) return at.cut->name == name;
        if (const std::size_t removed = entries_of(at.cut->name, at.controls).top; removed != kEmpty) {
            node = nodes_[removed].parent;
        }
    }
    return node != kEmpty && name_of(node) == name;
}

std::optional<EnvironmentIndex::Mismatch> EnvironmentIndex::first_mismatch_from(std::size_t offset) const {
    auto it = std::lower_bound(headers_.begin(), headers_.end(), offset,
                               [&](const Header& h, std::size_t off) { return tokens_[h.control].span.start < off; });
    const std::size_t found = walk_from_[static_cast<std::size_t>(it - headers_.begin())];
    if (found == kNone) return std::nullopt;
    return mismatches_[found];
}

// ---- Wording -------------------------------------------------------------------------

std::pair<std::string, std::optional<Kind>> normalize_recovery_message(const ParseContext& context, ContentMode mode,
                                                                       std::string_view snippet,
                                                                       const EnvironmentIndexSource& index,
                                                                       std::size_t snippet_offset, std::string message,
                                                                       std::optional<Kind> kind) {
    if (kind != Kind::RawExpectedFound) return {std::move(message), kind};
    if (const auto name = textual_begin_name(snippet)) {
        if (context.lookup_env(*name, mode) == nullptr && context.lookup_env(*name, other_mode(mode)) != nullptr) {
            return {mode_error_message(*name, mode), Kind::EnvironmentModeError};
        }
    }
    if (const auto mismatch = index().first_mismatch_from(snippet_offset)) {
        return {mismatch_message(mismatch->expected, mismatch->found), Kind::EnvironmentNameMismatch};
    }
    return {std::move(message), kind};
}

Failure recovery_diagnostic_from_error(Failure failure, std::string_view message, std::optional<Kind> kind) {
    if (!kind) return failure;
    if (failure.custom ? failure.message == message
                       : (kind == Kind::EnvironmentNameMismatch || kind == Kind::RawExpectedFound ||
                          kind == Kind::UnclosedInlineMath)) {
        failure.kind = kind;
        return failure;
    }
    return Failure::custom_message(failure.span, std::string(message), kind);
}

bool is_delimiter_token(const knowledge::KnowledgeBase& math, const Token& token) {
    switch (token.kind()) {
        case TokenKind::Char: {
            std::string text;
            utf8::append(text, token.ch());
            return math.lookup_delimiter(text, false) != nullptr;
        }
        case TokenKind::LBracket: return math.lookup_delimiter("[", false) != nullptr;
        case TokenKind::RBracket: return math.lookup_delimiter("]", false) != nullptr;
        case TokenKind::ControlSeq: return math.lookup_delimiter(token.name(), true) != nullptr;
        default: return false;
    }
}

const ArgumentSession::LeftControls& ArgumentSession::left_controls(const knowledge::KnowledgeBase& math) {
    if (left_controls_) return *left_controls_;
    LeftControls lefts;
    std::vector<bool> bad;
    util::work_count += count;
    for (std::size_t i = 0; i < count; ++i) {
        if (!base[i].token.is_control("left")) continue;
        std::size_t j = i + 1;
        while (j < count && base[j].token.kind() == TokenKind::Whitespace) ++j;
        lefts.at.push_back(i);
        bad.push_back(j == count || !is_delimiter_token(math, base[j].token));
    }
    lefts.next_bad.assign(lefts.at.size(), lefts.at.size());
    for (std::size_t k = lefts.at.size(); k-- > 0;) {
        lefts.next_bad[k] = bad[k] ? k : k + 1 < lefts.at.size() ? lefts.next_bad[k + 1] : lefts.at.size();
    }
    return left_controls_.emplace(std::move(lefts));
}

std::optional<Failure> Grammar::invalid_left_between(std::size_t start, std::size_t end) {
    ArgumentSession& session = argument_session();
    // Every input but an empty one is a window of the stream.
    const std::optional<std::size_t> first = session.index_of(in_.token_at(0));
    if (!first) return std::nullopt;
    const std::vector<std::size_t>& at = session.left_controls(math_kb_).at;
    const std::vector<std::size_t>& next_bad = session.left_controls(math_kb_).next_bad;
    // The `\left` words of this input that start in [start, end].
    auto lo = std::lower_bound(at.begin(), at.end(), *first);
    auto hi = std::lower_bound(lo, at.end(), *first + in_.token_count());
    lo = std::partition_point(lo, hi, [&](std::size_t i) { return session.base[i].span.start < start; });
    hi = std::partition_point(lo, hi, [&](std::size_t i) { return session.base[i].span.start <= end; });
    if (lo == hi) return std::nullopt;
    auto invalid = [](Span at_span) {
        return Failure::custom_message(at_span, "invalid \\left delimiter", Kind::LeftRightDelimiter);
    };
    // Before the last of them, each is followed by a token of this input
    // inside the range, as in the whole stream.
    const std::size_t lo_k = static_cast<std::size_t>(lo - at.begin());
    const std::size_t last_k = static_cast<std::size_t>(hi - at.begin()) - 1;
    if (next_bad[lo_k] < last_k) {
        const std::size_t i = at[next_bad[lo_k]] - *first;
        std::size_t after = i + 1;
        return invalid(in_.token_after_whitespace(after)->span);
    }
    // The last one sees this input's end and the range's.
    const std::size_t i = at[last_k] - *first;
    std::size_t after = i + 1;
    const SpannedToken* next = in_.token_after_whitespace(after);
    if (next == nullptr) return invalid(in_.token_at(i)->span);
    if (next->span.start > end) return std::nullopt;
    if (!is_delimiter_token(math_kb_, next->token)) return invalid(next->span);
    return std::nullopt;
}

// ---- The recovery item -------------------------------------------------------------------

bool Grammar::recoverable_item(ItemRule rule, HardStop stop, ContentMode mode, TrackedNode& out) {
    in_.check_fuel();
    if (in_.quiet()) {
        // A quiet run keeps no failure (its first failed item ends it): only
        // the item's own run is left.
        if (!run_item(rule, true, out)) in_.abandon_if_quiet();
        return true;
    }
    return recover_item(rule, stop, mode, out);
}

std::string Grammar::error_text(Span span) {
    // Only a run that resolves its tree has a session from the start; a
    // quiet run writes its texts at once.
    if (argument_session_ == nullptr) return slice_snippet(st_.source(), span.start, span.end);
    return argument_session_->contents.source_text(st_.source(), span.start, span.end);
}

void Grammar::charge_recovery(std::size_t units) {
    in_.check_fuel();
    if (argument_session_ == nullptr) return;
    SharedContents& contents = argument_session_->contents;
    contents.charge(units);
    // The top level has no reader to give it up: only arguments are.
    if (contents.exhausted() && in_.window_start() > 0) throw ArgumentsTooComplex{};
}

// Out of line: its frame is large, and the quiet run nests without it. The
// item's run nests through this frame; what follows a failed run does not,
// and lives in a frame of its own.
[[gnu::noinline]] bool Grammar::recover_item(ItemRule rule, HardStop stop, ContentMode mode, TrackedNode& out) {
    charge_recovery(1);
    const std::size_t p = in_.pos();
    std::optional<Input::Located> kept = in_.take_alt();
    const bool ok = run_item(rule, true, out);
    // What was kept before the item comes first, as if the item had run on it.
    std::optional<Input::Located> own = in_.take_alt();
    in_.restore_alt(std::move(kept));
    in_.merge_alt(std::move(own));
    if (ok) return true;
    return skip_failed_item(stop, mode, p, out);
}

// ---- The skip over a failed item's bad content -------------------------------------------

// What the skip knows of the failed item: where it started, its own
// environment header, where its failure ended, and how the failure steers
// the skip.
struct FailedItem {
    std::size_t s;            // the offset of its first token
    std::size_t failure_end;  // the end of its failure's span
    // Its own environment header: the name, and from `{` to the end of `}`.
    std::optional<std::string> header = std::nullopt;
    Span braced{};
    // A command in the wrong mode: its argument groups are skipped whole.
    bool skip_arguments = false;
    // An unknown command at the item's start: it alone is skipped.
    bool single_token = false;
    std::string message{};
};

// Skips the bad content: as a rule up to the next hard stop of the mode. A
// `{`, `\left` or `\begin{...}` the skip takes opens a level, and while one
// is open its `}`, `\right` or `\end{...}` closes it, and the levels opened
// inside it, as part of the skipped text: a pair the failed item passed does
// not end the content around it, nor does its closing half stray into that
// content. Each step below takes what it knows at the cursor, or leaves it
// to the next.
class ItemSkip {
public:
    // After the item at `p` failed: none when the enclosing construct
    // handles the failure (a bad `\left`, a `\begin` of an environment it
    // cannot read here, or a hard stop after it); else its diagnostic is
    // recorded.
    static std::optional<FailedItem> report(Grammar& g, HardStop stop, ContentMode mode, std::size_t p);

    ItemSkip(Grammar& g, HardStop stop, ContentMode mode, const FailedItem& item)
        : g_(g),
          in_(g.in_),
          session_(g.argument_session()),
          stop_(stop),
          mode_(mode),
          item_(item),
          tokens_(in_.token_at(0)),
          stream_at_(session_.index_of(tokens_)),
          mode_and_stop_(
              static_cast<std::uint8_t>((mode == ContentMode::Math ? 1 : 0) | (static_cast<unsigned>(stop) << 1))),
          stops_(session_, g.kb(mode), mode,
                 !stepwise_skip && !item.skip_arguments && !item.single_token && stream_at_.has_value(),
                 stream_at_.value_or(0), mode_and_stop_),
          stream_end_(stream_at_.value_or(0) + in_.token_count()) {}

    // Skips up to where the bad content ends; answers whether it took any
    // token. Its steps are charged to the recovery budget.
    bool run();
    // The diagnostics of the arguments taken whole (see `leave_fence`), which
    // the Error node carries.
    FailureList take_fence_diagnostics() { return std::move(inside_fences_); }

    // The environment headers of the input, indexed on the first question:
    // nested arguments each index the headers they hold, so the work counts
    // against the recovery budget, and a failure that asks nothing about
    // environments does not index them.
    static const EnvironmentIndex& environments(Grammar& g);

private:
    enum class Step : std::uint8_t { Next, Taken, Stop };

    Step kept_stop();
    Step fence(std::uint16_t role);
    Step argument_group(std::uint16_t role);
    Step stretch();
    Step begin(std::uint16_t role);
    Step end(std::uint16_t role);
    Step right(std::uint16_t role);
    Step closer_run(std::uint16_t role);
    Step token(const SpannedToken& t, std::uint16_t role);
    void command_slots(const knowledge::ActiveCommandRecord& record);
    // Where the skip would stop inside an argument entered, it takes the
    // outermost one whole instead; answers whether it was inside one.
    bool leave_fence();
    // Going to where a kept skip stopped or was back counts as the steps
    // that skip took there, up to `kMostStepsOfKeptSkip`: where skips are
    // short, the budget runs out where it would have without them, and a
    // long stretch the skip does not go through again costs a constant.
    void take_kept_steps(std::size_t taken, bool goes_on) {
        const std::size_t counted = std::min(taken, kMostStepsOfKeptSkip);
        // A skip that goes on counts a step for the jump itself.
        kept_steps_ += goes_on ? (counted > 0 ? counted - 1 : 0) : counted;
    }
    bool one_step() const noexcept { return !stepwise_skip; }
    // The skip's table, when its input lies in the stream (see `SkipTable`).
    const SkipTable* skip_table() { return stream_at_ ? session_.skip_table(mode_, g_.kb(mode_)) : nullptr; }

    Grammar& g_;
    Input& in_;
    ArgumentSession& session_;
    HardStop stop_;
    ContentMode mode_;
    const FailedItem& item_;
    bool consumed_ = false;
    SkipLevels levels_;
    bool own_open_ = false;  // the level of the item's own header, the first one the skip opens
    SlotScans slot_scans_;
    TextFences fences_;
    // The outermost argument entered, with the levels open before it, and
    // the diagnostics of the arguments taken whole after all.
    std::optional<Collected> outer_fence_;
    FailureList inside_fences_;
    // The steps the skip takes, each over one token or one stretch passed
    // whole: what the budget counts.
    std::size_t steps_ = 0;
    std::size_t kept_steps_ = 0;  // counted beyond one a step for kept skips
    const SpannedToken* tokens_;  // the input's
    std::optional<std::size_t> stream_at_;
    std::uint8_t mode_and_stop_;
    // What skips did from the tokens they passed, kept and asked by stream
    // index.
    StopCandidates stops_;
    std::size_t stream_end_;
    bool stop_at_end_ = false;
};

const EnvironmentIndex& ItemSkip::environments(Grammar& g) {
    if (!g.environments_) {
        ArgumentSession& session = g.argument_session();
        const SpannedToken* first = g.in_.token_at(0);
        const auto at = session.index_of(first);
        const auto controls =
            at ? session.environment_controls(*at, g.in_.token_count()) : std::span<const std::size_t>{};
        g.charge_recovery(controls.size());
        g.environments_ = std::make_shared<const EnvironmentIndex>(first, g.in_.token_count(), controls);
    }
    return *g.environments_;
}

std::optional<FailedItem> ItemSkip::report(Grammar& g, HardStop stop, ContentMode mode, std::size_t p) {
    Input& in = g.in_;
    Failure e = in.take_failure();
    std::size_t first = p;
    const SpannedToken* next = in.token_after_whitespace(first);
    const bool is_left = next != nullptr && next->token.is_control("left");
    const bool is_begin = next != nullptr && next->token.is_control("begin");
    FailedItem item{next != nullptr ? next->span.start : in.source_len(), e.span.end};
    if (const auto header = is_begin ? whole_header(next, in.token_count() - first) : std::nullopt) {
        item.header = header->name;
        item.braced = in.span_between(first + header->open, first + header->close + 1);
    }

    auto pass_through = [&]() -> std::optional<FailedItem> {
        in.add_alt(p, std::move(e));
        return std::nullopt;
    };
    if (is_left && e.kind == Kind::LeftRightDelimiter) return pass_through();
    if (is_begin && (e.kind == Kind::EnvironmentModeError || e.kind == Kind::UnknownEnvironment)) {
        return pass_through();
    }
    in.rewind(p);
    if (next != nullptr && is_hard_stop(stop, next->token)) return pass_through();

    const std::optional<std::string>& header = item.header;
    std::optional<Kind> kind = e.kind;
    if (!kind && !e.custom) kind = Kind::RawExpectedFound;
    std::string message;
    if (header && g.kb(mode).lookup_env(*header) == nullptr && g.kb(other_mode(mode)).lookup_env(*header) != nullptr) {
        message = mode_error_message(*header, mode);
        kind = Kind::EnvironmentModeError;
    } else {
        message = e.custom ? e.message : in.display(e);
    }
    const std::string_view source = g.st_.source();
    const std::size_t s = item.s;
    const std::size_t window_end = std::min(in.source_len(), source.size());
    const std::string_view snippet = s <= window_end && is_char_boundary(source, s)
                                         ? source.substr(s, window_end - s)
                                         : source.substr(0, window_end);
    auto [final_message, final_kind] = normalize_recovery_message(
        g.st_.context(), mode, snippet, [&]() -> const EnvironmentIndex& { return environments(g); }, s,
        std::move(message), kind);
    item.skip_arguments = final_kind == Kind::CommandModeError;
    item.single_token = final_kind == Kind::UnknownCommand && e.span.start == s;

    std::optional<Failure> diagnostic;
    if (!e.custom) {
        const OwnedToken* foreign = e.foreign_found();
        const SpannedToken* found = foreign != nullptr ? nullptr : in.token_at(e.found);
        auto right_or_end = [](const auto& token) { return token.is_control("right") || token.is_control("end"); };
        const bool at_right_or_end =
            foreign != nullptr ? right_or_end(*foreign) : found != nullptr && right_or_end(found->token);
        if (at_right_or_end) diagnostic = g.invalid_left_between(s, e.span.end);
    }
    if (!diagnostic) diagnostic = recovery_diagnostic_from_error(std::move(e), final_message, final_kind);
    const bool has_direct = diagnostic->direct() != nullptr && diagnostic->direct()->has_value();
    if (!has_direct && header && diagnostic->kind == Kind::EnvironmentModeError) diagnostic->at_source(item.braced);
    g.st_.push_recovery_diagnostic(in.to_owned(*diagnostic));
    item.message = std::move(final_message);
    return item;
}

bool ItemSkip::run() {
    for (;; ++steps_) {
        in_.fuel().burn(kUnitsPerSkipStep);
        g_.skip_ws();
        const SpannedToken* t = in_.peek();
        if (t == nullptr) {
            // Where the window ends.
            stops_.bound(stream_end_ - 1, stream_end_);
            stop_at_end_ = true;
            break;
        }
        fences_.leave_before(in_.pos());
        // What the token does to the skip, as the stretches see it.
        const std::uint16_t role = SkipTable::role_of(t, in_.token_count() - in_.pos(), g_.kb(mode_));
        Step step = kept_stop();
        if (step == Step::Next) step = fence(role);
        if (step == Step::Next) step = argument_group(role);
        if (step == Step::Next) step = stretch();
        if (step == Step::Next) step = begin(role);
        if (step == Step::Next) step = end(role);
        if (step == Step::Next) step = right(role);
        if (step == Step::Next) step = closer_run(role);
        if (step == Step::Next) step = token(*t, role);
        if (step == Step::Stop) break;
    }
    if (stops_.on()) {
        stops_.settle(levels_);
        stops_.keep(in_.pos(), steps_ + kept_steps_, stop_at_end_, fences_.entered());
    }
    g_.charge_recovery(steps_ + kept_steps_ + slot_scans_.read);
    return consumed_;
}

bool ItemSkip::leave_fence() {
    fences_.leave_before(in_.pos());
    if (!fences_.active()) return false;
    const Collected& group = *outer_fence_;
    if (one_step() && stream_at_) {
        util::work_count += fences_.entered().size();
        burn_lookups(fences_.entered().size());
        for (const TextFences::Fence& f : fences_.entered()) {
            session_.stopping_text_arguments.insert({*stream_at_ + f.close, mode_and_stop_});
        }
    }
    TrackedNode node;
    Failure failure;
    if (parse_tokens_as_content(g_, ContentMode::Text, group, node, failure)) {
        inside_fences_.append(std::move(node.diagnostics));
    } else {
        inside_fences_.push_back(in_.to_owned(failure));
    }
    in_.rewind(group.last + 1);
    fences_.leave_before(in_.pos());
    levels_.back_to_mark();
    stops_.forget();
    return true;
}

ItemSkip::Step ItemSkip::kept_stop() {
    if (!stops_.on() || !consumed_) return Step::Next;
    // From a token where another skip stopped without asking what came
    // before, this one stops where that one did.
    burn_lookups();
    const auto kept = session_.skip_stop({*stream_at_ + in_.pos(), mode_and_stop_}, stream_end_);
    if (!kept) {
        stops_.pass(in_.pos(), steps_ + kept_steps_, levels_,
                    fences_.active() ? std::optional(fences_.innermost_entry()) : std::nullopt);
        return Step::Next;
    }
    stops_.bound(kept->reach, kept->end_at_most);
    take_kept_steps(kept->steps, kept->goes_on);
    in_.rewind(kept->stop - *stream_at_);
    // Back to the levels it had here, and the braces it left open: it goes
    // on from there.
    if (kept->goes_on) {
        levels_.open(SkipLevels::Brace, kept->braces);
        return Step::Taken;
    }
    stop_at_end_ = kept->stop == stream_end_;
    // What the skip meets there, as it would have met it.
    g_.skip_ws();
    return leave_fence() ? Step::Taken : Step::Stop;
}

// Inside an argument entered, a `\right` or `\end` no level opened in it
// answers is text, where the skip would stop: it takes the argument whole.
ItemSkip::Step ItemSkip::fence(std::uint16_t role) {
    if (((role & SkipTable::kRight) && fences_.stops_right(levels_.count(SkipLevels::Left))) ||
        ((role & SkipTable::kEnd) && fences_.stops_end(levels_.count(SkipLevels::Environment)))) {
        leave_fence();
        return Step::Taken;
    }
    return Step::Next;
}

ItemSkip::Step ItemSkip::argument_group(std::uint16_t role) {
    if (!item_.skip_arguments || !(role & (SkipTable::kOpenBracket | SkipTable::kOpenBrace))) return Step::Next;
    // A whole argument group; one left open runs to the end of input, and
    // the collector's failure is of no interest here.
    Collected group;
    Failure ignored;
    if (role & SkipTable::kOpenBracket) {
        collect_optional_bracketed_tokens(g_, group, ignored);
    } else {
        collect_braced_tokens(g_, group, ignored);
    }
    consumed_ = true;
    return Step::Taken;
}

ItemSkip::Step ItemSkip::stretch() {
    if (!one_step() || fences_.active() || !consumed_ || item_.single_token || item_.skip_arguments) {
        return Step::Next;
    }
    // A stretch of tokens that only open levels (braces, `\left`,
    // environments) and pass what neither stops nor steers the skip is
    // passed at once: token by token, deep nesting would pass it once per
    // enclosing failed item. Its levels are kept as the stretch itself, so
    // that passing it stays constant time. It ends where
    // a kept skip went on from, so that this one takes the same way (see
    // `ArgumentSession::kept_return_in_stretch`).
    const SkipTable* table = skip_table();
    if (table == nullptr) return Step::Next;
    burn_lookups(stops_.on() ? 2 : 1);
    const std::size_t from = *stream_at_ + in_.pos();
    auto to = table->stretch_end(from, stream_end_);
    if (!to) return Step::Next;
    if (stops_.on()) {
        if (const auto kept = session_.kept_return_in_stretch(from, *to, stream_end_, *table, mode_and_stop_)) {
            to = kept;
        }
    }
    if (*to <= from) return Step::Next;
    levels_.open_stretch(*table, from, *to);
    in_.rewind(*to - *stream_at_);
    return Step::Taken;
}

ItemSkip::Step ItemSkip::begin(std::uint16_t role) {
    if (!(role & SkipTable::kBegin) || (role & SkipTable::kBadHeader)) return Step::Next;
    // A text body is taken whole, as a text slot is.
    if (role & SkipTable::kTextBody) {
        if (const auto after = environments(g_).after_closing_end(in_.pos())) {
            const bool own = item_.header && !consumed_;
            in_.rewind(*after);
            consumed_ = true;
            // The item's own environment, failed in its body: the bad
            // content ends with it.
            if (own && item_.failure_end <= in_.token_at(*after - 1)->span.end) return Step::Stop;
            return Step::Taken;
        }
        // A body that no `\end` closes may find one in a wider window.
        stops_.bound(stream_end_ - 1, stream_end_);
    }
    if (!consume_environment_marker(in_, "begin")) return Step::Stop;
    own_open_ |= item_.header && !consumed_;
    consumed_ = true;
    levels_.open(SkipLevels::Environment);
    return Step::Taken;
}

ItemSkip::Step ItemSkip::end(std::uint16_t role) {
    if (!(role & SkipTable::kEnd)) return Step::Next;
    stops_.closer(SkipLevels::Environment, levels_);
    // Past the item's own header, an `\end` closes the innermost
    // environment the skip opened.
    if (levels_.count(SkipLevels::Environment) > (own_open_ ? 1 : 0)) {
        // A run of headers, each closing a level the skip opened, is passed
        // up to its last one at once: header by header, deep nesting would
        // pass it once per enclosing failed item. The last is read as ever,
        // so the kept failure is the same.
        const std::size_t floor = std::max<std::size_t>(own_open_ ? 1 : 0, fences_.environments());
        const std::size_t open = levels_.count(SkipLevels::Environment);
        const std::size_t spare = open > floor ? open - floor : 0;
        const SkipTable* table = spare > 1 ? skip_table() : nullptr;
        if (table != nullptr) burn_lookups();
        const auto run =
            table != nullptr ? table->end_header_run(*stream_at_ + in_.pos(), spare, stream_end_) : std::nullopt;
        if (run && run->nth > 1) {
            levels_.close(SkipLevels::Environment, run->nth - 1);
            in_.rewind(run->control - *stream_at_);
        }
        if (!consume_environment_marker(in_, "end")) in_.bump();
        consumed_ = true;
        levels_.close(SkipLevels::Environment);
        return Step::Taken;
    }
    if (!item_.header) return Step::Next;
    const auto end = whole_header(tokens_ + in_.pos(), in_.token_count() - in_.pos());
    if (!end) return Step::Next;
    burn_lookups();
    if (end->name == *item_.header) {
        // Innermost where the item failed, it ends the bad content;
        // otherwise the item failed after it, and it closes the item's own
        // environment.
        const bool failed_inside = environments(g_).is_innermost_before(item_.failure_end, end->name);
        if ((failed_inside || own_open_) && consume_environment_marker(in_, "end")) {
            consumed_ = true;
            if (failed_inside) return Step::Stop;
            levels_.close(SkipLevels::Environment);
            own_open_ = false;
            return Step::Taken;
        }
        return Step::Stop;
    }
    // An `\end` of an environment open before the item is the enclosing one's.
    if (environments(g_).is_open_before(item_.s, end->name)) return Step::Stop;
    if (consume_environment_marker(in_, "end")) consumed_ = true;
    return Step::Stop;
}

ItemSkip::Step ItemSkip::right(std::uint16_t role) {
    if (!(role & SkipTable::kRight)) return Step::Next;
    stops_.closer(SkipLevels::Left, levels_);
    if (levels_.count(SkipLevels::Left) == 0) return Step::Stop;
    in_.bump();
    consumed_ = true;
    levels_.close(SkipLevels::Left);
    return Step::Taken;
}

ItemSkip::Step ItemSkip::closer_run(std::uint16_t role) {
    if (!(role & SkipTable::kCloseBrace)) return Step::Next;
    stops_.closer(SkipLevels::Brace, levels_);
    if (!one_step() || fences_.active() || item_.single_token || item_.skip_arguments ||
        levels_.count(SkipLevels::Brace) <= 1) {
        return Step::Next;
    }
    // A run of `}`, each closing a level the skip opened, with only what
    // opens no level between them, is passed at once: one by one, deep
    // nesting would pass it once per enclosing failed item.
    const SkipTable* table = skip_table();
    burn_lookups();
    const auto run = table != nullptr ? table->closer_run(*stream_at_ + in_.pos(), levels_.count(SkipLevels::Brace),
                                                          stream_end_, stop_ != HardStop::MathControlParen)
                                      : std::nullopt;
    if (!run || run->nth <= 1) return Step::Next;
    levels_.close(SkipLevels::Brace, run->nth);
    in_.rewind(run->end - *stream_at_);
    consumed_ = true;
    return Step::Taken;
}

ItemSkip::Step ItemSkip::token(const SpannedToken& t, std::uint16_t role) {
    const bool closes_level = (role & SkipTable::kCloseBrace) && levels_.count(SkipLevels::Brace) > 0;
    if (consumed_ && !closes_level && is_hard_stop(stop_, t.token)) return leave_fence() ? Step::Taken : Step::Stop;
    in_.bump();
    consumed_ = true;
    if (role & SkipTable::kOpenBrace) levels_.open(SkipLevels::Brace);
    if (closes_level) levels_.close(SkipLevels::Brace);
    if (role & SkipTable::kLeft) levels_.open(SkipLevels::Left);
    if (item_.single_token) return Step::Stop;
    if (role & SkipTable::kTextSlots) command_slots(*g_.kb(mode_).lookup_command(t.token.name()));
    return Step::Taken;
}

void ItemSkip::command_slots(const knowledge::ActiveCommandRecord& record) {
    auto plain = [&](std::size_t from, std::size_t to) {
        const SkipTable* table = from < to ? skip_table() : nullptr;
        return from >= to || (table != nullptr && table->plain_between(*stream_at_ + from, *stream_at_ + to));
    };
    const auto close = skip_text_slots(g_, skip_taken_slots(&record), slot_scans_, plain);
    if (slot_scans_.found_open) {
        stops_.off();
    } else if (slot_scans_.open_brace) {
        // Open in every window that ends before its `}`.
        const auto match = session_.brace_match(*stream_at_ + *slot_scans_.open_brace);
        stops_.bound(0, match.value_or(std::numeric_limits<std::size_t>::max()));
    } else if (slot_scans_.left_open) {
        stops_.bound(stream_end_ - 1, stream_end_);
    }
    slot_scans_.open_brace.reset();
    slot_scans_.left_open = false;
    if (close && fences_.nests(close->last)) {
        if (!fences_.active()) {
            outer_fence_.emplace(*close);
            levels_.set_mark();
        }
        fences_.enter(close->last, levels_.count(SkipLevels::Left), levels_.count(SkipLevels::Environment),
                      in_.pos());
        // One another skip took whole is taken whole at once.
        ++util::work_count;
        burn_lookups();
        if (one_step() && stream_at_ &&
            session_.stopping_text_arguments.contains({*stream_at_ + close->last, mode_and_stop_})) {
            leave_fence();
        }
    }
}

[[gnu::noinline]] bool Grammar::skip_failed_item(HardStop stop, ContentMode mode, std::size_t p, TrackedNode& out) {
    std::optional<FailedItem> item = ItemSkip::report(*this, stop, mode, p);
    if (!item) return false;
    ItemSkip skip(*this, stop, mode, *item);
    if (!skip.run()) {
        Failure soft = in_.err_since(p, "content recovery must consume at least one token");
        soft.soft = true;
        in_.add_alt(p, std::move(soft));
        return false;
    }
    const Span span = in_.span_since(p);
    out = TrackedNode::leaf(SyntaxNode::Error{std::move(item->message), error_text(span)}, span);
    out.diagnostics = skip.take_fence_diagnostics();
    return true;
}

}  // namespace quorvel::parse::grammar
