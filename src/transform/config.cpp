#include "transform/config.hpp"

#include <algorithm>

namespace quorvel::transform {

FlattenGroupsGuards FlattenGroupsGuards::resolve(bool preserve_rendered_spacing,
                                                 const FlattenGroupsGuardsOverlay* overlay) noexcept {
    FlattenGroupsGuards resolved;
    resolved.ligature_break = preserve_rendered_spacing;
    resolved.raised_primes = preserve_rendered_spacing;
    resolved.atom_spacing = preserve_rendered_spacing;
    for (std::size_t i = 0; i < FLATTEN_GUARD_COUNT; ++i)
        resolved.guards[i] = i < static_cast<std::size_t>(FlattenGuard::CommandContact) || preserve_rendered_spacing;
    if (overlay != nullptr)
        for (std::size_t i = 0; i < FLATTEN_GUARD_COUNT; ++i)
            if (overlay->guards[i].has_value()) resolved.guards[i] = *overlay->guards[i];
    return resolved;
}

BuildConfig BuildConfig::disable_rule(const RuleKey& key) && {
    std::vector<RuleKey>& keys = selection.keys;
    switch (selection.kind) {
        case RuleSelection::Kind::All:
            selection = RuleSelection::except({key});
            break;
        case RuleSelection::Kind::Except:
            if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
            break;
        case RuleSelection::Kind::Only:
            // No caller disables a rule of an Only list; dropping the key is
            // the effect that matches the other two selections.
            std::erase(keys, key);
            break;
    }
    return std::move(*this);
}

BuildConfig BuildConfig::disable_rule(const RuleKey& key) const& {
    return BuildConfig(*this).disable_rule(key);
}

}  // namespace quorvel::transform
