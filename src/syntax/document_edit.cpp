// Document edits. Each one runs every structural check before its first
// change, in a fixed order, so the arena's own invariant checks are never
// reached. The checks of what the text reads back as run on the tree as the
// edit leaves it, inside the edit's step: a refused edit takes its changes
// back and leaves the document as it was. An edit made of several arena
// edits is one step, so running out of memory halfway through leaves the
// document as it was too.
#include <algorithm>

#include "parse/utf8.hpp"
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
            if (auto e = unreadable(check_scalar(slot->kind, *scalar, false))) return e;
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

// Where a value is about to stand: the mode it is read back in and, in a
// list, the items on either side of it.
struct Standing {
    std::optional<ContentMode> mode;  // none for a detached root
    bool in_list = false;
    const Node* before = nullptr;
    const Node* after = nullptr;
    bool after_is_last = false;  // `after` ends its list
    bool last = false;           // the value ends its list
    bool in_brackets = false;    // written bare inside `[...]`, where a `]` ends it
    bool argument_list = false;  // the list is an argument's content, in its braces
    bool script_base = false;
    bool env_body = false;
    Tail opening;  // what stands open before the list's first item
};

bool is_brace_list(const Node& node) {
    const auto* g = node.get_if<Node::Group>();
    return g != nullptr && (g->kind.is_explicit() || g->kind.is_implicit());
}

bool is_optional_argument(const Ast& ast, const ParentLink& link) {
    if (link.slot.kind() != Slot::Kind::Argument) return false;
    const auto& slot = (*ast.node(link.parent).args())[link.slot.index()];
    return slot && std::holds_alternative<ast::ArgumentKind::Optional>(slot->kind.value);
}

// Whether the text of `id` (with `items`, of the items of the list `id`) is
// written bare inside an optional argument's brackets, where a `]` ends
// the argument: a bracket argument's content, and what stands in it
// without braces of its own (a `\left...\right` group's items, an
// environment's body, an infix's operands), as the writer sees it.
bool in_brackets(const Ast& ast, ast::NodeId id, bool items) {
    for (;;) {
        const ParentLink* link = ast.parent_link(id);
        if (link == nullptr) return false;
        if (items && !is_brace_list(ast.node(id))) {
            items = false;  // written bare wherever the group itself is
            continue;
        }
        if (is_optional_argument(ast, *link)) return true;
        if (items) {
            // A brace list's items are bare only where it is content written
            // without its braces.
            if (serialize::bracket_reach(ast, link->parent, link->slot) != serialize::BracketReach::Content) {
                return false;
            }
            id = link->parent;
            items = false;
            continue;
        }
        if (link->slot.is_group_child()) {
            id = link->parent;
            items = true;
            continue;
        }
        if (serialize::bracket_reach(ast, link->parent, link->slot) == serialize::BracketReach::Hidden) return false;
        id = link->parent;
    }
}

std::optional<ContentMode> list_mode(const Node& list) {
    if (const auto* g = list.get_if<Node::Group>()) return g->mode;
    if (const auto* r = list.get_if<Node::Root>()) return r->mode;
    return std::nullopt;
}

// Whether `list` is an argument's content, written in the argument's braces.
bool is_argument_list(const Ast& ast, ast::NodeId list) {
    const ParentLink* link = ast.parent_link(list);
    const auto* group = ast.node(list).get_if<Node::Group>();
    return link != nullptr && link->slot.kind() == Slot::Kind::Argument && group != nullptr &&
           !group->kind.is_explicit();
}

Tail opening_of(const Ast& ast, ast::NodeId list);

// Standing at `index` of a list, between the items there: `skip` of them
// (the one a value replaces) left out.
Standing standing_in_list(const Ast& ast, ast::NodeId list, std::size_t index, std::size_t skip,
                          bool find_brackets = true) {
    const auto children = ast.children(list);
    Standing s;
    s.mode = list_mode(ast.node(list));
    s.in_list = true;
    if (index > 0) s.before = &ast.node(children[index - 1]);
    if (index == 0) s.opening = opening_of(ast, list);
    const std::size_t next = index + skip;
    if (next < children.size()) {
        s.after = &ast.node(children[next]);
        s.after_is_last = next + 1 == children.size();
    }
    s.last = s.after == nullptr;
    if (find_brackets) s.in_brackets = in_brackets(ast, list, true);
    s.argument_list = is_argument_list(ast, list);
    return s;
}

