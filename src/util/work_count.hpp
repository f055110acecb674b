// The work this thread has done outside the grammar (whose work bound counts
// units of its own), in steps that each cost about the same: a list entry
// moved or renumbered, a node visited by a walk or a pass or offered to the
// rules, a step of a cycle check, a character of a column template read.
// Tests read it to tell linear from quadratic work by counting rather than
// timing, which holds at any size, on any load and in any build. Most places
// add to it once per walk, pass or move, not per element, so it costs about
// a twentieth of a percent of a normalisation's instructions.
#pragma once

#include <cstdint>

namespace quorvel::util {

inline constinit thread_local std::uint64_t work_count = 0;

}  // namespace quorvel::util
