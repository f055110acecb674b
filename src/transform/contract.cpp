#include "transform/contract.hpp"

#include <cstdint>

#include "transform/buildrel.hpp"
#include "transform/kept_infix.hpp"
#include "transform/preorder.hpp"

namespace quorvel::transform::contract {

namespace {

using syntax::NodeKind;
using syntax::ast::Node;
using syntax::ast::NodeId;

// Whether a node of that kind and name is a leftover of the target.
bool violates(const RuleTargetKey& target, NodeKind kind, std::string_view name,
              const parse::ParseContext& context) {
    if (name != target.name) return false;
    switch (target.kind) {
        case RuleTargetKind::Command:
            return kind != NodeKind::Environment && context.knows_command_name(name);
        case RuleTargetKind::Environment:
            return kind == NodeKind::Environment && context.knows_env_name(name);
        case RuleTargetKind::Character:
            // Characters written as control sequences.
            return kind != NodeKind::Environment && context.knows_character_name(name);
    }
    return false;
}

template <class Matches>
std::vector<ContractViolation> collect(const syntax::Ast& ast, const parse::ParseContext& context,
                                       std::span<const RuleTargetKey> eliminated, Matches&& matches) {
    std::vector<ContractViolation> out;
    if (eliminated.empty()) return out;
    for_each_preorder(ast, ast.root(), [&](NodeId id, const Node& node) {
        const NodeKind kind = node.kind();
        if (!syntax::is_command_like(kind)) return;
        // The `\over` of a `\buildrel` ends that macro's argument: no fraction,
        // whatever the rules that turn fractions do with their own.
        if (kind == NodeKind::Infix && (buildrel::closed_by(ast, id) || kept_infix::under_bold_symbol(ast, id)))
            return;
        const std::string_view name = *node.name();
        matches(name, [&](const RuleTargetKey& target) {
            if (violates(target, kind, name, context)) out.push_back({std::string(name), target.name, target.kind});
        });
    });
    return out;
}

}  // namespace

std::vector<ContractViolation> collect_eliminated_violations(const syntax::Ast& ast,
                                                             const parse::ParseContext& context,
                                                             std::span<const RuleTargetKey> eliminated) {
    return collect(ast, context, eliminated, [&](std::string_view, auto&& check) {
        for (const RuleTargetKey& target : eliminated) check(target);
    });
}

std::vector<ContractViolation> collect_eliminated_violations(const syntax::Ast& ast,
                                                             const parse::ParseContext& context,
                                                             std::span<const RuleTargetKey> eliminated,
                                                             const NameIndex& index) {
    return collect(ast, context, eliminated, [&](std::string_view name, auto&& check) {
        for (std::uint32_t position : index.find(name))
            if (position < eliminated.size()) check(eliminated[position]);
    });
}

}  // namespace quorvel::transform::contract
