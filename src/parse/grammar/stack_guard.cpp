#include "parse/grammar/stack_guard.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "util/thread_storage.hpp"

#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_ASAN 1
#endif
#endif
#ifdef QUORVEL_ASAN
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/asan_interface.h>
#endif

namespace quorvel::parse::grammar::detail {

namespace {

// What the guard keeps free below it: room for the deepest frames between two
// checks (sanitizer builds make frames several times larger) and for whatever
// the caller does after the parse unwinds.
constexpr std::size_t kMargin = std::size_t{256} * 1024;
// A thread whose stack cannot be measured gets this much below the first check.
constexpr std::size_t kAssumedStack = std::size_t{512} * 1024;
// The most of the caller's stack the parser uses below the first check. The
// main thread's extent reads as the whole gap below it when its limit is
// unlimited, and that gap may be neither growable nor mapped: trusting it let
// deep input recurse through gigabytes of stack into a fault no handler turns
// into an error. Below this much, the recursion goes on in segments.
constexpr std::size_t kMostCallerStack = std::size_t{8} * 1024 * 1024;
// One segment, and what all segments in use on a thread may add up to. Pages
// are committed only as the recursion reaches them.
constexpr std::size_t kSegment = std::size_t{64} * 1024 * 1024;
constexpr std::size_t kBudget = std::size_t{1024} * 1024 * 1024;

// Touches the stack down to a page or two above `bottom`, one page a frame.
// Not instrumented: AddressSanitizer would move the page onto its fake stack.
[[gnu::noinline, gnu::no_sanitize_address]] void touch_stack_down_to(std::uintptr_t bottom) noexcept {
    volatile char page[4096];
    page[0] = 0;
    if (reinterpret_cast<std::uintptr_t>(&page[0]) > bottom + 2 * sizeof(page)) touch_stack_down_to(bottom);
    page[sizeof(page) - 1] = 0;
}

// The main thread's stack grows on demand, and growing needs address space:
// under a limit on it, a deep parse would fault where the stack cannot grow,
// a signal no handler turns into an error. Growing it once, at the first
// parse on the thread, down to what the parser may use makes the room exist
// before any later limit; its pages are handed back at once, the room stays.
void reserve_main_stack(std::uintptr_t bottom, std::uintptr_t here) noexcept {
    if (getpid() != static_cast<pid_t>(syscall(SYS_gettid))) return;  // other threads' stacks are mapped whole
    touch_stack_down_to(bottom);
    const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t low = (bottom + page - 1) & ~(page - 1);
    const std::uintptr_t high = (here - std::size_t{64} * 1024) & ~(page - 1);
    if (high > low) madvise(reinterpret_cast<void*>(low), high - low, MADV_DONTNEED);
}

const char* compute_floor() noexcept {
    const auto here = reinterpret_cast<std::uintptr_t>(stack_here());
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
        usable = std::min<std::size_t>(here - reinterpret_cast<std::uintptr_t>(low), kMostCallerStack);
        bottom = here - usable;
        reserve_main_stack(bottom, here);
    } else {
        usable = kAssumedStack;
        bottom = here > usable ? here - usable : 0;
    }
    // A small stack keeps a quarter of what is left to the margin, so that a
    // few levels still run on it before the first hop.
    const std::size_t margin = std::min(kMargin, usable / 4);
    return reinterpret_cast<const char*>(bottom + margin);
}

// A mapping whose lowest page is a guard, so that an overrun faults instead
// of writing into whatever lies below.
struct Segment {
    char* base = nullptr;  // the guard page
    std::size_t size = 0;

