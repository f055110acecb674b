#include "parse/grammar/input.hpp"

#include <array>

namespace quorvel::parse::grammar {

namespace {

using K = Pattern::Kind;

constexpr StaticPattern tok(TokenKind kind) { return {K::Token, kind, {}}; }
constexpr StaticPattern lab(std::string_view text) { return {K::Label, TokenKind::Comment, text}; }

// In the order of the `pattern` numbers.
constexpr std::array<StaticPattern, pattern::kStaticPatternCount> kStaticPatterns = {{
    {K::EndOfInput, TokenKind::Comment, {}},
    {K::SomethingElse, TokenKind::Comment, {}},
    {K::Any, TokenKind::Comment, {}},
    tok(TokenKind::Tilde),
    tok(TokenKind::LBrace),
    tok(TokenKind::RBrace),
    tok(TokenKind::MathShift),
    tok(TokenKind::Ampersand),
    tok(TokenKind::Hash),
    tok(TokenKind::Caret),
    tok(TokenKind::Underscore),
    tok(TokenKind::Star),
    tok(TokenKind::LBracket),
    tok(TokenKind::RBracket),
    tok(TokenKind::Whitespace),
    lab("escaped symbol"),
    lab("bare delimiter control"),
    lab("unknown command"),
    lab("math prime"),
    lab("math character"),
    lab("text"),
    lab("("),
    lab(")"),
    lab("right"),
    lab("end"),
    lab("begin"),
    lab("left"),
    lab("control stop"),
    lab("environment name"),
    lab("delimiter"),
    lab("dimension"),
    lab("integer"),
    lab("not a command"),
    lab("subscript content"),
    lab("superscript content"),
    lab("mandatory argument"),
    lab("left-delimited group"),
    lab("environment body"),
    lab("command argument"),
    lab("declarative command argument"),
    lab("environment argument"),
    lab("infix command argument"),
    lab("argument value"),
    lab("expected keyval argument"),
    lab("expected column argument"),
}};

}  // namespace

const StaticPattern& static_pattern(PatternId id) { return kStaticPatterns[id]; }

// ---- Failure --------------------------------------------------------------------

void Failure::label_with(PatternId label) {
    if (custom) {
        custom = false;
        message.clear();
        found = kNoToken;
        if (extras) extras->foreign_found.reset();
    }
    expected.clear();
    expected.add(label);
    soft = false;
    kind.reset();
    if (extras) extras->direct.reset();
}

void Failure::with_context(PatternId label, Span at) {
    auto& context = extra().context;
    for (const auto& entry : context) {
        if (entry.first == label) return;
    }
    context.emplace_back(label, at);
}

void merge_failure(Failure& kept, Failure&& rival) {
    if (kept.custom) return;
    if (!rival.custom) {
        kept.expected.add_all(rival.expected);
        return;
    }
    // A rule's own failure says where the fault is: it replaces a leftover of
    // the steps before it at the same position whole, span and contexts
    // included, so that it is not reported at a neighbouring token.
    kept = std::move(rival);
}

// ---- Input: the kept failure ------------------------------------------------------

void Input::add_alt_slow(std::size_t pos, Failure&& failure) {
    if (!alt_) {
        alt_.emplace(Located{pos, std::move(failure)});
    } else if (alt_->pos < pos) {
        // Replaced in place rather than destroyed and made anew.
        alt_->pos = pos;
        alt_->failure = std::move(failure);
    } else if (alt_->pos == pos) {
        merge_failure(alt_->failure, std::move(failure));
    }
}

void Input::expect_slow(PatternId expected) {
    const std::size_t at = pos_;
    if (alt_) {
        // A later position than the kept failure: reuse its storage.
        Failure& kept = alt_->failure;
        alt_->pos = at;
        kept.span = here_span();
        kept.found = here_found();
        kept.custom = false;
        kept.soft = false;
        kept.kind.reset();
        kept.expected.clear();
        kept.expected.add(expected);
        kept.message.clear();
        kept.extras.reset();
        return;
    }
    alt_.emplace(Located{at, Failure::expected_found(here_span(), here_found(), expected)});
}

Failure Input::take_failure() {
    if (alt_) {
        Failure f = std::move(alt_->failure);
        alt_.reset();
        return f;
    }
    return Failure::expected_found(here_span(), here_found(), pattern::kSomethingElse);
}

// ---- Input: patterns and texts ------------------------------------------------------

PatternId Input::intern(const Pattern& p) {
    // A static one of the same kind, label and token kind (token kinds with a
    // payload have none).
    for (PatternId i = 0; i < pattern::kStaticPatternCount; ++i) {
        const StaticPattern& s = kStaticPatterns[i];
        if (s.kind == p.kind() && s.label == p.label_text() && (s.kind != K::Token || s.token == p.token_kind())) {
            return i;
        }
    }
    for (std::size_t i = 0; i < dynamic_patterns_.size(); ++i) {
        if (dynamic_patterns_[i] == p) return static_cast<PatternId>(pattern::kStaticPatternCount + i);
    }
    dynamic_patterns_.push_back(p);
    return static_cast<PatternId>(pattern::kStaticPatternCount + dynamic_patterns_.size() - 1);
}

Pattern Input::pattern(PatternId id) const {
    if (id >= pattern::kStaticPatternCount) return dynamic_patterns_[id - pattern::kStaticPatternCount];
    const StaticPattern& s = kStaticPatterns[id];
    switch (s.kind) {
        case K::Token: return Pattern::of_token(OwnedToken::simple(s.token));
        case K::Label: return Pattern::label(s.label);
        case K::EndOfInput: return Pattern::end_of_input();
        case K::SomethingElse: return Pattern::something_else();
        case K::Any: return Pattern::any();
    }
    return Pattern::something_else();
}

void Input::append_pattern_display(std::string& out, PatternId id) const {
    if (id >= pattern::kStaticPatternCount) {
        dynamic_patterns_[id - pattern::kStaticPatternCount].append_display(out);
        return;
    }
    const StaticPattern& s = kStaticPatterns[id];
    switch (s.kind) {
        case K::Token:
            out.push_back('\'');
            OwnedToken::simple(s.token).append_display(out);
            out.push_back('\'');
            break;
        case K::Label: out.append(s.label); break;
        case K::EndOfInput: out.append("end of input"); break;
        case K::SomethingElse: out.append("something else"); break;
        case K::Any: out.append("any"); break;
    }
}

void Input::append_found_display(std::string& out, const Failure& failure) const {
    if (const OwnedToken* foreign = failure.foreign_found()) {
        out.push_back('\'');
        foreign->append_display(out);
        out.push_back('\'');
    } else if (failure.found < count_) {
        out.push_back('\'');
        tokens_[failure.found].token.append_display(out);
        out.push_back('\'');
    } else {
        out.append("end of input");
    }
}

std::string Input::reason_display(const Failure& failure) const {
    if (failure.custom) return failure.message;
    std::string out = "found ";
    append_found_display(out, failure);
    out.append(" expected ");
    const std::size_t n = failure.expected.size();
    if (n == 0) {
        out.append("something else");
        return out;
    }
    std::size_t i = 0;
    for (PatternId id : failure.expected) {
        if (i > 0) out.append(", ");
        if (n > 1 && i + 1 == n) out.append("or ");
        append_pattern_display(out, id);
        ++i;
    }
    return out;
}

std::string Input::display(const Failure& failure) const {
    std::string out = reason_display(failure);
    if (failure.context() == nullptr) return out;
    for (const auto& [label, at] : *failure.context()) {
        out.append(" in ");
        append_pattern_display(out, label);
        out.append(" at ");
        out.append(std::to_string(at.start));
        out.append("..");
        out.append(std::to_string(at.end));
    }
    return out;
}

ParseFailure Input::to_owned(const Failure& failure) const {
    abandon_if_quiet();
    meter_.fuel().hold(sizeof(ParseFailure) + failure.message.size() + failure.expected.size() * sizeof(Pattern));
    ParseFailure out;
    if (failure.custom) {
        out = ParseFailure::custom(failure.span, failure.message);
    } else {
        std::vector<Pattern> expected;
        expected.reserve(failure.expected.size());
        for (PatternId id : failure.expected) expected.push_back(pattern(id));
        std::optional<OwnedToken> found;
        if (const OwnedToken* foreign = failure.foreign_found()) {
            found = *foreign;
        } else if (failure.found < count_) {
            found = OwnedToken(tokens_[failure.found].token);
        }
        out = ParseFailure::expected_found(failure.span, std::move(expected), std::move(found));
    }
    if (failure.extras) {
        out.context.reserve(failure.extras->context.size());
        for (const auto& [label, at] : failure.extras->context) out.context.push_back(ContextEntry{pattern(label), at});
        if (failure.extras->direct) out.direct = *failure.extras->direct;
    }
    out.soft = failure.soft;
    out.kind = failure.kind;
    return out;
}

Failure Input::from_owned(ParseFailure owned) {
    Failure f;
    f.span = owned.span;
    if (auto* custom = std::get_if<Custom>(&owned.reason)) {
        f.custom = true;
        f.message = std::move(custom->message);
    } else {
        auto& ef = std::get<ExpectedFound>(owned.reason);
        for (const Pattern& p : ef.expected) f.expected.add(intern(p));
        if (ef.found) f.extra().foreign_found = std::move(ef.found);
    }
    for (auto& entry : owned.context) f.with_context(intern(entry.label), entry.span);
    if (owned.direct) f.extra().direct = std::move(owned.direct).take();
    f.soft = owned.soft;
    f.kind = owned.kind;
    return f;
}

}  // namespace quorvel::parse::grammar
