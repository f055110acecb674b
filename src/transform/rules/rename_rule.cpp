#include "transform/rules/rename_rule.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transform/helpers.hpp"
#include "transform/passes/exposure.hpp"
#include "transform/passes/tree_support.hpp"
#include "transform/rule_context.hpp"
#include "transform/rules/base/spacing_drop.hpp"
#include "transform/rules/line_break.hpp"
#include "transform/rules/spacing_support.hpp"

namespace quorvel::transform {

namespace {

using syntax::ContentMode;
using syntax::Slot;
using syntax::ast::ArgumentValue;
using syntax::ast::Node;
using syntax::ast::NodeId;

ContentMode list_mode(const Node& parent) {
    if (const auto* root = parent.get_if<Node::Root>()) return root->mode;
    return parent.get_if<Node::Group>()->mode;
}

// Where a control space may become `~`: a math list, math or operator-name
// argument content, a script's base or scripts, an infix operand.
bool in_math_position(const syntax::Ast& ast, NodeId node) {
    const syntax::ParentLink* link = ast.parent_link(node);
    if (link == nullptr) return false;
    const Node& parent = ast.node(link->parent);
    switch (link->slot.kind()) {
        case Slot::Kind::GroupChild: return list_mode(parent) == ContentMode::Math;
        case Slot::Kind::Argument: {
            const syntax::ast::ArgumentSlots* args = parent.args();
            if (args == nullptr || link->slot.index() >= args->size()) return false;
            const auto& arg = (*args)[link->slot.index()];
            return arg && (std::holds_alternative<ArgumentValue::MathContent>(arg->value.value) ||
                           std::holds_alternative<ArgumentValue::OperatorNameContent>(arg->value.value));
        }
        case Slot::Kind::ScriptBase:
        case Slot::Kind::ScriptSub:
        case Slot::Kind::ScriptSup:
        case Slot::Kind::InfixLeft:
        case Slot::Kind::InfixRight: return true;
        case Slot::Kind::EnvBody: return false;
    }
    return false;
}

bool is_math_brace_group(const Node& node) {
    const auto* g = node.get_if<Node::Group>();
    return g != nullptr && (g->kind.is_explicit() || g->kind.is_implicit()) && g->mode == ContentMode::Math;
}

bool is_prime_item(const Node& node) {
    if (node.is<Node::Prime>()) return true;
    const auto* command = node.get_if<Node::Command>();
    return command != nullptr && command->name == "prime" && command->args.empty();
}

// Whether the node is primes alone: primes, `\prime`s and brace groups that
// hold nothing else, and at least one prime. Every `\prime` of a script asks
// it of the whole script: past a few dozen nodes the answer is no, so that a
// long script costs each a bounded look.
bool only_primes(const syntax::Ast& ast, NodeId node) {
    constexpr std::size_t kLooked = 64;
    std::vector<NodeId> open{node};
    std::size_t met = 1;  // nodes put on `open`
    bool any = false;
    while (!open.empty()) {
        const NodeId at = open.back();
        open.pop_back();
        const Node& n = ast.node(at);
        if (is_prime_item(n)) {
            any = true;
            continue;
        }
        if (!is_math_brace_group(n)) return false;
        const auto children = ast.children(at);
        met += children.size();
        if (met > kLooked) return false;
        open.insert(open.end(), children.begin(), children.end());
    }
    return any;
}

// What the rules know of the braces that group flattening will leave
// around a `\prime`: whether it keeps every one (see
// `RuleContext::groups_stay`), and whether it keeps one that holds a lone
// prime as a superscript, raised once more than `x'` is.
struct Braces {
    bool stay = false;
    bool raised_primes = false;

