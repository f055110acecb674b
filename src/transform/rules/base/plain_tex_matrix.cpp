#include "transform/rules/base/plain_tex_matrix.hpp"

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "transform/helpers.hpp"
#include "transform/passes/exposure.hpp"
#include "util/utf8.hpp"

namespace quorvel::transform::base_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;
using plain_tex_matrix::helpers::body_items;
using plain_tex_matrix::helpers::is_row_break;

bool is_char(const syntax::Ast& ast, NodeId id, char32_t c) {
    const auto* value = ast.node(id).get_if<Node::Char>();
    return value != nullptr && value->value == c;
}

// The command the rule was offered and its body, or the outcome that ends
// the rule: Skipped for another node, or the slot errors.
struct Matched {
    std::optional<NodeId> body;
    RuleResult outcome = RuleOutcome::Skipped;
};

Matched match_body(const RuleContext& ctx, NodeId node, std::string_view name) {
    const auto command = ctx.match_command(node, name);
    if (!command) return {};
    const CommandDisplay display = CommandDisplay::command(name);
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 1, display))
        return {std::nullopt, std::move(*error)};
    auto body = plain_tex_matrix::helpers::mandatory_math_body(command->args[0], display);
    if (!body) return {std::nullopt, std::move(body).error()};
    return {body.value()};
}

// One row of `\eqalignno`: the items it keeps, [begin, amp), and the text
// of the tag that followed the `&`.
struct TaggedRow {
    std::size_t begin;
    std::size_t amp;
    std::string tag;
};

// Checks the row made of items [begin, end) and reads its tag.
std::optional<RuleError> read_tagged_row(const syntax::Ast& ast, std::span<const NodeId> items, std::size_t begin,
                                         std::size_t end, std::vector<TaggedRow>& rows) {
    if (begin == end) return RuleError::message("\\eqalignno row should not be empty");
    const std::size_t last = end - 1;
    if (!is_char(ast, items[last], U')'))
        return RuleError::message("\\eqalignno row should end with a parenthesized tag");
    // The rightmost `&(` whose `(` comes before the closing `)`.
    std::optional<std::size_t> amp;
    for (std::size_t k = last; k >= begin + 2; --k) {
        if (is_char(ast, items[k - 2], U'&') && is_char(ast, items[k - 1], U'(')) {
            amp = k - 2;
            break;
        }
    }
    if (!amp) return RuleError::message("\\eqalignno row should contain a final &(...) tag");
    std::string tag;
    for (std::size_t k = *amp + 2; k < last; ++k) {
        const Node& item = ast.node(items[k]);
        if (const auto* text = item.get_if<Node::Text>()) {
            tag += text->value;
        } else if (const auto* c = item.get_if<Node::Char>()) {
            util::utf8::append(tag, c->value);
        } else {
            return RuleError::message("\\eqalignno tags should contain text-like content");
        }
    }
    rows.push_back({begin, *amp, std::move(tag)});
    return std::nullopt;
}

}  // namespace

namespace plain_tex_matrix::helpers {

knowledge::Expected<NodeId, RuleError> mandatory_math_body(const RuleScopedContext::Slot& slot,
                                                           const CommandDisplay& display) {
    return RuleScopedContext::mandatory_math_content(slot, display, "body");
}

std::span<const NodeId> body_items(const syntax::Ast& ast, const NodeId& body) {
    if (ast.node(body).is<Node::Group>()) return ast.children(body);
    return {&body, 1};
}

std::vector<NodeId> take_body_items(syntax::Ast& ast, NodeId body) {
    if (!ast.node(body).is<Node::Group>()) return {ast.take(body)};
    const std::span<const NodeId> items = ast.children(body);
    std::vector<NodeId> taken(items.begin(), items.end());
    ast.detach_all_children(body);
    return taken;
}

bool is_row_break(const Node& node) {
    const auto* command = node.get_if<Node::Command>();
    return command != nullptr && command->name == "cr" && command->args.empty();
}

void replace_with_environment(syntax::Ast& ast, NodeId node, std::string_view name, syntax::ast::ArgumentSlots args,
                              std::span<const NodeId> body) {
    const NodeId group = ast.implicit_math_group(body);
    ast.replace_node_drop_detached_children(node, Node::Environment{std::string(name), std::move(args), true, group});
}

}  // namespace plain_tex_matrix::helpers

