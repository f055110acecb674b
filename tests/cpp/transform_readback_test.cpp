// Normalised text reads back: at every profile, the output of a formula that
// parses clean parses clean again, writes back to itself and normalises to
// itself. Primes are the
// case in point: a `'` reads as a script of the item it follows, so the
// writer and the rewrites must not put one where it would be a second
// superscript, nor write the primes of `x'^2` inside the superscript.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "facade/transform_engine.hpp"
#include "profile_engines.hpp"
#include "parse/parse.hpp"
#include "seeded_picker.hpp"
#include "transform_pipeline_support.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

// What reading `text` back shows: empty when it parses clean and writes
// back to itself, else the first diagnostic or the text written again.
std::string read_back_fault(const facade::TransformEngine& e, const std::string& text) {
    const auto again = e.parser().parse_with(text, e.default_normalize_config().parse);
    if (!again.document) return "no document";
    if (!again.diagnostics.empty()) return again.diagnostics[0].message;
    auto rewritten = again.document->to_latex();
    if (!rewritten) return "not written";
    return *rewritten == text ? "" : "written again as " + *rewritten;
}

std::optional<std::string> written(const facade::TransformEngine& e, const std::string& source) {
    const auto parsed = e.parser().parse_with(source, e.default_normalize_config().parse);
    if (!parsed.document || !parsed.diagnostics.empty()) return std::nullopt;
    auto text = parsed.document->to_latex();
    if (!text) return std::nullopt;
    return *text;
}

std::optional<std::string> normalised(const facade::TransformEngine& e, const std::string& source) {
    auto text = e.normalize_with(source, e.default_normalize_config());
    if (!text) return std::nullopt;
    return *text;
}

struct PrimeCase {
    const char* source;
    const char* written;    // parsed and written back
    const char* rendered;   // normalised at authoring and faithful
    const char* flattened;  // at corpus and equiv; null: as rendered
};

// A `\prime` that would become a second superscript stays a command; one
// that would not becomes a prime of the item before it. Braces that part a
// superscript from a prime stay. The primes of a merged superscript are
// written after the base, the rest as the `^` operand.
const PrimeCase PRIME_CASES[] = {
    {"x^a{\\prime}", "x ^ { a } { \\prime }", "x ^ { a } { \\prime }", "x ^ { a } \\prime"},
    {"{x^a}{\\prime}", "{ x ^ { a } } { \\prime }", "x ^ { a } { \\prime }", "x ^ { a } \\prime"},
    {"x_1^2\\prime", "x _ { 1 } ^ { 2 } \\prime", "x _ { 1 } ^ { 2 } \\prime", nullptr},
    {"x^\\,{\\prime}", "x ^ { \\, } { \\prime }", "x ^ { \\, } { \\prime }", "x ^ { \\, } \\prime"},
    {"t ^\\ { \\prime }", "t ^ { \\  } { \\prime }", "t ^ { ~ } { \\prime }", "t ^ { ~ } \\prime"},
    {"x^a{}\\prime", "x ^ { a } { } \\prime", "x ^ { a } { } \\prime", "x ^ { a } \\prime"},
    {"x^a\\prime\\prime", "x ^ { a } \\prime \\prime", "x ^ { a } \\prime \\prime", "x ^ { a } \\prime'"},
    {"{y x^a}\\prime", "{ y x ^ { a } } \\prime", "y x ^ { a } \\prime", nullptr},
    {"x\\prime^2", "x \\prime ^ { 2 }", "x \\prime ^ { 2 }", nullptr},
    {"\\prime'^2", "\\prime'^ { 2 }", "\\prime'^ { 2 }", nullptr},
    {"\\mu\\prime", "\\mu \\prime", "\\mu \\prime", "\\mu'"},
    {"x_1\\prime", "x _ { 1 } \\prime", "x _ { 1 } \\prime", "x _ { 1 }'"},
    {"\\left(x^a\\right)\\prime", "\\left ( x ^ { a } \\right ) \\prime", "\\left ( x ^ { a } \\right ) \\prime",
     "\\left ( x ^ { a } \\right )'"},
    {"x^a{'}^2", "x ^ { a } { ' } ^ { 2 }", "x ^ { a } { ' } ^ { 2 }", nullptr},
    {"{x^a}{'}", "{ x ^ { a } } { ' }", "x ^ { a } { ' }", nullptr},
    {"{x^a}\\prime_1", "{ x ^ { a } } \\prime _ { 1 }", "x ^ { a } \\prime _ { 1 }", nullptr},
    {"{x^a}{'}^2", "{ x ^ { a } } { ' } ^ { 2 }", "x ^ { a } { ' } ^ { 2 }", nullptr},
    {"{x}{'}", "{ x } { ' }", "x'", nullptr},
    {"f''^2", "f''^ { 2 }", "f''^ { 2 }", nullptr},
    {"x'_1^2", "x _ { 1 }'^ { 2 }", "x _ { 1 }'^ { 2 }", nullptr},
    {"x' '", "x''", "x''", nullptr},
    // A prime first in a group stands on an empty base. Lowering that
    // dissolves the group, or merges a prefix body into the run before it,
    // keeps it off a scripted item; after the held primes of a merged
    // superscript it stays in its group, raised once more.
    {"x^2{'\\bf y}", "x ^ { 2 } { ' \\bf y }", "x ^ { 2 } { ' } \\mathbf { y }", nullptr},
    {"x^2{'_1\\bf y}", "x ^ { 2 } { ' _ { 1 } \\bf y }", "x ^ { 2 } { ' _ { 1 } } \\mathbf { y }", nullptr},
    {"\\bf x^2\\mathbf{'y}", "\\bf x ^ { 2 } \\mathbf { ' y }", "\\mathbf { x ^ { 2 } { ' } y }", nullptr},
    {"x'^{'a}", "x'^ { ' a }", "x'^ { ' a }", nullptr},
    {"x'^{{'}a}", "x'^ { { ' } a }", "x'^ { ' a }", nullptr},
    {"x'^{'}", "x'^ { ' }", "x'^ { ' }", nullptr},
    {"x'^{\\prime a}", "x'^ { \\prime a }", "x'^ { \\prime a }", nullptr},
    {"x'^\\prime", "x'^ { \\prime }", "x''", nullptr},
    // A superscript of primes alone becomes a run of primes; anywhere else
    // in a script a `'` would be raised once more, and `\prime` stays.
    {"x^{\\prime\\prime}", "x ^ { \\prime \\prime }", "x''", nullptr},
    {"x^{{\\prime}}", "x ^ { { \\prime } }", "x'", nullptr},
    {"x^{\\prime 2}", "x ^ { \\prime 2 }", "x ^ { \\prime 2 }", nullptr},
    {"x^{2\\prime}", "x ^ { 2 \\prime }", "x ^ { 2 \\prime }", nullptr},
    {"x_\\prime", "x _ { \\prime }", "x _ { \\prime }", nullptr},
    {"x^{\\prime a}", "x ^ { \\prime a }", "x ^ { \\prime a }", nullptr},
    // On the baseline, of a list or an argument, `\prime` is a full-size
    // symbol: it stays while rendering is kept.
    {"x^{\\frac{a\\prime}{b}}", "x ^ { \\frac { a \\prime } { b } }", "x ^ { \\frac { a \\prime } { b } }",
     "x ^ { \\frac { a' } { b } }"},
    {"a\\prime b", "a \\prime b", "a \\prime b", "a' b"},
    {"\\frac{a\\prime}{2}", "\\frac { a \\prime } { 2 }", "\\frac { a \\prime } { 2 }", "\\frac { a' } { 2 }"},
    // Each settles in one normalisation.
    {"S^{\\prime\\prime}\\prime", "S ^ { \\prime \\prime } \\prime", "S'' \\prime", "S'''"},
    {"x^{\\prime^{\\prime}}", "x ^ { \\prime ^ { \\prime } }", "x ^ { \\prime' }", nullptr},
    // A superscript written with a `^`, as a merged one is past its held
    // primes, takes no prime after it.
    {"x'^{'}\\prime", "x'^ { ' } \\prime", "x'^ { ' } \\prime", nullptr},
    {"x'^{''}\\prime", "x'^ { '' } \\prime", "x'^ { '' } \\prime", nullptr},
    {"x_a'^{'}\\prime", "x _ { a }'^ { ' } \\prime", "x _ { a }'^ { ' } \\prime", nullptr},
    {"x^{{'}}\\prime", "x ^ { { ' } } \\prime", "x ^ { ' } \\prime", "x''"},
    // A prime on a base prime is parted from it: glued, the two would read
    // back as one base of two primes.
    {"\\prime^{\\prime}", "\\prime ^ { \\prime }", "\\prime'", "' '"},
};

