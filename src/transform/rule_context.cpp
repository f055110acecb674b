#include "transform/rule_context.hpp"

#include <string>
#include <utility>

#include "util/work_count.hpp"

namespace quorvel::transform {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

bool is_mandatory(const Argument& arg) {
    return std::holds_alternative<syntax::ast::ArgumentKind::Mandatory>(arg.kind.value);
}

// "{display} {qualifier}{label} {tail}"; an empty label drops its space.
RuleError compose(const CommandDisplay& display, std::string_view qualifier, std::string_view label,
                  std::string_view tail) {
    std::string text;
    display.append_to(text);
    text += ' ';
    text += qualifier;
    if (!label.empty()) {
        text += label;
        text += ' ';
    }
    text += tail;
    return RuleError::message(std::move(text));
}

RuleError labelled(const CommandDisplay& display, std::string_view label, std::string_view tail,
                   bool optional = false) {
    return compose(display, optional ? "optional " : "", label, tail);
}

}  // namespace

bool RuleContext::groups_stay(NodeId node) const {
    if (flattening == nullptr) return true;
    if (!(*flattening)[FlattenGuard::EnvBody]) return false;
    constexpr std::size_t kLevels = 256;
    NodeId at = node;
    for (std::size_t level = 0; level < kLevels; ++level) {
        const syntax::ParentLink* link = ast.parent_link(at);
        if (link == nullptr) return false;
        if (link->slot.kind() == syntax::Slot::Kind::EnvBody) return true;
        at = link->parent;
    }
    return true;
}

void RuleContext::StretchAbove::keep_past(const syntax::Ast& ast, const syntax::StepLog& log, std::size_t from,
                                          std::uint64_t now) {
    if (!holds(now - 1)) return;
    // Deeper edits are taken for edits elsewhere: the walk that tells them
    // apart costs no more than finding the answer anew.
    constexpr std::size_t kLevels = 8;
    const auto below = [&](NodeId id) {
        for (std::size_t level = 0; level < kLevels; ++level) {
            if (id == at || ast.node_opt(id) == nullptr) return true;
            const syntax::ParentLink* link = ast.parent_link(id);
            if (link == nullptr) return id != ast.root();
            id = link->parent;
        }
        return false;
    };
    using Op = syntax::StepRecord::Op;
    for (std::size_t i = from; i < log.records.size(); ++i) {
        const syntax::StepRecord& record = log.records[i];
        util::work_count += 1;
        switch (record.op) {
            case Op::NewNode:
            case Op::Freed: continue;
            case Op::ReplacedValue:
            case Op::ConsumedInto:
                if (below(record.a)) continue;
                return;
            case Op::ContentSwap:
            case Op::Hoisted:
                if (below(record.c)) continue;
                return;
            default:
                if (below(record.b)) continue;
                return;
        }
    }
    edits = now;
}

std::optional<RuleContext::CommandMatch> RuleContext::match_command(NodeId node, std::string_view name) const {
    const auto* command = ast.node(node).get_if<Node::Command>();
    if (command == nullptr || command->name != name) return std::nullopt;
    return CommandMatch{command->name, command->args};
}

std::optional<RuleContext::InfixMatch> RuleContext::match_infix(NodeId node, std::string_view name) const {
    const auto* infix = ast.node(node).get_if<Node::Infix>();
    if (infix == nullptr || infix->name != name) return std::nullopt;
    return InfixMatch{infix->name, infix->args, infix->left, infix->right};
}

void CommandDisplay::append_to(std::string& out) const {
    out += prefix;
    out += name;
    out += suffix;
}

std::string CommandDisplay::to_string() const {
    std::string out;
    append_to(out);
    return out;
}

RuleError labelled_error(const CommandDisplay& display, std::string_view label, std::string_view tail) {
    return compose(display, "", label, tail);
}

knowledge::Expected<bool, RuleError> RuleScopedContext::star_flag(const Slot& slot, const CommandDisplay& display) {
    if (!slot || !slot->kind.is_star()) return labelled_error(display, {}, "should carry a star slot");
    const auto* flag = std::get_if<ArgumentValue::Boolean>(&slot->value.value);
    if (flag == nullptr) return labelled_error(display, {}, "star slot should carry a boolean value");
    return flag->value;
}

std::optional<RuleError> RuleScopedContext::expect_arg_len(std::size_t count, std::size_t expected,
                                                           const CommandDisplay& display) {
    if (count == expected) return std::nullopt;
    std::string text;
    display.append_to(text);
    text += " should carry exactly ";
    text += std::to_string(expected);
    text += " explicit argument slots, got ";
    text += std::to_string(count);
    return RuleError::message(std::move(text));
}

knowledge::Expected<syntax::ast::Delimiter, RuleError> RuleScopedContext::mandatory_delimiter(
    const Slot& slot, const CommandDisplay& display, std::string_view label) {
    if (!slot || !is_mandatory(*slot)) return labelled(display, label, "should be a mandatory delimiter argument");
    const auto* delimiter = std::get_if<ArgumentValue::Delimiter>(&slot->value.value);
    if (delimiter == nullptr) return labelled(display, label, "should be a delimiter");
    return delimiter->value;
}

knowledge::Expected<NodeId, RuleError> RuleScopedContext::mandatory_math_content(const Slot& slot,
                                                                                 const CommandDisplay& display,
                                                                                 std::string_view label) {
    if (!slot || !is_mandatory(*slot)) return labelled(display, label, "should be a mandatory math argument");
    const auto* content = std::get_if<ArgumentValue::MathContent>(&slot->value.value);
    if (content == nullptr) return labelled(display, label, "should be math content");
    return content->node;
}

knowledge::Expected<NodeId, RuleError> RuleScopedContext::single_math_content(std::span<const Slot> args,
                                                                              const CommandDisplay& display,
                                                                              std::string_view label) {
    if (auto error = expect_arg_len(args.size(), 1, display)) return std::move(*error);
    return mandatory_math_content(args[0], display, label);
}

knowledge::Expected<std::optional<NodeId>, RuleError> RuleScopedContext::optional_group_math_content(
    const Slot& slot, const CommandDisplay& display, std::string_view label) {
    if (!slot) return std::optional<NodeId>();
    if (!std::holds_alternative<syntax::ast::ArgumentKind::Group>(slot->kind.value))
        return labelled(display, label, "should be a braced group", true);
    const auto* content = std::get_if<ArgumentValue::MathContent>(&slot->value.value);
    if (content == nullptr) return labelled(display, label, "should be math content", true);
    return std::optional<NodeId>(content->node);
}

namespace macro_support {

RuleResult rename_prefix_command_alias(RuleContext& ctx, NodeId node, std::string_view target,
                                       std::span<const RuleTarget> aliases) {
    const auto* command = ctx.ast.node(node).get_if<Node::Command>();
    if (command == nullptr) return RuleOutcome::Skipped;
    bool listed = false;
    for (const RuleTarget& alias : aliases)
        if (command->name == alias.name) {
            listed = true;
            break;
        }
    if (!listed) return RuleOutcome::Skipped;
    // The copied slots name the same content nodes, which replace_node keeps
    // attached under the renamed command.
    Node renamed = Node::Command{std::string(target), command->args, true};
    ctx.ast.replace_node(node, std::move(renamed));
    return RuleOutcome::Applied;
}

}  // namespace macro_support

}  // namespace quorvel::transform
