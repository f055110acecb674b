// Positions listed by name: the fixed point's trigger index (rule positions
// of a plan) and the contract check's index of eliminated targets. One hash
// probe finds everything a node's name can match, so neither walk compares a
// node against every rule.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel::transform {

class NameIndex {
public:
    // Lists `position` under `name` unless it is already the last entry
    // there; positions are added in ascending order, so each list stays
    // ascending and free of repeats. The name must outlive the index.
    void add(std::string_view name, std::uint32_t position) {
        std::vector<std::uint32_t>& list = map_[name];
        if (list.empty() || list.back() != position) list.push_back(position);
        const Probes p = probes(name);
        filter_[p.first / 64] |= std::uint64_t{1} << (p.first % 64);
        filter_[p.second / 64] |= std::uint64_t{1} << (p.second % 64);
    }

    // The positions listed under `name`, ascending; empty when none.
    std::span<const std::uint32_t> find(std::string_view name) const noexcept {
        const Probes p = probes(name);
        if ((filter_[p.first / 64] >> (p.first % 64) & filter_[p.second / 64] >> (p.second % 64) & 1) == 0) return {};
        auto it = map_.find(name);
        if (it == map_.end()) return {};
        return it->second;
    }

    bool empty() const noexcept { return map_.empty(); }

private:
    static constexpr std::uint32_t kFilterBits = 4096;

    // A name's two filter bits, from its length and three of its bytes.
    struct Probes {
        std::uint32_t first;
        std::uint32_t second;
    };
    static Probes probes(std::string_view name) noexcept {
        std::uint32_t h = static_cast<std::uint32_t>(name.size());
        if (!name.empty()) {
            h = h * 0x01000193u ^ static_cast<unsigned char>(name.front());
            h = h * 0x01000193u ^ static_cast<unsigned char>(name[name.size() / 2]);
            h = h * 0x01000193u ^ static_cast<unsigned char>(name.back());
        }
        h *= 0x9E3779B1u;
        return {h >> 20, (h >> 8) % kFilterBits};
    }

    std::array<std::uint64_t, kFilterBits / 64> filter_{};
    std::unordered_map<std::string_view, std::vector<std::uint32_t>> map_;
};

}  // namespace quorvel::transform
