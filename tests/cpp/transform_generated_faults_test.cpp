// Faults a generated check found, where the output did not render (or not
// compile) as the source does, or settled only in a second round; every
// expected output at faithful and authoring is one TeX set as its source.
// At every profile the output reads back clean, as the same tree, and
// settles in one round; so does that of a seeded soup of the scopes those
// faults came from.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "profile_cases.hpp"
#include "seeded_picker.hpp"

namespace quorvel {
namespace {

const testing::ProfileCase CASES[] = {
    // bm's `\boldsymbol` stops at `\genfrac` and `\binom` in its argument:
    // the infix stays, in the braces it needs there; `\over` becomes `\frac`,
    // which it sets.
    {R"(\boldsymbol{{a \atop b}} c)", {R"(\boldsymbol { { a \atop b } } c)", nullptr, nullptr, nullptr}},
    {R"(\boldsymbol{{{a \brack b}}})", {R"(\boldsymbol { { a \brack b } })", nullptr, nullptr, nullptr}},
    {R"(\boldsymbol{x + {a \choose b}})", {R"(\boldsymbol { x + { a \choose b } })", nullptr, nullptr, nullptr}},
    {R"(\boldsymbol{x_{a \atop b}})", {R"(\boldsymbol { x _ { a \atop b } })", nullptr, nullptr, nullptr}},
    // A lone row end as an operand is written in its braces, which stay.
    {R"(\boldsymbol{\choose {\\ }})", {R"(\boldsymbol { \choose { \\ } })", nullptr, nullptr, nullptr}},
    {R"(\boldsymbol{{a \over b}})", {R"(\boldsymbol { \frac { a } { b } })", nullptr, nullptr, nullptr}},
    // `\\` in the formula's own list breaks the line and ends no group: a
    // font set before it goes on after it; in an alignment it ends a cell.
    {R"(\bf a \\ b)", {R"(\mathbf { a } \\ \mathbf { b })", nullptr, nullptr, nullptr}},
    {R"(\it \\ b)", {R"(\\ \mathit { b })", nullptr, nullptr, nullptr}},
    {R"(\bf a \\[2pt] b)", {R"(\mathbf { a } \\[2pt] \mathbf { b })", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix} \bf a \\ b \end{matrix})",
     {R"(\begin {matrix} \mathbf { a } \\ b \end {matrix})", nullptr, nullptr, nullptr}},
    // A binary operator, relation or punctuation that ends a group is spaced
    // from nothing after it: the group stays where something follows.
    {R"({a =} b)", {R"({ a = } b)", nullptr, R"(a = b)", nullptr}},
    {R"({a ,} b)", {R"({ a , } b)", nullptr, R"(a , b)", nullptr}},
    {R"(\left({V -} \mathbf{V}\right))",
     {R"(\left ( { V - } \mathbf { V } \right ))", nullptr, R"(\left ( V - \mathbf { V } \right ))", nullptr}},
    {R"(x {a +})", {R"(x a +)", nullptr, nullptr, nullptr}},
    // So does a command of such a class, or one scripted.
    {R"({a\le}b)", {R"({ a \leq } b)", nullptr, R"(a \leq b)", nullptr}},
    {R"({x \in} A)", {R"({ x \in } A)", nullptr, R"(x \in A)", nullptr}},
    {R"({a \cdot} b)", {R"({ a \cdot } b)", nullptr, R"(a \cdot b)", nullptr}},
    {R"({a\le^2}b)", {R"({ a \leq ^ { 2 } } b)", nullptr, R"(a \leq ^ { 2 } b)", nullptr}},
    {R"({a\sum}b)", {R"({ a \sum } b)", nullptr, R"(a \sum b)", nullptr}},
    {R"(x {a \in})", {R"(x a \in)", nullptr, nullptr, nullptr}},
    // Font and style scopes the output reads as the source: a script base
    // lowering leaves brace-less is a brace group; a declarative that
    // governs nothing keeps no braces before it; one written before a run
    // that needs prefixes alone does not reach past it. A scripted base is
    // written in braces, an ordinary atom.
    {R"({{{{\bf i\vb{\vb\vb{b{}}_{}}}}}})",
     {R"({ \mathbf { i \vb { \vb { \vb { b { } } } _ { } } } })", R"({ \mathbf { i { b { } } _ { } } })",
      R"(\mathbf { i b _ { } })", nullptr}},
    {R"(\mathbf{\mathbf{\mathbf{]'}_0^1}{}x})",
     {R"(\mathbf { { ]' } _ { 0 } ^ { 1 } { } x })", nullptr, R"(\mathbf { { ]' } _ { 0 } ^ { 1 } x })", nullptr}},
    {R"({\textstyle a}\bf\over b)", {R"(\frac { \textstyle a } { \mathbf { b } })", nullptr, nullptr, nullptr}},
    {R"(\frac{{\scriptstyle a}\vb{\rm}}{b})",
     {R"(\frac { { \scriptstyle a } \vb { } } { b })", R"(\frac { \scriptstyle a } { b })", nullptr, nullptr}},
    {R"({{}{}\textstyle\it\,{\small\vert})\over{{}}\left(\right.})",
     {R"(\frac { { } { } \textstyle \mathit { \, } \mathit { \small \vert } \mathit { ) } } { \mathit { { } \left ( \right . } })",
      nullptr, R"(\frac { \textstyle \mathit { \, } \mathit { \small \vert } \mathit { ) } } { \mathit { \left ( \right . } })",
      nullptr}},
    // A delimiter that a leaf command writes ends a bracket argument as a
    // `]` does: the braces that hide it stay.
    {R"(\csc[{\big]}])", {R"(\csc [ { \big ] } ])", nullptr, nullptr, R"(\csc [ { ] } ])"}},
    {R"(\csc[x{\Bigr]}])", {R"(\csc [ x { \Bigr ] } ])", nullptr, nullptr, nullptr}},
    {R"(\sqrt[{\big]}]{x})", {R"(\sqrt [ { \big ] } ] { x })", nullptr, nullptr, R"(\sqrt [ { ] } ] { x })"}},
    // Spacing after a control word that ends its text once the texts
    // after it are merged, across empty groups that go, is written as a
    // control space, and the group that parted it from the word goes.
    {R"(\textbf{\e\textbf{ } })", {R"(\textbf {\e\textbf{ } })", nullptr, R"(\textbf {\e\ })", nullptr}},
    {R"(\text{\e{} {} })", {R"(\text {\e{} {} })", nullptr, R"(\text {\e\ })", nullptr}},
    {R"(\text{\e{}{} {{}} })", {R"(\text {\e{}{} {} })", nullptr, R"(\text {\e\ })", nullptr}},
    {R"(\text{{\e} {}})", {R"(\text {{\e} {}})", nullptr, R"(\text {\e\ })", nullptr}},
    {R"(\text{\e{ }{ }})", {R"(\text {\e{ }{ }})", nullptr, R"(\text {\e\ })", nullptr}},
    {R"(\text{{ }{{}}\e{} { }})", {R"(\text { {}\e{} { }})", nullptr, R"(\text { \e\ })", nullptr}},
    {R"(\text{\e{} {} x})", {R"(\text {\e{} {} x})", nullptr, R"(\text {\e{} x})", nullptr}},
    // amsmath sets the delimited matrices and `cases` between `\left` and
    // `\right`, as inner atoms: braces around one stay, as around the pair.
    {R"(a {\begin{cases} a \end{cases}} b)",
     {R"(a { \begin {cases} a \end {cases} } b)", nullptr, R"(a \begin {cases} a \end {cases} b)", nullptr}},
    {R"({\begin{pmatrix} a \end{pmatrix}} , b)",
     {R"({ \begin {pmatrix} a \end {pmatrix} } , b)", nullptr,
      R"(\left ( \begin {matrix} a \end {matrix} \right ) , b)", nullptr}},
};

TEST(GeneratedFaults, OutputsAtEveryProfile) {
    testing::expect_outputs_at_every_profile(CASES);
}

// ---- A soup of scopes ----------------------------------------------------------------------

// Font, size and style declaratives among brace groups, prefixes and
// arguments, infix fractions, row ends, scripts, and relations and binary
// operators written as characters or commands.
constexpr std::array<std::string_view, 9> DECLARATIVES{
    "\\bf ", "\\rm ", "\\it ", "\\cal ", "\\small ", "\\large ", "\\scriptstyle ", "\\displaystyle ", "\\textstyle "};
constexpr std::array<std::string_view, 4> INFIXES{"\\over ", "\\atop ", "\\above1pt ", "\\choose "};
constexpr std::array<std::string_view, 2> ROW_ENDS{"\\\\ ", "\\cr "};
constexpr std::array<std::string_view, 22> ATOMS{
    "a", "b", "x", "2", "=", "+", ",", "\\le ", "\\in ", "\\cdot ", "\\sum ", "\\alpha ", "(", ")", "\\vert ",
    "'", "*", "[", "]", "\\mathbf{a}", "\\mathrm{=}", "{}"};
// `@` stands for a nested formula.
constexpr std::array<std::string_view, 4> SCRIPTS{"^{@}", "_{@}", "^2", "_{}"};
constexpr std::array<std::string_view, 12> WRAPPERS{
    "{@}", "{@}", "{@}", "\\mathbf{@}", "\\mathit{@}", "\\frac{@}{@}", "\\substack{@}",
    "\\begin{matrix}@\\end{matrix}", "\\sqrt{@}", "\\vb{@}", "\\left(@\\right)", "\\text{$@$}"};

class ScopeSoup : testing::SeededPicker {
public:
    using SeededPicker::SeededPicker;

