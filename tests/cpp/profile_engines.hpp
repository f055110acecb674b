// One transform engine per profile, built once and shared by the tests that
// check every profile's output.
#pragma once

#include <array>
#include <stdexcept>
#include <string>
#include <vector>

#include "facade/transform_engine.hpp"

namespace quorvel::testing {

inline constexpr std::array<facade::EngineProfile, 4> PROFILES{
    facade::EngineProfile::Authoring, facade::EngineProfile::Faithful, facade::EngineProfile::Corpus,
    facade::EngineProfile::Equiv};
inline constexpr std::array<const char*, 4> PROFILE_NAMES{"authoring", "faithful", "corpus", "equiv"};

// The engine of PROFILES[profile].
inline const facade::TransformEngine& engine(std::size_t profile) {
    static const std::vector<facade::TransformEngine> engines = [] {
        std::vector<facade::TransformEngine> built;
        for (facade::EngineProfile p : PROFILES) {
            facade::TransformEngineBuilder builder;
            builder.profile(p);
            auto made = builder.build();
            if (!made) throw std::runtime_error(std::string(made.error().message()));
            built.push_back(std::move(made).value());
        }
        return built;
    }();
    return engines[profile];
}

}  // namespace quorvel::testing
