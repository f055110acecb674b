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
    }

    // The positions listed under `name`, ascending; empty when none.
    std::span<const std::uint32_t> find(std::string_view name) const noexcept {
        if (map_.empty()) return {};
        auto it = map_.find(name);
        if (it == map_.end()) return {};
        return it->second;
    }

    bool empty() const noexcept { return map_.empty(); }

private:
    std::unordered_map<std::string_view, std::vector<std::uint32_t>> map_;
};

}  // namespace quorvel::transform
