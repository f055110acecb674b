#include "transform/rules/rename_rule.hpp"

#include <string>
#include <utility>

#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/spacing_support.hpp"

namespace quorvel::transform {

namespace {

using syntax::ContentMode;
using syntax::Slot;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

ContentMode list_mode(const Node& parent) {
    if (const auto* root = parent.get_if<Node::Root>()) return root->mode;
    return parent.get_if<Node::Group>()->mode;
}

// Where a control space may become `~`: a math list, math or operator-name
// argument content, a script's base or scripts, an infix operand.
bool in_math_position(const syntax::Ast& ast, NodeId node) {
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr) return false;
    const Node& parent = ast.node(link->parent);
    switch (link->slot.kind()) {
        case Slot::Kind::GroupChild: return list_mode(parent) == ContentMode::Math;
        case Slot::Kind::Argument: {
            const syntax::ast::ArgumentSlots* args = parent.args();
            if (args == nullptr || link->slot.index() >= args->size()) return false;
            const auto& arg = (*args)[link->slot.index()];
            return arg && (std::holds_alternative<ArgumentValue::MathContent>(arg->value.value) ||
                           std::holds_alternative<ArgumentValue::OperatorNameContent>(arg->value.value));
        }
        case Slot::Kind::ScriptBase:
        case Slot::Kind::ScriptSub:
        case Slot::Kind::ScriptSup:
        case Slot::Kind::InfixLeft:
        case Slot::Kind::InfixRight: return true;
        case Slot::Kind::EnvBody: return false;
    }
    return false;
}

}  // namespace

RuleResult RenameRule::apply(RuleContext& ctx, NodeId node) const {
    const RuleMeta& m = meta();
    if (form_ == RenameForm::Alias) return macro_support::rename_prefix_command_alias(ctx, node, target_, m.triggers);

    const auto* command = ctx.ast.node(node).get_if<Node::Command>();
    if (command == nullptr) return RuleOutcome::Skipped;
    const RuleTarget* source = nullptr;
    for (const RuleTarget& trigger : m.triggers)
        if (command->name == trigger.name) {
            source = &trigger;
            break;
        }
    if (source == nullptr) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command(source->name)))
        return std::move(*error);
    if (form_ == RenameForm::MathActiveSpace && !in_math_position(ctx.ast, node)) return RuleOutcome::Skipped;

    Node replacement;
    switch (form_) {
        case RenameForm::Bare:
        case RenameForm::Alias: replacement = helpers::bare_command_node(target_); break;
        case RenameForm::Char: replacement = Node::Char{ch_}; break;
        case RenameForm::ActiveSpace:
        case RenameForm::MathActiveSpace: replacement = Node::ActiveSpace{}; break;
        case RenameForm::Prime: replacement = Node::Prime{1}; break;
        case RenameForm::LineBreak: replacement = helpers::linebreak_command_node(); break;
    }
    ctx.ast.replace_node(node, std::move(replacement));
    if (repair_) spacing_support::drop_leading_space_of_next_text(ctx.ast, node);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform
