#include "parse/diagnostics_supplements.hpp"

#include <algorithm>

#include "parse/grammar/recovery.hpp"
#include "parse/utf8.hpp"

namespace quorvel::parse {

namespace {

using Kind = ParseDiagnosticKind;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool is_kind(const std::vector<SpannedToken>& tokens, std::size_t i, TokenKind kind) {
    return i < tokens.size() && tokens[i].token.kind() == kind;
}

std::size_t skip_whitespace(const std::vector<SpannedToken>& tokens, std::size_t i) {
    while (is_kind(tokens, i, TokenKind::Whitespace)) ++i;
    return i;
}

// One `\begin` / `\end` header read from the token after the control word.
struct HeaderRead {
    enum class Status : std::uint8_t { NoBrace, EmptyName, OtherToken, CutOff, Complete };
    Status status = Status::NoBrace;
    std::string name;
    std::size_t first_name = kNone;  // token index of the first name token
    std::size_t close = kNone;       // token index of `}` when complete
};

HeaderRead read_header(const std::vector<SpannedToken>& tokens, std::size_t control) {
    HeaderRead h;
    std::size_t j = skip_whitespace(tokens, control + 1);
    if (!is_kind(tokens, j, TokenKind::LBrace)) return h;
    for (++j; j < tokens.size(); ++j) {
        const Token& t = tokens[j].token;
        if (t.kind() == TokenKind::Char || t.kind() == TokenKind::Star) {
            if (h.first_name == kNone) h.first_name = j;
            if (t.kind() == TokenKind::Char) {
                utf8::append(h.name, t.ch());
            } else {
                h.name.push_back('*');
            }
        } else if (t.kind() == TokenKind::RBrace) {
            h.status = h.name.empty() ? HeaderRead::Status::EmptyName : HeaderRead::Status::Complete;
            h.close = j;
            return h;
        } else {
            h.status = HeaderRead::Status::OtherToken;
            return h;
        }
    }
    h.status = HeaderRead::Status::CutOff;
    return h;
}

std::string end_marker(std::string_view name) { return "\\end{" + std::string(name) + "}"; }

// Rewrites `d` as an environment used in the mode whose knowledge base lacks
// it, when exactly one mode knows the header's name.
bool rewrite_mode_error(const SourceFacts& facts, const SourceFacts::BeginHeader& h, ParseDiagnostic& d) {
    const bool math = facts.context().lookup_env(h.name, ContentMode::Math) != nullptr;
    const bool text = facts.context().lookup_env(h.name, ContentMode::Text) != nullptr;
    if (math == text) return false;
    const ContentMode lacking = math ? ContentMode::Text : ContentMode::Math;
    d.message = "Environment " + h.name + " is not allowed in " + std::string(syntax::content_mode_name(lacking)) +
                " mode";
    d.span = Span{h.begin_start, h.close.end};
    d.expected.clear();
    d.found.reset();
    return true;
}

bool has_context(const ParseDiagnostic& d, std::string_view label) {
    return std::any_of(d.contexts.begin(), d.contexts.end(),
                       [&](const ParseDiagnosticContext& c) { return c.label == label; });
}

}  // namespace

// ---- Facts ------------------------------------------------------------------------------

std::size_t SourceFacts::first_token_starting_at(std::size_t offset) const noexcept {
    const auto it = std::partition_point(tokens_.begin(), tokens_.end(),
                                         [&](const SpannedToken& t) { return t.span.start < offset; });
    return static_cast<std::size_t>(it - tokens_.begin());
}

std::size_t SourceFacts::first_token_ending_after(std::size_t offset) const noexcept {
    const auto it = std::partition_point(tokens_.begin(), tokens_.end(),
                                         [&](const SpannedToken& t) { return t.span.end <= offset; });
    return static_cast<std::size_t>(it - tokens_.begin());
}

void SourceFacts::build_begin_headers() {
    begin_headers_built_ = true;
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
        if (!tokens_[i].token.is_control("begin")) continue;
        HeaderRead h = read_header(tokens_, i);
        using S = HeaderRead::Status;
        if (h.status == S::NoBrace || h.status == S::EmptyName) continue;
        if (h.status != S::Complete) break;
        const Span close = tokens_[h.close].span;
        begin_by_close_start_.try_emplace(close.start, begin_headers_.size());
        begin_by_close_end_.try_emplace(close.end, begin_headers_.size());
        begin_headers_.push_back(BeginHeader{tokens_[i].span.start, close, std::move(h.name)});
        i = h.close;
    }
}

