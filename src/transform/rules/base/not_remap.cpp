#include "transform/rules/base/not_remap.hpp"

#include <array>

#include "knowledge/packages/ams.hpp"
#include "knowledge/packages/base.hpp"
#include "transform/helpers.hpp"
#include "transform/rule_context.hpp"

namespace quorvel::transform::base_rules {

namespace not_remap::helpers {

using syntax::ast::Node;
using syntax::ast::NodeId;

std::optional<NodeId> following_character_atom(const RuleContext& ctx, NodeId not_node, char32_t code_point,
                                                std::span<const knowledge::BuiltinCharacterSpec* const> characters) {
    const std::optional<NodeId> next = ctx.ast.next_sibling(not_node);
    if (!next) return std::nullopt;
    const Node& candidate = ctx.ast.node(*next);
    if (const auto* ch = candidate.get_if<Node::Char>()) {
        if (ch->value == code_point) return next;
        return std::nullopt;
    }
    const auto* command = candidate.get_if<Node::Command>();
    if (command == nullptr || !command->known || !command->args.empty()) return std::nullopt;
    for (const knowledge::BuiltinCharacterSpec* character : characters)
        if (command->name == character->name)
            return ctx.math.lookup_character(command->name) != nullptr ? next : std::nullopt;
    return std::nullopt;
}

void replace_not_pair(RuleContext& ctx, NodeId not_node, NodeId second, const knowledge::BuiltinCharacterSpec& result) {
    ctx.ast.replace_node(not_node, transform::helpers::bare_command_node(result.name));
    ctx.ast.remove_node(second);
}

}  // namespace not_remap::helpers

namespace {

namespace base = knowledge::builtin::base;
namespace ams = knowledge::builtin::ams;
using knowledge::BuiltinCharacterSpec;

struct PairSpec {
    char32_t code_point;
    std::span<const BuiltinCharacterSpec* const> characters;
    const BuiltinCharacterSpec* result;
};

constexpr std::array<const BuiltinCharacterSpec*, 1> EXISTS{&base::chr_exists};
constexpr std::array<const BuiltinCharacterSpec*, 1> IN{&base::chr_in};
constexpr std::array<const BuiltinCharacterSpec*, 2> RIGHT_ARROWS{&base::chr_to, &base::chr_rightarrow};

// `=` has no character command, so only the Char itself qualifies.
PairSpec pair_spec(NotPair pair) {
    switch (pair) {
        case NotPair::Equals: return {U'=', {}, &base::chr_neq};
        case NotPair::Exists: return {U'\u2203', EXISTS, &ams::chr_nexists};
        case NotPair::In: return {U'\u2208', IN, &base::chr_notin};
        case NotPair::RightArrow: return {U'\u2192', RIGHT_ARROWS, &ams::chr_nrightarrow};
    }
    return {U'=', {}, &base::chr_neq};
}

}  // namespace

RuleResult NotRemapRule::apply(RuleContext& ctx, syntax::ast::NodeId node) const {
    const auto command = ctx.match_command(node, "not");
    if (!command || !command->args.empty()) return RuleOutcome::Skipped;
    const PairSpec spec = pair_spec(pair_);
    const auto second = not_remap::helpers::following_character_atom(ctx, node, spec.code_point, spec.characters);
    if (!second) return RuleOutcome::Skipped;
    not_remap::helpers::replace_not_pair(ctx, node, *second, *spec.result);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
