// Argument slots: the driver that fills a command's slots one spec at a time,
// the reading of one slot by its form and value kind, and token collection.
#include "parse/grammar/arguments.hpp"

#include <algorithm>
#include <limits>

#include "parse/column_template.hpp"
#include "parse/utf8.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "syntax/list_buffers.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse::grammar {

using knowledge::ArgFormKind;
using knowledge::ArgSpec;
using knowledge::ArgValueKind;
using knowledge::DelimiterToken;
using syntax::syntax_node::Argument;
using syntax::syntax_node::ArgumentKind;
using syntax::syntax_node::ArgumentValue;
using syntax::syntax_node::Delimiter;

namespace {

constexpr std::uint32_t kUnmatched = std::numeric_limits<std::uint32_t>::max();

bool is_kind(const SpannedToken* t, TokenKind kind) noexcept { return t != nullptr && t->token.kind() == kind; }

bool is_brace_pair(const DelimiterToken& open, const DelimiterToken& close) noexcept {
    return open == DelimiterToken::character(U'{') && close == DelimiterToken::character(U'}');
}

}  // namespace

// ---- Session -----------------------------------------------------------------------

ArgumentSession::ArgumentSession(const Input& root) : base(root.token_at(0)), count(root.token_count()) {}

std::optional<std::size_t> ArgumentSession::lookup(const DelimiterToken& open, const DelimiterToken& close,
                                                   std::size_t index) {
    if (index >= count) return std::nullopt;
    if (count >= kUnmatched) {
        // Too many tokens for the tables' indices: count the depth instead.
        std::size_t depth = 0;
        for (std::size_t i = index + 1; i < count; ++i) {
            const Token& tok = base[i].token;
            if (matches_delimiter(tok, open)) {
                ++depth;
            } else if (matches_delimiter(tok, close)) {
                if (depth == 0) return i;
                --depth;
            }
        }
        return std::nullopt;
    }
    MatchTable* table = nullptr;
    for (MatchTable& t : tables_) {
        if (t.open == open && t.close == close) table = &t;
    }
    if (table == nullptr) {
        // Every opening token is paired with the closing token at which the
        // depth counted from it first returns to zero: the usual stack pairing.
        MatchTable built{open, close, std::vector<std::uint32_t>(count, kUnmatched)};
        std::vector<std::uint32_t> open_at;
        for (std::size_t i = 0; i < count; ++i) {
            const Token& tok = base[i].token;
            if (matches_delimiter(tok, open)) {
                open_at.push_back(static_cast<std::uint32_t>(i));
            } else if (matches_delimiter(tok, close) && !open_at.empty()) {
                built.match[open_at.back()] = static_cast<std::uint32_t>(i);
                open_at.pop_back();
            }
        }
        tables_.push_back(std::move(built));
        table = &tables_.back();
    }
    const std::uint32_t m = table->match[index];
    if (m == kUnmatched) return std::nullopt;
    return m;
}

std::optional<std::size_t> ArgumentSession::brace_match(std::size_t index) {
    if (index >= count || count >= kUnmatched) {
        return lookup(DelimiterToken::character(U'{'), DelimiterToken::character(U'}'), index);
    }
    if (braces_.empty()) {
        // The same stack pairing as `lookup`, kept in the table itself: an
        // open brace's entry links to the brace open before it until its
        // closing brace replaces the link.
        braces_.assign(count, kUnmatched);
        std::uint32_t top = kUnmatched;
        for (std::size_t i = 0; i < count; ++i) {
            const TokenKind kind = base[i].token.kind();
            if (kind == TokenKind::LBrace) {
                braces_[i] = top;
                top = static_cast<std::uint32_t>(i);
            } else if (kind == TokenKind::RBrace && top != kUnmatched) {
                const std::uint32_t open = top;
                top = braces_[open];
                braces_[open] = static_cast<std::uint32_t>(i);
            }
        }
        while (top != kUnmatched) {
            const std::uint32_t below = braces_[top];
            braces_[top] = kUnmatched;
            top = below;
        }
    }
    const std::uint32_t m = braces_[index];
    if (m == kUnmatched) return std::nullopt;
    return m;
}

std::optional<std::size_t> ArgumentSession::pair_match(const DelimiterToken& open, const DelimiterToken& close,
                                                       std::size_t index) {
    return lookup(open, close, index);
}

std::span<const std::size_t> ArgumentSession::environment_controls(std::size_t first, std::size_t tokens) {
    if (!environment_controls_) {
        util::work_count += count;
        environment_controls_.emplace();
        for (std::size_t i = 0; i < count; ++i) {
            if (base[i].token.is_control("begin") || base[i].token.is_control("end")) {
                environment_controls_->push_back(i);
            }
        }
    }
    const std::vector<std::size_t>& all = *environment_controls_;
    const auto from = std::lower_bound(all.begin(), all.end(), first);
    const auto to = std::lower_bound(from, all.end(), first + tokens);
    window_controls_.assign(from, to);
    util::work_count += window_controls_.size();
    for (std::size_t& i : window_controls_) i -= first;
    return window_controls_;
}

ArgumentSession& Grammar::argument_session() {
    if (!argument_session_) {
        argument_session_ = std::make_shared<ArgumentSession>(in_);
        SharedContents& contents = argument_session_->contents;
        if (contents_ == Contents::Shared) contents.enable(st_.source(), in_.token_at(0), in_.token_count());
        if (contents_ == Contents::Watched) contents.watch();
    }
    return *argument_session_;
}

// ---- Token collection -----------------------------------------------------------------

