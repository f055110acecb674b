// The parse context as the rule plan sees it.
#pragma once

#include <span>
#include <string_view>

#include "parse/context.hpp"
#include "transform/plan.hpp"

namespace quorvel::transform {

class ParseContextPlanSource final : public PlanSource {
public:
    explicit ParseContextPlanSource(const parse::ParseContext& context) noexcept : context_(context) {}

    std::span<const knowledge::PackageName> active_packages() const noexcept override {
        return context_.packages();
    }
    bool command_mutated(std::string_view name) const override {
        return context_.mutations().commands.contains(name);
    }
    bool environment_mutated(std::string_view name) const override {
        return context_.mutations().environments.contains(name);
    }
    bool knows_command_name(std::string_view name) const override { return context_.knows_command_name(name); }
    bool knows_env_name(std::string_view name) const override { return context_.knows_env_name(name); }
    bool knows_character_name(std::string_view name) const override {
        return context_.knows_character_name(name);
    }

private:
    const parse::ParseContext& context_;
};

}  // namespace quorvel::transform
