#include "parse/grammar/stack_guard.hpp"

#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace quorvel::parse::grammar::detail {

namespace {

// What the guard keeps free below it: room for the deepest frames between two
// checks (sanitizer builds make frames several times larger) and for whatever
// the caller does after the parse unwinds.
constexpr std::size_t kMargin = std::size_t{256} * 1024;
// A thread whose stack cannot be measured gets this much below the first check.
constexpr std::size_t kAssumedStack = std::size_t{512} * 1024;

const char* compute_floor() noexcept {
    char probe;
    const auto here = reinterpret_cast<std::uintptr_t>(&probe);
    pthread_attr_t attr;
    void* low = nullptr;
    std::size_t size = 0;
    bool known = false;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        known = pthread_attr_getstack(&attr, &low, &size) == 0 && low != nullptr && size > 0;
        pthread_attr_destroy(&attr);
    }
    std::uintptr_t bottom;
    std::size_t usable;
    if (known && reinterpret_cast<std::uintptr_t>(low) < here) {
        bottom = reinterpret_cast<std::uintptr_t>(low);
        usable = here - bottom;
    } else {
        usable = kAssumedStack;
        bottom = here > usable ? here - usable : 0;
    }
    // A small stack keeps a quarter of what is left to the margin rather
    // than refusing every nesting.
    const std::size_t margin = std::min(kMargin, usable / 4);
    return reinterpret_cast<const char*>(bottom + margin);
}

}  // namespace

const char* compute_stack_floor() noexcept { return compute_floor(); }

}  // namespace quorvel::parse::grammar::detail
