#include "transform/rules/line_break.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "transform/buildrel.hpp"
#include "transform/passes/atom_class.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::line_break {

namespace {

using passes::support::AtomClass;
using syntax::ContentMode;
using syntax::Slot;
using syntax::ast::Node;
using syntax::ast::NodeId;

bool in_names(std::span<const std::string_view> sorted, std::string_view name) {
    return std::binary_search(sorted.begin(), sorted.end(), name);
}

// Commands without slots that set glue, a kern or a penalty, never an atom.
constexpr std::array<std::string_view, 26> SPACERS{
    " ",        "!",         ",",       ":",        ";",           ">",             "allowbreak",
    "badbreak", "break",     "enskip",  "enspace",  "goodbreak",   "hfil",          "hfill",
    "hfilll",   "hss",       "medspace", "negmedspace", "negthickspace", "negthinspace", "newline",
    "nobreak",  "qquad",     "quad",    "thickspace", "thinspace"};

// Commands that set their argument in a box of its natural width.
constexpr std::array<std::string_view, 23> NATURAL_BOXES{
    "acute", "bar",   "boxed", "breve",    "check",     "ddddot", "dddot",    "ddot",
    "dot",   "grave", "hat",   "hphantom", "mathring",  "overline", "phantom", "smash",
    "sqrt",  "tilde", "underline", "vec",  "vphantom",  "widehat", "widetilde"};

// Commands that set their argument as a brace group would be: as an atom
// of the list around them (a font changes no box).
constexpr std::array<std::string_view, 17> GROUP_LIKE{
    "mathbb",   "mathbf",  "mathbin",   "mathcal", "mathclose", "mathfrak", "mathinner", "mathit", "mathnormal",
    "mathopen", "mathord", "mathpunct", "mathrel", "mathrm",    "mathscr",  "mathsf",    "mathtt"};

static_assert(std::is_sorted(SPACERS.begin(), SPACERS.end()));
static_assert(std::is_sorted(NATURAL_BOXES.begin(), NATURAL_BOXES.end()));
static_assert(std::is_sorted(GROUP_LIKE.begin(), GROUP_LIKE.end()));

// Whether the command at `id` is one whose atom the spacing tables know: a
// symbol, a function name, a fraction, a root, an accent, a text box.
bool known_atom(const syntax::Ast& ast, NodeId id) {
    return passes::support::atom_class(ast, id, [](std::string_view) { return false; }) != AtomClass::Other;
}

bool is_math_list_group(const Node& node) {
    const auto* group = node.get_if<Node::Group>();
    return group != nullptr && group->mode == ContentMode::Math &&
           (group->kind.is_explicit() || group->kind.is_implicit());
}

// Whether TeX sets the items of a group in the list around it: the braced
// part of a superscript merged with primes (`x'^{...}`), whose braces the
// prime takes as those of an argument. Any other group in a list is written
// in braces, a box of its own.
bool spliced(const syntax::Ast& ast, NodeId id) {
    const syntax::ParentLink* link = ast.parent_link(id);
    if (!is_math_list_group(ast.node(id)) || link == nullptr || !link->slot.is_group_child() ||
        link->slot.index() == 0)
        return false;
    const syntax::ParentLink* up = ast.parent_link(link->parent);
    return up != nullptr && up->slot.kind() == Slot::Kind::ScriptSup &&
           ast.node(ast.child_at(link->parent, link->slot.index() - 1)).is<Node::Prime>();
}

// The item TeX sets just before (or after) the item at `id` in its list:
// its sibling, or past the edge of a group TeX sets in the list around, that
// group's.
std::optional<NodeId> tex_sibling(const syntax::Ast& ast, NodeId id, bool after) {
    for (;; ++util::work_count) {
        if (const std::optional<NodeId> sibling = after ? ast.next_sibling(id) : ast.prev_sibling(id)) return sibling;
        const syntax::ParentLink* link = ast.parent_link(id);
        if (link == nullptr || !link->slot.is_group_child() || !spliced(ast, link->parent)) return std::nullopt;
        id = link->parent;
    }
}

// `\buildrel` takes everything up to its `\over` as its first argument, so
// what stands before it in the left operand of that `\over` lies in the list
// that holds the infix: that `\over`, for `item` of `list`.
std::optional<NodeId> over_past(RuleContext& ctx, NodeId list, NodeId item) {
    const syntax::Ast& ast = ctx.ast;
    const syntax::ParentLink* link = ast.parent_link(list);
    if (link == nullptr || link->slot.kind() != Slot::Kind::InfixLeft) return std::nullopt;
    // Every break in the operand asks: it is looked through once.
    const RuleContext::BuildrelSide* side = ctx.buildrel_sides.get(item);
    if (side == nullptr || side->operand != list) {
        const std::optional<NodeId> buildrel = buildrel::closed_by(ast, link->parent);
        const NodeId carrier = buildrel ? buildrel::carrier(ast, *buildrel) : NodeId{};
        bool before = buildrel.has_value();
        for (NodeId child : ast.children(list)) {
            before = before && child != carrier;
            ctx.buildrel_sides.insert(child, {list, before});
        }
        util::work_count += 2 * ast.child_count(list);
        side = ctx.buildrel_sides.get(item);
    }
    return side != nullptr && side->before ? std::optional<NodeId>(link->parent) : std::nullopt;
}

// Whether an item may set as an atom whose nucleus is one character, which
// TeX joins to a character atom beside it in a ligature or a kern (dropping,
// in a text font, the italic correction between them): a character, a
// command not known to set otherwise, or a group of one such atom without
// scripts, which TeX takes for that atom. Scripts keep the atom after
// joined; the atom before joins only without them.
bool may_be_character(const syntax::Ast& ast, NodeId id, bool after) {
    if (const auto* scripted = ast.node(id).get_if<Node::Scripted>()) {
        if (!after) return false;
        id = scripted->base;
    }
    for (;; ++util::work_count) {
        const Node& node = ast.node(id);
        if (is_math_list_group(node)) {
            const auto children = ast.children(id);
            // The items of a group set in the list around stand beside the
            // break themselves.
            if (children.size() != 1) return children.size() > 1 && spliced(ast, id);
            id = children[0];
            continue;
        }
        if (node.ends_cell()) return false;
        if (const auto* command = node.get_if<Node::Command>())
            return command->args.empty() ? !in_names(SPACERS, command->name) : !known_atom(ast, id);
        return node.is<Node::Char>() || node.is<Node::Declarative>() || node.is<Node::Prime>() ||
               node.is<Node::Text>() || node.is<Node::Error>();
    }
}

// Whether an item may end in glue, which the `\unskip` of a `\newline` after
// it takes away: anything but an atom or a command known to make one.
bool may_end_in_glue(const syntax::Ast& ast, NodeId id) {
    const Node& node = ast.node(id);
    if (node.is<Node::Group>()) return spliced(ast, id);
    if (node.is<Node::Command>()) return !known_atom(ast, id);
    return !(node.is<Node::Char>() || node.is<Node::Scripted>() || node.is<Node::Prime>() ||
             node.is<Node::Environment>());
}

// Whether an item surely adds to the list TeX makes of the one it stands
// in: an atom, glue, a kern or a penalty, which a declarative is not and an
// unknown command may expand to none of.
bool surely_an_item(const syntax::Ast& ast, NodeId id) {
    const Node& node = ast.node(id);
    if (node.ends_cell()) return false;
    if (node.is<Node::Group>()) return !spliced(ast, id);
    if (const auto* command = node.get_if<Node::Command>())
        return (command->args.empty() && in_names(SPACERS, command->name)) || known_atom(ast, id);
    return node.is<Node::Char>() || node.is<Node::Scripted>() || node.is<Node::Prime>() ||
           node.is<Node::Environment>() || node.is<Node::ActiveSpace>();
}

// One step of the walk up from `at` (see `may_stretch`): the answer, or
// none when the walk goes on from the new `at`; `around` tells whether
// `at` sets its items in the list around it.
std::optional<bool> step_up(RuleContext& ctx, NodeId& at, bool& around) {
    const syntax::Ast& ast = ctx.ast;
    const syntax::ParentLink* link = ast.parent_link(at);
    if (link == nullptr) return false;
    const NodeId holder = link->parent;
    const Node& node = ast.node(holder);
    switch (link->slot.kind()) {
        case Slot::Kind::GroupChild: {
            // A box beside other items is never taken apart.
            if (!around && ((ast.prev_sibling(at) && surely_an_item(ast, *ast.prev_sibling(at))) ||
                             (ast.next_sibling(at) && surely_an_item(ast, *ast.next_sibling(at)))))
                return false;
            if (!is_math_list_group(node)) return false;  // the formula, inline math, `\left...\right`
            if (const std::optional<NodeId> over = over_past(ctx, holder, at)) {
                at = *over;
                return std::nullopt;
            }
            around = spliced(ast, holder);
            at = holder;
            return std::nullopt;
        }
        case Slot::Kind::Argument: {
            const auto* command = node.get_if<Node::Command>();
            if (command == nullptr) return true;
            if (in_names(NATURAL_BOXES, command->name)) return false;
            if (!in_names(GROUP_LIKE, command->name)) return true;
            around = false;
            at = holder;
            return std::nullopt;
        }
        case Slot::Kind::ScriptBase: return false;
        case Slot::Kind::ScriptSub:
        case Slot::Kind::ScriptSup: {
            // The limits of an operator are set as wide as the widest of it and them.
            const AtomClass base = passes::support::atom_class(
                ast, std::get<Node::Scripted>(node.value).base, [](std::string_view) { return false; });
            return base == AtomClass::Op || base == AtomClass::Other;
        }
        default: return true;  // an operand of an infix, a cell
    }
}

// Whether TeX may set the list that holds `item` wider than its natural
// width, where the `\hfil` of a `\newline` stretches: a fraction's part, an
// operator's limit, a cell, any argument not known to be set at its natural
// width. A group alone in such a list counts as that list: TeX takes the
// group of one atom for the atom, and a part of one box for that box. Past
// the item's own list the walk may climb any number of such groups: what it
// finds there is kept (see `RuleContext::StretchAbove`), so that the breaks
// of one list climb once.
bool may_stretch(RuleContext& ctx, NodeId item) {
    NodeId at = item;
    bool around = true;
    if (const std::optional<bool> answer = step_up(ctx, at, around)) return *answer;
    RuleContext::StretchAbove& kept = ctx.stretch_above;
    if (kept.holds(ctx.edits) && kept.at == at && kept.around == around) return kept.stretches;
    kept = {at, around, false, ctx.edits, true};
    std::optional<bool> answer;
    for (; !answer; ++util::work_count) answer = step_up(ctx, at, around);
    kept.stretches = *answer;
    return *answer;
}

// The item a line break stands as, itself or the scripted node it is the
// base of, and where that item hangs.
struct Item {
    NodeId item;
    const syntax::ParentLink* link;
};
Item item_of(const syntax::Ast& ast, NodeId node) {
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link != nullptr && link->slot.kind() == Slot::Kind::ScriptBase) return {link->parent, ast.parent_link(link->parent)};
    return {node, link};
}

}  // namespace

