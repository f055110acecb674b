#include "parse/failure.hpp"

#include <algorithm>
#include <functional>

namespace quorvel::parse {

Pattern Pattern::of_token(TokenKind kind, std::uint64_t value, std::string_view name) {
    Pattern p(Kind::Token);
    p.token_kind_ = kind;
    if (kind == TokenKind::ControlSeq) {
        p.text_ = copy_text(name.data(), name.size());
        p.value_ = name.size();
    } else {
        p.value_ = value;
    }
    return p;
}

const char* Pattern::copy_text(const char* text, std::size_t size) {
    if (size == 0) return nullptr;
    char* out = new char[size];
    std::copy(text, text + size, out);
    return out;
}

OwnedToken Pattern::token() const {
    switch (token_kind_) {
        case TokenKind::ControlSeq: return OwnedToken::control_seq(std::string(name()));
        case TokenKind::Primes: return OwnedToken::primes(static_cast<std::size_t>(value_));
        case TokenKind::Char: return OwnedToken::character(static_cast<char32_t>(value_));
        default: return OwnedToken::simple(token_kind_);
    }
}

bool Pattern::operator==(const Pattern& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case Kind::Token:
            return token_kind_ == other.token_kind_ &&
                   (owns_text() ? name() == other.name() : value_ == other.value_);
        case Kind::Label: return label_text() == other.label_text();
        default: return true;
    }
}

void Pattern::append_display(std::string& out) const {
    switch (kind_) {
        case Kind::Token:
            out.push_back('\'');
            if (owns_text()) {
                out.push_back('\\');
                out.append(name());
            } else {
                token().append_display(out);
            }
            out.push_back('\'');
            break;
        case Kind::Label: out.append(label_text()); break;
        case Kind::EndOfInput: out.append("end of input"); break;
        case Kind::SomethingElse: out.append("something else"); break;
        case Kind::Any: out.append("any"); break;
    }
}

std::string Pattern::display() const {
    std::string out;
    append_display(out);
    return out;
}

void append_reason_display(std::string& out, const Reason& reason) {
    if (const auto* custom = std::get_if<Custom>(&reason)) {
        out.append(custom->message);
        return;
    }
    const auto& ef = std::get<ExpectedFound>(reason);
    out.append("found ");
    if (ef.found) {
        out.push_back('\'');
        ef.found->append_display(out);
        out.push_back('\'');
    } else {
        out.append("end of input");
    }
    out.append(" expected ");
    const std::size_t n = ef.expected.size();
    if (n == 0) {
        out.append("something else");
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) out.append(", ");
        if (n > 1 && i + 1 == n) out.append("or ");
        ef.expected[i].append_display(out);
    }
}

std::string reason_display(const Reason& reason) {
    std::string out;
    append_reason_display(out, reason);
    return out;
}

ParseFailure ParseFailure::expected_found(Span span, std::vector<Pattern> expected, std::optional<OwnedToken> found) {
    ParseFailure f;
    f.reason = ExpectedFound{std::move(expected), std::move(found)};
    f.span = span;
    return f;
}

ParseFailure ParseFailure::custom(Span span, std::string message) {
    ParseFailure f;
    f.reason = Custom{std::move(message)};
    f.span = span;
    return f;
}

bool ParseFailure::at_end_of_input() const {
    const auto* ef = std::get_if<ExpectedFound>(&reason);
    return ef != nullptr && !ef->found.has_value();
}

void ParseFailure::label_with(Pattern label) {
    if (auto* ef = std::get_if<ExpectedFound>(&reason)) {
        ef->expected.clear();
        ef->expected.push_back(std::move(label));
    } else {
        std::vector<Pattern> expected;
        expected.push_back(std::move(label));
        reason = ExpectedFound{std::move(expected), std::nullopt};
    }
    soft = false;
    kind.reset();
    direct.reset();
}

ParseFailure& ParseFailure::with_context(Pattern label, Span at) & {
    for (const auto& entry : context) {
        if (entry.label == label) return *this;
    }
    context.push_back(ContextEntry{std::move(label), at});
    return *this;
}

ParseFailure& ParseFailure::at_environment(Span at, std::string found, std::string expected) & {
    direct = DirectDiagnostic{EnvironmentNames{std::move(found), std::move(expected)}, at};
    return *this;
}

ParseFailure& ParseFailure::at_source(Span at) & {
    direct = DirectDiagnostic{std::nullopt, at};
    return *this;
}

bool ParseFailure::same_source(const ParseFailure& other) const {
    return kind == other.kind && direct == other.direct && span == other.span;
}

bool ParseFailure::same_contexts(const ParseFailure& other) const {
    if (context.size() != other.context.size()) return false;
    std::string a;
    std::string b;
    for (std::size_t i = 0; i < context.size(); ++i) {
        if (context[i].span != other.context[i].span) return false;
        a.clear();
        b.clear();
        context[i].label.append_display(a);
        other.context[i].label.append_display(b);
        if (a != b) return false;
    }
    return true;
}