    // One to four pieces, nested at most three levels deep.
    std::string formula(int depth = 0) {
        std::string out;
        for (std::size_t i = 0, n = 1 + pick(4); i < n; ++i) {
            const std::size_t kind = pick(10);
            if (kind < 2) out += choose(DECLARATIVES);
            else if (kind < 4 && depth < 3) out += expand(choose(WRAPPERS), depth);
            else if (kind == 4) out += choose(INFIXES);
            else if (kind == 5) out += choose(ROW_ENDS);
            else if (kind == 6 && !out.empty() && depth < 3) out += expand(choose(SCRIPTS), depth);
            else out += choose(ATOMS);
        }
        return out;
    }

private:
    std::string expand(std::string_view shape, int depth) {
        std::string out;
        for (const char c : shape) out += c == '@' ? formula(depth + 1) : std::string(1, c);
        return out;
    }
};

TEST(GeneratedFaults, SoupOfScopesReadsBackAndSettles) {
    ScopeSoup soup(0x73636f70);
    std::vector<std::string> inputs;
    std::size_t made = 0;
    while (inputs.size() < 300) {
        std::string formula = soup.formula();
        ++made;
        const auto parsed = testing::engine(0).parser().parse_with(formula, testing::engine(0).default_normalize_config().parse);
        if (parsed.document && parsed.diagnostics.empty()) inputs.push_back(std::move(formula));
    }
    EXPECT_GT(inputs.size() * 4, made * 3) << "only " << inputs.size() << " of " << made << " formulas parse clean";
    for (std::size_t p = 0; p < testing::PROFILES.size(); ++p) {
        std::size_t faults = 0;
        for (const std::string& input : inputs) {
            const std::string found = testing::readback_fault(testing::engine(p), input);
            if (!found.empty() && faults++ < 10)
                ADD_FAILURE() << testing::PROFILE_NAMES[p] << ":\n  input:  " << input << "\n  " << found;
        }
        EXPECT_EQ(faults, 0u) << testing::PROFILE_NAMES[p] << ": of " << inputs.size() << " formulas";
    }
}

}  // namespace
}  // namespace quorvel