bool matches_delimiter(const Token& token, const DelimiterToken& delimiter) noexcept {
    if (delimiter.kind == DelimiterToken::Kind::ControlSeq) return token.is_control(delimiter.name);
    switch (delimiter.ch) {
        case U'[': return token.kind() == TokenKind::LBracket;
        case U']': return token.kind() == TokenKind::RBracket;
        case U'{': return token.kind() == TokenKind::LBrace;
        case U'}': return token.kind() == TokenKind::RBrace;
        default: return token.kind() == TokenKind::Char && token.ch() == delimiter.ch;
    }
}

Delimiter to_syntax_delimiter(const DelimiterToken& delimiter) {
    if (delimiter.kind == DelimiterToken::Kind::ControlSeq) return Delimiter::control(std::string(delimiter.name));
    return Delimiter::character(delimiter.ch);
}

std::span<const SpannedToken> window_tokens(const Input& in, const Collected& c) noexcept {
    if (c.last <= c.first) return {};
    return {in.token_at(c.first), c.last - c.first};
}

std::string tokens_to_string(std::span<const SpannedToken> tokens) {
    std::string out;
    // A comment can stand between a control word and a letter; written side
    // by side they would read as one longer control word.
    auto letter = [](char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); };
    bool after_control_word = false;
    for (const SpannedToken& t : tokens) {
        const TokenKind kind = t.token.kind();
        if (kind == TokenKind::Comment) continue;
        if (after_control_word && kind == TokenKind::Char && letter(t.token.ch())) out.push_back(' ');
        t.token.append_display(out);
        after_control_word =
            kind == TokenKind::ControlSeq && !t.token.name().empty() && letter(t.token.name().front());
    }
    Fuel::current().hold(out.size());
    return out;
}

namespace {

// The group from the opening token at the cursor to the closing token at
// `close` (an index of `in`), both consumed.
void take_window(Input& in, std::size_t close, Collected& out) {
    const std::size_t open = in.pos();
    out.first = open + 1;
    out.last = close;
    out.start = in.token_at(open)->span.end;
    out.end = in.token_at(close)->span.start;
    in.rewind(close + 1);
}

// The closing token of the group opened at the cursor, as an index of `in`;
// none when it is not closed inside the input.
std::optional<std::size_t> closing_index(Grammar& g, const DelimiterToken& open, const DelimiterToken& close) {
    Input& in = g.input();
    ArgumentSession& session = g.argument_session();
    const std::size_t here = in.pos();
    const auto abs = session.index_of(in.token_at(here));
    if (!abs) return std::nullopt;
    const auto m = is_brace_pair(open, close) ? session.brace_match(*abs) : session.pair_match(open, close, *abs);
    if (!m) return std::nullopt;
    const std::size_t local = here + (*m - *abs);
    if (local >= in.token_count()) return std::nullopt;
    return local;
}

}  // namespace

bool collect_braced_tokens(Grammar& g, Collected& out, Failure& failure) {
    Input& in = g.input();
    const std::size_t start = in.pos();
    if (!is_kind(in.peek(), TokenKind::LBrace)) {
        in.bump();
        failure = in.err_since(start, "expected '{'");
        return false;
    }
    const auto close = closing_index(g, DelimiterToken::character(U'{'), DelimiterToken::character(U'}'));
    if (!close) {
        in.rewind(in.token_count());
        failure = in.err_since(start, "unclosed brace argument");
        return false;
    }
    take_window(in, *close, out);
    return true;
}

Bracketed collect_optional_bracketed_tokens(Grammar& g, Collected& out, Failure& failure) {
    Input& in = g.input();
    const std::size_t start = in.pos();
    if (!is_kind(in.peek(), TokenKind::LBracket)) return Bracketed::Absent;
    in.bump();
    for (;;) {
        const SpannedToken* t = in.peek();
        if (t == nullptr) {
            failure = in.err_since(start, "unclosed bracket argument");
            return Bracketed::Failed;
        }
        switch (t->token.kind()) {
            case TokenKind::LBrace: {
                // A braced group hides its `]` and `}`: skip it whole.
                const auto close = closing_index(g, DelimiterToken::character(U'{'), DelimiterToken::character(U'}'));
                if (!close) {
                    in.rewind(in.token_count());
                    failure = in.err_since(start, "unclosed bracket argument");
                    return Bracketed::Failed;
                }
                in.rewind(*close + 1);
                break;
            }
            case TokenKind::RBrace:
                in.bump();
                failure = in.err_since(start, "unbalanced brace in bracket argument");
                return Bracketed::Failed;
            case TokenKind::RBracket: {
                const std::size_t close = in.pos();
                in.rewind(start);
                take_window(in, close, out);
                return Bracketed::Collected;
            }
            default: in.bump(); break;
        }
    }
}

bool collect_delimited_tokens(Grammar& g, const DelimiterToken& open, const DelimiterToken& close, Collected& out,
                              Failure& failure) {
    Input& in = g.input();
    const std::size_t start = in.pos();
    const SpannedToken* first = in.peek();
    if (first == nullptr) {
        failure = in.err_since(start, "expected delimited argument");
        return false;
    }
    if (!matches_delimiter(first->token, open)) {
        in.bump();
        failure = in.err_since(start, "missing opening delimiter");
        return false;
    }
    std::optional<std::size_t> end;
    if (open == close) {
        // The same delimiter both ways: the next one closes.
        for (std::size_t i = start + 1; i < in.token_count(); ++i) {
            if (matches_delimiter(in.token_at(i)->token, close)) {
                end = i;
                break;
            }
        }
    } else {
        end = closing_index(g, open, close);
    }
    if (!end) {
        in.rewind(in.token_count());
        failure = in.err_since(start, "unclosed delimited argument");
        return false;
    }
    take_window(in, *end, out);
    return true;
}

