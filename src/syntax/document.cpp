#include "syntax/document.hpp"

#include <algorithm>
#include <atomic>

#include "syntax/conversion.hpp"

namespace quorvel::syntax {

namespace {

// Process-wide; the first document of a process is number 1.
std::atomic<std::uint64_t> NEXT_DOCUMENT_ID{1};

std::uint64_t next_document_id() { return NEXT_DOCUMENT_ID.fetch_add(1, std::memory_order_relaxed); }

// The position of a part among the parts of its node, in edge order.
std::uint64_t part_key(Slot slot) {
    switch (slot.kind()) {
        case Slot::Kind::GroupChild: return slot.index();
        case Slot::Kind::InfixLeft:
        case Slot::Kind::ScriptBase: return 0;
        case Slot::Kind::ScriptSub: return 1;
        case Slot::Kind::ScriptSup: return 2;
        case Slot::Kind::Argument: return std::uint64_t{slot.index()} + 1;
        case Slot::Kind::InfixRight:
        case Slot::Kind::EnvBody: return UINT64_MAX;
    }
    return UINT64_MAX;
}

}  // namespace

const document::NodeId* ArgValue::node() const {
    if (const auto* m = std::get_if<Math>(&value)) return &m->node;
    if (const auto* t = std::get_if<Text>(&value)) return &t->node;
    return nullptr;
}

namespace document {

std::string EditError::message() const {
    switch (kind_) {
        case Kind::NodeNotFound: return "node not found";
        case Kind::ReadOnly: return "document is read-only";
        case Kind::RootNode: return "cannot edit the root node";
        case Kind::NotAContainer: return "node is not a container";
        case Kind::SlotShapeMismatch: {
            std::string text = "slot shape mismatch: expected ";
            text.append(expected_);
            return text;
        }
        case Kind::Cycle: return "edit would create a cycle";
        case Kind::IndexOutOfBounds: return "index out of bounds";
        case Kind::DuplicateNode: return "node cannot appear more than once";
        case Kind::NotDetached: return "expected a detached root";
        case Kind::ForeignNode: return "node belongs to a different document";
        case Kind::InvalidCharacter: return "character must be a Unicode scalar value";
    }
    return {};
}

Document::Document(ContentMode mode) : ast_(Ast::with_root_mode(mode)), id_(next_document_id()) {}

Document::Document(Ast ast, bool read_only)
    : ast_(std::move(ast)), id_(next_document_id()), read_only_(read_only) {}

Expected<Document, FromSyntaxError> Document::from_syntax(const SyntaxNode& tree) {
    auto built = Ast::from_syntax(tree);
    if (auto* error = std::get_if<FromSyntaxError>(&built)) return *error;
    Ast& ast = std::get<Ast>(built);
    bool has_error = false;
    ast.for_each_node([&](ast::NodeId, const ast::Node& node) {
        if (node.is<ast::Node::Error>()) has_error = true;
    });
    // The number is taken only now that the tree was accepted.
    return Document(std::move(ast), has_error);
}

Expected<Document, FromSyntaxError> Document::from_syntax_with_spans(const SyntaxNode& tree,
                                                                    const SpanTree& spans) {
    auto doc = from_syntax(tree);
    if (doc) doc->assign_spans(tree, spans);
    return doc;
}

// Walks the exchange tree, the arena built from it and the span tree
// together; each part of a node takes the next span child, and a part left
// without one is not visited.
void Document::assign_spans(const SyntaxNode& tree, const SpanTree& spans) {
    spans_.clear();
    has_spans_ = false;
    struct Item {
        const SyntaxNode* syntax;
        ast::NodeId id;
        const SpanTree* span;
    };
    std::vector<Item> stack{{&tree, ast_.root(), &spans}};
    std::vector<Item> parts;
    std::vector<std::pair<const SyntaxNode*, Slot>> syntax_edges;
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        spans_.insert(item.id, item.span->span);
        has_spans_ = true;
        const ast::Node& node = ast_.node(item.id);
        if (item.syntax->kind() != node.kind()) continue;

        // Pair the parts of the two trees: both edge lists are sorted by
        // `part_key`, so a merge join finds the parts present on both sides
        // (a content slot pairs only when it holds content in both).
        parts.clear();
        syntax_edges.clear();
        for_each_syntax_edge(*item.syntax, [&](const SyntaxNode* child, Slot slot) {
            syntax_edges.emplace_back(child, slot);
        });
        std::size_t si = 0;
        for_each_edge(node, [&](ast::NodeId child, Slot slot) {
            std::uint64_t key = part_key(slot);
            while (si < syntax_edges.size() && part_key(syntax_edges[si].second) < key) ++si;
            if (si < syntax_edges.size() && syntax_edges[si].second == slot) {
                if (syntax_edges[si].first != nullptr) {
                    parts.push_back(Item{syntax_edges[si].first, child, nullptr});
                }
                ++si;
            }
        });
        const auto& span_children = item.span->children;
        std::size_t n = std::min(parts.size(), span_children.size());
        for (std::size_t i = n; i-- > 0;) {
            parts[i].span = &span_children[i];
            stack.push_back(parts[i]);
        }
    }
}

std::optional<Span> Document::span(ast::NodeId id) const {
    if (const Span* s = spans_.get(id)) return *s;
    return std::nullopt;
}

Expected<ast::NodeId, EditError> Document::check_node_owner(NodeId handle) const {
    if (handle.document != id_) return EditError(EditError::Kind::ForeignNode);
    if (!ast_.contains(handle.node)) return EditError(EditError::Kind::NodeNotFound);
    return handle.node;
}

Expected<NodeRef, EditError> Document::node(NodeId handle) const {
    auto id = check_node_owner(handle);
    if (!id) return id.error();
    return NodeRef(*this, *id);
}

std::vector<NodeRef> Document::collect(bool (*pred)(const ast::Node&, std::string_view),
                                       std::string_view name) const {
    std::vector<ast::NodeId> ids;
    ast_.find_all_impl(ast_.root(), [&](const ast::Node& n) { return pred(n, name); }, ids);
    std::vector<NodeRef> out;
    out.reserve(ids.size());
    for (ast::NodeId id : ids) out.emplace_back(*this, id);
    return out;
}

std::vector<NodeRef> Document::errors() const {
    return collect([](const ast::Node& n, std::string_view) { return n.is<ast::Node::Error>(); }, {});
}

std::vector<NodeRef> Document::find_commands(std::string_view name) const {
    return collect(
        [](const ast::Node& n, std::string_view wanted) {
            const auto* c = n.get_if<ast::Node::Command>();
            return c != nullptr && c->name == wanted;
        },
        name);
}

std::vector<NodeRef> Document::find_environments(std::string_view name) const {
    return collect(
        [](const ast::Node& n, std::string_view wanted) {
            const auto* e = n.get_if<ast::Node::Environment>();
            return e != nullptr && e->name == wanted;
        },
        name);
}

// Pre-order from the root. All paths share one buffer: a node's path is its
// parent's path (a prefix of the buffer while the node's subtree is walked)
// followed by its own segment, so a deep tree costs no copy per level.
std::vector<NodeSpanEntry> Document::node_spans() const {
    std::vector<NodeSpanEntry> out;
    if (!has_spans_) return out;
    struct Item {
        ast::NodeId id;
        Slot slot;
        std::size_t parent_len;
        bool is_root;
    };
    std::string path;
    std::vector<Item> stack{{ast_.root(), Slot(), 0, true}};
    while (!stack.empty()) {
        Item item = stack.back();
        stack.pop_back();
        path.resize(item.parent_len);
        if (item.is_root) {
            path = "root";
        } else {
            switch (item.slot.kind()) {
                case Slot::Kind::GroupChild:
                    path += ".child.";
                    path += std::to_string(item.slot.index());
                    break;
                case Slot::Kind::Argument:
                    path += ".arg.";
                    path += std::to_string(item.slot.index());
                    path += ".content";
                    break;
                case Slot::Kind::ScriptBase: path += ".base"; break;
                case Slot::Kind::ScriptSub: path += ".sub"; break;
                case Slot::Kind::ScriptSup: path += ".sup"; break;
                case Slot::Kind::InfixLeft: path += ".left"; break;
                case Slot::Kind::InfixRight: path += ".right"; break;
                case Slot::Kind::EnvBody: path += ".body"; break;
            }
        }
        if (const Span* s = spans_.get(item.id)) out.push_back(NodeSpanEntry{path, *s});
        std::size_t first = stack.size();
        for_each_edge(ast_.node(item.id), [&](ast::NodeId child, Slot slot) {
            stack.push_back(Item{child, slot, path.size(), false});
        });
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(first), stack.end());
    }
    return out;
}

}  // namespace document
}  // namespace quorvel::syntax
