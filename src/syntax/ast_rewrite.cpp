// Compound rewrites built from the edit primitives.
#include <string>

#include "syntax/ast.hpp"
#include "syntax/ast_internal.hpp"

namespace quorvel::syntax {

using ast::Node;
using ast::NodeId;

namespace {

constexpr std::string_view kInvalidNodeId = "Invalid NodeId";

// The field of a filled content slot that must hold `old_child`.
NodeId* argument_field(ast::ArgumentSlots& args, std::size_t index, NodeId old_child) {
    if (index >= args.size() || !args[index]) internal_error("Argument slot is missing");
    NodeId* field = args[index]->value.content_ptr();
    if (field == nullptr) internal_error("Argument slot is not content");
    if (*field != old_child) {
        equality_failure("Argument child must match old node", ast::debug_string(*field),
                         ast::debug_string(old_child));
    }
    return field;
}

NodeId* operand_field(NodeId& field, NodeId old_child, std::string_view message) {
    if (field != old_child) {
        equality_failure(message, ast::debug_string(field), ast::debug_string(old_child));
    }
    return &field;
}

NodeId* script_field(std::optional<NodeId>& field, NodeId old_child, std::string_view message) {
    if (!field || *field != old_child) {
        equality_failure(message, debug_string(field), debug_string(std::optional(old_child)));
    }
    return &*field;
}

// The largest key among a node value's children.
NodeId max_edge(const Node& value) {
    NodeId top;
    for_each_edge(value, [&](NodeId child, Slot) {
        if (child.index > top.index) top = child;
    });
    return top;
}

std::vector<NodeId> concat(const std::vector<NodeId>& before, NodeId middle,
                           const std::vector<NodeId>& after) {
    std::vector<NodeId> all;
    all.reserve(before.size() + 1 + after.size());
    all.insert(all.end(), before.begin(), before.end());
    all.push_back(middle);
    all.insert(all.end(), after.begin(), after.end());
    return all;
}

}  // namespace

void Ast::replace_content_child(NodeId old_child, NodeId new_child) {
    if (old_child == root_) internal_error("Cannot replace root node");
    const ParentLink* link = link_of(old_child);
    if (link == nullptr) internal_error("Cannot replace node without a parent");
    const NodeId parent = link->parent;
    const Slot slot = link->slot;
    assert_child_is_detached_root(new_child);
    check_no_cycle(new_child, parent);
    if (slot.kind() == Slot::Kind::EnvBody) check_env_body(new_child);
    NodeId* field = content_field(parent, slot, old_child);
    detached_.cover(old_child);
    log_room();

    *field = new_child;
    drop_link(old_child);
    detached_.insert(old_child);
    detached_.remove(new_child);
    set_link(new_child, parent, slot);
    note_attached(parent, new_child);
    note_outside(old_child, parent);
    log({StepRecord::Op::ContentSwap, slot, old_child, new_child, parent});
}

void Ast::hoist_only_child(NodeId group) {
    if (group == root_) internal_error("Cannot replace root node");
    const ParentLink* link = link_of(group);
    if (link == nullptr) internal_error("Cannot replace node without a parent");
    const NodeId parent = link->parent;
    const Slot slot = link->slot;
    auto* value = node_mut(group).get_if<Node::Group>();
    if (value == nullptr || value->children.size() != 1) internal_error("Can only hoist the only child of a group");
    const NodeId child = value->children[0];
    if (slot.kind() == Slot::Kind::EnvBody) check_env_body(child);
    NodeId* field = content_field(parent, slot, group);
    log_room(0, false, true);
    // The child hangs below the group, so below the parent: it cannot be an
    // ancestor of the parent, and it never passes through the detached set.
    // In a step the emptied group waits, linked nowhere, for the commit.
    *field = child;
    value->children.clear();
    drop_link(group);
    set_link(child, parent, slot);
    note_attached(parent, child);
    if (in_step()) {
        log_free({StepRecord::Op::Hoisted, slot, group, child, parent});
        return;
    }
    nodes_.erase(group);
}

NodeId* Ast::content_field(NodeId parent, Slot slot, NodeId old_child) {
    Node* p = nodes_.get(parent);
    if (p == nullptr) internal_error(std::string(kInvalidNodeId));

    NodeId* field = nullptr;
    switch (p->kind()) {
        case NodeKind::Command:
        case NodeKind::Declarative:
            if (!slot.is_argument()) {
                internal_error("Parent does not have replaceable content children");
            }
            field = argument_field(*p->args(), slot.index(), old_child);
            break;
        case NodeKind::Infix: {
            auto& v = std::get<Node::Infix>(p->value);
            switch (slot.kind()) {
                case Slot::Kind::Argument:
                    field = argument_field(v.args, slot.index(), old_child);
                    break;
                case Slot::Kind::InfixLeft:
                    field = operand_field(v.left, old_child, "Infix left operand must match old node");
                    break;
                case Slot::Kind::InfixRight:
                    field = operand_field(v.right, old_child,
                                          "Infix right operand must match old node");
                    break;
                default: internal_error("Expected infix operand slot");
            }
            break;
        }
        case NodeKind::Environment: {
            auto& v = std::get<Node::Environment>(p->value);
            switch (slot.kind()) {
                case Slot::Kind::Argument:
                    field = argument_field(v.args, slot.index(), old_child);
                    break;
                case Slot::Kind::EnvBody:
                    field = operand_field(v.body, old_child, "Environment body must match old node");
                    break;
                default: internal_error("Expected environment body or argument slot");
            }
            break;
        }
        case NodeKind::Scripted: {
            auto& v = std::get<Node::Scripted>(p->value);
            switch (slot.kind()) {
                case Slot::Kind::ScriptBase:
                    field = operand_field(v.base, old_child, "Script base must match old node");
                    break;
                case Slot::Kind::ScriptSub:
                    field = script_field(v.subscript, old_child,
                                         "Script subscript must match old node");
                    break;
                case Slot::Kind::ScriptSup:
                    field = script_field(v.superscript, old_child,
                                         "Script superscript must match old node");
                    break;
                default: internal_error("Expected script slot");
            }
            break;
        }
        default: internal_error("Parent does not have replaceable content children");
    }
    return field;
}

void Ast::replace_node_drop_detached_children(NodeId id, Node value) {
    Step step(*this);
    const Node& current = node(id);
    std::vector<NodeId> old_children;
    for_each_edge(current, [&](NodeId child, Slot) { old_children.push_back(child); });
    replace_node(id, std::move(value));
    for (NodeId child : old_children) {
        if (!has_link(child)) remove_detached(child);
    }
    step.commit();
}

void Ast::consume_into(NodeId id, NodeId middle) {
    if (middle == root_) internal_error("Cannot consume root node as detached replacement");
    if (!nodes_.contains(middle)) internal_error(std::string(kInvalidNodeId));
    if (has_link(middle)) internal_error("Can only consume detached roots");
    if (!detached_.contains(middle)) internal_error("Node is not a detached root");
    if (id == root_) internal_error("Cannot replace root node");
    Node& target = node_mut(id);
    for_each_edge(node(middle), [&](NodeId child, Slot) {
        const ParentLink* child_link = link_of(child);
        if (child_link == nullptr) {
            internal_error("Detached replacement child should have a parent link");
        }
        if (child_link->parent != middle) {
            equality_failure("Detached replacement child must point at the consumed root",
                             ast::debug_string(child_link->parent), ast::debug_string(middle));
        }
    });
    detached_.cover(max_edge(target));
    log_room(0, true);

    // The children of `middle` hang below a detached root, so moving them
    // under `id` closes no cycle; the old children of `id` are let go.
    Node old = std::exchange(target, std::exchange(node_mut(middle), Node{}));
    for_each_edge(old, [this](NodeId child, Slot) {
        drop_link(child);
        detached_.insert(child);
    });
    for_each_edge(node(id), [this, id](NodeId child, Slot slot) {
        set_link(child, id, slot);
        note_attached(id, child);
    });
    forget_outside(middle);
    for_each_edge(old, [this, id](NodeId child, Slot) { note_outside(child, id); });
    if (in_step()) {
        log({StepRecord::Op::ConsumedInto, {}, id, middle, {}, 0, static_cast<std::uint32_t>(log_.step->values.size())});
        log_.step->values.push_back(std::move(old));
    }
}

void Ast::replace_with_math_sequence(NodeId id, std::vector<NodeId> before, NodeId middle,
                                     std::vector<NodeId> after) {
    assert_detached_root_sequence(concat(before, middle, after));

    const ParentLink* link = link_of(id);
    if (link == nullptr || !link->slot.is_group_child()) {
        // A non-list place (or a detached root): the sequence becomes one
        // implicit math group under this id.
        replace_node_drop_detached_children(
            id, Node::Group{ast::ChildList(std::span<const NodeId>(concat(before, middle, after))),
                            ast::GroupKind::Implicit{}, ContentMode::Math});
        return;
    }
    const NodeId parent = link->parent;
    const std::size_t index = link->slot.index();
    // Checked before the first change, while the places known outside the
    // sequence's subtrees still hold; nothing below can put `parent` inside.
    for (NodeId node_id : before) check_no_cycle(node_id, parent);
    for (NodeId node_id : after) check_no_cycle(node_id, parent);

    // Consume `middle`: its value moves under `id`, its id goes stale. The
    // old children of `id`, and the shell of `middle`, are freed.
    Step step(*this);
    std::vector<NodeId> old_children;
    for_each_edge(node(id), [&](NodeId child, Slot) { old_children.push_back(child); });
    consume_into(id, middle);
    for (NodeId child : old_children) remove_detached(child);
    remove_detached(middle);

    std::size_t position = index;
    for (NodeId node_id : before) insert_checked_child(parent, position++, node_id);
    ++position;  // past `id`
    for (NodeId node_id : after) insert_checked_child(parent, position++, node_id);
    step.commit();
}

void Ast::replace_with_math_sequence_preserving_scripts(NodeId id, std::vector<NodeId> before,
                                                        NodeId middle,
                                                        std::vector<NodeId> after) {
    assert_detached_root_sequence(concat(before, middle, after));

    Step step(*this);
    const ParentLink* link = link_of(id);
    if (link != nullptr && link->slot.kind() == Slot::Kind::ScriptBase) {
        const NodeId scripted = link->parent;
        const Node& holder = node(scripted);
        if (const auto* v = holder.get_if<Node::Scripted>()) {
            // Read the scripts before taking them: a placeholder grows the
            // arena. They move to the last node; the holder goes.
            std::optional<NodeId> sub = v->subscript;
            std::optional<NodeId> sup = v->superscript;
            if (sub) sub = take(*sub);
            if (sup) sup = take(*sup);

            NodeId last = middle;
            bool last_is_middle = after.empty();
            if (!last_is_middle) {
                last = after.back();
                after.pop_back();
            }
            NodeId wrapper = new_node(Node::Scripted{last, sub, sup});
            if (last_is_middle) {
                replace_with_math_sequence(scripted, std::move(before), wrapper, std::move(after));
            } else {
                after.push_back(wrapper);
                replace_with_math_sequence(scripted, std::move(before), middle, std::move(after));
            }
            step.commit();
            return;
        }
    }
    replace_with_math_sequence(id, std::move(before), middle, std::move(after));
    step.commit();
}

void Ast::append_cloned_math_content(std::vector<NodeId>& out, NodeId id) {
    const Node& source = node(id);
    if (const auto* group = source.get_if<Node::Group>();
        group != nullptr && group->kind.is_implicit() && group->mode == ContentMode::Math) {
        const ast::ChildList children = group->children;  // cloning grows the arena
        for (NodeId child : children) out.push_back(clone_subtree(child));
        return;
    }
    if (id == root_) internal_error("Cannot clone root node as a detached subtree");
    out.push_back(clone_subtree(id));
}

NodeId Ast::take(NodeId id) {
    if (id == root_) internal_error("Cannot take the root node");
    const ParentLink* link = link_of(id);
    if (link == nullptr) {
        if (!detached_.contains(id)) internal_error(std::string(kInvalidNodeId));
        return id;
    }
    if (link->slot.is_group_child()) return detach(id);
    // A Group keeps an environment body valid; the owner frees it.
    const auto* group = node(id).get_if<Node::Group>();
    const ContentMode mode = group != nullptr ? group->mode : ContentMode::Math;
    Step step(*this);
    replace_content_child(id, new_node(Node::Group{{}, ast::GroupKind::Implicit{}, mode}));
    step.commit();
    return id;
}

void Ast::append_taken_math_content(std::vector<NodeId>& out, NodeId id) {
    const Node& source = node(id);
    if (const auto* group = source.get_if<Node::Group>();
        group != nullptr && group->kind.is_implicit() && group->mode == ContentMode::Math) {
        const std::span<const NodeId> children = this->children(id);
        out.insert(out.end(), children.begin(), children.end());
        detach_all_children(id);
        return;
    }
    out.push_back(take(id));
}

}  // namespace quorvel::syntax
