// The errors of running a transform and of preparing one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "transform/plan.hpp"
#include "transform/rule.hpp"

namespace quorvel::transform {

struct RewriteError {
    // A rule's apply failed with a message.
    struct RuleFailed {
        RuleKey key;
        std::string message;
        friend bool operator==(const RuleFailed&, const RuleFailed&) = default;
    };
    struct MissingMetadata {
        RuleKey key;
        std::string name;
        friend bool operator==(const MissingMetadata&, const MissingMetadata&) = default;
    };
    // A consumed target survived the pipeline.
    struct ContractViolated {
        RuleTargetKind kind = RuleTargetKind::Command;
        std::string name;
        std::optional<std::string> node;
        friend bool operator==(const ContractViolated&, const ContractViolated&) = default;
    };
    struct MaxIterations {
        std::size_t limit = 0;
        friend bool operator==(const MaxIterations&, const MaxIterations&) = default;
    };
    // The run passed its work bound (see engine::kWorkPerNode).
    struct TooComplex {
        std::uint64_t limit = 0;
        std::size_t size = 0;  // the tree's size the bound was measured on, in nodes
        friend bool operator==(const TooComplex&, const TooComplex&) = default;
    };

    std::variant<RuleFailed, MissingMetadata, ContractViolated, MaxIterations, TooComplex> value;

    // The fixed point's error for a rule's failure.
    static RewriteError from_rule_error(const RuleKey& key, RuleError error);

    // "{key}: {message}", "{key}: missing metadata for {name}",
    // "rewrite contract violated for {kind} `{name}` (node Some("..."))" (or
    // "(node None)"), "rewrite exceeded max iterations: {limit}",
    // "formula too complex to normalise: ...".
    std::string to_string() const;

    friend bool operator==(const RewriteError&, const RewriteError&) = default;
};

// `Some("name")` with `\`, `"` and control characters escaped, or `None`:
// the form in which a contract violation names its node.
std::string optional_name_debug(const std::optional<std::string>& name);

namespace error {

// The error of one transform run; shows the inner error's text unchanged.
struct TransformError {
    std::variant<PlanBuildError, RewriteError> value;

    std::string to_string() const;
    friend bool operator==(const TransformError&, const TransformError&) = default;
};

// The error of preparing a transform; shows the plan error's text unchanged.
struct TransformBuildError {
    PlanBuildError error;

    std::string to_string() const { return error.to_string(); }
    friend bool operator==(const TransformBuildError&, const TransformBuildError&) = default;
};

}  // namespace error

}  // namespace quorvel::transform
