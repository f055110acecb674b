// Plain TeX's `\buildrel top \over rel` through the whole road. The `\over`
// ends the macro's first argument and is no fraction: where no rule expands
// the `\buildrel` (authoring) both stay as written, elsewhere they become
// `\mathrel{\mathop{rel}\limits^{top}}`. A `\buildrel` TeX cannot read, its
// `\over` missing from its cell, is the parser's to report; a formula that
// parses clean never ends in a contract violation. Expected outputs at
// authoring and faithful are the ones TeX set as it sets the source, except
// where the source is a `\buildrel` script, which TeX cannot read either
// ("Missing { inserted").
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "facade/transform_engine.hpp"
#include "profile_cases.hpp"
#include "profile_engines.hpp"
#include "readback_check.hpp"
#include "seeded_picker.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

const testing::ProfileCase CASES[] = {
    {R"(\buildrel a \over b)",
     {R"(\buildrel { a } \over b)", R"(\mathrel { \mathop { \mspace {0mu} b } \limits ^ { a } })",
      R"(\mathrel { \mathop { \mspace {0mu} b } ^ { a } })", nullptr}},
    {R"(x \buildrel * \over = y)",
     {R"(x \buildrel { * } \over = y)", R"(x \mathrel { \mathop { \mspace {0mu} = } \limits ^ { * } } y)",
      R"(x \mathrel { \mathop { \mspace {0mu} = } ^ { * } } y)", nullptr}},
    // A declarative read bare as the argument reaches the rest of the top.
    {R"(\buildrel \rm def \over = x)",
     {R"(\buildrel \rm d e f \over = x)",
      R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { \mathrm { d e f } } } x)",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { \mathrm { d e f } } } x)", nullptr}},
    // In braces it reaches nothing after them.
    {R"(\buildrel {\rm} def \over = x)",
     {R"(\buildrel { \rm } d e f \over = x)", R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { { } d e f } } x)",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { d e f } } x)", nullptr}},
    {R"(\buildrel {\rm d} ef \over =)",
     {R"(\buildrel { \rm d } e f \over =)", R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { \mathrm { d } e f } })",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { \mathrm { d } e f } })", nullptr}},
    {R"(A \buildrel \alpha \over \longrightarrow B)",
     {R"(A \buildrel { \alpha } \over \longrightarrow B)",
      R"(A \mathrel { \mathop { \mspace {0mu} \longrightarrow } \limits ^ { \alpha } } B)",
      R"(A \mathrel { \mathop { \mspace {0mu} \longrightarrow } ^ { \alpha } } B)", nullptr}},
    // A `\buildrel` script: written bare, as braces would part it from its
    // `\over`; expanded in its script.
    {R"(x^\buildrel a \over b)",
     {R"(x ^ \buildrel { a } \over b)", R"(x ^ { \mathrel { \mathop { \mspace {0mu} b } \limits ^ { a } } })",
      R"(x ^ { \mathrel { \mathop { \mspace {0mu} b } ^ { a } } })", nullptr}},
    {R"(x_1^\buildrel a \over b c)",
     {R"(x _ { 1 } ^ \buildrel { a } \over b c)",
      R"(x _ { 1 } ^ { \mathrel { \mathop { \mspace {0mu} b } \limits ^ { a } } } c)",
      R"(x _ { 1 } ^ { \mathrel { \mathop { \mspace {0mu} b } ^ { a } } } c)", nullptr}},
    {R"(x^{\buildrel a \over b})",
     {R"(x ^ { \buildrel { a } \over b })", R"(x ^ { \mathrel { \mathop { \mspace {0mu} b } \limits ^ { a } } })",
      R"(x ^ { \mathrel { \mathop { \mspace {0mu} b } ^ { a } } })", nullptr}},
    // Scripts on the `\buildrel` itself are part of the top.
    {R"(\buildrel a^2 b \over = c)",
     {R"(\buildrel { a } ^ { 2 } b \over = c)", R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { a ^ { 2 } b } } c)",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { a ^ { 2 } b } } c)", nullptr}},
    {R"(\frac{\buildrel a \over =}{2})",
     {R"(\frac { \buildrel { a } \over = } { 2 })", R"(\frac { \mathrel { \mathop { \mspace {0mu} = } \limits ^ { a } } } { 2 })",
      R"(\frac { \mathrel { \mathop { \mspace {0mu} = } ^ { a } } } { 2 })", nullptr}},
    {R"(\begin{matrix} a \buildrel x \over = b & c \end{matrix})",
     {R"(\begin {matrix} a \buildrel { x } \over = b & c \end {matrix})",
      R"(\begin {matrix} a \mathrel { \mathop { \mspace {0mu} = } \limits ^ { x } } b & c \end {matrix})",
      R"(\begin {matrix} a \mathrel { \mathop { \mspace {0mu} = } ^ { x } } b & c \end {matrix})", nullptr}},
    // A `\buildrel` in a group of its own does not hold the `\over` after it.
    {R"({\buildrel a \over b} c \over d)",
     {R"(\frac { { \buildrel { a } \over b } c } { d })",
      R"(\frac { { \mathrel { \mathop { \mspace {0mu} b } \limits ^ { a } } } c } { d })",
      R"(\frac { \mathrel { \mathop { \mspace {0mu} b } ^ { a } } c } { d })", nullptr}},
    // Infix commands in groups of the top are fractions.
    {R"(\buildrel {x \over y} \over =)",
     {R"(\buildrel { \frac { x } { y } } \over =)",
      R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { \frac { x } { y } } })",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { \frac { x } { y } } })", nullptr}},
    {R"(\buildrel a \sqrt{b \over c d} \over =)",
     {R"(\buildrel { a } \sqrt { \frac { b } { c d } } \over =)",
      R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { a \sqrt { \frac { b } { c d } } } })",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { a \sqrt { \frac { b } { c d } } } })", nullptr}},
    // A group whose declarative stands in the tail keeps its braces where
    // the `\over` stays: without them the items before would join the top.
    {R"(x{y \buildrel a \over b \rm c})",
     {R"(x { y \buildrel { a } \over b \mathrm { c } })",
      R"(x y \mathrel { \mathop { \mspace {0mu} b } \limits ^ { a } } \mathrm { c })",
      R"(x y \mathrel { \mathop { \mspace {0mu} b } ^ { a } } \mathrm { c })", nullptr}},
    // The relation is one token or group: scripts and primes read with it
    // are the relation's the macro builds.
    {R"(\buildrel a \over =^2)",
     {R"(\buildrel { a } \over = ^ { 2 })", R"(\mathrel { \mathop { \mspace {0mu} = } \limits ^ { a } } ^ { 2 })",
      R"(\mathrel { \mathop { \mspace {0mu} = } ^ { a } } ^ { 2 })", nullptr}},
    {R"(\buildrel a \over x'_1 y)",
     {R"(\buildrel { a } \over x _ { 1 }' y)", R"(\mathrel { \mathop { \mspace {0mu} x } \limits ^ { a } } _ { 1 }' y)",
      R"(\mathrel { \mathop { \mspace {0mu} x } ^ { a } } _ { 1 }' y)", nullptr}},
    // The `\over` after a braced top is the `\buildrel`'s, the tail after
    // its relation a list of its own.
    {R"(\buildrel{a\over b}\over c {\it})",
     {R"(\buildrel { \frac { a } { b } } \over c { })",
      R"(\mathrel { \mathop { \mspace {0mu} c } \limits ^ { \frac { a } { b } } } { })",
      R"(\mathrel { \mathop { \mspace {0mu} c } ^ { \frac { a } { b } } })", nullptr}},
    // A relation that is a `\buildrel` in braces, or a cell end, keeps the
    // braces it is written in.
    {R"(\buildrel a \over {\buildrel b \over c})",
     {R"(\buildrel { a } \over { \buildrel { b } \over c })",
      R"(\mathrel { \mathop { \mspace {0mu} { \mathrel { \mathop { \mspace {0mu} c } \limits ^ { b } } } } \limits ^ { a } })",
      R"(\mathrel { \mathop { \mspace {0mu} \mathrel { \mathop { \mspace {0mu} c } ^ { b } } } ^ { a } })", nullptr}},
    {R"(x^{\buildrel a \over {\buildrel b \over c}})",
     {R"(x ^ { \buildrel { a } \over { \buildrel { b } \over c } })",
      R"(x ^ { \mathrel { \mathop { \mspace {0mu} { \mathrel { \mathop { \mspace {0mu} c } \limits ^ { b } } } } )"
      R"(\limits ^ { a } } })",
      R"(x ^ { \mathrel { \mathop { \mspace {0mu} \mathrel { \mathop { \mspace {0mu} c } ^ { b } } } ^ { a } } })", nullptr}},
    {R"(\buildrel x \over\\ y)",
     {R"(\buildrel { x } \over { \\ } y)", R"(\mathrel { \mathop { \mspace {0mu} \\ } \limits ^ { x } } y)",
      R"(\mathrel { \mathop { \mspace {0mu} \\ } ^ { x } } y)", nullptr}},
    {R"(\buildrel x \over{\\} y)",
     {R"(\buildrel { x } \over { \\ } y)", R"(\mathrel { \mathop { \mspace {0mu} { \\ } } \limits ^ { x } } y)",
      R"(\mathrel { \mathop { \mspace {0mu} { \\ } } ^ { x } } y)", nullptr}},
    // A row end that would take the `[` after it has its slot closed, in
    // the rule's output as in the source.
    {R"(\buildrel x\over{{\displaystyle y}\\[})",
     {R"(\buildrel { x } \over { { \displaystyle y } \\ [ })",
      R"(\mathrel { \mathop { \mspace {0mu} { { \displaystyle y } \\[0pt] [ } } \limits ^ { x } })",
      R"(\mathrel { \mathop { \mspace {0mu} { { \displaystyle y } \\[0pt] [ } } ^ { x } })", nullptr}},
    // A `\break` as the relation breaks no line; it leaves the braces the
    // `\over` needs.
    {R"(\buildrel a \over \break b)",
     {R"(\buildrel { a } \over { } b)", R"(\mathrel { \mathop { \mspace {0mu} \break } \limits ^ { a } } b)",
      R"(\mathrel { \mathop { \mspace {0mu} \break } ^ { a } } b)", nullptr}},
    // A declarative written before the `\over` stands in its left operand,
    // as it reads back, beside one `\buildrel` or more.
    {R"({\large \mathbf{\buildrel *\over *}})",
     {R"({ \mathbf { \large \buildrel { * } \over * } })",
      R"({ \mathbf { \large \mathrel { \mathop { \mspace {0mu} * } \limits ^ { * } } } })",
      R"({ \mathbf { \large \mathrel { \mathop { \mspace {0mu} * } ^ { * } } } })", nullptr}},
    {R"({\small \mathcal{\buildrel{}\over{}\buildrel \alpha \over \cdot}})",
     {R"({ \mathcal { \small \buildrel { } \over { } \buildrel { \alpha } \over \cdot } })",
      R"({ \mathcal { \small \mathrel { \mathop { \mspace {0mu} { } } \limits ^ { } } \mathrel { \mathop { \mspace {0mu} \cdot } \limits ^ { \alpha } } } })",
      R"({ \mathcal { \small \mathrel { \mathop { \mspace {0mu} } ^ { } } \mathrel { \mathop { \mspace {0mu} \cdot } ^ { \alpha } } } })", nullptr}},
};