TEST(ReadBack, PrimesAtEveryProfile) {
    for (const PrimeCase& c : PRIME_CASES) {
        SCOPED_TRACE(c.source);
        const auto text = written(engine(0), c.source);
        ASSERT_TRUE(text.has_value()) << "does not parse clean";
        EXPECT_EQ(*text, c.written);
        EXPECT_EQ(read_back_fault(engine(0), *text), "");
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            const auto output = normalised(engine(p), c.source);
            ASSERT_TRUE(output.has_value()) << "does not normalise";
            EXPECT_EQ(*output, p < 2 || c.flattened == nullptr ? c.rendered : c.flattened);
            EXPECT_EQ(read_back_fault(engine(p), *output), "");
            EXPECT_EQ(normalised(engine(p), *output), output) << "not settled";
        }
    }
}

// Formulas made of the pieces that meet at a prime: atoms, brace groups,
// scripts and prime runs, `\prime`, spacing commands. Deterministic.
class FormulaMaker : testing::SeededPicker {
public:
    using SeededPicker::SeededPicker;

    std::string formula(int depth = 0) {
        std::string out;
        const std::size_t items = 1 + pick(4);
        for (std::size_t i = 0; i < items; ++i) {
            if (depth < 2 && pick(5) == 0) {
                out += "{" + formula(depth + 1) + "}";
            } else {
                out += ATOMS[pick(ATOMS.size())];
            }
            out += SCRIPTS[pick(SCRIPTS.size())];
        }
        return out;
    }

private:
    static constexpr std::array<const char*, 22> ATOMS{
        "x",        "2",          "\\prime", "\\prime", "'",           "\\alpha",   "\\mu ",           "{}",
        "\\frac{a}{b}", "\\sqrt{y}", "\\,",     "\\ ",    "\\mathrm{d}", "\\left(z\\right)", "\\text{ab}", "+",
        "\\bf ",   "\\rm ",     "\\large ", "\\mathbf{y}", "{'\\bf y}", "\\mathbf{'y}"};
    static constexpr std::array<const char*, 15> SCRIPTS{
        "", "", "", "'", "''", "^a", "_1", "'^2", "_1^2", "'_1", "^{\\prime}", "^\\,", "^{'}", "_i'", "^{'a}"};
};

// Every normalised output of a formula that parses clean reads back clean
// and writes back to itself: a sample of the corpus, and made formulas.
TEST(ReadBack, NormalisedOutputsOfValidFormulas) {
    std::vector<std::string> inputs;
    if (const auto sample = transform::testing::corpus_sample(24)) inputs = *sample;
    FormulaMaker maker(38);
    for (int i = 0; i < 1500; ++i) inputs.push_back(maker.formula());
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        const facade::TransformEngine& e = engine(p);
        std::size_t checked = 0;
        std::size_t faults = 0;
        for (const std::string& source : inputs) {
            if (!written(e, source)) continue;
            const auto output = normalised(e, source);
            if (!output) continue;
            ++checked;
            if (const std::string fault = read_back_fault(e, *output); !fault.empty() && faults++ < 5)
                ADD_FAILURE() << PROFILE_NAMES[p] << ": " << source << " -> " << *output << ": " << fault;
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p];
        EXPECT_GT(checked, inputs.size() / 2) << PROFILE_NAMES[p];
    }
}

struct SettleCase {
    const char* source;
    const char* kept;  // at authoring and faithful
    const char* flat;  // at corpus and equiv; null: as kept
};