// Where a node stands now: a list's item, an argument's content (operator
// names are read as math), math in scripts and infix operands, an
// environment's body in the mode it has. A script base is written first
// of its scripted node: its neighbours are that node's.
// `bracketed`, when given, says whether the node is written bare in
// brackets (a walk down the tree knows it as it goes).
Standing standing_of(const Ast& ast, ast::NodeId id, const bool* bracketed = nullptr) {
    const ParentLink* link = ast.parent_link(id);
    if (link == nullptr) return {};
    if (link->slot.is_group_child()) {
        if (bracketed == nullptr) return standing_in_list(ast, link->parent, link->slot.index(), 1);
        Standing s = standing_in_list(ast, link->parent, link->slot.index(), 1, false);
        s.in_brackets = *bracketed;
        return s;
    }
    if (link->slot.kind() == Slot::Kind::ScriptBase) {
        ast::NodeId scripted = link->parent;
        const ParentLink* up = ast.parent_link(scripted);
        while (up != nullptr && up->slot.kind() == Slot::Kind::ScriptBase) {
            scripted = up->parent;
            up = ast.parent_link(scripted);
        }
        Standing s = standing_of(ast, scripted, bracketed);
        s.mode = ContentMode::Math;
        s.after = nullptr;
        s.after_is_last = s.last = s.argument_list = false;
        s.script_base = true;
        return s;
    }
    Standing s;
    s.mode = ContentMode::Math;
    s.in_brackets = bracketed != nullptr ? *bracketed : in_brackets(ast, id, false);
    if (link->slot.kind() == Slot::Kind::Argument) {
        const auto& slot = (*ast.node(link->parent).args())[link->slot.index()];
        if (slot && std::holds_alternative<ast::ArgumentValue::TextContent>(slot->value.value)) {
            s.mode = ContentMode::Text;
        }
    } else if (link->slot.kind() == Slot::Kind::EnvBody) {
        s.mode = list_mode(ast.node(id));
        s.env_body = true;
    }
    return s;
}

ast::ArgumentKind dimension_slot_kind(std::string_view command_name) {
    if (reads_bare_dimension(command_name)) return ast::ArgumentKind::Mandatory{};
    return ast::ArgumentKind::Group{};
}

Tail tail_of(const Node& node) {
    if (node.is<Node::Command>() || node.is<Node::Declarative>()) return command_tail(*node.name(), *node.args());
    return {};
}

// What the head of the environment whose body is `list` leaves open to the
// body's first item: `\begin{aligned}` reads a `[` after it as its own.
Tail opening_of(const Ast& ast, ast::NodeId list) {
    const ParentLink* link = ast.parent_link(list);
    if (link == nullptr || link->slot.kind() != Slot::Kind::EnvBody) return {};
    const Node& env = ast.node(link->parent);
    return command_tail(*env.name(), *env.args(), true);
}

// The node whose text starts the text written for `node`: a scripted
// node's base, at every level.
const Node& lead(const Ast& ast, const Node& node) {
    const Node* n = &node;
    while (const auto* s = n->get_if<Node::Scripted>()) n = &ast.node(s->base);
    return *n;
}

// How a message names a node.
std::string named(const Node& node) {
    if (const auto* c = node.get_if<Node::Char>()) {
        std::string shown;
        parse::utf8::append(shown, c->value);
        return quoted("character", shown);
    }
    if (const auto* t = node.get_if<Node::Text>()) return quoted("text", t->value);
    if (node.is<Node::Environment>()) return quoted("environment", *node.name());
    if (node.name() != nullptr) return quoted(node.is<Node::Infix>() ? "infix" : "command", *node.name());
    if (const auto* g = node.get_if<Node::Group>()) {
        return g->kind.is_inline_math() ? "inline math" : g->kind.as_delimited() ? "a \\left...\\right group" : "a group";
    }
    return node.is<Node::Scripted>() ? "a scripted node" : "the item";
}

// An item about to stand after one with `tail` in a text list (or last in
// it): a text, character or group must not read back as part of that one.
Unreadable check_item_after(const Tail& tail, const Node& item, bool last) {
    if (const auto* t = item.get_if<Node::Text>()) {
        const std::string_view text(t->value);
        if (!text.empty()) {
            char32_t first = 0;
            parse::utf8::decode(reinterpret_cast<const unsigned char*>(text.data()), text.size(), first);
            if (auto why = check_after(tail, first, quoted("text", text))) return why;
        }
        if (last) return check_closing_space(tail, text);
    } else if (const auto* c = item.get_if<Node::Char>()) {
        return check_after(tail, first_written(c->value, ContentMode::Text), named(item));
    } else if (is_brace_list(item)) {
        return check_after(tail, U'{', named(item));
    }
    return std::nullopt;
}

// Whether `node` is a prime or a script on a base written as nothing,
// which the reader makes only first in a cell: after an item it reads back
// as that item's script.
bool takes_base_before(const Ast& ast, const Node& node) {
    if (node.is<Node::Prime>()) return true;
    const auto* scripted = node.get_if<Node::Scripted>();
    if (scripted == nullptr) return false;
    const auto* base = ast.node(scripted->base).get_if<Node::Group>();
    return base != nullptr && base->kind.is_implicit() && ast.children(scripted->base).empty();
}

