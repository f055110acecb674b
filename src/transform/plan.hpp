// The rule plan: which registered rules a transform runs, in which order, and
// which targets the contract check must find gone afterwards.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "knowledge/expected.hpp"
#include "knowledge/packages.hpp"
#include "transform/config.hpp"
#include "transform/name_index.hpp"
#include "transform/rule.hpp"

namespace quorvel::transform {

// What building a plan reads of a parse context: its active packages, the
// command and environment names the caller added or removed, and which names
// its knowledge bases (math, then text) know.
class PlanSource {
public:
    // In the managed import order.
    virtual std::span<const knowledge::PackageName> active_packages() const noexcept = 0;
    // Whether the name is among the commands / environments the caller
    // added or removed.
    virtual bool command_mutated(std::string_view name) const = 0;
    virtual bool environment_mutated(std::string_view name) const = 0;
    virtual bool knows_command_name(std::string_view name) const = 0;
    virtual bool knows_env_name(std::string_view name) const = 0;
    virtual bool knows_character_name(std::string_view name) const = 0;

protected:
    ~PlanSource() = default;
};

// Why an explicitly selected rule cannot run under a parse context.
struct RuleAvailabilityFailure {
    struct NotEnabled {
        std::vector<knowledge::PackageName> enabled_by_packages;
        std::vector<knowledge::PackageName> active_packages;
        friend bool operator==(const NotEnabled&, const NotEnabled&) = default;
    };
    struct ProducedUnavailable {
        RuleTargetKind kind = RuleTargetKind::Command;
        std::string_view name;
        std::vector<knowledge::PackageName> active_packages;
        friend bool operator==(const ProducedUnavailable&, const ProducedUnavailable&) = default;
    };

    std::variant<NotEnabled, ProducedUnavailable> value;

    // "enabled_by_packages {} does not intersect active packages {}" or
    // "produced {} `{}` is unavailable in active packages {}".
    std::string to_string() const;

    friend bool operator==(const RuleAvailabilityFailure&, const RuleAvailabilityFailure&) = default;
};

struct PlanBuildError {
    struct Unavailable {
        RuleKey key;
        RuleAvailabilityFailure failure;
        friend bool operator==(const Unavailable&, const Unavailable&) = default;
    };
    struct InvalidMetadata {
        RuleKey key;
        std::string_view reason;
        friend bool operator==(const InvalidMetadata&, const InvalidMetadata&) = default;
    };
    // The cycle's keys, ending with its first key again.
    struct Cycle {
        std::vector<RuleKey> keys;
        friend bool operator==(const Cycle&, const Cycle&) = default;
    };

    std::variant<Unavailable, InvalidMetadata, Cycle> value;

    // "selected transform rule {} is unavailable: {}",
    // "transform rule {} has invalid metadata: {}" or
    // "transform dependency cycle detected: {}" (keys joined by " -> ").
    std::string to_string() const;

    friend bool operator==(const PlanBuildError&, const PlanBuildError&) = default;
};

// The reasons of PlanBuildError::InvalidMetadata.
inline constexpr std::string_view TRIGGERS_EMPTY_REASON = "triggers must be non-empty";
inline constexpr std::string_view FIDELITY_FLOOR_REASON = "fidelity must not be below the rule level floor";
inline constexpr std::string_view TRIGGERS_NOT_CONSUMED_REASON = "triggers must be a subset of consumes";

struct Plan {
    // In dependency order: a rule emitting a target runs before the rules
    // consuming it; registry order breaks ties.
    std::vector<const RewriteRule*> rules;
    // The distinct `consumes` targets of the planned rules, first seen first.
    std::vector<RuleTargetKey> eliminated;

    // Derived lookups, filled by `build` (or `index` for a plan assembled by
    // hand): the positions in `rules` of the rules having a trigger of a
    // name, and the positions in `eliminated` of the targets of a name.
    NameIndex trigger_index;
    NameIndex eliminated_index;
    // Whether attribute lowering can write a command or declarative whose
    // name some target in `eliminated` has (filled by `index`).
    bool lowering_emits_eliminated = true;
    // Whether the output must render as the source: no corpus or equiv
    // level was admitted. Rules that would change rendering ask it.
    bool preserves_rendering = true;

    // Rebuilds both lookups from `rules` and `eliminated`.
    void index();
    // Whether the lookups describe the current lists.
    bool indexed() const noexcept {
        return indexed_rules_ == rules.size() && indexed_targets_ == eliminated.size();
    }

    // Plans over the rule registry.
    static knowledge::Expected<Plan, PlanBuildError> build(const BuildConfig& config,
                                                           const PlanSource& source);

    // Plans over the given rules, taken as the registry (in its order).
    static knowledge::Expected<Plan, PlanBuildError> build(const BuildConfig& config,
                                                           const PlanSource& source,
                                                           std::span<const RewriteRule* const> registry);

private:
    std::size_t indexed_rules_ = 0;
    std::size_t indexed_targets_ = 0;
};

// ["base", "ams"]: each package's name quoted, comma-separated, in brackets.
std::string package_names_for_message(std::span<const knowledge::PackageName> packages);

}  // namespace quorvel::transform
