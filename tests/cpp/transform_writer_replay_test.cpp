// Formulas whose normalised text once glued a control word to the letter
// after it, or ended an argument that pairs its delimiters too early. At
// every profile the output reads back clean, as the same tree, and
// normalises to itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "profile_engines.hpp"
#include "readback_check.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

struct ReplayCase {
    const char* source;
    const char* faithful;  // the output at faithful, where it is pinned
};

class WriterReplay : public ::testing::TestWithParam<ReplayCase> {};

TEST_P(WriterReplay, ReadsBackAsTheSameTreeAndSettles) {
    const ReplayCase& c = GetParam();
    for (std::size_t p = 0; p < PROFILES.size(); ++p)
        EXPECT_EQ(testing::readback_fault(engine(p), c.source), "") << PROFILE_NAMES[p];
    if (c.faithful != nullptr) {
        const auto output = engine(1).normalize_with(c.source, engine(1).default_normalize_config());
        ASSERT_TRUE(output);
        EXPECT_EQ(*output, c.faithful);
    }
}

// A letter after a control word, in an operator name's text spacing: the
// delimiter of a `\right`, of a size command, of a fence a rule built.
INSTANTIATE_TEST_SUITE_P(
    ControlWords, WriterReplay,
    ::testing::Values(
        ReplayCase{"\\operatorname{\\left( a \\right\\rangle b}", "\\operatorname { \\left ( a \\right \\rangle b}"},
        ReplayCase{"\\operatorname{\\left\\lvert a\\right\\rvert y'}",
                   "\\operatorname { \\left \\lvert a \\right \\rvert y'}"},
        ReplayCase{"\\operatorname{\\left\\lvert a\\right\\rvert y^{2}}", nullptr},
        ReplayCase{"\\operatorname{\\left\\lvert a\\right\\rvert y_{2}}", nullptr},
        ReplayCase{"\\operatorname{\\bigl\\langle b}", "\\operatorname {\\bigl\\langle b}"},
        ReplayCase{"\\operatorname{\\ev{a}{b}}", nullptr},
        ReplayCase{"\\operatorname{\\foo x}", "\\operatorname {\\foo x}"}));

// A bar inside an argument a bar delimits is written `\vert`; a derivative
// whose order does not pair its brackets stays, as does an `\eval` without
// a fence to build.
INSTANTIATE_TEST_SUITE_P(
    DelimitedArguments, WriterReplay,
    ::testing::Values(
        ReplayCase{"\\qty|\\abs{a}|", "\\qty | \\left \\vert a \\right \\vert |"},
        ReplayCase{"\\qty|\\abs*{a}|", "\\qty | \\vert a \\vert |"},
        ReplayCase{"\\qty|\\eval{x}_0^1|", nullptr},
        ReplayCase{"\\qty|\\ketbra{}{\\eval{}}|", nullptr},
        ReplayCase{"\\mqty|\\begin{vmatrix}a\\end{vmatrix}|", nullptr},
        ReplayCase{"\\qty|\\norm{a}|", nullptr},
        // A bar that pairs with an opening inside stays a bar.
        ReplayCase{"{\\eval(({}||x''}", nullptr},
        ReplayCase{"\\qty(\\abs{a})", "\\qty ( \\left | a \\right | )"},
        ReplayCase{"\\mqty[\\dv[{[}]{]f}{x}]", "\\mqty [ \\dv [ [ ] { ] f } { x } ]"},
        ReplayCase{"\\qty[\\dv*[[]]]", nullptr},
        ReplayCase{"\\qty[\\pdv[[]x{x}{x}\\Biggr]]", nullptr},
        ReplayCase{"\\qty(\\dv[{(}]{f}{x}))", "\\qty ( \\dv [ ( ] { f } { x } ) )"},
        ReplayCase{"\\mqty[\\dv[{[a]}]{f}{x}]",
                   "\\mqty [ \\frac { \\mathrm { d } ^ { [ a ] } f } { \\mathrm { d } x ^ { [ a ] } } ]"},
        ReplayCase{"\\eval x|", "\\eval x |"}));