bool breaks_the_line(RuleContext& ctx, NodeId node) {
    const syntax::Ast& ast = ctx.ast;
    auto [item, link] = item_of(ast, node);
    for (; link != nullptr && link->slot.is_group_child(); ++util::work_count) {
        const Node& list = ast.node(link->parent);
        if (list.is<Node::Root>()) return true;
        if (!list.is<Node::Group>()) return false;
        const std::optional<NodeId> over = over_past(ctx, link->parent, item);
        if (!over) return false;
        item = *over;
        link = ast.parent_link(item);
    }
    return false;
}

void leave_operand(syntax::Ast& ast, NodeId row_end) {
    const syntax::ParentLink* link = ast.parent_link(row_end);
    if (link == nullptr || !link->slot.is_group_child()) return;
    const NodeId operand = link->parent;
    const syntax::ParentLink* up = ast.parent_link(operand);
    if (up == nullptr || up->slot.kind() != Slot::Kind::InfixLeft) return;
    const syntax::ParentLink* outer = ast.parent_link(up->parent);
    if (outer == nullptr || !outer->slot.is_group_child()) return;
    const NodeId list = outer->parent;
    std::size_t at = outer->slot.index();
    for (NodeId item : ast.detach_children_range(operand, 0, link->slot.index() + 1)) ast.insert_child(list, at++, item);
}

