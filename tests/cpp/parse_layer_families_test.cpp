// Three-layer nestings (layer_families.hpp). In the named families each
// level's recovery skip passes the closers of every level below it, one step
// each: the skip's steps grow with the square of the levels. Each step is
// charged to the work bound at about what it costs, so the families reach
// the bound early, and from there their work is linear; the document stays,
// with one `formula-too-complex` diagnostic. Seeded random three-layer
// nestings keep to the same limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "layer_families.hpp"
#include "parse/grammar/fuel.hpp"
#include "parse/parse.hpp"
#include "parse_work.hpp"

namespace quorvel::parse {
namespace {

std::size_t count_too_complex(const ParseOutcome& out) {
    std::size_t n = 0;
    for (const auto& d : out.diagnostics) n += d.kind == ParseDiagnosticKind::FormulaTooComplex;
    return n;
}

struct Parsed {
    testing::Work work;
    bool document = false;
    std::size_t too_complex = 0;
};

Parsed parse(const std::string& source, const ParseConfig& config = {}) {
    const ParseOutcome out = parse_source(sweep::all_packages(), source, config);
    return Parsed{testing::last_work(), out.document.has_value(), count_too_complex(out)};
}

class LayerFamily : public ::testing::TestWithParam<layers::Family> {};

// A thousand levels, some 50 KB, reach the full bound: uncharged, the skips
// took twice as long as what the bound counted, and the bound was not
// reached before some 2,000 levels.
TEST_P(LayerFamily, ReachesTheBoundEarlyWithItsDocument) {
    const Parsed p = parse(layers::build(GetParam(), 1024));
    EXPECT_TRUE(p.work.reached & grammar::detail::kWorkBound) << p.work.per_token() << " units per token";
    EXPECT_TRUE(p.document);
    EXPECT_EQ(p.too_complex, 1u);
}

// Past the bound (a small tank reaches it with short inputs) the work grows
// with the input, and both sizes keep their document.
TEST_P(LayerFamily, WorkGrowsLinearlyPastTheBound) {
    const grammar::detail::FuelScale old = grammar::detail::exchange_fuel_scale({64, 4096});
    const Parsed small = parse(layers::build(GetParam(), 64));
    const Parsed large = parse(layers::build(GetParam(), 512));
    grammar::detail::exchange_fuel_scale(old);
    EXPECT_LE(large.work.units, 12 * small.work.units) << small.work.units << " -> " << large.work.units;
    for (const Parsed* p : {&small, &large}) {
        EXPECT_TRUE(p->work.reached & grammar::detail::kWorkBound);
        EXPECT_TRUE(p->document);
        EXPECT_EQ(p->too_complex, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Named, LayerFamily, ::testing::ValuesIn(layers::kFamilies),
                         [](const auto& info) { return "family" + std::to_string(info.index); });

// The drawn nestings whose work still grows faster than their levels up to
// the bound: `x^{\ketbra{\text{\[ z }}`, whose every level's skip passes
// the levels below it.
constexpr std::uint64_t kGrowsFaster[] = {34};

// Seeded random nestings, at n and 8n levels, their groups kept below the
// depth limit (past it unclosed nesting can grow faster than the formula up
// to the bound):
// the work of those that stay below the bound grows at most 12 times, and
// none ends with more than one `formula-too-complex` diagnostic.
TEST(LayerFamilies, RandomNestingsGrowLinearly) {
    ParseConfig deep;
    deep.max_group_depth = 4096;
    for (std::uint64_t seed = 1; seed <= 48; ++seed) {
        if (std::find(std::begin(kGrowsFaster), std::end(kGrowsFaster), seed) != std::end(kGrowsFaster)) continue;
        const layers::Level level = layers::random_level(seed);
        const Parsed small = parse(sweep::nest(level.open, "z", level.close, 16), deep);
        const Parsed large = parse(sweep::nest(level.open, "z", level.close, 128), deep);
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + level.describe);
        if (!(large.work.reached & grammar::detail::kWorkBound)) {
            EXPECT_EQ(testing::work_fault(small.work, large.work, testing::kRecoveryBound), "");
        }
        EXPECT_LE(small.too_complex, 1u);
        EXPECT_LE(large.too_complex, 1u);
    }
}

}  // namespace
}  // namespace quorvel::parse