// ---- Reading one slot --------------------------------------------------------------------

namespace {

std::optional<ContentMode> content_mode_of(ArgValueKind kind) noexcept {
    switch (kind) {
        case ArgValueKind::MathContent:
        case ArgValueKind::OperatorName: return ContentMode::Math;
        case ArgValueKind::TextContent: return ContentMode::Text;
        default: return std::nullopt;
    }
}

// Reads one argument slot as its spec prescribes. A failure is the slot's,
// registered where the slot starts; the input stays where the reader stopped.
class SlotReader {
public:
    explicit SlotReader(Grammar& g) : g_(g), in_(g.input()) {}

    // Out of line: the slot driver, through which arguments nest, stays small.
    // Content slots, through which they nest, go straight to their reader.
    [[gnu::noinline]] bool read(const ArgSpec& spec, TrackedArgumentSlot& out) {
        RuleScope scope(in_);
        Failure failure;
        const bool content = spec.form.kind == ArgFormKind::Standard &&
                             (spec.kind == ArgValueKind::MathContent || spec.kind == ArgValueKind::TextContent ||
                              spec.kind == ArgValueKind::OperatorName);
        if (content ? standard_content(spec, out, failure) : read_slot(spec, out, failure)) {
            scope.keep();
            return true;
        }
        return scope.fail(std::move(failure));
    }

private:
    [[gnu::noinline]] bool read_slot(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        switch (spec.form.kind) {
            case ArgFormKind::Star: {
                const bool star = is_kind(in_.peek(), TokenKind::Star);
                if (star) in_.bump();
                fill(out, ArgumentKind::Star{}, ArgumentValue::Boolean{star});
                return true;
            }
            case ArgFormKind::Standard: return standard(spec, out, failure);
            case ArgFormKind::Group: {
                if (!is_kind(in_.peek(), TokenKind::LBrace)) {
                    return missing(spec, "missing required braced group argument", failure);
                }
                return delimited_form(spec, DelimiterToken::character(U'{'), DelimiterToken::character(U'}'),
                                      ArgumentKind::Group{}, out, failure);
            }
            case ArgFormKind::Delimited: {
                const SpannedToken* t = in_.peek();
                if (t == nullptr || !matches_delimiter(t->token, spec.form.open)) {
                    return missing(spec, "missing required delimited argument", failure);
                }
                return delimited_form(spec, spec.form.open, spec.form.close,
                                      ArgumentKind::Delimited{to_syntax_delimiter(spec.form.open),
                                                              to_syntax_delimiter(spec.form.close)},
                                      out, failure);
            }
            case ArgFormKind::Paired: {
                const SpannedToken* t = in_.peek();
                if (t != nullptr) {
                    for (const auto& pair : spec.form.pairs) {
                        if (!matches_delimiter(t->token, pair.open)) continue;
                        return delimited_form(spec, pair.open, pair.close,
                                              ArgumentKind::Paired{to_syntax_delimiter(pair.open),
                                                                   to_syntax_delimiter(pair.close)},
                                              out, failure);
                    }
                }
                return missing(spec, "missing required paired argument", failure);
            }
        }
        return false;
    }

    // A slot whose opening token is not there: absent when optional.
    bool missing(const ArgSpec& spec, const char* message, Failure& failure) {
        if (!spec.required) return true;
        failure = in_.err_peek_or_point(message);
        return false;
    }

    static void fill(TrackedArgumentSlot& out, ArgumentKind&& kind, ArgumentValue&& value) {
        out.argument = Argument{std::move(kind), false, std::move(value)};
    }

    [[gnu::noinline]] static void fill_content(TrackedArgumentSlot& out, ArgumentKind&& kind, ArgValueKind value_kind,
                                               TrackedNode&& node) {
        out.content_spans = node.take_span_tree();
        out.diagnostics = std::move(node.diagnostics);
        fill(out, std::move(kind), argument_content_value_for_kind(value_kind, std::move(node.node)));
    }

    // `Group`, `Delimited` and `Paired` slots: the tokens up to the closing
    // delimiter, read as content or as a scalar value.
    bool delimited_form(const ArgSpec& spec, const DelimiterToken& open, const DelimiterToken& close,
                        ArgumentKind kind, TrackedArgumentSlot& out, Failure& failure) {
        Collected c;
        if (!collect_delimited_tokens(g_, open, close, c, failure)) return false;
        if (const auto mode = content_mode_of(spec.kind)) {
            TrackedNode node;
            if (!parse_tokens_as_content(g_, *mode, c, node, failure)) return false;
            fill_content(out, std::move(kind), spec.kind, std::move(node));
            return true;
        }
        ArgumentValue value;
        if (!parse_delimited_value(g_, spec.kind, c, spec.nullable, value, failure)) return false;
        fill(out, std::move(kind), std::move(value));
        return true;
    }

    bool standard(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        switch (spec.kind) {
            case ArgValueKind::MathContent:
            case ArgValueKind::TextContent:
            case ArgValueKind::OperatorName: return standard_content(spec, out, failure);
            case ArgValueKind::Delimiter: return standard_delimiter(spec, out, failure);
            case ArgValueKind::CsName: return standard_cs_name(spec, out, failure);
            case ArgValueKind::Dimension:
            case ArgValueKind::Integer: return standard_number(spec, out, failure);
            case ArgValueKind::KeyVal:
            case ArgValueKind::Column: return standard_keyval_or_column(spec, out, failure);
            case ArgValueKind::Star:
                failure = in_.err_peek_or_point("invalid spec: star kind requires star form");
                return false;
        }
        return false;
    }

