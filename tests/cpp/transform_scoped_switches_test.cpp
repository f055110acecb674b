// Where TeX scopes what a formula declares: a declarative ends at its cell's
// `&` or row end, fraction parts, scripts, cells and a root's index take a
// style of their own, and a prime in a superscript group is raised twice.
// At every profile the output reads back clean and settles in one round;
// the profiles that keep rendering keep the switches, cells and raised
// primes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "facade/transform_engine.hpp"
#include "profile_engines.hpp"
#include "seeded_picker.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

constexpr std::size_t kRenderingKept = 2;  // authoring and faithful come first in PROFILES

std::optional<std::string> normalised(const facade::TransformEngine& e, const std::string& source) {
    auto text = e.normalize_with(source, e.default_normalize_config());
    if (!text) return std::nullopt;
    return *text;
}

// Empty when the output parses without a diagnostic and normalises to itself.
std::string fault(const facade::TransformEngine& e, const std::string& output) {
    const auto again = e.parser().parse_with(output, e.default_normalize_config().parse);
    if (!again.document) return "reads back without a document";
    if (!again.diagnostics.empty()) return "reads back with \"" + again.diagnostics[0].message + "\"";
    const auto second = normalised(e, output);
    if (second != output) return "normalised again: " + second.value_or("(fails)");
    return "";
}

struct Reproducer {
    const char* source;
    const char* kept;  // the output where rendering is kept
};

const Reproducer REPRODUCERS[] = {
    {R"(\begin{pmatrix} \bf a & b \\ c & d \end{pmatrix})", R"(\begin {pmatrix} \mathbf { a } & b \\ c & d \end {pmatrix})"},
    {R"(\begin{aligned} \bf a &= b \\ c &= d \end{aligned})", R"(\begin {aligned} \mathbf { a } & = b \\ c & = d \end {aligned})"},
    {R"(\begin{array}{cc} \rm a & b \end{array})", R"(\begin {array} {cc} \mathrm { a } & b \end {array})"},
    {R"(\textstyle y^{\begin{matrix} a & \scriptscriptstyle \begin{matrix}\displaystyle x & \scriptscriptstyle \sum_{i} x_{i}\end{matrix}\end{matrix}})",
     R"(\textstyle y ^ { \begin {matrix} a & \scriptscriptstyle \begin {matrix} \displaystyle x & \scriptscriptstyle \sum _ { i } x _ { i } \end {matrix} \end {matrix} })"},
    {R"(\begin{pmatrix} \displaystyle a & b \\ \large c & \bf d \end{pmatrix})",
     R"(\begin {pmatrix} \displaystyle a & b \\ \large c & \mathbf { d } \end {pmatrix})"},
    {R"(\displaystyle\frac{\displaystyle\sum_i x_i}{n})", R"(\displaystyle \frac { \displaystyle \sum _ { i } x _ { i } } { n })"},
    {R"(\displaystyle x^{\displaystyle 2})", R"(\displaystyle x ^ { \displaystyle 2 })"},
    {R"(\displaystyle \begin{pmatrix} \displaystyle \frac{a}{b} & c \end{pmatrix})",
     R"(\displaystyle \begin {pmatrix} \displaystyle \frac { a } { b } & c \end {pmatrix})"},
    {R"(\displaystyle \begin{cases} \displaystyle \frac{a}{b} & c \end{cases})",
     R"(\displaystyle \begin {cases} \displaystyle \frac { a } { b } & c \end {cases})"},
    {R"(\scriptstyle a \frac{\scriptstyle b}{c})", R"(\scriptstyle a \frac { \scriptstyle b } { c })"},
    {R"(P = \displaystyle{\frac{b}{1+\displaystyle{\frac{K}{R}}}})",
     R"(P = \displaystyle { \frac { b } { 1 + \displaystyle { \frac { K } { R } } } })"},
    {R"(\displaystyle \sqrt[\displaystyle n]{x})", R"(\displaystyle \sqrt [ \displaystyle n ] { x })"},
    {R"(x^{'})", R"(x ^ { ' })"},
    {R"(x^{''})", R"(x ^ { '' })"},
    {R"(\mathcal { D } _ { + } ^ { ' } ( E ))", R"(\mathcal { D } _ { + } ^ { ' } ( E ))"},
    {R"(\begin{matrix} x^{'} & y \end{matrix})", R"(\begin {matrix} x ^ { ' } & y \end {matrix})"},
    {R"(x^{\prime})", R"(x')"},
    {R"(x^{\prime\prime})", R"(x'')"},
    {R"(x^{{\prime}\prime})", R"(x'')"},
    // A written prime raised twice beside a `\prime`: both stay as they are.
    {R"(x^{'\prime})", R"(x ^ { ' \prime })"},
};

TEST(ScopedSwitches, ReproducersAtEveryProfile) {
    for (const Reproducer& r : REPRODUCERS) {
        SCOPED_TRACE(r.source);
        for (std::size_t p = 0; p < PROFILES.size(); ++p) {
            SCOPED_TRACE(PROFILE_NAMES[p]);
            const auto output = normalised(engine(p), r.source);
            ASSERT_TRUE(output.has_value()) << "does not normalise";
            if (p < kRenderingKept) {
                EXPECT_EQ(*output, r.kept);
            }
            EXPECT_EQ(fault(engine(p), *output), "");
        }
    }
}

// ---- Generated formulas of the same shapes ----------------------------------------------

// Fonts and sizes, for brace groups anywhere; a cell may open with a style
// switch as well.
constexpr std::array<std::string_view, 9> FONTS{"\\bf ", "\\rm ", "\\it ",    "\\sf ",  "\\tt ",
                                                "\\cal ", "\\large ", "\\small ", "\\Huge "};