TEST(Buildrel, InputsAtEveryProfile) {
    testing::expect_outputs_at_every_profile(CASES);
}

// TeX finds no `\over` for these `\buildrel`s: the parser reports them, so
// no profile gets to normalise them.
TEST(Buildrel, WithoutItsOverIsReported) {
    const char* const sources[] = {
        R"({\buildrel x})",
        R"(x + {\buildrel x} + y)",
        R"(\buildrel a \over \buildrel b \over =)",
        R"(\buildrel a \buildrel b \over c)",
        R"(\buildrel a^\buildrel b \over c)",
        R"(\buildrel x \\ \over 1)",
        R"({\buildrel x & \over 1})",
        R"(\buildrel x \cr \over 1)",
        R"(\begin{matrix} \buildrel x & \over 1 \end{matrix})",
        R"({a \buildrel x \atop =})",
        R"(x^{\buildrel a} \over b)",
        R"(x'^\buildrel a \over b)",
        R"(\sqrt\buildrel a \over b)",
        R"(\frac\buildrel a \over b c)",
    };
    const facade::TransformEngine& e = engine(0);
    for (const char* source : sources) {
        SCOPED_TRACE(source);
        const auto parsed = e.parser().parse_with(source, e.default_normalize_config().parse);
        ASSERT_FALSE(parsed.diagnostics.empty());
        EXPECT_EQ(parsed.diagnostics[0].message, "\\buildrel without its \\over");
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            const auto output = engine(p).normalize_with(source, engine(p).default_normalize_config());
            ASSERT_FALSE(output) << PROFILE_NAMES[p];
            EXPECT_EQ(output.error().message().find("contract"), std::string::npos) << PROFILE_NAMES[p];
        }
    }
}

