// Math group content: the items of one stretch of math, each cell of it (the
// items between `&`, `\\` and `\cr`) split by at most one infix command into
// its left and right operands.
#include <deque>
#include <utility>
#include <vector>

#include "parse/grammar/grammar.hpp"
#include "parse/grammar/stack_guard.hpp"

namespace quorvel::parse::grammar {

namespace {

bool is_content_boundary(const SpannedToken* t) noexcept {
    return t == nullptr || t->token.kind() == TokenKind::RBrace || t->token.kind() == TokenKind::MathShift;
}

// Moves the cursor back over the white-space tokens consumed since `floor`.
void unconsume_trailing_ws(Input& in, std::size_t floor) {
    std::size_t pos = in.pos();
    while (pos > floor && in.token_at(pos - 1)->token.kind() == TokenKind::Whitespace) --pos;
    in.rewind(pos);
}

}  // namespace

bool Grammar::left_stop_at(MathContentKind kind, const SpannedToken* t) const noexcept {
    if (t == nullptr || t->token.kind() != TokenKind::ControlSeq) return false;
    if (t->token.is_control("right") || t->token.is_control("end")) return true;
    if (kind.paren_stop && t->token.is_control(")")) return true;
    // The guard looks at the cursor; run it at the token after the white space.
    if (const auto* rec = math_record(*t); rec != nullptr && rec->kind == knowledge::CommandKind::Infix) return true;
    if (!st_.context().has_text_only_infix()) return false;
    const auto* rec = text_kb_.lookup_command(t->token.name());
    return rec != nullptr && rec->kind == knowledge::CommandKind::Infix;
}

bool Grammar::right_stop_after_ws(MathContentKind kind) const noexcept {
    const SpannedToken* t = peek_after_ws();
    if (t == nullptr) return false;
    return t->token.is_control("right") || t->token.is_control("end") || (kind.paren_stop && t->token.is_control(")"));
}

bool Grammar::math_content(MathContentKind kind, DecomposedChildren& out) {
    in_.check_fuel();
    if (stack_low()) return on_fresh_stack([&] { return math_content(kind, out); });
    RuleScope scope(in_);
    std::size_t tail = kNoTail;
    if (!content_level(kind, scope, out, tail)) return false;
    if (tail != kNoTail) return buildrel_tails(kind, scope, tail, out);
    skip_ws();
    return true;
}

bool Grammar::content_level(MathContentKind kind, RuleScope& scope, DecomposedChildren& out, std::size_t& tail) {
    std::vector<std::size_t>* const probe = std::exchange(paren_item_starts_, nullptr);
    skip_ws();

    // Step A: the items of a cell before any infix command. A cell ends at a
    // separator, which goes to `out` after it; an infix command splits only
    // the cell it stands in.
    std::size_t cell_start = in_.pos();
    DecomposedChildren cell;
    OpenBuildrel buildrel;
    // One slot for every item: a rule that succeeds writes the whole result,
    // and pushing it leaves the slot empty again.
    TrackedNode item;
    const bool top = &out == top_ && !in_.quiet();
    for (;;) {
        const std::size_t item_start = in_.pos();
        if (probe != nullptr) probe->push_back(item_start);
        const SpannedToken* next = peek_after_ws();
        if (is_content_boundary(next) || left_stop_at(kind, next)) {
            // Steps B and C for this cell.
            if (!infix_step(kind, scope, cell_start, cell, buildrel, out, tail)) return false;
            // Without an infix command the content ends at its stop; an
            // infix command's right operand ends there too, or at a
            // separator, after which the next cell begins.
            if (tail != kNoTail || !is_cell_separator(peek_after_ws())) return true;
            cell = DecomposedChildren{};
            buildrel = OpenBuildrel{};
            continue;
        }
        const bool separator = is_cell_separator(next);
        bool gave_up = false;
        if (top ? top_level_item(kind, item_start, item, cell, gave_up) : math_item_in(kind, item)) {
            if (in_.pos() == item_start) break;  // an item always consumes; never loop on one that does not
            in_.hold(DecomposedChildren::kItemBytes);
            if (!note_buildrel(item, buildrel)) return unclosed_buildrel(scope, item.span);
            cell.push_held(std::move(item));
            if (separator) {
                if (buildrel.open) return unclosed_buildrel(scope, buildrel.span);
                out.append(std::move(cell));
                cell = DecomposedChildren{};
                buildrel = OpenBuildrel{};
                cell_start = in_.whitespace_end(in_.pos());
            }
            continue;
        }
        if (gave_up) break;
        // The item's failure is the content's; the items read so far go.
        // A bad \left delimiter keeps the position the item reached.
        const bool saw_left = next->token.is_control("left");
        if (saw_left) in_.abandon_if_quiet();
        const bool keep_position =
            saw_left && in_.alt() && in_.alt()->failure.kind == ParseDiagnosticKind::LeftRightDelimiter;
        if (!keep_position) in_.rewind(item_start);
        return scope.pass_on();
    }
    // Only where an item consumed nothing or the rest of the input was given
    // up: no infix command can follow.
    return infix_step(kind, scope, cell_start, cell, buildrel, out, tail);
}

bool Grammar::note_buildrel(const TrackedNode& item, OpenBuildrel& buildrel) {
    const std::size_t carried = buildrels_carried(item.node);
    if (carried == 0) return true;
    if (carried > 1 || buildrel.open) return false;
    buildrel.open = true;
    buildrel.span = item.span;
    return true;
}

// TeX finds no `\over` for the macro: the content fails, as at a second
// infix command, and the item recovery around it takes over.
bool Grammar::unclosed_buildrel(RuleScope& scope, Span span) {
    return scope.fail(Failure::custom_message(span, std::string(kUnclosedBuildrel),
                                              ParseDiagnosticKind::ArgumentValidation));
}

bool Grammar::top_level_item(MathContentKind kind, std::size_t item_start, TrackedNode& out,
                             DecomposedChildren& items, bool& gave_up) {
    const std::size_t kept = st_.recovery_diagnostic_count();
    try {
        return math_item_in(kind, out);
    } catch (const FormulaTooComplex&) {
    }
    // What the item left behind goes: its recovery diagnostics and its kept
    // failure. The rest of the input, from the item's first token to the last
    // token that is not white space, is one Error node with its text.
    in_.lift_fuel();
    gave_up = true;
    st_.drop_recovery_diagnostics_from(kept);
    in_.restore_alt(std::nullopt);
    const std::size_t count = in_.token_count();
    if (auto rest = too_complex_rest(st_.source(), std::span(in_.token_at(0), count), item_start)) {
        items.push(std::move(*rest));
    }
    in_.rewind(count);
    return false;
}

std::optional<TrackedNode> too_complex_rest(std::string_view source, std::span<const SpannedToken> tokens,
                                            std::size_t from) {
    std::size_t end = tokens.size();
    while (from < end && tokens[from].token.kind() == TokenKind::Whitespace) ++from;
    while (end > from && tokens[end - 1].token.kind() == TokenKind::Whitespace) --end;
    if (end == from) return std::nullopt;
    const Span span{tokens[from].span.start, tokens[end - 1].span.end};
    return TrackedNode::error(span, std::string(Grammar::kTooComplex), slice_snippet(source, span.start, span.end),
                              ParseDiagnosticKind::FormulaTooComplex);
}

// The tail after `\buildrel top \over rel` is a content of its own, which may
// end in another such construction with a tail of its own, and so on. Each
// tail is one level: it keeps its failures apart as a content's rule does, a
// failure anywhere fails every level around it (each going back to where its
// tail began), and on success each level ends padded by white space. The
// levels are kept here instead of on the call stack, and their items go
// straight into `out`, so a long run takes time and memory linear in its
// length and no stack.
bool Grammar::buildrel_tails(MathContentKind kind, RuleScope& outer, std::size_t tail, DecomposedChildren& out) {
    std::deque<RuleScope> levels;      // levels[i]: the content read from tail_starts[i]
    std::vector<std::size_t> tail_starts{tail};
    for (;;) {
        RuleScope& scope = levels.emplace_back(in_);
        std::size_t next = kNoTail;
        if (!content_level(kind, scope, out, next)) {
            for (std::size_t i = tail_starts.size(); i-- > 0;) {
                in_.rewind(tail_starts[i]);
                (i == 0 ? outer : levels[i - 1]).pass_on();
            }
            return false;
        }
        if (next == kNoTail) break;
        tail_starts.push_back(next);
    }
    skip_ws();
    for (std::size_t i = levels.size(); i-- > 0;) {
        levels[i].keep();
        unconsume_trailing_ws(in_, tail_starts[i]);
        skip_ws();
    }
    return true;
}

bool Grammar::infix_step(MathContentKind kind, RuleScope& scope, std::size_t cell_start, DecomposedChildren& left,
                         const OpenBuildrel& buildrel, DecomposedChildren& out, std::size_t& tail) {
    const SpannedToken* next = peek_after_ws();
    const knowledge::ActiveCommandRecord* record = nullptr;
    if (next != nullptr && next->token.kind() == TokenKind::ControlSeq) {
        record = math_kb_.lookup_command(next->token.name());
    }
    if (record == nullptr || record->kind != knowledge::CommandKind::Infix) {
        if (buildrel.open) return unclosed_buildrel(scope, buildrel.span);
        out.append(std::move(left));
        return true;
    }

    auto fail = [&](std::size_t rewind_to) {
        in_.rewind(rewind_to);
        return scope.pass_on();
    };

    skip_ws();
    CommandHead head;
    if (!command_head(knowledge::CommandKind::Infix, ContentMode::Math, head)) return fail(in_.pos());
    std::vector<TrackedArgumentSlot> slots;
    if (!argument_slots(head.record->args, pattern::kInfixCommandArgument, slots)) return fail(in_.pos());

    // Right operand items are read by the guarded math item, without recovery.
    DecomposedChildren right;
    if (head.name == "over" && buildrel.open) {
        // \buildrel top \over rel: exactly one right item, then the rest of the
        // content as a content of its own, which the caller reads after this
        // node (see `buildrel_tails`).
        const std::size_t item_start = in_.pos();
        const bool cell_end = is_cell_separator(peek_after_ws());
        TrackedNode item;
        if (!math_item(item)) return fail(item_start);
        if (buildrels_carried(item.node) > 0) return unclosed_buildrel(scope, item.span);
        right.push(std::move(item));
        if (cell_end) {
            // The macro takes a cell end for the relation as it takes one in
            // braces; a writer braces it, so it is held as that group.
            TrackedNode group;
            set_group(group, ContentMode::Math, syntax::syntax_node::GroupKind::Implicit{}, std::move(right),
                      in_.span_since(item_start), in_.token_count());
            right = DecomposedChildren{};
            right.push(std::move(group));
        }
        // A separator ends the cell, and the content reads on after it.
        const SpannedToken* t = peek_after_ws();
        if (!is_content_boundary(t) && !right_stop_after_ws(kind) && !is_cell_separator(t)) tail = in_.pos();
    } else {
        for (;;) {
            const std::size_t item_start = in_.pos();
            skip_ws();
            const SpannedToken* t = in_.peek();
            if (is_content_boundary(t) || right_stop_after_ws(kind) || is_cell_separator(t)) {
                in_.rewind(item_start);
                break;
            }
            if (t->token.kind() == TokenKind::ControlSeq && infix_guard(ContentMode::Math)) {
                // A second infix command in this content: located at that
                // command, which stays unconsumed.
                Failure failure = in_.err_peek_or_point("Ambiguous use of \\" + std::string(t->token.name()));
                failure.kind = ParseDiagnosticKind::AmbiguousInfix;
                return scope.fail(std::move(failure));
            }
            in_.rewind(item_start);
            TrackedNode item;
            if (!math_item(item)) return fail(item_start);
            if (in_.pos() == item_start) break;
            if (buildrels_carried(item.node) > 0) return unclosed_buildrel(scope, item.span);
            right.push(std::move(item));
        }
    }

    if (buildrel.open && head.name != "over") return unclosed_buildrel(scope, buildrel.span);

    // Step C: the operands and the infix node.
    const Span content = in_.span_since(cell_start);
    const Span left_span = left.extent(Span{content.start, content.start});
    const Span right_span = right.extent(Span{content.end, content.end});
    TrackedNode left_op = TrackedNode::fold(ContentMode::Math, std::move(left), left_span, in_.token_count());
    TrackedNode right_op = TrackedNode::fold(ContentMode::Math, std::move(right), right_span, in_.token_count());
    DecomposedArgs args = decompose_args(std::move(slots), in_.token_count());

    TrackedNode node;
    node.span = Span{left_op.span.start, right_op.span.end};
    node.diagnostics = std::move(args.diagnostics);
    node.diagnostics.append(std::move(left_op.diagnostics));
    node.diagnostics.append(std::move(right_op.diagnostics));
    node.spans.reserve(args.spans.size() + 2);
    node.spans.push_back(SpanTree(left_op.span, std::move(left_op.spans)));
    for (auto& s : args.spans) node.spans.push_back(std::move(s));
    node.spans.push_back(SpanTree(right_op.span, std::move(right_op.spans)));
    node.node = SyntaxNode::Infix{std::string(head.name), std::move(args.args), std::move(left_op.node),
                                  std::move(right_op.node)};

    out.push(std::move(node));
    return true;
}

}  // namespace quorvel::parse::grammar
