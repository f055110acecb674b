// Document edits. Each one runs every check before its first change, in a
// fixed order, so a refused edit leaves the document as it was and the
// arena's own invariant checks are never reached. An edit made of several
// arena edits is one step, so running out of memory halfway through leaves
// the document as it was too.
#include <algorithm>

#include "syntax/document.hpp"
#include "syntax/read_back.hpp"

namespace quorvel::syntax::document {

namespace {

using Kind = EditError::Kind;
using ast::Node;

bool delimiter_ok(const ast::Delimiter& d) {
    const auto* c = d.as_char();
    return c == nullptr || is_scalar_value(c->value);
}

bool argument_kind_ok(const ast::ArgumentKind& kind) {
    if (const auto* d = kind.as_delimited()) {
        return delimiter_ok(d->open) && delimiter_ok(d->close);
    }
    if (const auto* p = kind.as_paired()) {
        return delimiter_ok(p->open) && delimiter_ok(p->close);
    }
    return true;
}

bool is_container(const Node& n) { return n.is<Node::Root>() || n.is<Node::Group>(); }

bool has_repeat(std::vector<ast::NodeId>& ids) {
    auto less = [](ast::NodeId a, ast::NodeId b) {
        return a.index != b.index ? a.index < b.index : a.version < b.version;
    };
    std::sort(ids.begin(), ids.end(), less);
    return std::adjacent_find(ids.begin(), ids.end()) != ids.end();
}

std::optional<EditError> unreadable(Unreadable why) {
    if (!why) return std::nullopt;
    return EditError::unreadable(std::move(*why));
}

// A command-like value's name must read back as that name once written.
std::optional<EditError> check_name(const Node& value) {
    if (const auto* env = value.get_if<Node::Environment>()) return unreadable(check_environment_name(env->name));
    if (const auto* name = value.name()) return unreadable(check_command_name(*name));
    return std::nullopt;
}

// The scalar values of a command-like value, each as its slot writes it.
std::optional<EditError> check_scalars(const Node& value) {
    const ast::ArgumentSlots* args = value.args();
    if (args == nullptr) return std::nullopt;
    for (const auto& slot : *args) {
        if (!slot) continue;
        if (const auto scalar = scalar_of(slot->value)) {
            if (auto e = unreadable(check_scalar(slot->kind, *scalar))) return e;
        }
    }
    return std::nullopt;
}

// The shape checks `create_node` adds for values built by hand: what the
// arena or the serializer would otherwise meet as a broken invariant, and
// what would not read back. A node made here stands nowhere yet: a
// character is checked as in math, which holds every character text does.
std::optional<EditError> check_value_shape(const Ast& ast, const Node& value) {
    if (const auto* env = value.get_if<Node::Environment>()) {
        if (ast.kind(env->body) != NodeKind::Group) return EditError::slot_shape_mismatch(shape::kGroup);
    }
    if (const ast::ArgumentSlots* args = value.args()) {
        for (const auto& slot : *args) {
            if (!slot) continue;
            bool star = slot->kind.is_star();
            bool boolean = std::holds_alternative<ast::ArgumentValue::Boolean>(slot->value.value);
            if (star && !boolean) return EditError::slot_shape_mismatch(shape::kBooleanValue);
            if (!star && boolean) return EditError::slot_shape_mismatch(shape::kNonBooleanValue);
            if (!argument_kind_ok(slot->kind)) return Kind::InvalidCharacter;
            if (const auto* d = std::get_if<ast::ArgumentValue::Delimiter>(&slot->value.value)) {
                if (!delimiter_ok(d->value)) return Kind::InvalidCharacter;
            }
        }
    }
    if (const auto* c = value.get_if<Node::Char>()) {
        if (!is_scalar_value(c->value)) return Kind::InvalidCharacter;
        if (auto e = unreadable(check_char(c->value, ContentMode::Math))) return e;
    }
    if (const auto* t = value.get_if<Node::Text>()) {
        if (auto e = unreadable(check_text(t->value))) return e;
    }
    if (auto e = check_name(value)) return e;
    if (auto e = check_scalars(value)) return e;
    if (const auto* g = value.get_if<Node::Group>()) {
        if (const auto* d = g->kind.as_delimited()) {
            if (!delimiter_ok(d->left) || !delimiter_ok(d->right)) return Kind::InvalidCharacter;
            if (auto e = unreadable(check_delimiter(d->left))) return e;
            if (auto e = unreadable(check_delimiter(d->right))) return e;
        }
    }
    return std::nullopt;
}

// The mode a node is read back in where it stands: its list's, its
// argument's (operator-name content is read as math), math in scripts and
// infix operands; nothing for a detached root.
std::optional<ContentMode> standing_mode(const Ast& ast, ast::NodeId id) {
    const ParentLink* link = ast.parent_link(id);
    if (link == nullptr) return std::nullopt;
    const Node& parent = ast.node(link->parent);
    switch (link->slot.kind()) {
        case Slot::Kind::GroupChild:
            if (const auto* g = parent.get_if<Node::Group>()) return g->mode;
            if (const auto* r = parent.get_if<Node::Root>()) return r->mode;
            return ContentMode::Math;
        case Slot::Kind::Argument: {
            const auto& slot = (*parent.args())[link->slot.index()];
            const bool text = slot && std::holds_alternative<ast::ArgumentValue::TextContent>(slot->value.value);
            return text ? ContentMode::Text : ContentMode::Math;
        }
        default: return ContentMode::Math;
    }
}

Tail tail_of(const Node& node) {
    if (node.is<Node::Command>() || node.is<Node::Declarative>()) return command_tail(*node.name(), *node.args());
    return {};
}

// Where a node stands in a text list: the item before it and after it.
struct TextListPlace {
    const Node* before = nullptr;
    const Node* after = nullptr;
    bool last = false;
};

std::optional<TextListPlace> text_list_place(const Ast& ast, ast::NodeId id) {
    const ParentLink* link = ast.parent_link(id);
    if (link == nullptr || !link->slot.is_group_child() || standing_mode(ast, id) != ContentMode::Text) {
        return std::nullopt;
    }
    const auto children = ast.children(link->parent);
    const std::size_t i = link->slot.index();
    TextListPlace place;
    if (i > 0) place.before = &ast.node(children[i - 1]);
    if (i + 1 < children.size()) place.after = &ast.node(children[i + 1]);
    place.last = i + 1 == children.size();
    return place;
}

ast::ArgumentKind dimension_slot_kind(std::string_view command_name) {
    if (reads_bare_dimension(command_name)) return ast::ArgumentKind::Mandatory{};
    return ast::ArgumentKind::Group{};
}

// A text or character about to stand after `tail` in a text list (or
// last in it).
std::optional<EditError> check_item_after(const Tail& tail, const Node& item, bool last) {
    if (const auto* t = item.get_if<Node::Text>()) {
        const std::string_view text(t->value);
        if (!text.empty()) {
            if (auto e = unreadable(check_after(tail, text.front(), quoted("text", text)))) return e;
        }
        if (last) return unreadable(check_closing_space(tail, text));
    } else if (const auto* c = item.get_if<Node::Char>()) {
        return unreadable(check_after(tail, first_written_byte(c->value, ContentMode::Text), "the character"));
    }
    return std::nullopt;
}

// A text or character node about to take `value` where it stands.
std::optional<EditError> check_in_text_list(const Ast& ast, ast::NodeId id, const Node& value) {
    const auto place = text_list_place(ast, id);
    if (!place) return std::nullopt;
    return check_item_after(place->before != nullptr ? tail_of(*place->before) : Tail{}, value, place->last);
}

// A command-like node about to take `value`: the item after it in a text
// list must not read back as part of it.
std::optional<EditError> check_item_before(const Ast& ast, ast::NodeId id, const Node& value) {
    const auto place = text_list_place(ast, id);
    if (!place || place->after == nullptr) return std::nullopt;
    const ParentLink* link = ast.parent_link(id);
    const bool last = link->slot.index() + 2 == ast.children(link->parent).size();
    return check_item_after(tail_of(value), *place->after, last);
}

}  // namespace

// ---- Shared checks ---------------------------------------------------------

std::optional<EditError> Document::check_writable() const {
    if (read_only_) return EditError(Kind::ReadOnly);
    return std::nullopt;
}

std::optional<EditError> Document::check_detached(ast::NodeId id) const {
    if (!ast_.contains(id)) return EditError(Kind::NodeNotFound);
    if (id == ast_.root()) return EditError(Kind::RootNode);
    if (ast_.parent_link(id) != nullptr) return EditError(Kind::NotDetached);
    if (!ast_.is_detached_root(id)) return EditError(Kind::NotDetached);
    return std::nullopt;
}

std::optional<EditError> Document::check_value(const ArgValue& value) const {
    if (const NodeId* handle = value.node()) {
        auto id = check_node_owner(*handle);
        if (!id) return id.error();
        return check_detached(*id);
    }
    if (const auto* d = std::get_if<ArgValue::Delimiter>(&value.value)) {
        if (!delimiter_ok(d->value)) return EditError(Kind::InvalidCharacter);
    }
    return std::nullopt;
}

std::optional<EditError> Document::check_values(const std::vector<ArgValue>& values) const {
    for (const ArgValue& v : values) {
        if (auto e = check_value(v)) return e;
    }
    return std::nullopt;
}

namespace {

// The arena value of a checked `ArgValue` (Math and Text as their content).
ast::ArgumentValue to_argument_value(const ArgValue& value) {
    using V = ast::ArgumentValue;
    switch (value.value.index()) {
        case 0: return V::MathContent{std::get<ArgValue::Math>(value.value).node.node};
        case 1: return V::TextContent{std::get<ArgValue::Text>(value.value).node.node};
        case 2: return V::Delimiter{std::get<ArgValue::Delimiter>(value.value).value};
        case 3: return V::CSName{std::get<ArgValue::CSName>(value.value).value};
        case 4: return V::Dimension{std::get<ArgValue::Dimension>(value.value).value};
        case 5: return V::Integer{std::get<ArgValue::Integer>(value.value).value};
        case 6: return V::KeyVal{std::get<ArgValue::KeyVal>(value.value).value};
        case 7: return V::Column{std::get<ArgValue::Column>(value.value).value};
        default: return V::Boolean{std::get<ArgValue::Boolean>(value.value).value};
    }
}

}  // namespace

// One filled slot per value: Mandatory, Star for a Boolean. A dimension is
// Mandatory, written bare, for one of TeX's primitives (`\kern 3pt`), and a
// Group, written in braces, for anything else: braces are no dimension to
// a primitive, and a bare dimension is no macro's argument.
ast::ArgumentSlots Document::build_arg_slots(std::string_view name, const std::vector<ArgValue>& values) {
    ast::ArgumentSlots slots;
    slots.reserve(values.size());
    for (const ArgValue& v : values) {
        ast::ArgumentKind kind = std::holds_alternative<ArgValue::Boolean>(v.value)
                                     ? ast::ArgumentKind(ast::ArgumentKind::Star{})
                                     : ast::ArgumentKind(ast::ArgumentKind::Mandatory{});
        if (std::holds_alternative<ArgValue::Dimension>(v.value)) kind = dimension_slot_kind(name);
        slots.push_back(ast::Argument{std::move(kind), false, to_argument_value(v)});
    }
    return slots;
}

Expected<ast::ArgumentValue, EditError> Document::build_arg_value_for_kind(
    const ast::ArgumentKind& kind, const ArgValue& value) const {
    bool boolean = std::holds_alternative<ArgValue::Boolean>(value.value);
    if (kind.is_star()) {
        if (!boolean) return EditError::slot_shape_mismatch(shape::kBooleanValue);
    } else if (boolean) {
        return EditError::slot_shape_mismatch(shape::kNonBooleanValue);
    }
    if (auto e = check_value(value)) return *e;
    return to_argument_value(value);
}

// ---- Creating detached nodes -----------------------------------------------

Expected<NodeId, EditError> Document::create_node(ast::Node value) {
    if (auto e = check_writable()) return *e;
    if (value.is<Node::Root>()) return EditError(Kind::RootNode);
    std::vector<ast::NodeId> children;
    std::optional<EditError> failure;
    for_each_edge(value, [&](ast::NodeId child, Slot) {
        if (!failure) failure = check_detached(child);
        children.push_back(child);
    });
    if (failure) return *failure;
    if (has_repeat(children)) return EditError(Kind::DuplicateNode);
    if (auto e = check_value_shape(ast_, value)) return *e;
    return handle(ast_.new_node(std::move(value)));
}

Expected<NodeId, EditError> Document::create_char(char32_t ch) {
    if (auto e = check_writable()) return *e;
    if (!is_scalar_value(ch)) return EditError(Kind::InvalidCharacter);
    if (auto e = unreadable(check_char(ch, ContentMode::Math))) return *e;
    return handle(ast_.new_node(Node::Char{ch}));
}

Expected<NodeId, EditError> Document::create_active_space() {
    if (auto e = check_writable()) return *e;
    return handle(ast_.new_node(Node::ActiveSpace{}));
}

Expected<NodeId, EditError> Document::create_group(ContentMode mode) {
    if (auto e = check_writable()) return *e;
    return handle(ast_.new_node(Node::Group{{}, ast::GroupKind::Explicit{}, mode}));
}

Expected<NodeId, EditError> Document::create_command(std::string name, std::vector<ArgValue> values) {
    if (auto e = check_writable()) return *e;
    if (auto e = check_values(values)) return *e;
    ast::ArgumentSlots slots = build_arg_slots(name, values);
    return create_node(Node::Command{std::move(name), std::move(slots), false});
}

Expected<NodeId, EditError> Document::create_declarative(std::string name,
                                                         std::vector<ArgValue> values) {
    if (auto e = check_writable()) return *e;
    if (auto e = check_values(values)) return *e;
    ast::ArgumentSlots slots = build_arg_slots(name, values);
    return create_node(Node::Declarative{std::move(name), std::move(slots)});
}

Expected<NodeId, EditError> Document::create_environment(std::string name,
                                                         std::vector<ArgValue> values, NodeId body) {
    if (auto e = check_writable()) return *e;
    auto b = check_node_owner(body);
    if (!b) return b.error();
    if (auto e = check_detached(*b)) return *e;
    if (ast_.kind(*b) != NodeKind::Group) return EditError::slot_shape_mismatch(shape::kGroup);
    if (auto e = check_values(values)) return *e;
    ast::ArgumentSlots slots = build_arg_slots({}, values);
    return create_node(Node::Environment{std::move(name), std::move(slots), false, *b});
}

// ---- Attaching ---------------------------------------------------------------

Expected<void, EditError> Document::append_child(NodeId parent, NodeId child) {
    if (auto e = check_writable()) return *e;
    auto p = check_node_owner(parent);
    if (!p) return p.error();
    if (!is_container(ast_.node(*p))) return EditError(Kind::NotAContainer);
    return insert_child_at(parent, ast_.children(*p).size(), child);
}

Expected<void, EditError> Document::insert_child_at(NodeId parent, std::size_t index, NodeId child) {
    if (auto e = check_writable()) return *e;
    auto p = check_node_owner(parent);
    if (!p) return p.error();
    auto c = check_node_owner(child);
    if (!c) return c.error();
    if (!is_container(ast_.node(*p))) return EditError(Kind::NotAContainer);
    if (*c == ast_.root()) return EditError(Kind::RootNode);
    if (ast_.parent_link(*c) != nullptr) return EditError(Kind::NotDetached);
    if (!ast_.is_detached_root(*c)) return EditError(Kind::NotDetached);
    if (ast_.is_ancestor_or_self(*c, *p)) return EditError(Kind::Cycle);
    if (index > ast_.children(*p).size()) return EditError(Kind::IndexOutOfBounds);
    ast_.insert_child(*p, index, *c);
    return {};
}

namespace {

// The anchor's parent and index, or why the anchor has none.
struct AnchorPlace {
    ast::NodeId parent;
    std::size_t index = 0;
};

Expected<AnchorPlace, EditError> anchor_place(const Ast& ast, ast::NodeId anchor) {
    const ParentLink* link = ast.parent_link(anchor);
    if (link == nullptr) return EditError(Kind::NodeNotFound);
    if (!link->slot.is_group_child()) return EditError::slot_shape_mismatch(shape::kGroupChild);
    return AnchorPlace{link->parent, link->slot.index()};
}

}  // namespace

Expected<void, EditError> Document::insert_before(NodeId anchor, NodeId node) {
    if (auto e = check_writable()) return *e;
    auto a = check_node_owner(anchor);
    if (!a) return a.error();
    auto place = anchor_place(ast_, *a);
    if (!place) return place.error();
    return insert_child_at(handle(place->parent), place->index, node);
}

Expected<void, EditError> Document::insert_after(NodeId anchor, NodeId node) {
    if (auto e = check_writable()) return *e;
    auto a = check_node_owner(anchor);
    if (!a) return a.error();
    auto place = anchor_place(ast_, *a);
    if (!place) return place.error();
    return insert_child_at(handle(place->parent), place->index + 1, node);
}

Expected<void, EditError> Document::replace_with(NodeId old_node, NodeId new_node) {
    if (auto e = check_writable()) return *e;
    auto o = check_node_owner(old_node);
    if (!o) return o.error();
    auto n = check_node_owner(new_node);
    if (!n) return n.error();
    if (*o == ast_.root() || *n == ast_.root()) return EditError(Kind::RootNode);
    if (ast_.parent_link(*n) != nullptr) return EditError(Kind::NotDetached);
    if (!ast_.is_detached_root(*n)) return EditError(Kind::NotDetached);
    if (ast_.is_ancestor_or_self(*n, *o)) return EditError(Kind::Cycle);
    const ParentLink* link = ast_.parent_link(*o);
    if (link == nullptr) return EditError(Kind::NodeNotFound);
    if (link->slot.kind() == Slot::Kind::EnvBody && ast_.kind(*n) != NodeKind::Group) {
        return EditError::slot_shape_mismatch(shape::kGroup);
    }
    Ast::Step step(ast_);
    if (link->slot.is_group_child()) {
        ast::NodeId parent = link->parent;
        std::size_t index = link->slot.index();
        ast_.detach(*o);
        ast_.insert_child(parent, index, *n);
    } else {
        ast_.replace_content_child(*o, *n);
    }
    ast_.remove_detached(*o);
    step.commit();
    return {};
}

Expected<NodeId, EditError> Document::wrap(NodeId target, NodeId wrapper) {
    if (auto e = check_writable()) return *e;
    auto t = check_node_owner(target);
    if (!t) return t.error();
    auto w = check_node_owner(wrapper);
    if (!w) return w.error();
    if (*t == ast_.root()) return EditError(Kind::RootNode);
    if (!is_container(ast_.node(*w))) return EditError(Kind::NotAContainer);
    if (auto e = check_detached(*w)) return *e;
    auto place = anchor_place(ast_, *t);
    if (!place) return place.error();
    if (ast_.is_ancestor_or_self(*w, place->parent)) return EditError(Kind::Cycle);
    Ast::Step step(ast_);
    ast_.detach(*t);
    ast_.insert_child(place->parent, place->index, *w);
    ast_.append_child(*w, *t);
    step.commit();
    return wrapper;
}

Expected<std::vector<NodeId>, EditError> Document::unwrap(NodeId group) {
    if (auto e = check_writable()) return *e;
    auto g = check_node_owner(group);
    if (!g) return g.error();
    if (*g == ast_.root()) return EditError(Kind::RootNode);
    if (ast_.kind(*g) != NodeKind::Group) return EditError::slot_shape_mismatch(shape::kGroup);
    auto place = anchor_place(ast_, *g);
    if (!place) return place.error();
    Ast::Step step(ast_);
    std::vector<ast::NodeId> kids = ast_.detach_children_range(*g, 0, ast_.children(*g).size());
    ast_.remove_node(*g);
    std::vector<NodeId> out;
    out.reserve(kids.size());
    for (std::size_t k = 0; k < kids.size(); ++k) {
        ast_.insert_child(place->parent, place->index + k, kids[k]);
        out.push_back(handle(kids[k]));
    }
    step.commit();
    return out;
}

// ---- Removing ----------------------------------------------------------------

namespace {

std::optional<EditError> check_group_child(const Ast& ast, ast::NodeId id) {
    if (id == ast.root()) return EditError(Kind::RootNode);
    const ParentLink* link = ast.parent_link(id);
    if (link == nullptr || !link->slot.is_group_child()) {
        return EditError::slot_shape_mismatch(shape::kGroupChild);
    }
    return std::nullopt;
}

}  // namespace

Expected<void, EditError> Document::remove(NodeId node) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (auto e = check_group_child(ast_, *n)) return *e;
    ast_.remove_node(*n);
    return {};
}

