#include "transform/rules/base/ellipsis_choice.hpp"

#include <optional>
#include <utility>

#include "transform/attributes.hpp"
#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"
#include "util/utf8.hpp"

namespace quorvel::transform::base_rules {

namespace {

using syntax::ast::Node;
using syntax::ast::NodeId;

// A character command decides by its Unicode text when that is one
// character; a longer or ill-formed text does not decide.
EllipsisChoice character_command_choice(std::string_view text) {
    if (text.empty()) return EllipsisChoice::Undetermined;
    char32_t c = 0;
    const std::size_t length = util::utf8::decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), c);
    if (length == 0 || length != text.size()) return EllipsisChoice::Undetermined;
    return literal_character_choice(c);
}

// The body of an attribute prefix: the node of its one mandatory content
// argument, when the name is a prefix of that argument's mode.
std::optional<NodeId> attribute_body(const syntax::Ast& ast, NodeId id) {
    const auto* command = ast.node(id).get_if<Node::Command>();
    if (command == nullptr) return std::nullopt;
    std::optional<NodeId> body;
    std::optional<syntax::ContentMode> mode;
    for (const auto& arg : command->args) {
        if (!arg || !std::holds_alternative<syntax::ast::ArgumentKind::Mandatory>(arg->kind.value) ||
            !arg->value.is_content())
            continue;
        if (body) return std::nullopt;
        body = arg->value.content();
        mode = arg->value.content_mode();
    }
    if (!body || lookup_prefix_form(*mode, command->name) == nullptr) return std::nullopt;
    return body;
}

// Whether `id` is an attribute prefix whose body a rule emptied (a dropped
// space, say): lowering, which runs after the rules, takes it out. In a
// list the atom after it then follows the ellipsis; deciding from what
// will follow spares a second normalisation.
bool is_emptied_prefix(const syntax::Ast& ast, NodeId id) {
    const std::optional<NodeId> body = attribute_body(ast, id);
    if (!body) return false;
    const auto* group = ast.node(*body).get_if<Node::Group>();
    return group != nullptr && group->kind.is_implicit() && group->children.empty();
}

// The sibling after `id` once lowering has taken out emptied prefixes.
std::optional<NodeId> next_kept(const syntax::Ast& ast, NodeId id) {
    std::optional<NodeId> next = ast.next_sibling(id);
    while (next && is_emptied_prefix(ast, *next)) next = ast.next_sibling(*next);
    return next;
}

// For a node that ends the body of an attribute prefix: when the next
// prefix kept in the list has the same name, lowering joins the two bodies
// (only emptied prefixes parted them), and the first node of the second
// follows the node.
std::optional<NodeId> first_of_joined_body(const syntax::Ast& ast, NodeId node) {
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr || link->slot.kind() != syntax::Slot::Kind::GroupChild) return std::nullopt;
    const NodeId body = link->parent;
    const syntax::ParentLink* up = ast.parent_link(body);
    if (up == nullptr || up->slot.kind() != syntax::Slot::Kind::Argument || attribute_body(ast, up->parent) != body)
        return std::nullopt;
    const std::optional<NodeId> next = next_kept(ast, up->parent);
    if (!next) return std::nullopt;
    const auto* after = ast.node(*next).get_if<Node::Command>();
    if (after == nullptr || after->name != std::get<Node::Command>(ast.node(up->parent).value).name)
        return std::nullopt;
    const std::optional<NodeId> other = attribute_body(ast, *next);
    if (!other) return std::nullopt;
    // A body of one node, as lowering writes one, is that node.
    const auto* group = ast.node(*other).get_if<Node::Group>();
    if (group == nullptr || !group->kind.is_implicit()) return other;
    if (group->children.empty()) return std::nullopt;
    return group->children[0];
}

// The choice the atom `id` makes; nothing when the rule must decline
// outright. Descends through one-child groups and script bases, so the
// loop ends with the tree's depth.
std::optional<EllipsisChoice> atom_choice(const RuleContext& ctx, NodeId id) {
    for (;;) {
        const Node& node = ctx.ast.node(id);
        switch (node.kind()) {
            case syntax::NodeKind::Group: {
                const auto& group = *node.get_if<Node::Group>();
                if (!group.kind.is_explicit() && !group.kind.is_implicit()) return EllipsisChoice::Ldots;
                if (group.children.empty()) return EllipsisChoice::Ldots;
                if (group.children.size() > 1) return std::nullopt;
                id = group.children[0];
                continue;
            }
            case syntax::NodeKind::Scripted: id = node.get_if<Node::Scripted>()->base; continue;
            case syntax::NodeKind::Char: return literal_character_choice(node.get_if<Node::Char>()->value);
            case syntax::NodeKind::Command: {
                // Gone, it leaves an empty group where it is the only node
                // of a slot or group.
                if (is_emptied_prefix(ctx.ast, id)) return EllipsisChoice::Ldots;
                const knowledge::ActiveCharacterRecord* record =
                    ctx.math.lookup_character(node.get_if<Node::Command>()->name);
                if (record == nullptr) return std::nullopt;
                return character_command_choice(record->text);
            }
            case syntax::NodeKind::Environment:
            case syntax::NodeKind::Prime:
            case syntax::NodeKind::ActiveSpace: return EllipsisChoice::Ldots;
            default: return std::nullopt;  // Root, Infix, Declarative, Text, Error
        }
    }
}

// Whether `node`, last in its list, ends a math brace group (or groups, one
// in another) that an item of a list follows. The closing brace decides for
// an ellipsis there, as `\ldots`; once flattening takes the group apart,
// that item would decide instead, one normalisation later.
bool ends_group_before_more(const syntax::Ast& ast, NodeId node) {
    for (NodeId at = node;;) {
        const syntax::ParentLink* link = ast.parent_link(at);
        if (link == nullptr || link->slot.kind() != syntax::Slot::Kind::GroupChild) return false;
        const auto* group = ast.node(link->parent).get_if<Node::Group>();
        if (group == nullptr || !(group->kind.is_explicit() || group->kind.is_implicit()) ||
            group->mode != syntax::ContentMode::Math)
            return false;
        at = link->parent;
        const syntax::ParentLink* up = ast.parent_link(at);
        if (up == nullptr || up->slot.kind() != syntax::Slot::Kind::GroupChild) return false;
        if (ast.next_sibling(at)) return true;
    }
}

}  // namespace

RuleResult DotsToLdotsOrCdotsRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "dots");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command("dots")))
        return std::move(*error);
    std::optional<NodeId> next = next_kept(ctx.ast, node);
    if (!next) next = first_of_joined_body(ctx.ast, node);
    if (!next && !ends_group_before_more(ctx.ast, node)) return RuleOutcome::Skipped;
    const std::optional<EllipsisChoice> choice = next ? atom_choice(ctx, *next) : EllipsisChoice::Ldots;
    if (!choice || *choice == EllipsisChoice::Undetermined) return RuleOutcome::Skipped;
    ctx.ast.replace_node(node, transform::helpers::bare_command_node(*choice == EllipsisChoice::Ldots ? "ldots" : "cdots"));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