bool is_spacing(std::string_view text) { return text.find_first_not_of(' ') == std::string_view::npos; }

std::string_view mode_word(ContentMode mode) { return mode == ContentMode::Math ? "math" : "text"; }

// The refusal of `what`, written bare inside an optional argument's
// brackets with a `]` of its own.
EditError ends_brackets(const std::string& what) {
    return EditError::unreadable(what + " cannot be written here: its ] would end the optional argument it stands in");
}

// A value about to stand where `s` says, whatever its neighbours: a
// character as the reader reads it there, a group only where its mode is
// read, scripts only in math.
std::optional<EditError> check_in_place(const Standing& s, const Node& value) {
    const auto* c = value.get_if<Node::Char>();
    const auto* t = value.get_if<Node::Text>();
    if (c != nullptr) {
        if (auto e = unreadable(check_char(c->value, s.mode.value_or(ContentMode::Math)))) return e;
    }
    if (t != nullptr && t->value.empty() && s.mode) {
        // Made by `create_text`, an empty text may stand nowhere; where it
        // stands it reads back as nothing.
        return EditError::unreadable("text \"\" cannot be written here: an empty text reads back as nothing");
    }
    if (t != nullptr && s.mode == ContentMode::Math) {
        // The reader makes texts in text only: in math each character of
        // one reads back as a character node (or a prime, or a space).
        return EditError::unreadable(quoted("text", t->value) +
                                     " cannot be written here: in math a text reads back as characters");
    }
    if (const auto* g = value.get_if<Node::Group>(); g != nullptr && s.env_body &&
                                                      !g->kind.is_explicit() && !g->kind.is_implicit()) {
        return EditError::unreadable(named(value) +
                                     " cannot be written as an environment's body: the body is read as the items "
                                     "up to \\end");
    }
    if (const auto* g = value.get_if<Node::Group>(); g != nullptr && s.mode) {
        // Braces are read in the mode they stand in; `$` only in text,
        // `\left` only in math, each opening math.
        const bool inline_math = g->kind.is_inline_math();
        const bool delimited = g->kind.as_delimited() != nullptr;
        if ((inline_math || delimited) && g->mode != ContentMode::Math) {
            return EditError::unreadable(named(value) + " cannot be written here: its content is read as math, not text");
        }
        const ContentMode read_in = inline_math ? ContentMode::Text : g->mode;
        if (read_in != *s.mode) {
            if (inline_math || delimited) {
                return EditError::unreadable(named(value) + " cannot be written here: it is read only in " +
                                             std::string(mode_word(read_in)));
            }
            return EditError::unreadable("a " + std::string(mode_word(g->mode)) + " group cannot be written here: in " +
                                         std::string(mode_word(*s.mode)) +
                                         " its content reads back as " + std::string(mode_word(*s.mode)));
        }
    }
    if (s.mode == ContentMode::Text && (value.is<Node::Scripted>() || value.is<Node::Prime>())) {
        return EditError::unreadable(std::string(value.is<Node::Prime>() ? "a prime" : "a scripted node") +
                                     " cannot be written here: scripts and primes are read only in math");
    }
    if (const auto* scripted = value.get_if<Node::Scripted>();
        scripted != nullptr && !scripted->subscript && !scripted->superscript) {
        return EditError::unreadable("a scripted node without scripts cannot be written: it reads back as its base");
    }
    if (s.script_base && value.is<Node::Scripted>()) {
        return EditError::unreadable(
            "a scripted node cannot be written here: as a script base its scripts would read back as the outer "
            "node's, or as a double script");
    }
    if (s.script_base && value.ends_cell()) {
        return EditError::unreadable(
            "a cell end cannot be written here: it is never read as a script base, whose scripts would stand on "
            "an empty base after it");
    }
    if (s.in_brackets && ((c != nullptr && c->value == U']') ||
                          (t != nullptr && std::string_view(t->value).find(']') != std::string_view::npos))) {
        return ends_brackets(c != nullptr ? "the character ]" : quoted("text", t->value));
    }
    if (t != nullptr && s.mode == ContentMode::Text && s.argument_list && s.before == nullptr &&
        s.after == nullptr && is_spacing(t->value)) {
        return EditError::unreadable(quoted("text", t->value) +
                                     " cannot be written here: spacing alone in an argument reads back as the "
                                     "argument's whole content, outside its list");
    }
    return std::nullopt;
}

// A node as it now stands: in brackets, the text it writes bare (`whole`),
// or its own text alone, must hold no `]`, which would end the argument;
// the writer would brace it, and it would read back as a group.
std::optional<EditError> check_brackets(const Ast& ast, ast::NodeId id, bool whole) {
    // Where it stands first: the text a node writes bare may be long.
    if (!in_brackets(ast, id, false)) return std::nullopt;
    if (!(whole ? serialize::closes_bracket_argument(ast, id) : serialize::own_text_closes_bracket(ast, id))) {
        return std::nullopt;
    }
    return ends_brackets(named(ast.node(id)));
}

