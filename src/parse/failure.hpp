#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "parse/diagnostic_kind.hpp"
#include "parse/lexer.hpp"
#include "parse/span.hpp"
#include "parse/token.hpp"
#include "util/box.hpp"

namespace quorvel::parse {

// Something a failed rule expected, or a context label: a token (shown quoted), a
// label (shown as it is), the end of input, "something else" or "any". Label texts
// are the grammar's static strings and are not copied.
//
// Every recovered failure keeps its expected list and contexts until the parse
// ends, so a pattern is three words: a token pattern keeps the token's kind and
// value (a control sequence its own copy of the name), a label its text.
class Pattern {
public:
    enum class Kind : std::uint8_t { Token, Label, EndOfInput, SomethingElse, Any };

    Pattern() noexcept = default;
    Pattern(const Pattern& other) : value_(other.value_), kind_(other.kind_), token_kind_(other.token_kind_) {
        text_ = other.owns_text() ? copy_text(other.text_, other.value_) : other.text_;
    }
    Pattern(Pattern&& other) noexcept
        : text_(std::exchange(other.text_, nullptr)), value_(other.value_), kind_(other.kind_),
          token_kind_(other.token_kind_) {}
    Pattern& operator=(const Pattern& other) {
        if (this != &other) *this = Pattern(other);
        return *this;
    }
    Pattern& operator=(Pattern&& other) noexcept {
        if (this != &other) {
            release();
            text_ = std::exchange(other.text_, nullptr);
            value_ = other.value_;
            kind_ = other.kind_;
            token_kind_ = other.token_kind_;
        }
        return *this;
    }
    ~Pattern() { release(); }

    static Pattern of_token(const OwnedToken& t) { return of_token(t.kind(), t.raw_value(), t.name()); }
    static Pattern of_token(const Token& t) { return of_token(t.kind(), t.raw_value(), t.name()); }
    static Pattern label(std::string_view text) {
        Pattern p(Kind::Label);
        p.text_ = text.data();
        p.value_ = text.size();
        return p;
    }
    static Pattern end_of_input() { return Pattern(Kind::EndOfInput); }
    static Pattern something_else() { return Pattern(Kind::SomethingElse); }
    static Pattern any() { return Pattern(Kind::Any); }

    Kind kind() const noexcept { return kind_; }
    // Kind::Token: the token's variant, and the token itself.
    TokenKind token_kind() const noexcept { return token_kind_; }
    OwnedToken token() const;
    // Kind::Label: the label text.
    std::string_view label_text() const noexcept {
        return kind_ == Kind::Label ? std::string_view(text_, value_) : std::string_view();
    }

    bool operator==(const Pattern& other) const;
    void append_display(std::string& out) const;
    std::string display() const;

private:
    explicit Pattern(Kind kind) noexcept : kind_(kind) {}
    static Pattern of_token(TokenKind kind, std::uint64_t value, std::string_view name);
    static const char* copy_text(const char* text, std::size_t size);
    // A control-sequence name; the text of a label is the grammar's.
    bool owns_text() const noexcept { return kind_ == Kind::Token && token_kind_ == TokenKind::ControlSeq; }
    std::string_view name() const noexcept {
        return owns_text() ? std::string_view(text_, value_) : std::string_view();
    }
    void release() noexcept {
        if (owns_text()) delete[] text_;
        text_ = nullptr;
    }

    const char* text_ = nullptr;  // the label text, or a control sequence's name
    std::uint64_t value_ = 0;     // the length of that text, or the token's value
    Kind kind_ = Kind::SomethingElse;
    TokenKind token_kind_ = TokenKind::Comment;
};

struct ExpectedFound {
    std::vector<Pattern> expected;
    std::optional<OwnedToken> found;  // none: the failure lies at the end of input
};

struct Custom {
    std::string message;
};

using Reason = std::variant<ExpectedFound, Custom>;

// "found ... expected ..." or the custom message: the reason's display text alone.
void append_reason_display(std::string& out, const Reason& reason);
std::string reason_display(const Reason& reason);

struct EnvironmentNames {
    std::string found;
    std::string expected;

    friend bool operator==(const EnvironmentNames&, const EnvironmentNames&) = default;
};

// Where (and, for a mismatched \end, with which names) a failure is reported instead
// of its own span.
struct DirectDiagnostic {
    std::optional<EnvironmentNames> environment_names;
    Span span;

