// Faults a generated check found, where the output did not render (or not
// compile) as the source does; every expected output at faithful and
// authoring is one TeX set as its source. At every profile the output
// reads back clean, as the same tree, and settles in one round.
#include <gtest/gtest.h>

#include "profile_cases.hpp"

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

}  // namespace
}  // namespace quorvel