// Removals and renames that once settled only in a second round, or exposed
// a token to an open slot of the command before them: primes after a group
// kept in its list or after a declarative, which would take them as scripts;
// `*` after a command with a star slot; a size command before the delimiter
// a quantity takes; primes of a superscript after a base prime in an
// operator name, which glued would read back as one run; spacing dropped
// before what an open slot would take.
INSTANTIATE_TEST_SUITE_P(
    Removals, WriterReplay,
    ::testing::Values(
        ReplayCase{"{\\sigma}{'}", "{ \\sigma } { ' }"}, ReplayCase{"\\pi^{}{x}{'}", "\\pi ^ { } { x } { ' }"},
        ReplayCase{"{\\expval{x}}{\\:}\\prime", nullptr}, ReplayCase{"x^{\\prime{}\\prime}", nullptr},
        ReplayCase{"\\displaystyle{'}", "\\displaystyle { ' }"}, ReplayCase{"\\displaystyle{'}\\prime", nullptr},
        ReplayCase{"\\mqty\\ast", "\\mqty \\ast"}, ReplayCase{"\\mqty*\\ast", "\\mqty* *"},
        ReplayCase{"\\qty\\big(\\pmqty{)})", nullptr},
        ReplayCase{"\\operatorname{' '^m}", "\\operatorname {' '^ { m }}"},
        // a dropped space, hint or null-sized delimiter before what would
        // fill the slot of the command before it
        ReplayCase{"\\qty\\quad (x", nullptr}, ReplayCase{"\\sin\\quad\\qquad[C", nullptr},
        ReplayCase{"\\mqty\\quad*", nullptr}, ReplayCase{"\\sin\\strut[C", nullptr},
        ReplayCase{"\\qty\\big.(x", nullptr}, ReplayCase{"\\qty\\quad\\quad x\\quad|a|", nullptr},
        // a null-sized delimiter as a script base, which would leave an
        // empty group there
        ReplayCase{"\\qty\\big.'", "\\qty \\big .'"}, ReplayCase{"\\expval{a}\\big.'", nullptr},
        ReplayCase{"\\qty\\big.^2", nullptr},
        // spacing dropped between a superscript and primes
        ReplayCase{"x^2\\quad\\quad\\prime", nullptr}, ReplayCase{"\\pdv[]{\\quad\\quad\\prime}{x}", nullptr},
        // spacing a merge made, dropped in a list a drop swept before in the pass
        ReplayCase{"\\enspace x^2\\,\\,\\,\\,\\,\\,\\prime", nullptr},
        ReplayCase{"\\enspace\\qty\\,\\,\\,\\,\\;\\:(x", nullptr},
        ReplayCase{"\\quad\\sin\\enspace\\enspace\\quad[C\\,\\,\\,\\,\\,\\,'", nullptr},
        ReplayCase{"\\text{a\\enspace}\\enspace\\text{\\quad\\quad b}\\;\\:\\;\\:\\text{c}", nullptr},
        // the bare delimiters of a starred shorthand beside an open slot
        ReplayCase{"\\qty\\abs*{x}", "\\qty \\abs* { x }"}, ReplayCase{"\\abs*{x\\qty}", "\\abs* { x \\qty }"},
        ReplayCase{"\\sin\\bqty*{x}", nullptr}, ReplayCase{"\\qty\\pqty*{x}", nullptr},
        ReplayCase{"\\abs*{\\mathbf{x{}}{}\\mathbf{y}'\\qty}|{}|", nullptr},
        ReplayCase{"\\qty{x}\\abs*{y}", "\\qty { x } | y |"},
        // a scripted prime an empty group parted from what came before
        ReplayCase{"{}\\prime _{a}", nullptr}, ReplayCase{"{}\\cal \\prime _{a}", nullptr}));

