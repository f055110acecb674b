// The work a parse does outside the units of its work bound: the entries
// the recovery tables copy, release, hash or scan (util/work_count.hpp).
// The bound caps the units, so the time a parse takes follows them only if
// the uncounted work grows with them: a copy whose size grows with the
// input, made once per unit, costs time the bound never sees. Each input
// is parsed at n and 8n levels; the units and the uncounted work may grow
// at most 12 times.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "layer_families.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse_grammar_support.hpp"
#include "parse_work.hpp"

namespace quorvel::parse {
namespace {

using testing::default_context;
using testing::repeat;

// A tank that runs out within the larger size of every family below, so
// that each parse's units are linear in its tokens, quadratic reading or not.
struct SmallTank {
    grammar::detail::FuelScale old = grammar::detail::exchange_fuel_scale({32, 2048});
    ~SmallTank() { grammar::detail::exchange_fuel_scale(old); }
};

struct Family {
    std::string name;
    std::string open;
    std::string middle;
    std::string close;
    std::size_t n;

    std::string build(std::size_t levels) const { return repeat(open, levels) + middle + repeat(close, levels); }
};

void PrintTo(const Family& f, std::ostream* os) { *os << f.name; }

// How the work of `f` at n and 8n levels passes the limits; with the small
// tank, only its growth counts.
std::string fault_at(const Family& f, bool small_tank) {
    auto measure = [&](std::size_t levels) {
        const std::string source = f.build(levels);
        return testing::measure_work([&] { (void)parse_source(default_context(), source, {}); });
    };
    if (!small_tank) return testing::work_fault(measure(f.n), measure(8 * f.n), testing::kRecoveryBound);
    // Any budget may be reached, and the tank bounds the units per token.
    const SmallTank tank;
    const testing::WorkLimits any{1e9, grammar::detail::kWorkBound | grammar::detail::kRecoveryBudget};
    return testing::work_fault(measure(f.n), measure(8 * f.n), any);
}

// Three-layer nestings whose reading grows with the square of their levels
// until the tank runs out.
std::vector<Family> three_layer_families(std::size_t n) {
    static constexpr std::array<const char*, std::size(layers::kFamilies)> kNames = {
        "frac_matrix_cases", "aligned_left_aligned", "left_matrix_left"};
    std::vector<Family> out;
    for (std::size_t i = 0; i < kNames.size(); ++i) {
        const layers::Family& f = layers::kFamilies[i];
        out.push_back({kNames[i], f.open, f.middle, f.close, n});
    }
    return out;
}

// Faulty text arguments in open groups (each skip passed every level below
// it and copied its levels at each argument it entered), and the
// three-layer families, each read until the small tank runs out.
std::vector<Family> absorbed() {
    std::vector<Family> all = {{"open_groups_of_faulty_text", "{\\text{\\right}", "", "", 250}};
    for (Family& f : three_layer_families(64)) all.push_back(std::move(f));
    return all;
}

// Three layers drawn from openers that fail in different ways, each closed,
// left open, or closed with a fault after it; the seed fixes the draw.
std::vector<Family> random_three_layers(std::size_t count) {
    struct Layer {
        const char* open;
        const char* close;
    };
    static constexpr std::array<Layer, 10> kLayers = {{
        {"{", "}"},
        {"\\left(", "\\right)"},
        {"\\begin{matrix}", "\\end{matrix}"},
        {"\\begin{cases}", "\\end{cases}"},
        {"\\begin{aligned}", "\\end{aligned}"},
        {"\\frac{", "}{a}"},
        {"\\sqrt[", "]{b}"},
        {"\\text{$", "$}"},
        {"\\mathrm{", "}"},
        {"\\textbf{\\(", "\\)}"},
    }};
    static constexpr std::array<const char*, 4> kFaults = {"#", "$", "^", "\\right)"};
    std::mt19937 draw(49);
    auto pick = [&](std::size_t size) { return std::uniform_int_distribution<std::size_t>(0, size - 1)(draw); };
    std::vector<Family> out;
    for (std::size_t i = 0; i < count; ++i) {
        Family f{"three_layers_" + std::to_string(i), "", "z", "", 16};
        for (int level = 0; level < 3; ++level) {
            const Layer& layer = kLayers[pick(kLayers.size())];
            f.open += layer.open;
            std::string close;
            switch (pick(3)) {
                case 0: close = layer.close; break;
                case 1: break;  // left open
                default: close = std::string(layer.close) + kFaults[pick(kFaults.size())]; break;
            }
            f.close = close + f.close;
        }
        out.push_back(std::move(f));
    }
    return out;
}

class UncountedWork : public ::testing::TestWithParam<Family> {};

TEST_P(UncountedWork, FollowsTheUnits) { EXPECT_EQ(fault_at(GetParam(), true), "") << GetParam().build(2); }

INSTANTIATE_TEST_SUITE_P(Absorbed, UncountedWork, ::testing::ValuesIn(absorbed()),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Random, UncountedWork, ::testing::ValuesIn(random_three_layers(12)),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace quorvel::parse
