#include "transform/rules/base/spacing_drop.hpp"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "transform/passes/exposure.hpp"
#include "transform/passes/tree_support.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/spacing_support.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::base_rules {

namespace spacing_drop::helpers {

namespace {

using syntax::ContentMode;
using syntax::Slot;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

Node empty_math_group() { return Node::Group{{}, syntax::ast::GroupKind::Implicit{}, ContentMode::Math}; }

Node space_text() { return Node::Text{" "}; }

bool is_spacer(const syntax::Ast& ast, NodeId id, std::span<const std::string_view> names) {
    const auto* command = ast.node(id).get_if<Node::Command>();
    return command != nullptr && command->known && command->args.empty() &&
           std::find(names.begin(), names.end(), command->name) != names.end();
}

// A control word leaves the space that ended its name in the source text.
bool is_control_word(const Node& node) {
    const syntax::ast::Name* name = node.name();
    if (name == nullptr || name->empty()) return false;
    const char last = name->back();
    return (last >= 'A' && last <= 'Z') || (last >= 'a' && last <= 'z');
}

// The mode of the content held in argument slot `index` of `parent`.
std::optional<ContentMode> argument_mode(const Node& parent, std::size_t index) {
    const syntax::ast::ArgumentSlots* args = parent.args();
    if (args == nullptr || index >= args->size() || !(*args)[index]) return std::nullopt;
    return (*args)[index]->value.content_mode();
}

bool holds_text_content(const Node& parent, std::size_t index) {
    const syntax::ast::ArgumentSlots* args = parent.args();
    return args != nullptr && index < args->size() && (*args)[index] &&
           std::holds_alternative<ArgumentValue::TextContent>((*args)[index]->value.value);
}

// The outermost node of the chain of text arguments that holds `node`.
NodeId outermost_text_argument_holder(const syntax::Ast& ast, NodeId node) {
    NodeId at = node;
    for (const syntax::ParentLink* link = ast.parent_link(at);
         link != nullptr && link->slot.is_argument() && holds_text_content(ast.node(link->parent), link->slot.index());
         link = ast.parent_link(at))
        at = link->parent;
    return at;
}

// What becomes of the run of spacers that `node` starts, as the sweep below
// decides: answered from the run alone, so that the spacers that stay do
// not each sweep the whole list again. It stays where what follows it would
// fill an open slot of the item before. Primes after it that would not read
// back after that item (`x^{2}\quad'`) read as the run's superscript: the run
// leaves the empty base a spacer that bears primes leaves.
enum class RunFate : std::uint8_t { Goes, Stays, LeavesBase };

RunFate run_fate(const RuleContext& ctx, NodeId node, std::span<const std::string_view> names) {
    const syntax::Ast& ast = ctx.ast;
    const auto before = ast.prev_sibling(node);
    if (before && is_spacer(ast, *before, names)) return RunFate::Goes;
    std::optional<NodeId> next = ast.next_sibling(node);
    while (next && is_spacer(ast, *next, names)) next = ast.next_sibling(*next);
    const passes::support::LeadToken token =
        next ? passes::support::lead_token(ast, *next) : passes::support::LeadToken{};
    if (passes::support::taken_by_item_before(ast, ctx.math, ctx.text, node, token)) return RunFate::Stays;
    if (before && next && passes::support::primes_join_wrongly(ast, *before, *next, false)) return RunFate::LeavesBase;
    return RunFate::Goes;
}

bool drop_from_math_list(const RuleContext& ctx, NodeId parent, std::span<const std::string_view> names) {
    syntax::Ast& ast = ctx.ast;
    const std::span<const NodeId> children = ast.children(parent);
    util::work_count += children.size();  // the sweep of the list
    std::vector<NodeId> kept;
    kept.reserve(children.size());
    std::vector<std::size_t> bases;  // places in `kept` an empty base takes
    // A node that is no spacer (an unknown command) must not count as a change.
    bool changed = false;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const NodeId child = children[i];
        if (!is_spacer(ast, child, names)) {
            kept.push_back(child);
            continue;
        }
        // The first spacer of a run stands for the run.
        if (i > 0 && is_spacer(ast, children[i - 1], names)) {
            changed = true;
            continue;
        }
        const RunFate fate = run_fate(ctx, child, names);
        if (fate == RunFate::Stays) {
            kept.push_back(child);
            continue;
        }
        changed = true;
        if (fate == RunFate::LeavesBase) {
            bases.push_back(kept.size());
            kept.push_back(child);
        }
    }
    if (!changed) return false;
    // Made once the list is read: a new node may move the arena, and the list with it.
    for (std::size_t at : bases) kept[at] = ast.new_node(empty_math_group());
    remove_replaced_children(ast, parent, kept);
    return true;
}

bool collapse_text_runs(syntax::Ast& ast, NodeId parent, std::span<const NodeId> children,
                        std::span<const std::string_view> names) {
    std::vector<NodeId> kept;
    kept.reserve(children.size());
    std::vector<NodeId> run_starts;
    std::optional<NodeId> run_last;  // the last spacer of the current run
    for (NodeId child : children) {
        if (is_spacer(ast, child, names)) {
            if (!run_last) {
                kept.push_back(child);
                run_starts.push_back(child);
            }
            run_last = child;
            continue;
        }
        if (run_last && is_control_word(ast.node(*run_last))) {
            const auto* text = ast.node(child).get_if<Node::Text>();
            if (text != nullptr && !text->value.empty() && text->value.front() == ' ')
                ast.replace_node(child, Node::Text{text->value.substr(1)});
        }
        run_last.reset();
        kept.push_back(child);
    }
    if (run_starts.empty()) return false;
    for (NodeId start : run_starts) ast.replace_node_drop_detached_children(start, space_text());
    if (kept.size() != children.size()) remove_replaced_children(ast, parent, kept);
    return true;
}

}  // namespace

