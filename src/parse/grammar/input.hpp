// The runtime every grammar rule runs on: a cursor over one token stream and
// the one failure kept for the farthest point the rules reached.
//
// A rule succeeds by returning true; it fails by returning false after it made
// sure a failure is kept. The kept failure follows the combinator library the
// grammar was designed with:
// - a failure recorded at a later position replaces the kept one, one at an
//   earlier position is dropped, and two at the same position are merged
//   (`merge_failure`);
// - a failed alternative rewinds the cursor but leaves the kept failure, so
//   the failures of the alternatives of a choice meet and merge;
// - a rule that reports a failure of its own registers it at the position
//   where the rule started; what the rule recorded while it ran is discarded,
//   what was kept before it started stays (`RuleScope`);
// - a labelled rule relabels a failure that lies at its start, and a context
//   label adds (label, span) to one that lies beyond it (`labelled`).
// Positions are token indices: the end of the last consumed token is always
// that of the token before the cursor.
//
// Most formulas parse without a diagnostic, and then the kept failure is
// never read. A quiet input skips the bookkeeping; the grammar's control flow
// does not depend on it, and every point that would read a failure (to report
// it, or to decide how to recover) abandons the quiet run instead, so that
// the parse is run again with failures kept.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "parse/failure.hpp"
#include "parse/grammar/failure_slot.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse/lexer.hpp"
#include "parse/span.hpp"
#include "parse/token.hpp"

namespace quorvel::parse::grammar {

// Thrown where a quiet run would read a failure.
struct QuietRunAbandoned {};

class Input {
public:
    struct Located {
        std::size_t pos;
        Failure failure;
    };

    explicit Input(const TokenStream& stream) noexcept
        : tokens_(stream.tokens.data()), count_(stream.tokens.size()), source_len_(stream.source_len) {}
    // A window of a stream read as a whole input: `count` tokens from `tokens`,
    // the end of input at byte `end_point`; the window's text begins at byte
    // `window_start` (the end of the token that opened it).
    Input(const SpannedToken* tokens, std::size_t count, std::size_t window_start, std::size_t end_point) noexcept
        : tokens_(tokens), count_(count), source_len_(end_point), window_start_(window_start) {}

    // ---- Cursor -------------------------------------------------------------

    std::size_t pos() const noexcept { return pos_; }
    void rewind(std::size_t pos) noexcept {
        meter_.burn(1);
        pos_ = pos;
    }
    bool at_end() const noexcept { return pos_ >= count_; }
    std::size_t token_count() const noexcept { return count_; }
    std::size_t source_len() const noexcept { return source_len_; }
    // Where the input's text begins: 0, or the start of a window. Textual
    // scans of the source look no further back.
    std::size_t window_start() const noexcept { return window_start_; }
    Span end_span() const noexcept { return {source_len_, source_len_}; }

    // The token at the cursor, or null at the end of input.
    // Every look at a token burns a unit of the run's fuel (see fuel.hpp).
    const SpannedToken* peek() const noexcept {
        meter_.burn(1);
        return pos_ < count_ ? &tokens_[pos_] : nullptr;
    }
    const SpannedToken* token_at(std::size_t index) const noexcept {
        meter_.burn(1);
        return index < count_ ? &tokens_[index] : nullptr;
    }
    // Consumes the token at the cursor; nothing at the end of input.
    void bump() noexcept {
        meter_.burn(1);
        if (pos_ < count_) ++pos_;
    }

    // Moves the cursor past white space, burning what a `peek` at each token
    // and a `bump` of each white one would.
    void skip_whitespace() noexcept {
        meter_.burn(1);
        std::size_t p = pos_;
        if (p >= count_ || tokens_[p].token.kind() != TokenKind::Whitespace) return;
        do ++p;
        while (p < count_ && tokens_[p].token.kind() == TokenKind::Whitespace);
        meter_.burn(2 * (p - pos_));
        pos_ = p;
    }
    // The index of the first token from `index` on that is not white space
    // (the token count at the end); burns what a `token_at` of each token up
    // to it would.
    std::size_t whitespace_end(std::size_t index) const noexcept {
        std::size_t p = index;
        while (p < count_ && tokens_[p].token.kind() == TokenKind::Whitespace) ++p;
        meter_.burn(p - index + 1);
        return p;
    }
    // The first token from `index` on that is not white space, or null,
    // with `index` moved to it; burns what a `token_at` of each token up to
    // it would.
    const SpannedToken* token_after_whitespace(std::size_t& index) const noexcept {
        index = whitespace_end(index);
        return index < count_ ? &tokens_[index] : nullptr;
    }
    // The first token from the cursor on that is not white space, or null;
    // burns what a `token_at` of each token up to it would.
    const SpannedToken* peek_after_whitespace() const noexcept {
        meter_.burn(1);
        std::size_t p = pos_;
        if (p >= count_) return nullptr;
        if (tokens_[p].token.kind() != TokenKind::Whitespace) return &tokens_[p];
        do ++p;
        while (p < count_ && tokens_[p].token.kind() == TokenKind::Whitespace);
        meter_.burn(p - pos_);
        return p < count_ ? &tokens_[p] : nullptr;
    }

