#include "syntax/node_ref.hpp"

#include "syntax/document.hpp"

namespace quorvel::syntax {

using ast::Node;

const Node& NodeRef::node() const { return doc_->ast().node(id_); }

std::optional<NodeRef> NodeRef::at(std::optional<ast::NodeId> id) const {
    if (!id) return std::nullopt;
    return NodeRef(*doc_, *id);
}

document::NodeId NodeRef::handle() const { return doc_->handle(id_); }

NodeKind NodeRef::kind() const { return node().kind(); }

bool NodeRef::is_command(std::string_view name) const {
    const auto* c = node().get_if<Node::Command>();
    return c != nullptr && c->name == name;
}

bool NodeRef::is_char(char32_t ch) const {
    const auto* c = node().get_if<Node::Char>();
    return c != nullptr && c->value == ch;
}

bool NodeRef::is_error() const { return node().is<Node::Error>(); }

std::optional<std::string_view> NodeRef::command_name() const {
    const Node& n = node();
    if (n.is<Node::Environment>()) return std::nullopt;
    if (const ast::Name* name = n.name()) return std::string_view(*name);
    return std::nullopt;
}

std::optional<std::string_view> NodeRef::env_name() const {
    if (const auto* e = node().get_if<Node::Environment>()) return std::string_view(e->name);
    return std::nullopt;
}

std::optional<NodeRef> NodeRef::env_body() const {
    if (const auto* e = node().get_if<Node::Environment>()) return NodeRef(*doc_, e->body);
    return std::nullopt;
}

const ast::GroupKind* NodeRef::group_kind() const {
    if (const auto* g = node().get_if<Node::Group>()) return &g->kind;
    return nullptr;
}

std::optional<ContentMode> NodeRef::content_mode() const {
    const Node& n = node();
    if (const auto* r = n.get_if<Node::Root>()) return r->mode;
    if (const auto* g = n.get_if<Node::Group>()) return g->mode;
    return std::nullopt;
}

std::optional<NodeRef> NodeRef::infix_left() const {
    if (const auto* v = node().get_if<Node::Infix>()) return NodeRef(*doc_, v->left);
    return std::nullopt;
}

std::optional<NodeRef> NodeRef::infix_right() const {
    if (const auto* v = node().get_if<Node::Infix>()) return NodeRef(*doc_, v->right);
    return std::nullopt;
}

std::optional<NodeRef> NodeRef::script_base() const {
    if (const auto* v = node().get_if<Node::Scripted>()) return NodeRef(*doc_, v->base);
    return std::nullopt;
}

std::optional<NodeRef> NodeRef::subscript() const {
    if (const auto* v = node().get_if<Node::Scripted>()) return at(v->subscript);
    return std::nullopt;
}

std::optional<NodeRef> NodeRef::superscript() const {
    if (const auto* v = node().get_if<Node::Scripted>()) return at(v->superscript);
    return std::nullopt;
}

std::optional<std::uint64_t> NodeRef::prime_count() const {
    if (const auto* v = node().get_if<Node::Prime>()) return v->count;
    return std::nullopt;
}

std::optional<char32_t> NodeRef::character() const {
    if (const auto* v = node().get_if<Node::Char>()) return v->value;
    return std::nullopt;
}

std::optional<std::string_view> NodeRef::text() const {
    if (const auto* v = node().get_if<Node::Text>()) return std::string_view(v->value);
    return std::nullopt;
}

std::optional<std::pair<std::string_view, std::string_view>> NodeRef::error_parts() const {
    if (const auto* v = node().get_if<Node::Error>()) {
        return std::pair<std::string_view, std::string_view>(v->message, v->snippet);
    }
    return std::nullopt;
}

std::optional<ArgRef> NodeRef::arg(std::size_t position) const {
    const ast::ArgumentSlots* args = node().args();
    if (args == nullptr || position >= args->size() || !(*args)[position]) return std::nullopt;
    using V = ast::ArgumentValue;
    const V::Value& v = (*args)[position]->value.value;
    switch (v.index()) {
        case 0: return ArgRef(ArgRef::Math{NodeRef(*doc_, std::get<V::MathContent>(v).node)});
        case 1: return ArgRef(ArgRef::Text{NodeRef(*doc_, std::get<V::TextContent>(v).node)});
        case 2: return ArgRef(ArgRef::Math{NodeRef(*doc_, std::get<V::OperatorNameContent>(v).node)});
        case 3: return ArgRef(ArgRef::Delimiter{&std::get<V::Delimiter>(v).value});
        case 4: return ArgRef(ArgRef::CSName{std::get<V::CSName>(v).value});
        case 5: return ArgRef(ArgRef::Dimension{std::get<V::Dimension>(v).value});
        case 6: return ArgRef(ArgRef::Integer{std::get<V::Integer>(v).value});
        case 7: return ArgRef(ArgRef::KeyVal{std::get<V::KeyVal>(v).value});
        case 8: return ArgRef(ArgRef::Column{std::get<V::Column>(v).value});
        default: return ArgRef(ArgRef::Boolean{std::get<V::Boolean>(v).value});
    }
}

std::size_t NodeRef::arg_count() const {
    const ast::ArgumentSlots* args = node().args();
    return args == nullptr ? 0 : args->size();
}

std::vector<std::optional<ArgRef>> NodeRef::arg_slots() const {
    std::vector<std::optional<ArgRef>> out;
    std::size_t n = arg_count();
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(arg(i));
    return out;
}

std::vector<NodeRef> NodeRef::children() const {
    std::vector<NodeRef> out;
    const ast::ChildList* list = node().child_list();
    if (list == nullptr) return out;
    out.reserve(list->size());
    for (ast::NodeId c : *list) out.emplace_back(*doc_, c);
    return out;
}

std::vector<NodeRef> NodeRef::descendants() const {
    std::vector<ast::NodeId> ids;
    doc_->ast().find_all_impl(id_, [](const Node&) { return true; }, ids);
    std::vector<NodeRef> out;
    if (ids.size() > 1) out.reserve(ids.size() - 1);
    for (ast::NodeId id : ids) {
        if (id != id_) out.emplace_back(*doc_, id);
    }
    return out;
}

std::optional<NodeRef> NodeRef::parent() const { return at(doc_->ast().parent_id(id_)); }

std::vector<NodeRef> NodeRef::ancestors() const {
    std::vector<NodeRef> out;
    for (auto p = doc_->ast().parent_id(id_); p; p = doc_->ast().parent_id(*p)) {
        out.emplace_back(*doc_, *p);
    }
    return out;
}

std::optional<NodeRef> NodeRef::next_sibling() const { return at(doc_->ast().next_sibling(id_)); }

std::optional<NodeRef> NodeRef::prev_sibling() const { return at(doc_->ast().prev_sibling(id_)); }

std::optional<Span> NodeRef::span() const { return doc_->span(id_); }

}  // namespace quorvel::syntax