// Attribute runs and ellipses decided before a later pass took something
// out of the list: an empty group after a run written with a declarative,
// or between two runs; an attribute prefix a dropped space left empty
// before the atom an ellipsis reads. And primes that lowering put right
// after a declarative it wrote.
INSTANTIATE_TEST_SUITE_P(
    LateRemovals, WriterReplay,
    ::testing::Values(
        ReplayCase{"{\\displaystyle1}{}", "{ \\displaystyle 1 } { }"},
        ReplayCase{"\\displaystyle{}\\rm x", nullptr}, ReplayCase{"\\displaystyle{\\cal x}{}\\cal +", nullptr},
        ReplayCase{"\\displaystyle{|\\prime x}+\\alpha ^{{}}{\\cal x'|}{}\\cal +", nullptr},
        ReplayCase{"\\large\\mathbf{'}", "\\mathbf { \\large { ' } }"},
        ReplayCase{"\\large\\mathbf{'\\strut\\bf '}\\large +", nullptr},
        ReplayCase{"{\\small\\,}{{\\bf\\alpha}}\\bf{}\\,", nullptr}, ReplayCase{"\\text{\\cal {}\\bf x}", nullptr},
        ReplayCase{"\\textbf{{}},", nullptr},
        ReplayCase{"\\dots{\\sf\\quad}x", "\\dots \\mathsf { \\quad } x"},
        ReplayCase{"\\scriptstyle\\begin{matrix}{\\cal{\\dots}}{\\strut}\\end{matrix}", nullptr},
        ReplayCase{"{\\bf\\dots\\mathsf{\\nobreak}_{}}", nullptr},
        ReplayCase{"\\mathcal{\\dots\\bf\\nobreak\\mathcal2}", nullptr},
        ReplayCase{"\\dots\\mathsf\\quad\\mathbf{\\nobreak}=", nullptr},
        // what a removed declarative or prefix kept from an open slot
        ReplayCase{"\\bf\\mathbf{\\ev{}}{}", nullptr}, ReplayCase{"{\\bf\\dv{}\\bf{}}", nullptr},
        ReplayCase{"\\bf{\\ev{}\\bf{}}", nullptr}, ReplayCase{"\\bf{\\ev{}\\mathbf{\\ev{}}{}}", nullptr},
        ReplayCase{"{\\braket(\\displaystyle@}{}", nullptr}, ReplayCase{"{{\\braket(\\displaystyle'}}", nullptr},
        // a prefix lowered inside a neighbour: its first token is new
        ReplayCase{"\\braket{}\\mathsf{}'", nullptr},
        // a row end that would take the `[` after it: the `[` goes into
        // braces, and the row end stays in the group whose cells it ends,
        // also where a rule moves that group after lowering
        ReplayCase{"x{{\\displaystyle y}\\\\[}", "x { { \\displaystyle y } \\\\[0pt] [ }"},
        ReplayCase{"a \\over c{{\\displaystyle y}\\\\[}", "\\frac { a } { c { { \\displaystyle y } \\\\[0pt] [ } }"},
        // spacing a removal leaves alone before a text's closing brace
        ReplayCase{"\\text{\\g {}}", nullptr}, ReplayCase{"\\text{\\t \\tt}", "\\text {\\t}"},
        ReplayCase{"\\text{\\x{ }}", nullptr}));

// Decisions taken on the list as the next reading will see it: primes that
// come to follow an item are its script, or one run with a prime before
// them; a script base that holds one atom loses its braces, so the atom is
// what a command before it could take.
INSTANTIATE_TEST_SUITE_P(
    SettledNeighbours, WriterReplay,
    ::testing::Values(
        ReplayCase{"x^{'{'}}", "x ^ { '' }"}, ReplayCase{"{\\prime{}\\prime}_x", nullptr},
        ReplayCase{"{!{'}}", "!'"}, ReplayCase{"{!{'}x}", "!' x"},
        ReplayCase{"\\mathbf{x}{}\\mathbf({'}", "\\mathbf { x } { } \\mathbf { ( } { ' }"},
        ReplayCase{"\\mathbf+{}\\mathbf\\prime \\prime ", nullptr}, ReplayCase{"{{\\cal x}{}\\cal x}\\prime ", nullptr},
        ReplayCase{"\\mathbf({}\\mathbf]{'}", nullptr}, ReplayCase{"{\\mathbf{x}}{\\bf x}\\prime ", nullptr},
        ReplayCase{"{\\mathbf{x}}\\mathbf{y}{'x}", nullptr}, ReplayCase{"{'\\dv{}}{x}_0", nullptr},
        ReplayCase{"{'\\dv{}}{x}^{}", nullptr}, ReplayCase{"{\\alpha \\qty}|{|'\\dv{x}}{y}_0", nullptr},
        ReplayCase{"\\dv{}{}{x}_0", nullptr},
        // in a bracket argument, a script base of one atom that leaves its
        // braces; an unknown command's optional run whose `[` bears a prime,
        // or follows a space in text
        ReplayCase{"\\sin[{'\\dv{}}{p}_1]", nullptr}, ReplayCase{"\\dv[{'\\dv{}}{l}_0]{f}", nullptr},
        ReplayCase{"\\n[{']}{p}", "\\n [' ] { p }"}, ReplayCase{"\\text{\\y[]{2}}", "\\text {\\y[]{2}}"},
        ReplayCase{"\\mmlToken}{\\s[]{'}}", nullptr}));

