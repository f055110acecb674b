// Dimension arguments: a primitive (`\kern`, `\mskip`, `\above`) reads its
// dimension bare, where braces would leave it no number; a macro
// (`\hspace`, `\mspace`, `\genfrac`) takes it in braces. Every output must
// read back as the same tree and settle in one round at every profile.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>

#include "profile_cases.hpp"
#include "profile_engines.hpp"
#include "readback_check.hpp"
#include "seeded_picker.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

struct DimensionCase {
    const char* source;
    // By profile, in the order of PROFILES; nullptr: as at faithful.
    std::array<const char*, 4> expected;
};

constexpr const char* SAME = nullptr;

// Expected texts: {authoring, faithful, corpus, equiv}.
const DimensionCase CASES[] = {
    {"\\kern 0pt x", {SAME, "\\kern 0pt x", SAME, SAME}},
    {"\\kern{0pt} x", {SAME, "\\kern 0pt x", SAME, SAME}},
    // A digit after the unit starts no other number.
    {"\\kern1pt2", {SAME, "\\kern 1pt 2", SAME, SAME}},
    {"\\text{a\\kern 1pt b}", {SAME, "\\text {a\\kern 1pt b}", SAME, SAME}},
    {"\\mkern-2mu x", {"\\mkern -2mu x", "\\mspace {-2mu} x", SAME, SAME}},
    {"\\mskip 3mu x", {"\\mskip 3mu x", "\\mspace {3mu} x", SAME, SAME}},
    // An empty group keeps letters from reading as the glue's stretch.
    {"a\\mskip 2mu{}plus",
     {"a \\mskip 2mu { } p l u s", "a \\mspace {2mu} { } p l u s", "a \\mspace {2mu} p l u s",
      "a \\mspace {2mu} p l u s"}},
    {"\\hspace{1em} x", {SAME, "\\hspace {1em} x", SAME, SAME}},
    {"a \\above 1pt b", {SAME, "\\genfrac . . {1pt} {} { a } { b }", SAME, SAME}},
};

TEST(DimensionArgs, WrittenAsTeXReadsThemAndReadBackInOneRound) {
    for (const DimensionCase& c : CASES) {
        SCOPED_TRACE(c.source);
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            const char* expected = c.expected[p] != nullptr ? c.expected[p] : c.expected[1];
            const auto output = engine(p).normalize_with(c.source, engine(p).default_normalize_config());
            ASSERT_TRUE(output) << PROFILE_NAMES[p];
            EXPECT_EQ(*output, expected) << PROFILE_NAMES[p];
            EXPECT_EQ(testing::readback_fault(engine(p), c.source), "") << PROFILE_NAMES[p];
        }
    }
}

// Made formulas: every primitive and macro with a dimension, before items
// that could extend it, in a list, a group, a script, text.
constexpr std::array<std::string_view, 8> SPACES{"\\kern 1pt",  "\\kern{-.5em}", "\\mkern 2mu", "\\mskip3mu",
                                                 "\\hskip 1pt", "\\hspace{1em}", "\\mspace{1mu}", "\\kern0pt"};
constexpr std::array<std::string_view, 8> NEIGHBOURS{"x", "2", ".5", "{}", "\\alpha", "[a]", "*", ""};
constexpr std::array<std::string_view, 5> PLACES{"@", "{@}", "x^{@}", "\\frac{@}{b}", "\\text{$@$}"};

TEST(DimensionArgs, MadeFormulasReadBackAndSettle) {
    testing::SeededPicker picker(0x64696d73u);
    std::size_t checked = 0;
    for (int n = 0; n < 300; ++n) {
        std::string inner = std::string(picker.choose(NEIGHBOURS)) + std::string(picker.choose(SPACES)) +
                            std::string(picker.choose(NEIGHBOURS)) + " b";
        inner = testing::in_place(picker.choose(PLACES), inner);
        if (testing::readback_fault(engine(1), inner) == "the source does not parse clean") continue;
        ++checked;
        for (std::size_t p = 0; p < PROFILES.size(); ++p)
            EXPECT_EQ(testing::readback_fault(engine(p), inner), "") << PROFILE_NAMES[p] << ": " << inner;
    }
    EXPECT_GT(checked, 200u);
}

}  // namespace
}  // namespace quorvel
