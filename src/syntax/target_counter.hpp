// Counts how often each knowledge target occurs in an exchange tree: command
// names (prefix, infix and declarative), environment names, and command names
// that name a built-in character.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "syntax/content_mode.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::syntax {

enum class TargetCounterKind : std::uint8_t { Command = 0, Environment = 1, Character = 2 };

// "cmd", "env", "char".
std::string_view logical_name(TargetCounterKind kind) noexcept;

struct TargetCounterKey {
    TargetCounterKind kind = TargetCounterKind::Command;
    ContentMode mode = ContentMode::Math;
    std::string name;  // without the backslash

    friend bool operator==(const TargetCounterKey&, const TargetCounterKey&) = default;
};

class TargetCounter {
public:
    // Adds 1 to the count of (kind, mode, name).
    void bump(TargetCounterKind kind, ContentMode mode, std::string_view name);

    // The count of one key; 0 when absent.
    std::uint32_t count(TargetCounterKind kind, ContentMode mode, std::string_view name) const;
    std::size_t size() const noexcept { return counts_.size(); }
    bool empty() const noexcept { return counts_.empty(); }

    // "{kind}:{name}" to the count summed over both modes. Unordered: callers
    // that show it sort it.
    std::unordered_map<std::string, std::uint32_t> logical_counts() const;

private:
    struct KeyView {
        TargetCounterKind kind;
        ContentMode mode;
        std::string_view name;
    };
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(const KeyView& k) const noexcept {
            const std::size_t tag = static_cast<std::size_t>(k.kind) * 2 + static_cast<std::size_t>(k.mode);
            return std::hash<std::string_view>{}(k.name) ^ (tag * 0x9e3779b97f4a7c15ull);
        }
        std::size_t operator()(const TargetCounterKey& k) const noexcept { return (*this)(KeyView{k.kind, k.mode, k.name}); }
    };
    struct Equal {
        using is_transparent = void;
        static KeyView view(const TargetCounterKey& k) noexcept { return {k.kind, k.mode, k.name}; }
        static KeyView view(const KeyView& k) noexcept { return k; }
        template <class A, class B>
        bool operator()(const A& a, const B& b) const noexcept {
            const KeyView x = view(a), y = view(b);
            return x.kind == y.kind && x.mode == y.mode && x.name == y.name;
        }
    };

    std::unordered_map<TargetCounterKey, std::uint32_t, Hash, Equal> counts_;
};

namespace target_counter {

// Counts a whole tree, standing in math mode.
void count_node(const SyntaxNode& node, TargetCounter& counter);

// Counts `node` and everything below it, `node` standing in `mode`. Iterative:
// any depth is safe.
void count_node_in_mode(const SyntaxNode& node, ContentMode mode, TargetCounter& counter);

// Counts one command-like name: as a command, as a character, or as both when
// some built-in package defines it both ways. All seven packages are consulted,
// whatever packages the parse used.
void bump_cmd_like(TargetCounter& counter, ContentMode mode, std::string_view name);

}  // namespace target_counter

}  // namespace quorvel::syntax