// Lowering writes attribute values relative to the state in force where it
// writes them, and flattening then takes braces away: what lowering wrote
// must be what it writes again when it reads it next time.
const SettleCase SETTLE_CASES[] = {
    // A prefix inside braces inside a prefix body, after a declarative, or
    // next to a prefix of the same name: the braces stay.
    {"\\textit{{\\textbf{x}}y}", "\\textit {{\\textbf{x}}y}", nullptr},
    {"\\mathbf{a{\\mathrm{b}}}", "\\mathbf { a { \\mathrm { b } } }", nullptr},
    {"\\mathrm{{\\mathbf{\\Phi}}}", "\\mathrm { { \\mathbf { \\Phi } } }", nullptr},
    {"\\mathbf{x}{\\mathbf{y}}", "\\mathbf { x } { \\mathbf { y } }", nullptr},
    {"\\large x{\\mathbf{y}}", "\\large x { \\mathbf { y } }", nullptr},
    // A lone prefix that is all the declaratives govern reads the same,
    // unless a math size would go inside the font prefix.
    {"\\large{\\mathbf{y}}", "\\large { \\mathbf { y } }", nullptr},
    {"T_{\\scriptscriptstyle{\\mathrm{QGP}}}", "T _ { \\scriptscriptstyle { \\mathrm { Q G P } } }",
     "T _ { \\scriptscriptstyle \\mathrm { Q G P } }"},
    // An empty group after it, which flattening takes out, parts it from
    // nothing.
    {"x^{\\scriptstyle {\\mathrm{=}}{}}", "x ^ { \\scriptstyle { \\mathrm { = } } { } }", "x ^ { \\scriptstyle \\mathrm { = } }"},
    // A kept group whose content would gain a declarative dissolves.
    {"\\mbox{{a{\\small b}}}", "\\mbox {a\\small b}", nullptr},
    {"\\text{x{a{\\small b}}y}", "\\text {xa{\\small b}y}", nullptr},
    {"x^{{\\mathrm{\\scriptscriptstyle T}}}", "x ^ { \\scriptscriptstyle \\mathrm { T } }", nullptr},
    // So does one whose font-blind last item, written out of its font run,
    // would take a size of its own there.
    {"{\\mathbf{a}\\sum \\mathit{\\alpha )\\large \\le }}\\mathrm{=}\\atop b",
     "\\genfrac . . {0pt} {} { \\mathbf { a } \\sum \\mathit { \\alpha ) } { \\large \\leq } \\mathrm { = } } { b }",
     "\\genfrac . . {0pt} {} { { \\mathbf { a } \\sum \\mathit { \\alpha ) } \\mathit { \\large \\leq } } \\mathrm { = } } { b }"},
    // A text declarative stays inside the text prefix it came in.
    {"\\textbf{\\large a}b", "\\textbf {\\large a} b", nullptr},
    {"^\\textrm{\\scriptsize 9 2}", "{ } ^ { \\textrm {\\scriptsize9 2} }", nullptr},
    // An empty group that is all a prefix or declarative governs stays,
    // where flattening keeps empty groups.
    {"\\textit{{\\bf }{\\sf x}}", "\\textit {{}} \\textsf {\\textit{x}}", nullptr},
    {"\\text{x{\\bf\\large{}}}", "\\text {x\\large\\textbf{{}}}", "\\text {x}"},
    // Spacing alone after a control word, and before a closing brace.
    {"\\text{a\\large{} \\textbf{b}}", "\\text {a\\large{} \\textbf{b}}", nullptr},
    {"\\textbf{b $x$ \\tt b}", "\\textbf {b $x$ } \\texttt {\\textbf{b}}", nullptr},
    // A run ends at every cell separator, whatever body it stands in, and
    // a script after one has an empty base of its own.
    {"\\begin{matrix}\\bf x&'y\\end{matrix}", "\\begin {matrix} \\mathbf { x } &' y \\end {matrix}", nullptr},
    {"\\pmatrix{\\rm x \\cr^2 y & \\bf z}",
     "\\begin {pmatrix} \\mathrm { x } \\\\ { } ^ { 2 } y & \\mathbf { z } \\end {pmatrix}",
     "\\left ( \\begin {matrix} \\mathrm { x } \\\\ { } ^ { 2 } y & \\mathbf { z } \\end {matrix} \\right )"},
    {"\\begin{cases}\\scriptstyle a \\over b \\\\_1 c\\end{cases}",
     "\\begin {cases} \\frac { \\scriptstyle a } { b } \\\\ { } _ { 1 } c \\end {cases}", nullptr},
    // A slot whose list holds a cell end starts with no font, braced (as
    // read back) or not (as a rule builds it): the inner font stays.
    {"\\mathcal { x ^ { \\mathcal { | } \\\\ } }", "\\mathcal { x ^ { \\mathcal { | } \\\\ } }", nullptr},
};

// At the profiles from `first` on.
void check_settled(std::span<const SettleCase> cases, std::size_t first = 0) {
    for (const SettleCase& c : cases) {
        SCOPED_TRACE(c.source);
        for (std::size_t p = first; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            const auto output = normalised(engine(p), c.source);
            ASSERT_TRUE(output.has_value()) << "does not normalise";
            EXPECT_EQ(*output, p < 2 || c.flat == nullptr ? c.kept : c.flat);
            EXPECT_EQ(read_back_fault(engine(p), *output), "");
            EXPECT_EQ(normalised(engine(p), *output), output) << "not settled";
        }
    }
}

TEST(ReadBack, LoweredAttributesSettle) { check_settled(SETTLE_CASES); }

// A closing brace makes an ellipsis before it `\ldots`. Flattening takes the
// brace away, so the choice is made before it, not a normalisation later.
// Authoring has no ellipsis rule.
const SettleCase ELLIPSIS_CASES[] = {
    {"{\\dots}x", "{ \\ldots } x", "\\ldots x"},
    {"{\\dots}+", "{ \\ldots } +", "\\ldots +"},
    {"{a\\dots}+", "a \\ldots +", nullptr},
    {"{{a\\dots}}+", "a \\ldots +", nullptr},
    {"\\left({a\\dots}=\\right)", "\\left ( a \\ldots = \\right )", nullptr},
    // Nothing after the group, or braces that stay: nothing decides.
    {"x{a\\dots}", "x a \\dots", nullptr},
    {"\\frac{a\\dots}{b}+", "\\frac { a \\dots } { b } +", nullptr},
    {"x^{a\\dots}+", "x ^ { a \\dots } +", nullptr},
};

