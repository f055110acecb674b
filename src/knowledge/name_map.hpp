// An open-addressing hash map keyed by views of names that outlive it.
//
// The parser looks up every control word several times, so lookups matter:
// one flat array, linear probing, the full hash stored beside each key so
// that most probes compare one integer. Deletion shifts the following run
// back, so there are no tombstones and probe runs stay short.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel::knowledge {

// FNV-1a over the bytes, finished with a multiply-xorshift so that the low
// bits (the table index) depend on every byte.
inline std::uint64_t name_hash(std::string_view name) noexcept {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const char c : name) {
        h ^= static_cast<unsigned char>(c);
        h *= 0x100000001b3ull;
    }
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ull;
    h ^= h >> 32;
    return h | 1;  // 0 marks an empty slot
}

template <class V>
class NameMap {
public:
    struct Entry {
        std::string_view first;
        V second{};
        std::uint64_t hash = 0;  // 0: the slot is empty
    };

    NameMap() = default;

    bool empty() const noexcept { return size_ == 0; }
    std::size_t size() const noexcept { return size_; }

    void reserve(std::size_t n) {
        std::size_t cap = 16;
        while (cap < n + n / 2 + 1) cap *= 2;
        if (cap > slots_.size()) rehash(cap);
    }

    // The entry of `name`, or null.
    const Entry* find(std::string_view name) const noexcept { return find_hashed(name, name_hash(name)); }
    Entry* find(std::string_view name) noexcept {
        return const_cast<Entry*>(std::as_const(*this).find_hashed(name, name_hash(name)));
    }
    const Entry* end() const noexcept { return nullptr; }
    bool contains(std::string_view name) const noexcept { return find(name) != nullptr; }

    void insert_or_assign(std::string_view name, V value) {
        if ((size_ + 1) * 4 > slots_.size() * 3) rehash(slots_.empty() ? 16 : slots_.size() * 2);
        const std::uint64_t h = name_hash(name);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            Entry& s = slots_[i];
            if (s.hash == 0) {
                s = Entry{name, std::move(value), h};
                ++size_;
                return;
            }
            if (s.hash == h && s.first == name) {
                s.second = std::move(value);
                return;
            }
        }
    }

    bool erase(std::string_view name) noexcept {
        Entry* e = find(name);
        if (e == nullptr) return false;
        erase(e);
        return true;
    }

    // Removes the entry `e` points at; the entries after it in its probe run
    // move back into the gap.
    void erase(Entry* e) noexcept {
        const std::size_t mask = slots_.size() - 1;
        std::size_t hole = static_cast<std::size_t>(e - slots_.data());
        for (std::size_t i = (hole + 1) & mask; slots_[i].hash != 0; i = (i + 1) & mask) {
            const std::size_t home = slots_[i].hash & mask;
            // The entry at i may fill the hole when its home is not inside (hole, i].
            const bool movable = hole <= i ? (home <= hole || home > i) : (home <= hole && home > i);
            if (movable) {
                slots_[hole] = std::move(slots_[i]);
                hole = i;
            }
        }
        slots_[hole] = Entry{};
        --size_;
    }

private:
    const Entry* find_hashed(std::string_view name, std::uint64_t h) const noexcept {
        if (slots_.empty()) return nullptr;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Entry& s = slots_[i];
            if (s.hash == 0) return nullptr;
            if (s.hash == h && s.first == name) return &s;
        }
    }

    void rehash(std::size_t cap) {
        std::vector<Entry> old = std::move(slots_);
        slots_.assign(cap, Entry{});
        size_ = 0;
        for (Entry& s : old)
            if (s.hash != 0) insert_or_assign(s.first, std::move(s.second));
    }

    std::vector<Entry> slots_;
    std::size_t size_ = 0;
};

}  // namespace quorvel::knowledge