// What a rule writes, read where it lands: a script base the writer braces
// after a command whose brace slot stands open; a body whose first item an
// environment's optional slot would take; a delimiter that an expansion
// inside a matrix builder writes twice.
INSTANTIATE_TEST_SUITE_P(
    RuleOutputs, WriterReplay,
    ::testing::Values(
        ReplayCase{"{\\qty}\\ev{}{}^|", nullptr}, ReplayCase{"{(\\dv{}}{*\\cal\\}}_{}", nullptr},
        ReplayCase{"\\eqalign[", "\\begin {aligned} { [ } \\end {aligned}"},
        ReplayCase{"\\eqalign{[a]&b\\cr}", nullptr},
        ReplayCase{"\\pmqty{(\\braket)}", "\\pmqty { ( \\left \\langle ) \\middle \\vert ) \\right \\rangle }"},
        ReplayCase{"\\bmqty{[{{\\braket{{]}}}}}", nullptr},
        ReplayCase{"\\pmqty{\\begin{vmatrix}\\qty\\big( \\braket{a ) '}2\\end{vmatrix}}", nullptr},
        ReplayCase{"\\pmqty{\\pmqty{a}\\bmqty{b}}", "\\mqty ( \\mqty ( a ) \\mqty [ b ] )"},
        // content an expansion writes twice, in an argument that pairs it
        ReplayCase{"\\mqty[{[}\\braket{a]}]", "\\mqty [ [ \\braket { a ] } ]"},
        ReplayCase{"\\qty({(}\\ev{A}{)})", nullptr},
        // two fences in braces as a script base, after an open brace slot
        ReplayCase{"\\qty\\ev{A}{B}^2", "\\qty \\ev { A } { B } ^ { 2 }"},
        ReplayCase{"\\qty\\mel{a}{b}{c}^2", nullptr},
        // a run of spacers a removal extends, merged from its first
        ReplayCase{"\\;\\;{\\:2}", nullptr}, ReplayCase{"\\,\\:{\\;]}", nullptr}));

// What the lowering after the rules brings together: runs of one font that
// a dropped spacer or break parted join, and the spacers, quads, primes and
// ellipses in them meet a neighbour the rules have not seen.
INSTANTIATE_TEST_SUITE_P(
    RelowerJoins, WriterReplay,
    ::testing::Values(
        ReplayCase{"{\\bf\\;\\mathrm{\\quad\\mathbf{\\:}}}", nullptr},
        // an ellipsis ending a prefix body before a prefix of the same name,
        // whose body lowering writes as its one node: a character, a
        // delimited group
        ReplayCase{"{\\mathbf{\\dots}\\bf x\\over b}", "\\frac { \\mathbf { \\ldots } \\mathbf { x } } { \\mathbf { b } }"},
        ReplayCase{"x^{\\vb{y\\vb{b\\dots}\\left]\\right(}}", nullptr},
        ReplayCase{"\\mathbf{\\;\\;}\\mathrm{\\quad}\\mathbf{\\:}", nullptr},
        ReplayCase{"{\\bf\\;}\\quad{\\bf\\:}", nullptr},
        ReplayCase{"\\mathbf{\\;}\\nobreak\\mathbf{\\:}", nullptr},
        ReplayCase{"\\mathbf{\\,}\\strut\\mathbf{\\,}\\strut\\mathbf{\\,}", nullptr},
        ReplayCase{"\\mathbf{a\\,}\\mathrm{\\strut}\\mathbf{\\,\\,b}", nullptr},
        ReplayCase{"\\mathbf{\\quad}\\strut\\mathbf{\\quad}", nullptr},
        ReplayCase{"\\mathbf{\\enspace}\\allowbreak\\mathbf{\\enspace}", nullptr},
        ReplayCase{"\\mathbf{x'}\\strut\\mathbf{'}", nullptr},
        ReplayCase{"\\mathbf{\\dots}\\strut\\mathbf{+}", nullptr},
        ReplayCase{"\\mathbf{{\\bf\\;}\\nobreak{\\bf\\:}}", nullptr},
        ReplayCase{"{\\rm\\quad{\\bf\\;}\\quad{\\bf\\:}}", nullptr},
        // runs of one prefix that flattening brings together across an
        // empty group
        ReplayCase{"{{\\mathbf{x}}{}\\mathbf{|}}", nullptr}, ReplayCase{"{\\mathbf{x}}{}\\mathbf{y}{}\\mathbf{z}", nullptr}));