// `after` standing right after `before` (if any) in a list of `mode`,
// `last` in it when `after_last`. Texts that meet read back as one: only
// a move may make them meet (`merge`), and only when the one they make
// reads back.
std::optional<EditError> check_pair(const Ast& ast, std::optional<ContentMode> mode, const Node* before,
                                    const Node& after, bool after_last, bool merge, const Tail& opening = {}) {
    if (before != nullptr &&
        ((before->is<Node::Infix>() && !after.ends_cell()) || (after.is<Node::Infix>() && !before->ends_cell()))) {
        const Node& infix = before->is<Node::Infix>() ? *before : after;
        return EditError::unreadable("an item cannot be written beside the infix \\" + std::string(*infix.name()) +
                                     ": it reads every item of its cell as its operands");
    }
    if (before != nullptr && !before->ends_cell() && takes_base_before(ast, after)) {
        return EditError::unreadable(std::string(after.is<Node::Prime>() ? "a prime" : "a script with an empty base") +
                                     " cannot be written here: it would read back with the item before it as its "
                                     "base");
    }
    const bool text = mode == ContentMode::Text;
    if (text && before != nullptr && before->is<Node::Text>() && after.is<Node::Text>()) {
        const std::string_view left(before->get_if<Node::Text>()->value);
        const std::string_view right(after.get_if<Node::Text>()->value);
        if (!merge) {
            return EditError::unreadable(quoted("text", right) +
                                         " cannot be written here: beside another text it reads back as one text");
        }
        std::string joined(left);
        joined.append(right);
        if (auto why = check_text(joined)) {
            return EditError::unreadable("texts that meet read back as one, and " + *why);
        }
        return std::nullopt;
    }
    // In math the reader skips the space after a control word: only an
    // optional argument or a star left open can take what follows.
    Tail tail = before != nullptr ? tail_of(*before) : opening;
    if (!text) tail.letter = tail.eats_space = false;
    return unreadable(check_item_after(tail, lead(ast, after), after_last));
}

// A value about to stand where `s` says: in place, and in a list, nothing
// that would read back as part of its neighbours or make them read back as
// part of it.
std::optional<EditError> check_standing(const Ast& ast, const Standing& s, const Node& value) {
    if (auto e = check_in_place(s, value)) return e;
    if (!s.in_list) return std::nullopt;
    if (const auto* t = value.get_if<Node::Text>(); t != nullptr && s.mode == ContentMode::Text) {
        if ((s.before != nullptr && s.before->is<Node::Text>()) || (s.after != nullptr && s.after->is<Node::Text>())) {
            return EditError::unreadable(quoted("text", t->value) +
                                         " cannot be written here: beside another text it reads back as one text");
        }
    }
    if (auto e = check_pair(ast, s.mode, s.before, value, s.last, false, s.opening)) return e;
    if (s.after != nullptr) return check_pair(ast, s.mode, &value, *s.after, s.after_is_last, false);
    return std::nullopt;
}

// The items at `index - 1` and `index` of `list`, as a move has just put
// them side by side (either may be missing): the one after reads back after
// the one before, and one left last reads back last. An argument left with
// one text of spacing would lose it.
std::optional<EditError> check_seam(const Ast& ast, ast::NodeId list, std::size_t index) {
    const auto children = ast.children(list);
    const auto mode = list_mode(ast.node(list));
    const auto at = [&](std::size_t i) { return &ast.node(children[i]); };
    if (index < children.size()) {
        const Node* before = index > 0 ? at(index - 1) : nullptr;
        if (auto e = check_pair(ast, mode, before, *at(index), index + 1 == children.size(), true,
                                before == nullptr ? opening_of(ast, list) : Tail{})) {
            return e;
        }
    } else if (index > 0 && index == children.size()) {
        const Node* before = index > 1 ? at(index - 2) : nullptr;
        if (auto e = check_pair(ast, mode, before, *at(index - 1), true, true,
                                before == nullptr ? opening_of(ast, list) : Tail{})) {
            return e;
        }
    }
    if (children.size() == 1 && mode == ContentMode::Text && is_argument_list(ast, list)) {
        if (auto e = check_in_place(standing_in_list(ast, list, 0, 1), *at(0))) return e;
    }
    return std::nullopt;
}

// Whether a slot is written as nothing: empty, or a star left off.
bool is_unwritten(const std::optional<ast::Argument>& slot) {
    if (!slot) return true;
    const auto* star = std::get_if<ast::ArgumentValue::Boolean>(&slot->value.value);
    return star != nullptr && !star->value;
}

