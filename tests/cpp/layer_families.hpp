// Three-layer nestings: each level opens three layers of the sweep
// (nesting_sweep.hpp) and closes them in turn, some left open and some
// followed by a stray fault. With a layer left open the skips of the levels
// below can read the levels again, which a two-layer nesting does not give.
// Named families that once grew quadratically, and a seeded random draw of
// more, shared by the complexity tests and bench/layer_bench.cpp.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "nesting_sweep.hpp"

namespace quorvel::parse::layers {

struct Family {
    const char* open;
    const char* middle;
    const char* close;
};

inline constexpr Family kFamilies[] = {
    {R"(\frac{\begin{matrix}\begin{cases})", "z", R"(\end{cases}}{a})"},
    {R"(\begin{aligned}\left(\begin{aligned})", "z", R"(\end{aligned}\end{aligned}#)"},
    {R"(\left(\begin{matrix}\left()", "z", R"(\end{matrix}\right))"},
};

inline std::string build(const Family& f, std::size_t n) { return sweep::nest(f.open, f.middle, f.close, n); }

// One level of a random three-layer nesting, standing in math.
struct Level {
    std::string open;
    std::string close;
    std::string describe;
};

// Draws the level of nesting `seed`: three layers, each an opener that can
// fail with odds 1/2 and else a command argument or environment body of the
// sweep's, each left open with odds 1/3 and followed by a bottom fault with
// odds 1/6.
inline Level random_level(std::uint64_t seed) {
    using namespace sweep;
    static const std::vector<Layer> layers = all_layers();
    std::mt19937_64 rng(seed);
    Level out;
    Where mode = Where::Math;
    for (int i = 0; i < 3; ++i) {
        const std::vector<Layer>& pool = rng() % 2 == 0 ? openers() : layers;
        const Layer& l = pool[rng() % pool.size()];
        const bool left_open = rng() % 3 == 0;
        const std::string fault = rng() % 6 == 0 ? std::string(kBottomFaults[rng() % kBottomFaults.size()]) : "";
        bridge(mode, l.outer, out.open, out.close);
        const Where into = l.outer == Where::Any ? mode : l.outer;
        std::string lclose = l.close;
        if (left_open) lclose = lclose.empty() ? "}" : "";
        out.open += l.open;
        out.close.insert(0, lclose + fault);
        mode = inside(l, into);
    }
    bridge(mode, Where::Math, out.open, out.close);
    out.describe = out.open + " z " + out.close;
    return out;
}

// The levels that make a nesting of `level` at least `bytes` long.
inline std::size_t levels_for(const Level& level, std::size_t bytes) {
    const std::size_t per = level.open.size() + level.close.size();
    return (bytes + per - 1) / per;
}

}  // namespace quorvel::parse::layers