TEST(ReadBack, EllipsesAtTheEndOfAGroupSettle) {
    check_settled(ELLIPSIS_CASES, 1);
}

struct ProfileCase {
    const char* source;
    std::array<const char*, 4> outputs;  // in the order of PROFILES
};

// What a rule or pass would do to the output in a second normalisation it
// does in the first, and what is written reads back as the tree it came from.
const ProfileCase ONE_ROUND_CASES[] = {
    // Operator-name content is written in text mode but read as math: a
    // prime after an item reads back as its superscript, which is written
    // the same.
    {"\\operatorname{l\\prime}",
     {"\\operatorname {l\\prime}", "\\operatorname {l\\prime}", "\\operatorname {l'}", "\\operatorname {l'}"}},
    {"\\operatorname{\\alpha\\prime}",
     {"\\operatorname {\\alpha\\prime}", "\\operatorname {\\alpha\\prime}", "\\operatorname {\\alpha'}",
      "\\operatorname {\\alpha'}"}},
    {"\\operatorname{ab\\prime c}",
     {"\\operatorname {ab\\prime c}", "\\operatorname {ab\\prime c}", "\\operatorname {ab'c}",
      "\\operatorname {ab'c}"}},
    {"\\operatorname{x_1\\prime}",
     {"\\operatorname {x _ { 1 }\\prime}", "\\operatorname {x _ { 1 }\\prime}", "\\operatorname {x _ { 1 }'}",
      "\\operatorname {x _ { 1 }'}"}},
    // A delimiter left bare is what the parser makes of its text.
    {"\\operatorname{\\big\\{o}",
     {"\\operatorname {\\big\\{o}", "\\operatorname {\\big\\{o}", "\\operatorname {\\big\\{o}",
      "\\operatorname {\\{o}"}},
    {"\\operatorname{\\pb*{a}{b}}",
     {"\\operatorname {\\pb*{ a }{ b }}", "\\operatorname {\\{a,b\\}}", "\\operatorname {\\{a,b\\}}",
      "\\operatorname {\\{a,b\\}}"}},
    // A `\(` or `\)` that found no partner keeps its group.
    {"\\text{\\({\\)}}", {"\\text {\\({\\)}}", "\\text {\\({\\)}}", "\\text {\\({\\)}}", "\\text {\\({\\)}}"}},
    {"\\textbf{\\(f{{}\\)}}",
     {"\\textbf {\\(f{{}\\)}}", "\\textbf {\\(f{{}\\)}}", "\\textbf {\\(f{\\)}}", "\\textbf {\\(f{\\)}}"}},
    {"\\text{{\\(}x\\)}", {"\\text {{\\(}x\\)}", "\\text {{\\(}x\\)}", "\\text {{\\(}x\\)}", "\\text {{\\(}x\\)}"}},
    // So does one that declares a value without a prefix form.
    {"\\text{\\({\\cal\\)}}", {"\\text {\\({\\cal\\)}}", "\\text {\\({\\cal\\)}}", "\\text {\\({\\cal\\)}}", "\\text {\\({\\cal\\)}}"}},
    // A prefix whose body holds one stays, even where its value is in force.
    {"\\textbf{\\(\\textbf{\\)}}",
     {"\\textbf {\\(\\textbf{\\)}}", "\\textbf {\\(\\textbf{\\)}}", "\\textbf {\\(\\textbf{\\)}}",
      "\\textbf {\\(\\textbf{\\)}}"}},
    {"\\textbf{\\(\\textbf{{}\\)}}",
     {"\\textbf {\\(\\textbf{{}\\)}}", "\\textbf {\\(\\textbf{{}\\)}}", "\\textbf {\\(\\textbf{\\)}}",
      "\\textbf {\\(\\textbf{\\)}}"}},
    {"\\textbf{\\(\\textit{\\textbf{\\)}}}",
     {"\\textbf {\\(\\textit{\\textbf{\\)}}}", "\\textbf {\\(\\textit{\\textbf{\\)}}}",
      "\\textbf {\\(\\textit{\\textbf{\\)}}}", "\\textbf {\\(\\textit{\\textbf{\\)}}}"}},
    // A group kept in a list, left alone in a slot when the list's braces
    // go, is decided again there.
    {"x_{{{\\left\\langle z\\right\\rangle}}}",
     {"x _ { \\left \\langle z \\right \\rangle }", "x _ { \\left \\langle z \\right \\rangle }",
      "x _ { \\left \\langle z \\right \\rangle }", "x _ { \\left \\langle z \\right \\rangle }"}},
    {"x_{{{\\ev{z}}}}",
     {"x _ { \\ev { z } }", "x _ { \\left \\langle z \\right \\rangle }",
      "x _ { \\left \\langle z \\right \\rangle }", "x _ { \\left \\langle z \\right \\rangle }"}},
    {"x_{{{\\abs{z}}}}",
     {"x _ { \\abs { z } }", "x _ { \\left | z \\right | }", "x _ { \\left | z \\right | }",
      "x _ { \\left | z \\right | }"}},
    {"\\frac{{{\\left(a\\right)}}}{b}",
     {"\\frac { \\left ( a \\right ) } { b }", "\\frac { \\left ( a \\right ) } { b }",
      "\\frac { \\left ( a \\right ) } { b }", "\\frac { \\left ( a \\right ) } { b }"}},
    {"{{{\\left(a\\right)}}}^2",
     {"{ { { \\left ( a \\right ) } } } ^ { 2 }", "{ { { \\left ( a \\right ) } } } ^ { 2 }",
      "{ \\left ( a \\right ) } ^ { 2 }", "{ \\left ( a \\right ) } ^ { 2 }"}},
    // Spacers that flattening brings together are merged, then dropped.
    {"{\\:{}\\;}", {"{ \\: { } \\; }", "{ \\: { } \\; }", "\\enspace", ""}},
    {"{\\:}{\\;}", {"{ \\: } { \\; }", "{ \\: } { \\; }", "\\enspace", ""}},
    {"\\quad{}\\quad", {"\\quad { } \\quad", "\\quad { } \\quad", "\\qquad", ""}},
    {"\\enspace{}\\enspace", {"\\enspace { } \\enspace", "\\enspace { } \\enspace", "\\quad", ""}},
    {"x{\\enspace}\\enspace", {"x { \\enspace } \\enspace", "x { \\enspace } \\enspace", "x \\quad", "x"}},
    // A prime superscript of a base prime is parted from it: glued, the two
    // would read back as one base of more primes.
    {"' '^m", {"' '^ { m }", "' '^ { m }", "' '^ { m }", "' '^ { m }"}},
    {"' '", {"' '", "' '", "' '", "' '"}},
    {"'' '_1^2", {"'' _ { 1 }'^ { 2 }", "'' _ { 1 }'^ { 2 }", "'' _ { 1 }'^ { 2 }", "'' _ { 1 }'^ { 2 }"}},
    // An argument that an expansion writes after an item keeps its braces
    // where its primes would join that item: after a raised symbol they
    // would be a second superscript, and a prime base with scripts would
    // give its scripts to the item.
    {"\\pdv[2]{'}{x}",
     {"\\pdv [ 2 ] { ' } { x }", "\\frac { \\partial ^ { 2 } { ' } } { \\partial x ^ { 2 } }",
      "\\frac { \\partial ^ { 2 } { ' } } { \\partial x ^ { 2 } }",
      "\\frac { \\partial ^ { 2 } { ' } } { \\partial x ^ { 2 } }"}},
    {"\\dv[2]{'}{x}",
     {"\\dv [ 2 ] { ' } { x }", "\\frac { \\mathrm { d } ^ { 2 } { ' } } { \\mathrm { d } x ^ { 2 } }",
      "\\frac { \\mathrm { d } ^ { 2 } { ' } } { \\mathrm { d } x ^ { 2 } }",
      "\\frac { \\mathrm { d } ^ { 2 } { ' } } { \\mathrm { d } x ^ { 2 } }"}},
    {"\\pdv[2]{'x}{x}",
     {"\\pdv [ 2 ] { ' x } { x }", "\\frac { \\partial ^ { 2 } { ' } x } { \\partial x ^ { 2 } }",
      "\\frac { \\partial ^ { 2 } { ' } x } { \\partial x ^ { 2 } }",
      "\\frac { \\partial ^ { 2 } { ' } x } { \\partial x ^ { 2 } }"}},
    {"\\pdv{'}{x}{y}",
     {"\\pdv { ' } { x } { y }", "\\frac { \\partial ^ { 2 } { ' } } { \\partial x \\partial y }",
      "\\frac { \\partial ^ { 2 } { ' } } { \\partial x \\partial y }",
      "\\frac { \\partial ^ { 2 } { ' } } { \\partial x \\partial y }"}},
    {"\\pdv{f}{x}{'^a}",
     {"\\pdv { f } { x } { ' ^ { a } }",
      "\\frac { \\partial ^ { 2 } f } { \\partial x \\partial { ' ^ { a } } }",
      "\\frac { \\partial ^ { 2 } f } { \\partial x \\partial { ' ^ { a } } }",
      "\\frac { \\partial ^ { 2 } f } { \\partial x \\partial { ' ^ { a } } }"}},
    {"\\fdv{'^a}{x}",
     {"\\fdv { ' ^ { a } } { x }", "\\frac { \\delta { ' ^ { a } } } { \\delta x }",
      "\\frac { \\delta { ' ^ { a } } } { \\delta x }", "\\frac { \\delta { ' ^ { a } } } { \\delta x }"}},
    {"\\bra*{'^a}",
     {"\\bra* { ' ^ { a } }", "\\langle { ' ^ { a } } \\vert", "\\langle { ' ^ { a } } \\vert",
      "\\langle { ' ^ { a } } \\vert"}},
    {"\\comm*{a}{'^b}",
     {"\\comm* { a } { ' ^ { b } }", "[ a , { ' ^ { b } } ]", "[ a , { ' ^ { b } } ]", "[ a , { ' ^ { b } } ]"}},
    {"\\abs*{'^a}", {"\\abs* { ' ^ { a } }", "| { ' ^ { a } } |", "| { ' ^ { a } } |", "| { ' ^ { a } } |"}},
    // In an environment body flattening keeps every brace group: a
    // superscript in braces there is no run of primes, and a `\prime` after
    // a group becomes its prime at once.
    {"\\begin{matrix}^{{'}}\\prime\\end{matrix}",
     {"\\begin {matrix} { } ^ { { ' } } \\prime \\end {matrix}", "\\begin {matrix} { } ^ { { ' } } \\prime \\end {matrix}",
      "\\begin {matrix} { } ^ { { ' } } \\prime \\end {matrix}", "\\begin {matrix} { } ^ { { ' } } \\prime \\end {matrix}"}},
    {"\\begin{pmatrix}\\quad^{{}\\prime}\\end{pmatrix}",
     {"\\begin {pmatrix} \\quad ^ { { } \\prime } \\end {pmatrix}", "\\begin {pmatrix} \\quad ^ { { } \\prime } \\end {pmatrix}",
      "\\left ( \\begin {matrix} \\quad ^ { { } \\prime } \\end {matrix} \\right )",
      "\\left ( \\begin {matrix} { } ^ { { } \\prime } \\end {matrix} \\right )"}},
    {"\\begin{matrix} {0} \\prime & 1 \\end{matrix}",
     {"\\begin {matrix} { 0 } \\prime & 1 \\end {matrix}", "\\begin {matrix} { 0 } \\prime & 1 \\end {matrix}",
      "\\begin {matrix} { 0 }' & 1 \\end {matrix}", "\\begin {matrix} { 0 }' & 1 \\end {matrix}"}},
    // An ellipsis chooses by the token after it: a cell end makes other dots
    // than the closing brace that stood there, so an ellipsis that lowering
    // parts from its brace keeps a brace of its own; one the source wrote
    // before the cell end stays as it renders there.
    {"\\begin{pmatrix}{\\displaystyle \\dots} & b \\end{pmatrix}",
     {"\\begin {pmatrix} \\displaystyle { \\dots } & b \\end {pmatrix}",
      "\\begin {pmatrix} \\displaystyle { \\ldots } & b \\end {pmatrix}",
      "\\left ( \\begin {matrix} \\displaystyle { \\ldots } & b \\end {matrix} \\right )",
      "\\left ( \\begin {matrix} \\displaystyle { \\ldots } & b \\end {matrix} \\right )"}},
    {"\\begin{matrix}a\\\\\\dots\\\\b\\end{matrix}",
     {"\\begin {matrix} a \\\\ \\dots \\\\ b \\end {matrix}", "\\begin {matrix} a \\\\ \\dots \\\\ b \\end {matrix}",
      "\\begin {matrix} a \\\\ \\dots \\\\ b \\end {matrix}", "\\begin {matrix} a \\\\ \\dots \\\\ b \\end {matrix}"}},
    {"\\begin{matrix}\\dots\\bf&b\\end{matrix}",
     {"\\begin {matrix} { \\dots } & b \\end {matrix}", "\\begin {matrix} { \\ldots } & b \\end {matrix}",
      "\\begin {matrix} { \\ldots } & b \\end {matrix}", "\\begin {matrix} { \\ldots } & b \\end {matrix}"}},
    {"\\begin{matrix}a&\\dots\\end{matrix}",
     {"\\begin {matrix} a & \\dots \\end {matrix}", "\\begin {matrix} a & \\dots \\end {matrix}",
      "\\begin {matrix} a & \\dots \\end {matrix}", "\\begin {matrix} a & \\dots \\end {matrix}"}},
    // Written inside a prefix, it has that prefix's brace after it: it
    // keeps none of its own.
    {"\\begin{matrix}\\bf\\mathbf{\\dots}&b\\end{matrix}",
     {"\\begin {matrix} \\mathbf { \\dots } & b \\end {matrix}", "\\begin {matrix} \\mathbf { \\dots } & b \\end {matrix}",
      "\\begin {matrix} \\mathbf { \\dots } & b \\end {matrix}", "\\begin {matrix} \\mathbf { \\dots } & b \\end {matrix}"}},
    {"\\left(\\scriptstyle a\\over\\mathbf{\\dots&}\\right)",
     {"\\left ( \\frac { \\scriptstyle a } { \\mathbf { \\dots } & } \\right )",
      "\\left ( \\frac { \\scriptstyle a } { \\mathbf { \\dots } & } \\right )",
      "\\left ( \\frac { \\scriptstyle a } { \\mathbf { \\dots } & } \\right )",
      "\\left ( \\frac { \\scriptstyle a } { \\mathbf { \\dots } & } \\right )"}},
    // A group kept only to part two prefixes of one name goes once primes
    // make the second a script base.
    {"{{{}}{{\\bf b}}{\\bf b}}{'}",
     {"{ } { \\mathbf { b } } \\mathbf { b } { ' }", "{ } { \\mathbf { b } } \\mathbf { b } { ' }",
      "\\mathbf { b } \\mathbf { b }'", "\\mathbf { b } \\mathbf { b }'"}},
};

