// Text atoms: text chunks, inline math, braced groups, commands and the
// refusal of script markers in text.
#include <algorithm>

#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "parse/utf8.hpp"

namespace quorvel::parse::grammar {

using syntax::syntax_node::GroupKind;

bool Grammar::text_atom(bool paren_recover, TrackedNode& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return text_atom(paren_recover, out); });
    const std::size_t start = in_.pos();
    auto attempt = [&](bool ok) {
        if (!ok) in_.rewind(start);
        return ok;
    };
    const SpannedToken* t = in_.peek();
    if (t != nullptr && t->token.kind() == TokenKind::ControlSeq) {
        // A known command is read by its own rule alone, as in math, so that
        // a failure in its arguments is the atom's; the names of the other
        // control-sequence forms keep their alternatives.
        const std::string_view name = t->token.name();
        if (name != "(" && name != "begin" && !knowledge::is_escaped_character(name)) {
            if (const auto* rec = text_kb_.lookup_command(name)) {
                if (rec->kind == knowledge::CommandKind::Declarative) return declarative_command(ContentMode::Text, out);
                if (rec->kind == knowledge::CommandKind::Prefix) return prefix_command(ContentMode::Text, out);
            }
        }
        // The dollar form of inline math is tried first and cannot match here.
        in_.expect(pattern::kMathShift);
        const std::size_t recovered = st_.recovery_diagnostic_count();
        if (attempt(inline_math_paren(paren_recover, out))) return true;
        const std::size_t math_reported = st_.recovery_diagnostic_count();
        // A `\(` that math does not close is read as a command: what the
        // math's recovery reported went with the math and its Error nodes.
        // Kept, it would be a fault no Error node shows, over a tree that
        // reads as valid; and the text written back, with the math's `\(`
        // as `$`, would not read back the same. What the item read instead
        // reported (a caller's text environment, say) stays with its Error
        // nodes.
        const bool ok = attempt(environment_alternative(ContentMode::Text, out)) || attempt(escaped_symbol(out)) ||
                        attempt(declarative_command(ContentMode::Text, out)) ||
                        attempt(prefix_command(ContentMode::Text, out)) || attempt(unknown_command(out));
        if (ok) st_.drop_recovery_diagnostics_between(recovered, math_reported);
        return ok;
    }
    if (attempt(text_chunk(out)) || attempt(inline_math_dollar(out))) return true;
    // The parenthesis form cannot match a token that is no control sequence.
    in_.expect(pattern::kOpenParen);
    return attempt(braced_group(ContentMode::Text, out)) || attempt(text_script_refusal()) ||
           attempt(active_space(out));
}

bool Grammar::text_argument(TrackedNode& out) { return text_chunk(out, true) || text_item(out); }

bool Grammar::text_chunk(TrackedNode& out, bool one_token) {
    const std::size_t start = in_.pos();
    TextChunkJoiner joiner;
    std::string piece;
    for (;;) {
        const SpannedToken* t = in_.peek();
        if (t == nullptr) break;
        piece.clear();
        switch (t->token.kind()) {
            case TokenKind::Char: utf8::append(piece, t->token.ch()); break;
            case TokenKind::Whitespace: piece = " "; break;
            case TokenKind::Primes: piece.assign(t->token.count(), '\''); break;
            case TokenKind::Star: piece = "*"; break;
            case TokenKind::LBracket: piece = "["; break;
            case TokenKind::RBracket: piece = "]"; break;
            default: break;
        }
        if (piece.empty()) break;
        joiner.add(piece);
        in_.bump();
        if (one_token) break;
    }
    if (in_.pos() == start) {
        in_.expect(pattern::kText);
        return false;
    }
    // The token that ended the chunk was refused by the piece selector.
    in_.expect(pattern::kSomethingElse);
    set_leaf(out, SyntaxNode::Text{joiner.take()}, in_.span_since(start));
    return true;
}

bool Grammar::inline_math_dollar(TrackedNode& out) {
    const std::size_t start = in_.pos();
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::MathShift) {
        in_.expect(pattern::kMathShift);
        return false;
    }
    in_.bump();
    TrackedNode group;
    if (!math_group(main_math(), group)) return false;
    t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::MathShift) {
        in_.expect(pattern::kMathShift);
        return false;
    }
    in_.bump();
    out = std::move(group);
    out.node.get_if<SyntaxNode::Group>()->kind = GroupKind::InlineMath{};
    out.span = in_.span_since(start);
    return true;
}

