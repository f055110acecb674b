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

// Stands in for a rule whose behaviour is not built yet: it plans like any
// other rule but fails when the fixed point offers it a node.
class PendingRule final : public RegisteredRule {
public:
    explicit constexpr PendingRule(std::size_t index) noexcept : RegisteredRule(index) {}

    RuleResult apply(RuleContext&, syntax::ast::NodeId) const override {
        return rule_not_available(meta().key);
    }
};

template <std::size_t... I>
constexpr std::array<PendingRule, RULE_COUNT> make_pending(std::index_sequence<I...>) {
    return {PendingRule(I)...};
}

constexpr std::array<PendingRule, RULE_COUNT> PENDING_RULES =
    make_pending(std::make_index_sequence<RULE_COUNT>{});

// Calls `f` on every rule object whose behaviour is built.
template <class F>
constexpr void for_each_built_rule(F&& f) {
    for (const auto& rule : ams_rules::AMS_RENAMES) f(&rule);
    f(&ams_rules::IMPLIEDBY_TO_LONGLEFTARROW);
    f(&ams_rules::IMPLIES_TO_LONGRIGHTARROW);
    for (const auto& rule : base_rules::BASE_RENAMES) f(&rule);
    for (const auto& rule : base_rules::DIMENSION_SPACING_RULES) f(&rule);
    for (const auto& rule : base_rules::DOUBLE_SPACER_MERGE_RULES) f(&rule);
    f(&base_rules::SMALL_SPACER_MERGE_TO_ENSPACE);
    for (const auto& rule : physics_rules::PHYSICS_RENAMES) f(&rule);
    base_rules::for_each_structure_rule(f);
    base_rules::for_each_fraction_matrix_rule(f);
    base_rules::for_each_drop_rule(f);
    ams_rules::for_each_structural_rule(f);
    physics_rules::for_each_expansion_rule(f);
    physics_rules::for_each_fence_rule(f);
}

consteval std::size_t count_built_rules() {
    std::size_t n = 0;
    for_each_built_rule([&](const RewriteRule*) { ++n; });
    return n;
}

// The rule objects whose behaviour is built. Each lands in its registry
// position; every other position keeps its pending stand-in.
constexpr std::size_t BUILT_RULE_COUNT = count_built_rules();

consteval std::array<const RewriteRule*, BUILT_RULE_COUNT> built_rules() {
    std::array<const RewriteRule*, BUILT_RULE_COUNT> out{};
    std::size_t next = 0;
    for_each_built_rule([&](const RewriteRule* rule) { out[next++] = rule; });
    return out;
}

constexpr std::array<const RewriteRule*, BUILT_RULE_COUNT> BUILT_RULES = built_rules();

consteval std::array<const RewriteRule*, RULE_COUNT> assemble_rules() {
    std::array<const RewriteRule*, RULE_COUNT> all{};
    for (std::size_t i = 0; i < RULE_COUNT; ++i) all[i] = &PENDING_RULES[i];
    for (const RewriteRule* rule : BUILT_RULES) {
        bool placed = false;
        for (std::size_t i = 0; i < RULE_COUNT; ++i) {
            if (&rule->meta() != &RULE_METAS[i]) continue;
            if (all[i] != &PENDING_RULES[i]) registry_detail::malformed("rule listed twice");
            all[i] = rule;
            placed = true;
        }
        if (!placed) registry_detail::malformed("rule metadata is not a registry row");
    }
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

bool rule_is_built(const RewriteRule* rule) noexcept { return dynamic_cast<const PendingRule*>(rule) == nullptr; }

RuleError rule_not_available(const RuleKey& key) {
    std::string text = "transform rule ";
    append_to(text, key);
    text += " is not yet available";
    return RuleError::message(std::move(text));
}

}  // namespace quorvel::transform
