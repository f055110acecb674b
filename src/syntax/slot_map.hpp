// Generational keys and the maps keyed by them.
//
// A slot's version is odd while it holds a value and even while it is free.
// Freeing raises the version by one and the next value stored there raises
// it again, so a key handed out for an earlier occupant never resolves
// again. Index 0 is reserved, so the all-zero key names nothing; it takes
// no storage (key index i lives at position i - 1), which matters for the
// many small arenas. A slot whose version would wrap around is retired
// instead of reused.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <type_traits>
#include <string>
#include <utility>
#include <vector>

#include "syntax/internal_error.hpp"

namespace quorvel::syntax::ast {

// The key of a node in one arena: slot index and version.
struct NodeId {
    std::uint32_t index = 0;
    std::uint32_t version = 0;

    friend bool operator==(NodeId a, NodeId b) = default;
};

// "NodeId(3v1)".
std::string debug_string(NodeId id);

// No per-slot link: the slot is as small as the free list allows.
struct NoLink {};

// Primary map: owns its values, stored inline in one vector of slots.
//
// With a `Link` type, every occupied slot also carries one link value in the
// room the free list uses while the slot is free: an attribute of each key
// that costs no table of its own. A value stored anew starts with `Link{}`.
template <class T, class Link = NoLink>
class SlotMap {
    static_assert(std::is_trivially_copyable_v<Link>);

public:
    SlotMap() = default;
    // Room for `capacity` values before the slots grow.
    explicit SlotMap(std::size_t capacity) { slots_.reserve(capacity); }
    SlotMap(const SlotMap&) = default;
    SlotMap(SlotMap&&) noexcept = default;
    SlotMap& operator=(const SlotMap&) = default;
    SlotMap& operator=(SlotMap&&) noexcept = default;

    std::size_t size() const noexcept { return live_; }

    void reserve(std::size_t n) { slots_.reserve(n); }

    // The room one value takes in the map, its link included.
    static constexpr std::size_t slot_bytes() noexcept { return sizeof(Slot); }

    NodeId insert(T value) {
        return insert_with([&value]() -> T&& { return std::move(value); });
    }

    // Stores the value that `make()` returns, made in place.
    template <class Make>
    NodeId insert_with(Make&& make) {
        if (free_head_ != 0) {
            std::uint32_t index = free_head_;
            Slot& slot = at(index);
            slot.emplace_from(make);  // may throw: leave the free list untouched
            free_head_ = slot.meta.next_free;
            slot.meta.link = Link{};
            slot.version += 1;
            ++live_;
            return {index, slot.version};
        }
        return append_with(std::forward<Make>(make));
    }

    // As `insert_with`, always in a new slot at the end: for a fresh build,
    // whose keys then follow the build order.
    template <class Make>
    NodeId append_with(Make&& make) {
        const std::size_t size = slots_.size() + 1;  // the new key's index
        if (size > kMaxIndex) internal_error("arena is full");
        Slot& slot = slots_.emplace_back();
        try {
            slot.emplace_from(make);
        } catch (...) {
            slots_.pop_back();  // the slot holds no value: drop it unused
            throw;
        }
        slot.meta.link = Link{};
        slot.version = 1;
        ++live_;
        return {static_cast<std::uint32_t>(size), 1};
    }

    // Index 0 wraps to the largest position, beyond any size.
    bool contains(NodeId key) const noexcept {
        const std::uint32_t pos = key.index - 1u;
        return pos < slots_.size() && slots_[pos].version == key.version && (key.version & 1u) == 1u;
    }

    T* get(NodeId key) noexcept { return contains(key) ? at(key.index).ptr() : nullptr; }
    const T* get(NodeId key) const noexcept { return contains(key) ? at(key.index).ptr() : nullptr; }

    // Removes and returns the value; the key and every copy of it go stale.
    // The key must resolve.
    T remove(NodeId key) {
        T value = std::move(*at(key.index).ptr());
        erase(key);
        return value;
    }

    // Removes and destroys the value in place; the key must resolve.
    void erase(NodeId key) noexcept {
        Slot& slot = at(key.index);
        slot.destroy();
        slot.version += 1;  // even: free
        // A wrapped version retires the slot: it stays free for good.
        if (slot.version != 0) {
            slot.meta.next_free = free_head_;
            free_head_ = key.index;
        }
        --live_;
    }