    // Out of line, as the other readers: the slot reader's own frame, which
    // every nested argument adds, holds none of their locals.
    [[gnu::noinline]] bool standard_content(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        const ContentMode mode = spec.kind == ArgValueKind::TextContent ? ContentMode::Text : ContentMode::Math;
        if (!spec.required) return optional_content(spec, mode, out, failure);
        if (!is_kind(in_.peek(), TokenKind::LBrace)) return unbraced_content(spec, mode, out, failure);
        Collected c;
        if (!collect_braced_tokens(g_, c, failure)) return false;
        TrackedNode node;
        if (!parse_tokens_as_content(g_, mode, c, node, failure)) return false;
        fill_content(out, ArgumentKind::Mandatory{}, spec.kind, std::move(node));
        return true;
    }

    // The two other forms of a content slot, out of line so that the braced
    // form, through which arguments nest the most, keeps a small frame.
    [[gnu::noinline]] bool optional_content(const ArgSpec& spec, ContentMode mode, TrackedArgumentSlot& out,
                                            Failure& failure) {
        Collected c;
        switch (collect_optional_bracketed_tokens(g_, c, failure)) {
            case Bracketed::Absent: return true;
            case Bracketed::Failed: return false;
            case Bracketed::Collected: break;
        }
        TrackedNode node;
        if (!parse_tokens_as_content(g_, mode, c, node, failure)) return false;
        fill_content(out, ArgumentKind::Optional{}, spec.kind, std::move(node));
        return true;
    }

    [[gnu::noinline]] bool unbraced_content(const ArgSpec& spec, ContentMode mode, TrackedArgumentSlot& out,
                                            Failure& failure) {
        // One item read in place; a failure at the slot's start reads as a
        // missing mandatory argument.
        TrackedNode node;
        const bool ok = labelled(in_, pattern::kMandatoryArgument, true, [&] {
            return mode == ContentMode::Math ? math_atom_argument(node) : g_.text_argument(node);
        });
        if (!ok) {
            failure = in_.take_failure();
            return false;
        }
        if (mode == ContentMode::Math && buildrels_carried(node.node) > 0) {
            // Its `\over` would have to lie inside this argument.
            failure = Failure::custom_message(node.span, std::string(kUnclosedBuildrel),
                                              ParseDiagnosticKind::ArgumentValidation);
            return false;
        }
        fill_content(out, ArgumentKind::Mandatory{}, spec.kind, std::move(node));
        return true;
    }

    // An unbraced math argument: one atom, or a scripted atom when a script
    // marker follows; never an infix command, \right or \end.
    bool math_atom_argument(TrackedNode& out) {
        const SpannedToken* t = in_.peek();
        if (t != nullptr && t->token.kind() == TokenKind::ControlSeq &&
            (g_.infix_guard(ContentMode::Math) || t->token.is_control("right") || t->token.is_control("end"))) {
            in_.expect(pattern::kSomethingElse);
            return false;
        }
        const SpannedToken* next = g_.peek_after_ws();
        if (is_kind(next, TokenKind::Caret) || is_kind(next, TokenKind::Underscore)) return g_.scripted_atom(out);
        return g_.math_atom(out);
    }

    // Runs a value parser inside `[`...`]` or `{`...`}` with white space
    // around it; with `nullable` the value may be missing. Fails without
    // consuming when the unit does not match.
    template <class Value>
    bool bracketed_unit(TokenKind open, TokenKind close, bool nullable, Value&& value) {
        const std::size_t start = in_.pos();
        if (!is_kind(in_.peek(), open)) {
            in_.expect(open == TokenKind::LBrace ? pattern::kLBrace : pattern::kLBracket);
            return false;
        }
        in_.bump();
        g_.skip_ws();
        const std::size_t before = in_.pos();
        if (!value()) {
            if (!nullable) {
                in_.rewind(start);
                return false;
            }
            in_.rewind(before);
        }
        g_.skip_ws();
        if (!is_kind(in_.peek(), close)) {
            in_.expect(close == TokenKind::RBrace ? pattern::kRBrace : pattern::kRBracket);
            in_.rewind(start);
            return false;
        }
        in_.bump();
        return true;
    }

    // A required scalar slot: braced (empty braces allowed when nullable),
    // else the bare value. An optional one: bracketed, else absent.
    template <class Value>
    bool scalar_slot(const ArgSpec& spec, Value&& value, Failure& failure, bool& present) {
        const std::size_t start = in_.pos();
        present = true;
        if (!spec.required) {
            if (!is_kind(in_.peek(), TokenKind::LBracket)) {
                present = false;
                return true;
            }
            // A unit that does not match is not there: what it recorded goes
            // too, or an item written after the `[` would fail with it, and
            // the written text (where the writer parts `[` from the command)
            // would read back otherwise.
            RuleScope unit(in_);
            if (!bracketed_unit(TokenKind::LBracket, TokenKind::RBracket, spec.nullable, value)) {
                in_.rewind(start);
                unit.discard();
                present = false;
            }
            return true;
        }
        if (bracketed_unit(TokenKind::LBrace, TokenKind::RBrace, spec.nullable, value)) return true;
        in_.rewind(start);
        if (value()) return true;
        failure = in_.take_failure();
        return false;
    }

    bool standard_delimiter(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        Delimiter delimiter;
        const auto& math = g_.kb(ContentMode::Math);
        auto value = [&] {
            delimiter = Delimiter::none();
            return read_delimiter(in_, math, delimiter);
        };
        bool present = false;
        if (!scalar_slot(spec, value, failure, present)) return false;
        if (present) fill(out, kind_of(spec), ArgumentValue::Delimiter{std::move(delimiter)});
        return true;
    }