Expected<NodeId, EditError> Document::extract(NodeId node) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (auto e = check_group_child(ast_, *n)) return *e;
    ast_.detach(*n);
    return node;
}

Expected<void, EditError> Document::clear(NodeId container) {
    if (auto e = check_writable()) return *e;
    auto c = check_node_owner(container);
    if (!c) return c.error();
    if (!is_container(ast_.node(*c))) return EditError(Kind::NotAContainer);
    Ast::Step step(ast_);
    for (ast::NodeId kid : ast_.detach_children_range(*c, 0, ast_.children(*c).size())) {
        ast_.remove_detached(kid);
    }
    step.commit();
    return {};
}

// ---- Changing values ---------------------------------------------------------

Expected<void, EditError> Document::set_char(NodeId node, char32_t ch) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (ast_.kind(*n) != NodeKind::Char) return EditError::slot_shape_mismatch(shape::kCharNode);
    if (!is_scalar_value(ch)) return EditError(Kind::InvalidCharacter);
    if (auto e = unreadable(check_char(ch, standing_mode(ast_, *n).value_or(ContentMode::Math)))) return *e;
    Node value = Node::Char{ch};
    if (auto e = check_in_text_list(ast_, *n, value)) return *e;
    ast_.replace_node(*n, std::move(value));
    return {};
}