RuleResult CrBodyToEnvironmentRule::apply(RuleContext& ctx, NodeId node) const {
    const Matched matched = match_body(ctx, node, meta().triggers[0].name);
    if (!matched.body) return matched.outcome;
    const NodeId body = *matched.body;

    syntax::Ast& ast = ctx.ast;
    std::vector<NodeId> items = plain_tex_matrix::helpers::take_body_items(ast, body);
    for (NodeId& item : items) {
        if (!is_row_break(ast.node(item))) continue;
        const NodeId row_break = item;
        item = ast.new_node(helpers::linebreak_command_node());
        ast.remove_detached(row_break);
    }
    syntax::ast::ArgumentSlots args;
    if (optional_slot_) args.emplace_back(std::nullopt);
    plain_tex_matrix::helpers::replace_with_environment(ast, node, meta().emits[0].name, std::move(args), items);
    // A body that starts with what the environment's open slot would take,
    // `\eqalign{[a]...}`, keeps its first item in braces.
    if (!items.empty() && passes::support::takes_token(ast, ctx.math, ctx.text, node,
                                                       passes::support::lead_token(ast, items[0]))) {
        const NodeId body_group = std::get<Node::Environment>(ast.node(node).value).body;
        ast.replace_children(body_group, std::span(items).subspan(1));  // the first is a detached root again
        items[0] = ast.new_node(Node::Group{{items[0]}, syntax::ast::GroupKind::Explicit{}, syntax::ContentMode::Math});
        ast.replace_children(body_group, items);
    }
    return RuleOutcome::Applied;
}

RuleResult EqalignnoToAlignEnvRule::apply(RuleContext& ctx, NodeId node) const {
    const Matched matched = match_body(ctx, node, "eqalignno");
    if (!matched.body) return matched.outcome;
    const NodeId body = *matched.body;
    syntax::Ast& ast = ctx.ast;

    // Every row is checked before anything moves.
    std::vector<TaggedRow> rows;
    {
        const std::span<const NodeId> items = body_items(ast, body);
        std::size_t begin = 0;
        for (std::size_t i = 0; i <= items.size(); ++i) {
            if (i < items.size() && !is_row_break(ast.node(items[i]))) continue;
            if (auto error = read_tagged_row(ast, items, begin, i, rows)) return std::move(*error);
            begin = i + 1;
        }
    }

    // The items of each row before its tag move; the tags and row breaks go.
    const std::vector<NodeId> items = plain_tex_matrix::helpers::take_body_items(ast, body);
    std::size_t kept_to = 0;
    auto drop_to = [&](std::size_t end) {
        for (; kept_to < end; ++kept_to) ast.remove_detached(items[kept_to]);
    };
    std::vector<NodeId> out;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        TaggedRow& row = rows[r];
        drop_to(row.begin);
        for (; kept_to < row.amp; ++kept_to) out.push_back(items[kept_to]);
        const NodeId tag_text = ast.new_node(Node::Text{std::move(row.tag)});
        syntax::ast::ArgumentSlots tag_args;
        tag_args.reserve(2);
        tag_args.emplace_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{false}});
        tag_args.emplace_back(Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::TextContent{tag_text}});
        out.push_back(ast.new_node(helpers::prefix_command_node("tag", std::move(tag_args))));
        if (r + 1 < rows.size()) out.push_back(ast.new_node(helpers::linebreak_command_node()));
    }
    drop_to(items.size());
    plain_tex_matrix::helpers::replace_with_environment(ast, node, "align", {}, out);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