    bool standard_number(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        std::string text;
        const bool dimension = spec.kind == ArgValueKind::Dimension;
        auto value = [&] {
            text.clear();
            if (dimension) return read_dimension(in_, text);
            read_integer(in_, text);
            return true;
        };
        bool present = false;
        if (!scalar_slot(spec, value, failure, present)) return false;
        if (!present) return true;
        if (dimension) {
            fill(out, kind_of(spec), ArgumentValue::Dimension{std::move(text)});
        } else {
            fill(out, kind_of(spec), ArgumentValue::Integer{std::move(text)});
        }
        return true;
    }

    bool standard_cs_name(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        std::string name;
        if (!spec.required) {
            Collected c;
            switch (collect_optional_bracketed_tokens(g_, c, failure)) {
                case Bracketed::Absent: return true;
                case Bracketed::Failed: return false;
                case Bracketed::Collected: break;
            }
            const auto tokens = window_tokens(in_, c);
            if (!(spec.nullable && all_white_space(tokens)) && !parse_tokens_as_cs_name(g_, tokens, name, failure)) {
                return false;
            }
            fill(out, ArgumentKind::Optional{}, ArgumentValue::CSName{std::move(name)});
            return true;
        }
        const SpannedToken* t = in_.peek();
        if (t == nullptr) {
            failure = in_.err_peek_or_point("missing required CSName argument");
            return false;
        }
        if (t->token.kind() == TokenKind::LBrace) {
            Collected c;
            if (!collect_delimited_tokens(g_, DelimiterToken::character(U'{'), DelimiterToken::character(U'}'), c,
                                          failure)) {
                return false;
            }
            const auto tokens = window_tokens(in_, c);
            if (!(spec.nullable && tokens.empty()) && !parse_tokens_as_cs_name(g_, tokens, name, failure)) {
                return false;
            }
        } else {
            // A single token is the whole name.
            in_.bump();
            if (!parse_tokens_as_cs_name(g_, std::span<const SpannedToken>(t, 1), name, failure)) return false;
        }
        fill(out, ArgumentKind::Mandatory{}, ArgumentValue::CSName{std::move(name)});
        return true;
    }

    // Key-value lists and column templates: braced when required, bracketed
    // and optional otherwise.
    bool standard_keyval_or_column(const ArgSpec& spec, TrackedArgumentSlot& out, Failure& failure) {
        const bool keyval = spec.kind == ArgValueKind::KeyVal;
        const std::size_t start = in_.pos();
        Collected c;
        if (spec.required) {
            if (!is_kind(in_.peek(), TokenKind::LBrace)) {
                const Span at = in_.at_end() ? in_.end_span() : in_.span_since(start);
                failure = Failure::expected_found(at, in_.here_found(),
                                                  keyval ? pattern::kExpectedKeyvalArgument
                                                         : pattern::kExpectedColumnArgument);
                return false;
            }
            if (!collect_braced_tokens(g_, c, failure)) return false;
        } else {
            switch (collect_optional_bracketed_tokens(g_, c, failure)) {
                case Bracketed::Absent: return true;
                case Bracketed::Failed: return false;
                case Bracketed::Collected: break;
            }
        }
        const std::string text = tokens_to_string(window_tokens(in_, c));
        const std::string_view trimmed = trim_white_space(text);
        ArgumentValue value;
        if (keyval) {
            if (!(spec.nullable && trimmed.empty())) {
                if (const auto reason = validate_keyval(text)) {
                    failure = in_.err_since(start, std::string(*reason));
                    failure.with_context(pattern::kArgumentValue, failure.span);
                    return false;
                }
            }
            value = ArgumentValue::KeyVal{std::string(trimmed)};
        } else {
            const auto parsed = parse_column_template(trimmed);
            if (const auto* error = std::get_if<ColumnParseError>(&parsed)) {
                failure = in_.err_since(start, error->display());
                return false;
            }
            value = ArgumentValue::Column{std::string(trimmed)};
        }
        fill(out, kind_of(spec), std::move(value));
        return true;
    }

    static ArgumentKind kind_of(const ArgSpec& spec) {
        if (spec.required) return ArgumentKind::Mandatory{};
        return ArgumentKind::Optional{};
    }

    static bool all_white_space(std::span<const SpannedToken> tokens) noexcept {
        for (const SpannedToken& t : tokens) {
            if (t.token.kind() != TokenKind::Whitespace) return false;
        }
        return true;
    }

    Grammar& g_;
    Input& in_;
};

// A slot's failure made the rule's, with the slot's label as context. Out of
// line, as the failure paths of every rule that nests.
[[gnu::noinline]] bool slot_failed(Input& in, RuleScope& scope, PatternId label, std::size_t arg_start) {
    Failure failure = in.take_failure();
    Span at;
    if (const auto* contexts = failure.context(); contexts != nullptr && !contexts->empty()) {
        at = contexts->front().second;
    } else {
        at = arg_start >= in.token_count() ? in.end_span() : in.span_since(arg_start);
    }
    failure.with_context(label, at);
    if (!failure.kind) failure.kind = ParseDiagnosticKind::ArgumentValidation;
    return scope.fail(std::move(failure));
}

}  // namespace

// ---- The slot driver ------------------------------------------------------------------------