// Primes decided as the next reading sees them: a superscript of primes
// that flattening joins into one run, before a `\prime` that follows it; a
// prefix that a prime follows, which is its script base and no prefix of
// the list; a group of one member that a prime follows, decided as the
// script base it becomes.
INSTANTIATE_TEST_SUITE_P(
    PrimesAsRead, WriterReplay,
    ::testing::Values(
        ReplayCase{"^{'{'}}{\\prime x}'", "{ } ^ { '' } { \\prime x }'"},
        ReplayCase{"{}^{'{'}}{{\\prime x'}'\\;}", nullptr}, ReplayCase{"{^{'{'}}{\\prime\\qty}(}", nullptr},
        ReplayCase{"x^{{'}{'}}{\\prime x}", nullptr}, ReplayCase{"x^{'{}'}{\\prime x}", nullptr},
        ReplayCase{"x^{'{\\prime}}{\\prime x}", nullptr},
        // a prefix before a prime
        ReplayCase{"{\\cal{{\\bf{;}}\\prime}}", "\\mathcal { { \\mathbf { ; } \\prime } }"},
        ReplayCase{"{\\it{{\\bf]}\\prime}}", nullptr}, ReplayCase{"{\\cal{{\\bf{;}}\\prime x}}", nullptr},
        ReplayCase{"{\\rm{{\\bf a}_1\\prime}}", nullptr}, ReplayCase{"x^{\\cal{{\\bf{;}}\\prime}}", nullptr},
        // a group before a prime
        ReplayCase{"{\\:}{'\\bf\\e}", "\\:' \\mathbf { \\e }"},
        ReplayCase{"{\\alpha}{'\\bf x}", "\\alpha' \\mathbf { x }"},
        ReplayCase{"{\\sum}{'\\bf x}", "{ \\sum }' \\mathbf { x }"}, ReplayCase{"{\\:}{''\\bf\\e}", nullptr},
        ReplayCase{"\\alpha{\\:}{'\\bf\\e}", nullptr}, ReplayCase{"{a\\over b}{'\\bf x}", nullptr}));

