#include "transform/rules/physics/matrix_builder_expand.hpp"

#include <cstddef>
#include <string_view>
#include <utility>

#include "syntax/serializer.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/physics/expansion_support.hpp"

namespace quorvel::transform::physics_rules {

namespace {

using syntax::ast::Argument;
using syntax::ast::ArgumentKind;
using syntax::ast::ArgumentSlots;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

// Skipped for any node but a Command `name`; otherwise its one mandatory
// math "body", or the error of a malformed slot list.
knowledge::Expected<NodeId, RuleResult> body_of(const RuleContext& ctx, NodeId node, std::string_view name) {
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleResult(RuleOutcome::Skipped);
    const CommandDisplay display = CommandDisplay::command(name);
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 1, display))
        return RuleResult(std::move(*error));
    auto body = RuleScopedContext::mandatory_math_content(command->args[0], display, "body");
    if (!body) return RuleResult(std::move(body).error());
    return *body;
}

// Whether `text`, written between `open` and `close`, reads back as the
// whole argument. The reader pairs the two delimiters and sees nothing
// else, braces included: no brace group can hide an unpaired one.
bool reads_back_between(std::string_view text, char open, char close) {
    std::size_t depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            ++i;  // a control symbol, or the first letter of a control word
        } else if (c == '%') {
            return false;  // a comment would hide the rest of its line
        } else if (c == open) {
            ++depth;
        } else if (c == close) {
            if (depth == 0) return false;
            --depth;
        }
    }
    return depth == 0;
}

// A body with a delimiter of its own that has no partner, `\pmqty{(}`, has
// no `\mqty(...)` form: the shorthand stays.
RuleResult to_matrix_quantity(RuleContext& ctx, NodeId node, std::string_view name, char open, char close) {
    auto body = body_of(ctx, node, name);
    if (!body) return std::move(body).error();
    const auto text = syntax::serialize::serialize_node_with(ctx.ast, *body, syntax::ContentMode::Math, {});
    if (!text || !reads_back_between(*text, open, close)) return RuleOutcome::Skipped;
    const NodeId copy = ctx.ast.clone_subtree(*body);
    ctx.ast.replace_node_drop_detached_children(
        node, matrix_builder_expand::helpers::matrix_quantity_command(copy, open, close));
    return RuleOutcome::Applied;
}

}  // namespace

RuleResult BmqtyToMqtyRule::apply(RuleContext& ctx, NodeId node) const {
    return to_matrix_quantity(ctx, node, "bmqty", '[', ']');
}

RuleResult PmqtyToMqtyRule::apply(RuleContext& ctx, NodeId node) const {
    return to_matrix_quantity(ctx, node, "pmqty", '(', ')');
}

// A plain rename once the body is checked: the same slots, and so the same
// body node, hang under `\vmqty`.
RuleResult MdetToVmqtyRule::apply(RuleContext& ctx, NodeId node) const {
    auto body = body_of(ctx, node, "mdet");
    if (!body) return std::move(body).error();
    ArgumentSlots args(ctx.ast.arg_slots(node).begin(), ctx.ast.arg_slots(node).end());
    ctx.ast.replace_node(node, Node::Command{"vmqty", std::move(args), true});
    return RuleOutcome::Applied;
}

// `\zmat{m}{n}` is `\xmat{0}{m}{n}`; the two slots move over as they are,
// whatever they hold.
RuleResult ZmatToXmatRule::apply(RuleContext& ctx, NodeId node) const {
    const auto command = ctx.match_command(node, "zmat");
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_arg_len(command->args.size(), 2, CommandDisplay::command("zmat")))
        return std::move(*error);
    ArgumentSlots args;
    args.reserve(4);
    args.push_back(Argument{ArgumentKind::Star{}, false, ArgumentValue::Boolean{false}});
    args.emplace_back(std::nullopt);  // the zero, made once the old slots are copied
    args.push_back(command->args[0]);
    args.push_back(command->args[1]);
    const NodeId zero = ctx.ast.new_node(Node::Char{U'0'});
    args[1] = Argument{ArgumentKind::Mandatory{}, false, ArgumentValue::MathContent{zero}};
    ctx.ast.replace_node(node, Node::Command{"xmat", std::move(args), true});
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::physics_rules
