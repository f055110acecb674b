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

// A size command keeps its delimiter where, bare, it would fill an open slot
// of what stands before it; elsewhere it goes.
struct SizeDrop {
    const char* source;
    const char* equiv;  // normalised at equiv
};

const SizeDrop SIZE_DROPS[] = {
    {"\\qty\\big( x )", "\\qty \\big ( x )"},
    {"\\sin\\bigl[ C", "\\sin \\big [ C"},
    {"\\begin{aligned}\\bigl[ a \\bigr] = b\\end{aligned}", "\\begin {aligned} \\big [ a ] = b \\end {aligned}"},
    {"x\\big( y", "x ( y"},
    {"\\begin{aligned} a \\bigl[ b\\end{aligned}", "\\begin {aligned} a [ b \\end {aligned}"},
};

TEST(Exposure, RemovalsKeepTheNextTokenOffAnOpenSlot) {
    for (const Exposure& c : EXPOSURES) {
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(std::string(PROFILE_NAMES[p]) + ": " + c.source);
            const auto& e = engine(p);
            auto output = e.normalize_with(c.source, e.default_normalize_config());
            ASSERT_TRUE(output.has_value());
            // The other profiles expand these commands first.
            if (p == 0) {
                EXPECT_NE(output->find(c.parted), std::string::npos) << *output;
            }
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

TEST(Exposure, SizeCommandsStayWhereTheirDelimiterWouldFillASlot) {
    const auto& e = engine(3);
    for (const SizeDrop& c : SIZE_DROPS) {
        SCOPED_TRACE(c.source);
        auto output = e.normalize_with(c.source, e.default_normalize_config());
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(*output, c.equiv);
        std::string fault;
        EXPECT_EQ(tree_text(e, *output, fault), *output);
        EXPECT_EQ(fault, "");
        auto second = e.normalize_with(*output, e.default_normalize_config());
        ASSERT_TRUE(second.has_value());
        EXPECT_EQ(*second, *output) << "not settled";
    }
}

// Outputs that once settled only in a second normalisation.
const char* const SETTLE_IN_ONE_ROUND[] = {
    "\\mathbf{a}{}\\mathbf{b}", "{\\cal A}{}\\cal B", "\\mathbf{x}{}\\vb{x}", "\\hbox{\\textrm{a}{}\\textrm{x}}",
    "{2\\dv{f}}{x}", "\\qty\\big( x )",
    // A derivative's variable that is a script or primes takes the order in braces.
    "\\dv[2]'", "\\dv[]'", "\\dv[2]^{3}", "\\pdv[2]{f}{'}",
};

TEST(Exposure, OutputsSettleInOneRound) {
    for (const char* source : SETTLE_IN_ONE_ROUND) {
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(std::string(PROFILE_NAMES[p]) + ": " + source);
            const auto& e = engine(p);
            auto output = e.normalize_with(source, e.default_normalize_config());
            ASSERT_TRUE(output.has_value());
            std::string fault;
            EXPECT_EQ(tree_text(e, *output, fault), *output);
            EXPECT_EQ(fault, "");
            auto second = e.normalize_with(*output, e.default_normalize_config());
            ASSERT_TRUE(second.has_value());
            EXPECT_EQ(*second, *output);
        }
    }
}

}  // namespace
}  // namespace quorvel