// The unknown name of `value`, standing where its items are read in
// `mode`: it reads back with no argument slots, so what they hold is read
// as items beside it. A star reads back as `*` and a braced content as a
// group, which later edits check in its own mode: only one of `mode` is
// read as it is checked. A scalar value's text was read clean with it.
std::optional<EditError> check_unknown(const Node& value, ContentMode mode, const std::string& what) {
    const bool environment = value.is<Node::Environment>();
    for (const auto& slot : *value.args()) {
        if (!slot) continue;
        const auto content_mode = slot->value.content_mode();
        if (!content_mode) continue;
        const std::string prefix = what + " cannot be written here: the packages do not know " +
                                   (environment ? "it" : "\\" + std::string(*value.name())) +
                                   ", which reads back with no arguments, and its ";
        const bool braced = std::holds_alternative<ast::ArgumentKind::Mandatory>(slot->kind.value) ||
                            std::holds_alternative<ast::ArgumentKind::Group>(slot->kind.value);
        if (!braced) return EditError::unreadable(prefix + "argument outside braces would be read as items beside it");
        if (*content_mode != mode) {
            return EditError::unreadable(prefix + std::string(mode_word(*content_mode)) + " argument would be read as " +
                                         std::string(mode_word(mode)));
        }
    }
    return std::nullopt;
}

}  // namespace

// ---- Shared checks ---------------------------------------------------------

namespace {

// The text of a command-like node standing alone in `mode`, each content
// argument, operand or body written as one letter: what tells whether the
// reader takes this name with these slots there, whatever the content
// (and however deep it nests).
std::optional<std::string> shallow_text(const Ast& from, const Node& value, ContentMode mode) {
    Ast ast = Ast::with_root_mode(mode);
    const auto letter = [&ast](ContentMode content_mode) {
        const bool text = content_mode == ContentMode::Text;
        ast::ChildList children;
        children.push_back(ast.new_node(text ? Node(Node::Text{"x"}) : Node(Node::Char{U'x'})));
        return ast.new_node(Node::Group{std::move(children), ast::GroupKind::Implicit{}, content_mode});
    };
    Node copy = value;
    for (auto& slot : *copy.args()) {
        if (!slot) continue;
        const auto content_mode = slot->value.content_mode();
        if (!content_mode) continue;
        const ast::NodeId group = letter(*content_mode);
        std::visit(
            [&](auto& v) {
                if constexpr (requires { v.node; }) v.node = group;
            },
            slot->value.value);
    }
    if (auto* env = copy.get_if<Node::Environment>()) {
        env->body = letter(list_mode(from.node(env->body)).value_or(ContentMode::Math));
    } else if (auto* infix = copy.get_if<Node::Infix>()) {
        infix->left = letter(ContentMode::Math);
        infix->right = letter(ContentMode::Math);
    }
    ast.insert_child(ast.root(), 0, ast.new_node(std::move(copy)));
    auto text = serialize::serialize_with(ast, SerializeOptions{});
    if (!text) return std::nullopt;
    return std::move(*text);
}

// `what` cannot be written here: its text reads with an error.
EditError unread(std::string_view what, std::string_view text, const std::string& complaint) {
    constexpr std::size_t kShown = 60;
    const std::string shown = text.size() > kShown ? std::string(text.substr(0, kShown)) + "..." : std::string(text);
    return EditError::unreadable(std::string(what) + " cannot be written here: " + shown + " reads back " +
                                 complaint);
}

}  // namespace