bool Grammar::argument_slots(std::span<const ArgSpec> specs, PatternId label, std::vector<TrackedArgumentSlot>& out) {
    out.clear();
    if (specs.empty()) return true;
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return argument_slots(specs, label, out); });
    RuleScope scope(in_);
    if (out.capacity() == 0 && specs.size() <= syntax::list_buffers::kFirstBlock) {
        out = syntax::list_buffers::take<TrackedArgumentSlot>();
    } else {
        out.reserve(specs.size());
    }
    SlotReader reader(*this);
    for (const ArgSpec& spec : specs) {
        if (!spec.no_leading_space) {
            // White space before a slot is skipped silently.
            in_.skip_whitespace();
        }
        const std::size_t arg_start = in_.pos();
        TrackedArgumentSlot& slot = out.emplace_back();
        if (!reader.read(spec, slot)) {
            out.clear();
            return slot_failed(in_, scope, label, arg_start);
        }
        if (slot.argument) slot.argument->no_leading_space = spec.no_leading_space;
    }
    scope.keep();
    return true;
}


// ---- The recovery skip's table ---------------------------------------------------------

std::optional<TokenHeader> read_environment_header(const SpannedToken* tokens, std::size_t i, std::size_t limit) {
    std::size_t j = i + 1;
    while (j < limit && tokens[j].token.kind() == TokenKind::Whitespace) ++j;
    if (j >= limit || tokens[j].token.kind() != TokenKind::LBrace) return std::nullopt;
    TokenHeader h{j, limit, {}};
    for (++j; j < limit; ++j) {
        const Token& t = tokens[j].token;
        if (t.kind() == TokenKind::Char) {
            utf8::append(h.name, t.ch());
        } else if (t.kind() == TokenKind::Star) {
            h.name.push_back('*');
        } else if (t.kind() == TokenKind::RBrace && !h.name.empty()) {
            h.close = j;
            return h;
        } else {
            return std::nullopt;
        }
    }
    if (h.name.empty()) return std::nullopt;
    return h;
}

std::span<const ArgSpec> skip_taken_slots(const knowledge::ActiveCommandRecord* record) {
    if (record == nullptr) return {};
    std::size_t count = 0;
    for (std::size_t i = 0; i < record->args.size(); ++i) {
        if (record->args[i].kind == ArgValueKind::TextContent) count = i + 1;
    }
    return std::span(record->args).first(count);
}

const SkipTable* ArgumentSession::skip_table(ContentMode mode, const knowledge::KnowledgeBase& kb) {
    if (count >= kUnmatched) return nullptr;
    std::unique_ptr<SkipTable>& table = skip_tables_[static_cast<std::size_t>(mode)];
    if (!table) table = std::make_unique<SkipTable>(*this, kb);
    return table.get();
}

SkipTable::SkipTable(ArgumentSession& session, const knowledge::KnowledgeBase& kb) : count_(session.count) {
    util::work_count += count_;
    Scratch s{std::vector<std::uint16_t>(count_, 0), std::vector<std::uint32_t>(count_, kUnmatched),
              std::vector<std::uint32_t>(count_, kUnmatched)};
    classify(session, kb, s);
    find_inert_environments(s);
    build_stretches(s);
    build_closer_runs(s);
    for (std::size_t i = 0; i < count_; ++i) {
        if (s.roles[i] == kEnd) end_runs_.push_back(EndRun{static_cast<std::uint32_t>(i), s.close[i], 0});
    }
    // From the back: a readable `\end` header that white space alone parts
    // from the next one continues its run.
    for (std::size_t k = end_runs_.size(); k-- > 1;) {
        std::size_t j = end_runs_[k - 1].close + 1;
        while (j < count_ && session.base[j].token.kind() == TokenKind::Whitespace) ++j;
        if (j == end_runs_[k].control) end_runs_[k - 1].after = end_runs_[k].after + 1;
    }
}

std::uint16_t SkipTable::role_of(const SpannedToken* t, std::size_t count, const knowledge::KnowledgeBase& kb,
                                 std::size_t* close) {
    const Token& token = t->token;
    switch (token.kind()) {
        case TokenKind::LBrace: return kOpenBrace;
        case TokenKind::RBrace: return kCloseBrace;
        case TokenKind::LBracket: return kOpenBracket;
        case TokenKind::RBracket: return kCloseBracket;
        case TokenKind::MathShift: return kMathShift;
        case TokenKind::ControlSeq: break;
        default: return 0;
    }
    if (token.is_control("left")) return kLeft;
    if (token.is_control("right")) return kRight;
    if (token.is_control(")")) return kParen;
    const bool begin = token.is_control("begin");
    if (begin || token.is_control("end")) {
        const auto header = read_environment_header(t, 0, count);
        const std::uint16_t role = begin ? kBegin : kEnd;
        if (!header || header->close == count) return role | kBadHeader;
        if (close != nullptr) *close = header->close;
        const auto* record = begin ? kb.lookup_env(header->name) : nullptr;
        return record != nullptr && record->body_mode == ContentMode::Text ? role | kTextBody : role;
    }
    const std::span<const ArgSpec> slots = skip_taken_slots(kb.lookup_command(token.name()));
    std::uint16_t role = slots.empty() ? 0 : kTextSlots;
    for (const ArgSpec& spec : slots) {
        const ArgFormKind form = spec.form.kind;
        if ((form == ArgFormKind::Standard && !spec.required) || form == ArgFormKind::Delimited ||
            form == ArgFormKind::Paired) {
            role |= kScanSlots;
        }
    }
    return role;
}

