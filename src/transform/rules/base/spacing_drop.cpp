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

// Takes the runs of spacers that start in [from, to) of the list of
// `parent`, each whole, from left to right: the first spacer of a run
// stands for it, and in math stays (the rest go), gives way to the run's
// empty base or goes with the rest, as `run_fate` decides; in text it
// becomes the run's one space. Read and edited entry by entry, so that in
// an edit batch a sweep costs the entries it goes over, not the list. A
// run's fate reads the item before it and what follows it, which the edits
// of the runs before leave as they were. Gives whether it changed the list
// and where `to` has moved.
struct Swept {
    bool changed = false;
    std::size_t to = 0;
};

Swept sweep_runs(const RuleContext& ctx, NodeId parent, ContentMode mode, std::size_t from, std::size_t to,
                 std::span<const std::string_view> names) {
    syntax::Ast& ast = ctx.ast;
    Swept swept{false, to};
    std::size_t at = from;
    while (at < swept.to) {
        ++util::work_count;  // the sweep of the list
        const NodeId first = ast.child_at(parent, at);
        if (!is_spacer(ast, first, names)) {
            ++at;
            continue;
        }
        std::size_t end = at + 1;
        const std::size_t size = ast.child_count(parent);
        while (end < size && is_spacer(ast, ast.child_at(parent, end), names)) ++end;
        util::work_count += end - at;
        bool keeps_place = true;  // whether the run leaves a node where it began
        std::optional<NodeId> base;
        if (mode == ContentMode::Math) {
            const RunFate fate = run_fate(ctx, first, names);
            keeps_place = fate != RunFate::Goes;
            // Made before the list changes: a new node may move the arena.
            if (fate == RunFate::LeavesBase) base = ast.new_node(empty_math_group());
        } else {
            if (end < size && is_control_word(ast.node(ast.child_at(parent, end - 1)))) {
                const NodeId after = ast.child_at(parent, end);
                const auto* text = ast.node(after).get_if<Node::Text>();
                if (text != nullptr && !text->value.empty() && text->value.front() == ' ')
                    ast.replace_node(after, Node::Text{text->value.substr(1)});
            }
            ast.replace_node_drop_detached_children(first, space_text());
            swept.changed = true;
        }
        const std::size_t cut = keeps_place && !base ? at + 1 : at;
        if (cut < end) {
            const std::vector<NodeId> left_out = ast.detach_children_range(parent, cut, end);
            if (base) ast.insert_child(parent, at, *base);
            for (NodeId id : left_out) ast.remove_detached(id);
            swept.changed = true;
        }
        const std::size_t kept = keeps_place ? 1 : 0;
        swept.to = std::max(swept.to, end) - (end - at - kept);
        at += kept;
    }
    return swept;
}

// One past the run of spacers that holds `node`, or past `node` where it is
// no spacer.
std::size_t run_end(const syntax::Ast& ast, NodeId parent, NodeId node, std::span<const std::string_view> names) {
    std::size_t end = ast.parent_link(node)->slot.index() + 1;
    if (!is_spacer(ast, node, names)) return end;
    const std::size_t size = ast.child_count(parent);
    while (end < size && is_spacer(ast, ast.child_at(parent, end), names)) ++end;
    return end;
}

// Where the sweeps of lists for `names` are noted; none outside a fixed
// point, where every offer sweeps its list.
RuleContext::SpacerSweeps* sweeps_of(RuleContext& ctx, std::span<const std::string_view> names) {
    if (ctx.pass == 0) return nullptr;
    for (RuleContext::SpacerSweeps& sweeps : ctx.spacer_sweeps)
        if (std::equal(sweeps.names.begin(), sweeps.names.end(), names.begin(), names.end())) return &sweeps;
    return &ctx.spacer_sweeps.emplace_back(
        RuleContext::SpacerSweeps{std::vector<std::string_view>(names.begin(), names.end())});
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

bool removal_exposes_next(const RuleContext& ctx, NodeId node) {
    const syntax::ParentLink* link = ctx.ast.parent_link(node);
    if (link == nullptr) return false;
    passes::support::LeadToken token;
    if (link->slot.is_group_child()) {
        if (const auto next = ctx.ast.next_sibling(node)) token = passes::support::lead_token(ctx.ast, *next);
    } else if (link->slot.kind() == Slot::Kind::ScriptBase) {
        // A script base that goes leaves an empty group, whose brace the
        // item before would take (`\expval{a}\quad'`).
        token = {passes::support::LeadToken::Kind::Brace, U'{', {}};
    } else {
        return false;
    }
    return passes::support::taken_by_item_before(ctx.ast, ctx.math, ctx.text, node, token);
}

bool drop_spacer(RuleContext& ctx, NodeId node, std::span<const std::string_view> names) {
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
        if (mode == ContentMode::Math && run_fate(ctx, node, names) == RunFate::Stays) return false;
        // The first offer of a list in a pass sweeps it whole. The rules are
        // offered nodes in the list's order, and the merges make spacers
        // only at or after the node they were offered: a later offer in the
        // pass finds new spacers only from where the last sweep of the list
        // ended to the end of its own run, and sweeps that stretch alone.
        // A list that gains its runs one at a time then costs its length
        // once a pass, not once a run. Spacers made further on wait for
        // their own offer. Outside a fixed point every offer sweeps the list.
        const std::size_t end = run_end(ast, parent, node, names);
        RuleContext::SpacerSweeps* sweeps = sweeps_of(ctx, names);
        RuleContext::SpacerSweep* last = sweeps != nullptr ? sweeps->last.get(parent) : nullptr;
        if (last != nullptr && last->pass == ctx.pass) {
            std::size_t from = std::min(last->to, end - 1);
            while (from > 0 && is_spacer(ast, ast.child_at(parent, from - 1), names)) --from;
            const Swept swept = sweep_runs(ctx, parent, mode, from, end, names);
            last->to = swept.to;
            return swept.changed;
        }
        // Noted before the edits, which then need no room of their own.
        if (sweeps != nullptr) {
            sweeps->last.insert(parent, RuleContext::SpacerSweep{ctx.pass, 0});
            last = sweeps->last.get(parent);
        }
        const Swept before = sweep_runs(ctx, parent, mode, 0, end, names);
        const Swept after = sweep_runs(ctx, parent, mode, before.to, ast.child_count(parent), names);
        if (last != nullptr) *last = {ctx.pass, before.to};
        return before.changed || after.changed;
    }
    if (mode == ContentMode::Math) {
        if (removal_exposes_next(ctx, node)) return false;
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