TEST(ReadBack, OutputsSettleInOneRound) {
    for (const ProfileCase& c : ONE_ROUND_CASES) {
        SCOPED_TRACE(c.source);
        ASSERT_TRUE(written(engine(0), c.source).has_value()) << "does not parse clean";
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            const auto output = normalised(engine(p), c.source);
            ASSERT_TRUE(output.has_value()) << "does not normalise";
            EXPECT_EQ(*output, c.outputs[p]);
            EXPECT_EQ(read_back_fault(engine(p), *output), "");
            EXPECT_EQ(normalised(engine(p), *output), output) << "not settled";
        }
    }
}

// The `\prime` rename asks which braces flattening leaves: none goes when it
// does not run, and while rendering is kept a prime stays in the braces of
// its superscript. A `'` written after such braces would be a second
// superscript. A scripted base that flattening leaves bare, its guard off,
// is braced by the writer.
struct KeptBracesCase {
    const char* source;
    std::size_t profile;
    bool flatten;
    bool preserve_rendered_spacing;
    bool script_base_guard;
    const char* output;
};

const KeptBracesCase KEPT_BRACES_CASES[] = {
    {"^{{'}}\\prime", 2, false, false, true, "{ } ^ { { ' } } \\prime"},
    {"x^{'{'}}\\prime", 2, false, false, true, "x ^ { ' { ' } } \\prime"},
    {"{0}\\prime", 2, false, false, true, "{ 0 }'"},
    {"x^{'}\\prime", 2, true, true, true, "x ^ { ' } \\prime"},
    {"x^{'{'}}\\prime", 2, true, true, true, "x ^ { '' } \\prime"},
    {"x^{'}\\prime", 2, true, false, true, "x''"},
    {"{K'}_l", 1, true, true, false, "{ K' } _ { l }"},
    {"{x_a}^b", 3, true, false, false, "{ x _ { a } } ^ { b }"},
};