void SkipTable::classify(ArgumentSession& session, const knowledge::KnowledgeBase& kb, Scratch& s) {
    steering_before_.assign(count_ + 1, 0);
    for (std::size_t i = 0; i < count_; ++i) {
        std::size_t close = kUnmatched;
        s.roles[i] = role_of(session.base + i, count_ - i, kb, &close);
        if (close != kUnmatched) s.close[i] = static_cast<std::uint32_t>(i + close);
        steering_before_[i + 1] = steering_before_[i] + ((s.roles[i] & kSteers) != 0 ? 1 : 0);
    }
    // A plain group holds nothing that steers the skip.
    for (std::size_t i = 0; i < count_; ++i) {
        if (s.roles[i] != kOpenBrace) continue;
        if (const auto close = session.brace_match(i); close && plain_between(i + 1, *close)) {
            s.close[i] = static_cast<std::uint32_t>(*close);
        }
    }
}

void SkipTable::find_inert_environments(Scratch& s) {
    // One pass with a stack of the open `\begin`s: each remembers the brace
    // depth it opened at, the lowest depth seen since, and whether anything
    // that stops or steers the skip stood inside.
    struct Open {
        std::size_t begin;
        std::size_t depth;
        std::size_t lowest;
        bool hazard;
    };
    std::vector<Open> open;
    std::size_t depth = 0;
    auto taint = [&] {
        if (!open.empty()) open.back().hazard = true;
    };
    for (std::size_t i = 0; i < count_; ++i) {
        const std::uint16_t role = s.roles[i];
        if (role & kOpenBrace) {
            ++depth;
        } else if (role & kCloseBrace) {
            if (depth == 0) {
                taint();
            } else {
                --depth;
                if (!open.empty()) open.back().lowest = std::min(open.back().lowest, depth);
            }
        } else if ((role & (kBegin | kEnd)) != 0 && (role & kBadHeader) == 0) {
            if (role & kBegin) {
                open.push_back(Open{i, depth, depth, (role & kTextBody) != 0});
            } else if (!open.empty()) {
                // Any `\end` closes the innermost `\begin` the skip opened.
                const Open done = open.back();
                open.pop_back();
                const bool balanced = done.lowest >= done.depth && depth == done.depth;
                if (!done.hazard && balanced) s.inert[done.begin] = s.close[i];
                if (!open.empty()) {
                    open.back().hazard = open.back().hazard || done.hazard || !balanced;
                    open.back().lowest = std::min(open.back().lowest, done.lowest);
                }
            }
            i = s.close[i];
        } else if (role & kTaints) {
            taint();
        }
    }
}

std::optional<SkipTable::Step> SkipTable::step(std::size_t i, const Scratch& s) {
    const std::uint16_t role = s.roles[i];
    if (role & kStops) return std::nullopt;
    // A plain group and an inert environment are passed whole.
    if (role & kOpenBrace) {
        return s.close[i] != kUnmatched ? Step{s.close[i] + 1, OpensNothing} : Step{i + 1, OpensBrace};
    }
    if (role & kLeft) return Step{i + 1, OpensLeft};
    if (role & kBegin) {
        return s.inert[i] != kUnmatched ? Step{s.inert[i] + 1, OpensNothing} : Step{s.close[i] + 1, OpensEnvironment};
    }
    return Step{i + 1, OpensNothing};
}

// What a stretch or a run of closers passes whole, a plain group or an inert
// environment, counts none of its tokens by index.
std::vector<std::int32_t> SkipTable::inside_whole(const Scratch& s, bool groups) const {
    std::vector<std::int32_t> inside(count_ + 1, 0);
    for (std::size_t i = 0; i < count_; ++i) {
        const std::uint32_t close = s.roles[i] == kOpenBrace ? (groups ? s.close[i] : kUnmatched) : s.inert[i];
        if (close == kUnmatched) continue;
        ++inside[i + 1];
        --inside[close + 1];
    }
    std::int32_t depth = 0;
    for (std::size_t i = 0; i <= count_; ++i) inside[i] = depth += inside[i];
    return inside;
}

void SkipTable::build_stretches(const Scratch& s) {
    stretch_opens_.assign(count_ + 1, 0);
    stretch_end_.assign(count_ + 1, static_cast<std::uint32_t>(count_));
    std::vector<std::uint8_t> opener(count_, OpensNothing);
    // From the back: a token the stretch passes takes the stretch after it
    // (after the group, environment or header it starts).
    for (std::size_t i = count_; i-- > 0;) {
        const auto next = step(i, s);
        if (!next) {
            stretch_end_[i] = static_cast<std::uint32_t>(i);
            continue;
        }
        opener[i] = next->opens;
        stretch_end_[i] = stretch_end_[next->to];
        stretch_opens_[i] = stretch_opens_[next->to] + (next->opens != OpensNothing ? 1 : 0);
    }
    // Openers inside an inert environment are passed with it, never opened.
    const std::vector<std::int32_t> inside = inside_whole(s, false);
    for (auto& v : opener_prefix_) v.assign(count_ + 1, 0);
    for (std::size_t i = 0; i < count_; ++i) {
        for (int k = 0; k < 3; ++k) {
            opener_prefix_[k][i + 1] = opener_prefix_[k][i] + (inside[i] == 0 && opener[i] == k ? 1 : 0);
        }
    }
}

