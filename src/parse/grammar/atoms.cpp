// Math atoms, braced groups, the knowledge-driven token selectors and the
// command head.

#include "parse/grammar/arguments.hpp"
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"

namespace quorvel::parse::grammar {

using knowledge::CommandKind;
using syntax::syntax_node::GroupKind;

namespace {

// A group past the depth limit: skipped to the matching `}` (or the end of
// input), with an Error node in its place; the parse goes on after it. Out of
// line, so that the groups that nest keep a small frame.
[[gnu::noinline, gnu::cold]] void too_deep_group(Grammar& g, Input& in, ParserState& st, std::size_t start,
                                                 TrackedNode& out) {
    const std::size_t limit = st.config().max_group_depth;
    // The brace pairing table finds that `}` at once: recovery may come back to
    // unclosed groups past the limit many times.
    in.rewind(start);
    Collected skipped;
    Failure unclosed;
    collect_braced_tokens(g, skipped, unclosed);
    const Span span = in.span_since(start);
    out = TrackedNode::error(span, "max group depth (" + std::to_string(limit) + ") exceeded", g.error_text(span),
                             ParseDiagnosticKind::MaxGroupDepthExceeded);
}

}  // namespace

// ---- The math atom -------------------------------------------------------------------

bool Grammar::math_atom(TrackedNode& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return math_atom(out); });
    const SpannedToken* t = in_.peek();
    if (t != nullptr && t->token.kind() == TokenKind::ControlSeq) {
        // Control words whose meaning the name or the knowledge base fixes are
        // read by their own rule alone.
        const std::string_view name = t->token.name();
        if (name == "left") return delimited_group(out);
        if (name == "begin") return environment(ContentMode::Math, out);
        if (const auto* rec = math_record(*t)) {
            if (rec->kind == CommandKind::Declarative) return declarative_command(ContentMode::Math, out);
            if (rec->kind == CommandKind::Prefix) return prefix_command(ContentMode::Math, out);
        }
    }
    if (t == nullptr || (t->token.kind() != TokenKind::ControlSeq && t->token.kind() != TokenKind::LBrace)) {
        // Neither `{` nor a control sequence: only one of the last three
        // alternatives can take the token; each one before it refuses it,
        // consuming nothing, with the pattern it expects.
        static constexpr PatternId kRefusals[] = {
            pattern::kLBrace,        pattern::kBegin,          pattern::kEscapedSymbol,
            pattern::kNotACommand,   pattern::kNotACommand,    pattern::kBareDelimiterControl,
            pattern::kUnknownCommand, pattern::kTilde,         pattern::kMathPrime,
        };
        const std::span<const PatternId> refusals(kRefusals);
        const TokenKind kind = t != nullptr ? t->token.kind() : TokenKind::Comment;
        if (kind == TokenKind::Tilde) {
            in_.expect_each(refusals.first(7));
            return active_space(out);
        }
        if (kind == TokenKind::Primes) {
            in_.expect_each(refusals.first(8));
            return math_prime(out);
        }
        in_.expect_each(refusals);
        return math_char(out);
    }
    const std::size_t start = in_.pos();
    auto attempt = [&](bool ok) {
        if (!ok) in_.rewind(start);
        return ok;
    };
    return attempt(braced_group(ContentMode::Math, out)) || attempt(environment_alternative(ContentMode::Math, out)) ||
           attempt(escaped_symbol(out)) || attempt(declarative_command(ContentMode::Math, out)) ||
           attempt(prefix_command(ContentMode::Math, out)) || attempt(delimiter_control_command(out)) ||
           attempt(unknown_command(out)) || attempt(active_space(out)) || attempt(math_prime(out)) ||
           attempt(math_char(out));
}

// ---- Braced groups -------------------------------------------------------------------

