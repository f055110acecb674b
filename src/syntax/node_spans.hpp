// The source spans of an arena's nodes.
//
// Offsets nearly always fit 32 bits: such a span lives in the node's own
// arena slot, beside its parent link, and costs no table entry. A span that
// does not fit goes to a full-width map of its own, made on first use. A
// node's span is stored once, when the node is built; a node stored anew in
// a freed slot starts without one.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "syntax/ast.hpp"
#include "syntax/slot_map.hpp"
#include "syntax/span_tree.hpp"

namespace quorvel::syntax {

class NodeSpans {
public:
    NodeSpans() = default;
    NodeSpans(NodeSpans&&) noexcept = default;
    NodeSpans& operator=(NodeSpans&&) noexcept = default;

    // `id` must resolve in `ast`.
    [[gnu::always_inline]] void insert(Ast& ast, ast::NodeId id, Span span) {
        if (span.start < NodeMeta::kNoSpan && span.end < NodeMeta::kNoSpan) [[likely]] {
            NodeMeta& meta = ast.nodes_.occupied_link(id.index);
            meta.span_start = static_cast<std::uint32_t>(span.start);
            meta.span_end = static_cast<std::uint32_t>(span.end);
            return;
        }
        insert_wide(id, span);
    }

    // None for a key that does not resolve in `ast`.
    std::optional<Span> get(const Ast& ast, ast::NodeId id) const noexcept {
        const NodeMeta* meta = ast.nodes_.link(id);
        if (meta == nullptr) return std::nullopt;
        if (meta->span_start != NodeMeta::kNoSpan) return Span{meta->span_start, meta->span_end};
        if (wide_ != nullptr) {
            if (const Span* s = wide_->get(id)) return *s;
        }
        return std::nullopt;
    }

private:
    [[gnu::noinline]] void insert_wide(ast::NodeId id, Span span) {
        if (wide_ == nullptr) wide_ = std::make_unique<ast::SecondaryMap<Span>>();
        wide_->insert(id, span);
    }

    std::unique_ptr<ast::SecondaryMap<Span>> wide_;
};

}  // namespace quorvel::syntax
