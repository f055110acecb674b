// A check of the remaining call stack for the recursive grammar rules.
//
// The group depth limit bounds only braced groups; scripts, arguments,
// environments and inline math nest without it, and the caller's thread may
// have a small stack. Every recursive entry of the grammar calls
// `check_stack`, which throws `NestingTooDeep` when the stack left falls below
// a safety margin; the parse road catches it and ends the parse in order.
#pragma once

#include <exception>

namespace quorvel::parse::grammar {

struct NestingTooDeep : std::exception {
    const char* what() const noexcept override { return "nesting too deep"; }
};

namespace detail {
// The lowest address the guard lets the stack reach on this thread, measured
// on first use.
const char* compute_stack_floor() noexcept;
inline thread_local constinit const char* stack_floor_cache = nullptr;
inline const char* stack_floor() noexcept {
    const char* floor = stack_floor_cache;
    if (floor == nullptr) floor = stack_floor_cache = compute_stack_floor();
    return floor;
}
}  // namespace detail

inline void check_stack() {
    char probe;
    const char* here = &probe;
    if (here < detail::stack_floor()) throw NestingTooDeep{};
}

}  // namespace quorvel::parse::grammar
