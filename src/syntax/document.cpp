#include "syntax/document.hpp"

#include <algorithm>
#include <atomic>
#include <new>

#include "syntax/conversion.hpp"

namespace quorvel::syntax {

namespace {

// Process-wide; the first document of a process is number 1.
std::atomic<std::uint64_t> NEXT_DOCUMENT_ID{1};

std::uint64_t next_document_id() { return NEXT_DOCUMENT_ID.fetch_add(1, std::memory_order_relaxed); }

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
        case Kind::Unreadable: return why_;
    }
    return {};
}

Document::Document(ContentMode mode) : ast_(Ast::with_root_mode(mode)), id_(next_document_id()) {}

Expected<Document, FromSyntaxError> Document::from_syntax(const SyntaxNode& tree) {
    return from_syntax(tree, Validation::ReadBack);
}

Expected<Document, FromSyntaxError> Document::from_syntax_unchecked(const SyntaxNode& tree) {
    return from_syntax(tree, Validation::Structure);
}

Expected<Document, FromSyntaxError> Document::from_syntax(const SyntaxNode& tree, Validation validation) {
    std::size_t count = 0;
    if (auto error = validate_syntax(tree, std::nullopt, true, count, validation)) return *error;
    Document doc(count, false);
    doc.read_only_ = doc.ast_.build_from_syntax(tree, count, nullptr, nullptr);
    // A tree that holds an error is written as it was read, and only read:
    // what stands beside an error's text says nothing of how it reads.
    if (validation == Validation::ReadBack && !doc.read_only_) {
        if (auto error = doc.check_tree()) return FromSyntaxError::unreadable(error->message());
    }
    // The number is taken only now that the tree was accepted.
    doc.id_ = next_document_id();
    return doc;
}

Expected<Document, FromSyntaxError> Document::from_syntax_with_spans(const SyntaxNode& tree,
                                                                    const SpanTree& spans) {
    std::size_t count = 0;
    if (auto error = validate_syntax(tree, std::nullopt, true, count)) return *error;
    // The root always takes the span tree's own span.
    Document doc(count, true);
    doc.read_only_ = doc.ast_.build_from_syntax(tree, count, &spans, &doc.spans_);
    doc.id_ = next_document_id();
    return doc;
}

Expected<Document, FromSyntaxError> Document::from_syntax_with_spans(SyntaxNode&& tree, SpanTree&& spans) {
    std::size_t count = 0;
    if (auto error = validate_syntax(tree, std::nullopt, true, count)) return *error;
    Document doc(count, true);
    doc.read_only_ = doc.ast_.build_from_syntax(std::move(tree), count, &spans, &doc.spans_);
    doc.id_ = next_document_id();
    return doc;
}

Document Document::from_parsed_syntax(SyntaxNode&& tree, SpanTree&& spans) {
#ifndef NDEBUG
    if (validate_syntax(tree, std::nullopt, true)) {
        internal_error("parser must produce a syntax root accepted by Document");
    }
#endif
    const std::size_t count = count_syntax_nodes(tree);
    Document doc(count, true);
    doc.read_only_ = doc.ast_.build_from_syntax(std::move(tree), count, &spans, &doc.spans_);
    doc.id_ = next_document_id();
    return doc;
}

Document Document::from_parsed_root(ParsedRoot&& root) {
    std::size_t count = 1;
    for (std::size_t k = 0; k <= root.blocks.size(); ++k) {
        const ParsedBlock& block = k < root.blocks.size() ? root.blocks[k] : root.last;
#ifndef NDEBUG
        for (const SyntaxNode& child : block.nodes) {
            if (child.is<SyntaxNode::Root>() || validate_syntax(child, root.mode, false)) {
                internal_error("parser must produce a syntax root accepted by Document");
            }
        }
#endif
        count += count_syntax_nodes(block.nodes);
    }
    Document doc(count, true);
    doc.read_only_ = doc.ast_.build_from_parsed(root, &doc.spans_);
    doc.id_ = next_document_id();
    return doc;
}

std::optional<Span> Document::span(ast::NodeId id) const {
    return spans_.get(ast_, id);
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

bool Document::has_errors() const {
    return ast_.find_impl(ast_.root(), [](const ast::Node& n) { return n.is<ast::Node::Error>(); }).has_value();
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
    std::size_t path_bytes = 0;
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
        if (auto s = spans_.get(ast_, item.id)) {
            path_bytes += path.size();
            if (path_bytes > kNodeSpanPathBudget) throw std::bad_alloc();
            out.push_back(NodeSpanEntry{path, *s});
        }
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
