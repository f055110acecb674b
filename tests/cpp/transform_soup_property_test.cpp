// A seeded soup of the constructs whose normalised text is easy to get
// wrong: bracket arguments (brace groups in them that hold `[` or `]`),
// physics shorthands and matrices, math inside text, primes, spacing
// commands, `\operatorname` and nested groups. Every formula that parses
// clean must, at every profile, normalise to text that parses clean and
// normalises to itself.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "facade/transform_engine.hpp"
#include "profile_engines.hpp"

namespace quorvel {
namespace {

using testing::engine;
using testing::PROFILE_NAMES;
using testing::PROFILES;

// Pieces a formula is made of. `@` stands for a nested formula, `#` for the
// content of a bracket argument.
constexpr std::array<std::string_view, 18> ATOMS{
    "x", "2", "+", "(", "]", "\\alpha ", "'", "\\prime ", "x'", "f''", "x^{\\prime}", "y^\\prime ", "\\:", "\\;", "~",
    "\\,", "\\quad ", "{}"};
constexpr std::array<std::string_view, 31> SHAPES{
    "{@}",          "{{@}@}",         "@^{@}",          "@_{@}",         "\\sqrt[#]{@}",   "\\sqrt[#]@",
    "\\dd[#]{@}",   "\\dd{@}",        "\\dv[%]{@}{x}",  "\\dv{@}{x}",    "\\pdv[%]{@}{x}", "\\pmqty{@}",
    "\\bmqty{@}",   "\\mqty{@}",      "\\mqty(@)",      "\\mqty[@]",     "\\pmqty{@ & @ \\\\ @ & @}",
    "\\qty(@)",     "\\qty[@]",       "\\qty{@}",       "\\abs{@}",      "\\norm{@}",      "\\text{$@$}",
    "\\text{a\\(@\\)}", "\\textbf{b $@$}", "\\text{{$@$}}", "\\operatorname{@}", "\\operatorname{f@}",
    "\\mathrm{@}",  "{\\bf @}",       "\\frac{@}{@}"};
// Content of a bracket argument: braces that hold a bracket keep it from
// ending or opening the argument.
constexpr std::array<std::string_view, 11> BRACKETS{
    "n", "2", "", "{x}", "{[a]}", "{a]}", "{[}", "{]}", "a{]}b", "{@}", "a{@}"};

// The order of a derivative, which its fraction writes twice: one with a
// bracket of its own would unbalance a `\mqty[...]` around it, which the
// expansion does not yet avoid.
constexpr std::array<std::string_view, 5> ORDERS{"n", "2", "", "{x}", "{[a]}"};

// Deterministic formulas of the pieces above, at most three levels deep.
class SoupMaker {
public:
    explicit SoupMaker(std::uint64_t seed) : state_(seed) {}

    std::string formula(int depth = 0) {
        std::string out;
        for (std::size_t i = 0, n = 1 + pick(3); i < n; ++i)
            out += depth < 3 && pick(3) == 0 ? expand(choose(SHAPES), depth + 1) : std::string(choose(ATOMS));
        return out;
    }

private:
    // `@` is a formula, `#` the content of a bracket argument, `%` an order.
    std::string expand(std::string_view shape, int depth) {
        std::string out;
        for (const char c : shape) {
            if (c == '@') out += formula(depth);
            else if (c == '#') out += expand(choose(BRACKETS), depth);
            else if (c == '%') out += choose(ORDERS);
            else out += c;
        }
        return out;
    }

    template <std::size_t N>
    std::string_view choose(const std::array<std::string_view, N>& table) { return table[pick(N)]; }

    std::size_t pick(std::size_t n) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((state_ >> 33) % n);
    }

    std::uint64_t state_;
};

bool parses_clean(const facade::TransformEngine& e, const std::string& text) {
    const auto parsed = e.parser().parse_with(text, e.default_normalize_config().parse);
    return parsed.document && parsed.diagnostics.empty();
}

std::optional<std::string> normalised(const facade::TransformEngine& e, const std::string& source) {
    auto text = e.normalize_with(source, e.default_normalize_config());
    if (!text) return std::nullopt;
    return *text;
}

// What is wrong with a normalised output: empty when it parses clean and
// normalises to itself.
std::string fault(const facade::TransformEngine& e, const std::string& output) {
    const auto again = e.parser().parse_with(output, e.default_normalize_config().parse);
    if (!again.document) return "reads back without a document";
    if (!again.diagnostics.empty()) return "reads back with \"" + again.diagnostics[0].message + "\"";
    const auto second = normalised(e, output);
    if (second != output) return "normalised again: " + second.value_or("(fails)");
    return "";
}

TEST(SoupProperty, NormalisedOutputsReadBackCleanAndSettle) {
    SoupMaker maker(50);
    std::vector<std::string> inputs;
    std::size_t made = 0;
    while (inputs.size() < 400) {
        std::string formula = maker.formula();
        ++made;
        if (!parses_clean(engine(0), formula)) continue;
        inputs.push_back(std::move(formula));
    }
    // The pieces are valid: a soup of them that mostly fails to parse would
    // test little.
    EXPECT_GT(inputs.size() * 4, made) << "only " << inputs.size() << " of " << made << " formulas parse clean";
    for (std::size_t p = 0; p < PROFILES.size(); ++p) {
        std::size_t faults = 0;
        for (const std::string& source : inputs) {
            const auto output = normalised(engine(p), source);
            if (!output) {
                if (faults++ < 10) ADD_FAILURE() << PROFILE_NAMES[p] << ": " << source << ": does not normalise";
                continue;
            }
            const std::string found = fault(engine(p), *output);
            if (!found.empty() && faults++ < 10)
                ADD_FAILURE() << PROFILE_NAMES[p] << ":\n  input:  " << source << "\n  output: " << *output
                              << "\n  " << found;
        }
        EXPECT_EQ(faults, 0u) << PROFILE_NAMES[p] << ": of " << inputs.size() << " formulas";
    }
}

}  // namespace
}  // namespace quorvel
