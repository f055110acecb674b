// The work this thread has done outside the grammar (whose work bound counts
// units of its own), in steps that each cost about the same: a list entry
// moved or renumbered, a node visited by a walk or a pass, copied or freed,
// a rule tried on a node, a step of a cycle check, a character of a column
// template read, a few bytes written. Tests read it to tell linear from
// quadratic work by counting rather than timing, which holds at any size, on
// any load and in any build. Most places add to it once per walk, pass or
// move, not per element, so it costs about a twentieth of a percent of a
// normalisation's instructions.
#pragma once

#include <cstdint>
#include <exception>
#include <limits>

namespace quorvel::util {

inline constinit thread_local std::uint64_t work_count = 0;

// A bound on the work of one call (the transform sets one): past it, the
// places that may stop a call throw `WorkBoundReached` from `check_work`.
// They are the read-only walks and the making of a node, where an edit is
// never halfway, so the steps open around them take their edits back.
// Bounds nest; the nearest end counts.
class WorkBound {
public:
    explicit WorkBound(std::uint64_t allowance) noexcept : outer_end_(end_) {
        const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
        const std::uint64_t end = allowance > most - work_count ? most : work_count + allowance;
        end_ = end < outer_end_ ? end : outer_end_;
    }
    ~WorkBound() { end_ = outer_end_; }
    WorkBound(const WorkBound&) = delete;
    WorkBound& operator=(const WorkBound&) = delete;

    static std::uint64_t end() noexcept { return end_; }

private:
    std::uint64_t outer_end_;
    static inline constinit thread_local std::uint64_t end_ = std::numeric_limits<std::uint64_t>::max();
};

struct WorkBoundReached : std::exception {
    const char* what() const noexcept override { return "work bound reached"; }
};

// Throws `WorkBoundReached` when the work passed the bound of this thread's call.
inline void check_work() {
    if (work_count > WorkBound::end()) [[unlikely]] throw WorkBoundReached{};
}

}  // namespace quorvel::util