    static Braces around(const RuleContext& ctx, NodeId node) {
        return {ctx.groups_stay(node), ctx.flattening == nullptr || ctx.flattening->raised_primes};
    }
};

enum class PrimePlace : std::uint8_t {
    Baseline,     // of a math list or argument
    Superscript,  // a superscript made of primes alone
    Script,       // anywhere else in a script
};

// Where a `\prime` stands, brace groups aside. A superscript of primes alone
// is written as a run of `'`; anywhere else in a script a `'` would be a
// superscript of what precedes it, raised once more than the `\prime` was.
// Past a depth no parse reaches, the answer is a script: each of many
// `\prime`s deep in a built tree looks a bounded way up.
PrimePlace prime_place(const syntax::Ast& ast, NodeId node) {
    constexpr std::size_t kLevels = 256;
    NodeId at = node;
    for (std::size_t level = 0; level < kLevels; ++level) {
        const syntax::ParentLink* link = ast.parent_link(at);
        if (link == nullptr) return PrimePlace::Baseline;
        switch (link->slot.kind()) {
            case Slot::Kind::GroupChild:
                if (!is_math_brace_group(ast.node(link->parent))) return PrimePlace::Baseline;
                at = link->parent;
                continue;
            case Slot::Kind::ScriptBase: at = link->parent; continue;
            case Slot::Kind::ScriptSup: return only_primes(ast, at) ? PrimePlace::Superscript : PrimePlace::Script;
            case Slot::Kind::ScriptSub: return PrimePlace::Script;
            default: return PrimePlace::Baseline;
        }
    }
    return PrimePlace::Script;
}

// The brace groups between a `\prime` and the superscript of primes alone
// it stands in, innermost first.
std::vector<NodeId> braces_up_to_superscript(const syntax::Ast& ast, NodeId node) {
    std::vector<NodeId> groups;
    for (const syntax::ParentLink* link = ast.parent_link(node); link && link->slot.is_group_child();
         link = ast.parent_link(link->parent))
        groups.push_back(link->parent);
    return groups;
}

// Whether a superscript of primes alone holds a `'` written in braces, as
// in `x^{'\prime}`: raised twice, it is no run of primes of the base.
bool holds_raised_prime(const syntax::Ast& ast, NodeId sup) {
    std::vector<NodeId> open{sup};
    while (!open.empty()) {
        const NodeId at = open.back();
        open.pop_back();
        const auto* g = ast.node(at).get_if<Node::Group>();
        if (g == nullptr) continue;
        for (NodeId child : g->children) {
            if (g->kind.is_explicit() && ast.node(child).is<Node::Prime>()) return true;
            open.push_back(child);
        }
    }
    return false;
}

bool holds_prime_items_only(const syntax::Ast& ast, NodeId group) {
    for (NodeId child : ast.children(group))
        if (!is_prime_item(ast.node(child))) return false;
    return true;
}

// Whether a superscript is a prime, or a brace group holding only a prime,
// which flattening may put in the group's place.
bool is_prime_superscript(const syntax::Ast& ast, NodeId sup) {
    const Node& n = ast.node(sup);
    if (n.is<Node::Prime>()) return true;
    if (!is_math_brace_group(n)) return false;
    const auto children = ast.children(sup);
    return children.size() == 1 && ast.node(children[0]).is<Node::Prime>();
}

// Whether a superscript is written as a run of `'` glued to its base, as
// `x''`, once flattening has taken the braces it takes: the primes in brace
// groups make one run when no `\prime` stands among them (flattening joins
// `{'{'}}` into `''`), a lone `\prime` is one too, and a merged superscript
// writes the primes it holds. Any other brace group stays, and a `^` goes
// before it: every one where flattening keeps them all but a lone prime,
// and every one where it keeps a lone prime in its braces.
bool written_as_primes(const syntax::Ast& ast, NodeId sup, Braces braces) {
    if (!only_primes(ast, sup)) return false;  // which also bounds the look below
    const auto* g = ast.node(sup).get_if<Node::Group>();
    if (g == nullptr) return true;
    if (g->kind.is_implicit()) return holds_prime_items_only(ast, sup);
    if (braces.raised_primes) return false;
    if (braces.stay) return g->children.size() == 1 && ast.node(g->children[0]).is<Node::Prime>();
    std::size_t items = 0;
    bool after_prime = false;  // the item before, in the order written, is a `'` run
    std::vector<NodeId> open{sup};
    while (!open.empty()) {
        const NodeId at = open.back();
        open.pop_back();
        const Node& n = ast.node(at);
        if (is_prime_item(n)) {
            const bool prime = n.is<Node::Prime>();
            if (!(prime && after_prime)) ++items;
            after_prime = prime;
            continue;
        }
        const auto children = ast.children(at);
        open.insert(open.end(), children.rbegin(), children.rend());
    }
    return items == 1;
}

// Whether the item written last for `item` carries a superscript that is not
// written as a run of primes. Brace groups count as gone, as flattening may
// take them apart after the rules: the answer is about their last item, and
// none when nothing of `item` would be left. Where they stay, a group ends
// in its closing brace.
std::optional<bool> ends_in_superscript(const syntax::Ast& ast, NodeId item, Braces braces) {
    std::vector<std::pair<NodeId, std::size_t>> open;  // groups entered, and the index of the child looked at
    NodeId at = item;
    for (;;) {
        const Node& node = ast.node(at);
        if (const auto* s = node.get_if<Node::Scripted>())
            return s->superscript && !written_as_primes(ast, *s->superscript, braces);
        if (const auto* infix = node.get_if<Node::Infix>()) {
            at = infix->right;  // a bare right operand ends the infix
            continue;
        }
        if (!is_math_brace_group(node) || braces.stay) return false;
        if (const auto children = ast.children(at); !children.empty()) {
            open.emplace_back(at, children.size() - 1);
            at = children.back();
            continue;
        }
        // An empty group: the child before it, in the innermost group left.
        while (!open.empty() && open.back().second == 0) open.pop_back();
        if (open.empty()) return std::nullopt;
        at = ast.children(open.back().first)[--open.back().second];
    }
}

bool starts_with_primes(const syntax::Ast& ast, NodeId node) {
    const Node& n = ast.node(node);
    if (is_prime_superscript(ast, node)) return true;
    const auto* g = n.get_if<Node::Group>();
    return g != nullptr && g->kind.is_implicit() && !g->children.empty() && ast.node(g->children[0]).is<Node::Prime>();
}

// Whether the list is a merged superscript, as `x'^{...}` reads, and its
// children before `index` are all primes: the primes held from the base.
bool holds_primes_before(const syntax::Ast& ast, NodeId list, std::size_t index) {
    const auto* g = ast.node(list).get_if<Node::Group>();
    const syntax::ParentLink* link = ast.parent_link(list);
    if (index == 0 || g == nullptr || !g->kind.is_implicit() || link == nullptr ||
        link->slot.kind() != Slot::Kind::ScriptSup)
        return false;
    for (std::size_t i = 0; i < index; ++i)
        if (!ast.node(g->children[i]).is<Node::Prime>()) return false;
    return true;
}

// Whether a prime written for `node` would not read back as the node it
// becomes. Its text joins whatever item it follows, brace groups that may
// be flattened aside: as a second superscript after `x^a`, and with the
// scripts it carries, as more scripts of that item. A prime base whose
// superscript starts with primes would read as one longer run. Braces that
// stay part it from what stands before them.
bool prime_would_not_read_back(const syntax::Ast& ast, NodeId node, Braces braces) {
    bool carries_scripts = false;
    if (const syntax::ParentLink* link = ast.parent_link(node); link && link->slot.kind() == Slot::Kind::ScriptBase) {
        const auto& scripted = std::get<Node::Scripted>(ast.node(link->parent).value);
        if (scripted.superscript && starts_with_primes(ast, *scripted.superscript)) return true;
        carries_scripts = true;
    }
    NodeId at = node;
    for (;;) {
        const syntax::ParentLink* link = ast.parent_link(at);
        if (link == nullptr) return false;
        switch (link->slot.kind()) {
            case Slot::Kind::ScriptBase:  // written first, as a bare left operand is
            case Slot::Kind::InfixLeft: at = link->parent; continue;
            case Slot::Kind::GroupChild: {
                // Scripts join any item before, even an empty group kept.
                if (carries_scripts && link->slot.index() > 0) return true;
                const auto siblings = ast.children(link->parent);
                // A prime starting a brace group just after the held primes
                // of a merged superscript would be raised once more than the
                // `\prime` it replaces, which joins the held run.
                if (at != node && holds_primes_before(ast, link->parent, link->slot.index())) return true;
                // Right after a brace group, a prime makes it a script base,
                // which flattening decides otherwise than a member of a
                // list: the `\prime` waits until the group has gone, unless
                // it stays.
                if (at == node && link->slot.index() > 0 && !braces.stay) {
                    const auto* g = ast.node(siblings[link->slot.index() - 1]).get_if<Node::Group>();
                    if (g != nullptr && g->kind.is_explicit()) return true;
                }
                for (std::size_t i = link->slot.index(); i > 0; --i)
                    if (const std::optional<bool> ends = ends_in_superscript(ast, siblings[i - 1], braces))
                        return *ends;
                if (!is_math_brace_group(ast.node(link->parent)) || braces.stay) return false;
                at = link->parent;
                continue;
            }
            default: return false;
        }
    }
}

// `\break` and `\newline` become `\\` where they break the line. Anywhere
// else, where TeX sets the list alike without it, `\break` goes and
// `\newline` leaves its empty box, an empty group; what follows, or that
// group, must not fill an open slot of the item before. Otherwise the break
// stays as written. A row end is never read as a script base: the scripts of
// one move onto an empty base after it, where TeX sets them. Bare, `\\`
// would take a `*` or `[` after it, which the source's commands leave alone:
// a zero space below the line, `\\[0pt]`, keeps it from them.
RuleResult replace_line_break(RuleContext& ctx, NodeId node) {
    syntax::Ast& ast = ctx.ast;
    using passes::support::LeadToken;
    Node empty_base = Node::Group{{}, syntax::ast::GroupKind::Implicit{}, ContentMode::Math};
    if (!line_break::breaks_the_line(ctx, node)) {
        if (!line_break::sets_alike_without(ctx, node)) return RuleOutcome::Skipped;
        const bool leaves_box = std::get<Node::Command>(ast.node(node).value).name == "newline";
        const syntax::ParentLink* link = ast.parent_link(node);
        if (!leaves_box && link != nullptr && link->slot.is_group_child()) {
            if (base_rules::spacing_drop::helpers::removal_exposes_next(ctx, node)) return RuleOutcome::Skipped;
            ast.remove_node(node);
            return RuleOutcome::Applied;
        }
        const LeadToken brace{LeadToken::Kind::Brace, U'{', {}};
        if (passes::support::taken_by_item_before(ast, ctx.math, ctx.text, node, brace)) return RuleOutcome::Skipped;
        // An empty operand is written as nothing, which the `\over` of a
        // `\buildrel` cannot do without: its braces are written.
        if (link != nullptr && (link->slot.kind() == Slot::Kind::InfixLeft || link->slot.kind() == Slot::Kind::InfixRight))
            std::get<Node::Group>(empty_base.value).kind = syntax::ast::GroupKind::Explicit{};
        ast.replace_node_drop_detached_children(node, std::move(empty_base));
        return RuleOutcome::Applied;
    }
    const LeadToken control{LeadToken::Kind::Control, 0, "\\"};
    if (passes::support::taken_by_item_before(ast, ctx.math, ctx.text, node, control)) return RuleOutcome::Skipped;
    const syntax::ParentLink* link = ast.parent_link(node);
    const syntax::ParentLink* item =
        link->slot.kind() == Slot::Kind::ScriptBase ? ast.parent_link(link->parent) : nullptr;
    if (item != nullptr && item->slot.is_group_child()) {
        const NodeId list = item->parent;
        const std::size_t at = item->slot.index();
        const NodeId row_end = ast.new_node(helpers::linebreak_command_node());
        ast.replace_node(node, std::move(empty_base));
        ast.insert_child(list, at, row_end);
        line_break::leave_operand(ast, row_end);
        return RuleOutcome::Applied;
    }
    ast.replace_node(node, helpers::linebreak_command_node());
    if (const auto next = ast.next_sibling(node);
        next && passes::support::takes_token(ast, ctx.math, ctx.text, node, passes::support::lead_token(ast, *next)))
        passes::support::close_row_end(ast, node);
    line_break::leave_operand(ast, node);
    return RuleOutcome::Applied;
}

}  // namespace

RuleResult RenameRule::apply(RuleContext& ctx, NodeId node) const {
    const RuleMeta& m = meta();
    if (form_ == RenameForm::Alias) return macro_support::rename_prefix_command_alias(ctx, node, target_, m.triggers);

    const auto* command = ctx.ast.node(node).get_if<Node::Command>();
    if (command == nullptr) return RuleOutcome::Skipped;
    const RuleTarget* source = nullptr;
    for (const RuleTarget& trigger : m.triggers)
        if (command->name == trigger.name) {
            source = &trigger;
            break;
        }
    if (source == nullptr) return RuleOutcome::Skipped;
    if (auto error = RuleScopedContext::expect_no_args(command->args.size(), CommandDisplay::command(source->name)))
        return std::move(*error);
    if (form_ == RenameForm::MathActiveSpace && !in_math_position(ctx.ast, node)) return RuleOutcome::Skipped;
    if (form_ == RenameForm::LineBreak) return replace_line_break(ctx, node);
    std::vector<NodeId> braces;  // of a `\prime` that becomes a run of primes
    if (form_ == RenameForm::Prime) {
        // A `\prime` on the baseline is a full-size symbol, a `'` a
        // superscript: it stays while rendering is kept. In a script it
        // stays unless the superscript is primes alone, and it stays
        // wherever its prime would not read back.
        const PrimePlace place = prime_place(ctx.ast, node);
        if (place == PrimePlace::Script || (place == PrimePlace::Baseline && ctx.preserves_rendering))
            return RuleOutcome::Skipped;
        const Braces around = Braces::around(ctx, node);
        if (prime_would_not_read_back(ctx.ast, node, around)) return RuleOutcome::Skipped;
        if (place == PrimePlace::Superscript) {
            // The braces around it become no braces of the source: a `'` the
            // source wrote in braces is raised twice, and while rendering is
            // kept those braces stay. A prime in braces of the source beside
            // it keeps the `\prime` as it is. Where flattening keeps them
            // all, a `'` in a group inside the superscript, or after a group
            // in it, would be raised twice too: the superscript must hold
            // primes alone, without braces.
            braces = braces_up_to_superscript(ctx.ast, node);
            if (ctx.preserves_rendering && !braces.empty() && holds_raised_prime(ctx.ast, braces.back()))
                return RuleOutcome::Skipped;
            if (around.stay && !braces.empty() && (braces.size() > 1 || !holds_prime_items_only(ctx.ast, braces[0])))
                return RuleOutcome::Skipped;
        }
    }

    Node replacement;
    switch (form_) {
        case RenameForm::Bare:
        case RenameForm::Alias: replacement = helpers::bare_command_node(target_); break;
        case RenameForm::Char: replacement = Node::Char{ch_}; break;
        case RenameForm::ActiveSpace:
        case RenameForm::MathActiveSpace: replacement = Node::ActiveSpace{}; break;
        case RenameForm::Prime: replacement = Node::Prime{1}; break;
        case RenameForm::LineBreak: return RuleOutcome::Skipped;  // replaced above
    }
    // A character written where the command was may fill an open slot of the
    // command before it, as `*` the star of `\mqty`: the command stays.
    using passes::support::LeadToken;
    LeadToken token{LeadToken::Kind::Control, 0, {}};
    if (const auto* c = replacement.get_if<Node::Char>()) token = {LeadToken::Kind::Char, c->value, {}};
    else if (replacement.is<Node::Prime>()) token = {LeadToken::Kind::Char, U'\'', {}};
    else if (replacement.is<Node::ActiveSpace>()) token = {LeadToken::Kind::Char, U'~', {}};
    else if (const auto name = replacement.name()) token.name = *name;
    if (passes::support::taken_by_item_before(ctx.ast, ctx.math, ctx.text, node, token)) return RuleOutcome::Skipped;
    ctx.ast.replace_node(node, std::move(replacement));
    for (NodeId id : braces) {
        const auto& group = std::get<Node::Group>(ctx.ast.node(id).value);
        if (!group.kind.is_explicit()) continue;
        Node implicit = Node::Group{group.children, syntax::ast::GroupKind::Implicit{}, group.mode};
        ctx.ast.replace_node(id, std::move(implicit));
    }
    if (repair_) spacing_support::drop_leading_space_of_next_text(ctx.ast, node);
    return RuleOutcome::Applied;
}

}  // namespace quorvel::transform