// ---- Generated formulas --------------------------------------------------------------------

constexpr std::array<std::string_view, 10> TOPS{"a",   "\\alpha ", "def", "x^2",  "{\\rm def}",
                                                "\\rm def", "\\bf x",  "*",   "{ab}", "\\scriptstyle n"};
constexpr std::array<std::string_view, 6> RELS{"=", "\\longrightarrow ", "\\sim ", "{=}", "\\to ", "\\le "};
// Items around the construction: fonts, and infix commands in groups.
constexpr std::array<std::string_view, 8> AROUND{"x",           "\\bf A",   "{\\rm y}", "{p \\over q}",
                                                 "{p \\atop q}", "\\alpha ", "z_1",      "\\rm f"};
// Where the construction stands: alone, in a group, a script, a fraction,
// a cell, a delimited group, after a font, an argument.
constexpr std::array<std::string_view, 8> PLACES{
    "@", "{@}", "x^{@}", "\\frac{@}{2}", "\\begin{matrix} @ & c \\\\ d & e \\end{matrix}", "\\left( @ \\right)",
    "{\\bf @}", "\\sqrt{@}"};

// Shapes a second batch adds: a braced top that holds an infix, a relation
// that is a braced `\buildrel`, a row end or scripted, a tail that holds
// nothing once normalised, a group after an item.
constexpr std::array<std::string_view, 3> MORE_TOPS{"{p \\over q}", "{p \\atop q}", "{\\frac ab}"};
constexpr std::array<std::string_view, 4> MORE_RELS{"{\\buildrel b \\over =}", "\\\\", "{{\\displaystyle =}\\\\[}",
                                                  "=^2"};