// Deep in a quiet run, a `{` that no `}` of the stream closes makes no group,
// and the run would fail at the bottom of the nesting below it; giving the run
// up here spares the descent and the unwinding of every level. Giving up is
// always sound: the run that keeps failures reads the formula anyway.
[[gnu::noinline, gnu::cold]] void Grammar::abandon_unclosed_group(std::size_t open) {
    ArgumentSession& session = argument_session();
    const auto index = session.index_of(in_.token_at(open));
    if (index && !session.brace_match(*index)) in_.abandon_if_quiet();
}

bool Grammar::braced_group(ContentMode mode, TrackedNode& out) {
    const std::size_t start = in_.pos();
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::LBrace) {
        in_.expect(pattern::kLBrace);
        return false;
    }
    in_.bump();

    if (st_.depth() >= st_.config().max_group_depth) {
        too_deep_group(*this, in_, st_, start, out);
        return true;
    }
    if (st_.depth() >= kQuietUnclosedCheckDepth && in_.quiet()) [[unlikely]] abandon_unclosed_group(start);

    DecomposedChildren items;
    {
        ParserState::DepthScope deeper(st_);
        if (!(mode == ContentMode::Math ? math_content(main_math(), items) : text_content(items))) return false;
    }
    // Text content leaves the white space before `}` to the group. White
    // space alone sets a space there, as in a text argument: it stays.
    if (mode == ContentMode::Text) {
        const SpannedToken* space = in_.peek();
        skip_ws();
        if (items.empty() && space != nullptr && space->token.kind() == TokenKind::Whitespace) {
            TrackedNode text;
            set_leaf(text, SyntaxNode::Text{" "}, Span{space->span.start, space->span.start + 1});
            items.push(std::move(text));
        }
    }
    t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::RBrace) {
        in_.expect(pattern::kRBrace);
        return false;
    }
    in_.bump();
    set_group(out, mode, GroupKind::Explicit{}, std::move(items), in_.span_since(start), in_.token_count());
    return true;
}

// ---- Token selectors ---------------------------------------------------------------------

bool Grammar::escaped_symbol(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::ControlSeq ||
        !knowledge::is_escaped_character(t->token.name())) {
        in_.expect(pattern::kEscapedSymbol);
        return false;
    }
    in_.bump();
    const std::string_view name = t->token.name();
    if (knowledge::escaped_command(name) != nullptr) {
        set_leaf(out, SyntaxNode::Command{std::string(name), {}, true}, t->span);
    } else {
        set_leaf(out, SyntaxNode::Char{static_cast<char32_t>(name[0])}, t->span);
    }
    return true;
}

bool Grammar::delimiter_control_command(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::ControlSeq ||
        math_kb_.lookup_delimiter_command(t->token.name()) == nullptr) {
        in_.expect(pattern::kBareDelimiterControl);
        return false;
    }
    in_.bump();
    set_leaf(out, SyntaxNode::Command{std::string(t->token.name()), {}, true}, t->span);
    return true;
}

bool Grammar::unknown_command(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::ControlSeq || math_kb_.lookup_command(t->token.name()) ||
        text_kb_.lookup_command(t->token.name())) {
        // A name known in either mode is left to the command rules' mode checks.
        in_.expect(pattern::kUnknownCommand);
        return false;
    }
    // The mapped failures are recorded where the selector started, so the
    // label replaces them: the caller sees "unknown command" expected.
    return labelled(in_, pattern::kUnknownCommand, false, [&] {
        const std::size_t start = in_.pos();
        in_.bump();
        const std::string_view name = t->token.name();
        if (name == "begin" || name == "end") {
            in_.add_alt(start, Failure::custom_message(t->span, "Reserved environment delimiter: \\" + std::string(name)));
            return false;
        }
        if (reject_unknown_) {
            in_.add_alt(start, Failure::custom_message(t->span, "Unknown command: \\" + std::string(name),
                                                       ParseDiagnosticKind::UnknownCommand));
            return false;
        }
        set_leaf(out, SyntaxNode::Command{std::string(name), {}, false}, t->span);
        return true;
    });
}

bool Grammar::active_space(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::Tilde) {
        in_.expect(pattern::kTilde);
        return false;
    }
    in_.bump();
    set_leaf(out, SyntaxNode::ActiveSpace{}, t->span);
    return true;
}

