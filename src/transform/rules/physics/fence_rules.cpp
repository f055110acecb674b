#include "transform/rules/physics/fence_rules.hpp"

#include <optional>
#include <span>
#include <string>
#include <utility>

#include "transform/passes/exposure.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/physics/expansion_support.hpp"
#include "transform/rules/physics/fence_support.hpp"

namespace quorvel::transform::physics_rules {

namespace {

using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Delimiter;
using syntax::ast::NodeId;
using bra_ket::helpers::Style;
using Slots = std::span<const std::optional<syntax::ast::Argument>>;

// The matched slots of a command named after the rule's one trigger, or the
// outcome to return: Skipped for any other node, the slot-count error for a
// wrong number of slots. Nothing is allocated on the way to Skipped.
struct Matched {
    Slots args;
    CommandDisplay display;
};

std::optional<RuleResult> match(const RuleContext& ctx, NodeId node, const RuleMeta& meta, std::size_t slots,
                                Matched& out) {
    const std::string_view name = meta.triggers.front().name;
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleResult(RuleOutcome::Skipped);
    out = Matched{command->args, CommandDisplay::command(name)};
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), slots, out.display))
        return RuleResult(std::move(*error));
    return std::nullopt;
}

Delimiter to_delimiter(const FenceDelimiter& d) {
    return d.control.empty() ? Delimiter::character(d.ch) : Delimiter::control(std::string(d.control));
}

passes::support::LeadToken token_of(const FenceDelimiter& d) {
    using passes::support::LeadToken;
    return d.control.empty() ? LeadToken{LeadToken::Kind::Char, d.ch, {}} : LeadToken{LeadToken::Kind::Control, 0, d.control};
}

// Written bare, a starred shorthand's delimiters stand beside what is around
// them: the opening one after the item before the command, the closing one
// after the last item of the body. Where either would fill an open slot of
// that item (`\qty\abs*{x}`, `\abs*{x\qty}`), the shorthand stays.
bool bare_delimiters_fill_a_slot(const RuleContext& ctx, NodeId node, NodeId body, const FenceDelimiter& left,
                                 const FenceDelimiter& right) {
    if (passes::support::taken_by_item_before(ctx.ast, ctx.math, ctx.text, node, token_of(left))) return true;
    NodeId last = body;
    for (const auto* group = ctx.ast.node(last).get_if<syntax::ast::Node::Group>();
         group != nullptr && group->kind.as_delimited() == nullptr;
         group = ctx.ast.node(last).get_if<syntax::ast::Node::Group>()) {
        if (group->children.empty()) return false;
        last = group->children.back();
    }
    return passes::support::takes_token(ctx.ast, ctx.math, ctx.text, last, token_of(right));
}

Style star_style(bool starred) { return starred ? Style::Star : Style::Unstarred; }

// The two fences an unstarred matrix element splits into stand in braces as
// a script base: where the item before would take those braces into an open
// slot (`\qty\ev{A}{B}^2`), the command stays.
bool split_base_taken(const RuleContext& ctx, NodeId node) {
    const syntax::ParentLink* link = ctx.ast.parent_link(node);
    if (link == nullptr || link->slot.kind() != syntax::Slot::Kind::ScriptBase) return false;
    using passes::support::LeadToken;
    return passes::support::taken_by_item_before(ctx.ast, ctx.math, ctx.text, node,
                                                 LeadToken{LeadToken::Kind::Brace, U'{', {}});
}

bool is_char(const Delimiter& d, char32_t c) {
    const auto* ch = d.as_char();
    return ch != nullptr && ch->value == c;
}

}  // namespace

RuleResult ExpectationExpandRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 4, m)) return std::move(*declined);
    auto single = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!single) return std::move(single).error();
    auto dual = RuleScopedContext::star_flag(m.args[1], m.display);
    if (!dual) return std::move(dual).error();
    auto op = bra_ket::helpers::required_math_arg(m.args[2], m.display, "body");
    if (!op) return std::move(op).error();
    auto state = RuleScopedContext::optional_group_math_content(m.args[3], m.display, "state");
    if (!state) return std::move(state).error();

    // The state is written on both sides.
    if (*state && expansion_checks::copies_would_unpair(ctx.ast, node, **state)) return RuleOutcome::Skipped;
    if (!*state) {
        // Without a state only the first star counts: `\ev**{O}` is `\ev*{O}`.
        bra_ket::helpers::replace_with_expectation_body(ctx.ast, node, star_style(*single), *op);
    } else {
        const Style style = *dual ? Style::DoubleStar : star_style(*single);
        if (style == Style::Unstarred && split_base_taken(ctx, node)) return RuleOutcome::Skipped;
        bra_ket::helpers::replace_with_expectation_state(ctx.ast, node, style, *op, **state);
    }
    return RuleOutcome::Applied;
}

