// Plan sources for the transform tests: a configurable fake, and one that
// answers name questions from real knowledge bases.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "knowledge/knowledge_base.hpp"
#include "knowledge/packages.hpp"
#include "transform/plan.hpp"

namespace quorvel::transform::testing {

inline const std::vector<knowledge::PackageName> ALL_SEVEN_PACKAGES{
    knowledge::PackageName::Base,       knowledge::PackageName::Ams,    knowledge::PackageName::Braket,
    knowledge::PackageName::Physics,    knowledge::PackageName::Textmacros,
    knowledge::PackageName::Bboldx,     knowledge::PackageName::Boldsymbol,
};

inline const std::vector<knowledge::PackageName> DEFAULT_PACKAGES{
    knowledge::PackageName::Base,       knowledge::PackageName::Ams,    knowledge::PackageName::Physics,
    knowledge::PackageName::Textmacros, knowledge::PackageName::Bboldx, knowledge::PackageName::Boldsymbol,
};

// Knows every name except those listed as unknown.
class FakePlanSource final : public PlanSource {
public:
    std::vector<knowledge::PackageName> packages = ALL_SEVEN_PACKAGES;
    std::set<std::string, std::less<>> mutated_commands;
    std::set<std::string, std::less<>> mutated_environments;
    std::set<std::string, std::less<>> unknown_names;

    std::span<const knowledge::PackageName> active_packages() const noexcept override { return packages; }
    bool command_mutated(std::string_view name) const override { return mutated_commands.contains(name); }
    bool environment_mutated(std::string_view name) const override {
        return mutated_environments.contains(name);
    }
    bool knows_command_name(std::string_view name) const override { return !unknown_names.contains(name); }
    bool knows_env_name(std::string_view name) const override { return !unknown_names.contains(name); }
    bool knows_character_name(std::string_view name) const override { return !unknown_names.contains(name); }
};

// Asks a math and a text knowledge base built from the packages, math first.
class KnowledgePlanSource final : public PlanSource {
public:
    explicit KnowledgePlanSource(std::vector<knowledge::PackageName> packages)
        : packages_(std::move(packages)),
          math_(build(packages_, syntax::ContentMode::Math)),
          text_(build(packages_, syntax::ContentMode::Text)) {}

    std::span<const knowledge::PackageName> active_packages() const noexcept override { return packages_; }
    bool command_mutated(std::string_view) const override { return false; }
    bool environment_mutated(std::string_view) const override { return false; }
    bool knows_command_name(std::string_view name) const override {
        return math_.lookup_command(name) != nullptr || text_.lookup_command(name) != nullptr;
    }
    bool knows_env_name(std::string_view name) const override {
        return math_.lookup_env(name) != nullptr || text_.lookup_env(name) != nullptr;
    }
    bool knows_character_name(std::string_view name) const override {
        return math_.lookup_character(name) != nullptr || text_.lookup_character(name) != nullptr;
    }

private:
    static knowledge::KnowledgeBase build(const std::vector<knowledge::PackageName>& packages,
                                          syntax::ContentMode mode) {
        std::vector<std::string_view> names;
        for (knowledge::PackageName p : packages) names.push_back(knowledge::to_string(p));
        auto kb = knowledge::KnowledgeBase::try_build_from_packages_for_mode(
            std::span<const std::string_view>(names), mode);
        return std::move(kb).value();
    }

    std::vector<knowledge::PackageName> packages_;
    knowledge::KnowledgeBase math_;
    knowledge::KnowledgeBase text_;
};

}  // namespace quorvel::transform::testing
