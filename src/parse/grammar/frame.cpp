// The frame of the grammar: hard stops, small helpers, the content-group
// wrappers and the item parsers that content repeats.
#include <algorithm>

#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"
#include "syntax/read_back.hpp"

namespace quorvel::parse::grammar {

using syntax::syntax_node::GroupKind;

// ---- Hard stops and boundaries ---------------------------------------------------

bool is_hard_stop(HardStop stop, const Token& token) noexcept {
    if (token.kind() == TokenKind::RBrace || token.kind() == TokenKind::MathShift || token.is_control("end")) return true;
    if (stop == HardStop::Text) return false;
    return token.is_control("right") || (stop == HardStop::MathControlParen && token.is_control(")"));
}

bool is_outer_closing_boundary(const Token* next) noexcept {
    if (next == nullptr) return true;
    switch (next->kind()) {
        case TokenKind::RBrace:
        case TokenKind::MathShift:
        case TokenKind::RBracket: return true;
        default: return next->is_control("end") || next->is_control("right");
    }
}

bool is_cell_separator(const SpannedToken* t) noexcept {
    if (t == nullptr) return false;
    return t->token.kind() == TokenKind::Ampersand || t->token.is_control("\\") || t->token.is_control("cr");
}

std::string slice_snippet(std::string_view source, std::size_t start, std::size_t end) {
    if (start > end || end > source.size()) return {};
    if (!is_char_boundary(source, start) || !is_char_boundary(source, end)) return {};
    Fuel::current().hold(end - start);
    return std::string(source.substr(start, end - start));
}

// ---- The \buildrel test ------------------------------------------------------------

std::size_t buildrels_carried(const SyntaxNode& item) noexcept {
    auto is_buildrel = [](const SyntaxNode* node) {
        const auto* command = node != nullptr ? std::get_if<SyntaxNode::Command>(&node->value) : nullptr;
        return command != nullptr && command->name == "buildrel";
    };
    const auto* scripted = std::get_if<SyntaxNode::Scripted>(&item.value);
    if (scripted == nullptr) return is_buildrel(&item) ? 1 : 0;
    std::size_t carried = std::size_t{is_buildrel(scripted->base.get())} +
                          std::size_t{is_buildrel(scripted->subscript.get())} +
                          std::size_t{is_buildrel(scripted->superscript.get())};
    // A superscript after primes is a list of them and it: its `\buildrel`
    // would read the primes' closing brace into its top.
    if (const auto* merged =
            scripted->superscript ? std::get_if<SyntaxNode::Group>(&scripted->superscript->value) : nullptr) {
        for (const SyntaxNode& member : merged->children)
            if (is_buildrel(&member)) carried += 2;
    }
    return carried;
}

// ---- Grammar: construction and small rules --------------------------------------------

Grammar::Grammar(ParserState& state, Input& input)
    : st_(state),
      in_(input),
      math_kb_(state.context().knowledge(ContentMode::Math)),
      text_kb_(state.context().knowledge(ContentMode::Text)),
      recover_(!state.config().abort_on_error),
      reject_unknown_(state.config().reject_unknown) {}

bool Grammar::control_seq(std::string_view name, PatternId label) {
    const SpannedToken* t = in_.peek();
    if (t != nullptr && t->token.is_control(name)) {
        in_.bump();
        return true;
    }
    in_.expect(label);
    return false;
}

bool Grammar::infix_guard(ContentMode mode) const noexcept {
    const SpannedToken* t = in_.peek();
    if (t == nullptr || t->token.kind() != TokenKind::ControlSeq) return false;
    const std::string_view name = t->token.name();
    if (const auto* rec = kb(mode).lookup_command(name); rec != nullptr && rec->kind == knowledge::CommandKind::Infix) {
        return true;
    }
    const ContentMode other = other_mode(mode);
    const auto* rec = kb(other).lookup_command(name);
    return rec != nullptr && rec->kind == knowledge::CommandKind::Infix;
}

// ---- Groups --------------------------------------------------------------------

bool Grammar::math_group(MathContentKind kind, TrackedNode& out) {
    const std::size_t start = in_.pos();
    DecomposedChildren items;
    if (!math_content(kind, items)) return false;
    set_group(out, ContentMode::Math, GroupKind::Implicit{}, std::move(items), in_.span_since(start),
              in_.token_count());
    return true;
}

bool Grammar::text_group(TrackedNode& out) {
    const std::size_t start = in_.pos();
    DecomposedChildren items;
    if (!text_content(items)) return false;
    set_group(out, ContentMode::Text, GroupKind::Implicit{}, std::move(items), in_.span_since(start),
              in_.token_count());
    return true;
}

bool Grammar::content_block(ContentMode mode, TrackedNode& out) {
    return mode == ContentMode::Math ? math_group(main_math(), out) : text_group(out);
}

// ---- Items ---------------------------------------------------------------------

bool Grammar::math_item_node(TrackedNode& out) {
    skip_ws();
    if (!scripted_atom(out)) return false;
    skip_ws();
    return true;
}

bool Grammar::math_item(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t != nullptr && t->token.kind() == TokenKind::ControlSeq &&
        (infix_guard(ContentMode::Math) || t->token.is_control("right") || t->token.is_control("end"))) {
        in_.expect(pattern::kSomethingElse);
        return false;
    }
    return math_item_node(out);
}

