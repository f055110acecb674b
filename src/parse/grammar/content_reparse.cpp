// The content of a collected argument, read as a small formula of its own.
//
// The sub-parse runs over the argument's own tokens in whole-source
// coordinates, inside the window between its opening and closing token: the
// end of input lies at the window's end, and a fresh parse state (depth 0,
// its own recovery list) sees the source only up to there, and from the
// window's start on. Spans and the positions that failures write into their
// texts are therefore true source positions, and the tokens are exactly those
// that were collected.
#include <algorithm>
#include <memory>
#include <new>

#include "parse/grammar/arguments.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "syntax/list_buffers.hpp"

namespace quorvel::parse::grammar {

namespace {

// The parser of a window of the parent's stream. It lives on the heap:
// arguments nest through their windows, and the stack holds every level.
struct WindowParser {
    WindowParser(Grammar& parent, const SpannedToken* first, std::size_t count, std::size_t start, std::size_t end)
        : state(parent.state().context(), parent.state().config(),
                parent.state().source().substr(0, std::min(end, parent.state().source().size()))),
          in(first, count, start, end),
          grammar(state, in) {
        in.set_quiet(parent.input().quiet());
        grammar.share_argument_session(parent);
    }
    ParserState state;
    Input in;
    Grammar grammar;
};

// A window's parser lives in a block the windows of the thread reuse: most
// formulas read one or more arguments, each through a window.
struct WindowParserDeleter {
    void operator()(WindowParser* w) const noexcept {
        w->~WindowParser();
        syntax::list_buffers::give_back_single<sizeof(WindowParser)>(w);
    }
};
using WindowParserPtr = std::unique_ptr<WindowParser, WindowParserDeleter>;

WindowParserPtr make_window_parser(Grammar& parent, const SpannedToken* first, std::size_t count, std::size_t start,
                                   std::size_t end) {
    static_assert(alignof(WindowParser) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    void* block = syntax::list_buffers::take_single<sizeof(WindowParser)>();
    try {
        return WindowParserPtr(new (block) WindowParser(parent, first, count, start, end));
    } catch (...) {
        syntax::list_buffers::give_back_single<sizeof(WindowParser)>(block);
        throw;
    }
}

// The steps of a window run around its content, out of line so that the
// run's own frame, which every nested argument adds, stays small.
[[gnu::noinline]] bool recall(const ArgumentSession& session, const ArgumentSession::MemoKey& key,
                              SubParse& result) {
    const auto it = session.memo.find(key);
    if (it == session.memo.end()) return false;
    result = it->second;
    return true;
}

[[gnu::noinline]] void remember(ArgumentSession& session, const ArgumentSession::MemoKey& key,
                                const SubParse& result) {
    session.memo.emplace(key, result);
}

[[gnu::noinline]] void finish_window(WindowParser& window, ContentMode mode, bool require_end, SubParse& result) {
    Input& in = window.in;
    if (result.ok && require_end) {
        // Text content leaves the white space before its end to its caller,
        // as a braced text group skips it before its `}`.
        if (mode == ContentMode::Text) {
            while (in.peek() != nullptr && in.peek()->token.kind() == TokenKind::Whitespace) in.bump();
        }
        if (!in.at_end()) {
            in.expect(pattern::kEndOfInput);
            result.ok = false;
        }
    }
    result.failures = window.state.take_recovery_diagnostics();
    result.consumed = in.pos();
    if (!result.ok) {
        result.node = TrackedNode{};
        result.failures.push_back(in.to_owned(in.take_failure()));
    }
}

// One run of the content-block parser of `mode` over a window of the parent's
// stream. Within a retry on a prefix its result is kept for the rest of the
// parse: a retry re-reads every argument nested in the prefix.
SubParse run_window(Grammar& parent, ContentMode mode, const SpannedToken* first, std::size_t count,
                    std::size_t start, std::size_t end, bool require_end) {
    if (stack_low()) {
        return on_fresh_stack([&] { return run_window(parent, mode, first, count, start, end, require_end); });
    }
    SubParse result;
    ArgumentSession& session = parent.argument_session();
    const ArgumentSession::MemoKey key{first, count, start, end, mode, require_end};
    if (!session.memo.empty() && recall(session, key, result)) return result;
    // Only the prefix run of the innermost retry and the windows it reads
    // directly are re-read by an enclosing retry; deeper windows are re-read
    // through them, so keeping those too would hold every subtree once per
    // level above it.
    const bool keep = session.retry_depth > 0 && session.window_depth <= session.retry_base + 1;
    {
        const WindowParserPtr window = make_window_parser(parent, first, count, start, end);
        const ArgumentSession::WindowLevel level(session);
        result.ok = window->grammar.content_block(mode, result.node);
        finish_window(*window, mode, require_end, result);
    }
    if (keep) remember(session, key, result);
    return result;
}

struct RetryScope {
    explicit RetryScope(ArgumentSession& s) noexcept : session(s), outer_base(s.retry_base) {
        ++session.retry_depth;
        session.retry_base = session.window_depth;
    }
    ~RetryScope() {
        --session.retry_depth;
        session.retry_base = outer_base;
    }
    RetryScope(const RetryScope&) = delete;
    RetryScope& operator=(const RetryScope&) = delete;
    ArgumentSession& session;
    std::size_t outer_base;
};

bool has_own_message(const ParseFailure& f) noexcept { return f.is_custom() && !f.soft; }

// Drops the echoes at the content's end: expected/found failures that end
// there and start after the first failure with a message of its own.
void filter_outer_errors(std::vector<ParseFailure>& failures, std::size_t content_end) {
    std::optional<std::size_t> first_own;
    for (const ParseFailure& f : failures) {
        if (has_own_message(f) && (!first_own || f.span.start < *first_own)) first_own = f.span.start;
    }
    if (!first_own) return;
    std::erase_if(failures, [&](const ParseFailure& f) {
        return !f.is_custom() && f.span.end == content_end && f.span.start > *first_own;
    });
}

// The failure that reaches farthest: greatest end, then greatest start, then
// the later one; those with a message of their own first.
const ParseFailure* choose_failure(const std::vector<ParseFailure>& failures) {
    auto best_of = [&](auto&& eligible) {
        const ParseFailure* best = nullptr;
        for (const ParseFailure& f : failures) {
            if (!eligible(f)) continue;
            if (best == nullptr || f.span.end > best->span.end ||
                (f.span.end == best->span.end && f.span.start >= best->span.start)) {
                best = &f;
            }
        }
        return best;
    };
    if (const ParseFailure* own = best_of(has_own_message)) return own;
    return best_of([](const ParseFailure& f) { return !f.is_custom(); });
}

std::string error_message(const ParseFailure& chosen) {
    if (const auto* ef = std::get_if<ExpectedFound>(&chosen.reason)) {
        const OwnedToken dollar = OwnedToken::simple(TokenKind::MathShift);
        const bool found_dollar = ef->found && *ef->found == dollar;
        const bool expects_dollar = std::any_of(ef->expected.begin(), ef->expected.end(), [&](const Pattern& p) {
            return p.kind() == Pattern::Kind::Token && p.token_kind() == TokenKind::MathShift;
        });
        if (found_dollar && expects_dollar) return "found '$' expected something else, or end of input";
    }
    return chosen.display();
}

// The message an argument's unreadable text takes: that of the failure
// chosen to report, or a fixed one when there is none.
std::string unread_message(const std::vector<ParseFailure>& failures) {
    const ParseFailure* chosen = choose_failure(failures);
    return chosen != nullptr ? error_message(*chosen) : std::string("failed to parse delimited argument content");
}

// The tokens a prefix run left unread become an Error node after the prefix's
// content, so the document keeps every part of the argument's text. White
// space alone is layout, not content, and is left out; in text, white space
// before the rest separates it from the prefix and is kept.
void keep_rest(TrackedNode& prefix, ContentMode mode, std::span<const SpannedToken> rest,
               const std::vector<ParseFailure>& failures, std::size_t content_end) {
    const auto is_layout = [](const SpannedToken& t) {
        return t.token.kind() == TokenKind::Whitespace || t.token.kind() == TokenKind::Comment;
    };
    const auto content = std::find_if_not(rest.begin(), rest.end(), is_layout);
    if (content == rest.end()) return;
    if (mode == ContentMode::Math) rest = rest.subspan(static_cast<std::size_t>(content - rest.begin()));
    auto* group = std::get_if<SyntaxNode::Group>(&prefix.node.value);
    if (group == nullptr) return;  // a content block is always a group
    const Span span{rest.front().span.start, content_end};
    group->children.push_back(SyntaxNode{SyntaxNode::Error{unread_message(failures), tokens_to_string(rest)}});
    prefix.spans.push_back(SpanTree(span, {}));
    prefix.span.end = std::max(prefix.span.end, content_end);
}

// The content read nothing: a retry on a prefix, else an Error node or the
// failure. Out of line: arguments nest through the first run, not through this.
[[gnu::noinline]] bool retry_or_error(Grammar& g, ContentMode mode, const Collected& c,
                                      std::span<const SpannedToken> tokens, std::vector<ParseFailure>&& failures,
                                      TrackedNode& out, Failure& failure) {
    Input& in = g.input();
    const SpannedToken* first = in.token_at(c.first);
    // Retry on the prefix before the first expected/found failure, without
    // requiring the end of input. Its own failures are not attached; the first
    // run's are.
    std::size_t cut = c.end;
    for (const ParseFailure& f : failures) {
        if (!f.is_custom()) cut = std::min(cut, std::max(f.span.start, c.start));
    }
    std::size_t prefix = 0;
    std::size_t prefix_end = cut;
    while (prefix < tokens.size() && tokens[prefix].span.start < cut) {
        prefix_end = std::max(prefix_end, tokens[prefix].span.end);
        ++prefix;
    }
    {
        RetryScope retry(g.argument_session());
        SubParse again = run_window(g, mode, first, prefix, c.start, std::min(prefix_end, c.end), false);
        if (again.ok) {
            out = std::move(again.node);
            keep_rest(out, mode, tokens.subspan(std::min(again.consumed, tokens.size())), failures, c.end);
            out.with_diagnostics(std::move(failures));
            return true;
        }
    }

    const ParseFailure* chosen = choose_failure(failures);
    if (chosen == nullptr) {
        failure = in.err_peek_or_point("failed to parse delimited argument content");
        return false;
    }
    if (g.state().config().reject_unknown) {
        failure = in.from_owned(*chosen);
        return false;
    }
    std::string message = error_message(*chosen);
    out = TrackedNode::leaf(SyntaxNode::Error{std::move(message), tokens_to_string(tokens)}, Span{c.start, c.end});
    out.with_diagnostics(std::move(failures));
    return true;
}

}  // namespace

bool parse_tokens_as_content(Grammar& g, ContentMode mode, const Collected& c, TrackedNode& out, Failure& failure) {
    Input& in = g.input();
    const auto tokens = window_tokens(in, c);

    // Text of white space only is one space.
    if (mode == ContentMode::Text && !tokens.empty() &&
        std::all_of(tokens.begin(), tokens.end(),
                    [](const SpannedToken& t) { return t.token.kind() == TokenKind::Whitespace; })) {
        set_leaf(out, SyntaxNode::Text{" "}, Span{c.start, c.start + 1});
        return true;
    }

    const SpannedToken* first = in.token_at(c.first);
    SubParse run = run_window(g, mode, first, tokens.size(), c.start, c.end, true);
    std::vector<ParseFailure> failures = std::move(run.failures);
    filter_outer_errors(failures, c.end);
    if (run.ok) {
        out = std::move(run.node);
        out.with_diagnostics(std::move(failures));
        return true;
    }

    return retry_or_error(g, mode, c, tokens, std::move(failures), out, failure);
}

}  // namespace quorvel::parse::grammar
