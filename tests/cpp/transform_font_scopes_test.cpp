// What a font, size or style switch governs, and what braces around it do to
// the spacing TeX sets: a declarative before a script on an empty base
// governs the script and what follows; a cell, and math inside text, starts
// with no font; braces around a style switch stay where they set the spacing
// before it; a font run ends where one prefix around it would change the
// spacing, a kern or a ligature at its edge. At every profile the output
// reads back as the same tree and settles in one round.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "profile_engines.hpp"
#include "readback_check.hpp"
#include "seeded_picker.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

constexpr std::size_t kRenderingKept = 2;  // authoring and faithful come first in PROFILES

std::string normalised(std::size_t profile, const std::string& source) {
    const auto& e = engine(profile);
    auto text = e.normalize_with(source, e.default_normalize_config());
    return text ? *text : "(fails)";
}

struct Case {
    const char* source;
    const char* kept;   // authoring and faithful: TeX sets it as the source
    const char* plain;  // corpus and equiv
};

const Case CASES[] = {
    // A declarative before a script on an empty base.
    {R"(\bf ^2 x)", R"(\mathbf { { } ^ { 2 } x })", R"(\mathbf { { } ^ { 2 } x })"},
    {R"({\cal ^{n} b \choose c})", R"(\binom { \mathcal { { } ^ { n } b } } { \mathcal { c } })",
     R"(\binom { \mathcal { { } ^ { n } b } } { \mathcal { c } })"},
    {R"(a \scriptstyle ^2 x)", R"(a \scriptstyle { } ^ { 2 } x)", R"(a \scriptstyle { } ^ { 2 } x)"},
    // A cell starts with no font.
    {R"(\sf \begin{matrix} \sf x \end{matrix})", R"(\mathsf { \begin {matrix} \mathsf { x } \end {matrix} })",
     R"(\mathsf { \begin {matrix} \mathsf { x } \end {matrix} })"},
    {R"(\sf \begin{pmatrix} a & \sf b \end{pmatrix})", R"(\mathsf { \begin {pmatrix} a & \mathsf { b } \end {pmatrix} })",
     R"(\mathsf { \left ( \begin {matrix} a & \mathsf { b } \end {matrix} \right ) })"},
    {R"(\bf \text{$a \\ \bf b$})", R"(\mathbf { \text {$a \\ \mathbf { b }$} })",
     R"(\mathbf { \text {$a \\ \mathbf { b }$} })"},
    {R"(\bf x \left( a & \bf b \right))", R"(\mathbf { x \left ( a & \mathbf { b } \right ) })",
     R"(\mathbf { x \left ( a & \mathbf { b } \right ) })"},
    // Math inside text starts with no font, as a formula of its own.
    {R"(\bf \text{$a \bf b$})", R"(\mathbf { \text {$a \mathbf { b }$} })", R"(\mathbf { \text {$a \mathbf { b }$} })"},
    {R"(\mathbf{\text{$\mathbf{a}$}})", R"(\mathbf { \text {$\mathbf { a }$} })", R"(\mathbf { \text {$\mathbf { a }$} })"},
    // Braces around a style switch.
    {R"(a < {\scriptstyle b})", R"(a < { \scriptstyle b })", R"(a < \scriptstyle b)"},
    {R"(a + {\scriptstyle b})", R"(a + { \scriptstyle b })", R"(a + \scriptstyle b)"},
    {R"(a {\displaystyle \sum})", R"(a { \displaystyle \sum })", R"(a \displaystyle \sum)"},
    {R"({a\bf d}_{}{\scriptstyle x})", R"({ a \mathbf { d } } _ { } \scriptstyle x)", R"({ a \mathbf { d } } _ { } \scriptstyle x)"},
    {R"(\textstyle\it x{\small\vert}))", R"(\textstyle \mathit { x } \mathit { \small \vert } \mathit { ) })",
     R"(\textstyle \mathit { x } \mathit { \small \vert } \mathit { ) })"},
    // LaTeX sets a fraction in a group of its own, an ordinary atom.
    {R"(x {\displaystyle \frac12})", R"(x \displaystyle \frac { 1 } { 2 })", R"(x \displaystyle \frac { 1 } { 2 })"},
    {R"({\scriptstyle a +} b)", R"({ \scriptstyle a + } b)", R"({ \scriptstyle a + } b)"},
    // A cell end that a font brings ends what the switch governs, as a bare one.
    {R"({{}\displaystyle \cdot}\mathrm{&}\over {})", R"(\frac { { } \displaystyle \cdot & } { })",
     R"(\frac { \displaystyle \cdot & } { })"},
    {R"({\displaystyle \sum_i x_i})", R"(\displaystyle \sum _ { i } x _ { i })", R"(\displaystyle \sum _ { i } x _ { i })"},
    // Font runs at the spacing of their edges.
    {R"(\bf {a} , {\it b})", R"(\mathbf { a } , \mathit { b })", R"(\mathbf { a , } \mathit { b })"},
    {R"(a \bf , b)", R"(a , \mathbf { b })", R"(a \mathbf { , b })"},
    {R"({\bf a ,} b)", R"(\mathbf { a , } b)", R"(\mathbf { a , } b)"},
    {R"(\bf a \le {\it b})", R"(\mathbf { a } \leq \mathit { b })", R"(\mathbf { a \leq } \mathit { b })"},
    {R"(\mathrm{\Omega} \mathrm{=} x)", R"(\mathrm { \Omega } \mathrm { = } x)", R"(\mathrm { \Omega = } x)"},
    {R"(\mathrm{op \mathrm{-} PREF})", R"(\mathrm { o p } \mathrm { - } \mathrm { P R E F })",
     R"(\mathrm { o p - P R E F })"},
    // and at the edge of a group of more than one atom, a box of its own,
    // between characters that would kern or join: a group of one atom is
    // that atom, which TeX joins to its neighbour.
    {R"(\bf u p \mathbf{y c} y)", R"(\mathbf { u p } \mathbf { y c } \mathbf { y })", R"(\mathbf { u p y c y })"},
    {R"(\mathrm{A}\mathrm{VV})", R"(\mathrm { A } \mathrm { V V })", R"(\mathrm { A V V })"},
    {R"(\mathrm{ff}\mathrm{i^2})", R"(\mathrm { f f } \mathrm { i ^ { 2 } })", R"(\mathrm { f f i ^ { 2 } })"},
    {R"(x \bf \over u p \mathbf{y \newline c} y)",
     R"(\frac { x } { \mathbf { u p } \mathbf { y { } c } \mathbf { y } })", R"(\frac { x } { \mathbf { u p y c y } })"},
    {R"(\mathbf{p}\mathbf{y} \mathrm{d} x)", R"(\mathbf { p y } \mathrm { d } x)", R"(\mathbf { p y } \mathrm { d } x)"},
    {R"(\mathrm{\mathbf{x} A}\mathrm{V}\mathrm{W})", R"(\mathbf { x } \mathrm { A } \mathrm { V W })",
     R"(\mathbf { x } \mathrm { A V W })"},
};