constexpr std::array<std::string_view, 2> MORE_AROUND{"{\\it}", "{}"};
constexpr std::array<std::string_view, 2> MORE_PLACES{"x{@}", "x^{y @}"};

class BuildrelMaker : testing::SeededPicker {
public:
    BuildrelMaker(std::uint64_t seed, bool more) : SeededPicker(seed), more_(more) {}

    std::string formula() {
        const std::string_view place = either(PLACES, MORE_PLACES);
        return testing::in_place(place, construction());
    }

private:
    // None to two items.
    std::string around() {
        std::string out;
        for (std::size_t i = 0, n = pick(3); i < n; ++i) {
            if (i > 0) out += ' ';
            out += either(AROUND, MORE_AROUND);
        }
        return out;
    }

    // From `table`, or in the second batch as often from `more`.
    template <std::size_t N, std::size_t M>
    std::string_view either(const std::array<std::string_view, N>& table,
                            const std::array<std::string_view, M>& more) {
        return more_ && pick(2) == 0 ? choose(more) : choose(table);
    }

    bool more_;

    std::string construction() {
        const std::string before = around();
        const std::string after = around();
        std::string top(either(TOPS, MORE_TOPS));
        const std::string_view rel = either(RELS, MORE_RELS);
        std::string core;
        if (pick(4) == 0) {
            // A `\buildrel` script; a superscript on its top would be a
            // second one of the item.
            for (char& ch : top)
                if (ch == '^') ch = '_';
            core = "y^\\buildrel " + top + " \\over " + std::string(rel);
        } else {
            core = "\\buildrel " + top + " \\over " + std::string(rel);
        }
        std::string out;
        for (const std::string& part : {before, core, after}) {
            if (part.empty()) continue;
            if (!out.empty()) out += ' ';
            out += part;
        }
        return out;
    }
};

std::vector<std::string> generated() {
    BuildrelMaker maker(65, false);
    BuildrelMaker more(66, true);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < 200; ++i) out.push_back(maker.formula());
    for (std::size_t i = 0; i < 200; ++i) out.push_back(more.formula());
    return out;
}

TEST(Buildrel, GeneratedFormulasReadBackAndSettle) {
    const std::vector<std::string> inputs = generated();
    for (const std::string& source : inputs) {
        const auto parsed = engine(0).parser().parse_with(source, engine(0).default_normalize_config().parse);
        EXPECT_TRUE(parsed.document && parsed.diagnostics.empty()) << source;
    }
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        std::size_t faults = 0;
        for (const std::string& source : inputs) {
            const std::string found = testing::readback_fault(engine(p), source);
            if (!found.empty() && faults++ < 10)
                ADD_FAILURE() << PROFILE_NAMES[p] << ":\n  input:  " << source << "\n  " << found;
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p] << ": of " << inputs.size() << " formulas";
    }
}