namespace {

bool display_equal(const Pattern& x, const Pattern& y) {
    if (x.kind() == Pattern::Kind::Label && y.kind() == Pattern::Kind::Label) return x.label_text() == y.label_text();
    return x.display() == y.display();
}

bool reasons_equal_in_structure(const Reason& x, const Reason& y) {
    if (x.index() != y.index()) return false;
    if (const auto* cx = std::get_if<Custom>(&x)) return cx->message == std::get<Custom>(y).message;
    const auto& ex = std::get<ExpectedFound>(x);
    const auto& ey = std::get<ExpectedFound>(y);
    if (ex.expected.size() != ey.expected.size()) return false;
    for (std::size_t i = 0; i < ex.expected.size(); ++i) {
        if (!display_equal(ex.expected[i], ey.expected[i])) return false;
    }
    if (ex.found.has_value() != ey.found.has_value()) return false;
    return !ex.found || ex.found->display() == ey.found->display();
}

}  // namespace

bool ParseFailure::matches_tree_diagnostic(const ParseFailure& other) const {
    return same_source(other) && reasons_equal_in_structure(reason, other.reason) && same_contexts(other);
}

bool ParseFailure::matches_recovery_diagnostic(const ParseFailure& other) const {
    return same_source(other) && reason_display(reason) == reason_display(other.reason) && same_contexts(other);
}

ParseFailure ParseFailure::shifted(std::size_t delta) && {
    std::vector<ContextEntry> old = std::move(context);
    context.clear();
    for (auto& entry : old) with_context(std::move(entry.label), entry.span.shifted(delta));
    span = span.shifted(delta);
    if (direct) direct->span = direct->span.shifted(delta);
    return std::move(*this);
}

void ParseFailure::merge(ParseFailure other) {
    auto* mine = std::get_if<ExpectedFound>(&reason);
    if (mine == nullptr) return;  // a custom reason stays, with everything that goes with it
    if (auto* theirs = std::get_if<ExpectedFound>(&other.reason)) {
        for (auto& pattern : theirs->expected) {
            if (std::find(mine->expected.begin(), mine->expected.end(), pattern) == mine->expected.end()) {
                mine->expected.push_back(std::move(pattern));
            }
        }
        return;
    }
    // The rival's custom failure replaces ours whole: its span and contexts
    // say where the fault is, and its direct, soft and kind go with it.
    *this = std::move(other);
}

void offer_failure(std::optional<KeptFailure>& kept, std::size_t position, ParseFailure failure) {
    if (!kept || position > kept->position) {
        kept = KeptFailure{position, std::move(failure)};
    } else if (position == kept->position) {
        kept->failure.merge(std::move(failure));
    }
}

std::string ParseFailure::display() const {
    std::string out;
    append_reason_display(out, reason);
    for (const auto& entry : context) {
        out.append(" in ");
        entry.label.append_display(out);
        out.append(" at ");
        out.append(std::to_string(entry.span.start));
        out.append("..");
        out.append(std::to_string(entry.span.end));
    }
    return out;
}

Span span_since(const TokenStream& stream, std::size_t saved, std::size_t current) {
    const auto& tokens = stream.tokens;
    const std::size_t start = saved < tokens.size() ? tokens[saved].span.start : stream.source_len;
    const std::size_t end =
        current > 0 && current <= tokens.size() ? tokens[current - 1].span.end : stream.source_len;
    return Span{start, end < start ? start : end};
}

ParseFailure err_since(const TokenStream& stream, std::size_t saved, std::size_t current, std::string message) {
    const Span span = saved >= stream.tokens.size() ? stream.end_span() : span_since(stream, saved, current);
    return ParseFailure::custom(span, std::move(message));
}

ParseFailure err_peek_or_point(const TokenStream& stream, std::size_t current, std::string message) {
    return err_since(stream, current, current, std::move(message));
}

namespace {

std::size_t combine(std::size_t seed, std::size_t value) {
    return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

}  // namespace

std::size_t diagnostic_match_hash(const ParseFailure& f) {
    std::hash<std::string> text;
    std::size_t h = f.kind ? static_cast<std::size_t>(*f.kind) + 1 : 0;
    h = combine(h, f.span.start);
    h = combine(h, f.span.end);
    if (f.direct) {
        h = combine(h, f.direct->span.start);
        h = combine(h, f.direct->span.end);
        if (f.direct->environment_names) {
            h = combine(h, text(f.direct->environment_names->found));
            h = combine(h, text(f.direct->environment_names->expected));
        }
    }
    h = combine(h, text(reason_display(f.reason)));
    for (const auto& entry : f.context) {
        h = combine(h, text(entry.label.display()));
        h = combine(h, entry.span.start);
        h = combine(h, entry.span.end);
    }
    return h;
}

}  // namespace quorvel::parse
