// The work of a parse, in the units of its work bound, and the limits a
// family linear in its input keeps to. Units are counted, not timed: the
// limits hold at any size, on any machine and in any build.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "parse/grammar/fuel.hpp"
#include "util/work_count.hpp"

namespace quorvel::parse::testing {

// The work of the last parse on this thread: the most units one of its runs
// burnt, its tokens and the budgets its runs reached; and, when measured with
// `measure_work`, the work the units leave out (util/work_count.hpp): the
// entries the recovery tables copy, release, hash or scan.
struct Work {
    std::size_t units = 0;
    std::size_t tokens = 0;
    std::uint8_t reached = 0;  // grammar::detail::Budget bits
    std::uint64_t uncounted = 0;

    double per_token() const {
        return static_cast<double>(units) / static_cast<double>(std::max<std::size_t>(tokens, 1));
    }
};

inline Work last_work() {
    const grammar::detail::FuelReport r = grammar::detail::last_parse_fuel;
    return Work{r.used, r.tokens, r.reached};
}

// The work of the parse that `parse()` runs, the uncounted work with it.
template <class Parse>
Work measure_work(Parse&& parse) {
    const std::uint64_t before = util::work_count;
    parse();
    Work w = last_work();
    w.uncounted = util::work_count - before;
    return w;
}

// Below this much uncounted work a parse does only what every parse with a
// failure does once (its tables made over the tokens): no growth is read
// into it.
inline constexpr std::uint64_t kUncountedFloor = 4096;

// What a linear family may spend. The hostile linear families burn up to
// about 200 units per token (deep unclosed groups, whose recovery skips the
// bound charges for their steps and table lookups), real formulas about 15;
// a run that the work bound ends has burnt more than 512. A budget reached
// means it absorbed a cost that grows faster than the input, which the units
// then no longer show: only the budgets a family needs to stay linear are
// allowed.
struct WorkLimits {
    double per_token = 256;
    std::uint8_t budgets = 0;
};

// Families whose work only the recovery budget keeps linear (every level's
// recovery reads the levels below it again): short ones burn up to about
// 800 units per token before the budget runs out.
inline constexpr WorkLimits kRecoveryBound{900, grammar::detail::kRecoveryBudget};

// How one parse's work passes the limits; empty when it does not.
inline std::string work_fault(const Work& w, const WorkLimits& limits = {}) {
    const unsigned over = w.reached & ~limits.budgets;
    if (w.per_token() <= limits.per_token && over == 0) return {};
    char text[200];
    std::snprintf(text, sizeof text, " %zu units, %zu tokens:%s%s%s", w.units, w.tokens,
                  w.per_token() > limits.per_token ? " too many units per token;" : "",
                  over & grammar::detail::kWorkBound ? " reached the work bound;" : "",
                  over & grammar::detail::kRecoveryBudget ? " reached the recovery budget;" : "");
    return text;
}

// The same for the parses of n and 8n levels, whose work, counted in units
// and uncounted, grows at most 12 times besides.
inline std::string work_fault(const Work& small, const Work& large, const WorkLimits& limits = {}) {
    std::string fault;
    char growth[100];
    if (large.units > 12 * small.units) {
        std::snprintf(growth, sizeof growth, "grows from %zu to %zu units;", small.units, large.units);
        fault = growth;
    }
    if (large.uncounted > 12 * std::max(small.uncounted, kUncountedFloor)) {
        std::snprintf(growth, sizeof growth, " uncounted work grows from %llu to %llu;",
                      static_cast<unsigned long long>(small.uncounted),
                      static_cast<unsigned long long>(large.uncounted));
        fault += growth;
    }
    if (const std::string f = work_fault(small, limits); !f.empty()) fault.append(" at n:").append(f);
    if (const std::string f = work_fault(large, limits); !f.empty()) fault.append(" at 8n:").append(f);
    return fault;
}

}  // namespace quorvel::parse::testing