TEST(FontScopes, CasesAtEveryProfile) {
    for (const Case& c : CASES) {
        SCOPED_TRACE(c.source);
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            EXPECT_EQ(normalised(p, c.source), p < kRenderingKept ? c.kept : c.plain);
            EXPECT_EQ(testing::readback_fault(engine(p), c.source), "");
        }
    }
}

// ---- Generated formulas ---------------------------------------------------------------

constexpr std::array<std::string_view, 5> FONTS{"\\bf", "\\rm", "\\cal", "\\it", "\\sf"};
constexpr std::array<std::string_view, 5> PREFIXES{"\\mathbf", "\\mathrm", "\\mathcal", "\\mathit", "\\mathsf"};
constexpr std::array<std::string_view, 4> SIZES_AND_STYLES{"\\large", "\\small", "\\scriptstyle", "\\displaystyle"};
constexpr std::array<std::string_view, 6> SPACED{",", ";", "=", "<", "+", "\\le"};
constexpr std::array<std::string_view, 3> ENVIRONMENTS{"matrix", "pmatrix", "cases"};

struct Made {
    std::string source;
    std::string kept_holds;  // what the output keeps where rendering is kept
};

class FontScopeMaker : testing::SeededPicker {
public:
    using SeededPicker::SeededPicker;

    Made make() {
        const std::size_t font = pick(FONTS.size());
        const std::string f(FONTS[font]);
        const std::string prefix(PREFIXES[font]);
        switch (pick(4)) {
            case 0: {  // before a script on an empty base, at a list's start or after a style switch
                const std::string lead = pick(2) == 0 ? "" : "a \\scriptstyle ";
                const std::string tail = pick(2) == 0 ? " ^{2} x" : " _{i} y + z";
                if (pick(3) == 0) {  // a size or style, written as a declarative
                    const std::string other(choose(SIZES_AND_STYLES));
                    return {lead + other + tail, other + " { }"};
                }
                return {lead + f + tail, prefix + " {"};
            }
            case 1: {  // in a cell, with a font outside the environment
                const std::string env(choose(ENVIRONMENTS));
                const std::string outside(FONTS[pick(FONTS.size())]);
                return {outside + " \\begin{" + env + "} a & " + f + " b \\end{" + env + "}", "& " + prefix + " { b }"};
            }
            case 2: {  // before punctuation, a relation or a binary at a group's edge
                const std::string spaced(choose(SPACED));
                const std::string other(FONTS[(font + 1 + pick(FONTS.size() - 1)) % FONTS.size()]);
                return {f + " {a} " + spaced + " {" + other + " b}", "{ a } " + spaced.substr(0, 2)};
            }
            default: {  // braces after a relation or binary
                const std::string spaced(choose(SPACED));
                const std::string style(SIZES_AND_STYLES[2 + pick(2)]);
                return {"x " + spaced + " {" + style + " y}", "{ " + style};
            }
        }
    }
};

TEST(FontScopes, GeneratedDeclarativesReadBackAndKeepTheirScope) {
    FontScopeMaker maker(66);
    std::vector<Made> made;
    for (int i = 0; i < 200; ++i) made.push_back(maker.make());
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        std::size_t faults = 0;
        for (const Made& m : made) {
            std::string found = testing::readback_fault(engine(p), m.source);
            if (found.empty() && p < kRenderingKept) {
                const std::string output = normalised(p, m.source);
                if (output.find(m.kept_holds) == std::string::npos) found = "lost \"" + m.kept_holds + "\": " + output;
            }
            if (!found.empty() && faults++ < 10) ADD_FAILURE() << PROFILE_NAMES[p] << ": " << m.source << "\n  " << found;
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p];
    }
}

}  // namespace
}  // namespace quorvel
