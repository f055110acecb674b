// Line breaks: `\break` and `\newline` break the line in the formula's own
// list only, where they become `\\`; in a cell, a group or an argument
// `\break` does nothing and goes and `\newline` leaves an empty group. A
// row end is never read as a script base, so scripts on a break, or on a row
// end, stand on an empty group after it.
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

struct BreakCase {
    const char* source;
    // By profile, in the order of PROFILES; nullptr: as at faithful.
    std::array<const char*, 4> expected;
};

class LineBreaks : public ::testing::TestWithParam<BreakCase> {};

TEST_P(LineBreaks, WrittenWhereTeXBreaksAndReadBackInOneRound) {
    const BreakCase& c = GetParam();
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        const char* expected = c.expected[p] != nullptr ? c.expected[p] : c.expected[1];
        const auto output = engine(p).normalize_with(c.source, engine(p).default_normalize_config());
        ASSERT_TRUE(output) << PROFILE_NAMES[p];
        EXPECT_EQ(*output, expected) << PROFILE_NAMES[p];
        EXPECT_EQ(testing::readback_fault(engine(p), c.source), "") << PROFILE_NAMES[p];
    }
}

constexpr const char* SAME = nullptr;

// Expected texts: {authoring, faithful, corpus, equiv}.
INSTANTIATE_TEST_SUITE_P(
    Places, LineBreaks,
    ::testing::Values(
        BreakCase{"a \\newline b", {SAME, "a \\\\ b", SAME, SAME}},
        BreakCase{"a\\break^{2} b", {SAME, "a \\\\ { } ^ { 2 } b", SAME, SAME}},
        // Bare, `\\` would take the `[` after it.
        BreakCase{"\\sin\\break[a]", {SAME, "\\sin \\\\[0pt] [ a ]", SAME, SAME}},
        // A font switch goes on after the break; in braces the break goes.
        BreakCase{"\\bf a \\break b", {SAME, "\\mathbf { a } \\\\ \\mathbf { b }", SAME, SAME}},
        // A script on a break goes on the next line, in the running font.
        BreakCase{"\\bf a \\break^2 b", {SAME, "\\mathbf { a } \\\\ \\mathbf { { } ^ { 2 } b }", SAME, SAME}},
        BreakCase{"\\bf a \\newline_x b", {SAME, "\\mathbf { a } \\\\ \\mathbf { { } _ { x } b }", SAME, SAME}},
        // Only in an alignment does a row end start a cell in no font.
        BreakCase{"\\rm a \\\\ b", {SAME, "\\mathrm { a } \\\\ \\mathrm { b }", SAME, SAME}},
        BreakCase{"\\begin{matrix}\\rm a \\\\ b\\end{matrix}",
                  {SAME, "\\begin {matrix} \\mathrm { a } \\\\ b \\end {matrix}", SAME, SAME}},
        BreakCase{"{\\bf a \\break b} c",
                  {SAME, "{ \\mathbf { a b } } c", "\\mathbf { a b } c", "\\mathbf { a b } c"}},
        BreakCase{"\\begin{matrix} \\bf a \\break b \\end{matrix}",
                  {SAME, "\\begin {matrix} \\mathbf { a b } \\end {matrix}", SAME, SAME}},
        BreakCase{"\\begin{pmatrix} a \\break_2 & b \\end{pmatrix}",
                  {SAME, "\\begin {pmatrix} a { } _ { 2 } & b \\end {pmatrix}",
                   "\\left ( \\begin {matrix} a { } _ { 2 } & b \\end {matrix} \\right )",
                   "\\left ( \\begin {matrix} a { } _ { 2 } & b \\end {matrix} \\right )"}},
        // `\newline` ends in an empty box: an empty group.
        BreakCase{"\\left( \\sin \\newline+ b \\right)",
                  {SAME, "\\left ( \\sin { } + b \\right )", "\\left ( \\sin + b \\right )",
                   "\\left ( \\sin + b \\right )"}},
        BreakCase{"\\frac{a\\newline_x b}{c}", {SAME, "\\frac { a { } _ { x } b } { c }", SAME, SAME}},
        // Row ends that bear scripts: read so, and scripted by a rule.
        BreakCase{"a \\\\*[2pt]_3 b", {SAME, "a \\\\*[2pt] { } _ { 3 } b", SAME, SAME}},
        BreakCase{"\\dv[2]\\\\",
                  {"\\dv [ 2 ] { \\\\ }", "\\frac { \\mathrm { d } ^ { 2 } } { \\mathrm { d } \\\\ { } ^ { 2 } }",
                   SAME, SAME}},
        BreakCase{"\\dv[2]\\cr",
                  {"\\dv [ 2 ] { \\cr }", "\\frac { \\mathrm { d } ^ { 2 } } { \\mathrm { d } \\cr { } ^ { 2 } }",
                   SAME, SAME}}));

// Made formulas: every kind of line break, bare, starred, spaced or
// scripted, in the formula's own list, a cell, a group, an argument, a
// script, a fence, under a font switch, between neighbours that an open
// slot could take. What parses clean must read back as the same tree and
// settle in one round at every profile.
constexpr std::array<std::string_view, 10> BREAKS{
    "\\break", "\\newline", "\\\\", "\\cr", "\\break^{2}", "\\newline_x", "\\\\_1^2", "\\\\*", "\\\\[2pt]^2", "\\cr'"};
constexpr std::array<std::string_view, 9> NEIGHBOURS{"a", "+", "[b]", "*", "\\sin", "{}", "'", "\\bf ", ""};
constexpr std::array<std::string_view, 12> PLACES{
    "@",  "{@}", "\\frac{@}{x}", "x^{@}", "\\begin{matrix}@\\end{matrix}", "\\begin{pmatrix} a & @ \\end{pmatrix}",
    "\\sqrt{@}", "\\left( @ \\right)", "\\text{$@$}", "{\\bf @} c", "\\mathbf{@}", "\\dv[2]{@}"};

TEST(LineBreaks, MadeFormulasReadBackAndSettle) {
    testing::SeededPicker picker(0x6c696e65u);
    std::size_t checked = 0;
    for (int n = 0; n < 600; ++n) {
        std::string inner = std::string(picker.choose(NEIGHBOURS)) + " " + std::string(picker.choose(BREAKS)) +
                            std::string(picker.choose(NEIGHBOURS)) + " b";
        for (int depth = picker.pick(2); depth >= 0; --depth) inner = testing::in_place(picker.choose(PLACES), inner);
        const std::string fault = testing::readback_fault(engine(1), inner);
        if (fault == "the source does not parse clean") continue;
        ++checked;
        for (std::size_t p = 0; p < PROFILES.size(); ++p)
            EXPECT_EQ(testing::readback_fault(engine(p), inner), "") << PROFILE_NAMES[p] << ": " << inner;
    }
    EXPECT_GT(checked, 300u);
}

}  // namespace
}  // namespace quorvel
