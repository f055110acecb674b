// One bound on the work and the memory of a run of the grammar, whatever
// algorithm spends them.
//
// Every loop of the grammar and every re-read of tokens passes through the
// token cursor (`Input::peek`, `token_at`, `bump`, `rewind`), and every level
// of recursion through a rule entry. The cursor burns one unit per call; the
// rule entries and the charged allocations check the tank and throw
// `FormulaTooComplex` once it is spent.
// The tank holds a fixed number of units per token plus a floor, so a run
// does work linear in its input, whatever an unforeseen re-reading would
// otherwise cost.
//
// The count of units burnt lives in the innermost input reading into the
// tank (see `Fuel::Meter`), so a look at a token adds to a field of the
// cursor itself rather than reaching through a pointer on every call.
//
// Memory is charged to the same tank. The heap allocations a run makes are
// of three sorts:
// - boxed nodes, failures and kept argument outcomes, each of a bounded size,
//   which burn their size in units where they are made (`hold`);
// - texts (Error texts, snippets, messages), which burn their length;
// - the containers holding the above, which grow by amortised constant room
//   per element held.
// So everything the run allocates is at most a constant times the units
// burnt, and the run's peak memory, which is at most all it allocated, is
// bounded by a constant times the input's size, as its work is. (The stack
// the recursion runs on has a budget of its own: see stack_guard.hpp.)
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace quorvel::parse::grammar {

// Thrown at a rule entry once the run's tank is spent.
struct FormulaTooComplex {};

class Fuel {
public:
    // Units per token of the source and the floor every run gets. Real
    // formulas burn at most about 15 units per token once they are a few
    // hundred tokens long, and a few thousand units in all when shorter; the
    // linear hostile families (deep faulty nesting) up to about 200 per
    // token. Past the tank lie only inputs whose reading grows faster than
    // their length.
    static constexpr std::size_t kUnitsPerToken = 512;
    static constexpr std::size_t kFloor = std::size_t{1} << 20;
    // Bytes of memory per unit burnt.
    static constexpr std::size_t kBytesPerUnit = 8;

    // An unbounded tank: what a cursor used outside a parse burns into.
    Fuel() noexcept {}
    explicit Fuel(std::size_t tokens) noexcept;
    Fuel(const Fuel&) = delete;
    Fuel& operator=(const Fuel&) = delete;

    void burn(std::size_t units) noexcept { *used_ += units; }
    // Charges an allocation of `bytes`, and checks the tank: allocations
    // made on the way back out of deep recursion meet no rule entry.
    void hold(std::size_t bytes) {
        *used_ += bytes / kBytesPerUnit + 1;
        check();
    }
    bool spent() const noexcept { return *used_ > limit_; }
    void check() const {
        if (spent()) [[unlikely]]
            throw FormulaTooComplex{};
    }
    std::size_t used() const noexcept { return *used_; }
    std::size_t limit() const noexcept { return limit_; }

    // The tank's count of units burnt, held for their lifetime by the inputs
    // reading into it, innermost first: it starts from the count it takes
    // over and hands back what it burnt. Inputs live and die nested.
    class Meter {
    public:
        explicit Meter(Fuel& fuel) noexcept
            : fuel_(&fuel), outer_(fuel.used_), used_(*outer_), start_(used_), limit_(fuel.limit_) {
            fuel.used_ = &used_;
        }
        ~Meter() {
            assert(fuel_->used_ == &used_);
            *outer_ += used_ - start_;
            fuel_->used_ = outer_;
        }
        Meter(const Meter&) = delete;
        Meter& operator=(const Meter&) = delete;

        Fuel& fuel() const noexcept { return *fuel_; }
        void burn(std::size_t units) noexcept { used_ += units; }
        // Checks the tank, this meter holding its count.
        void check() const {
            if (used_ > limit_) [[unlikely]]
                throw FormulaTooComplex{};
        }
        // `Fuel::hold` while this meter holds the tank.
        void hold(std::size_t bytes) {
            used_ += bytes / kBytesPerUnit + 1;
            check();
        }
        // Lifts the tank (see `Fuel::lift`) while this meter holds it.
        void lift() noexcept {
            fuel_->lift();
            limit_ = fuel_->limit_;
        }

    private:
        Fuel* fuel_;
        std::size_t* outer_;
        std::size_t used_;
        std::size_t start_;
        std::size_t limit_;  // the tank's, read once
    };

    // The tank of the run on this thread; an unbounded one outside a run.
    static Fuel& current() noexcept;
    // Makes `fuel` the thread's tank for its lifetime.
    class Scope {
    public:
        explicit Scope(Fuel& fuel) noexcept : saved_(current_) { current_ = &fuel; }
        ~Scope() { current_ = saved_; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        Fuel* saved_;
    };

private:
    // Once the run has given the rest of its input up, the little it still
    // does (at the end of input) runs unbounded. Only through the meter that
    // holds the count, which keeps the limit at hand.
    void lift() noexcept { limit_ = kMax; }

    static constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    std::size_t own_ = 0;  // the count while no input holds it
    std::size_t* used_ = &own_;
    std::size_t limit_ = kMax;
    static inline thread_local constinit Fuel* current_ = nullptr;
};

namespace detail {
inline thread_local Fuel idle_fuel;

// `per_token * tokens + floor`, or the largest size where that overflows.
constexpr std::size_t linear_budget(std::size_t per_token, std::size_t tokens, std::size_t floor) noexcept {
    constexpr std::size_t kMost = std::numeric_limits<std::size_t>::max();
    return per_token != 0 && tokens > (kMost - floor) / per_token ? kMost : per_token * tokens + floor;
}

// The tank's size on this thread: tests make it small to reach its end with
// short inputs.
struct FuelScale {
    std::size_t per_token = Fuel::kUnitsPerToken;
    std::size_t floor = Fuel::kFloor;
};
inline thread_local constinit FuelScale fuel_scale{};
inline FuelScale exchange_fuel_scale(FuelScale scale) noexcept {
    const FuelScale old = fuel_scale;
    fuel_scale = scale;
    return old;
}

// The budgets a parse can reach, as bits.
enum Budget : std::uint8_t {
    kWorkBound = 1,       // a run's tank (any run, the quiet ones too)
    kRecoveryBudget = 2,  // windows read without recovery, or given up
};

// The most units one run of the last parse on this thread burnt, the
// parse's tokens, and the budgets its runs reached: how far an input stays
// from the bounds, and whether one of them absorbed its cost. Written only
// at a run's end and where a budget is reached.
struct FuelReport {
    std::size_t used = 0;
    std::size_t tokens = 0;
    std::uint8_t reached = 0;
};
inline thread_local constinit FuelReport last_parse_fuel{};
}  // namespace detail

inline Fuel::Fuel(std::size_t tokens) noexcept {
    const detail::FuelScale s = detail::fuel_scale;
    limit_ = detail::linear_budget(s.per_token, tokens, s.floor);
}

inline Fuel& Fuel::current() noexcept {
    Fuel* f = current_;
    return f != nullptr ? *f : detail::idle_fuel;
}

}  // namespace quorvel::parse::grammar