bool Grammar::text_item(TrackedNode& out) {
    const SpannedToken* t = in_.peek();
    if (t != nullptr && t->token.is_control("end")) {
        in_.expect(pattern::kSomethingElse);
        return false;
    }
    return text_atom(false, out);
}

bool Grammar::mode_item(ContentMode mode, TrackedNode& out) {
    return mode == ContentMode::Math ? math_item(out) : text_item(out);
}

bool Grammar::run_item(ItemRule rule, bool paren_recover, TrackedNode& out) {
    return rule == ItemRule::MathItemNode ? math_item_node(out) : text_atom(paren_recover, out);
}

bool Grammar::math_item_in(MathContentKind kind, TrackedNode& out) {
    if (!kind.recover) return math_item_node(out);
    return recoverable_item(ItemRule::MathItemNode, kind.paren_stop ? HardStop::MathControlParen : HardStop::Math,
                            ContentMode::Math, out);
}

bool Grammar::text_item_in(TrackedNode& out) {
    if (!recover_) return text_atom(false, out);
    return recoverable_item(ItemRule::TextAtom, HardStop::Text, ContentMode::Text, out);
}

// ---- Text group content -----------------------------------------------------------

// White space between the last item and the end of the content is left by
// the items that do not end in a text chunk; it is a space TeX sets, unless
// the item ended in a control word.
void Grammar::closing_space(std::size_t at, DecomposedChildren& out) {
    const SpannedToken* first = in_.token_at(at);
    if (at == 0 || first == nullptr || first->token.kind() != TokenKind::Whitespace) return;
    const Token& last = in_.token_at(at - 1)->token;
    if (last.kind() == TokenKind::ControlSeq && syntax::skips_space_after(last.name())) return;
    // The white space stays unread: the caller's reading of the stop, and
    // of a failure there, is as it was.
    TrackedNode space;
    set_leaf(space, SyntaxNode::Text{" "}, in_.span_between(at, in_.whitespace_end(at)));
    out.push(std::move(space));
}

bool Grammar::text_content(DecomposedChildren& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return text_content(out); });
    RuleScope scope(in_);
    for (;;) {
        const std::size_t item_start = in_.pos();
        const SpannedToken* next = peek_after_ws();
        if (next == nullptr || next->token.kind() == TokenKind::RBrace || next->token.is_control("end")) {
            if (!out.empty()) closing_space(item_start, out);
            break;
        }
        TrackedNode item;
        if (!text_item_in(item)) {
            // The item's failure is the content's; the items read so far go.
            in_.rewind(item_start);
            return scope.pass_on();
        }
        if (in_.pos() == item_start) break;  // an item always consumes; never loop on one that does not
        out.push(std::move(item));
    }
    return true;
}

}  // namespace quorvel::parse::grammar
