// Line breaks: `\break` and `\newline` break the line in the formula's own
// list only, where they become `\\`; in a cell, a group or an argument
// `\break` goes and `\newline` leaves an empty group where TeX sets the list
// alike without them, and they stay as written elsewhere. A row end is never
// read as a script base, so scripts on a break, or on a row end, stand on an
// empty group after it.
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
        // A font switch goes on after the break; in braces the break stays
        // between letters, which it keeps from joining.
        BreakCase{"\\bf a \\break b", {SAME, "\\mathbf { a } \\\\ \\mathbf { b }", SAME, SAME}},
        // A script on a break goes on the next line, in the running font.
        BreakCase{"\\bf a \\break^2 b", {SAME, "\\mathbf { a } \\\\ \\mathbf { { } ^ { 2 } b }", SAME, SAME}},
        BreakCase{"\\bf a \\newline_x b", {SAME, "\\mathbf { a } \\\\ \\mathbf { { } _ { x } b }", SAME, SAME}},
        // Only in an alignment does a row end start a cell in no font.
        BreakCase{"\\rm a \\\\ b", {SAME, "\\mathrm { a } \\\\ \\mathrm { b }", SAME, SAME}},
        BreakCase{"\\begin{matrix}\\rm a \\\\ b\\end{matrix}",
                  {SAME, "\\begin {matrix} \\mathrm { a } \\\\ b \\end {matrix}", SAME, SAME}},
        BreakCase{"{\\bf a \\break b} c",
                  {SAME, "{ \\mathbf { a \\break b } } c", "\\mathbf { a \\break b } c",
                   "\\mathbf { a \\break b } c"}},
        // In a font command a row end stands in its group, where TeX breaks
        // nothing: written in the prefix that carries the font, beside a
        // declarative, an infix or an inner font alike.
        BreakCase{"x \\bf \\mathrm{a\\\\b} y", {SAME, "x \\mathrm { a \\\\ b } \\mathbf { y }", SAME, SAME}},
        BreakCase{"x \\bf \\mathrm{a\\\\[2pt]b} y", {SAME, "x \\mathrm { a \\\\[2pt] b } \\mathbf { y }", SAME, SAME}},
        BreakCase{"x \\bf \\mathrm{a\\\\*b} y", {SAME, "x \\mathrm { a \\\\* b } \\mathbf { y }", SAME, SAME}},
        BreakCase{"x \\mathrm{\\it a \\\\ b} y", {SAME, "x \\mathit { a \\\\ b } y", SAME, SAME}},
        BreakCase{"a \\mathrm\\\\ b", {SAME, "a \\mathrm { \\\\ } b", SAME, SAME}},
        BreakCase{"x \\it y \\mathbf{a \\\\ b} z",
                  {SAME, "x \\mathit { y } \\mathbf { a \\\\ b } \\mathit { z }", SAME, SAME}},
        BreakCase{"\\mathsf{a \\\\ b} {{\\displaystyle c} \\atop d}",
                  {SAME, "\\mathsf { a \\\\ b } \\genfrac . . {0pt} {} { \\displaystyle c } { d }", SAME, SAME}},
        BreakCase{"\\mathit{\\alpha \\\\ y} \\cal \\alpha",
                  {SAME, "\\mathit { \\alpha \\\\ y } \\mathcal { \\alpha }", SAME, SAME}},
        // A script base is one atom, no list of cells: its row end stays in
        // the prefix too, so one that primes come to follow reads back as
        // written.
        BreakCase{"\\mathit{x\\\\y}'", {SAME, "\\mathit { x \\\\ y }'", SAME, SAME}},
        BreakCase{"\\scriptstyle \\mathit{x \\\\ y}{'}",
                  {SAME, "\\scriptstyle \\mathit { x \\\\ y } { ' }", "\\scriptstyle \\mathit { x \\\\ y }'",
                   "\\scriptstyle \\mathit { x \\\\ y }'"}},
        // Nor in a brace group of the formula's own list, one that lowering
        // writes for a style among them, which reads back in that list.
        BreakCase{"{\\displaystyle \\mathbf{x \\\\ }} y", {SAME, "{ \\displaystyle \\mathbf { x \\\\ } } y", SAME, SAME}},
        BreakCase{"\\vb{\\displaystyle x'\\\\}",
                  {"\\vb { \\displaystyle x' \\\\ }", "\\displaystyle \\mathbf { x' \\\\ }", SAME, SAME}},
        BreakCase{"\\mathit{\\mathcal{\\buildrel A \\over = \\\\ z}}",
                  {"\\mathcal { \\buildrel { A } \\over = \\\\ z }",
                   "\\mathcal { \\mathrel { \\mathop { \\mspace {0mu} = } \\limits ^ { A } } \\\\ z }",
                   "\\mathcal { \\mathrel { \\mathop { \\mspace {0mu} = } ^ { A } } \\\\ z }",
                   "\\mathcal { \\mathrel { \\mathop { \\mspace {0mu} = } ^ { A } } \\\\ z }"}},
        // A cell end parts a font command's group in a list of cells: the
        // one atom left of it and the one atom of the next group, each a box
        // of more atoms in the source, would read back as two groups of one
        // atom, which TeX joins: they are written in one.
        BreakCase{"\\buildrel \\mathrm{\\\\ b} \\mathrm{A \\bf c} \\over =",
                  {"\\buildrel { \\mathrm { \\\\ b } } \\mathrm { A \\bf c } \\over =",
                   "\\mathrel { \\mathop { \\mspace {0mu} = } \\limits ^ { \\\\ \\mathrm { b A } \\mathbf { c } } }",
                   "\\mathrel { \\mathop { \\mspace {0mu} = } ^ { \\\\ \\mathrm { b A } \\mathbf { c } } }",
                   "\\mathrel { \\mathop { \\mspace {0mu} = } ^ { \\\\ \\mathrm { b A } \\mathbf { c } } }"}},
        // A row end there ends in an empty box, which TeX spaces from the
        // group after it as an ordinary atom: unlike a cell, the group is
        // not first, and its braces keep the relation from thick spaces.
        BreakCase{"a \\\\ {\\displaystyle =}",
                  {SAME, "a \\\\ { \\displaystyle = }", "a \\\\ \\displaystyle =", "a \\\\ \\displaystyle ="}},
        BreakCase{"\\mathrm{a\\\\}{\\displaystyle =}",
                  {SAME, "\\mathrm { a \\\\ } { \\displaystyle = }", "\\mathrm { a \\\\ } \\displaystyle =",
                   "\\mathrm { a \\\\ } \\displaystyle ="}},
        BreakCase{"\\begin{matrix}a \\\\ {\\displaystyle =}\\end{matrix}",
                  {SAME, "\\begin {matrix} a \\\\ \\displaystyle = \\end {matrix}", SAME, SAME}},
        BreakCase{"\\begin{matrix} \\bf a \\break b \\end{matrix}",
                  {SAME, "\\begin {matrix} \\mathbf { a \\break b } \\end {matrix}", SAME, SAME}},
        BreakCase{"\\begin{pmatrix} a \\break_2 & b \\end{pmatrix}",
                  {SAME, "\\begin {pmatrix} a { } _ { 2 } & b \\end {pmatrix}",
                   "\\left ( \\begin {matrix} a { } _ { 2 } & b \\end {matrix} \\right )",
                   "\\left ( \\begin {matrix} a { } _ { 2 } & b \\end {matrix} \\right )"}},
        // `\newline` ends in an empty box: an empty group.
        BreakCase{"\\left( \\sin \\newline+ b \\right)",
                  {SAME, "\\left ( \\sin { } + b \\right )", "\\left ( \\sin + b \\right )",
                   "\\left ( \\sin + b \\right )"}},
        // A fraction's part is set as wide as the other: the `\hfil` of a
        // `\newline` there may stretch.
        BreakCase{"\\frac{a\\newline_x b}{c}", {SAME, "\\frac { a \\newline _ { x } b } { c }", SAME, SAME}},
        // Beside a character that a character after it would join (in a
        // ligature, a kern, or losing the italic correction between them),
        // and alone with one atom, which TeX takes for the group, the break
        // stays.
        BreakCase{"\\mathrm{f \\break i}", {SAME, "\\mathrm { f \\break i }", SAME, SAME}},
        BreakCase{"\\mathit{1\\break n}", {SAME, "\\mathit { 1 \\break n }", SAME, SAME}},
        BreakCase{"{{V\\break}}_{i}", {SAME, "{ { V \\break } } _ { i }", SAME, SAME}},
        BreakCase{"{f\\break}i", {SAME, "{ f \\break } i", SAME, SAME}},
        BreakCase{"{a\\break\\frac{1}{2}}", {SAME, "a \\frac { 1 } { 2 }", SAME, SAME}},
        BreakCase{"{a\\break\\quad b}", {SAME, "a \\quad b", SAME, "a b"}},
        // `\newline` is `\unskip{}\nobreak\hfil\break`: it stays after glue,
        // which it takes away, and where its list may be set wider than it
        // is (a fraction's part, an operator's limit, a cell), also as the
        // one group there; in a script of a letter or a root it leaves `{}`.
        BreakCase{"\\frac{{}\\hspace{1em}\\newline}{}",
                  {SAME, "\\frac { { } \\hspace {1em} \\newline } { }", "\\frac { \\hspace {1em} \\newline } { }",
                   "\\frac { \\hspace {1em} \\newline } { }"}},
        BreakCase{"a{b\\,\\newline}c", {SAME, "a { b \\, \\newline } c", SAME, SAME}},
        BreakCase{"a{b\\newline}c", {SAME, "a b { } c", "a b c", "a b c"}},
        BreakCase{"\\frac{{a\\newline}}{bcd}",
                  {SAME, "\\frac { { a \\newline } } { b c d }", "\\frac { a \\newline } { b c d }",
                   "\\frac { a \\newline } { b c d }"}},
        BreakCase{"\\frac{{a\\newline}c}{bcd}",
                  {SAME, "\\frac { a { } c } { b c d }", "\\frac { a c } { b c d }", "\\frac { a c } { b c d }"}},
        BreakCase{"\\sum_{bcd}^{a\\newline}", {SAME, "\\sum _ { b c d } ^ { a \\newline }", SAME, SAME}},
        BreakCase{"\\begin{matrix}a\\newline\\\\ bcd\\end{matrix}",
                  {SAME, "\\begin {matrix} a \\newline \\\\ b c d \\end {matrix}", SAME, SAME}},
        BreakCase{"x^{a\\newline}\\sqrt{b\\newline}",
                  {SAME, "x ^ { a { } } \\sqrt { b { } }", "x ^ { a } \\sqrt { b }", "x ^ { a } \\sqrt { b }"}},
        // What stands before a `\buildrel` in the left operand of its `\over`
        // is in the list around: there the break breaks the line. What
        // follows it is its top, above the relation.
        BreakCase{"z\\newline\\buildrel a\\over=",
                  {"z \\\\ \\buildrel { a } \\over =", "z \\\\ \\mathrel { \\mathop { \\mspace {0mu} = } \\limits ^ { a } }",
                   "z \\\\ \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a } }",
                   "z \\\\ \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a } }"}},
        BreakCase{"z\\break^2 y\\buildrel a\\over= b",
                  {"z \\\\ { } ^ { 2 } y \\buildrel { a } \\over = b",
                   "z \\\\ { } ^ { 2 } y \\mathrel { \\mathop { \\mspace {0mu} = } \\limits ^ { a } } b",
                   "z \\\\ { } ^ { 2 } y \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a } } b",
                   "z \\\\ { } ^ { 2 } y \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a } } b"}},
        BreakCase{"x\\buildrel a\\newline b\\over=",
                  {"x \\buildrel { a } \\newline b \\over =",
                   "x \\mathrel { \\mathop { \\mspace {0mu} = } \\limits ^ { a \\newline b } }",
                   "x \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a \\newline b } }",
                   "x \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a \\newline b } }"}},
        BreakCase{"{z\\newline\\buildrel a\\over=}",
                  {"{ z { } \\buildrel { a } \\over = }", "z { } \\mathrel { \\mathop { \\mspace {0mu} = } \\limits ^ { a } }",
                   "z \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a } }",
                   "z \\mathrel { \\mathop { \\mspace {0mu} = } ^ { a } }"}},
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
// script, a fence, under a font switch, in a group with scripts, before,
// after or in the top of a `\buildrel`, between neighbours that an open
// slot could take, letters and digits that join, and glue. What parses
// clean must read back as the same tree and settle in one round at every
// profile.
constexpr std::array<std::string_view, 10> BREAKS{
    "\\break", "\\newline", "\\\\", "\\cr", "\\break^{2}", "\\newline_x", "\\\\_1^2", "\\\\*", "\\\\[2pt]^2", "\\cr'"};