std::optional<EditError> Document::read_back(ast::NodeId node, const Reader* reader, bool renamed) {
    if (reader == nullptr) return std::nullopt;
    const Node& value = ast_.node(node);
    if (!is_command_like(value.kind())) return std::nullopt;
    const auto mode = standing_of(ast_, node).mode;
    if (!mode) return std::nullopt;
    const auto text = shallow_text(ast_, value, *mode);
    if (!text) return std::nullopt;
    const auto* env = value.get_if<Node::Environment>();
    const std::string what = quoted(env != nullptr ? "environment" : "command", *value.name());
    Reader::Reading reading;
    if (auto complaint = reader->complaint(*text, *mode, value, &reading)) return unread(what, *text, *complaint);
    if (env != nullptr) {
        const auto body_mode = list_mode(ast_.node(env->body));
        if (reading.body_mode && body_mode != reading.body_mode) {
            return EditError::unreadable(what + " cannot be written here: its body is read as " +
                                         std::string(mode_word(*reading.body_mode)) + ", and this one holds " +
                                         std::string(mode_word(body_mode.value_or(ContentMode::Math))));
        }
    }
    if (!reading.known) {
        if (auto e = check_unknown(value, reading.body_mode.value_or(*mode), what)) return e;
        // Renamed, it drops the slots it writes as nothing, as it reads back;
        // a made one keeps the slots it was made with.
        const ast::ArgumentSlots& own = *value.args();
        if (!renamed || std::none_of(own.begin(), own.end(), [](const auto& slot) { return is_unwritten(slot); })) {
            return std::nullopt;
        }
        Node kept = value;
        ast::ArgumentSlots& args = *kept.args();
        args.clear();
        for (const auto& slot : own) {
            if (!is_unwritten(slot)) args.push_back(slot);
        }
        ast_.replace_node(node, std::move(kept));
        return std::nullopt;
    }
    // The node takes the slots its text reads back with: the empty ones the
    // reader gives it (`\\` its star and optional argument), each kind as
    // the reader names it, an operator name's content as such.
    const ast::ArgumentSlots& own = *value.args();
    ast::ArgumentSlots args;
    for (const Reader::Slot& slot : reading.slots) {
        if (slot.from == Reader::kStarOff) {
            args.push_back(ast::Argument{ast::ArgumentKind::Star{}, false, ast::ArgumentValue::Boolean{false}});
            continue;
        }
        if (slot.from < 0 || !own[static_cast<std::size_t>(slot.from)]) {
            args.push_back(std::nullopt);
            continue;
        }
        ast::Argument arg = *own[static_cast<std::size_t>(slot.from)];
        arg.kind = slot.kind;
        const auto content_mode = arg.value.content_mode();
        if (content_mode == ContentMode::Math) {
            const ast::NodeId content = *arg.value.content();
            if (slot.operator_name) {
                arg.value = ast::ArgumentValue::OperatorNameContent{content};
            } else {
                arg.value = ast::ArgumentValue::MathContent{content};
            }
        }
        args.push_back(std::move(arg));
    }
    if (args == own) return std::nullopt;
    Node adjusted = value;
    *adjusted.args() = std::move(args);
    ast_.replace_node(node, std::move(adjusted));
    // The slots it takes may leave an argument open to the item after it.
    const ParentLink* link = ast_.parent_link(node);
    if (link != nullptr && link->slot.is_group_child()) return check_seam(ast_, link->parent, link->slot.index() + 1);
    return std::nullopt;
}

std::optional<EditError> Document::check_tree() const {
    // Each node with whether its text is written bare in brackets, and
    // whether its items are, known from its parent's.
    struct Item {
        ast::NodeId id;
        bool bare = false;
        bool items = false;
    };
    std::vector<Item> stack{{ast_.root()}};
    std::optional<EditError> failure;
    while (!stack.empty() && !failure) {
        const Item item = stack.back();
        stack.pop_back();
        const Node& node = ast_.node(item.id);
        for_each_edge(node, [&](ast::NodeId child, Slot slot) {
            if (failure) return;
            const ParentLink link{item.id, slot};
            const auto reach = serialize::bracket_reach(ast_, item.id, slot);
            const bool optional = is_optional_argument(ast_, link);
            bool bare = optional || (slot.is_group_child() ? item.items : reach != serialize::BracketReach::Hidden && item.bare);
            const Node& value = ast_.node(child);
            const bool items = !is_brace_list(value) ? bare : optional || (reach == serialize::BracketReach::Content && item.bare);
            stack.push_back({child, bare, items});
            const Standing s = standing_of(ast_, child, &bare);
            failure = check_in_place(s, value);
            if (!failure && slot.is_group_child()) {
                failure = check_pair(ast_, s.mode, s.before, value, s.last, false, s.opening);
            }
            if (!failure && bare && serialize::own_text_closes_bracket(ast_, child)) {
                failure = ends_brackets(named(value));
            }
        });
    }
    return failure;
}

std::optional<EditError> Document::check_contents(ast::NodeId node, const Reader* reader) {
    std::optional<EditError> failure;
    std::size_t items = 0;
    for_each_edge(ast_.node(node), [&](ast::NodeId child, Slot slot) {
        if (failure) return;
        if (slot.is_group_child()) {
            ++items;
            failure = check_seam(ast_, node, slot.index());
        }
        if (!failure) failure = check_in_place(standing_of(ast_, child), ast_.node(child));
        if (!failure) failure = read_back(child, reader);
    });
    if (!failure && items > 0) failure = check_seam(ast_, node, items);
    return failure;
}

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