const SourceFacts::BeginHeader* SourceFacts::begin_header_closing_at(std::size_t start, std::size_t end) {
    if (!begin_headers_built_) build_begin_headers();
    std::size_t best = kNone;
    if (auto it = begin_by_close_start_.find(start); it != begin_by_close_start_.end()) best = it->second;
    if (auto it = begin_by_close_end_.find(end); it != begin_by_close_end_.end()) best = std::min(best, it->second);
    return best == kNone ? nullptr : &begin_headers_[best];
}

const SourceFacts::BeginHeader* SourceFacts::first_single_mode_begin_header() {
    if (!begin_headers_built_) build_begin_headers();
    if (!single_mode_begin_) {
        single_mode_begin_.emplace();
        for (std::size_t k = 0; k < begin_headers_.size(); ++k) {
            const bool math = context_.lookup_env(begin_headers_[k].name, ContentMode::Math) != nullptr;
            const bool text = context_.lookup_env(begin_headers_[k].name, ContentMode::Text) != nullptr;
            if (math != text) {
                *single_mode_begin_ = k;
                break;
            }
        }
    }
    return *single_mode_begin_ ? &begin_headers_[**single_mode_begin_] : nullptr;
}

void SourceFacts::build_mismatched_ends() {
    mismatched_ends_built_ = true;
    std::vector<std::string> open;
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
        const Token& t = tokens_[i].token;
        const bool begin = t.is_control("begin");
        if (!begin && !t.is_control("end")) continue;
        HeaderRead h = read_header(tokens_, i);
        const bool complete = h.status == HeaderRead::Status::Complete;
        if (!complete && !(h.status == HeaderRead::Status::CutOff && !h.name.empty())) continue;
        if (begin) {
            open.push_back(std::move(h.name));
        } else if (!open.empty()) {
            if (open.back() == h.name) {
                open.pop_back();
            } else if (complete) {
                const Span close = tokens_[h.close].span;
                mismatched_ends_.try_emplace(close.start,
                                             MismatchedEnd{Span{tokens_[i].span.start, close.end}, open.back(),
                                                           std::move(h.name)});
            }
        }
        if (complete) i = h.close;
    }
}

const SourceFacts::MismatchedEnd* SourceFacts::mismatched_end_closing_at(Span close) {
    if (!mismatched_ends_built_) build_mismatched_ends();
    auto it = mismatched_ends_.find(close.start);
    if (it == mismatched_ends_.end()) return nullptr;
    const std::size_t index = first_token_starting_at(close.start);
    if (index >= tokens_.size() || tokens_[index].span != close) return nullptr;
    return &it->second;
}

