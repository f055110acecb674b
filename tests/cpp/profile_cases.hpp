// Tables of a source and its output at every profile: each output is
// compared, and must read back as the tree it was written from and
// normalise to itself.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "profile_engines.hpp"
#include "readback_check.hpp"

namespace quorvel::testing {

struct ProfileCase {
    const char* source;
    // The output at each profile, in the order of PROFILES; null where it
    // is the output of the profile before.
    std::array<const char*, 4> outputs;
};

inline void expect_outputs_at_every_profile(std::span<const ProfileCase> cases) {
    for (const ProfileCase& c : cases) {
        SCOPED_TRACE(c.source);
        const char* expected = nullptr;
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            if (c.outputs[p] != nullptr) expected = c.outputs[p];
            const auto output = engine(p).normalize_with(c.source, engine(p).default_normalize_config());
            ASSERT_TRUE(output) << output.error().message();
            EXPECT_EQ(*output, expected);
            EXPECT_EQ(readback_fault(engine(p), c.source), "");
        }
    }
}

// `place` with its `@` replaced by `inner`: a made formula put in a list, a
// group, a script or an argument.
inline std::string in_place(std::string_view place, std::string_view inner) {
    const std::size_t at = place.find('@');
    return std::string(place.substr(0, at)) + std::string(inner) + std::string(place.substr(at + 1));
}

}  // namespace quorvel::testing