// The second star slot needs only a boolean value, whatever its form.
RuleResult MatrixelExpandRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 5, m)) return std::move(*declined);
    auto single = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!single) return std::move(single).error();
    auto dual = fence_checks::boolean_flag(m.args[1], m.display);
    if (!dual) return std::move(dual).error();
    auto left = bra_ket::helpers::required_math_arg(m.args[2], m.display, "left state");
    if (!left) return std::move(left).error();
    auto op = bra_ket::helpers::required_math_arg(m.args[3], m.display, "operator");
    if (!op) return std::move(op).error();
    auto right = bra_ket::helpers::required_math_arg(m.args[4], m.display, "right state");
    if (!right) return std::move(right).error();

    const Style style = *dual ? Style::DoubleStar : star_style(*single);
    if (style == Style::Unstarred && split_base_taken(ctx, node)) return RuleOutcome::Skipped;
    bra_ket::helpers::replace_with_matrix_element(ctx.ast, node, style, *left, *op, *right);
    return RuleOutcome::Applied;
}

RuleResult BraOrKetExpandRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 2, m)) return std::move(*declined);
    auto starred = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!starred) return std::move(starred).error();
    auto body = bra_ket::helpers::required_math_arg(m.args[1], m.display, "body");
    if (!body) return std::move(body).error();

    if (side_ == Side::Bra) {
        bra_ket::helpers::replace_with_bra(ctx.ast, node, star_style(*starred), *body);
    } else {
        bra_ket::helpers::replace_with_ket(ctx.ast, node, star_style(*starred), *body);
    }
    return RuleOutcome::Applied;
}

// Unstarred, the two sides share one sized fence with a middle bar.
RuleResult BraketExpandRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 3, m)) return std::move(*declined);
    auto starred = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!starred) return std::move(starred).error();
    auto left = bra_ket::helpers::required_math_arg(m.args[1], m.display, "left side");
    if (!left) return std::move(left).error();
    auto right = RuleScopedContext::optional_group_math_content(m.args[2], m.display, "right side");
    if (!right) return std::move(right).error();

    // One side is written on both.
    if (!*right && expansion_checks::copies_would_unpair(ctx.ast, node, *left)) return RuleOutcome::Skipped;
    const NodeId parts[] = {*left, right->value_or(*left)};
    bra_ket::helpers::replace_with_angle_bar_parts(ctx.ast, node, *starred ? Style::Star : Style::DoubleStar, parts);
    return RuleOutcome::Applied;
}

RuleResult BinaryBracketRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 3, m)) return std::move(*declined);
    auto starred = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!starred) return std::move(starred).error();
    auto left = fence_checks::braced_math_arg(m.args[1], m.display, "left operand");
    if (!left) return std::move(left).error();
    auto right = bra_ket::helpers::required_math_arg(m.args[2], m.display, "right operand");
    if (!right) return std::move(right).error();

    commutator::helpers::replace_with_binary_bracket_fence(ctx.ast, node, *starred, *left, *right,
                                                           to_delimiter(open_), to_delimiter(close_));
    return RuleOutcome::Applied;
}

RuleResult DelimiterShorthandRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 2, m)) return std::move(*declined);
    auto starred = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!starred) return std::move(starred).error();
    auto body = fence_checks::braced_math_arg(m.args[1], m.display, "body");
    if (!body) return std::move(body).error();
    if (*starred && bare_delimiters_fill_a_slot(ctx, node, *body, left_, right_)) return RuleOutcome::Skipped;

    delimiter_shorthand::helpers::replace_with_delimiter_shorthand(ctx.ast, node, *starred, *body,
                                                                   to_delimiter(left_), to_delimiter(right_));
    return RuleOutcome::Applied;
}

// Only the braced form and the forms closed by a bar are evaluation fences;
// any other pair the slot may hold is declined.
RuleResult EvalExpandRule::apply(RuleContext& ctx, NodeId node) const {
    Matched m;
    if (auto declined = match(ctx, node, meta(), 2, m)) return std::move(*declined);
    auto starred = RuleScopedContext::star_flag(m.args[0], m.display);
    if (!starred) return std::move(starred).error();

    const auto& slot = m.args[1];
    const auto* paired = slot ? slot->kind.as_paired() : nullptr;
    if (paired == nullptr) return RuleOutcome::Skipped;
    const bool braced = is_char(paired->open, U'{') && is_char(paired->close, U'}');
    const bool barred = (is_char(paired->open, U'(') || is_char(paired->open, U'[')) && is_char(paired->close, U'|');
    if (!braced && !barred) return RuleOutcome::Skipped;
    const auto* body = std::get_if<ArgumentValue::MathContent>(&slot->value.value);
    if (body == nullptr)
        return labelled_error(m.display, braced ? "braced eval body" : "paired eval body",
                                     "should be math content");

    const Delimiter left = braced ? Delimiter::none() : paired->open;
    eval_fence::helpers::replace_with_eval_fence(ctx.ast, node, *starred, body->node, left,
                                                 Delimiter::character(U'|'));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::physics_rules
