// A removal never hands the token after it to an open slot of the command or
// environment before it: the group that parts them stays. At every profile
// the output parses clean, normalises to itself, and reads back as the tree
// the transform made.
#include <gtest/gtest.h>

#include <string>

#include "facade/transform_engine.hpp"
#include "profile_engines.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

// The tree a text reads as, written compactly: two texts that read as the
// same tree write alike.
std::string tree_text(const facade::TransformEngine& e, const std::string& text, std::string& fault) {
    const auto parsed = e.parser().parse_with(text, e.default_normalize_config().parse);
    if (!parsed.document) {
        fault = "no document";
        return {};
    }
    if (!parsed.diagnostics.empty()) fault = parsed.diagnostics[0].message;
    auto written = parsed.document->to_latex();
    return written ? *written : std::string();
}

struct Exposure {
    const char* source;
    const char* parted;  // a part of the output at authoring: what keeps the token off the slot
};

const Exposure EXPOSURES[] = {
    // A group whose last member is a command with open slots.
    {"{2\\dv{f}}{x}", "{ 2 \\dv { f } }"},
    {"{a \\pdv{f}{x}}{y}", "{ a \\pdv { f } { x } }"},
    {"{a\\braket{b}}{c}", "{ a \\braket { b } }"},
    {"{x\\qty}|a|", "\\qty }"},
    {"{\\expval{}}{xx}^x", "\\expval { } }"},
    // The token a group starts with, after a command with open slots.
    {"\\qty{(}x)", "\\qty"},
    {"\\sqrt{}{[}a]", "\\sqrt"},
};

TEST(Exposure, RemovalsKeepTheNextTokenOffAnOpenSlot) {
    for (const Exposure& c : EXPOSURES) {
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(std::string(PROFILE_NAMES[p]) + ": " + c.source);
            const auto& e = engine(p);
            auto output = e.normalize_with(c.source, e.default_normalize_config());
            ASSERT_TRUE(output.has_value());
            // The other profiles expand these commands first.
            if (p == 0) EXPECT_NE(output->find(c.parted), std::string::npos) << *output;
            std::string fault;
            const std::string again = tree_text(e, *output, fault);
            EXPECT_EQ(fault, "") << *output;
            EXPECT_EQ(again, *output);
            auto second = e.normalize_with(*output, e.default_normalize_config());
            ASSERT_TRUE(second.has_value());
            EXPECT_EQ(*second, *output) << "not settled";
        }
    }
}

}  // namespace
}  // namespace quorvel
