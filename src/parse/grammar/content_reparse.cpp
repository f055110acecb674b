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
#include <limits>
#include <memory>
#include <new>

#include "parse/grammar/arguments.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "syntax/list_buffers.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse::grammar {

namespace {

// One run of the content-block parser over a window.
struct SubParse {
    bool ok = false;
    TrackedNode node;
    // The run's recovery entries, then its failure when it failed.
    std::vector<ParseFailure> failures;
    // How many of the window's tokens the run consumed.
    std::size_t consumed = 0;
};

// The parser of a window of the parent's stream. It lives on the heap:
// arguments nest through their windows, and the stack holds every level.
struct WindowParser {
    WindowParser(Grammar& parent, const SpannedToken* first, std::size_t count, std::size_t start, std::size_t end,
                 bool quiet)
        : state(parent.state().context(), parent.state().config(),
                parent.state().source().substr(0, std::min(end, parent.state().source().size()))),
          in(first, count, start, end),
          grammar(state, in) {
        in.set_quiet(quiet);
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
                                   std::size_t end, bool quiet) {
    static_assert(alignof(WindowParser) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
    void* block = syntax::list_buffers::take_single<sizeof(WindowParser)>();
    try {
        return WindowParserPtr(new (block) WindowParser(parent, first, count, start, end, quiet));
    } catch (...) {
        syntax::list_buffers::give_back_single<sizeof(WindowParser)>(block);
        throw;
    }
}

// The steps of a window run around its content, out of line so that the
// run's own frame, which every nested argument adds, stays small.
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
// stream, quiet when the parent's input is, or when `quiet` is set.
SubParse run_window(Grammar& parent, ContentMode mode, const SpannedToken* first, std::size_t count,
                    std::size_t start, std::size_t end, bool require_end, bool quiet = false) {
    parent.input().check_fuel();
    if (stack_low()) {
        return on_fresh_stack([&] { return run_window(parent, mode, first, count, start, end, require_end, quiet); });
    }
    SubParse result;
    const WindowParserPtr window =
        make_window_parser(parent, first, count, start, end, quiet || parent.input().quiet());
    result.ok = window->grammar.content_block(mode, result.node);
    finish_window(*window, mode, require_end, result);
    return result;
}

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
void keep_rest(SharedContents& contents, TrackedNode& prefix, ContentMode mode, std::span<const SpannedToken> rest,
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
    group->children.push_back(SyntaxNode{SyntaxNode::Error{unread_message(failures), contents.token_text(rest)}});
    prefix.spans.push_back(SpanTree(span, {}));
    prefix.span.end = std::max(prefix.span.end, content_end);
}

using OutcomeKind = ContentOutcome::Kind;

// The content read nothing: a retry on a prefix, else an Error node, the
// failure chosen to report, or nothing to report. Out of line: arguments nest
// through the first run, not through this.
[[gnu::noinline]] OutcomeKind retry_or_error(Grammar& g, ContentMode mode, const Collected& c,
                                             std::span<const SpannedToken> tokens,
                                             std::vector<ParseFailure>&& failures, TrackedNode& node,
                                             std::unique_ptr<ParseFailure>& chosen_out) {
    Input& in = g.input();
    const SpannedToken* first = in.token_at(c.first);
    // Retry on the prefix before the first expected/found failure, without
    // requiring the end of input. Its own failures are not attached; the first
    // run's are.
    std::size_t cut = c.end;
    for (const ParseFailure& f : failures) {
        if (!f.is_custom()) cut = std::min(cut, std::max(f.span.start, c.start));
    }
    // The tokens that start before the cut (spans ascend), found by halving:
    // a scan would read every window of a deep nesting once per level.
    const std::size_t prefix = static_cast<std::size_t>(
        std::partition_point(tokens.begin(), tokens.end(),
                             [cut](const SpannedToken& t) { return t.span.start < cut; }) -
        tokens.begin());
    const std::size_t prefix_end = prefix > 0 ? std::max(cut, tokens[prefix - 1].span.end) : cut;
    {
        SubParse again = run_window(g, mode, first, prefix, c.start, std::min(prefix_end, c.end), false);
        if (again.ok) {
            node = std::move(again.node);
            keep_rest(g.argument_session().contents, node, mode,
                      tokens.subspan(std::min(again.consumed, tokens.size())), failures, c.end);
            node.with_diagnostics(std::move(failures));
            return OutcomeKind::Node;
        }
    }

    const ParseFailure* chosen = choose_failure(failures);
    if (chosen == nullptr) return OutcomeKind::Unreadable;
    if (g.state().config().reject_unknown) {
        chosen_out = std::make_unique<ParseFailure>(*chosen);
        return OutcomeKind::Chosen;
    }
    std::string message = error_message(*chosen);
    node = TrackedNode::leaf(
        SyntaxNode::Error{std::move(message), g.argument_session().contents.token_text(tokens)}, Span{c.start, c.end});
    node.with_diagnostics(std::move(failures));
    return OutcomeKind::Node;
}

// What the window reads as, read afresh: its node, or no node and what the
// reader's slot fails with.
OutcomeKind read_window(Grammar& g, ContentMode mode, const Collected& c, std::span<const SpannedToken> tokens,
                        TrackedNode& node, std::unique_ptr<ParseFailure>& chosen) {
    const SpannedToken* first = g.input().token_at(c.first);
    SubParse run = run_window(g, mode, first, tokens.size(), c.start, c.end, true);
    std::vector<ParseFailure> failures = std::move(run.failures);
    filter_outer_errors(failures, c.end);
    if (run.ok) {
        node = std::move(run.node);
        node.with_diagnostics(std::move(failures));
        return OutcomeKind::Node;
    }
    return retry_or_error(g, mode, c, tokens, std::move(failures), node, chosen);
}

// Once the recovery budget is spent, a window is read once more without
// keeping failures, which takes linear time: content that reads clean keeps
// its tree and reports nothing, and only content that fails is given up, one
// Error node over its text with one diagnostic.
[[gnu::noinline]] void read_quietly_or_give_up(Grammar& g, ContentMode mode, const Collected& c,
                                               std::span<const SpannedToken> tokens, ContentOutcome& out) {
    detail::last_parse_fuel.reached |= detail::kRecoveryBudget;
    out = ContentOutcome{};
    try {
        SubParse run = run_window(g, mode, g.input().token_at(c.first), tokens.size(), c.start, c.end, true, true);
        // A nested window kept before may carry failures of its own: then
        // this one does not read clean either.
        if (run.ok && run.failures.empty() && run.node.diagnostics.empty()) {
            out.node = std::move(run.node);
            return;
        }
    } catch (const QuietRunAbandoned&) {
    }
    out.node = TrackedNode::error(Span{c.start, c.end}, "argument nesting too complex to recover",
                                  g.argument_session().contents.token_text(tokens),
                                  ParseDiagnosticKind::FormulaTooComplex);
}

// The window read for keeping; past the recovery budget, read quietly or
// given up.
void read_content(Grammar& g, ContentMode mode, const Collected& c, std::span<const SpannedToken> tokens,
                  ContentOutcome& out) {
    SharedContents& contents = g.argument_session().contents;
    if (contents.exhausted()) return read_quietly_or_give_up(g, mode, c, tokens, out);
    try {
        out.kind = read_window(g, mode, c, tokens, out.node, out.chosen);
    } catch (const ArgumentsTooComplex&) {
        read_quietly_or_give_up(g, mode, c, tokens, out);
    }
}

// The slot's failure for a window that gave no node.
bool slot_failure(Grammar& g, OutcomeKind kind, const ParseFailure* chosen, Failure& failure) {
    Input& in = g.input();
    failure = kind == OutcomeKind::Chosen && chosen != nullptr
                  ? in.from_owned(*chosen)
                  : in.err_peek_or_point("failed to parse delimited argument content");
    return false;
}

// The window's outcome kept for the whole parse, read on its first reader;
// every reader gets a stand-in. Out of line: its frame stays off the nesting.
[[gnu::noinline]] bool shared_content(Grammar& g, ContentMode mode, const Collected& c,
                                      std::span<const SpannedToken> tokens, TrackedNode& out, Failure& failure) {
    SharedContents& contents = g.argument_session().contents;
    const SharedContents::Key key{g.input().token_at(c.first), tokens.size(), c.start, c.end, mode};
    std::optional<std::size_t> number = contents.find(key);
    if (!number) {
        ContentOutcome fresh;
        read_content(g, mode, c, tokens, fresh);
        number = contents.keep(key, std::move(fresh));
        if (!number) throw FormulaTooComplex{};
    }
    const ContentOutcome& kept = contents.outcome(*number);
    if (kept.kind == OutcomeKind::Node) {
        out = contents.stand_in(*number);
        return true;
    }
    return slot_failure(g, kept.kind, kept.chosen.get(), failure);
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

    SharedContents& contents = g.argument_session().contents;
    if (contents.enabled()) return shared_content(g, mode, c, tokens, out, failure);
    contents.note_read(in.token_at(c.first));
    std::unique_ptr<ParseFailure> chosen;
    const OutcomeKind kind = read_window(g, mode, c, tokens, out, chosen);
    return kind == OutcomeKind::Node || slot_failure(g, kind, chosen.get(), failure);
}

// ---- Shared contents -------------------------------------------------------------

namespace {

// A stand-in node is a character no source can hold, numbered past the last
// scalar value. Its span tree is the content's span without children; the
// kept children take their place beside the kept node, as span trees run
// parallel to the nodes.
constexpr char32_t kFirstStandIn = 0x200000;
constexpr std::size_t kStandInCount = std::numeric_limits<char32_t>::max() - kFirstStandIn;

std::optional<std::size_t> stand_in_number(const SyntaxNode& node) noexcept {
    const auto* c = node.get_if<SyntaxNode::Char>();
    if (c == nullptr || c->value < kFirstStandIn) return std::nullopt;
    return static_cast<std::size_t>(c->value - kFirstStandIn);
}

}  // namespace

std::optional<std::size_t> SharedContents::find(const Key& key) const {
    const auto slot = slot_of(key);
    if (!slot || newest_.empty()) return std::nullopt;
    for (std::uint32_t at = newest_[*slot]; at != 0; at = entries_[at - 1].next) {
        ++util::work_count;
        if (entries_[at - 1].key == key) return at - 1;
    }
    return std::nullopt;
}

std::optional<std::size_t> SharedContents::keep(const Key& key, ContentOutcome&& outcome) {
    const auto slot = slot_of(key);
    if (!slot || entries_.size() >= kStandInCount || entries_.size() >= std::numeric_limits<std::uint32_t>::max() - 1) {
        return std::nullopt;
    }
    if (newest_.empty()) {
        newest_.assign(token_count_, 0);
        util::work_count += token_count_;
    }
    Fuel::current().hold(sizeof(Entry));
    entries_.push_back(Entry{std::move(outcome), key, newest_[*slot], false});
    newest_[*slot] = static_cast<std::uint32_t>(entries_.size());
    return entries_.size() - 1;
}

TrackedNode SharedContents::stand_in(std::size_t number) const {
    const ContentOutcome& kept = entries_[number].outcome;
    ++util::work_count;
    TrackedNode t;
    t.node.value.emplace<SyntaxNode::Char>(SyntaxNode::Char{static_cast<char32_t>(kFirstStandIn + number)});
    t.span = kept.node.span;
    t.diagnostics = kept.node.diagnostics;
    return t;
}

namespace {

// A deferred text's marker: a byte no UTF-8 text holds, then its number.
constexpr char kDeferredMark = '\xFF';
constexpr std::size_t kMarkerSize = 1 + sizeof(std::size_t);
// Texts up to these sizes are written at once.
constexpr std::size_t kDeferFromTokens = 32;
constexpr std::size_t kDeferFromBytes = 128;

}  // namespace

std::optional<std::string> SharedContents::defer(const SpannedToken* tokens, std::size_t count, Span span) {
    if (!enabled_ || deferred_.size() >= std::numeric_limits<std::size_t>::max() / 2) return std::nullopt;
    const std::size_t number = deferred_.size();
    deferred_.push_back(Deferred{tokens, count, span});
    std::string marker(kMarkerSize, kDeferredMark);
    for (std::size_t i = 0; i < sizeof(std::size_t); ++i) marker[1 + i] = static_cast<char>(number >> (8 * i));
    return marker;
}

std::string SharedContents::source_text(std::string_view source, std::size_t start, std::size_t end) {
    if (end > start && end - start > kDeferFromBytes && end <= source.size()) {
        if (auto marker = defer(nullptr, 0, Span{start, end})) return std::move(*marker);
    }
    return slice_snippet(source, start, end);
}

std::string SharedContents::token_text(std::span<const SpannedToken> tokens) {
    if (tokens.size() > kDeferFromTokens) {
        if (auto marker = defer(tokens.data(), tokens.size(), Span{})) return std::move(*marker);
    }
    return tokens_to_string(tokens);
}

void SharedContents::write_deferred(syntax::CompactString& text) const {
    if (text.size() != kMarkerSize || text[0] != kDeferredMark) return;
    std::size_t number = 0;
    for (std::size_t i = 0; i < sizeof(std::size_t); ++i) {
        number |= static_cast<std::size_t>(static_cast<unsigned char>(text[1 + i])) << (8 * i);
    }
    const Deferred& d = deferred_[number];
    text = d.tokens != nullptr ? tokens_to_string(std::span<const SpannedToken>(d.tokens, d.count))
                               : slice_snippet(source_, d.span.start, d.span.end);
}

void SharedContents::resolve(DecomposedChildren& items) {
    if (entries_.empty() && deferred_.empty()) return;
    auto resolve_block = [this](std::vector<SyntaxNode>& nodes, syntax::SpanList& spans) {
        for (std::size_t i = 0; i < nodes.size(); ++i) resolve_tree(nodes[i], i < spans.size() ? &spans[i] : nullptr);
    };
    if (items.sealed != nullptr) {
        for (syntax::ParsedBlock& block : items.sealed->blocks) resolve_block(block.nodes, block.spans);
    }
    resolve_block(items.nodes, items.spans);
}

void SharedContents::resolve_tree(SyntaxNode& root, SpanTree* root_spans) {
    // Every node is looked at once, with its span tree beside it: a stand-in
    // is replaced where it stands, its span tree takes the kept children, and
    // the content put there is looked at in turn. Deferred texts of Error
    // nodes are written on the way.
    std::vector<std::pair<SyntaxNode*, SpanTree*>> pending{{&root, root_spans}};
    while (!pending.empty()) {
        // Named, not bound: a lambda below reads them.
        SyntaxNode* const node = pending.back().first;
        SpanTree* const spans = pending.back().second;
        pending.pop_back();
        if (auto* error = node->get_if<SyntaxNode::Error>()) write_deferred(error->snippet);
        std::size_t k = 0;
        node->for_each_child([&](SyntaxNode& child) {
            SpanTree* child_spans = spans != nullptr && k < spans->children.size() ? &spans->children[k] : nullptr;
            ++k;
            while (const auto number = stand_in_number(child)) {
                Entry& entry = entries_[*number];
                assert(!entry.placed);
                entry.placed = true;
                child = std::move(entry.outcome.node.node);
                if (child_spans != nullptr) child_spans->children = std::move(entry.outcome.node.spans);
            }
            pending.emplace_back(&child, child_spans);
        });
    }
}

}  // namespace quorvel::parse::grammar
