// The call stack of the recursive grammar rules, grown on demand.
//
// The group depth limit bounds only braced groups; scripts, arguments,
// environments and inline math nest without it, and the caller's thread may
// have a small stack. Every recursive entry of the grammar asks `stack_low`
// first; when the stack left on the current segment falls below a safety
// margin, the rule runs again from its start on a fresh segment
// (`on_fresh_stack`), so the nesting a parse can reach does not depend on the
// calling thread. Segments come out of a fixed budget per thread; past it the
// grow throws `NestingTooDeep`, which the parse road catches to end the parse
// in order.
#pragma once

#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace quorvel::parse::grammar {

struct NestingTooDeep : std::exception {
    const char* what() const noexcept override { return "nesting too deep"; }
};

namespace detail {
// The lowest address the guard lets the stack reach on the current segment
// of this thread: measured on first use for the thread's own stack (at most
// 8 MB below that first use, whatever the thread's limit), set by each hop
// for a segment.
const char* compute_stack_floor() noexcept;
inline thread_local constinit const char* stack_floor_cache = nullptr;
inline const char* stack_floor() noexcept {
    const char* floor = stack_floor_cache;
    if (floor == nullptr) floor = stack_floor_cache = compute_stack_floor();
    return floor;
}

// Runs `body(context)` on a fresh stack segment of this thread and comes back;
// an exception the body throws is thrown again here. Throws `NestingTooDeep`
// when the segment would exceed the thread's budget.
void run_on_fresh_segment(void (*body)(void*), void* context);

// Gives back the memory the spare segment of this thread committed, once no
// segment is in use; the parse road calls it when a parse ends.
void trim_stack_segments() noexcept;

// Sets the bytes of segments this thread may hold at once (1 GB unless
// changed) and returns the previous value: tests lower it to reach the end of
// the budget without nesting a gigabyte deep.
std::size_t exchange_segment_budget(std::size_t bytes) noexcept;
}  // namespace detail

// Where the stack is now: the stack pointer, below the caller's whole frame.
// Not the address of a local: under AddressSanitizer's detection of use
// after return, locals live on a fake stack on the heap, which says nothing
// of the room left on the real one. Nor the frame address, the top of a
// frame that may itself take tens of kilobytes below it.
[[gnu::always_inline]] inline const char* stack_here() noexcept {
#if defined(__x86_64__)
    const char* sp;
    asm volatile("mov %%rsp, %0" : "=r"(sp));
    return sp;
#elif defined(__aarch64__)
    const char* sp;
    asm volatile("mov %0, sp" : "=r"(sp));
    return sp;
#else
    return static_cast<const char*>(__builtin_frame_address(0));
#endif
}

// True when the current stack segment has too little room left for another
// level of rules.
inline bool stack_low() noexcept { return stack_here() < detail::stack_floor(); }

// Runs `rule()` on a fresh stack segment and returns its result. Kept out of
// line so that the rules calling it keep their frames small.
template <class Rule>
[[gnu::noinline, gnu::cold]] auto on_fresh_stack(Rule&& rule) -> std::invoke_result_t<Rule&> {
    using Result = std::invoke_result_t<Rule&>;
    struct Call {
        Rule& rule;
        std::optional<Result> result;
    } call{rule, std::nullopt};
    detail::run_on_fresh_segment([](void* c) {
        auto* call = static_cast<Call*>(c);
        call->result.emplace(call->rule());
    }, &call);
    return std::move(*call.result);
}

}  // namespace quorvel::parse::grammar