    // ---- Fuel -----------------------------------------------------------------

    // The tank of the run this input belongs to: the thread's when the input
    // was made.
    Fuel& fuel() const noexcept { return meter_.fuel(); }
    // Lifts the tank (see `Fuel::lift`); only the innermost input may.
    void lift_fuel() noexcept { meter_.lift(); }
    // Called at every rule entry: throws `FormulaTooComplex` once the run's
    // fuel is spent.
    void check_fuel() const { meter_.check(); }
    // Charges an allocation of `bytes` (see `Fuel::hold`); only the
    // innermost input may.
    void hold(std::size_t bytes) { meter_.hold(bytes); }

    // The span rule: from the start of the token at `saved` (the end-of-input
    // point when there is none) to the end of the last consumed token (the
    // end-of-input point when none has been consumed). When nothing was
    // consumed since `saved`, a comment before its token would put that end
    // before the start: the span is then the empty point at the token.
    Span span_since(std::size_t saved) const noexcept { return span_between(saved, pos_); }
    // The span from the token at `from` to the end of the token before `to`.
    Span span_between(std::size_t from, std::size_t to) const noexcept {
        const std::size_t start = from < count_ ? tokens_[from].span.start : source_len_;
        const std::size_t end = to > 0 && to <= count_ ? tokens_[to - 1].span.end : source_len_;
        return {start, end < start ? start : end};
    }
    // What a primitive that refuses the token at the cursor reports: that
    // token's span, or the end-of-input point.
    Span here_span() const noexcept { return pos_ < count_ ? tokens_[pos_].span : end_span(); }
    std::size_t here_found() const noexcept { return pos_ < count_ ? pos_ : kNoToken; }

    // ---- The kept failure -----------------------------------------------------

    bool quiet() const noexcept { return quiet_; }
    void set_quiet(bool quiet) noexcept { quiet_ = quiet; }
    // Called where the kept failure (or one taken from it) is about to be read.
    void abandon_if_quiet() const {
        if (quiet_) throw QuietRunAbandoned{};
    }

    const std::optional<Located>& alt() const noexcept { return alt_; }
    std::optional<Located> take_alt() noexcept { return std::exchange(alt_, std::nullopt); }
    // Puts a failure back as the kept one, dropping whatever is kept now.
    void restore_alt(std::optional<Located> old) noexcept { alt_ = std::move(old); }
    // Offers a failure recorded at `pos`.
    void add_alt(std::size_t pos, Failure&& failure) {
        if (!quiet_) add_alt_slow(pos, std::move(failure));
    }
    void merge_alt(std::optional<Located>&& other) {
        if (other) add_alt(other->pos, std::move(other->failure));
    }
    // Keeps `older`, recorded at the kept failure's position, with the kept
    // failure merged into it: as restoring `older` and merging the kept one
    // back, without moving either twice.
    void merge_into_older(Located&& older) {
        merge_failure(older.failure, std::move(alt_->failure));
        alt_->failure = std::move(older.failure);
    }
    // The token at the cursor is not what `expected` describes.
    void expect(PatternId expected) {
        if (quiet_) return;
        if (alt_ && alt_->pos >= pos_) {
            // Most refusals meet a failure at the same point, or a farther one.
            if (alt_->pos == pos_ && !alt_->failure.custom) alt_->failure.expected.add(expected);
            return;
        }
        expect_slow(expected);
    }
    // The refusals of several primitives in a row at the cursor, one expecting
    // each of `ids` in turn: the same as `expect` for each.
    void expect_each(std::span<const PatternId> ids) {
        if (quiet_ || ids.empty()) return;
        expect(ids.front());
        // The kept failure now lies here or farther on.
        if (alt_->pos != pos_ || alt_->failure.custom) return;
        for (PatternId id : ids.subspan(1)) alt_->failure.expected.add(id);
    }
    // The failure a failed sub-rule left, taken out of the slot; a failure that
    // left nothing gives an expected/found failure at the cursor.
    Failure take_failure();

    // A custom failure over the span since `saved` (the end-of-input point when
    // `saved` is at the end of the stream).
    Failure err_since(std::size_t saved, std::string message) const {
        const Span span = saved >= count_ ? end_span() : span_since(saved);
        return Failure::custom_message(span, std::move(message));
    }
    Failure err_peek_or_point(std::string message) const { return err_since(pos_, std::move(message)); }

    // ---- Patterns and texts -----------------------------------------------------