constexpr std::array<std::string_view, 18> NEIGHBOURS{
    "a", "+", "[b]", "*", "\\sin", "{}", "'", "\\bf ", "", "f", "i", "1", "n", "V", "{f}", "\\hspace{1em}", "\\hfil", "\\,"};
constexpr std::array<std::string_view, 17> PLACES{
    "@",  "{@}", "\\frac{@}{x}", "x^{@}", "\\begin{matrix}@\\end{matrix}", "\\begin{pmatrix} a & @ \\end{pmatrix}",
    "\\sqrt{@}", "\\left( @ \\right)", "\\text{$@$}", "{\\bf @} c", "\\mathbf{@}", "\\dv[2]{@}", "{@}_{i}", "{{@}}^{2}",
    "@ \\buildrel a \\over =", "\\buildrel a \\over = @", "x \\buildrel @ \\over ="};

TEST(LineBreaks, MadeFormulasReadBackAndSettle) {
    testing::SeededPicker picker(0x6c696e65u);
    std::size_t checked = 0;
    for (int n = 0; n < 900; ++n) {
        std::string inner = std::string(picker.choose(NEIGHBOURS)) + " " + std::string(picker.choose(BREAKS)) +
                            std::string(picker.choose(NEIGHBOURS)) + " b";
        for (int depth = picker.pick(2); depth >= 0; --depth) inner = testing::in_place(picker.choose(PLACES), inner);
        const std::string fault = testing::readback_fault(engine(1), inner);
        if (fault == "the source does not parse clean") continue;
        ++checked;
        for (std::size_t p = 0; p < PROFILES.size(); ++p)
            EXPECT_EQ(testing::readback_fault(engine(p), inner), "") << PROFILE_NAMES[p] << ": " << inner;
    }
    EXPECT_GT(checked, 450u);
}

}  // namespace
}  // namespace quorvel
