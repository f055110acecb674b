#include "transform/rules/registry.hpp"

#include <utility>

#include "syntax/slot_map.hpp"
#include "transform/rules/ams/operator_alias.hpp"
#include "transform/rules/ams/renames.hpp"
#include "transform/rules/ams/structural_rules.hpp"
#include "transform/rules/base/drop_rules.hpp"
#include "transform/rules/base/fraction_matrix_rules.hpp"
#include "transform/rules/base/renames.hpp"
#include "transform/rules/base/spacing_dimension.hpp"
#include "transform/rules/base/spacing_merge.hpp"
#include "transform/rules/base/structure_rules.hpp"
#include "transform/rules/physics/expansion_rules.hpp"
#include "transform/rules/physics/fence_rules.hpp"
#include "transform/rules/physics/renames.hpp"
#include "transform/rules/registered_rule.hpp"

namespace quorvel::transform {

namespace {

// Calls `f` on every rule object.
template <class F>
constexpr void for_each_rule(F&& f) {
    for (const auto& rule : ams_rules::AMS_RENAMES) f(&rule);
    f(&ams_rules::IMPLIEDBY_TO_LONGLEFTARROW);
    f(&ams_rules::IMPLIES_TO_LONGRIGHTARROW);
    for (const auto& rule : base_rules::BASE_RENAMES) f(&rule);
    for (const auto& rule : base_rules::DIMENSION_SPACING_RULES) f(&rule);
    f(&base_rules::DOUBLE_ENSPACE_TO_QUAD);
    f(&base_rules::DOUBLE_QUAD_TO_QQUAD);
    f(&base_rules::SMALL_SPACER_MERGE_TO_ENSPACE);
    for (const auto& rule : physics_rules::PHYSICS_RENAMES) f(&rule);
    base_rules::for_each_structure_rule(f);
    base_rules::for_each_fraction_matrix_rule(f);
    base_rules::for_each_drop_rule(f);
    ams_rules::for_each_structural_rule(f);
    physics_rules::for_each_expansion_rule(f);
    physics_rules::for_each_fence_rule(f);
}

// Puts each rule object in its registry position; the build fails when a
// position stays empty or is filled twice.
consteval std::array<const RewriteRule*, RULE_COUNT> assemble_rules() {
    std::array<const RewriteRule*, RULE_COUNT> all{};
    std::array<bool, RULE_COUNT> filled{};
    for_each_rule([&](const RewriteRule* rule) {
        bool placed = false;
        for (std::size_t i = 0; i < RULE_COUNT; ++i) {
            if (&rule->meta() != &RULE_METAS[i]) continue;
            if (filled[i]) registry_detail::malformed("rule listed twice");
            all[i] = rule;
            filled[i] = true;
            placed = true;
        }
        if (!placed) registry_detail::malformed("rule metadata is not a registry row");
    });
    for (const bool f : filled)
        if (!f) registry_detail::malformed("a registry row has no rule object");
    return all;
}

}  // namespace

constexpr std::array<const RewriteRule*, RULE_COUNT> ALL_RULES = assemble_rules();

const RewriteRule* find_rule(const RuleKey& key) noexcept {
    for (const RewriteRule* rule : ALL_RULES)
        if (rule->meta().key == key) return rule;
    return nullptr;
}

std::optional<RuleKey> rule_key_from_name(std::string_view name) noexcept {
    for (const RewriteRule* rule : ALL_RULES) {
        const RuleKey& key = rule->meta().key;
        std::string_view package = knowledge::to_string(key.package);
        if (name.size() == package.size() + 1 + key.name.size() && name.starts_with(package) &&
            name[package.size()] == '/' && name.ends_with(key.name))
            return key;
    }
    return std::nullopt;
}

}  // namespace quorvel::transform