    friend bool operator==(const DirectDiagnostic&, const DirectDiagnostic&) = default;
};

struct ContextEntry {
    Pattern label;
    Span span;
};

// The grammar's error value. It owns everything it holds (found tokens are copied out
// of the token stream when the failure is made), so it may outlive the parse run.
struct ParseFailure {
    std::vector<ContextEntry> context;  // innermost first; each label at most once
    Reason reason;
    Span span;
    // Few failures have one: behind a pointer, every kept failure stays small.
    util::Box<DirectDiagnostic> direct;
    bool soft = false;  // set only on failures without a message of their own
    std::optional<ParseDiagnosticKind> kind;

    static ParseFailure expected_found(Span span, std::vector<Pattern> expected, std::optional<OwnedToken> found);
    static ParseFailure custom(Span span, std::string message);

    bool is_custom() const { return std::holds_alternative<Custom>(reason); }
    // An expected/found failure whose found token is none.
    bool at_end_of_input() const;

    // The library's relabelling: expected becomes [label], a custom message is dropped
    // (found becomes none); soft, kind and direct are cleared.
    void label_with(Pattern label);
    void label_with(std::string_view label) { label_with(Pattern::label(label)); }

    // Appends (label, span) unless an equal label is already in the context.
    ParseFailure& with_context(Pattern label, Span span) &;
    ParseFailure with_context(Pattern label, Span span) && {
        with_context(std::move(label), span);
        return std::move(*this);
    }
    ParseFailure& with_context(std::string_view label, Span span) & { return with_context(Pattern::label(label), span); }
    ParseFailure with_context(std::string_view label, Span span) && {
        return std::move(*this).with_context(Pattern::label(label), span);
    }

    // Report at `span` as a mismatch of the found \end name against the expected one.
    ParseFailure& at_environment(Span span, std::string found, std::string expected) &;
    ParseFailure at_environment(Span span, std::string found, std::string expected) && {
        at_environment(span, std::move(found), std::move(expected));
        return std::move(*this);
    }
    // Report at `span` (any environment names are dropped).
    ParseFailure& at_source(Span span) &;
    ParseFailure at_source(Span span) && {
        at_source(span);
        return std::move(*this);
    }

    // Same kind, same direct override and same span.
    bool same_source(const ParseFailure& other) const;
    // Same number of contexts with pairwise equal label texts and spans.
    bool same_contexts(const ParseFailure& other) const;
    // Duplicate test for failures gathered in the tree: reasons equal in structure.
    bool matches_tree_diagnostic(const ParseFailure& other) const;
    // Duplicate test for recovery diagnostics: reasons equal as displayed text.
    bool matches_recovery_diagnostic(const ParseFailure& other) const;

    // Every span (own, contexts, direct) moved by `delta`; contexts are re-added one by
    // one, so a repeated label is kept once.
    ParseFailure shifted(std::size_t delta) &&;

    // Merges a rival failure offered at the same input position into this one.
    void merge(ParseFailure other);

    // The reason followed by " in {label} at {start}..{end}" per context entry.
    std::string display() const;
};

// The failure kept for the failed alternatives of a choice, with the input position
// (token index) at which it was recorded.
struct KeptFailure {
    std::size_t position;
    ParseFailure failure;
};

// Offers a failure recorded at `position`: one farther into the input replaces the kept
// failure, one at the same position is merged into it, an earlier one is dropped.
void offer_failure(std::optional<KeptFailure>& kept, std::size_t position, ParseFailure failure);

// The span rule of the grammar: from the start of the token at index `saved` (the
// end-of-input point when `saved` is at the end of the stream) to the end of the last
// token before index `current` (the end-of-input point when `current` is 0). A span
// that would end before it starts (a comment between the two tokens, nothing consumed)
// is the empty point at the start.
Span span_since(const TokenStream& stream, std::size_t saved, std::size_t current);

// A custom failure over the span since `saved`; when `saved` is at the end of the
// stream the span is the empty span at the end-of-input point.
ParseFailure err_since(const TokenStream& stream, std::size_t saved, std::size_t current, std::string message);

// `err_since` with the saved position taken to be the current one.
ParseFailure err_peek_or_point(const TokenStream& stream, std::size_t current, std::string message);

// A hash over everything the duplicate tests for diagnostics compare (kind,
// spans, direct report, reason text, contexts): failures that either test
// finds equal hash equal, so the tests can run through a hash index.
std::size_t diagnostic_match_hash(const ParseFailure& f);

}  // namespace quorvel::parse