bool sets_alike_without(RuleContext& ctx, NodeId node) {
    const syntax::Ast& ast = ctx.ast;
    const auto [item, link] = item_of(ast, node);
    const bool in_list = link != nullptr && link->slot.is_group_child();
    bool alike = true;
    if (std::get<Node::Command>(ast.node(node).value).name == "newline") {
        // `\unskip{}\nobreak\hfil\break`: the penalties do nothing here, and
        // the empty box stays.
        const std::optional<NodeId> before = in_list ? tex_sibling(ast, item, false) : std::nullopt;
        alike = !(before && may_end_in_glue(ast, *before)) && !may_stretch(ctx, item);
    } else if (item == node && in_list) {
        // A scripted `\break` leaves its empty base, which parts what it
        // stands between as the penalty did, and one alone in a slot leaves
        // an empty list either way. In a list, TeX takes a group of one atom
        // for that atom, which scripts and neighbours then see as it is; in
        // a cell, which is no group, that does not matter.
        const std::optional<NodeId> before = tex_sibling(ast, node, false);
        const std::optional<NodeId> after = tex_sibling(ast, node, true);
        const syntax::ParentLink* up = ast.parent_link(link->parent);
        const bool lone = before ? !after && !tex_sibling(ast, *before, false) : after && !tex_sibling(ast, *after, true);
        alike = !(lone && (up == nullptr || up->slot.kind() != Slot::Kind::EnvBody)) &&
                !(before && after && may_be_character(ast, *before, false) && may_be_character(ast, *after, true));
    }
    util::check_work();
    return alike;
}

}  // namespace quorvel::transform::line_break