// What lowering and flattening bring together after the rules: spacers a
// removed brace or command kept apart, members of an unwrapped group and
// their neighbours, a derivative or fraction whose argument loses a brace.
// The rules go over the whole tree again, so each settles in one round.
INSTANTIATE_TEST_SUITE_P(
    BroughtTogether, WriterReplay,
    ::testing::Values(
        ReplayCase{"\\alpha\\;\\;{\\:}", nullptr}, ReplayCase{"\\dv[\\prime\\prime\\rm \\allowbreak]{f}{x}", nullptr},
        ReplayCase{"{{}^{\\rm\\prime\\prime}\\over{b}}", nullptr}, ReplayCase{"{\\over{\\bf-2}\\prime}", nullptr},
        ReplayCase{"{\\expval{}\\mathstrut{\\textstyle]} \\over a}", nullptr},
        ReplayCase{"\\begin{pmatrix}\\textstyle\\rm(&\\prime\\end{pmatrix}", nullptr},
        ReplayCase{"\\begin{pmatrix}{\\displaystyle[}\\\\\\prime{\\rm]}\\end{pmatrix}", nullptr},
        ReplayCase{"\\begin{matrix}\\scriptstyle \\mathbf{\\;} & \\prime\\end{matrix}", nullptr},
        ReplayCase{"{{{}\\begin{pmatrix}{}\\end{pmatrix}\\over{\\displaystyle\\dots{\\cal)}}{}{{}}}}", nullptr},
        ReplayCase{"\\mathbf{\\;}\\mathbf{\\:}", nullptr}, ReplayCase{"{\\bf\\quad}\\mathbf{\\quad}", nullptr},
        ReplayCase{"\\mathbf{\\quad\\quad\\alpha}\\mathbf{\\;}", nullptr}, ReplayCase{"{\\quad}\\quad x", nullptr},
        ReplayCase{"\\quad{}\\quad x\\quad", nullptr}, ReplayCase{"\\sqrt{\\frac{{a}}{b}}", nullptr},
        ReplayCase{"{}\\prime_a", nullptr}, ReplayCase{"\\bf{a}b", nullptr},
        // a spacer as a script base leaves an empty group, whose brace the
        // item before would take
        ReplayCase{"\\expval{a}\\quad'", nullptr}, ReplayCase{"\\expval{a}\\quad^2", nullptr},
        ReplayCase{"\\expval{a}\\,_1", nullptr},
        // a group whose members hold a cell separator, which out of its
        // braces (flattened or lowered) would join the cells of the list
        // around
        ReplayCase{"\\displaystyle{\\\\ x}", "\\displaystyle { \\\\ x }"}, ReplayCase{"a\\rm{x\\\\ y}", nullptr},
        ReplayCase{"\\text{$\\displaystyle{\\\\sec}$}", nullptr}, ReplayCase{"a{{\\displaystyle\\\\}\\\\}", nullptr},
        ReplayCase{"{\\bf a \\\\ b}", nullptr}, ReplayCase{"v{{\\e{{{{{{{\\displaystyle\\\\}}\\\\}}}}}}}", nullptr},
        // the character `\&` bearing scripts, which written as the cell
        // separator `&` would end a cell and leave them an empty base
        ReplayCase{"\\&_x", "\\& _ { x }"}, ReplayCase{"\\begin{matrix}a\\&' & b\\end{matrix}", nullptr},
        ReplayCase{"{\\&}^2", "\\& ^ { 2 }"}, ReplayCase{"\\sqrt\\&", nullptr}, ReplayCase{"\\operatorname{a\\&b}", nullptr},
        ReplayCase{"\\text{a\\&b \\&c}", "\\text {a\\&b \\&c}"}));

// Declaratives the right operand of an infix is given from its left one,
// in front of primes, spacing, scripts and a group a rule leaves as a base.
INSTANTIATE_TEST_SUITE_P(
    InfixFonts, WriterReplay,
    ::testing::Values(
        ReplayCase{"{\\bf a \\over 'b}", "\\frac { \\mathbf { a } } { \\mathbf { ' b } }"},
        ReplayCase{"{\\bf a \\over \\prime}", nullptr}, ReplayCase{"{\\large a \\over{'}}", nullptr},
        ReplayCase{"{\\cal a \\choose \\;b}", nullptr}, ReplayCase{"{\\tt\\over\\qty(b)}", nullptr},
        ReplayCase{"{\\it a \\atop{b}{}_2}", nullptr}, ReplayCase{"{\\bf a\\over\\text{b}}", nullptr},
        ReplayCase{"{\\sf\\displaystyle a\\over\\scriptstyle b}", nullptr},
        ReplayCase{"\\left(\\rm a\\over b\\right)", "\\left ( \\frac { \\mathrm { a } } { \\mathrm { b } } \\right )"}));

