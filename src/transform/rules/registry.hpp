// The registry of rule objects: every rewrite rule of the system, in the
// registry order that breaks ties in the rule plan.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "transform/rule.hpp"

namespace quorvel::transform {

inline constexpr std::size_t RULE_COUNT = 146;

// Every rule object, in registry order; ALL_RULES[i]->meta() is RULE_METAS[i].
extern const std::array<const RewriteRule*, RULE_COUNT> ALL_RULES;

// The registered rule with that key, or nullptr.
const RewriteRule* find_rule(const RuleKey& key) noexcept;

// The first key, in registry order, whose display form ("base/quad-drop")
// equals `name` byte for byte; nothing otherwise.
std::optional<RuleKey> rule_key_from_name(std::string_view name) noexcept;

}  // namespace quorvel::transform