    // The number of a pattern; patterns the grammar does not name are numbered
    // per input.
    PatternId intern(const Pattern& pattern);
    Pattern pattern(PatternId id) const;
    void append_pattern_display(std::string& out, PatternId id) const;

    // The reason's display text ("found ... expected ..." or the message).
    std::string reason_display(const Failure& failure) const;
    // The reason followed by its contexts.
    std::string display(const Failure& failure) const;

    // The owned failure, for the tree, the recovery list and the run's result;
    // a quiet run is abandoned here.
    ParseFailure to_owned(const Failure& failure) const;
    // A failure from another stream (an owned one) in the grammar's form.
    Failure from_owned(ParseFailure failure);

private:
    void expect_slow(PatternId expected);
    void add_alt_slow(std::size_t pos, Failure&& failure);
    void append_found_display(std::string& out, const Failure& failure) const;

    const SpannedToken* tokens_;
    std::size_t count_;
    std::size_t source_len_;
    std::size_t window_start_ = 0;
    mutable Fuel::Meter meter_{Fuel::current()};
    std::size_t pos_ = 0;
    bool quiet_ = false;
    std::optional<Located> alt_;
    std::vector<Pattern> dynamic_patterns_;
};

// The frame of a rule that reports failures of its own. It sets aside the
// failure kept when the rule starts. When the rule fails with a failure of its
// own, what it recorded on its way to the point where it failed is discarded
// (the leftovers of steps that succeeded); a failure of an attempt it gave up
// that reached beyond that point still competes. The old failure comes back
// and the rule's failure is offered at the rule's start. Otherwise (success,
// or a sub-rule's failure handed on where it lies) what the rule recorded
// joins the old failure.
class RuleScope {
public:
    explicit RuleScope(Input& in) : RuleScope(in, in.pos()) {}
    // A rule that started at `start` and has recorded nothing since.
    RuleScope(Input& in, std::size_t start) : in_(in), start_(start), old_(in.take_alt()) {}
    RuleScope(const RuleScope&) = delete;
    RuleScope& operator=(const RuleScope&) = delete;
    ~RuleScope() {
        if (!done_) keep();
    }

    std::size_t start() const noexcept { return start_; }

    // The rule's failure, from its start; always false.
    bool fail(Failure&& failure) {
        done_ = true;
        std::optional<Input::Located> inner = in_.take_alt();
        if (inner && inner->pos <= in_.pos()) inner.reset();
        in_.restore_alt(std::move(old_));
        in_.add_alt(start_, std::move(failure));
        in_.merge_alt(std::move(inner));
        return false;
    }
    // The rule's failure is one a look-ahead met at `pos`, taken whole: what
    // the rule recorded goes, and the failure is offered where it lies;
    // always false.
    bool fail_at(std::size_t pos, Failure&& failure) {
        done_ = true;
        in_.restore_alt(std::move(old_));
        in_.add_alt(pos, std::move(failure));
        return false;
    }
    // The rule was an attempt given up: what it recorded goes, the old
    // failure comes back.
    void discard() {
        done_ = true;
        in_.restore_alt(std::move(old_));
    }
    // Hands on the failure a sub-rule left; always false.
    bool pass_on() {
        keep();
        return false;
    }
    // What the rule recorded joins the old failure.
    void keep() {
        done_ = true;
        if (!old_) return;
        const auto& now = in_.alt();
        if (!now || now->pos < old_->pos) {
            in_.restore_alt(std::move(old_));
            return;
        }
        if (now->pos > old_->pos) return;
        // The same position: the old failure comes first.
        in_.merge_into_older(std::move(*old_));
    }

private:
    Input& in_;
    std::size_t start_;
    std::optional<Input::Located> old_;
    bool done_ = false;
};

// Runs `rule` under a label. A failure the rule leaves at its start position is
// relabelled; with `context` set, one beyond its start gains (label, span).
template <class Rule>
bool labelled(Input& in, PatternId label, bool context, Rule&& rule) {
    std::optional<Input::Located> old = in.take_alt();
    const std::size_t start = in.pos();
    const bool ok = rule();
    std::optional<Input::Located> fresh = in.take_alt();
    in.restore_alt(std::move(old));
    if (fresh) {
        if (fresh->pos == start) {
            fresh->failure.label_with(label);
        } else if (context && fresh->pos > start) {
            fresh->failure.with_context(label, in.span_between(start, fresh->pos));
        }
        in.add_alt(fresh->pos, std::move(fresh->failure));
    }
    return ok;
}

// Runs a look-ahead: the cursor and the kept failure are put back afterwards,
// so the probe consumes nothing and leaves no failure behind.
template <class Probe>
auto lookahead(Input& in, Probe&& probe) {
    const std::size_t pos = in.pos();
    std::optional<Input::Located> old = in.take_alt();
    auto result = probe();
    in.rewind(pos);
    in.restore_alt(std::move(old));
    return result;
}

}  // namespace quorvel::parse::grammar