// Braces as the next reading sees them: a scripted script base, which the
// writer braces; braces that flattening keeps in an environment body, which
// the `\prime` rename asks about, and the brace an ellipsis keeps where
// lowering parts it from the end of a cell; an item before a bracket closer
// that flattening braces, which would take those braces; a text group that
// keeps a `\)` from the `\(` outside it.
INSTANTIATE_TEST_SUITE_P(
    BracesAsRead, WriterReplay,
    ::testing::Values(
        ReplayCase{"\\mathbf{\\mathbf{K'}_{l}}", "\\mathbf { { K' } _ { l } }"},
        ReplayCase{"\\mathbf{\\mathbf{x_a}^{b}}", "\\mathbf { { x _ { a } } ^ { b } }"},
        ReplayCase{"\\bf{{\\vb{x'}^{}}}", "\\mathbf { { x' } ^ { } }"},
        ReplayCase{"\\begin{matrix}^{{'}}\\prime\\end{matrix}", nullptr},
        ReplayCase{"\\begin{matrix}x^{'{'}}\\prime\\end{matrix}", nullptr},
        ReplayCase{"\\begin{matrix} {0} \\prime & 1 \\end{matrix}", nullptr},
        ReplayCase{"\\begin{matrix}x^{{\\prime}}\\end{matrix}", "\\begin {matrix} x ^ { { \\prime } } \\end {matrix}"},
        ReplayCase{"\\begin{pmatrix}\\quad^{{}\\prime}\\end{pmatrix}",
                   "\\begin {pmatrix} \\quad ^ { { } \\prime } \\end {pmatrix}"},
        ReplayCase{"\\begin{pmatrix}{\\displaystyle \\dots} & b \\end{pmatrix}",
                   "\\begin {pmatrix} \\displaystyle { \\ldots } & b \\end {pmatrix}"},
        ReplayCase{"\\begin{pmatrix}{\\displaystyle a+\\dots} \\\\ b \\end{pmatrix}",
                   "\\begin {pmatrix} \\displaystyle a + { \\ldots } \\\\ b \\end {pmatrix}"},
        ReplayCase{"\\sqrt[\\expval{a} \\norm{b ]}]{c}",
                   "\\sqrt [ { \\expval { a } } { \\left \\| b ] \\right \\| } ] { c }"},
        ReplayCase{"\\sqrt[\\expval{a} \\expval{x} \\bqty{b}]{c}", nullptr},
        ReplayCase{"\\text{\\({\\cal\\)}}", "\\text {\\({\\cal\\)}}"},
        // a prefix that primes come to follow, once an empty group or the
        // braces around them have gone, is their script base
        ReplayCase{"{\\cal{{\\bf c{}\\quad}\\prime}}", nullptr},
        ReplayCase{"{{{}}{{\\bf b}}{\\bf b}}{'}", "{ } { \\mathbf { b } } \\mathbf { b } { ' }"},
        ReplayCase{"{x{\\bf b}}{\\bf b}{'}", nullptr},
        // a group kept after an unknown command that primes come to follow
        ReplayCase{"{{\\{\\x{]}}{'\\bf p}}", "{ \\{ \\x { ] } }' \\mathbf { p }"}));
// Cells: an infix command's operands end at `&`, `\\` or `\cr`, and a
// script after one of them has an empty base; a separator that braces keep
// inside an operand or a script base stays inside them.
INSTANTIATE_TEST_SUITE_P(
    Cells, WriterReplay,
    ::testing::Values(
        ReplayCase{"\\pmatrix{a \\over b &' c \\cr ^2 d \\cr}",
                   "\\begin {pmatrix} \\frac { a } { b } &' c \\\\ { } ^ { 2 } d \\\\ \\end {pmatrix}"},
        ReplayCase{"\\begin{matrix} a \\over x {b & c} \\end{matrix}", nullptr},
        ReplayCase{"a \\over x {b \\\\ c}", nullptr}, ReplayCase{"{a \\over b}{'\\bf x} & c", nullptr},
        ReplayCase{"\\begin{aligned} \\rm x &'= a \\over \\bf b \\\\ &^2 \\end{aligned}",
                   "\\begin {aligned} \\mathrm { x } & \\frac { ' = a } { \\mathbf { b } } \\\\ & { } ^ { 2 } \\end {aligned}"},
        ReplayCase{"\\begin{cases} {}' \\over x & \\scriptstyle a \\\\' \\cr \\end{cases}", nullptr},
        // a braced separator before scripts, which out of its braces would
        // leave them an empty base
        ReplayCase{"{&}^2", "{ & } ^ { 2 }"}, ReplayCase{"x{\\\\}'", "x { \\\\ }'"},
        ReplayCase{"{{\\cr}}_1 y", nullptr},
        // a row end in a font prefix that primes come to follow once the
        // braces around them go: written the same as a script base
        ReplayCase{"\\scriptstyle \\mathit{x \\\\ y}{'}", nullptr}));