TEST(ReadBack, RulesAskWhichBracesStay) {
    for (const KeptBracesCase& c : KEPT_BRACES_CASES) {
        SCOPED_TRACE(c.source);
        const facade::TransformEngine& e = engine(c.profile);
        facade::NormalizeConfig config = e.default_normalize_config();
        config.transform.flatten_groups.enabled = c.flatten;
        config.transform.flatten_groups.preserve_rendered_spacing = c.preserve_rendered_spacing;
        transform::FlattenGroupsGuardsOverlay guards;
        guards.guards[static_cast<std::size_t>(transform::FlattenGuard::ScriptBase)] = c.script_base_guard;
        const auto output = e.normalize_with_flatten_groups_guards(c.source, config, guards);
        ASSERT_TRUE(output.has_value());
        EXPECT_EQ(output->normalized, c.output);
        EXPECT_EQ(read_back_fault(e, output->normalized), "");
    }
}

struct RoundReport {
    const char* source;
    std::size_t profile;
    const char* rule;  // applied once; null: none applied
    std::uint64_t iterations;
};

// The rules' round after flattening counts in the report when a rule applied
// in it, and leaves the report as it was otherwise.
const RoundReport ROUND_REPORTS[] = {
    {"{\\:{}\\;}", 2, "small-spacer-merge-to-enspace", 3},
    {"\\quad{}\\quad", 2, "double-quad-to-qquad", 3},
    {"{a}b", 3, nullptr, 1},
    {"{\\:}x", 3, nullptr, 1},
};