Expected<NodeId, EditError> Document::create_node(ast::Node value, const Reader* reader) {
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
    Ast::Step step(ast_);
    const ast::NodeId id = ast_.new_node(std::move(value));
    if (auto e = check_contents(id, reader)) return *e;
    step.commit();
    return handle(id);
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

Expected<NodeId, EditError> Document::create_command(std::string name, std::vector<ArgValue> values,
                                                     const Reader* reader) {
    if (auto e = check_writable()) return *e;
    if (auto e = check_values(values)) return *e;
    ast::ArgumentSlots slots = build_arg_slots(name, values);
    return create_node(Node::Command{std::move(name), std::move(slots), false}, reader);
}

Expected<NodeId, EditError> Document::create_declarative(std::string name, std::vector<ArgValue> values,
                                                         const Reader* reader) {
    if (auto e = check_writable()) return *e;
    if (auto e = check_values(values)) return *e;
    ast::ArgumentSlots slots = build_arg_slots(name, values);
    return create_node(Node::Declarative{std::move(name), std::move(slots)}, reader);
}

Expected<NodeId, EditError> Document::create_environment(std::string name, std::vector<ArgValue> values,
                                                         NodeId body, const Reader* reader) {
    if (auto e = check_writable()) return *e;
    auto b = check_node_owner(body);
    if (!b) return b.error();
    if (auto e = check_detached(*b)) return *e;
    if (ast_.kind(*b) != NodeKind::Group) return EditError::slot_shape_mismatch(shape::kGroup);
    if (auto e = check_values(values)) return *e;
    ast::ArgumentSlots slots = build_arg_slots({}, values);
    return create_node(Node::Environment{std::move(name), std::move(slots), false, *b}, reader);
}

// ---- Attaching ---------------------------------------------------------------

Expected<void, EditError> Document::append_child(NodeId parent, NodeId child, const Reader* reader) {
    if (auto e = check_writable()) return *e;
    auto p = check_node_owner(parent);
    if (!p) return p.error();
    if (!is_container(ast_.node(*p))) return EditError(Kind::NotAContainer);
    return insert_child_at(parent, ast_.children(*p).size(), child, reader);
}

Expected<void, EditError> Document::insert_child_at(NodeId parent, std::size_t index, NodeId child,
                                                    const Reader* reader) {
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
    if (auto e = check_standing(ast_, standing_in_list(ast_, *p, index, 0), ast_.node(*c))) return *e;
    Ast::Step step(ast_);
    ast_.insert_child(*p, index, *c);
    if (auto e = check_brackets(ast_, *c, true)) return *e;
    if (auto e = read_back(*c, reader)) return *e;
    step.commit();
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

Expected<void, EditError> Document::insert_before(NodeId anchor, NodeId node, const Reader* reader) {
    if (auto e = check_writable()) return *e;
    auto a = check_node_owner(anchor);
    if (!a) return a.error();
    auto place = anchor_place(ast_, *a);
    if (!place) return place.error();
    return insert_child_at(handle(place->parent), place->index, node, reader);
}

Expected<void, EditError> Document::insert_after(NodeId anchor, NodeId node, const Reader* reader) {
    if (auto e = check_writable()) return *e;
    auto a = check_node_owner(anchor);
    if (!a) return a.error();
    auto place = anchor_place(ast_, *a);
    if (!place) return place.error();
    return insert_child_at(handle(place->parent), place->index + 1, node, reader);
}

Expected<void, EditError> Document::replace_with(NodeId old_node, NodeId new_node, const Reader* reader) {
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
    if (auto e = check_standing(ast_, standing_of(ast_, *o), ast_.node(*n))) return *e;
    Ast::Step step(ast_);
    if (link->slot.is_group_child()) {
        ast::NodeId parent = link->parent;
        std::size_t index = link->slot.index();
        ast_.detach(*o);
        ast_.insert_child(parent, index, *n);
    } else {
        ast_.replace_content_child(*o, *n);
    }
    if (auto e = check_brackets(ast_, *n, true)) return *e;
    if (auto e = read_back(*n, reader)) return *e;
    ast_.remove_detached(*o);
    step.commit();
    return {};
}

Expected<NodeId, EditError> Document::wrap(NodeId target, NodeId wrapper, const Reader* reader) {
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
    // A move is checked as an insertion is: the wrapper where the target
    // stood, the target after the wrapper's own items.
    const std::size_t last = ast_.children(*w).size() - 1;
    for (const ast::NodeId placed : {*w, *t}) {
        if (auto e = check_in_place(standing_of(ast_, placed), ast_.node(placed))) return *e;
    }
    if (auto e = check_seam(ast_, place->parent, place->index)) return *e;
    if (auto e = check_seam(ast_, place->parent, place->index + 1)) return *e;
    if (auto e = check_seam(ast_, *w, last)) return *e;
    if (auto e = check_seam(ast_, *w, last + 1)) return *e;
    if (auto e = check_brackets(ast_, *w, true)) return *e;
    if (auto e = read_back(*t, reader)) return *e;
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
    const auto& value = std::get<Node::Group>(ast_.node(*g).value);
    if (!value.children.empty() && list_mode(ast_.node(place->parent)) != value.mode) {
        return EditError::unreadable("the items of a " + std::string(mode_word(value.mode)) +
                                     " group cannot be written here: in " +
                                     std::string(mode_word(*list_mode(ast_.node(place->parent)))) +
                                     " they would be read otherwise");
    }
    Ast::Step step(ast_);
    std::vector<ast::NodeId> kids = ast_.detach_children_range(*g, 0, ast_.children(*g).size());
    ast_.remove_node(*g);
    std::vector<NodeId> out;
    out.reserve(kids.size());
    for (std::size_t k = 0; k < kids.size(); ++k) {
        ast_.insert_child(place->parent, place->index + k, kids[k]);
        out.push_back(handle(kids[k]));
    }
    // The items stand in the list the group stood in: each where it now
    // stands (bare in brackets, say), the first and last beside the
    // group's old neighbours.
    const bool bracketed = in_brackets(ast_, place->parent, true);
    for (const ast::NodeId kid : kids) {
        if (auto e = check_in_place(standing_of(ast_, kid, &bracketed), ast_.node(kid))) return *e;
        if (bracketed && serialize::closes_bracket_argument(ast_, kid)) {
            return ends_brackets(named(ast_.node(kid)));
        }
    }
    if (auto e = check_seam(ast_, place->parent, place->index)) return *e;
    if (auto e = check_seam(ast_, place->parent, place->index + kids.size())) return *e;
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
    const ParentLink link = *ast_.parent_link(*n);
    Ast::Step step(ast_);
    ast_.remove_node(*n);
    if (auto e = check_seam(ast_, link.parent, link.slot.index())) return *e;
    step.commit();
    return {};
}

Expected<NodeId, EditError> Document::extract(NodeId node) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (auto e = check_group_child(ast_, *n)) return *e;
    const ParentLink link = *ast_.parent_link(*n);
    Ast::Step step(ast_);
    ast_.detach(*n);
    if (auto e = check_seam(ast_, link.parent, link.slot.index())) return *e;
    step.commit();
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
    Node value = Node::Char{ch};
    if (auto e = check_standing(ast_, standing_of(ast_, *n), value)) return *e;
    ast_.replace_node(*n, std::move(value));
    return {};
}

Expected<void, EditError> Document::set_text(NodeId node, std::string text) {
    if (auto e = check_writable()) return *e;
    auto n = check_node_owner(node);
    if (!n) return n.error();
    if (ast_.kind(*n) != NodeKind::Text) return EditError::slot_shape_mismatch(shape::kTextNode);
    if (auto e = unreadable(check_text(text))) return *e;
    Node value = Node::Text{std::move(text)};
    if (auto e = check_standing(ast_, standing_of(ast_, *n), value)) return *e;
    ast_.replace_node(*n, std::move(value));
    return {};
}

Expected<void, EditError> Document::set_command_name(NodeId node, std::string name, const Reader* reader) {
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
    // A dimension is written bare or braced as the new name reads it; one
    // that reads back in either form reads back in the other. An empty one
    // keeps its braces, the only form it has.
    if (!value.is<Node::Environment>()) {
        for (auto& slot : *value.args()) {
            if (!slot) continue;
            const auto* d = std::get_if<ast::ArgumentValue::Dimension>(&slot->value.value);
            const bool bare_or_braced = std::holds_alternative<ast::ArgumentKind::Mandatory>(slot->kind.value) ||
                                        std::holds_alternative<ast::ArgumentKind::Group>(slot->kind.value);
            if (d != nullptr && !d->value.empty() && bare_or_braced) slot->kind = dimension_slot_kind(*value.name());
        }
    }
    if (auto e = check_standing(ast_, standing_of(ast_, *n), value)) return *e;
    // Read back with its new name, the node must take the slots it keeps
    // (and the content in them) as they are: the name and its slots tell,
    // whatever the content holds.
    Ast::Step step(ast_);
    ast_.replace_node(*n, std::move(value));
    if (auto e = check_brackets(ast_, *n, false)) return *e;
    if (auto e = read_back(*n, reader, true)) return *e;
    step.commit();
    return {};
}

Expected<void, EditError> Document::set_arg(NodeId node, std::size_t index, ArgValue value, const Reader* reader) {
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
    const ast::Argument& slot = *(*replacement.args())[index];
    if (const auto scalar = scalar_of(*built)) {
        if (auto e = unreadable(check_scalar(slot.kind, *scalar, false))) return *e;
    }
    (*replacement.args())[index]->value = std::move(*built);
    if (auto e = check_standing(ast_, standing_of(ast_, *n), replacement)) return *e;
    Ast::Step step(ast_);
    ast_.replace_node(*n, std::move(replacement));
    if (const NodeId* content = value.node()) {
        const ast::NodeId placed = content->node;
        if (auto e = check_in_place(standing_of(ast_, placed), ast_.node(placed))) return *e;
        if (auto e = check_brackets(ast_, placed, true)) return *e;
        if (auto e = read_back(placed, reader)) return *e;
    }
    if (auto e = check_brackets(ast_, *n, false)) return *e;
    if (auto e = read_back(*n, reader)) return *e;
    if (old_content && ast_.contains(*old_content) && *old_content != ast_.root() &&
        ast_.is_detached_root(*old_content)) {
        ast_.remove_detached(*old_content);
    }
    step.commit();
    return {};
}

}  // namespace quorvel::syntax::document
