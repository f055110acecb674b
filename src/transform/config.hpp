// What a transform is built from and run with: the rule selection and level
// mask that choose the plan, and the phase settings of a run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "transform/rule.hpp"

namespace quorvel::transform {

// Which registered rules are candidates for a plan.
struct RuleSelection {
    enum class Kind : std::uint8_t {
        All = 0,     // every rule, none explicitly selected
        Only = 1,    // exactly the listed rules, each explicitly selected
        Except = 2,  // every rule but the listed ones
    };

    Kind kind = Kind::All;
    std::vector<RuleKey> keys;  // Only and Except

    static RuleSelection all() { return {}; }
    static RuleSelection only(std::vector<RuleKey> keys) { return {Kind::Only, std::move(keys)}; }
    static RuleSelection except(std::vector<RuleKey> keys) { return {Kind::Except, std::move(keys)}; }

    friend bool operator==(const RuleSelection&, const RuleSelection&) = default;
};

// The phase settings of one pipeline run; a plain value, copied freely.
struct TransformOptions {
    struct Rewrite {
        bool enabled = true;  // the fixed point and the contract check
        std::size_t max_iterations = 100;
        friend bool operator==(const Rewrite&, const Rewrite&) = default;
    };
    struct FlattenGroups {
        bool enabled = true;
        // Default of the spacing-related guards, and whether text groups that
        // keep a ligature apart stay. The engine's own options set it from
        // the profile; this default is the configuration classes'.
        bool preserve_rendered_spacing = true;
        friend bool operator==(const FlattenGroups&, const FlattenGroups&) = default;
    };
    struct LowerAttributes {
        bool enabled = true;  // runs twice: before and after the rewrite
        friend bool operator==(const LowerAttributes&, const LowerAttributes&) = default;
    };
    struct FinalizeAst {
        bool enabled = true;
        friend bool operator==(const FinalizeAst&, const FinalizeAst&) = default;
    };

    Rewrite rewrite;
    FlattenGroups flatten_groups;
    LowerAttributes lower_attributes;
    FinalizeAst finalize_ast;

    friend bool operator==(const TransformOptions&, const TransformOptions&) = default;
};

// The eleven group-flattening guards, in this order.
enum class FlattenGuard : std::uint8_t {
    DeclarativeScope = 0,
    ScriptBase = 1,
    EnvBody = 2,
    InfixScope = 3,
    CommandContact = 4,
    CommandLikeIncludesScriptedBase = 5,
    CommandArgument = 6,
    EmptyGroup = 7,
    LoneAtomSpacingChar = 8,
    LeadingAtomSpacingChar = 9,
    DelimitedPair = 10,
};

inline constexpr std::size_t FLATTEN_GUARD_COUNT = 11;

// The configuration keys of the guards, in guard order.
inline constexpr std::array<std::string_view, FLATTEN_GUARD_COUNT> FLATTEN_GUARD_NAMES{
    "declarative_scope",      "script_base",
    "env_body",               "infix_scope",
    "command_contact",        "command_like_includes_scripted_base",
    "command_argument",       "empty_group",
    "lone_atom_spacing_char", "leading_atom_spacing_char",
    "delimited_pair",
};

// Per-run replacements of guard defaults; an absent entry keeps the default.
struct FlattenGroupsGuardsOverlay {
    std::array<std::optional<bool>, FLATTEN_GUARD_COUNT> guards{};

    friend bool operator==(const FlattenGroupsGuardsOverlay&, const FlattenGroupsGuardsOverlay&) = default;
};

// The resolved guard flags that group flattening obeys.
struct FlattenGroupsGuards {
    std::array<bool, FLATTEN_GUARD_COUNT> guards{};
    // Not a guard of its own: while rendering is preserved, a text group
    // stays when taking it out would join two characters into a ligature,
    // such as two hyphens into an en dash.
    bool ligature_break = false;
    // Likewise, a brace group holding a lone prime as a superscript stays:
    // `x^{'}` raises its prime once more than `x'` does.
    bool raised_primes = false;
    // Likewise, attribute lowering keeps the braces around a style switch,
    // and the atoms at the edges of a font run, where an atom's class sets
    // the spacing beside it.
    bool atom_spacing = false;

    bool operator[](FlattenGuard guard) const noexcept {
        return guards[static_cast<std::size_t>(guard)];
    }

    // Guards 0 to 3 are always on by default, 4 to 10 follow
    // `preserve_rendered_spacing`; then each present overlay entry wins.
    // `ligature_break`, `raised_primes` and `atom_spacing` follow
    // `preserve_rendered_spacing` alone.
    static FlattenGroupsGuards resolve(bool preserve_rendered_spacing,
                                       const FlattenGroupsGuardsOverlay* overlay) noexcept;

    friend bool operator==(const FlattenGroupsGuards&, const FlattenGroupsGuards&) = default;
};

// What a transform context is built from.
struct BuildConfig {
    RuleSelection selection;
    TransformOptions options;
    std::uint8_t level_mask = 0x0F;  // bit L admits RuleLevel L

    // Excludes one rule: All becomes Except [key]; Except gains the key unless
    // an equal key is listed; Only loses every equal key.
    [[nodiscard]] BuildConfig disable_rule(const RuleKey& key) &&;
    [[nodiscard]] BuildConfig disable_rule(const RuleKey& key) const&;

    friend bool operator==(const BuildConfig&, const BuildConfig&) = default;
};

}  // namespace quorvel::transform