TEST(ReadBack, RoundsAfterFlatteningInTheReport) {
    for (const RoundReport& c : ROUND_REPORTS) {
        SCOPED_TRACE(c.source);
        const facade::TransformEngine& e = engine(c.profile);
        const auto reported = e.normalize_with_report(c.source, e.default_normalize_config());
        ASSERT_TRUE(reported.has_value());
        std::uint64_t applied = 0;
        for (const auto& stat : reported->report.rewrite.rules) {
            applied += stat.applied;
            if (c.rule != nullptr && stat.key.name == c.rule) {
                EXPECT_EQ(stat.applied, 1u);
            }
        }
        EXPECT_EQ(applied, c.rule == nullptr ? 0u : 1u);
        EXPECT_EQ(reported->report.rewrite.iterations, c.iterations);
    }
}

struct ErrorCase {
    const char* source;
    const char* written;  // parsed with unknown commands refused
};

// A delimited argument whose text ends in an Error snippet is read again with
// its recovery: the written text reads back as itself.
const ErrorCase ERROR_CASES[] = {
    {"\\qty(\\y{{\\qty(}})})", "\\qty ( \\y {{\\qty(}}) })"},
    {"\\qty(\\y{{\\qty(}}) })", "\\qty ( \\y {{\\qty(}}) })"},
    {"\\qty[\\y{{\\qty[}}]}]", "\\qty [ \\y {{\\qty[}}] }]"},
    {"\\qty(a\\y )", "\\qty ( a \\y)"},
    // A letter after an unknown control word stays apart from it.
    {"\\operatorname{\\foo f^2}", "\\operatorname {\\foo f ^ { 2 }}"},
    {"\\operatorname{\\foo x}", "\\operatorname {\\foo x}"},
    // An argument read without braces whose snippet has an unpaired brace
    // is written without them.
    {"[\\sqrt\\mqty[3}, 2]", "[ \\sqrt \\mqty [ 3 }, 2]"},
    {"\\frac\\mqty[3}, 2]x", "\\frac \\mqty [ 3 }, 2] { x }"},
    // Both closing delimiters follow a snippet: the inner one ends its
    // argument's only item, the outer one a list that goes on after it.
    {"\\qty(\\comm{a}\\mqty[{\\bigr] x})", "\\qty ( \\comm { a } \\mqty [ {\\bigr] x })"},
};

TEST(ReadBack, ErrorDocumentsWriteBackToThemselves) {
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        parse::ParseConfig config = engine(p).default_normalize_config().parse;
        config.reject_unknown = true;
        const auto write = [&](const std::string& source) -> std::string {
            const auto parsed = engine(p).parser().parse_with(source, config);
            if (!parsed.document) return "no document";
            auto text = parsed.document->to_latex();
            return text ? *text : "not written";
        };
        for (const ErrorCase& c : ERROR_CASES) {
            SCOPED_TRACE(std::string(PROFILE_NAMES[p]) + ": " + c.source);
            const std::string text = write(c.source);
            EXPECT_EQ(text, c.written);
            EXPECT_EQ(write(text), text);
        }
    }
}

// Text arguments made from a seed: characters, spaces, brace groups,
// attribute declaratives and prefixes, and inline math.
class TextMaker : testing::SeededPicker {
public:
    using SeededPicker::SeededPicker;

    std::string formula() {
        static constexpr std::array<const char*, 4> HEADS{"\\text{", "\\mbox{", "\\textbf{", "\\textit{"};
        return std::string(HEADS[pick(HEADS.size())]) + content(0) + "}";
    }

private:
    std::string content(int depth) {
        static constexpr std::array<const char*, 10> ATOMS{"a", "b", "f", "i", "\\,", "-", "'", "`", " ", "x y"};
        static constexpr std::array<const char*, 6> DECLARATIVES{"\\bf ", "\\it ", "\\rm ", "\\sf ", "\\large ",
                                                                "\\small "};
        static constexpr std::array<const char*, 4> PREFIXES{"\\textbf{", "\\textit{", "\\textrm{", "\\texttt{"};
        std::string out;
        for (std::size_t i = 0, n = 1 + pick(5); i < n; ++i) {
            const std::size_t kind = pick(depth < 3 ? 10 : 6);
            if (kind < 4) {
                out += ATOMS[pick(ATOMS.size())];
            } else if (kind < 6) {
                out += DECLARATIVES[pick(DECLARATIVES.size())];
                out += ATOMS[pick(ATOMS.size() - 2)];
            } else if (kind < 8) {
                out += "{" + content(depth + 1) + "}";
            } else if (kind == 8) {
                out += std::string(PREFIXES[pick(PREFIXES.size())]) + content(depth + 1) + "}";
            } else {
                out += pick(2) == 0 ? "$x^2$" : "$\\mathbf{y}'$";
            }
        }
        return out;
    }
};

// A normalised output normalises to itself at every profile: a sample of the
// corpus, made formulas and made texts.
TEST(ReadBack, NormalisedOutputsSettle) {
    std::vector<std::string> inputs;
    if (const auto sample = transform::testing::corpus_sample(24)) inputs = *sample;
    FormulaMaker maker(39);
    TextMaker texts(39);
    for (int i = 0; i < 1000; ++i) {
        inputs.push_back(maker.formula());
        inputs.push_back(texts.formula());
    }
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        const facade::TransformEngine& e = engine(p);
        std::size_t faults = 0;
        for (const std::string& source : inputs) {
            if (!written(e, source)) continue;
            const auto output = normalised(e, source);
            if (!output || !read_back_fault(e, *output).empty()) continue;  // the test above reports it
            const auto again = normalised(e, *output);
            if (again != output && faults++ < 5)
                ADD_FAILURE() << PROFILE_NAMES[p] << ": " << source << " -> " << *output << " -> "
                              << again.value_or("(fails)");
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p];
    }
}

struct BracketCase {
    const char* source;
    const char* authoring;
    const char* faithful;   // null: as at authoring
    const char* flattened;  // at corpus and equiv; null: as at faithful
};

