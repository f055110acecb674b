// The rule model: what every rewrite rule declares about itself (its
// metadata) and the interface through which the plan and the fixed point
// use it. The plan, the fixed point and the contract check work from the
// metadata alone, never from a rule's code.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "knowledge/expected.hpp"
#include "knowledge/packages.hpp"

namespace quorvel::syntax::ast {
struct NodeId;
}

namespace quorvel::transform {

// A rule's normalisation level; a profile admits the levels from Authoring up
// to its own.
enum class RuleLevel : std::uint8_t { Authoring = 0, Faithful = 1, Corpus = 2, Equiv = 3 };

// "authoring", "faithful", "corpus", "equiv".
constexpr std::string_view to_string(RuleLevel level) noexcept {
    switch (level) {
        case RuleLevel::Authoring: return "authoring";
        case RuleLevel::Faithful: return "faithful";
        case RuleLevel::Corpus: return "corpus";
        case RuleLevel::Equiv: return "equiv";
    }
    return "equiv";
}

// The bit of a level in a level mask.
constexpr std::uint8_t level_bit(RuleLevel level) noexcept {
    return static_cast<std::uint8_t>(1u << static_cast<unsigned>(level));
}

enum class RuleTargetKind : std::uint8_t { Command = 0, Environment = 1, Character = 2 };

// "command", "environment", "character": the words messages use.
constexpr std::string_view to_string(RuleTargetKind kind) noexcept {
    switch (kind) {
        case RuleTargetKind::Command: return "command";
        case RuleTargetKind::Environment: return "environment";
        case RuleTargetKind::Character: return "character";
    }
    return "character";
}

// The comparable form of a target: equal when kind and name bytes are equal.
struct RuleTargetKey {
    std::string_view name;
    RuleTargetKind kind = RuleTargetKind::Command;

    friend constexpr bool operator==(const RuleTargetKey&, const RuleTargetKey&) = default;
};

// A command, environment or character of the built-in packages that a rule
// is tried on, removes or creates. Only the kind and the record's name are
// ever read, so the target keeps exactly those; the name views static data.
struct RuleTarget {
    RuleTargetKind kind = RuleTargetKind::Command;
    std::string_view name;  // without backslash; " " is the control space

    constexpr RuleTargetKey key() const noexcept { return {name, kind}; }
    friend constexpr bool operator==(const RuleTarget&, const RuleTarget&) = default;
};

// A rule's identity. Names are unique within a package; the registry's keys
// are even unique without their packages.
struct RuleKey {
    std::string_view name;  // kebab case, static
    knowledge::PackageName package = knowledge::PackageName::Base;

    friend constexpr bool operator==(const RuleKey&, const RuleKey&) = default;
};

// "base/over-to-frac".
std::string to_string(const RuleKey& key);
void append_to(std::string& out, const RuleKey& key);

struct RuleMeta {
    RuleKey key;
    std::string_view description;
    RuleLevel level = RuleLevel::Authoring;
    std::uint8_t fidelity = 2;  // 0 to 2; 0 only at Equiv
    std::span<const RuleTarget> triggers;
    std::span<const RuleTarget> consumes;              // must be gone after a run
    std::span<const RuleTarget> conditional_consumes;  // may be removed; orders, never checked
    std::span<const RuleTarget> emits;
    std::span<const knowledge::PackageName> enabled_by_packages;
};

enum class RuleOutcome : std::uint8_t {
    Applied = 0,  // the tree was changed at this node
    Skipped = 1,  // the rule declined the node; the tree is as it was
};

struct RuleError {
    enum class Kind : std::uint8_t { Message = 0, MissingMetadata = 1 };

    Kind kind = Kind::Message;
    std::string text;  // the message, or the missing name

    static RuleError message(std::string text) { return {Kind::Message, std::move(text)}; }
    static RuleError missing_metadata(std::string name) {
        return {Kind::MissingMetadata, std::move(name)};
    }

    friend bool operator==(const RuleError&, const RuleError&) = default;
};

using RuleResult = knowledge::Expected<RuleOutcome, RuleError>;

// The tree and the knowledge bases a rule works on; defined with the rule
// context operations.
struct RuleContext;

// A stateless rewrite rule. Every rule is one static object; the registry and
// plans hold pointers to them and never destroy them, hence no virtual
// destructor (it keeps the objects constant-initialised).
class RewriteRule {
public:
    // The same static record on every call; cheap.
    virtual constexpr const RuleMeta& meta() const noexcept = 0;

    // Tries the rule at `node`, a live node whose kind and name match one of
    // the rule's triggers. A rule that declines or fails leaves the tree as it
    // was.
    virtual RuleResult apply(RuleContext& ctx, syntax::ast::NodeId node) const = 0;

protected:
    constexpr RewriteRule() = default;
    constexpr RewriteRule(const RewriteRule&) = default;
    RewriteRule& operator=(const RewriteRule&) = delete;
    ~RewriteRule() = default;
};

}  // namespace quorvel::transform