void SkipTable::build_closer_runs(const Scratch& s) {
    // From the back: a `}`, or what a stretch passes without opening a
    // level, goes on to what follows it; the run ends where a level opens or
    // the stretch stops, or past `\)` where the skip passes it.
    for (auto& v : closers_end_) v.assign(count_ + 1, static_cast<std::uint32_t>(count_));
    for (std::size_t i = count_; i-- > 0;) {
        const auto next = s.roles[i] == kCloseBrace ? std::optional(Step{i + 1, OpensNothing}) : step(i, s);
        for (int parens = 0; parens < 2; ++parens) {
            if (next && next->opens == OpensNothing) {
                closers_end_[parens][i] = closers_end_[parens][next->to];
            } else {
                closers_end_[parens][i] = parens && s.roles[i] == kParen ? closers_end_[parens][i + 1]
                                                                       : static_cast<std::uint32_t>(i);
            }
        }
    }
    // A run passes plain groups and inert environments whole, and steps on
    // every other token: the `}` it closes levels with are those no such
    // group or environment encloses. (They nest or stand apart, as both
    // hold balanced braces.)
    const std::vector<std::int32_t> inside = inside_whole(s, true);
    for (std::size_t i = 0; i < count_; ++i) {
        if (inside[i] == 0 && s.roles[i] == kCloseBrace) rbraces_.push_back(static_cast<std::uint32_t>(i));
    }
}

std::optional<std::size_t> SkipTable::stretch_end(std::size_t index, std::size_t limit) const {
    if (index >= count_) return std::nullopt;
    if (limit < count_ && stretch_end_[index] > limit) return limit;
    // The openers its tokens count by index are among the stretch's (it
    // passes whole only plain groups and inert environments): as many in
    // all, they are the same.
    std::size_t by_index = 0;
    for (const auto& prefix : opener_prefix_) by_index += prefix[stretch_end_[index]] - prefix[index];
    if (by_index != stretch_opens_[index]) return std::nullopt;
    return stretch_end_[index];
}

std::size_t SkipTable::nth_opener_from_top(OpenerKind kind, std::size_t from, std::size_t to, std::size_t nth) const {
    const std::vector<std::uint32_t>& prefix = opener_prefix_[kind];
    // The last index i in [from, to) with `nth` openers in [i, to).
    assert(nth >= 1 && prefix[to] - prefix[from] >= nth);
    const std::size_t target = prefix[to] - nth;
    const auto at = std::upper_bound(prefix.begin() + static_cast<std::ptrdiff_t>(from),
                                     prefix.begin() + static_cast<std::ptrdiff_t>(to), target);
    return static_cast<std::size_t>(at - prefix.begin()) - 1;
}

std::optional<SkipTable::EndHeader> SkipTable::end_header_run(std::size_t index, std::size_t n,
                                                             std::size_t limit) const {
    const auto at = std::lower_bound(end_runs_.begin(), end_runs_.end(), index,
                                     [](const EndRun& r, std::size_t i) { return r.control < i; });
    if (at == end_runs_.end() || at->control != index) return std::nullopt;
    const auto taken = at + static_cast<std::ptrdiff_t>(std::min<std::size_t>(n, std::size_t{at->after} + 1));
    // A header whose `}` lies at or past `limit` is cut off there.
    const auto cut = std::partition_point(at, taken, [&](const EndRun& r) { return r.close < limit; });
    const auto nth = static_cast<std::size_t>(cut - at);
    if (nth == 0) return std::nullopt;
    return EndHeader{at[static_cast<std::ptrdiff_t>(nth - 1)].control, nth};
}

std::optional<SkipTable::CloserRun> SkipTable::closer_run(std::size_t index, std::size_t n, std::size_t limit,
                                                          bool parens_pass) const {
    // Only from a `}` nothing encloses, every such `}` up to the run's end is
    // one the run steps on.
    const auto first = std::lower_bound(rbraces_.begin(), rbraces_.end(), index);
    if (first == rbraces_.end() || *first != index) return std::nullopt;
    const std::size_t end = std::min<std::size_t>(closers_end_[parens_pass ? 1 : 0][index], limit);
    const std::size_t nth = std::min(n, static_cast<std::size_t>(std::lower_bound(first, rbraces_.end(), end) - first));
    if (nth == 0) return std::nullopt;
    return CloserRun{std::size_t{first[static_cast<std::ptrdiff_t>(nth - 1)]} + 1, nth};
}

void ArgumentSession::keep_skip_stop(const SkipKey& at, const SkipStop& stop, const knowledge::KnowledgeBase& kb,
                                     ContentMode mode) {
    if (!kept_) kept_ = std::make_unique<Kept>();
    auto& kept = kept_->stops[at];
    util::work_count += 1 + kept.size();
    if (kept.size() >= 4) return;
    kept.push_back(stop);
    // A stretch ends only where a skip went on and asked nothing of its
    // window's end, which a skip in any window that holds its reach takes;
    // none is kept from inside an inert environment, which no stretch steps
    // into.
    if (!stop.goes_on || stop.end_at_most != std::numeric_limits<std::size_t>::max()) return;
    const SkipTable* table = skip_table(mode, kb);
    if (table == nullptr || !table->stretch_end(at.token, count)) return;
    ++util::work_count;
    kept_->returns_by_stretch.emplace(at.mode_and_stop, table->stretch_to(at.token),
                                      static_cast<std::uint32_t>(at.token), stop.reach);
}

std::optional<std::size_t> ArgumentSession::kept_return_in_stretch(std::size_t index, std::size_t limit,
                                                                   std::size_t end, const SkipTable& table,
                                                                   std::uint8_t mode_and_stop) const {
    if (!kept_) return std::nullopt;
    ++util::work_count;
    const auto stretch_end = static_cast<std::uint32_t>(table.stretch_to(index));
    const auto& returns = kept_->returns_by_stretch;
    const auto it = returns.lower_bound({mode_and_stop, stretch_end, static_cast<std::uint32_t>(index + 1), 0});
    if (it == returns.end() || std::get<0>(*it) != mode_and_stop || std::get<1>(*it) != stretch_end ||
        std::get<2>(*it) >= limit || std::get<3>(*it) >= end) {
        return std::nullopt;
    }
    return std::get<2>(*it);
}

}  // namespace quorvel::parse::grammar