// A `]` outside braces ends a bracket argument, and a `[` right after a
// command whose slots are open starts its optional argument: the braces that
// hide one stay, and items that rules build there are written in braces.
// `\mqty(...)` pairs its delimiters and sees no braces: `\pmqty` and `\bmqty`
// stay where the body has an unpaired one.
const BracketCase BRACKET_CASES[] = {
    {"\\sqrt[{[a]}]{x}", "\\sqrt [ { [ a ] } ] { x }", nullptr, nullptr},
    {"\\sqrt[{a]}]{x}", "\\sqrt [ { a ] } ] { x }", nullptr, nullptr},
    {"\\sec[{(\\sec[]}]", "\\sec [ { ( \\sec [ ] } ]", nullptr, nullptr},
    {"\\dd[{\\dd[]}]", "\\dd [ { \\dd [ ] } ]", nullptr, nullptr},
    {"\\dv[{]}]{}", "\\dv [ { ] } ] { }",
     "\\frac { \\mathrm { d } ^ { ] } } { \\mathrm { d } { } ^ { ] } }", nullptr},
    // Through a group flattened into the one that stays, a script base, a
    // delimited group or argument, or a redirected argument.
    {"\\sqrt[{{]}}]{x}", "\\sqrt [ { ] } ] { x }", nullptr, nullptr},
    {"\\sqrt[{]^2}]{x}", "\\sqrt [ { ] ^ { 2 } } ] { x }", nullptr, nullptr},
    {"\\sqrt[{\\left[a\\right]}]{x}", "\\sqrt [ { \\left [ a \\right ] } ] { x }", nullptr, nullptr},
    {"\\sqrt[\\qty({]})]{x}", "\\sqrt [ \\qty ( { ] } ) ] { x }", nullptr, nullptr},
    {"\\sqrt[{\\sqrt[3]{x}}]{y}", "\\sqrt [ { \\sqrt [ 3 ] { x } } ] { y }", nullptr, nullptr},
    // Braces elsewhere go as before.
    {"\\sqrt[{a}b]{x}", "\\sqrt [ a b ] { x }", nullptr, nullptr},
    {"\\sqrt[a]{{]}}", "\\sqrt [ a ] { ] }", nullptr, nullptr},
    // Made by rules.
    {"\\root{]}\\of x", "\\sqrt [ { ] } ] { x }", nullptr, nullptr},
    {"\\root a]b\\of x", "\\sqrt [ a { ] } b ] { x }", nullptr, nullptr},
    {"\\sqrt[\\bmqty{a}]{x}", "\\sqrt [ \\bmqty { a } ] { x }", "\\sqrt [ { \\mqty [ a ] } ] { x }", nullptr},
    {"\\sqrt[\\comm{A}{B}]{x}", "\\sqrt [ \\comm { A } { B } ] { x }",
     "\\sqrt [ { \\left [ A , B \\right ] } ] { x }", nullptr},
    // A `[` that a command would take.
    {"x\\sec{[}a]", "x \\sec { [ } a ]", nullptr, nullptr},
    {"\\sec{}[a]", "\\sec { } [ a ]", nullptr, nullptr},
    {"\\sec{[}^2a]", "\\sec { [ } ^ { 2 } a ]", nullptr, nullptr},
    {"\\sqrt[\\sec{[}]{x}", "\\sqrt [ \\sec { [ } ] { x }", nullptr, nullptr},
    {"\\sqrt{x}{[}a]", "\\sqrt { x } { [ } a ]", nullptr, "\\sqrt { x } [ a ]"},
    {"{\\dd}[a]", "{ \\dd } [ a ]", nullptr, nullptr},
    {"{a\\dd}(x)", "{ a \\dd } ( x )", nullptr, nullptr},
    // An item a rule builds gets its braces before flattening decides
    // inside it, as the next reading will see them.
    {"\\sqrt[\\pmqty{]{]}}]{x}", "\\sqrt [ \\pmqty { ] ] } ] { x }", "\\sqrt [ { \\mqty ( ] ] ) } ] { x }",
     nullptr},
    // Matrix builders.
    {"\\pmqty{(}", "\\pmqty { ( }", nullptr, nullptr},
    {"\\pmqty{)}", "\\pmqty { ) }", nullptr, nullptr},
    {"\\bmqty{[}", "\\bmqty { [ }", nullptr, nullptr},
    {"\\bmqty{]}", "\\bmqty { ] }", nullptr, nullptr},
    {"\\pmqty{{)}(}", "\\pmqty { ) ( }", nullptr, nullptr},
    {"\\pmqty{\\left(a\\right.}", "\\pmqty { \\left ( a \\right . }", nullptr, nullptr},
    {"\\pmqty{(a)}", "\\pmqty { ( a ) }", "\\mqty ( ( a ) )", nullptr},
    {"\\bmqty{\\sqrt[3]{x}}", "\\bmqty { \\sqrt [ 3 ] { x } }", "\\mqty [ \\sqrt [ 3 ] { x } ]", nullptr},
    {"\\pmqty{\\text{(}}", "\\pmqty { \\text {(} }", nullptr, nullptr},
    {"\\pmqty{\\{}", "\\pmqty { \\{ }", "\\mqty ( \\{ )", nullptr},
};

TEST(ReadBack, BracketsAndDelimitersInArguments) {
    for (const BracketCase& c : BRACKET_CASES) {
        SCOPED_TRACE(c.source);
        ASSERT_TRUE(written(engine(0), c.source).has_value()) << "does not parse clean";
        const char* faithful = c.faithful != nullptr ? c.faithful : c.authoring;
        const char* expected[] = {c.authoring, faithful, c.flattened != nullptr ? c.flattened : faithful};
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            const auto output = normalised(engine(p), c.source);
            ASSERT_TRUE(output.has_value()) << "does not normalise";
            EXPECT_EQ(*output, expected[std::min<std::size_t>(p, 2)]);
            EXPECT_EQ(read_back_fault(engine(p), *output), "");
            EXPECT_EQ(normalised(engine(p), *output), output) << "not settled";
        }
    }
}

}  // namespace
}  // namespace quorvel