void remove_or_leave_empty_group(syntax::Ast& ast, NodeId node) {
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link != nullptr && link->slot.is_group_child()) {
        ast.remove_node(node);
    } else {
        ast.replace_node_drop_detached_children(node, empty_math_group());
    }
}

void remove_replaced_children(syntax::Ast& ast, NodeId parent, std::span<const NodeId> children) {
    for (NodeId left_out : ast.replace_children(parent, children)) ast.remove_detached(left_out);
}

bool removal_exposes_next(const RuleContext& ctx, NodeId node) {
    const syntax::ParentLink* link = ctx.ast.parent_link(node);
    if (link == nullptr || !link->slot.is_group_child()) return false;
    const auto next = ctx.ast.next_sibling(node);
    const passes::support::LeadToken token =
        next ? passes::support::lead_token(ctx.ast, *next) : passes::support::LeadToken{};
    return passes::support::taken_by_item_before(ctx.ast, ctx.math, ctx.text, node, token);
}

bool drop_spacer(const RuleContext& ctx, NodeId node, std::span<const std::string_view> names) {
    syntax::Ast& ast = ctx.ast;
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr) return false;
    const NodeId parent = link->parent;
    const Node& holder = ast.node(parent);

    ContentMode mode = ContentMode::Math;
    switch (link->slot.kind()) {
        case Slot::Kind::GroupChild:
            if (const auto* root = holder.get_if<Node::Root>()) {
                mode = root->mode;
            } else if (const auto* group = holder.get_if<Node::Group>()) {
                mode = group->mode;
            } else {
                return false;
            }
            break;
        case Slot::Kind::Argument:
            if (auto content = argument_mode(holder, link->slot.index())) {
                mode = *content;
            } else {
                return false;
            }
            break;
        case Slot::Kind::ScriptBase:
        case Slot::Kind::ScriptSub:
        case Slot::Kind::ScriptSup:
        case Slot::Kind::InfixLeft:
        case Slot::Kind::InfixRight: break;
        case Slot::Kind::EnvBody: return false;
    }

    if (link->slot.is_group_child()) {
        if (mode == ContentMode::Math)
            return run_fate(ctx, node, names) != RunFate::Stays && drop_from_math_list(ctx, parent, names);
        // Copied: the walk edits texts of the list.
        const std::vector<NodeId> children(ast.children(parent).begin(), ast.children(parent).end());
        return collapse_text_runs(ast, parent, children, names);
    }
    if (mode == ContentMode::Math) {
        ast.replace_node_drop_detached_children(node, empty_math_group());
        return true;
    }
    if (is_control_word(ast.node(node)))
        spacing_support::drop_leading_space_of_next_text(ast, outermost_text_argument_holder(ast, node));
    ast.replace_node_drop_detached_children(node, space_text());
    return true;
}

}  // namespace spacing_drop::helpers

RuleResult WideSpaceDropRule::apply(RuleContext& ctx, syntax::ast::NodeId node) const {
    const std::string_view name = meta().triggers[0].name;
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command(name)))
        return std::move(*error);
    const std::string_view names[] = {name};
    return spacing_drop::helpers::drop_spacer(ctx, node, names) ? RuleOutcome::Applied : RuleOutcome::Skipped;
}

RuleResult LayoutHintDropRule::apply(RuleContext& ctx, syntax::ast::NodeId node) const {
    const std::string_view name = meta().triggers[0].name;
    const auto command = ctx.match_command(node, name);
    if (!command) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command(name)))
        return std::move(*error);
    if (spacing_drop::helpers::removal_exposes_next(ctx, node)) return RuleOutcome::Skipped;
    spacing_drop::helpers::remove_or_leave_empty_group(ctx.ast, node);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform::base_rules
