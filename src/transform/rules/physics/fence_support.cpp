#include "transform/rules/physics/fence_support.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "transform/helpers.hpp"
#include "transform/passes/tree_support.hpp"

namespace quorvel::transform::physics_rules {

namespace build = transform::helpers;

namespace {

using syntax::Ast;
using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Delimiter;
using syntax::ast::GroupKind;
using syntax::ast::Node;
using syntax::ast::NodeId;

template <class Kind>
bool has_kind(const Argument& arg) {
    return std::holds_alternative<Kind>(arg.kind.value);
}

const NodeId* math_content(const Argument& arg) {
    const auto* content = std::get_if<ArgumentValue::MathContent>(&arg.value.value);
    return content == nullptr ? nullptr : &content->node;
}

Node::Group delimited(std::vector<NodeId> children, const Delimiter& left, const Delimiter& right) {
    return Node::Group{syntax::ast::ChildList(std::span<const NodeId>(children)),
                       GroupKind::Delimited{left, right}, syntax::ContentMode::Math};
}

// A delimiter written on its own: a control sequence becomes what it reads
// back as, a character a Char. The callers never pass the empty delimiter.
Node delimiter_node(const Delimiter& delimiter) {
    if (const auto* control = delimiter.as_control()) return build::bare_symbol_node(control->name);
    if (const auto* c = delimiter.as_char()) return Node::Char{c->value};
    return Node::Char{U'.'};
}

// `\middle\vert`.
Node middle_vert() {
    syntax::ast::ArgumentSlots args;
    args.emplace_back(Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::Delimiter{Delimiter::control("vert")}});
    return build::prefix_command_node("middle", std::move(args));
}

// Appends the content of `parts[i]` to `out`: a copy where a later part
// writes the same content again, else the content itself.
void append_part(Ast& ast, std::vector<NodeId>& out, std::span<const NodeId> parts, std::size_t i) {
    if (std::find(parts.begin() + static_cast<std::ptrdiff_t>(i) + 1, parts.end(), parts[i]) != parts.end()) {
        passes::support::append_cloned_content_after(ast, out, parts[i]);
    } else {
        passes::support::append_taken_content_after(ast, out, parts[i]);
    }
}

// Replaces `command` by `first` followed by `rest`, scripts on the last node.
void replace_with_sequence(Ast& ast, NodeId command, NodeId first, std::vector<NodeId> rest) {
    if (!rest.empty()) rest[0] = passes::support::kept_apart(ast, first, rest[0]);
    ast.replace_with_math_sequence_preserving_scripts(command, {}, first, std::move(rest));
}

const Delimiter& langle() {
    static const Delimiter d = Delimiter::control("langle");
    return d;
}
const Delimiter& rangle() {
    static const Delimiter d = Delimiter::control("rangle");
    return d;
}
const Delimiter& vert() {
    static const Delimiter d = Delimiter::control("vert");
    return d;
}

}  // namespace

namespace fence_checks {

knowledge::Expected<bool, RuleError> boolean_flag(const Slot& slot, const CommandDisplay& display) {
    const auto* flag = slot ? std::get_if<ArgumentValue::Boolean>(&slot->value.value) : nullptr;
    if (flag == nullptr) return labelled_error(display, {}, "star slot should carry a boolean value");
    return flag->value;
}

knowledge::Expected<NodeId, RuleError> braced_math_arg(const Slot& slot, const CommandDisplay& display,
                                                      std::string_view label) {
    if (!slot || !has_kind<ArgumentKind::Group>(*slot))
        return labelled_error(display, label, "should be a required braced math group");
    const NodeId* content = math_content(*slot);
    if (content == nullptr) return labelled_error(display, label, "should be math content");
    return *content;
}

}  // namespace fence_checks

