// Scripted atoms: an optional base followed by primes, `_` and `^` markers.
#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "syntax/list_buffers.hpp"

namespace quorvel::parse::grammar {

using syntax::syntax_node::GroupKind;

namespace {

constexpr std::string_view kMissingSubscript = "Missing subscript content";
constexpr std::string_view kMissingSuperscript = "Missing superscript content";

bool is_missing_operand(const Failure& f) {
    return f.custom && f.kind == ParseDiagnosticKind::RawExpectedFound &&
           (f.message == kMissingSubscript || f.message == kMissingSuperscript);
}

// The held superscript part and a newly arrived one joined, in place, into an
// implicit group. The parts keep their span trees and failures, as the
// Scripted node does. Out of line, so that the marker loop's frame holds none
// of the parts it moves.
[[gnu::noinline]] void join_superscript(std::optional<TrackedNode>& held, TrackedNode&& arrived) {
    TrackedNode out;
    out.span = Span{held->span.start, arrived.span.end};
    out.diagnostics = std::move(held->diagnostics);
    out.diagnostics.append(std::move(arrived.diagnostics));
    out.spans.reserve(2);
    out.spans.push_back(SpanTree(held->span, std::move(held->spans)));
    out.spans.push_back(SpanTree(arrived.span, std::move(arrived.spans)));
    std::vector<SyntaxNode> children;
    children.reserve(2);
    children.push_back(std::move(held->node));
    children.push_back(std::move(arrived.node));
    out.node = SyntaxNode::Group{ContentMode::Math, GroupKind::Implicit{}, std::move(children)};
    held = std::move(out);
}

bool is_script_marker(const SpannedToken* t) noexcept {
    const TokenKind kind = t != nullptr ? t->token.kind() : TokenKind::Comment;
    return kind == TokenKind::Primes || kind == TokenKind::Underscore || kind == TokenKind::Caret;
}

// Whether the atom ahead is one character that `math_char` reads, with no
// prime, `_` or `^` after it: such an atom can neither fail nor have scripts.
bool lone_character_ahead(const Input& in) {
    const std::size_t at = in.whitespace_end(in.pos());
    const SpannedToken* t = in.token_at(at);
    if (t == nullptr) return false;
    switch (t->token.kind()) {
        case TokenKind::Char:
        case TokenKind::Star:
        case TokenKind::LBracket:
        case TokenKind::RBracket:
        case TokenKind::Ampersand: break;
        default: return false;
    }
    return !is_script_marker(in.token_at(in.whitespace_end(at + 1)));
}

}  // namespace

struct Grammar::ScriptedParts {
    enum class Sup : std::uint8_t { None, PrimesOnly, Explicit, Merged };
    explicit ScriptedParts(TrackedNode& base_slot) : base(base_slot) {}
    TrackedNode& base;  // read straight into the result, which it stays without scripts
    std::optional<TrackedNode> sub;
    std::optional<TrackedNode> sup;
    Sup state = Sup::None;
};

bool Grammar::scripted_atom(TrackedNode& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return scripted_atom(out); });
    if (lone_character_ahead(in_)) {
        // No failure of its own to report, nothing to drop: without a rule
        // scope its refusals join the kept failure directly, just as the
        // scope would join them at its end.
        skip_ws();
        return math_atom(out);
    }
    RuleScope scope(in_);
    // The base, read straight into the result, which it stays without scripts.
    const SpannedToken* t = in_.peek();
    if (t != nullptr && t->token.kind() == TokenKind::ControlSeq) {
        // A control word must be an atom: an unknown or misplaced command
        // reports its own failure.
        skip_ws();
        if (!math_atom(out)) return scope.pass_on();
    } else {
        skip_ws();
        const std::size_t before = in_.pos();
        if (!math_atom(out) && !empty_base(before, scope, out)) return false;
        if (t != nullptr && t->token.kind() == TokenKind::Whitespace) t = in_.token_at(before);
    }
    // A cell separator is never a base: the markers after it start the
    // next item, on an empty base of its own.
    if (is_cell_separator(t)) return true;
    // Not a marker after the white space: the white space stays unconsumed
    // and its skip leaves no failure, so look before skipping.
    return !is_script_marker(peek_after_ws()) || scripts_after_base(scope, out);
}

