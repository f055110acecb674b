// Whether an item's text would end a bracket argument around it is worked
// out once per node as flattening walks the tree: a nesting below a bracket
// argument costs work in proportion to its size, and the items that would
// end the argument still get their braces.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "facade/transform_engine.hpp"
#include "profile_engines.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

struct Nesting {
    const char* prefix;
    const char* open;
    const char* middle;
    const char* close;
    const char* suffix;
};

std::string nested(const Nesting& n, std::size_t depth) {
    std::string out = n.prefix;
    for (std::size_t i = 0; i < depth; ++i) out += n.open;
    out += n.middle;
    for (std::size_t i = 0; i < depth; ++i) out += n.close;
    return out + n.suffix;
}

// Chains of groups below a bracket argument, each level a group flattening
// decides on.
const Nesting NESTINGS[] = {
    {"\\sqrt[", "\\qty(", "x", ")", "]{y}"},
    {"\\xrightarrow[", "\\mqty(", "x", ")", "]{y}"},
    {"\\sqrt[\\left(", "\\qty(", "x", ")", "\\right)]{y}"},
    {"\\sqrt[", "\\qty(\\left(", "x", "\\right))", "]{y}"},
    {"\\sqrt[", "{\\qty(", "x", ")}", "]{y}"},
    {"\\sqrt[", "\\qty({", "]", "})", "]{y}"},
};

TEST(BracketClosers, WorkGrowsLinearlyBelowABracketArgument) {
    constexpr std::size_t kDepth = 120;
    for (const Nesting& n : NESTINGS) {
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            const auto& e = engine(p);
            auto config = e.default_normalize_config();
            config.parse.max_group_depth = 4096;
            auto work = [&](std::size_t depth) {
                const std::string source = nested(n, depth);
                return transform::testing::work_of([&] { (void)e.normalize_with(source, config); });
            };
            const std::uint64_t small = work(kDepth);
            const std::uint64_t large = work(8 * kDepth);
            EXPECT_LE(large, 12 * small) << PROFILE_NAMES[p] << ": " << nested(n, 2) << ": " << small << " -> "
                                         << large;
        }
    }
}

}  // namespace
}  // namespace quorvel
