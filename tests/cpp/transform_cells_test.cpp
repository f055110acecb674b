// Cells of an alignment through the whole road: an infix command splits
// the cell it stands in (its operands end at `&`, `\\` or `\cr`), and a
// script right after a separator has an empty base, so no declarative run
// crosses the separator. At every profile the output reads back clean, as
// the same tree, settles in one round, and keeps one fraction a cell.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "facade/transform_engine.hpp"
#include "profile_cases.hpp"
#include "profile_engines.hpp"
#include "readback_check.hpp"
#include "seeded_picker.hpp"

namespace quorvel {
namespace {

using syntax::ast::Node;
using syntax::ast::NodeId;
using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

const testing::ProfileCase CASES[] = {
    // An infix command splits its cell, not the body.
    {R"(\begin{pmatrix}1 \over 2 & 0 \\ 0 & 1\end{pmatrix})",
     {R"(\begin {pmatrix} \frac { 1 } { 2 } & 0 \\ 0 & 1 \end {pmatrix})", nullptr,
      R"(\left ( \begin {matrix} \frac { 1 } { 2 } & 0 \\ 0 & 1 \end {matrix} \right ))", nullptr}},
    {R"(\begin{matrix} a & b \\ c \over d & e \end{matrix})",
     {R"(\begin {matrix} a & b \\ \frac { c } { d } & e \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{cases} a \choose b & 1 \end{cases})",
     {R"(\begin {cases} \binom { a } { b } & 1 \end {cases})", nullptr, nullptr, nullptr}},
    {R"(\begin{aligned} x &= a \over b \end{aligned})",
     {R"(\begin {aligned} x & \frac { = a } { b } \end {aligned})", nullptr, nullptr, nullptr}},
    {R"(\substack{a \over b \\ c})",
     {R"(\substack { \frac { a } { b } \\ c })", R"(\begin {subarray} {c} \frac { a } { b } \\ c \end {subarray})",
      nullptr, nullptr}},
    {R"(\pmatrix{1 \over 2 & 0 \cr 0 & 1 \cr})",
     {R"(\begin {pmatrix} \frac { 1 } { 2 } & 0 \\ 0 & 1 \\ \end {pmatrix})", nullptr,
      R"(\left ( \begin {matrix} \frac { 1 } { 2 } & 0 \\ 0 & 1 \\ \end {matrix} \right ))", nullptr}},
    {R"(\begin{pmatrix} a \atop b & c \end{pmatrix})",
     {R"(\begin {pmatrix} \genfrac . . {0pt} {} { a } { b } & c \end {pmatrix})", nullptr,
      R"(\left ( \begin {matrix} \genfrac . . {0pt} {} { a } { b } & c \end {matrix} \right ))", nullptr}},
    {R"(\begin{pmatrix} a \over b & c \over d \end{pmatrix})",
     {R"(\begin {pmatrix} \frac { a } { b } & \frac { c } { d } \end {pmatrix})", nullptr,
      R"(\left ( \begin {matrix} \frac { a } { b } & \frac { c } { d } \end {matrix} \right ))", nullptr}},
    {R"(\begin{array}{cc} a \over b & 1 \\ c \over d & 2 \end{array})",
     {R"(\begin {array} {cc} \frac { a } { b } & 1 \\ \frac { c } { d } & 2 \end {array})", nullptr, nullptr,
      nullptr}},
    {R"(\begin{matrix} a \above 1pt b \\[2pt] c \brace d & e \brack f \end{matrix})",
     {R"(\begin {matrix} \genfrac . . {1pt} {} { a } { b } \\[2pt] \genfrac \{ \} {0pt} {} { c } { d } & )"
      R"(\genfrac [ ] {0pt} {} { e } { f } \end {matrix})",
      nullptr, nullptr, nullptr}},
    {R"(\begin{matrix} a \over & \over b \end{matrix})",
     {R"(\begin {matrix} \frac { a } { } & \frac { } { b } \end {matrix})", nullptr, nullptr, nullptr}},
    // Unchanged: a braced fraction before a cell separator.
    {R"(\begin{matrix}{a \over b} & c\end{matrix})",
     {R"(\begin {matrix} \frac { a } { b } & c \end {matrix})", nullptr, nullptr, nullptr}},
    // A cell separator is never a script base.
    {R"(\begin{matrix}\bf x&'y\end{matrix})", {R"(\begin {matrix} \mathbf { x } &' y \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix}\bf x\\'y\end{matrix})",
     {R"(\begin {matrix} \mathbf { x } \\' y \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix}\bf x&^2y\end{matrix})",
     {R"(\begin {matrix} \mathbf { x } & { } ^ { 2 } y \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix}\scriptstyle x&'\mathrm{d}\end{matrix})",
     {R"(\begin {matrix} \scriptstyle x &' \mathrm { d } \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix}\rm x \\ _1 y & \bf z\end{matrix})",
     {R"(\begin {matrix} \mathrm { x } \\ { } _ { 1 } y & \mathbf { z } \end {matrix})", nullptr, nullptr, nullptr}},
    // Nor a script: prefixes that hold one alone as all of a script stay,
    // as read, whatever font stands around them.
    {R"(\begin{matrix} x^\mathbf & b \end{matrix})",
     {R"(\begin {matrix} x ^ { \mathbf { & } } b \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix}\bf x_{\mathbf\\} b\end{matrix})",
     {R"(\begin {matrix} \mathbf { x _ { \mathbf { \\ } } b } \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix} x^{\mathbf{\mathrm &}}_\mathit\cr b\end{matrix})",
     {R"(\begin {matrix} x _ { \mathit { \cr } } ^ { \mathbf { \mathrm { & } } } b \end {matrix})", nullptr, nullptr,
      nullptr}},
    // A prefix holding a cell end is taken apart, whether or not anything
    // else is lowered: the cell end is written out of it.
    {R"(a&\mathrm{\cr})", {R"(a & \cr)", nullptr, nullptr, nullptr}},
    {R"(\text{\textit{ {}}}&\mathrm{\cr})",
     {R"(\text {\textit{ {}}} & \cr)", nullptr, R"(\text {\textit{ }} & \cr)", nullptr}},
    {R"(\begin{matrix} \mathbf{a&b} \end{matrix})",
     {R"(\begin {matrix} \mathbf { a } & \mathbf { b } \end {matrix})", nullptr, nullptr, nullptr}},
    // Lowering ends its runs at the cells of every body.
    {R"(\matrix{\bf x & y \cr})", {R"(\begin {matrix} \mathbf { x } & y \\ \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\substack{\rm x \\ y})",
     {R"(\substack { \mathrm { x } \\ y })", R"(\begin {subarray} {c} \mathrm { x } \\ y \end {subarray})", nullptr,
      nullptr}},
    {R"(\bf x & y \\ z)", {R"(\mathbf { x } & y \\ z)", nullptr, nullptr, nullptr}},
    // A group holding a cell end keeps its braces, though a prefix body
    // inside it held the cell end: dissolved, its rows would be the body's.
    // Braces that stay keep their cell end from the group around them.
    {R"(\bf \substack{{\displaystyle x \mathbf{a \\ b}}})",
     {R"(\mathbf { \substack { { { \displaystyle x } { \displaystyle \mathbf { a } } \\ \displaystyle \mathbf { b } } } })",
      R"(\mathbf { \begin {subarray} {c} { { \displaystyle x } { \displaystyle \mathbf { a } } \\ \displaystyle \mathbf { b } } \end {subarray} })",
      nullptr, nullptr}},
    {R"(y {\rm x {\bf a & b}} z)", {R"(y \mathrm { x { \mathbf { a } & \mathbf { b } } } z)", nullptr, nullptr, nullptr}},
    // The character `\&` ends no cell, and is written as it was.
    {R"(\bf a \& b)", {R"(\mathbf { a \& b })", nullptr, nullptr, nullptr}},
    {R"({\bf a \& b \over c})", {R"(\frac { \mathbf { a \& b } } { \mathbf { c } })", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix} a \& b & c \end{matrix})", {R"(\begin {matrix} a \& b & c \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(( Y > 1 \ \& \ X ))", {R"(( Y > 1 ~ \& ~ X ))", nullptr, nullptr, nullptr}},
    // A brace group's cell end ends no font, but its cells are written one
    // by one: made an argument, the group reads back as a list of cells.
    {R"({\bf{{\bf a\\ b}\over c}})",
     {R"(\mathbf { \frac { \mathbf { a } \\ \mathbf { b } } { c } })", nullptr, nullptr, nullptr}},
    {R"({\bf{{\bf a\cr b}\over c}})",
     {R"(\mathbf { \frac { \mathbf { a } \cr \mathbf { b } } { c } })", nullptr, nullptr, nullptr}},
    {R"({\bf{{\bf a\\ b}\atop c}})",
     {R"(\mathbf { \genfrac . . {0pt} {} { \mathbf { a } \\ \mathbf { b } } { c } })", nullptr, nullptr, nullptr}},
    {R"({\bf{{\bf a\\ b}\above1pt c}})",
     {R"(\mathbf { \genfrac . . {1pt} {} { \mathbf { a } \\ \mathbf { b } } { c } })", nullptr, nullptr, nullptr}},
    {R"({\bf a\\ b}\over c)", {R"(\frac { \mathbf { a } \\ \mathbf { b } } { c })", nullptr, nullptr, nullptr}},
    {R"({\mathrm{=}{\textstyle +}\\ ,}\over c)",
     {R"(\frac { \mathrm { = } { \textstyle + } \\ , } { c })", nullptr, R"(\frac { \mathrm { = } \textstyle + \\ , } { c })",
      nullptr}},
    // A slot whose cell end stands in a prefix or braces is a list of
    // cells all the same, which starts with no font.
    {R"({\it x^{\it \\ \bf *}b}\atop c)",
     {R"(\genfrac . . {0pt} {} { \mathit { x ^ { \\ \mathbf { * } } b } } { c })", nullptr, nullptr, nullptr}},
    {R"(\sqrt{{\small a \vb{\displaystyle \in}\cr}})",
     {R"(\sqrt { { { \small a \vb { \displaystyle \in } } \cr } })",
      R"(\sqrt { { { \small a } { \displaystyle \small \mathbf { \in } } \cr } })", nullptr, nullptr}},
    // A row end before a `*` or `[` that a removed font parted from it
    // gets a space of nothing; braces would cut its cell from the row.
    {R"(\begin{matrix} {\bf a} \\ * \end{matrix})",
     {R"(\begin {matrix} \mathbf { a } \\[0pt] * \end {matrix})", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix} \bf a \\ [2pt] \end{matrix})",
     {R"(\begin {matrix} \mathbf { a } \\[0pt] [ 2 p t ] \end {matrix})", nullptr, nullptr, nullptr}},
    // Side by side in the source, a row end and a `[` stay so.
    {R"(\bf \boldsymbol{\it \mathbf{a}{\\ [}})",
     {R"(\mathbf { \boldsymbol { \mathbf { a } \mathit { { \\ [ } } } })", nullptr, nullptr, nullptr}},
    // Empty groups that a line break parts from what they joined stay bare.
    {R"(\scriptstyle {\rm }\cal \\)", {R"(\scriptstyle { } \\)", nullptr, R"(\\)", nullptr}},
    // An operand left with one item is that item, as it reads back, in a
    // cell too.
    {R"(\boldsymbol{{\begin{matrix}\end{matrix}\small \\\choose }})",
     {R"(\boldsymbol { { \begin {matrix} \end {matrix} \\ \small \choose } })", nullptr, nullptr, nullptr}},
    // A declarative that joins the left operand governs the right one, as
    // the next reading has it.
    {R"(\boldsymbol{{\begin{matrix}\end{matrix}\small \\\choose \|}\over{}})",
     {R"(\boldsymbol { \frac { \begin {matrix} \end {matrix} \\ \small \choose \small \| } { } })", nullptr, nullptr,
      nullptr}},
    {R"(\boldsymbol{\begin{matrix}{\above1pt\quad V}\end{matrix}})",
     {R"(\boldsymbol { \begin {matrix} { \above 1pt \quad V } \end {matrix} })", nullptr, nullptr,
      R"(\boldsymbol { \begin {matrix} { \above 1pt V } \end {matrix} })"}},
    // A cell end alone in an infix operand keeps its braces: bare, it would
    // end the operand.
    {R"(\boldsymbol{{&}\choose b})", {R"(\boldsymbol { { & } \choose b })", nullptr, nullptr, nullptr}},
    {R"(\boldsymbol{a \atop {\cr}})", {R"(\boldsymbol { a \atop { \cr } })", nullptr, nullptr, nullptr}},
    // A cell end that a prefix body brings is no script base: the slot
    // keeps the group the scripts stood on.
    {R"(\sqrt{\scriptstyle \mathbf{&} '})", {R"(\sqrt { \scriptstyle { & }' })", nullptr, nullptr, nullptr}},
    {R"(\sqrt{\mathsf{\scriptstyle &} ^2})", {R"(\sqrt { { & } ^ { 2 } })", nullptr, nullptr, nullptr}},
    {R"(\begin{matrix}\mathrm{\mathbf{&}'}\end{matrix})",
     {R"(\begin {matrix} \mathrm { { & }' } \end {matrix})", nullptr, nullptr, nullptr}},
    // What follows a cell end that a prefix body brings is first in its
    // cell: a style switch's braces go, as they go when the output is read.
    {R"({\mathit{&} {\scriptstyle (}}\over b)", {R"(\frac { & \scriptstyle ( } { b })", nullptr, nullptr, nullptr}},
    {R"({a \mathit{\cr} {\scriptstyle =}}\over b)",
     {R"(\frac { a \cr \scriptstyle = } { b })", nullptr, nullptr, nullptr}},
    // An ellipsis before a row end in a brace group of the formula's own
    // list, which ends nothing, is set as before a declarative there:
    // braced, it would be an ordinary atom. The row end stays in the
    // prefix, where it ends no cell either, and the braces go.
    {R"(x{a \dots \rm \\ b})", {R"(x a \dots \mathrm { \\ b })", nullptr, nullptr, nullptr}},
    {R"({\mathsf{\mathbf{\dots &}'}}\over b)",
     {R"(\frac { \mathsf { { \mathbf { \dots } & }' } } { b })", nullptr, nullptr, nullptr}},
};

TEST(Cells, IssueInputsAtEveryProfile) {
    testing::expect_outputs_at_every_profile(CASES);
}

// ---- Generated bodies ----------------------------------------------------------------------

constexpr std::array<std::string_view, 4> INFIXES{"\\over ", "\\choose ", "\\atop ", "\\above 1pt "};
constexpr std::array<std::string_view, 4> DECLARATIVES{"\\bf ", "\\rm ", "\\scriptstyle ", "\\displaystyle "};
constexpr std::array<std::string_view, 9> ATOMS{"x", "2", "=", "\\alpha ", "b'", "y_{1}", "\\sum_{i} x_{i}", "{z}", "\\&"};
// Written right after a separator.
constexpr std::array<std::string_view, 5> SCRIPTS{"'", "''", "^{2}", "_1", "^2_k"};
// Environments, then the commands whose argument is a body: plain TeX's,
// whose rows end in `\cr`, and `\substack`.
constexpr std::array<std::string_view, 8> BODIES{"matrix", "pmatrix",   "cases",    "aligned",
                                                 "array",  "\\substack", "\\matrix", "\\pmatrix"};

class BodyMaker : testing::SeededPicker {
public:
    using SeededPicker::SeededPicker;

    // A body of 1 to 4 rows of 1 to 3 cells; `infixes` counts its infix
    // commands.
    std::string body(std::size_t& infixes) {
        const std::string_view name = choose(BODIES);
        const bool command = name.starts_with('\\');
        const bool plain = command && name != "\\substack";
        const std::size_t columns = name == "\\substack" ? 1 : 1 + pick(3);
        std::string out = command ? std::string(name) + "{" : "\\begin{" + std::string(name) + "}";
        if (name == "array") out += "{" + std::string(columns, 'c') + "}";
        for (std::size_t row = 0, rows = 1 + pick(4); row < rows; ++row) {
            if (row > 0) out += plain ? "\\cr" : pick(4) == 0 ? "\\\\[2pt]" : "\\\\";
            for (std::size_t cell = 0; cell < columns; ++cell) {
                if (cell > 0) out += "&";
                out += this->cell(infixes);
            }
        }
        if (plain && pick(2) == 0) out += "\\cr";
        return out + (command ? "}" : "\\end{" + std::string(name) + "}");
    }

private:
    std::string cell(std::size_t& infixes) {
        std::string out;
        if (pick(3) == 0) out += choose(SCRIPTS);
        out += ' ';
        out += operand();
        if (pick(2) == 0) {
            out += ' ';
            out += choose(INFIXES);
            out += operand();
            ++infixes;
        }
        return out + ' ';
    }

    // None to two atoms, after a declarative a third of the time.
    std::string operand() {
        std::string out = pick(3) == 0 ? std::string(choose(DECLARATIVES)) : "";
        for (std::size_t i = 0, n = pick(3); i < n; ++i) {
            if (i > 0) out += ' ';
            out += choose(ATOMS);
        }
        return out;
    }
};

// What the tree of an output holds: its fraction commands, its cell
// separators, and whether a separator stands outside a body: in a
// fraction's part, a font's argument or a script, where TeX would not end
// a cell at it.
struct Census {
    std::size_t fractions = 0;
    std::size_t separators = 0;
    bool separator_outside_body = false;
};

bool is_body_command(std::string_view name) { return name == "substack" || name == "matrix" || name == "pmatrix"; }

Census census(const syntax::Ast& ast) {
    Census out;
    // Each node with whether its list is a body (the formula's is).
    std::vector<std::pair<NodeId, bool>> stack{{ast.root(), true}};
    while (!stack.empty()) {
        const NodeId id = stack.back().first;
        const bool in_body = stack.back().second;  // a lambda captures no structured binding before clang 16
        stack.pop_back();
        const Node& node = ast.node(id);
        if (node.ends_cell()) {
            ++out.separators;
            out.separator_outside_body |= !in_body;
        }
        const auto* command = node.get_if<Node::Command>();
        if (command != nullptr && (command->name == "frac" || command->name == "binom" || command->name == "genfrac"))
            ++out.fractions;
        syntax::for_each_edge(node, [&](NodeId child, syntax::Slot slot) {
            bool body = false;
            if (slot.is_group_child()) body = in_body;
            else if (slot.kind() == syntax::Slot::Kind::EnvBody) body = true;
            else if (command != nullptr && slot.is_argument()) body = is_body_command(command->name);
            stack.push_back({child, body});
        });
    }
    return out;
}

// The character `\&`, which is no separator; the generated bodies hold no
// escaped backslash before a `&`.
std::size_t escaped_ampersands(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t at = text.find("\\&"); at != std::string_view::npos; at = text.find("\\&", at + 2)) ++n;
    return n;
}

std::string census_fault(const facade::TransformEngine& e, const std::string& source, std::size_t infixes) {
    const auto config = e.default_normalize_config();
    const auto before = e.parser().parse_with(source, config.parse);
    const auto output = e.normalize_with(source, config);
    if (!before.document || !output) return "does not normalise";
    const auto after = e.parser().parse_with(*output, config.parse);
    if (!after.document) return "output " + *output + " reads back without a document";
    const Census in = census(before.document->ast());
    const Census out = census(after.document->ast());
    if (out.separator_outside_body) return "output " + *output + ": a cell separator outside a body";
    if (out.fractions != infixes) return "output " + *output + ": not one fraction an infix command";
    if (out.separators != in.separators) return "output " + *output + ": cells lost";
    if (escaped_ampersands(*output) != escaped_ampersands(source)) return "output " + *output + ": a \\& lost";
    return "";
}

TEST(Cells, GeneratedBodiesReadBackKeepTheirCellsAndSettle) {
    BodyMaker maker(61);
    std::vector<std::pair<std::string, std::size_t>> inputs;
    while (inputs.size() < 400) {
        std::size_t infixes = 0;
        std::string source = maker.body(infixes);
        const auto parsed = engine(0).parser().parse_with(source, engine(0).default_normalize_config().parse);
        // Every body is valid: one that does not parse clean is a fault.
        EXPECT_TRUE(parsed.document && parsed.diagnostics.empty()) << source;
        inputs.emplace_back(std::move(source), infixes);
    }
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        std::size_t faults = 0;
        for (const auto& [source, infixes] : inputs) {
            std::string found = testing::readback_fault(engine(p), source);
            if (found.empty()) found = census_fault(engine(p), source, infixes);
            if (!found.empty() && faults++ < 10)
                ADD_FAILURE() << PROFILE_NAMES[p] << ":\n  input:  " << source << "\n  " << found;
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p] << ": of " << inputs.size() << " bodies";
    }
}

}  // namespace
}  // namespace quorvel
