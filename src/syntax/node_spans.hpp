// The source spans of an arena's nodes.
//
// Offsets nearly always fit 32 bits: such a span lives in the node's own
// arena slot, beside its parent link, and costs no table entry. A span that
// does not fit goes to a full-width map in the arena's box of rare state,
// made on first use. A node's span is stored once, when the node is built;
// a node stored anew in a freed slot starts without one. The spans belong
// to the arena, so this class holds no state of its own.
#pragma once

#include <cstdint>
#include <optional>

#include "syntax/ast.hpp"
#include "syntax/slot_map.hpp"
#include "syntax/span_tree.hpp"

namespace quorvel::syntax {

class NodeSpans {
public:
    // `id` must resolve in `ast`.
    [[gnu::always_inline]] void insert(Ast& ast, ast::NodeId id, Span span) {
        if (span.start < NodeMeta::kNoSpan && span.end < NodeMeta::kNoSpan) [[likely]] {
            NodeMeta& meta = ast.nodes_.occupied_link(id.index);
            meta.span_start = static_cast<std::uint32_t>(span.start);
            meta.span_end = static_cast<std::uint32_t>(span.end);
            return;
        }
        insert_wide(ast, id, span);
    }

    // None for a key that does not resolve in `ast`.
    std::optional<Span> get(const Ast& ast, ast::NodeId id) const noexcept {
        const NodeMeta* meta = ast.nodes_.link(id);
        if (meta == nullptr) return std::nullopt;
        if (meta->span_start != NodeMeta::kNoSpan) return Span{meta->span_start, meta->span_end};
        if (ast.stale_) {
            if (const Span* s = ast.stale_->wide_spans.get(id)) return *s;
        }
        return std::nullopt;
    }

private:
    [[gnu::noinline]] static void insert_wide(Ast& ast, ast::NodeId id, Span span) {
        if (!ast.stale_) ast.stale_ = Ast::StaleLists{};
        ast.stale_->wide_spans.insert(id, span);
    }
};

}  // namespace quorvel::syntax