const std::optional<SourceFacts::InvalidLeft>& SourceFacts::first_invalid_left() {
    if (invalid_left_built_) return invalid_left_;
    invalid_left_built_ = true;
    const knowledge::KnowledgeBase& math = context_.knowledge(ContentMode::Math);
    std::vector<std::size_t> bodies;
    std::size_t next_close = 0;  // the first `}` after the last `{` looked at
    for (std::size_t i = 0; i < tokens_.size(); ++i) {
        const Token& t = tokens_[i].token;
        if (t.is_control("begin")) {
            const std::size_t j = skip_whitespace(tokens_, i + 1);
            std::size_t body = tokens_[i].span.start;
            if (is_kind(tokens_, j, TokenKind::LBrace)) {
                next_close = std::max(next_close, j + 1);
                while (next_close < tokens_.size() && tokens_[next_close].token.kind() != TokenKind::RBrace) {
                    ++next_close;
                }
                if (next_close < tokens_.size()) body = tokens_[next_close].span.end;
            }
            bodies.push_back(body);
        } else if (t.is_control("end")) {
            if (!bodies.empty()) bodies.pop_back();
        } else if (t.is_control("left")) {
            const std::size_t j = skip_whitespace(tokens_, i + 1);
            std::size_t end = 0;
            if (j >= tokens_.size()) {
                end = tokens_[i].span.end;
            } else if (!grammar::is_delimiter_token(math, tokens_[j].token)) {
                end = tokens_[j].span.end;
            } else {
                continue;
            }
            // A `\left` inside a `\begin` header (before its body starts) is
            // in no body: a context from the body start would end before it.
            const std::size_t start = tokens_[i].span.start;
            const bool in_body = !bodies.empty() && bodies.back() <= start;
            invalid_left_ = InvalidLeft{Span{start, end},
                                        in_body ? std::optional<std::size_t>(bodies.back()) : std::nullopt};
            break;
        }
    }
    return invalid_left_;
}

const std::string* SourceFacts::innermost_open_environment() {
    if (!innermost_open_) {
        const grammar::EnvironmentIndex index(tokens_.data(), tokens_.size());
        std::vector<std::string> open = index.stack_before(source_.size());
        innermost_open_.emplace();
        if (!open.empty()) *innermost_open_ = std::move(open.back());
    }
    return *innermost_open_ ? &**innermost_open_ : nullptr;
}

bool SourceFacts::has_unescaped_percent_in(std::size_t start, std::size_t end) {
    if (!percents_built_) {
        percents_built_ = true;
        for (std::size_t i = 0; i < source_.size(); ++i) {
            if (source_[i] == '\\') {
                const std::size_t run = i;
                while (i < source_.size() && source_[i] == '\\') ++i;
                backslash_runs_.emplace_back(run, i);
                if (i < source_.size() && source_[i] == '%' && (i - run) % 2 == 0) unescaped_percents_.push_back(i);
            } else if (source_[i] == '%') {
                unescaped_percents_.push_back(i);
            }
        }
    }
    end = std::min(end, source_.size());
    if (start >= end) return false;
    // Read from `start`, only the run of backslashes that `start` cuts counts
    // differently: the first other character ends it.
    std::size_t first = start;
    auto run = std::upper_bound(backslash_runs_.begin(), backslash_runs_.end(), start,
                                [](std::size_t at, const auto& r) { return at < r.first; });
    if (run != backslash_runs_.begin() && start < std::prev(run)->second) first = std::prev(run)->second;
    if (first >= end) return false;
    if (source_[first] == '%' && (first - start) % 2 == 0) return true;
    auto percent = std::upper_bound(unescaped_percents_.begin(), unescaped_percents_.end(), first);
    return percent != unescaped_percents_.end() && *percent < end;
}

