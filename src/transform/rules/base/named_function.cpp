#include "transform/rules/base/named_function.hpp"

#include <array>
#include <string>
#include <utility>

#include "knowledge/packages/base.hpp"
#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::base_rules {

namespace operatorname_to_named_function {

namespace {

namespace base = knowledge::builtin::base;
using knowledge::BuiltinCommandSpec;
using syntax::ast::Node;
using syntax::ast::NodeId;

constexpr std::array<const BuiltinCommandSpec*, 22> NAMED_FUNCTIONS{
    &base::cmd_arccos, &base::cmd_arcsin, &base::cmd_arctan, &base::cmd_arg,  &base::cmd_cos,  &base::cmd_cosh,
    &base::cmd_cot,    &base::cmd_coth,   &base::cmd_csc,    &base::cmd_deg,  &base::cmd_dim,  &base::cmd_exp,
    &base::cmd_hom,    &base::cmd_ker,    &base::cmd_lg,     &base::cmd_ln,   &base::cmd_log,  &base::cmd_sec,
    &base::cmd_sin,    &base::cmd_sinh,   &base::cmd_tan,    &base::cmd_tanh,
};

constexpr std::array<const BuiltinCommandSpec*, 8> NAMED_OPERATORS{
    &base::cmd_Pr, &base::cmd_det, &base::cmd_gcd, &base::cmd_inf,
    &base::cmd_lim, &base::cmd_max, &base::cmd_min, &base::cmd_sup,
};

template <std::size_t N>
const BuiltinCommandSpec* find(const std::array<const BuiltinCommandSpec*, N>& table, std::string_view name) {
    for (const BuiltinCommandSpec* spec : table)
        if (spec->name == name) return spec;
    return nullptr;
}

consteval bool names_fit() {
    for (const BuiltinCommandSpec* spec : NAMED_FUNCTIONS)
        if (spec->name.size() > MAX_NAME_LENGTH) return false;
    for (const BuiltinCommandSpec* spec : NAMED_OPERATORS)
        if (spec->name.size() > MAX_NAME_LENGTH) return false;
    return true;
}
static_assert(names_fit());

}  // namespace

std::optional<std::string_view> plain_operator_name(const syntax::Ast& ast, NodeId content, std::span<char> buffer) {
    const auto* group = ast.node(content).get_if<Node::Group>();
    if (group == nullptr || !group->kind.is_implicit() || group->mode != syntax::ContentMode::Math)
        return std::nullopt;
    if (group->children.size() > buffer.size()) return std::nullopt;
    std::size_t length = 0;
    for (NodeId child : group->children) {
        const auto* ch = ast.node(child).get_if<Node::Char>();
        if (ch == nullptr || ch->value >= 128) return std::nullopt;
        buffer[length++] = static_cast<char>(ch->value);
    }
    return std::string_view(buffer.data(), length);
}

const BuiltinCommandSpec* named_function_record(std::string_view name) noexcept { return find(NAMED_FUNCTIONS, name); }
const BuiltinCommandSpec* named_operator_record(std::string_view name) noexcept { return find(NAMED_OPERATORS, name); }

bool is_limits_modifier(const syntax::Ast& ast, NodeId node) {
    const Node* at = &ast.node(node);
    while (const auto* scripted = at->get_if<Node::Scripted>()) at = &ast.node(scripted->base);
    const auto* command = at->get_if<Node::Command>();
    return command != nullptr && command->name == "limits" && command->args.empty();
}

}  // namespace operatorname_to_named_function

namespace {

using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

bool lists_only(const knowledge::ActiveCommandRecord* record, std::string_view package) {
    return record != nullptr && record->from_packages.size() == 1 && record->from_packages[0] == package;
}

RuleError shape_error(std::string_view tail) {
    std::string text = "\\operatorname ";
    text += tail;
    return RuleError::message(std::move(text));
}

}  // namespace

RuleResult OperatornameToNamedFunctionRule::apply(RuleContext& ctx, NodeId node) const {
    namespace self = operatorname_to_named_function;
    const auto command = ctx.match_command(node, "operatorname");
    if (!command) return RuleOutcome::Skipped;
    // A caller's own `\operatorname` is left alone.
    const knowledge::ActiveCommandRecord* record = ctx.math.lookup_command("operatorname");
    if (record == nullptr) record = ctx.text.lookup_command("operatorname");
    if (!lists_only(record, "ams")) return RuleOutcome::Skipped;

    const auto& args = command->args;
    if (auto error = RuleScopedContext::expect_arg_len(args.size(), 2, CommandDisplay::command("operatorname")))
        return std::move(*error);
    if (!args[0] || !std::holds_alternative<ArgumentKind::Star>(args[0]->kind.value))
        return shape_error("should carry a star slot");
    const auto* star = std::get_if<ArgumentValue::Boolean>(&args[0]->value.value);
    if (star == nullptr) return shape_error("star slot should carry a boolean value");
    if (!args[1]) return shape_error("should carry a mandatory operator-name argument");
    if (!std::holds_alternative<ArgumentKind::Mandatory>(args[1]->kind.value))
        return shape_error("operator name should be a mandatory argument");
    const auto* content = std::get_if<ArgumentValue::OperatorNameContent>(&args[1]->value.value);
    if (content == nullptr) return shape_error("operator name should be operator-name content");

    std::array<char, self::MAX_NAME_LENGTH> buffer{};
    const auto name = self::plain_operator_name(ctx.ast, content->node, buffer);
    if (!name) return RuleOutcome::Skipped;
    const knowledge::BuiltinCommandSpec* target =
        star->value ? self::named_operator_record(*name) : self::named_function_record(*name);
    if (target == nullptr) return RuleOutcome::Skipped;
    if (!lists_only(ctx.math.lookup_command(target->name), "base")) return RuleOutcome::Skipped;
    // After the unstarred form a `\limits` must survive; after `\sin` the
    // corpus level would drop it.
    if (!star->value) {
        const std::optional<NodeId> next = ctx.ast.next_sibling(node);
        if (next && self::is_limits_modifier(ctx.ast, *next)) return RuleOutcome::Skipped;
    }
    ctx.ast.replace_node_drop_detached_children(node, helpers::prefix_command_node(target->name, {}));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