    // The value in slot `index`, which must be occupied; no version check.
    T& occupied(std::uint32_t index) noexcept { return *at(index).ptr(); }

    // The link of a key that resolves; null for any other key.
    Link* link(NodeId key) noexcept { return contains(key) ? &at(key.index).meta.link : nullptr; }
    const Link* link(NodeId key) const noexcept {
        return contains(key) ? &at(key.index).meta.link : nullptr;
    }
    // The link of slot `index`, which must be occupied; no version check.
    Link& occupied_link(std::uint32_t index) noexcept { return at(index).meta.link; }

    // Calls fn(key, value) for every occupied slot in index order.
    template <class F>
    void for_each(F&& fn) const {
        any_of([&fn](NodeId key, const T& value) {
            fn(key, value);
            return false;
        });
    }

    // Whether pred(key, value) holds for some occupied slot, asked in index
    // order up to the first that it holds for. The bounds are read once: a
    // predicate that writes through a reference cannot make them reloaded.
    template <class P>
    bool any_of(P&& pred) const {
        const Slot* const first = slots_.data();
        const Slot* const end = first + slots_.size();
        for (const Slot* slot = first; slot != end; ++slot) {
            if ((slot->version & 1u) == 1u &&
                pred(NodeId{static_cast<std::uint32_t>(slot - first + 1), slot->version}, *slot->ptr()))
                return true;
        }
        return false;
    }

private:
    static constexpr std::size_t kMaxIndex = 0xFFFFFFFEu;

    union Meta {
        std::uint32_t next_free;  // next free slot while free
        Link link;                // while occupied
    };

    struct Slot {
        std::uint32_t version = 0;
        Meta meta{0};
        union {
            T value;
        };

        Slot() noexcept {}
        Slot(const Slot& other) : version(other.version), meta(other.meta) {
            if (other.occupied()) new (&value) T(other.value);
        }
        Slot(Slot&& other) noexcept
            : version(other.version), meta(other.meta) {
            if (other.occupied()) new (&value) T(std::move(other.value));
        }
        Slot& operator=(const Slot& other) {
            if (this != &other) {
                Slot copy(other);
                *this = std::move(copy);
            }
            return *this;
        }
        Slot& operator=(Slot&& other) noexcept {
            if (this != &other) {
                destroy_if_occupied();
                version = other.version;
                meta = other.meta;
                if (other.occupied()) new (&value) T(std::move(other.value));
            }
            return *this;
        }
        ~Slot() { destroy_if_occupied(); }

        bool occupied() const noexcept { return (version & 1u) == 1u; }
        T* ptr() noexcept { return &value; }
        const T* ptr() const noexcept { return &value; }
        template <class Make>
        void emplace_from(Make& make) {
            new (&value) T(make());
        }
        void destroy() noexcept { value.~T(); }
        void destroy_if_occupied() noexcept {
            if (occupied()) value.~T();
        }
    };

    Slot& at(std::uint32_t index) noexcept { return slots_[index - 1u]; }
    const Slot& at(std::uint32_t index) const noexcept { return slots_[index - 1u]; }

    std::vector<Slot> slots_;
    std::uint32_t free_head_ = 0;  // a key index; 0: none
    std::uint32_t live_ = 0;       // at most kMaxIndex
};

// Secondary map over the keys of a primary map: an entry answers only for
// the exact key (index and version) it was stored under. Like the primary
// map, it keeps no entry for index 0.
template <class V>
class SecondaryMap {
public:
    [[gnu::always_inline]] void insert(NodeId key, V value) {
        // Compared as byte offsets, which needs no division by the size.
        const std::uint32_t pos = key.index - 1u;
        if (std::size_t{pos} * sizeof(Entry) < entries_.size() * sizeof(Entry)) {
            Entry& e = entries_[pos];
            e.version = key.version;
            e.value = std::move(value);
            return;
        }
        insert_beyond(key, std::move(value));
    }