// No atom at `before`: a script marker there gets an empty base; anything
// else is the rule's failure. Out of line, as every rarely taken step of the
// rules that nest.
[[gnu::noinline]] bool Grammar::empty_base(std::size_t before, RuleScope& scope, TrackedNode& out) {
    in_.rewind(before);
    const SpannedToken* t = in_.peek();
    if (t != nullptr && (t->token.kind() == TokenKind::Caret || t->token.kind() == TokenKind::Underscore)) {
        out = TrackedNode::leaf(SyntaxNode::Group{ContentMode::Math, GroupKind::Implicit{}, {}},
                                Span{t->span.start, t->span.start});
        return true;
    }
    // Nothing was consumed: the failure lies on the token no atom accepts.
    return scope.fail(Failure::custom_message(in_.here_span(), "expected atom or script marker"));
}

[[gnu::noinline]] bool Grammar::scripts_after_base(RuleScope& scope, TrackedNode& out) {
    ScriptedParts parts(out);
    Failure failure;
    const Step step = scripted_components(parts, failure);
    if (step == Step::PassedOn) return scope.pass_on();
    if (step == Step::Done) {
        if (parts.sub || parts.sup) attach_scripts(parts, scope.start());
        return true;
    }
    return script_failure(scope, std::move(failure), out);
}

// The steps after the markers, out of line: the nesting through a script
// operand does not carry their frames.
[[gnu::noinline]] void Grammar::attach_scripts(ScriptedParts& parts, std::size_t start) {
    TrackedNode& out = parts.base;
    SyntaxNode::Scripted node{std::move(out.node), {}, {}};
    syntax::SpanList spans;
    if (compact_lists(in_.token_count())) {
        spans.reserve(1 + (parts.sub ? 1 : 0) + (parts.sup ? 1 : 0));
    } else {
        spans = syntax::list_buffers::take_list<syntax::SpanList>();
    }
    spans.push_back(out.take_span_tree());
    out.spans = std::move(spans);
    out.span = in_.span_since(start);
    if (parts.sub) {
        out.diagnostics.append(std::move(parts.sub->diagnostics));
        out.spans.push_back(parts.sub->take_span_tree());
        node.subscript = std::move(parts.sub->node);
    }
    if (parts.sup) {
        out.diagnostics.append(std::move(parts.sup->diagnostics));
        out.spans.push_back(parts.sup->take_span_tree());
        node.superscript = std::move(parts.sup->node);
    }
    out.node.value.emplace<SyntaxNode::Scripted>(std::move(node));
}

[[gnu::noinline]] bool Grammar::script_failure(RuleScope& scope, Failure&& failure, TrackedNode& out) {
    if (!is_missing_operand(failure)) return scope.fail(std::move(failure));
    // A marker without operand: recorded here, and unless the parse aborts on
    // errors, an Error node stands for the whole construct. The input stays
    // after the marker and the white space that followed it.
    std::string text = in_.display(failure);
    st_.push_recovery_diagnostic(in_.to_owned(failure));
    if (st_.config().abort_on_error) return scope.fail(std::move(failure));
    const Span span = in_.span_since(scope.start());
    out = TrackedNode::leaf(SyntaxNode::Error{std::move(text), error_text(span)}, span);
    return true;
}