namespace bra_ket::helpers {

knowledge::Expected<NodeId, RuleError> required_math_arg(const Slot& slot, const CommandDisplay& display,
                                                        std::string_view label) {
    const NodeId* content = nullptr;
    if (slot && (has_kind<ArgumentKind::Mandatory>(*slot) || has_kind<ArgumentKind::Group>(*slot)))
        content = math_content(*slot);
    if (content == nullptr) return labelled_error(display, label, "should be math content");
    return *content;
}

std::vector<NodeId> fixed_parts(Ast& ast, NodeId part, Node value) {
    std::vector<NodeId> out;
    passes::support::append_taken_content_after(ast, out, part);
    out.push_back(ast.new_node(std::move(value)));
    return out;
}

void replace_with_fixed_sequence(Ast& ast, NodeId command, Node before, std::vector<NodeId> parts) {
    replace_with_sequence(ast, command, ast.new_node(std::move(before)), std::move(parts));
}

void replace_with_delimited_group(Ast& ast, NodeId command, const Delimiter& left, std::span<const NodeId> parts,
                                  const Delimiter& right) {
    std::vector<NodeId> children;
    for (std::size_t i = 0; i < parts.size(); ++i) append_part(ast, children, parts, i);
    ast.replace_node_drop_detached_children(command, delimited(std::move(children), left, right));
}

void replace_with_bra(Ast& ast, NodeId command, Style style, NodeId part) {
    if (style == Style::Star) {
        replace_with_fixed_sequence(ast, command, build::bare_command_node("langle"),
                                    fixed_parts(ast, part, build::bare_command_node("vert")));
        return;
    }
    replace_with_delimited_group(ast, command, langle(), std::span(&part, 1), vert());
}

void replace_with_ket(Ast& ast, NodeId command, Style style, NodeId part) {
    if (style == Style::Star) {
        replace_with_fixed_sequence(ast, command, build::bare_command_node("vert"),
                                    fixed_parts(ast, part, build::bare_command_node("rangle")));
        return;
    }
    replace_with_delimited_group(ast, command, vert(), std::span(&part, 1), rangle());
}

void replace_with_expectation_body(Ast& ast, NodeId command, Style style, NodeId op) {
    if (style == Style::Star) {
        replace_with_fixed_sequence(ast, command, build::bare_command_node("langle"),
                                    fixed_parts(ast, op, build::bare_command_node("rangle")));
        return;
    }
    replace_with_delimited_group(ast, command, langle(), std::span(&op, 1), rangle());
}

void replace_with_expectation_state(Ast& ast, NodeId command, Style style, NodeId op, NodeId state) {
    replace_with_matrix_element(ast, command, style, state, op, state);
}

void replace_with_matrix_element(Ast& ast, NodeId command, Style style, NodeId left, NodeId op, NodeId right) {
    if (style == Style::Unstarred) {
        replace_with_split_auto_angle_bar_parts(ast, command, left, op, right);
        return;
    }
    const NodeId parts[] = {left, op, right};
    replace_with_angle_bar_parts(ast, command, style, parts);
}

void replace_with_angle_bar_parts(Ast& ast, NodeId command, Style style, std::span<const NodeId> parts) {
    std::vector<NodeId> nodes;
    if (style == Style::Star) {
        for (std::size_t i = 0; i < parts.size(); ++i) {
            if (i > 0) nodes.push_back(ast.new_node(build::bare_command_node("vert")));
            append_part(ast, nodes, parts, i);
        }
        nodes.push_back(ast.new_node(build::bare_command_node("rangle")));
        replace_with_fixed_sequence(ast, command, build::bare_command_node("langle"), std::move(nodes));
        return;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) nodes.push_back(ast.new_node(middle_vert()));
        append_part(ast, nodes, parts, i);
    }
    ast.replace_node_drop_detached_children(command, delimited(std::move(nodes), langle(), rangle()));
}

void replace_with_split_auto_angle_bar_parts(Ast& ast, NodeId command, NodeId a, NodeId b, NodeId c) {
    const NodeId parts[] = {a, b, c};
    std::vector<NodeId> first;
    append_part(ast, first, parts, 0);
    std::vector<NodeId> middle;
    append_part(ast, middle, parts, 1);
    std::vector<NodeId> last;
    append_part(ast, last, parts, 2);
    const NodeId opening = ast.new_node(delimited(std::move(first), langle(), vert()));
    if (!middle.empty()) middle[0] = passes::support::kept_apart(ast, opening, middle[0]);
    middle.push_back(ast.new_node(delimited(std::move(last), vert(), rangle())));
    ast.replace_with_math_sequence(command, {}, opening, std::move(middle));
}

}  // namespace bra_ket::helpers

namespace commutator::helpers {

void replace_with_binary_bracket_fence(Ast& ast, NodeId command, bool starred, NodeId left, NodeId right,
                                       const Delimiter& open, const Delimiter& close) {
    std::vector<NodeId> nodes;
    passes::support::append_taken_content_after(ast, nodes, left);
    nodes.push_back(ast.new_node(Node::Char{U','}));
    passes::support::append_taken_content_after(ast, nodes, right);
    if (!starred) {
        ast.replace_node_drop_detached_children(command, delimited(std::move(nodes), open, close));
        return;
    }
    nodes.push_back(ast.new_node(delimiter_node(close)));
    replace_with_sequence(ast, command, ast.new_node(delimiter_node(open)), std::move(nodes));
}

}  // namespace commutator::helpers

namespace delimiter_shorthand::helpers {

void replace_with_delimiter_shorthand(Ast& ast, NodeId command, bool starred, NodeId content,
                                      const Delimiter& left, const Delimiter& right) {
    std::vector<NodeId> nodes;
    passes::support::append_taken_content_after(ast, nodes, content);
    if (!starred) {
        ast.replace_node_drop_detached_children(command, delimited(std::move(nodes), left, right));
        return;
    }
    nodes.push_back(ast.new_node(delimiter_node(right)));
    replace_with_sequence(ast, command, ast.new_node(delimiter_node(left)), std::move(nodes));
}

}  // namespace delimiter_shorthand::helpers

namespace eval_fence::helpers {

void replace_with_eval_fence(Ast& ast, NodeId command, bool starred, NodeId body, const Delimiter& left,
                             const Delimiter& right) {
    std::vector<NodeId> nodes;
    if (starred) {
        syntax::ast::ArgumentSlots args;
        args.emplace_back(std::nullopt);
        args.emplace_back(build::math_content_arg(ast.take(body)));
        nodes.push_back(ast.new_node(build::prefix_command_node("smash", std::move(args))));
    } else {
        passes::support::append_taken_content_after(ast, nodes, body);
    }
    syntax::ast::ArgumentSlots phantom;
    phantom.emplace_back(Argument{ArgumentKind::Mandatory{}, false,
                                  ArgumentValue::MathContent{ast.new_node(build::bare_command_node("int"))}});
    nodes.push_back(ast.new_node(build::prefix_command_node("vphantom", std::move(phantom))));
    ast.replace_node_drop_detached_children(command, delimited(std::move(nodes), left, right));
}

}  // namespace eval_fence::helpers

}  // namespace quorvel::transform::physics_rules
