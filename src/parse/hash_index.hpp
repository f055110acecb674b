// Positions of items by a hash computed once per item, for the duplicate tests
// of failure lists: one flat open-addressing table that only grows, so that a
// list of many thousand failures is indexed without a node per entry and is
// looked up with few cache misses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel::parse {

class HashIndex {
public:
    bool empty() const noexcept { return size_ == 0; }
    void clear() noexcept {
        slots_.clear();
        size_ = 0;
    }

    void insert(std::size_t hash, std::size_t position) {
        if (2 * (size_ + 1) > slots_.size()) grow();
        place(Slot{hash, position});
        ++size_;
    }

    // Calls `matches(position)` for the positions inserted with `hash`, in no
    // particular order, until one returns true; answers whether one did.
    template <class Matches>
    bool any_of(std::size_t hash, Matches&& matches) const {
        if (slots_.empty()) return false;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = home(hash); slots_[i].position != kFree; i = (i + 1) & mask) {
            if (slots_[i].hash == hash && matches(slots_[i].position)) return true;
        }
        return false;
    }

private:
    static constexpr std::size_t kFree = static_cast<std::size_t>(-1);
    struct Slot {
        std::size_t hash;
        std::size_t position = kFree;
    };

    // The slot a hash starts probing at: its well-mixed high bits.
    std::size_t home(std::size_t hash) const noexcept {
        return static_cast<std::size_t>((static_cast<std::uint64_t>(hash) * 0x9e3779b97f4a7c15ull) >> shift_);
    }
    void place(Slot slot) noexcept {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = home(slot.hash);
        while (slots_[i].position != kFree) i = (i + 1) & mask;
        slots_[i] = slot;
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        const std::size_t capacity = old.empty() ? 64 : 2 * old.size();
        slots_.assign(capacity, Slot{});
        shift_ = 64;
        for (std::size_t c = capacity; c > 1; c >>= 1) --shift_;
        for (const Slot& s : old) {
            if (s.position != kFree) place(s);
        }
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    unsigned shift_ = 64;
};

}  // namespace quorvel::parse
