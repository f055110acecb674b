#include "transform/rules/base/limit_placement.hpp"

#include <array>

#include "knowledge/packages/ams.hpp"
#include "knowledge/packages/base.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::base_rules {

namespace limit_placement::helpers {

namespace {

namespace base = knowledge::builtin::base;
namespace ams = knowledge::builtin::ams;
using knowledge::ActiveCommandRecord;
using knowledge::BuiltinCommandSpec;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

struct NamedOperator {
    const BuiltinCommandSpec* spec;
    std::string_view package;
    bool exact;
};

// Pr, det and exp must come from base alone: physics typesets its own.
constexpr std::array<NamedOperator, 39> NAMED_OPERATORS{{
    {&base::cmd_lg, "base", false},        {&base::cmd_ln, "base", false},
    {&base::cmd_Pr, "base", true},         {&base::cmd_arg, "base", false},
    {&base::cmd_cos, "base", false},       {&base::cmd_cot, "base", false},
    {&base::cmd_csc, "base", false},       {&base::cmd_deg, "base", false},
    {&base::cmd_det, "base", true},        {&base::cmd_dim, "base", false},
    {&base::cmd_exp, "base", true},        {&base::cmd_gcd, "base", false},
    {&base::cmd_hom, "base", false},       {&base::cmd_inf, "base", false},
    {&base::cmd_ker, "base", false},       {&base::cmd_lim, "base", false},
    {&base::cmd_log, "base", false},       {&base::cmd_max, "base", false},
    {&base::cmd_min, "base", false},       {&base::cmd_sec, "base", false},
    {&base::cmd_sin, "base", false},       {&base::cmd_sup, "base", false},
    {&base::cmd_tan, "base", false},       {&base::cmd_cosh, "base", false},
    {&base::cmd_coth, "base", false},      {&base::cmd_sinh, "base", false},
    {&base::cmd_tanh, "base", false},      {&base::cmd_mathop, "base", false},
    {&base::cmd_arccos, "base", false},    {&base::cmd_arcsin, "base", false},
    {&base::cmd_arctan, "base", false},    {&base::cmd_liminf, "base", false},
    {&base::cmd_limsup, "base", false},    {&ams::cmd_injlim, "ams", false},
    {&ams::cmd_projlim, "ams", false},     {&ams::cmd_varinjlim, "ams", false},
    {&ams::cmd_varliminf, "ams", false},   {&ams::cmd_varlimsup, "ams", false},
    {&ams::cmd_varprojlim, "ams", false},
}};

struct BigOperator {
    std::string_view name;
    std::string_view package;
};

constexpr std::array<BigOperator, 22> BIG_OPERATORS{{
    {"int", "base"},      {"sum", "base"},      {"iint", "base"},     {"prod", "base"},
    {"oint", "base"},     {"intop", "base"},    {"iiint", "base"},    {"oiint", "base"},
    {"coprod", "base"},   {"bigvee", "base"},   {"bigcap", "base"},   {"bigcup", "base"},
    {"ointop", "base"},   {"oiiint", "base"},   {"iiiint", "ams"},    {"bigodot", "base"},
    {"bigwedge", "base"}, {"biguplus", "base"}, {"bigoplus", "base"}, {"bigsqcup", "base"},
    {"smallint", "base"}, {"bigotimes", "base"},
}};

const ActiveCommandRecord* resolve(const RuleContext& ctx, std::string_view name) {
    const ActiveCommandRecord* record = ctx.math.lookup_command(name);
    return record != nullptr ? record : ctx.text.lookup_command(name);
}

bool is_starred(const Node::Command& command) {
    if (command.args.empty() || !command.args[0]) return false;
    const auto& slot = *command.args[0];
    if (!std::holds_alternative<ArgumentKind::Star>(slot.kind.value)) return false;
    const auto* flag = std::get_if<ArgumentValue::Boolean>(&slot.value.value);
    return flag != nullptr && flag->value;
}

}  // namespace

bool matches_builtin_command(const ActiveCommandRecord& entry, const BuiltinCommandSpec& builtin,
                             std::string_view package, bool exact) noexcept {
    if (entry.name != builtin.name || entry.kind != builtin.kind || entry.allowed_mode != builtin.allowed_mode ||
        entry.argspec != builtin.argspec)
        return false;
    if (exact) return entry.from_packages.size() == 1 && entry.from_packages[0] == package;
    for (std::string_view from : entry.from_packages)
        if (from == package) return true;
    return false;
}

bool is_eligible_operator(const RuleContext& ctx, NodeId node) {
    const auto* command = ctx.ast.node(node).get_if<Node::Command>();
    if (command == nullptr) return false;
    const ActiveCommandRecord* entry = resolve(ctx, command->name);
    if (entry == nullptr) return false;
    if (entry->name == "operatorname")
        return matches_builtin_command(*entry, ams::cmd_operatorname, "ams", true) && is_starred(*command);
    for (const NamedOperator& op : NAMED_OPERATORS)
        if (op.spec->name == entry->name) return matches_builtin_command(*entry, *op.spec, op.package, op.exact);
    for (const BigOperator& op : BIG_OPERATORS) {
        if (op.name != entry->name) continue;
        if (entry->from_packages.size() != 1 || entry->from_packages[0] != op.package) return false;
        const knowledge::ActiveCharacterRecord* character = ctx.math.lookup_character(op.name);
        return character != nullptr && character->package == op.package;
    }
    return false;
}

RuleResult drop_limit_modifier(RuleContext& ctx, NodeId node, const BuiltinCommandSpec& modifier) {
    syntax::Ast& ast = ctx.ast;
    const auto* command = ast.node(node).get_if<Node::Command>();
    if (command == nullptr) return RuleOutcome::Skipped;
    // A caller-defined modifier is left alone.
    const ActiveCommandRecord* entry = resolve(ctx, command->name);
    if (entry == nullptr || !matches_builtin_command(*entry, modifier, "base", true)) return RuleOutcome::Skipped;
    if (!command->args.empty()) return RuleOutcome::Skipped;

    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr) return RuleOutcome::Skipped;
    // `\limits_{a}^{b}` parses as scripts on the modifier itself.
    std::optional<NodeId> scripted;
    NodeId in_list = node;
    if (link->slot.kind() == syntax::Slot::Kind::ScriptBase) {
        scripted = link->parent;
        in_list = link->parent;
        const syntax::ParentLink* outer = ast.parent_link(in_list);
        if (outer == nullptr || !outer->slot.is_group_child()) return RuleOutcome::Skipped;
    } else if (!link->slot.is_group_child()) {
        return RuleOutcome::Skipped;
    }
    const std::optional<NodeId> op = ast.prev_sibling(in_list);
    if (!op || !is_eligible_operator(ctx, *op)) return RuleOutcome::Skipped;

    if (!scripted) {
        ast.remove_node(node);
        return RuleOutcome::Applied;
    }
    // The operator leaves its place for the modifier's: the scripts stay
    // where they are, and the modifier goes.
    Node::Scripted moved = *ast.node(*scripted).get_if<Node::Scripted>();
    moved.base = ast.take(*op);
    ast.replace_node_drop_detached_children(*scripted, std::move(moved));
    return RuleOutcome::Applied;
}

}  // namespace limit_placement::helpers

RuleResult LimitModifierDropRule::apply(RuleContext& ctx, syntax::ast::NodeId node) const {
    return limit_placement::helpers::drop_limit_modifier(
        ctx, node, limits_ ? knowledge::builtin::base::cmd_limits : knowledge::builtin::base::cmd_nolimits);
}

}  // namespace quorvel::transform::base_rules