const Grammar::ParenContentEnd* Grammar::paren_content_fails(std::size_t content_start,
                                                             MathContentKind kind) const noexcept {
    if (!paren_ends_) return nullptr;
    const auto found = paren_ends_->find(content_start);
    if (found == paren_ends_->end()) return nullptr;
    const ParenContentEnd& e = found->second;
    if (e.depth != st_.depth() || e.recover != kind.recover) return nullptr;
    const SpannedToken* t = in_.token_at(e.end);
    return t == nullptr || !t->token.is_control(")") ? &e : nullptr;
}

bool Grammar::inline_math_paren(bool recover, TrackedNode& out) {
    const std::size_t start = in_.pos();
    if (!control_seq("(", pattern::kOpenParen)) return false;
    const MathContentKind kind = paren_math(recover);
    TrackedNode group;
    std::size_t content_start = in_.pos();
    while (in_.token_at(content_start) != nullptr &&
           in_.token_at(content_start)->token.kind() == TokenKind::Whitespace) {
        ++content_start;
    }
    if (const ParenContentEnd* e = paren_content_fails(content_start, kind)) {
        if (in_.quiet()) return false;  // a quiet run records no failure: the refusal needs no reading
        {
            RuleScope scope(in_);
            Failure left = e->left->failure;
            in_.add_alt(e->left->pos, std::move(left));
        }
        st_.reset_depth_peak(std::max(st_.depth_peak(), st_.depth() + e->rise));
        in_.rewind(e->end);
        control_seq(")", pattern::kCloseParen);
        return false;
    }
    std::vector<std::size_t> item_starts;
    struct Probe {
        std::vector<std::size_t>*& slot;
        ~Probe() { slot = nullptr; }
    } probe{paren_item_starts_};
    paren_item_starts_ = &item_starts;
    const std::size_t diagnostics = st_.recovery_diagnostic_count();
    const std::size_t depth = st_.depth();
    // The depth the content reaches is measured from here; the enclosing
    // peak is put back even when the reading throws.
    struct Peak {
        ParserState& st;
        std::size_t outer;
        ~Peak() { st.reset_depth_peak(std::max(outer, st.depth_peak())); }
    } peak{st_, st_.depth_peak()};
    st_.reset_depth_peak(depth);
    std::shared_ptr<const Input::Located> left;
    std::size_t rise = 0;
    {
        // What the content leaves is taken apart from what was kept before
        // it, then joined to it as the content's own rule would.
        RuleScope scope(in_);
        const bool ok = math_group(kind, group);
        rise = st_.depth_peak() - depth;
        if (!ok) return scope.pass_on();
        if (!in_.quiet() && in_.alt() && st_.recovery_diagnostic_count() == diagnostics) {
            left = std::make_shared<const Input::Located>(Input::Located{in_.alt()->pos, in_.alt()->failure});
        }
    }
    paren_item_starts_ = nullptr;
    if (in_.quiet() || left != nullptr) {
        if (!paren_ends_) paren_ends_ = std::make_unique<std::unordered_map<std::size_t, ParenContentEnd>>();
        const ParenContentEnd end{in_.pos(), st_.depth(), kind.recover, std::move(left), rise};
        for (const std::size_t at : item_starts) paren_ends_->try_emplace(at, end);
    }
    if (!control_seq(")", pattern::kCloseParen)) return false;
    out = std::move(group);
    out.node.get_if<SyntaxNode::Group>()->kind = GroupKind::InlineMath{};
    out.span = in_.span_since(start);
    return true;
}

bool Grammar::text_script_refusal() {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || (t->token.kind() != TokenKind::Caret && t->token.kind() != TokenKind::Underscore)) {
        in_.expect(pattern::kSomethingElse);
        return false;
    }
    const std::size_t start = in_.pos();
    in_.bump();
    Failure failure = Failure::custom_message(t->span, "Scripted syntax is not allowed in Text mode",
                                              ParseDiagnosticKind::TextScriptError);
    failure.at_source(t->span);
    in_.add_alt(start, std::move(failure));
    return false;
}

}  // namespace quorvel::parse::grammar