    char* low() const noexcept { return base + guard(); }
    std::size_t usable() const noexcept { return size - guard(); }
    static std::size_t guard() noexcept { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }
};

// Out of line: the hop's getcontext returns twice.
[[gnu::noinline]] Segment map_segment() {
    void* p = mmap(nullptr, kSegment, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK,
                   -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    Segment s{static_cast<char*>(p), kSegment};
    if (mprotect(s.base, Segment::guard(), PROT_NONE) != 0) {
        munmap(s.base, s.size);
        throw std::bad_alloc();
    }
    return s;
}

// The segments of this thread: the bytes in use by hops still running, and
// the spares kept for the next hops. A parse that nests just past a segment's
// end hops once per sibling item, and a parse that gives up its quiet run
// nests as deep again: mapping afresh each time, and faulting its pages in
// again, would cost more than the work. The spares held never exceed what
// the deepest hop of the parse had in use. `trim`, at the end of a parse,
// keeps one spare and gives back its pages below its top.
struct Segments {
    static constexpr std::size_t kKeptTop = std::size_t{256} * 1024;
    static constexpr std::size_t kMostSpares = kBudget / kSegment;

    std::size_t in_use = 0;
    std::size_t budget = kBudget;
    Segment spares[kMostSpares];
    std::size_t spare_count = 0;
    bool spare_used = false;

    ~Segments() {
        for (std::size_t i = 0; i < spare_count; ++i) munmap(spares[i].base, spares[i].size);
    }
    Segment take() {
        if (spare_count == 0) return map_segment();
        return std::exchange(spares[--spare_count], Segment{});
    }
    void give_back(Segment s) noexcept {
        if (spare_count == kMostSpares) {
            munmap(s.base, s.size);
            return;
        }
        spares[spare_count++] = s;
        spare_used = true;
    }
    void trim() noexcept {
        if (!spare_used || in_use > 0) return;
        spare_used = false;
        while (spare_count > 1) {
            const Segment s = std::exchange(spares[--spare_count], Segment{});
            munmap(s.base, s.size);
        }
        if (spare_count == 1) madvise(spares[0].low(), spares[0].usable() - kKeptTop, MADV_DONTNEED);
    }
};
constinit thread_local util::ThreadCache<Segments> segments;

// One run on a segment: what it runs, the contexts of both sides, and what
// it threw.
struct Hop {
    void (*body)(void*);
    void* context;
    ucontext_t caller;
    ucontext_t callee;
    std::exception_ptr thrown;
#ifdef QUORVEL_ASAN
    void* fake_stack = nullptr;
    const void* caller_bottom = nullptr;
    std::size_t caller_size = 0;
#endif
};
// The hop being started; read once by the segment's entry.
thread_local Hop* starting_hop = nullptr;

void segment_entry() {
    Hop* hop = starting_hop;
#ifdef QUORVEL_ASAN
    __sanitizer_finish_switch_fiber(nullptr, &hop->caller_bottom, &hop->caller_size);
#endif
    try {
        hop->body(hop->context);
    } catch (...) {
        hop->thrown = std::current_exception();
    }
#ifdef QUORVEL_ASAN
    // The segment's run is over: no fake stack of it to keep.
    __sanitizer_start_switch_fiber(nullptr, hop->caller_bottom, hop->caller_size);
#endif
    setcontext(&hop->caller);
}

}  // namespace

const char* compute_stack_floor() noexcept { return compute_floor(); }

std::size_t exchange_segment_budget(std::size_t bytes) noexcept { return std::exchange(segments->budget, bytes); }

void trim_stack_segments() noexcept { segments->trim(); }

void run_on_fresh_segment(void (*body)(void*), void* context) {
    Segments& owned = *segments;
    if (owned.in_use + kSegment > owned.budget) throw NestingTooDeep{};
    Segment segment = owned.take();

    Hop hop{};
    hop.body = body;
    hop.context = context;
    if (getcontext(&hop.callee) != 0) {
        owned.give_back(segment);
        throw std::bad_alloc();
    }
    hop.callee.uc_stack.ss_sp = segment.low();
    hop.callee.uc_stack.ss_size = segment.usable();
    hop.callee.uc_link = nullptr;
    makecontext(&hop.callee, segment_entry, 0);

    const char* outer_floor = stack_floor();
    stack_floor_cache = segment.low() + kMargin;
    owned.in_use += kSegment;
    starting_hop = &hop;
#ifdef QUORVEL_ASAN
    // AddressSanitizer clears the shadow of a context's stack on a switch only
    // for stacks of a few megabytes. What earlier runs left in the shadow of
    // this memory (the entry frame of a segment never returns, and the pages
    // of a freed segment may come back inside another) would otherwise read
    // as overflows in the frames of this one.
    __asan_unpoison_memory_region(segment.low(), segment.usable());
    __sanitizer_start_switch_fiber(&hop.fake_stack, segment.low(), segment.usable());
#endif
    const int switched = swapcontext(&hop.caller, &hop.callee);
#ifdef QUORVEL_ASAN
    __sanitizer_finish_switch_fiber(hop.fake_stack, nullptr, nullptr);
#endif
    owned.in_use -= kSegment;
    stack_floor_cache = outer_floor;
    owned.give_back(segment);
    if (switched != 0) throw std::bad_alloc();
    if (hop.thrown) std::rethrow_exception(hop.thrown);
}

}  // namespace quorvel::parse::grammar::detail
