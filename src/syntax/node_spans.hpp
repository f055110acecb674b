// The source spans of an arena's nodes, keyed like the arena.
//
// Offsets nearly always fit 32 bits, and an entry is then 12 bytes instead
// of 24; a span that does not fit goes to a full-width map of its own, made
// on first use. A node's span is stored once, when the node is built.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>

#include "syntax/slot_map.hpp"
#include "syntax/span_tree.hpp"

namespace quorvel::syntax {

class NodeSpans {
public:
    NodeSpans() = default;
    NodeSpans(NodeSpans&&) noexcept = default;
    NodeSpans& operator=(NodeSpans&&) noexcept = default;

    // Room for the keys of the first `n` slots, as a build fills them.
    void presize(std::size_t n) { narrow_.presize(n); }

    [[gnu::always_inline]] void insert(ast::NodeId id, Span span) {
        constexpr std::size_t kMax = std::numeric_limits<std::uint32_t>::max();
        if (span.start <= kMax && span.end <= kMax) [[likely]] {
            narrow_.insert(id, Narrow{static_cast<std::uint32_t>(span.start), static_cast<std::uint32_t>(span.end)});
            return;
        }
        insert_wide(id, span);
    }

    std::optional<Span> get(ast::NodeId id) const noexcept {
        if (const Narrow* n = narrow_.get(id)) return Span{n->start, n->end};
        if (wide_ != nullptr) {
            if (const Span* s = wide_->get(id)) return *s;
        }
        return std::nullopt;
    }

private:
    struct Narrow {
        std::uint32_t start = 0;
        std::uint32_t end = 0;
    };

    [[gnu::noinline]] void insert_wide(ast::NodeId id, Span span) {
        if (wide_ == nullptr) wide_ = std::make_unique<ast::SecondaryMap<Span>>();
        wide_->insert(id, span);
    }

    ast::SecondaryMap<Narrow> narrow_;
    std::unique_ptr<ast::SecondaryMap<Span>> wide_;
};

}  // namespace quorvel::syntax
