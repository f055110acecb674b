// A font or size declarative lasts to the end of its group, which an infix
// splits without ending: what the left operand sets governs the right one
// too, also once a rule has parted them into the arguments of a command. A
// style switch is an item of the left operand and stays there.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "profile_engines.hpp"
#include "readback_check.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

struct InfixFontCase {
    const char* source;
    const char* faithful;
    // null: as at faithful
    const char* authoring = nullptr;
    const char* corpus = nullptr;
    const char* equiv = nullptr;
};

class InfixFonts : public ::testing::TestWithParam<InfixFontCase> {};

TEST_P(InfixFonts, RightOperandUnderTheLeftOperandsFont) {
    const InfixFontCase& c = GetParam();
    const char* expected[] = {c.authoring, c.faithful, c.corpus, c.equiv};  // in PROFILES order
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        const auto output = engine(p).normalize_with(c.source, engine(p).default_normalize_config());
        ASSERT_TRUE(output) << PROFILE_NAMES[p];
        EXPECT_EQ(*output, expected[p] != nullptr ? expected[p] : c.faithful) << PROFILE_NAMES[p];
        EXPECT_EQ(testing::readback_fault(engine(p), c.source), "") << PROFILE_NAMES[p];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Declaratives, InfixFonts,
    ::testing::Values(
        InfixFontCase{"{\\bf a \\over b}", "\\frac { \\mathbf { a } } { \\mathbf { b } }"},
        InfixFontCase{"{\\rm d x \\over d t}", "\\frac { \\mathrm { d x } } { \\mathrm { d t } }"},
        InfixFontCase{"{\\cal A \\choose B}", "\\binom { \\mathcal { A } } { \\mathcal { B } }"},
        InfixFontCase{"{\\tt a \\brace b}", "\\genfrac \\{ \\} {0pt} {} { \\mathtt { a } } { \\mathtt { b } }"},
        InfixFontCase{"{\\sf a \\above 1pt b}", "\\genfrac . . {1pt} {} { \\mathsf { a } } { \\mathsf { b } }"},
        InfixFontCase{"{\\large a \\over b}", "\\frac { \\large a } { \\large b }"},
        InfixFontCase{"{\\bf\\large a \\over b}", "\\frac { \\mathbf { \\large a } } { \\mathbf { \\large b } }"},
        // a style switch stays in the numerator; a font beside it goes on
        InfixFontCase{"{\\displaystyle a \\over b}", "\\frac { \\displaystyle a } { b }"},
        InfixFontCase{"{\\displaystyle\\bf a \\over b}", "\\frac { \\displaystyle \\mathbf { a } } { \\mathbf { b } }"},
        // in the middle of the left operand, last of two, or alone in it
        InfixFontCase{"{a \\bf b \\over c}", "\\frac { a \\mathbf { b } } { \\mathbf { c } }"},
        InfixFontCase{"{\\bf a \\rm b \\over c}", "\\frac { \\mathbf { a } \\mathrm { b } } { \\mathrm { c } }"},
        InfixFontCase{"{\\bf \\over b}", "\\frac { } { \\mathbf { b } }"},
        InfixFontCase{"{\\bf a \\over}", "\\frac { \\mathbf { a } } { }"},
        // a group inside the left operand: its end does not stop an outer
        // font, and ends its own
        InfixFontCase{"{\\bf {a} \\over b}", "\\frac { \\mathbf { a } } { \\mathbf { b } }"},
        InfixFontCase{"{{\\bf a} \\over b}", "\\frac { \\mathbf { a } } { b }"},
        InfixFontCase{"{\\mathbf{\\rm a} \\over b}", "\\frac { \\mathrm { a } } { b }"},
        // the right operand's own font, at its start or later
        InfixFontCase{"{a \\over \\bf b}", "\\frac { a } { \\mathbf { b } }"},
        InfixFontCase{"{\\bf a \\over \\rm b}", "\\frac { \\mathbf { a } } { \\mathrm { b } }"},
        InfixFontCase{"{\\bf a \\choose b \\rm c}", "\\binom { \\mathbf { a } } { \\mathbf { b } \\mathrm { c } }"},
        // the font around the infix, and nested infixes
        InfixFontCase{"\\bf {\\rm a \\over b}", "\\mathbf { \\frac { \\mathrm { a } } { \\mathrm { b } } }"},
        InfixFontCase{"\\bf{\\bf a \\over b}", "\\mathbf { \\frac { a } { b } }"},
        InfixFontCase{"{\\bf a \\over {\\rm c \\over d}}",
                      "\\frac { \\mathbf { a } } { \\mathbf { \\frac { \\mathrm { c } } { \\mathrm { d } } } }"},
        InfixFontCase{"{{\\bf a \\over b} \\over c}", "\\frac { \\frac { \\mathbf { a } } { \\mathbf { b } } } { c }"},
        InfixFontCase{"x^{\\cal a \\atop b}", "x ^ { \\genfrac . . {0pt} {} { \\mathcal { a } } { \\mathcal { b } } }"},
        InfixFontCase{"{\\bf a \\over \\quad b}", "\\frac { \\mathbf { a } } { \\mathbf { \\quad b } }", nullptr,
                      nullptr, "\\frac { \\mathbf { a } } { \\mathbf { b } }"}));