constexpr std::array<std::string_view, 4> STYLES{"\\displaystyle ", "\\textstyle ", "\\scriptstyle ",
                                                 "\\scriptscriptstyle "};
constexpr std::array<std::string_view, 10> ATOMS{"x", "a", "2", "=", "\\alpha ", "\\sum_{i} x_{i}", "b'",
                                                 "x^{'}", "y^{''}", "z^{\\prime}"};
constexpr std::array<std::string_view, 6> ENVIRONMENTS{"pmatrix", "matrix", "bmatrix", "cases", "aligned", "array"};
// `@` is a formula, `$` a slot: a formula that may start with a style switch.
constexpr std::array<std::string_view, 10> SHAPES{
    "\\frac{$}{$}", "x^{$}", "\\sum_{$}", "\\sqrt[$]{$}", "\\sqrt{$}", "\\overset{$}{=}", "{%@}", "f^{'}",
    "A_{@}^{''}",   "E"};  // `%` a declarative, `E` an environment

class ShapeMaker : testing::SeededPicker {
public:
    using SeededPicker::SeededPicker;

    std::string formula(int depth = 0) {
        std::string out;
        for (std::size_t i = 0, n = 1 + pick(3); i < n; ++i) {
            if (i > 0) out += ' ';
            out += depth < 3 && pick(3) == 0 ? expand(choose(SHAPES), depth + 1) : std::string(choose(ATOMS));
        }
        return out;
    }

private:
    std::string expand(std::string_view shape, int depth) {
        if (shape == "E") return environment(depth);
        std::string out;
        for (const char c : shape) {
            if (c == '@') out += formula(depth);
            else if (c == '$') out += (pick(2) == 0 ? std::string(choose(STYLES)) : "") + formula(depth);
            else if (c == '%') out += choose(FONTS);
            else out += c;
        }
        return out;
    }

    // Rows of two cells, each opening with a switch half the time.
    std::string environment(int depth) {
        const std::string_view name = choose(ENVIRONMENTS);
        std::string out = "\\begin{" + std::string(name) + "}" + (name == "array" ? "{cc}" : "");
        for (std::size_t row = 0, rows = 1 + pick(2); row < rows; ++row) {
            if (row > 0) out += " \\\\";
            for (int cell = 0; cell < 2; ++cell) {
                if (cell > 0) out += " &";
                out += ' ';
                if (pick(2) == 0) out += pick(2) == 0 ? choose(FONTS) : choose(STYLES);
                out += formula(depth);
            }
        }
        return out + " \\end{" + std::string(name) + "}";
    }
};

std::size_t occurrences(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string without_spaces(std::string_view text) {
    std::string out;
    for (const char c : text)
        if (c != ' ') out += c;
    return out;
}

// What a kept rendering lost: a `&` or row end at another brace depth than
// its environment's body, fewer cells, fewer primes in superscript groups or
// fewer style switches (each generated one starts its list, so none of them
// is redundant). Empty when nothing is lost.
std::string lost(const std::string& source, const std::string& output) {
    std::vector<int> bodies;  // the brace depth of each open environment
    int depth = 0;
    for (std::size_t i = 0; i < output.size(); ++i) {
        const std::string_view rest = std::string_view(output).substr(i);
        if (output[i] == '{') ++depth;
        else if (output[i] == '}') --depth;
        else if (rest.starts_with("\\begin")) bodies.push_back(depth);
        else if (rest.starts_with("\\end") && !bodies.empty()) bodies.pop_back();
        else if ((output[i] == '&' || rest.starts_with("\\\\")) && (bodies.empty() || bodies.back() != depth))
            return "a cell boundary inside braces";
        if (rest.starts_with("\\\\")) ++i;
    }
    const std::string in = without_spaces(source);
    const std::string out = without_spaces(output);
    if (occurrences(out, "&") != occurrences(in, "&")) return "cells lost";
    if (occurrences(out, "^{'") != occurrences(in, "^{'")) return "a raised prime lost";
    std::size_t styles_in = 0;
    std::size_t styles_out = 0;
    for (std::string_view style : STYLES) {
        styles_in += occurrences(source, style.substr(0, style.size() - 1));
        styles_out += occurrences(output, style.substr(0, style.size() - 1));
    }
    if (styles_out < styles_in) return "a style switch lost";
    return "";
}

TEST(ScopedSwitches, GeneratedShapesKeepTheirScopes) {
    ShapeMaker maker(56);
    std::vector<std::string> inputs;
    std::size_t made = 0;
    while (inputs.size() < 300) {
        std::string formula = maker.formula();
        ++made;
        const auto parsed = engine(0).parser().parse_with(formula, engine(0).default_normalize_config().parse);
        if (!parsed.document || !parsed.diagnostics.empty()) continue;
        inputs.push_back(std::move(formula));
    }
    EXPECT_GT(inputs.size() * 4, made) << "only " << inputs.size() << " of " << made << " formulas parse clean";
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        std::size_t faults = 0;
        for (const std::string& source : inputs) {
            const auto output = normalised(engine(p), source);
            std::string found = output ? fault(engine(p), *output) : "does not normalise";
            if (found.empty() && p < kRenderingKept) found = lost(source, *output);
            if (!found.empty() && faults++ < 10)
                ADD_FAILURE() << PROFILE_NAMES[p] << ":\n  input:  " << source
                              << "\n  output: " << output.value_or("") << "\n  " << found;
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p] << ": of " << inputs.size() << " formulas";
    }
}

}  // namespace
}  // namespace quorvel