Expected<void, EditError> Document::set_text(NodeId node, std::string text) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (ast_.kind(*n) != NodeKind::Text) return EditError::slot_shape_mismatch(shape::kTextNode);
    if (auto e = unreadable(check_text(text))) return *e;
    // Made by `create_text`, an empty text may stand anywhere until it is
    // written; a text that was there would be lost.
    if (text.empty()) return EditError::unreadable("text \"\" cannot be written: an empty text reads back as nothing");
    Node value = Node::Text{std::move(text)};
    if (auto e = check_in_text_list(ast_, *n, value)) return *e;
    ast_.replace_node(*n, std::move(value));
    return {};
}

Expected<void, EditError> Document::set_command_name(NodeId node, std::string name) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (!is_command_like(ast_.kind(*n))) return EditError::slot_shape_mismatch(shape::kCommandLike);
    Node value = ast_.node(*n);
    std::visit(
        [&](auto& v) {
            if constexpr (requires { v.name; }) v.name = std::move(name);
        },
        value.value);
    if (auto e = check_name(value)) return *e;
    // A dimension is written bare or braced as the new name reads it.
    if (!value.is<Node::Environment>()) {
        for (auto& slot : *value.args()) {
            if (slot && std::holds_alternative<ast::ArgumentValue::Dimension>(slot->value.value) &&
                !slot->kind.is_star() && slot->kind.as_delimited() == nullptr && slot->kind.as_paired() == nullptr &&
                !std::holds_alternative<ast::ArgumentKind::Optional>(slot->kind.value)) {
                slot->kind = dimension_slot_kind(*value.name());
            }
        }
        if (auto e = check_scalars(value)) return *e;
    }
    if (auto e = check_item_before(ast_, *n, value)) return *e;
    ast_.replace_node(*n, std::move(value));
    return {};
}