// `\buildrel a \over b` is a macro whose `\over` ends its first argument;
// one that a group closes leaves the `\over` after the group an infix.
TEST(InfixFonts, BuildrelOverIsNoInfix) {
    const std::pair<const char*, const char*> rows[] = {
        {"{\\bf \\buildrel a \\over b}", "\\mathbf { \\mathrel { \\mathop { \\mspace {0mu} b } \\limits ^ { a } } }"},
        {"{\\bf x^{\\buildrel a \\over b} \\over c}",
         "\\frac { \\mathbf { x ^ { \\mathrel { \\mathop { \\mspace {0mu} b } \\limits ^ { a } } } } } { \\mathbf { c } }"},
    };
    for (const auto& [source, faithful] : rows) {
        const auto output = engine(1).normalize_with(source, engine(1).default_normalize_config());
        ASSERT_TRUE(output) << source;
        EXPECT_EQ(*output, faithful);
        EXPECT_EQ(testing::readback_fault(engine(1), source), "");
    }
}

// Every declarative before every infix, in every place of the left operand:
// the output reads back as the same tree and settles; a font or size does
// what it does written again at the start of the right operand.
TEST(InfixFonts, GeneratedCombinations) {
    const char* fonts[] = {"\\bf", "\\rm", "\\cal", "\\tt", "\\it", "\\sf", "\\mit", "\\large", "\\tiny"};
    const char* styles[] = {"\\displaystyle", "\\scriptstyle"};
    const char* infixes[] = {"\\over", "\\choose", "\\atop", "\\brack", "\\above 1pt", "\\abovewithdelims ( ) 2pt"};
    // {D} where the declarative goes, {R} where it is written again
    const char* shapes[] = {"{{D} a {I} {R}b}", "{a {D} b' {I} {R}c}", "{{D} {a} {I} {R}b^2}",
                            "x_{{D} a {I} {R}b}", "\\begin{matrix}{{D} a {I} {R}b} & c\\end{matrix}",
                            "{{{D} a} {I} b}", "{a {I} {D} b}"};
    auto fill = [](std::string s, const std::string& d, const std::string& i, const std::string& r) {
        const std::pair<std::string, std::string> keys[] = {{"{D}", d}, {"{I}", i}, {"{R}", r}};
        for (const auto& [key, value] : keys)
            for (std::size_t at; (at = s.find(key)) != std::string::npos;) s.replace(at, 3, value);
        return s;
    };
    auto check = [&](const char* d, bool carried) {
        for (const char* i : infixes) {
            for (const char* shape : shapes) {
                const std::string source = fill(shape, d, i, "");
                for (std::size_t p = 0; p < PROFILES.size(); ++p) {
                    const facade::TransformEngine& e = engine(p);
                    EXPECT_EQ(testing::readback_fault(e, source), "") << source << " at " << PROFILE_NAMES[p];
                    if (!carried) continue;
                    const std::string written = fill(shape, d, i, std::string(d) + " ");
                    EXPECT_EQ(e.normalize_with(source, e.default_normalize_config()).value(),
                              e.normalize_with(written, e.default_normalize_config()).value())
                        << source << " at " << PROFILE_NAMES[p];
                }
            }
        }
    };
    for (const char* d : fonts) check(d, true);
    for (const char* d : styles) check(d, false);
}

}  // namespace
}  // namespace quorvel
