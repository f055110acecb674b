// The work this thread has done on trees, in steps that each cost about the
// same: a node visited by a walk, a list entry moved or renumbered, a step
// of a cycle check, a rule offered a node. Tests read it to tell linear from
// quadratic work by counting rather than timing, which holds at any size,
// on any load and in any build. Code adds to it once per walk or move, never
// per element inside a tight loop, so it costs nothing worth measuring.
#pragma once

#include <cstdint>

namespace quorvel::syntax {

inline constinit thread_local std::uint64_t tree_work = 0;

}  // namespace quorvel::syntax