bool Grammar::math_prime(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::Primes) {
        in_.expect(pattern::kMathPrime);
        return false;
    }
    in_.bump();
    set_leaf(out, SyntaxNode::Prime{t->token.count()}, t->span);
    return true;
}

bool Grammar::math_char(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    char32_t c = 0;
    if (t != nullptr) {
        switch (t->token.kind()) {
            case TokenKind::Char: c = t->token.ch(); break;
            case TokenKind::Star: c = U'*'; break;
            case TokenKind::LBracket: c = U'['; break;
            case TokenKind::RBracket: c = U']'; break;
            case TokenKind::Ampersand: c = U'&'; break;
            default: break;
        }
    }
    if (c == 0) {
        in_.expect(pattern::kMathCharacter);
        return false;
    }
    in_.bump();
    set_leaf(out, SyntaxNode::Char{c}, t->span);
    return true;
}

bool Grammar::environment_alternative(ContentMode mode, TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || !t->token.is_control("begin")) {
        in_.expect(pattern::kBegin);
        return false;
    }
    return environment(mode, out);
}

// ---- Commands ---------------------------------------------------------------------------

bool Grammar::command_head(CommandKind expected, ContentMode mode, CommandHead& out) {
    const std::size_t start = in_.pos();
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::ControlSeq) {
        // Expected "not a command", found the token, spanning it.
        in_.expect(pattern::kNotACommand);
        return false;
    }
    in_.bump();
    const std::string_view name = t->token.name();
    const Span span = t->span;
    const auto* rec = mode == ContentMode::Math ? math_record(*t) : text_kb_.lookup_command(name);
    if (rec != nullptr) {
        if (rec->kind == expected) {
            out = CommandHead{name, rec};
            return true;
        }
        in_.add_alt(start, Failure::custom_message(span, "not " + std::string(knowledge::to_string(expected))));
        return false;
    }
    Failure failure;
    if (kb(other_mode(mode)).lookup_command(name) != nullptr) {
        failure = Failure::custom_message(span,
                                          "Command \\" + std::string(name) + " is not allowed in " +
                                              std::string(syntax::content_mode_name(mode)) + " mode",
                                          ParseDiagnosticKind::CommandModeError);
        failure.at_source(span);
    } else if (reject_unknown_) {
        failure = Failure::custom_message(span, "Unknown command: \\" + std::string(name),
                                          ParseDiagnosticKind::UnknownCommand);
    } else {
        failure = Failure::custom_message(span, "unknown");
        failure.soft = true;
    }
    in_.add_alt(start, std::move(failure));
    return false;
}

bool Grammar::command_rule(CommandKind kind, ContentMode mode, TrackedNode& out) {
    const std::size_t start = in_.pos();
    CommandHead head;
    if (!command_head(kind, mode, head)) return false;
    std::vector<TrackedArgumentSlot> slots;
    const PatternId label =
        kind == CommandKind::Prefix ? pattern::kCommandArgument : pattern::kDeclarativeCommandArgument;
    // A slot's failure is the command's.
    if (!argument_slots(head.record->args, label, slots)) return false;
    DecomposedArgs args = decompose_args(std::move(slots), in_.token_count());
    if (kind == CommandKind::Prefix) {
        out.node.value.emplace<SyntaxNode::Command>(SyntaxNode::Command{std::string(head.name), std::move(args.args), true});
    } else {
        out.node.value.emplace<SyntaxNode::Declarative>(SyntaxNode::Declarative{std::string(head.name), std::move(args.args)});
    }
    out.span = in_.span_since(start);
    out.spans = std::move(args.spans);
    out.diagnostics = std::move(args.diagnostics);
    return true;
}

bool Grammar::prefix_command(ContentMode mode, TrackedNode& out) {
    return command_rule(CommandKind::Prefix, mode, out);
}

bool Grammar::declarative_command(ContentMode mode, TrackedNode& out) {
    return command_rule(CommandKind::Declarative, mode, out);
}

}  // namespace quorvel::parse::grammar