Expected<void, EditError> Document::set_arg(NodeId node, std::size_t index, ArgValue value) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (!is_command_like(ast_.kind(*n))) return EditError::slot_shape_mismatch(shape::kCommandLike);
    auto slots = ast_.arg_slots(*n);
    if (index >= slots.size()) return EditError(Kind::IndexOutOfBounds);
    if (!slots[index]) return EditError::slot_shape_mismatch(shape::kFilledSlot);
    auto built = build_arg_value_for_kind(slots[index]->kind, value);
    if (!built) return built.error();
    if (const NodeId* content = value.node()) {
        if (ast_.is_ancestor_or_self(content->node, *n)) return EditError(Kind::Cycle);
    }
    // Install a copy of the node's value with only this slot's value
    // replaced; the displaced content is left detached, then freed.
    std::optional<ast::NodeId> old_content = slots[index]->value.content();
    Node replacement = ast_.node(*n);
    (*replacement.args())[index]->value = std::move(*built);
    if (auto e = check_scalars(replacement)) return *e;
    if (auto e = check_item_before(ast_, *n, replacement)) return *e;
    Ast::Step step(ast_);
    ast_.replace_node(*n, std::move(replacement));
    if (old_content && ast_.contains(*old_content) && *old_content != ast_.root() &&
        ast_.is_detached_root(*old_content)) {
        ast_.remove_detached(*old_content);
    }
    step.commit();
    return {};
}

}  // namespace quorvel::syntax::document
