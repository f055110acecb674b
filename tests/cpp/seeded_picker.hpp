// A fixed-seed draw for the generators of made formulas: the same seed gives
// the same formulas on every machine and every run, so a failure replays.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvel::testing {

class SeededPicker {
public:
    explicit SeededPicker(std::uint64_t seed) : state_(seed) {}

    // A number below `n` (a 64-bit LCG, high bits).
    std::size_t pick(std::size_t n) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((state_ >> 33) % n);
    }

    template <class T, std::size_t N>
    const T& choose(const std::array<T, N>& table) { return table[pick(N)]; }

private:
    std::uint64_t state_;
};

}  // namespace quorvel::testing
