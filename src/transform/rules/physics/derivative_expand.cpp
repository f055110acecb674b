#include "transform/rules/physics/derivative_expand.hpp"

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "syntax/serializer.hpp"
#include "transform/passes/tree_support.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/physics/expansion_support.hpp"

namespace quorvel::transform::physics_rules {

namespace {

using expansion_checks::optional_math_content;
using syntax::ast::Node;
using syntax::ast::NodeId;
namespace helpers = derivative_expand::helpers;

// The checked slots of a derivative: star, optional order, first argument,
// optional braced denominator and (`\pdv` only) mixed denominator.
struct DerivativeSlots {
    bool flat = false;
    std::optional<NodeId> order;
    NodeId first;
    std::optional<NodeId> denominator;
    std::optional<NodeId> mixed;
};

// Skipped for any node but a Command `name`, and for one in an argument
// that pairs brackets whose order does not (that derivative stays); otherwise the slots, checked in
// slot order, or the first failing slot's error.
std::optional<RuleResult> read_slots(const RuleContext& ctx, NodeId node, std::string_view name,
                                     std::size_t slot_count, DerivativeSlots& out) {
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleResult(RuleOutcome::Skipped);
    const CommandDisplay display = CommandDisplay::command(name);
    const auto& args = command->args;
    if (auto error = RuleScopedContext::expect_arg_len(args.size(), slot_count, display))
        return RuleResult(std::move(*error));
    auto flat = RuleScopedContext::star_flag(args[0], display);
    if (!flat) return RuleResult(std::move(flat).error());
    auto order = optional_math_content(args[1], display, "optional order");
    if (!order) return RuleResult(std::move(order).error());
    auto first = RuleScopedContext::mandatory_math_content(args[2], display, "first argument");
    if (!first) return RuleResult(std::move(first).error());
    auto denominator = RuleScopedContext::optional_group_math_content(args[3], display, "denominator");
    if (!denominator) return RuleResult(std::move(denominator).error());
    if (slot_count > 4) {
        auto mixed = RuleScopedContext::optional_group_math_content(args[4], display, "mixed denominator");
        if (!mixed) return RuleResult(std::move(mixed).error());
        out.mixed = *mixed;
    }
    // The fraction writes the order twice, and a mixed `\pdv` drops it.
    if (*order && expansion_checks::copies_would_unpair(ctx.ast, node, **order))
        return RuleResult(RuleOutcome::Skipped);
    out.flat = *flat;
    out.order = *order;
    out.first = *first;
    out.denominator = *denominator;
    return std::nullopt;
}

// d^n f / d x^n with a denominator slot, d^n / d f^n without one. The order
// is written twice: a copy in the numerator, the order itself below.
void replace_with_fraction(syntax::Ast& ast, NodeId node, helpers::SymbolBuilder symbol,
                           const DerivativeSlots& slots) {
    const auto numerator_order = slots.order ? std::optional(ast.clone_subtree(*slots.order)) : std::nullopt;
    const auto order = [&] { return slots.order ? std::optional(ast.take(*slots.order)) : std::nullopt; };
    NodeId numerator;
    NodeId denominator;
    if (slots.denominator) {
        numerator = helpers::derivative_numerator(ast, symbol, numerator_order, slots.first);
        denominator = helpers::derivative_denominator(ast, symbol, *slots.denominator, order());
    } else {
        numerator = helpers::derivative_numerator(ast, symbol, numerator_order, std::nullopt);
        denominator = helpers::derivative_denominator(ast, symbol, slots.first, order());
    }
    ast.replace_node_drop_detached_children(node, helpers::derivative_fraction(slots.flat, numerator, denominator));
}

RuleResult expand(RuleContext& ctx, NodeId node, std::string_view name, helpers::SymbolBuilder symbol) {
    DerivativeSlots slots;
    if (auto declined = read_slots(ctx, node, name, 4, slots)) return std::move(*declined);
    replace_with_fraction(ctx.ast, node, symbol, slots);
    return RuleOutcome::Applied;
}

}  // namespace

RuleResult DvToFracDRule::apply(RuleContext& ctx, NodeId node) const {
    return expand(ctx, node, "dv", helpers::differential_d);
}

RuleResult FdvToFracDeltaRule::apply(RuleContext& ctx, NodeId node) const {
    return expand(ctx, node, "fdv", helpers::delta_symbol);
}

// A mixed denominator makes a second-order derivative over both variables,
// whatever the order slot holds.
RuleResult PdvToFracPartialRule::apply(RuleContext& ctx, NodeId node) const {
    DerivativeSlots slots;
    if (auto declined = read_slots(ctx, node, "pdv", 5, slots)) return std::move(*declined);
    syntax::Ast& ast = ctx.ast;
    if (!slots.mixed) {
        replace_with_fraction(ast, node, helpers::partial_symbol, slots);
        return RuleOutcome::Applied;
    }
    if (!slots.denominator)
        return RuleError::message("\\pdv cannot carry a mixed denominator without a first denominator");

    const NodeId two = ast.new_node(Node::Char{U'2'});
    const NodeId numerator = helpers::derivative_numerator(ast, helpers::partial_symbol, two, slots.first);
    std::vector<NodeId> parts{helpers::partial_symbol(ast)};
    passes::support::append_taken_content_after(ast, parts, *slots.denominator);
    parts.push_back(helpers::partial_symbol(ast));
    passes::support::append_taken_content_after(ast, parts, *slots.mixed);
    const NodeId denominator = ast.implicit_math_group(parts);
    ast.replace_node_drop_detached_children(node, helpers::derivative_fraction(slots.flat, numerator, denominator));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::physics_rules