// Rewrites that move what they keep into what they build, nested in one
// another and written beside scripts, primes and content written twice.
INSTANTIATE_TEST_SUITE_P(
    MovedContent, WriterReplay,
    ::testing::Values(
        ReplayCase{"\\abs{\\abs{x}}", "\\left | \\left | x \\right | \\right |"},
        ReplayCase{"\\abs*{\\abs*{x}_1}_2", "| | x | _ { 1 } | _ { 2 }"},
        ReplayCase{"\\pdv[2]{\\pdv{f}{x}}{x}",
                   "\\frac { \\partial ^ { 2 } \\frac { \\partial f } { \\partial x } } { \\partial x ^ { 2 } }"},
        ReplayCase{"\\braket{\\ket{a}}",
                   "\\left \\langle \\left \\vert a \\right \\rangle \\middle \\vert \\left \\vert a \\right \\rangle "
                   "\\right \\rangle"},
        ReplayCase{"\\ev{A}{\\ket{\\psi}}", nullptr},
        ReplayCase{"\\matrix{\\abs{a}&b\\cr c&\\pmatrix{d}}", nullptr},
        ReplayCase{"\\eqalignno{\\abs{a}&=b&(1)\\cr c&=d&(2)}", nullptr},
        ReplayCase{"\\mathrel{\\mathrel{\\mathrel{\\abs{=}}}}", "\\mathrel { \\left | = \\right | }"},
        ReplayCase{"\\idotsint_{\\abs{a}}^{b}", nullptr},
        ReplayCase{"\\eval*{\\abs{x}}_0^1", nullptr}, ReplayCase{"\\comm*{a^{2}}{'b}", "[ a ^ { 2 } ,' b ]"},
        ReplayCase{"\\pdv{x^2}{'}{y}", nullptr}));

// The texts of a tree in order, each with its white space, which the shape
// of a tree leaves out.
std::vector<std::string> texts_of(const syntax::Ast& ast) {
    std::vector<std::string> out;
    std::vector<syntax::ast::NodeId> stack{ast.root()};
    std::vector<syntax::ast::NodeId> children;
    while (!stack.empty()) {
        const syntax::ast::Node& node = ast.node(stack.back());
        stack.pop_back();
        if (const auto* text = node.get_if<syntax::ast::Node::Text>()) out.emplace_back(std::string_view(text->value));
        children.clear();
        syntax::for_each_edge(node, [&](syntax::ast::NodeId child, syntax::Slot) { children.push_back(child); });
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return out;
}

// A text that starts with a letter right after a control word or a bare
// unit, once what stood between them has gone, is written after the space
// that ends the name, and the reader keeps that space in the text: the
// normalised tree holds it too.
TEST(WrittenTexts, AfterANameEndReadBackAsTheyStand) {
    for (const char* source : {"\\text{\\quad{}abc}", "\\mbox{\\enspace{}abc}", "\\text{\\rm\\quad{}abc}",
                               "\\text{\\kern3pt{}abc}", "\\text{\\quad{}{}abc} x"}) {
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(std::string(source) + " at " + PROFILE_NAMES[p]);
            const auto config = engine(p).default_normalize_config();
            auto parsed = engine(p).parser().parse_with(source, config.parse);
            ASSERT_TRUE(parsed.document);
            auto document = std::move(*parsed.document);
            ASSERT_TRUE(engine(p).transform_with(document, config.transform));
            const auto text = document.to_latex();
            ASSERT_TRUE(text);
            const auto again = engine(p).parser().parse_with(*text, config.parse);
            ASSERT_TRUE(again.document);
            EXPECT_EQ(texts_of(document.ast()), texts_of(again.document->ast())) << *text;
        }
    }
}

}  // namespace
}  // namespace quorvel
