#include "transform/rules/physics/matrix_builder_expand.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

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

// Whether the text of a node, written between `open` and `close`, reads
// back as the whole argument. The reader pairs the two delimiters and sees
// nothing else, braces included: no brace group can hide an unpaired one. A
// backslash takes the character after it (a control symbol, or the first
// letter of a control word), and a comment would hide the rest of its line.
//
// Every `\pmqty` and `\bmqty` of a nest asks about its own body, whose text
// holds the bodies below it: one text is written for the outermost body, and
// the answers for every body in it are read off in one sweep, keeping for
// each body the depths at its start and the least depth inside it.
void find_pairs(RuleContext& ctx, NodeId body) {
    const auto is_body = [&ctx](NodeId id) {
        const syntax::ParentLink* link = ctx.ast.parent_link(id);
        if (link == nullptr) return false;
        const Node& parent = ctx.ast.node(link->parent);
        if (!parent.is<Node::Command>()) return false;
        const std::string_view name = *parent.name();
        return name == "pmqty" || name == "bmqty";
    };
    std::vector<syntax::serialize::NodeRange> ranges;
    const auto text =
        syntax::serialize::serialize_node_ranges(ctx.ast, body, syntax::ContentMode::Math, {}, is_body, ranges);
    if (!text) return;  // an unwritten body is declined
    struct Open {
        std::size_t range;
        std::int64_t base[2];
        std::int64_t least[2];
        std::size_t comments;
    };
    std::vector<Open> open;
    std::int64_t depth[2] = {0, 0};  // of `(` `)` and of `[` `]`
    std::size_t comments = 0;
    std::size_t next = 0;
    bool escaped = false;
    const auto close = [&] {
        const Open& o = open.back();
        std::uint8_t pairs = 0;
        for (int k = 0; k < 2; ++k)
            if (o.comments == comments && depth[k] == o.base[k] && o.least[k] >= o.base[k]) pairs |= 1u << k;
        ctx.matrix_bodies.insert(ranges[o.range].node, {ctx.pass, ctx.edits - ctx.matrix_builds, pairs});
        const Open done = o;
        open.pop_back();
        if (!open.empty())
            for (int k = 0; k < 2; ++k) open.back().least[k] = std::min(open.back().least[k], done.least[k]);
    };
    const std::string_view written = *text;
    for (std::size_t i = 0;; ++i) {
        while (!open.empty() && ranges[open.back().range].end == i) close();
        while (next < ranges.size() && ranges[next].start == i) {
            open.push_back({next, {depth[0], depth[1]}, {depth[0], depth[1]}, comments});
            if (ranges[next].end == i) close();
            ++next;
        }
        if (i == written.size()) break;
        if (escaped) {
            escaped = false;
            continue;
        }
        const char c = written[i];
        if (c == '\\') escaped = true;
        else if (c == '%') ++comments;
        else if (c == '(') ++depth[0];
        else if (c == ')') --depth[0];
        else if (c == '[') ++depth[1];
        else if (c == ']') --depth[1];
        else continue;
        if (open.empty()) continue;
        for (int k = 0; k < 2; ++k) open.back().least[k] = std::min(open.back().least[k], depth[k]);
    }
}

// Whether the body's text reads back between the delimiters of `pair` (0:
// parentheses, 1: brackets); found once a pass for a whole nest.
bool reads_back_between(RuleContext& ctx, NodeId body, int pair) {
    const auto found = [&]() -> const RuleContext::MatrixBody* {
        const RuleContext::MatrixBody* entry = ctx.matrix_bodies.get(body);
        return entry != nullptr && entry->pass == ctx.pass && entry->edits == ctx.edits - ctx.matrix_builds ? entry
                                                                                                              : nullptr;
    };
    if (found() == nullptr) find_pairs(ctx, body);
    const RuleContext::MatrixBody* entry = found();
    return entry != nullptr && (entry->pairs >> pair & 1u) != 0;
}

// A body with a delimiter of its own that has no partner, `\pmqty{(}`, has
// no `\mqty(...)` form: the shorthand stays. A rule that expands a command
// of the body can write a delimiter twice (`\braket{)}`), so the body is
// read once the rules have settled it. The body moves under `\mqty` as it
// is, so the builders it holds are offered in the same pass.
RuleResult to_matrix_quantity(RuleContext& ctx, NodeId node, std::string_view name, char open, char close) {
    auto body = body_of(ctx, node, name);
    if (!body) return std::move(body).error();
    if (!ctx.settled) {
        ctx.waiting = true;
        return RuleOutcome::Skipped;
    }
    if (!reads_back_between(ctx, *body, open == '(' ? 0 : 1)) return RuleOutcome::Skipped;
    ctx.ast.replace_node(node, matrix_builder_expand::helpers::matrix_quantity_command(*body, open, close));
    ++ctx.matrix_builds;
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