// Generated formulas whose outputs TeX set as it sets the source.
struct JudgedCase {
    std::size_t index;  // in `generated()`
    const char* source;
    const char* authoring;
    const char* faithful;
};

const JudgedCase JUDGED[] = {
    {0, R"(\sqrt{{\rm y} x \buildrel \rm def \over \to })", R"(\sqrt { { \rm y } x \buildrel \rm d e f \over \to })",
     R"(\sqrt { \mathrm { y } x \mathrel { \mathop { \mspace {0mu} \to } \limits ^ { \mathrm { d e f } } } })"},
    {2, R"(\frac{\buildrel x^2 \over \sim }{2})", R"(\frac { \buildrel { x } ^ { 2 } \over \sim } { 2 })",
     R"(\frac { \mathrel { \mathop { \mspace {0mu} \sim } \limits ^ { x ^ { 2 } } } } { 2 })"},
    {6, R"({\bf \rm f \buildrel def \over \longrightarrow  {p \over q} {p \atop q}})",
     R"({ \bf \rm f \buildrel { d } e f \over \longrightarrow \frac { p } { q } \genfrac . . {0pt} {} { p } { q } })",
     R"(\mathrm { f \mathrel { \mathop { \mspace {0mu} \longrightarrow } \limits ^ { d e f } } \frac { p } { q } )"
     R"(\genfrac . . {0pt} {} { p } { q } })"},
    {8, R"(\frac{{p \over q} x \buildrel a \over =}{2})", R"(\frac { \frac { p } { q } x \buildrel { a } \over = } { 2 })",
     R"(\frac { \frac { p } { q } x \mathrel { \mathop { \mspace {0mu} = } \limits ^ { a } } } { 2 })"},
    {12, R"(\left( {p \over q} z_1 \buildrel {ab} \over \le  \right))",
     R"(\left ( \frac { p } { q } z _ { 1 } \buildrel { a b } \over \leq \right ))",
     R"(\left ( \frac { p } { q } z _ { 1 } \mathrel { \mathop { \mspace {0mu} \leq } \limits ^ { a b } } \right ))"},
    {15, R"(\begin{matrix} \bf A \alpha  \buildrel {\rm def} \over \longrightarrow  & c \\ d & e \end{matrix})",
     R"(\begin {matrix} \bf A \alpha \buildrel { \rm d e f } \over \longrightarrow & c \\ d & e \end {matrix})",
     R"(\begin {matrix} \mathbf { A \alpha \mathrel { \mathop { \mspace {0mu} \longrightarrow } \limits ^ )"
     R"({ \mathrm { d e f } } } } & c \\ d & e \end {matrix})"},
    {19, R"(\buildrel \alpha  \over \to  {p \atop q} \bf A)",
     R"(\buildrel { \alpha } \over \to \genfrac . . {0pt} {} { p } { q } \mathbf { A })",
     R"(\mathrel { \mathop { \mspace {0mu} \to } \limits ^ { \alpha } } \genfrac . . {0pt} {} { p } { q } \mathbf { A })"},
    {27, R"(x^{\bf A \alpha  \buildrel a \over \le  \rm f})", R"(x ^ { \bf A \alpha \buildrel { a } \over \leq \mathrm { f } })",
     R"(x ^ { \mathbf { A \alpha \mathrel { \mathop { \mspace {0mu} \leq } \limits ^ { a } } } \mathrm { f } })"},
};

TEST(Buildrel, GeneratedOutputsTeXJudged) {
    const std::vector<std::string> inputs = generated();
    for (const JudgedCase& c : JUDGED) {
        SCOPED_TRACE(c.source);
        ASSERT_EQ(inputs[c.index], c.source);
        for (std::size_t p = 0; p < 2; ++p) {
            const auto output = engine(p).normalize_with(c.source, engine(p).default_normalize_config());
            ASSERT_TRUE(output) << PROFILE_NAMES[p];
            EXPECT_EQ(*output, p == 0 ? c.authoring : c.faithful) << PROFILE_NAMES[p];
        }
    }
}

}  // namespace
}  // namespace quorvel
