// The contract check: the targets the planned rules consume must be gone
// from the finished tree.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parse/context.hpp"
#include "syntax/ast.hpp"
#include "transform/name_index.hpp"
#include "transform/rule.hpp"

namespace quorvel::transform::contract {

struct ContractViolation {
    std::optional<std::string> node;  // the offending node's name
    std::string_view name;            // the eliminated target's name
    RuleTargetKind kind = RuleTargetKind::Command;

    friend bool operator==(const ContractViolation&, const ContractViolation&) = default;
};

// Every leftover target in the tree under the root: nodes in pre-order, and
// for each node the matching targets in list order. A name the parse context
// does not know (one the caller removed) is no violation. Read-only.
std::vector<ContractViolation> collect_eliminated_violations(const syntax::Ast& ast,
                                                             const parse::ParseContext& context,
                                                             std::span<const RuleTargetKey> eliminated);

// The same with a prepared index of the targets by name (positions in
// `eliminated`), which spares the per-node scan of the whole list.
std::vector<ContractViolation> collect_eliminated_violations(const syntax::Ast& ast,
                                                             const parse::ParseContext& context,
                                                             std::span<const RuleTargetKey> eliminated,
                                                             const NameIndex& index);

}  // namespace quorvel::transform::contract