std::optional<std::size_t> SourceFacts::bracket_match(std::size_t open) const {
    std::size_t braces = 0;
    std::size_t brackets = 0;
    for (std::size_t k = open + 1; k < tokens_.size(); ++k) {
        switch (tokens_[k].token.kind()) {
            case TokenKind::LBracket:
                if (braces == 0) ++brackets;
                break;
            case TokenKind::LBrace: ++braces; break;
            case TokenKind::RBrace:
                if (braces > 0) --braces;
                break;
            case TokenKind::RBracket:
                if (braces == 0) {
                    if (brackets == 0) return k;
                    --brackets;
                }
                break;
            default: break;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> SourceFacts::matching_close(std::size_t open) {
    if (open >= tokens_.size()) return std::nullopt;
    if (tokens_[open].token.kind() == TokenKind::LBracket) {
        auto [it, fresh] = bracket_match_.try_emplace(open);
        if (fresh) it->second = bracket_match(open);
        return it->second;
    }
    if (tokens_[open].token.kind() != TokenKind::LBrace) return std::nullopt;
    if (brace_match_.empty()) {
        brace_match_.assign(tokens_.size(), kNone);
        std::vector<std::size_t> pending;
        for (std::size_t k = 0; k < tokens_.size(); ++k) {
            if (tokens_[k].token.kind() == TokenKind::LBrace) {
                pending.push_back(k);
            } else if (tokens_[k].token.kind() == TokenKind::RBrace && !pending.empty()) {
                brace_match_[pending.back()] = k;
                pending.pop_back();
            }
        }
    }
    if (brace_match_[open] == kNone) return std::nullopt;
    return brace_match_[open];
}

// ---- The supplement -------------------------------------------------------------------

bool supplement_from_source(SourceFacts& facts, std::optional<Kind> kind, bool had_direct, ParseDiagnostic& d) {
    bool rewrote_mode = false;
    const std::vector<SpannedToken>& tokens = facts.tokens();
    const std::string_view source = facts.source();

    if (!had_direct && (kind == Kind::EnvironmentNameMismatch || kind == Kind::RawExpectedFound)) {
        if (const auto* h = facts.begin_header_closing_at(d.span.start, d.span.end)) {
            rewrote_mode = rewrite_mode_error(facts, *h, d);
        }
        if (!rewrote_mode && d.span.start == 0) {
            if (const auto* h = facts.first_single_mode_begin_header()) rewrote_mode = rewrite_mode_error(facts, *h, d);
        }
    }

    if (!had_direct && kind == Kind::EnvironmentNameMismatch) {
        if (const auto* m = facts.mismatched_end_closing_at(d.span)) {
            d.message = "Environment name mismatch: expected " + end_marker(m->expected) + ", found " +
                        end_marker(m->found);
            d.span = m->marker;
            d.expected = {end_marker(m->expected)};
            d.found = end_marker(m->found);
        }
    }

    if (!had_direct && kind == Kind::UnknownEnvironment) {
        const std::size_t i = facts.first_token_starting_at(d.span.start);
        if (i < tokens.size() && tokens[i].span == d.span && tokens[i].token.is_control("begin")) {
            const HeaderRead h = read_header(tokens, i);
            const bool named = h.status == HeaderRead::Status::Complete ||
                               (h.status == HeaderRead::Status::CutOff && !h.name.empty());
            if (named && !facts.context().knows_env_name(h.name)) {
                const std::size_t last = h.status == HeaderRead::Status::Complete ? h.close - 1 : tokens.size() - 1;
                d.message = "Unknown environment: " + h.name;
                d.span = Span{tokens[h.first_name].span.start, tokens[last].span.end};
                d.expected.clear();
                d.found.reset();
            }
        }
    }

    if (kind == Kind::LeftRightDelimiter) {
        if (const auto& left = facts.first_invalid_left()) {
            if (!has_context(d, "left-delimited group")) d.contexts.push_back({"left-delimited group", left->group});
            if (left->body_start && !has_context(d, "environment body")) {
                d.contexts.push_back({"environment body", Span{*left->body_start, left->group.end}});
            }
        }
    }

    if (kind == Kind::ArgumentValidation && d.span.start < d.span.end) {
        const auto text = slice_chars(source, d.span);
        if (text && text->front() == '\\') {
            const std::size_t open = skip_whitespace(tokens, facts.first_token_ending_after(d.span.end));
            if (const auto close = facts.matching_close(open)) {
                d.span = Span{tokens[open].span.start, tokens[*close].span.end};
            }
        }
    }
    return rewrote_mode;
}

}  // namespace quorvel::parse
