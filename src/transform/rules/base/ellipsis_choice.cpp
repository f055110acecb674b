#include "transform/rules/base/ellipsis_choice.hpp"

#include <optional>
#include <utility>

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

}  // namespace

RuleResult DotsToLdotsOrCdotsRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "dots");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command("dots")))
        return std::move(*error);
    const std::optional<NodeId> next = ctx.ast.next_sibling(node);
    if (!next) return RuleOutcome::Skipped;
    const std::optional<EllipsisChoice> choice = atom_choice(ctx, *next);
    if (!choice || *choice == EllipsisChoice::Undetermined) return RuleOutcome::Skipped;
    ctx.ast.replace_node(node, transform::helpers::bare_command_node(*choice == EllipsisChoice::Ldots ? "ldots" : "cdots"));
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