Grammar::Step Grammar::scripted_components(ScriptedParts& parts, Failure& failure) {
    // The markers after the base, looked for as after the base itself.
    for (;;) {
        const SpannedToken* t = peek_after_ws();
        const TokenKind kind = t != nullptr ? t->token.kind() : TokenKind::Comment;
        if (kind != TokenKind::Primes && kind != TokenKind::Underscore && kind != TokenKind::Caret) return Step::Done;
        skip_ws();
        const std::size_t marker = in_.pos();

        bool primes = false;
        TrackedNode component;
        if (kind == TokenKind::Primes) {
            in_.bump();
            set_leaf(component, SyntaxNode::Prime{t->token.count()}, in_.span_since(marker));
            primes = true;
        } else if (kind == TokenKind::Underscore) {
            in_.bump();
            if (const Step s = script_operand(pattern::kSubscriptContent, component, failure); s != Step::Done) {
                return s;
            }
            component.span = in_.span_since(marker);
            if (parts.sub) return marker_failure(marker, "Double subscripts: use braces to clarify", failure);
            parts.sub = std::move(component);
            continue;
        } else {
            in_.bump();
            if (!braced_prime_group(component)) {
                if (const Step s = script_operand(pattern::kSuperscriptContent, component, failure); s != Step::Done) {
                    return s;
                }
            }
            component.span = in_.span_since(marker);
        }

        using Sup = ScriptedParts::Sup;
        switch (parts.state) {
            case Sup::None:
                parts.sup = std::move(component);
                parts.state = primes ? Sup::PrimesOnly : Sup::Explicit;
                break;
            case Sup::PrimesOnly:
                join_superscript(parts.sup, std::move(component));
                parts.state = Sup::Merged;
                break;
            case Sup::Explicit:
            case Sup::Merged:
                return marker_failure(marker,
                                      primes ? "Prime causes double exponent: use braces to clarify"
                                             : "Double exponent: use braces to clarify",
                                      failure);
        }
    }
}

// Out of line, as the other rarely taken steps of a scripted atom.
[[gnu::noinline]] Grammar::Step Grammar::marker_failure(std::size_t marker, const char* message, Failure& failure) {
    failure = in_.err_since(marker, message);
    return Step::Own;
}

Grammar::Step Grammar::script_operand(PatternId label, TrackedNode& out, Failure& failure) {
    skip_ws();
    const SpannedToken* t = in_.peek();
    bool missing = t == nullptr;
    if (!missing) {
        switch (t->token.kind()) {
            case TokenKind::RBrace:
            case TokenKind::MathShift:
            case TokenKind::Caret:
            case TokenKind::Underscore: missing = true; break;
            default: missing = t->token.is_control("end") || t->token.is_control("right");
        }
    }
    if (missing) {
        // Nothing is consumed: the failure lies at the token that cannot start
        // an operand (the end-of-input point when there is none).
        std::string message = "Missing ";
        message.append(static_pattern(label).label);
        failure = Failure::custom_message(in_.here_span(), std::move(message), ParseDiagnosticKind::RawExpectedFound);
        return Step::Own;
    }
    return math_atom(out) ? Step::Done : Step::PassedOn;
}

bool Grammar::braced_prime_group(TrackedNode& out) {
    // A group that is not exactly `{`, primes, `}` leaves neither the cursor
    // moved nor a failure behind, so check the tokens before reading them.
    std::size_t i = in_.pos();
    auto next_kind = [&]() -> TokenKind {
        const SpannedToken* t = in_.token_after_whitespace(i);
        return t != nullptr ? t->token.kind() : TokenKind::Comment;
    };
    if (next_kind() != TokenKind::LBrace) return false;
    ++i;
    if (next_kind() != TokenKind::Primes) return false;
    ++i;
    if (next_kind() != TokenKind::RBrace) return false;

    const std::size_t start = in_.pos();
    skip_ws();
    in_.bump();
    skip_ws();
    const SpannedToken* primes = in_.peek();
    in_.bump();
    skip_ws();
    in_.bump();

    std::vector<SyntaxNode> children;
    children.emplace_back(SyntaxNode::Prime{primes->token.count()});
    out = TrackedNode::leaf(SyntaxNode::Group{ContentMode::Math, GroupKind::Explicit{}, std::move(children)},
                            in_.span_since(start));
    // The Prime inside gets the span of its token.
    out.spans.emplace_back(primes->span);
    return true;
}

}  // namespace quorvel::parse::grammar