    void reserve(std::size_t n) { entries_.reserve(n); }
    // Room for the keys of the first `n` slots, empty until inserted: a
    // build that fills nearly all of them then stores each in place.
    void presize(std::size_t n) {
        if (entries_.size() < n) entries_.resize(n);
    }

    // Index 0 wraps to the largest position, beyond any size.
    const V* get(NodeId key) const noexcept {
        const std::uint32_t pos = key.index - 1u;
        if (pos >= entries_.size()) return nullptr;
        const Entry& e = entries_[pos];
        return e.version == key.version && key.version != 0 ? &e.value : nullptr;
    }
    V* get(NodeId key) noexcept {
        return const_cast<V*>(static_cast<const SecondaryMap*>(this)->get(key));
    }
    bool contains(NodeId key) const noexcept { return get(key) != nullptr; }

    // Removes the entry stored under exactly this key; true when there was one.
    bool remove(NodeId key) noexcept {
        const std::uint32_t pos = key.index - 1u;
        if (pos >= entries_.size()) return false;
        Entry& e = entries_[pos];
        if (e.version != key.version || key.version == 0) return false;
        e.version = 0;
        e.value = V();
        return true;
    }

    void clear() noexcept { entries_.clear(); }

private:
    // Kept out of line so that the store above inlines.
    [[gnu::noinline]] void insert_beyond(NodeId key, V value) {
        if (key.index == 0) internal_error("Invalid NodeId");
        const std::size_t pos = key.index - 1u;
        if (pos == entries_.size()) {
            // Keys mostly arrive in slot order: the next entry is appended.
            entries_.push_back(Entry{key.version, std::move(value)});
            return;
        }
        entries_.resize(pos + 1);
        Entry& e = entries_[pos];
        e.version = key.version;
        e.value = std::move(value);
    }

    struct Entry {
        std::uint32_t version = 0;  // 0: empty
        V value{};
    };
    std::vector<Entry> entries_;
};

// A set of keys, answering only for the exact key stored. Most arenas never
// hold a detached node once built, so the table is made on first insert and
// an empty set is one pointer.
class KeySet {
public:
    KeySet() = default;
    KeySet(const KeySet& other)
        : versions_(other.versions_ ? std::make_unique<Versions>(*other.versions_) : nullptr) {}
    KeySet(KeySet&&) noexcept = default;
    KeySet& operator=(const KeySet& other) {
        if (this != &other) *this = KeySet(other);
        return *this;
    }
    KeySet& operator=(KeySet&&) noexcept = default;

    bool insert(NodeId key) {
        // Grown by doubling from a first size that covers a short formula:
        // keys mostly arrive in rising index order, and a resize per key
        // would cost a call each. A zero marks no key.
        cover(key);
        Versions& v = *versions_;
        bool fresh = v[key.index] != key.version;
        v[key.index] = key.version;
        return fresh;
    }
    // Makes room for `key`, so that inserting it later allocates nothing:
    // an edit calls this before its first change.
    void cover(NodeId key) {
        if (!versions_) versions_ = std::make_unique<Versions>();
        Versions& v = *versions_;
        if (key.index >= v.size())
            v.resize(std::max({std::size_t{key.index} + 1, 2 * v.size(), kFirstSize}), 0);
    }
    bool contains(NodeId key) const noexcept {
        return key.version != 0 && versions_ && key.index < versions_->size() &&
               (*versions_)[key.index] == key.version;
    }
    bool remove(NodeId key) noexcept {
        if (!contains(key)) return false;
        (*versions_)[key.index] = 0;
        return true;
    }

private:
    static constexpr std::size_t kFirstSize = 64;
    using Versions = std::vector<std::uint32_t>;
    std::unique_ptr<Versions> versions_;
};

}  // namespace quorvel::syntax::ast

template <>
struct std::hash<quorvel::syntax::ast::NodeId> {
    std::size_t operator()(quorvel::syntax::ast::NodeId id) const noexcept {
        std::uint64_t v = (std::uint64_t{id.version} << 32) | id.index;
        v ^= v >> 33;
        v *= 0xff51afd7ed558ccdULL;
        v ^= v >> 33;
        return static_cast<std::size_t>(v);
    }
};
