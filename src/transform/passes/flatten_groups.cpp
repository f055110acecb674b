// Group flattening: removes brace groups and implicit groups that change
// neither meaning nor rendering, unless one of the guards keeps them.
//
// The walk is post-order over an explicit stack of frames. Each list node's
// new child list is built aside (in `list_`) while its children finish, and
// set once when the node itself finishes; so a group's decision sees its
// content already flattened and its siblings as the earlier decisions left
// them, exactly as if every removal had been applied at once.
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>
#include <vector>

#include "syntax/serializer.hpp"
#include "transform/attributes.hpp"
#include "transform/kept_infix.hpp"
#include "transform/passes/atom_class.hpp"
#include "transform/passes/exposure.hpp"
#include "transform/passes/passes.hpp"
#include "transform/passes/tree_support.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::passes {

namespace {

using syntax::Ast;
using syntax::ContentMode;
using syntax::Edge;
using syntax::NodeKind;
using syntax::Slot;
using syntax::ast::Node;
using syntax::ast::NodeId;

// Subtree flags: what lies at or below a node. The first three are the
// pass's own; the last two answer the subtree searches of the guards.
enum Flag : std::uint8_t {
    HasDeclarative = 1,
    HasInfix = 2,
    HasDelimited = 4,
    HasScripted = 8,
    HasCommandLike = 16,
};

std::uint8_t own_flags(const Node& node) {
    switch (node.kind()) {
        case NodeKind::Declarative: return HasDeclarative | HasCommandLike;
        case NodeKind::Command: return HasCommandLike;
        case NodeKind::Infix: return HasInfix;
        case NodeKind::Scripted: return HasScripted;
        case NodeKind::Group:
            return std::get<Node::Group>(node.value).kind.as_delimited() != nullptr ? HasDelimited : 0;
        case NodeKind::Environment: return support::is_fenced_environment(node) ? HasDelimited : 0;
        default: return 0;
    }
}

bool is_command_like(const Node& node) { return node.is<Node::Command>() || node.is<Node::Declarative>(); }

// Whether the node has no edges; most are characters, told by their kind.
bool is_leaf(const Node& node) {
    switch (node.kind()) {
        case NodeKind::Char:
        case NodeKind::Prime:
        case NodeKind::Text:
        case NodeKind::ActiveSpace:
        case NodeKind::Error: return true;
        default: {
            bool leaf = true;
            syntax::for_each_edge(node, [&](NodeId, Slot) { leaf = false; });
            return leaf;
        }
    }
}

// Operator names that render with limits or as operators: braces around them
// as a script base are kept.
constexpr std::array<std::string_view, 47> NON_ATOMIC_BASE_NAMES{
    "lg",        "ln",        "Pr",        "arg",       "cos",           "cot",           "csc",
    "deg",       "det",       "dim",       "exp",       "gcd",           "hom",           "inf",
    "int",       "ker",       "lim",       "log",       "max",           "min",           "sec",
    "sin",       "sup",       "sum",       "tan",       "cosh",          "coth",          "prod",
    "sinh",      "tanh",      "arccos",    "arcsin",    "arctan",        "bigcap",        "bigcup",
    "bigvee",    "liminf",    "limsup",    "bigodot",   "bigoplus",      "bigsqcup",      "biguplus",
    "bigwedge",  "bigotimes", "operatorname", "bigtriangleup", "bigtriangledown",
};

bool is_atom_spacing_char(const Node& node) {
    const auto* c = node.get_if<Node::Char>();
    if (c == nullptr) return false;
    switch (c->value) {
        case U'!': case U'*': case U'+': case U',': case U'-': case U'.': case U'/': case U':':
        case U';': case U'<': case U'=': case U'>': case U'?': case U'|': case U'\u00B7': return true;
        default: return false;
    }
}

// Why a group stays that parts its last member from what follows: the
// next token would fill a slot that member leaves open; or it is empty and
// parts two prefixes of one name; or that member is a prefix of the name of
// the next, and nothing else keeps it.
enum class Parting : std::uint8_t { None, Slot, Prefixes, PrefixRun };

// Whether taking a group out would bring attribute prefixes together that
// lowering would take as one: among them, or only its last member and the
// next member of the list.
enum class PrefixMeeting : std::uint8_t { None, Inside, Next };

// What the members of a rebuilt list are, as far as a group's decision
// asks: known as each member joins the list, and handed on with the members
// of a group that goes, so no decision looks at them again.
enum MemberBits : std::uint8_t {
    MemberEndsCell = support::kEndsCell,
    MemberMathShift = support::kMathShift,
    MemberCloses = 4,  // text that would end a bracket argument around it (tracked lists)
};

// A member of a list being rebuilt: the node and its subtree flags.
struct Entry {
    NodeId node;
    std::uint8_t flags = 0;
    Parting parts = Parting::None;  // a group kept to part its last member from what follows
    bool prefix = false;  // counted among the attribute prefixes of its list
};

enum class Outcome : std::uint8_t { Keep, Unwrap, Redirect };

// Where a list stands in the argument run of an unknown command. Such a
// command is read with no arguments, so its optional run `[…]` and its brace
// groups follow it as siblings; each of those groups is an argument, and
// flattening any of them would hand the command other arguments.
enum class ArgRun : std::uint8_t {
    None,
    Head,           // just after the command, or a scripted node with it as base
    Optional,       // inside the optional run
    AfterOptional,  // just after the optional run's `]`
    Groups,         // just after one of its brace groups
};

// The run state of a list after the entries stepped through so far. An
// unknown command inside an optional run gets a second, inner run of brace
// groups only: the outer run's first `]` ends both.
struct RunState {
    ArgRun outer = ArgRun::None;
    ArgRun inner = ArgRun::None;  // None, Head or Groups
    bool outer_via_scripted_base = false;
    bool inner_via_scripted_base = false;
};

// A position in a work list. Each list holds at most one entry per node of
// the tree, and node indices are 32 bits wide: a frame stays small to copy.
using Index = std::uint32_t;

struct Frame {
    NodeId node;
    NodeId occupant;  // what stands in the parent's slot: the node, or a placeholder while re-rooted
    std::optional<Slot> slot;  // none for the start node
    bool in_env_body = false;
    bool is_list = false;
    bool children_cut = false;  // children detached (lists) or swapped out one by one (others)
    bool list_changed = false;
    bool bracket_args = false;  // some argument of the node is a bracket argument
    std::uint8_t flags = 0;
    std::uint32_t depth = 0;
    Index edge_begin = 0;  // the node's edges in `edges`, and the next one to enter
    Index cursor = 0;
    Index edge_end = 0;
    Index list_begin = 0;  // lists: where the rebuilt child list starts in `list`
    Index free_begin = 0;  // groups unwrapped into this list, freed once it is set
    Index run_scanned = 0;  // lists: the entries before here are stepped into `run`
    RunState run;
    Index declaratives_scanned = 0;  // lists: the entries before here are looked at for `declared`
    bool declared = false;  // an attribute declarative stands among them
    bool content_before = false;  // and something else
    bool declared_math_size = false;  // a math size among those declaratives
    std::uint8_t members = 0;  // lists: MemberBits of the rebuilt entries
    std::uint32_t prefixes = 0;  // lists: attribute prefixes of the list's mode among the rebuilt entries
    // The node's text, as it stands, is written bare in a bracket argument
    // (`bare`); lists: so are its children (`list_bare`). `track`: the node
    // stands there once the brace groups around it go, so whether its text
    // would end the argument is worked out as it finishes (`closes`: what
    // its slots contribute so far).
    bool bare = false;
    bool list_bare = false;
    bool track = false;
    bool closes = false;
};

// Bits of `Buffers::closes`: the node's text holds a `]` that would end a
// bracket argument around it; a brace group's children do.
enum ClosesBits : std::uint8_t { Closes = 1, InnerCloses = 2 };


struct Buffers {
    std::vector<Frame> frames;
    std::vector<Edge> edges;
    std::vector<Entry> list;
    std::vector<NodeId> to_free;
    std::vector<NodeId> ids;
    std::vector<std::uint8_t> closes;  // ClosesBits by node index, for tracked nodes

    void reset() {
        support::reset(closes);
        support::reset(frames);
        support::reset(edges);
        support::reset(list);
        support::reset(to_free);
        support::reset(ids);
    }
};

class Flattener {
public:
    Flattener(Ast& ast, const FlattenGroupsGuards& guards, ReportRecorder& recorder,
              std::vector<NodeId>* changed_lists, const PassSight& sight)
        : ast_(ast),
          guards_(guards),
          recorder_(recorder),
          changed_lists_(changed_lists),
          sight_(sight),
          frames_(kept_.get().frames),
          edges_(kept_.get().edges),
          list_(kept_.get().list),
          to_free_(kept_.get().to_free),
          ids_(kept_.get().ids),
          closes_(kept_.get().closes) {}
    Flattener(const Flattener&) = delete;
    Flattener& operator=(const Flattener&) = delete;

    bool removed() const { return removed_; }

    void run(NodeId start) {
        open(start, std::nullopt, start, false);
        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            if (frame.cursor < frame.edge_end) {
                const Edge edge = edges_[frame.cursor++];
                enter(edge.first, edge.second);
            } else {
                finish();
            }
        }
    }

private:
    bool guard(FlattenGuard g) const { return guards_[g]; }

    // `bracket`: the node is the content of a bracket argument. `known`:
    // its value, when no node was made since it was looked up (a new node
    // may move the others).
    void open(NodeId id, std::optional<Slot> slot, NodeId occupant, bool bracket, const Node* known = nullptr) {
        if (bracket && is_brace_group(ast_.node(id))) {
            brace_closing_items(id);
            known = nullptr;
        }
        // What a child takes from the frame it opens below; the start node
        // has none.
        bool in_env_body = false;
        std::uint32_t depth = 0;
        bool tracked_parent = false;
        if (slot) {
            const Frame& parent = frames_.back();
            in_env_body = slot->kind() == Slot::Kind::EnvBody || parent.in_env_body;
            depth = parent.children_cut ? 0 : parent.depth + 1;
            tracked_parent = !bracket && parent.track;
        }
        // Built in place: the stack only grows here.
        Frame& frame = frames_.emplace_back();
        frame.node = id;
        frame.occupant = occupant;
        frame.slot = slot;
        frame.in_env_body = in_env_body;
        frame.depth = depth;
        frame.edge_begin = static_cast<Index>(edges_.size());
        frame.list_begin = static_cast<Index>(list_.size());
        frame.free_begin = static_cast<Index>(to_free_.size());
        frame.run_scanned = frame.list_begin;
        frame.declaratives_scanned = frame.list_begin;
        const Node& node = known != nullptr ? *known : ast_.node(id);
        frame.is_list = node.kind() == NodeKind::Root || node.kind() == NodeKind::Group;
        if (bracket) {
            frame.bare = frame.track = true;
            frame.list_bare = node.is<Node::Group>();
        } else if (tracked_parent) {
            place_in_brackets(frame, frames_[frames_.size() - 2], node);
        }
        syntax::for_each_edge(node, [&](NodeId child, Slot s) { edges_.emplace_back(child, s); });
        frame.bracket_args = has_bracket_argument(node);
        frame.edge_end = static_cast<Index>(edges_.size());
        frame.cursor = frame.edge_begin;
        if (frame.edge_end > frame.edge_begin && depth + 1 >= support::kRerootDepth) {
            frame.children_cut = true;
            if (frame.is_list) ast_.replace_children(id, {});
        }
    }

    void enter(NodeId child, Slot slot) {
        const Frame& parent = frames_.back();
        const bool bracket = parent.bracket_args && is_bracket_slot(parent.node, slot);
        if (bracket && !is_brace_group(ast_.node(child))) child = brace_closing_content(child, slot, parent.node);
        const Node& node = ast_.node(child);
        if (!node.is<Node::Group>()) {
            if (is_leaf(node)) {
                Frame& parent_frame = frames_.back();
                const std::uint8_t flags = own_flags(node);
                parent_frame.flags |= flags;
                // A leaf command writes its own `]` too: `\big]`.
                if (parent_frame.track && syntax::serialize::own_text_closes_bracket(ast_, child)) {
                    set_closes(child, Closes);
                    if (!slot.is_group_child()) contribute(parent_frame, slot, child);
                }
                if (slot.is_group_child()) {
                    parent_frame.members |= member_bits(parent_frame, child, node);
                    push_entry({child, flags});
                    if (node.is<Node::Prime>()) primes_landed(parent_frame, list_.size() - 1);
                }
                return;
            }
        }
        NodeId occupant = child;
        if (parent.children_cut && !parent.is_list) {
            occupant = support::new_placeholder(ast_, ContentMode::Math);
            ast_.replace_content_child(child, occupant);
        }
        open(child, slot, occupant, bracket, occupant == child ? &node : nullptr);
    }

    // Where text stands bare in a bracket argument: in its content, and
    // passed down through what is written without braces (script bases,
    // delimited groups and arguments, operands, bodies). A brace group in a
    // list or a script base keeps its children in braces while it stays; if
    // it goes, it decides with its content in view, so they are tracked.
    // This bookkeeping runs inside bracket arguments alone: it is kept out
    // of line, off the path of the walk.
    [[gnu::noinline]] void place_in_brackets(Frame& frame, const Frame& parent, const Node& node) const {
        const Slot slot = *frame.slot;
        bool content = false;  // a brace group here is written as its children
        if (slot.is_group_child()) {
            frame.track = true;
            frame.bare = parent.list_bare;
        } else {
            const auto reach = syntax::serialize::bracket_reach(ast_, parent.node, slot);
            frame.track = reach != syntax::serialize::BracketReach::Hidden;
            frame.bare = frame.track && parent.bare;
            content = reach == syntax::serialize::BracketReach::Content;
        }
        if (frame.bare && node.is<Node::Group>()) frame.list_bare = !is_brace_group(node) || content;
    }

    // Once or twice a node: kept inline, the growing path with it.
    [[gnu::always_inline, gnu::flatten]] void push_entry(const Entry& entry) { list_.push_back(entry); }
    [[gnu::always_inline]] std::uint8_t member_bits(const Frame& list, NodeId id, const Node& node) const {
        const std::uint8_t marks = support::member_marks(ast_, node);
        return list.track && (closes_of(id) & Closes) != 0 ? marks | MemberCloses : marks;
    }

    // Entering an argument looks at its kind only below a node that has a
    // bracket argument at all.
    static bool has_bracket_argument(const Node& node) {
        switch (node.kind()) {
            case NodeKind::Command:
            case NodeKind::Declarative:
            case NodeKind::Infix:
            case NodeKind::Environment: {
                const auto& args = *node.args();
                return std::any_of(args.begin(), args.end(), [](const auto& arg) {
                    return arg && std::holds_alternative<syntax::ast::ArgumentKind::Optional>(arg->kind.value);
                });
            }
            default: return false;
        }
    }
    bool is_bracket_slot(NodeId parent, Slot slot) const {
        return slot.is_argument() && std::holds_alternative<syntax::ast::ArgumentKind::Optional>(
                                         (*ast_.node(parent).args())[slot.index()]->kind.value);
    }
    std::uint8_t closes_of(NodeId id) const { return id.index < closes_.size() ? closes_[id.index] : 0; }
    [[gnu::noinline]] void set_closes(NodeId id, std::uint8_t bits) {
        if (id.index >= closes_.size()) closes_.resize(id.index + 1, 0);
        closes_[id.index] = bits;
    }
    // What the node now in `slot` of the tracked, non-list `parent` adds to
    // whether the parent's text would end a bracket argument.
    [[gnu::noinline]] void contribute(Frame& parent, Slot slot, NodeId occupant) const {
        switch (syntax::serialize::bracket_reach(ast_, parent.node, slot)) {
            case syntax::serialize::BracketReach::Hidden: return;
            case syntax::serialize::BracketReach::Whole: parent.closes |= (closes_of(occupant) & Closes) != 0; return;
            case syntax::serialize::BracketReach::Content:
                parent.closes |= (closes_of(occupant) & (is_brace_group(ast_.node(occupant)) ? InnerCloses : Closes)) != 0;
                return;
        }
    }
    // The bits of a tracked node that has finished, its slots decided.
    [[gnu::noinline]] std::uint8_t finished_closes(const Frame& frame, const Node& node) const {
        if (!frame.is_list) return frame.closes || syntax::serialize::own_text_closes_bracket(ast_, frame.node) ? Closes : 0;
        const bool any = (frame.members & MemberCloses) != 0;
        if (is_brace_group(node)) return any ? InnerCloses : 0;
        return any || syntax::serialize::own_text_closes_bracket(ast_, frame.node) ? Closes : 0;
    }

    // An item of a bracket argument whose text would end the argument is
    // written in braces; rules build such items. They get their braces as
    // the walk enters the argument, so that flattening decides as it will
    // when it reads the text again. An item before that would take those
    // braces into an open slot (`\expval{a}` before a norm that a rule
    // wrote round a `]`) goes into braces too, and so does each one before
    // it that would take them.
    void brace_closing_items(NodeId list) {
        const auto children = ast_.children(list);
        if (std::none_of(children.begin(), children.end(),
                         [&](NodeId c) { return syntax::serialize::closes_bracket_argument(ast_, c); }))
            return;
        const auto mode = std::get<Node::Group>(ast_.node(list).value).mode;
        ids_.assign(children.begin(), children.end());
        ast_.detach_all_children(list);
        const auto brace = [&](NodeId& c) { c = ast_.new_node(Node::Group{{c}, syntax::ast::GroupKind::Explicit{}, mode}); };
        for (std::size_t i = 0; i < ids_.size(); ++i) {
            if (!syntax::serialize::closes_bracket_argument(ast_, ids_[i])) continue;
            brace(ids_[i]);
            for (std::size_t k = i; k > 0 && takes_brace(ids_[k - 1]); --k) brace(ids_[k - 1]);
        }
        ast_.replace_children(list, ids_);
    }
    bool takes_brace(NodeId item) const {
        if (sight_.math == nullptr || sight_.text == nullptr) return false;
        const Node& node = ast_.node(item);
        if (!is_command_like(node) && !node.is<Node::Environment>()) return false;
        return support::takes_token(ast_, *sight_.math, *sight_.text, item,
                                    support::LeadToken{support::LeadToken::Kind::Brace, U'{', {}});
    }
    // The whole content of a bracket argument, not a group of its own:
    // the braces go around it; what stands in the slot now.
    NodeId brace_closing_content(NodeId content, Slot slot, NodeId parent) {
        const auto mode = (*ast_.node(parent).args())[slot.index()]->value.content_mode();
        if (!mode || !syntax::serialize::closes_bracket_argument(ast_, content)) return content;
        const NodeId stand_in = support::new_placeholder(ast_, *mode);
        ast_.replace_content_child(content, stand_in);
        const NodeId braced = ast_.new_node(Node::Group{{content}, syntax::ast::GroupKind::Explicit{}, *mode});
        const NodeId list = ast_.new_node(Node::Group{{braced}, syntax::ast::GroupKind::Implicit{}, *mode});
        support::replace_in_slot_and_free(ast_, stand_in, list);
        return list;
    }

    // A `]` that would stand bare in a bracket argument ends it: braces that
    // hide one stay. In an argument the group's braces are the argument's,
    // so a brace group that would take its place loses them.
    bool would_close_brackets(bool lands_bare, std::span<const Entry> entries, bool into_argument) const {
        if (!lands_bare) return false;
        for (const Entry& e : entries) {
            const bool inner = into_argument && is_brace_group(ast_.node(e.node));
            if ((closes_of(e.node) & (inner ? InnerCloses : Closes)) != 0) return true;
        }
        return false;
    }

    // Whether the token `lead()` gives, written right after `before`, would
    // fill an open slot of it: the group that parts them stays. The token is
    // worked out only after a command or environment.
    template <class Lead>
    bool would_fill_a_slot(std::optional<NodeId> before, Lead lead) const {
        if (!before || sight_.math == nullptr || sight_.text == nullptr) return false;
        const Node& node = ast_.node(*before);
        if (!is_command_like(node) && !node.is<Node::Environment>()) return false;
        return support::takes_token(ast_, *sight_.math, *sight_.text, *before, lead());
    }
    auto lead_of(NodeId id) const {
        return [this, id] { return support::lead_token(ast_, id); };
    }

    // The first token of `next`, a member of `list` the walk has not reached,
    // as it will be written once decided: the braces of a script base that
    // holds one atom go (see `decide`), so its atom leads; in a bracket
    // argument, unless the atom would end it. Deciding against the braces
    // would keep a group the next reading lets go.
    support::LeadToken lead_once_decided(std::optional<NodeId> next, const Frame& list) const {
        if (!next) return {};
        const Node* node = &ast_.node(*next);
        if (!node->is<Node::Scripted>() || (list.in_env_body && guard(FlattenGuard::EnvBody)))
            return support::lead_token(ast_, *next);
        while (const auto* s = node->get_if<Node::Scripted>()) node = &ast_.node(s->base);
        const auto* base = node->get_if<Node::Group>();
        if (base == nullptr || !base->kind.is_explicit() || base->mode != ContentMode::Math ||
            base->children.size() != 1)
            return support::lead_token(ast_, *next);
        const NodeId atom = base->children[0];
        const Node& child = ast_.node(atom);
        bool goes = child.is<Node::Char>()
                              ? !(guard(FlattenGuard::LoneAtomSpacingChar) && is_atom_spacing_char(child))
                              : child.is<Node::Command>() && is_atomic_base(Entry{atom, own_flags(child)});
        if (goes && list.track && syntax::serialize::own_text_closes_bracket(ast_, atom)) goes = false;
        return support::lead_token(ast_, goes ? atom : *next);
    }

    // What is written just before `frame`, which stands in the list
    // `frames_[list]`: the entry before it, as the earlier decisions left
    // it, or for the first of an environment's body the environment.
    std::optional<NodeId> written_before(std::size_t list, const Frame& frame) const {
        const Frame& l = frames_[list];
        if (frame.list_begin > l.list_begin) return list_[frame.list_begin - 1].node;
        if (list > 0 && l.slot && l.slot->kind() == Slot::Kind::EnvBody) return frames_[list - 1].node;
        return std::nullopt;
    }

    std::span<const Entry> entries_of(const Frame& frame) const {
        return {list_.data() + frame.list_begin, list_.size() - frame.list_begin};
    }

    // Sets a list node's rebuilt child list when it differs from the tree's.
    void commit_list(const Frame& frame) {
        if (!frame.is_list || !(frame.children_cut || frame.list_changed)) return;
        ids_.clear();
        for (const Entry& e : entries_of(frame)) ids_.push_back(e.node);
        ast_.replace_children(frame.node, ids_);
    }

    // Leaves every member of the group's rebuilt list a detached root.
    void release_children(const Frame& frame) {
        if (frame.children_cut) return;
        ast_.detach_all_children(frame.node);
    }

    void free_unwrapped(const Frame& frame) {
        for (std::size_t i = frame.free_begin; i < to_free_.size(); ++i) ast_.remove_detached(to_free_[i]);
        support::truncate(to_free_, frame.free_begin);
    }

    void finish() {
        const Frame frame = frames_.back();
        frames_.pop_back();
        support::truncate(edges_, frame.edge_begin);
        Frame* parent = frames_.empty() ? nullptr : &frames_.back();
        const Node& node = ast_.node(frame.node);
        const std::uint8_t flags = frame.flags | own_flags(node);
        Outcome outcome = Outcome::Keep;
        parting_ = Parting::None;
        if (parent != nullptr && frame.slot) {
            const auto& group = node.get_if<Node::Group>();
            if (group != nullptr && (group->kind.is_explicit() || group->kind.is_implicit())) {
                outcome = decide(frame, *parent, *group, flags);
            }
        }

        switch (outcome) {
            case Outcome::Keep: {
                commit_list(frame);
                if (frame.list_changed && changed_lists_ != nullptr) changed_lists_->push_back(frame.node);
                free_unwrapped(frame);
                if (frame.occupant != frame.node) support::replace_in_slot_and_free(ast_, frame.occupant, frame.node);
                const std::uint8_t closes = frame.track ? finished_closes(frame, node) : 0;
                if (frame.track) set_closes(frame.node, closes);
                support::truncate(list_, frame.list_begin);
                if (parent != nullptr && frame.slot && frame.slot->is_group_child()) {
                    parent->members |= member_bits(*parent, frame.node, node);
                    push_entry({frame.node, flags, parting_});
                    // Prefixes are commands: the list's mode is looked up for those alone.
                    // One that primes follow is their script base.
                    if (node.is<Node::Command>()) {
                        const auto mode = slot_mode(parent->node, *frame.slot);
                        if (mode && attribute_prefix(frame.node, *mode) && !primes_follow(*parent, parent->cursor)) {
                            ++parent->prefixes;
                            list_.back().prefix = true;
                        }
                    }
                } else if (parent != nullptr && frame.slot && parent->track) {
                    contribute(*parent, *frame.slot, frame.node);
                }
                break;
            }
            case Outcome::Unwrap: {
                removed_ = true;
                const std::size_t count = list_.size() - frame.list_begin;
                release_children(frame);
                free_unwrapped(frame);
                to_free_.push_back(frame.node);  // freed once the parent's list no longer holds it
                parent->list_changed = true;
                parent->prefixes += frame.prefixes;
                parent->members |= frame.members;
                recorder_.count(count == 0   ? ReportCounter::RemovedEmpty
                                : count == 1 ? ReportCounter::ReplacedSingleChild
                                             : ReportCounter::InlinedMultiChild);
                if (count > 0 && ast_.node(list_[frame.list_begin].node).is<Node::Prime>())
                    primes_landed(*parent, frame.list_begin);
                break;
            }
            case Outcome::Redirect: {
                removed_ = true;
                const Entry only = list_[frame.list_begin];
                if (frame.occupant == frame.node && !frame.children_cut && !frame.list_changed) {
                    // The tree's list is the rebuilt one: its only child
                    // moves up without a detour through the detached set.
                    ast_.hoist_only_child(frame.node);
                } else {
                    release_children(frame);
                    free_unwrapped(frame);
                    support::replace_in_slot_and_free(ast_, frame.occupant, only.node);
                    if (frame.occupant != frame.node) ast_.remove_detached(frame.node);
                }
                support::truncate(list_, frame.list_begin);
                recorder_.count(ReportCounter::UnwrappedSlot);
                const NodeId occupant = redecide_in_slot(frame, *parent, only);
                if (parent->track) contribute(*parent, *frame.slot, occupant);
                break;
            }
        }
        if (parent != nullptr) parent->flags |= flags;
    }

    // A group kept as a member of a list (by a guard of lists) that now
    // stands alone in the slot is decided again there, as the next round
    // would decide it, and so on down a chain of such groups. In a slot only
    // a group of one member goes, and that member's flags are the group's.
    NodeId redecide_in_slot(const Frame& removed, Frame& parent, Entry occupant) {
        while (is_brace_group(ast_.node(occupant.node))) {
            Frame frame = removed;
            frame.node = frame.occupant = occupant.node;
            frame.children_cut = frame.list_changed = false;
            frame.prefixes = frame.members = 0;
            const auto children = ast_.children(occupant.node);
            for (NodeId child : children) {
                frame.members |= member_bits(frame, child, ast_.node(child));
                list_.push_back({child, children.size() == 1 ? occupant.flags : own_flags(ast_.node(child))});
            }
            const Outcome outcome =
                decide(frame, parent, std::get<Node::Group>(ast_.node(occupant.node).value), occupant.flags);
            support::truncate(list_, frame.list_begin);
            if (outcome != Outcome::Redirect) return occupant.node;
            const NodeId child = children.front();
            ast_.hoist_only_child(occupant.node);
            recorder_.count(ReportCounter::UnwrappedSlot);
            occupant.node = child;
        }
        return occupant.node;
    }

    // A brace group with a cell end among its members.
    bool is_brace_group_with_cell_end(NodeId id) const {
        if (!is_brace_group(ast_.node(id))) return false;
        const auto children = ast_.children(id);
        util::work_count += children.size();
        return std::any_of(children.begin(), children.end(), [&](NodeId c) { return ast_.node(c).ends_cell(); });
    }

    bool holds_kept_infix(NodeId id) const {
        const auto* group = ast_.node(id).get_if<Node::Group>();
        return group != nullptr && group->kind.is_explicit() && group->children.size() == 1 &&
               kept_infix::under_bold_symbol(ast_, group->children[0]);
    }

    Outcome decide(const Frame& frame, Frame& parent, const Node::Group& group, std::uint8_t flags) {
        const std::span<const Entry> entries = entries_of(frame);
        const std::size_t count = entries.size();
        const Slot::Kind slot = frame.slot->kind();

        if (guard(FlattenGuard::DeclarativeScope) && (flags & HasDeclarative) != 0) {
            return keep(ReportCounter::DeclarativeScopeHit);
        }
        // bm's `\boldsymbol` sets an infix only in braces of its own,
        // inside those of its argument.
        if (count == 1 && (kept_infix::under_bold_symbol(ast_, entries[0].node) || holds_kept_infix(entries[0].node)))
            return Outcome::Keep;
        const bool lone_prime_superscript =
            slot == Slot::Kind::ScriptSup && count == 1 && ast_.node(entries[0].node).is<Node::Prime>();
        if (lone_prime_superscript && guards_.raised_primes && group.kind.is_explicit()) return Outcome::Keep;
        bool placed = false;  // a single prime superscript in an environment body skips the placement checks
        // Primes after a group of one member make it their script base when
        // read back: it is decided by a base's guards, as it will be then.
        const bool read_as_base = slot == Slot::Kind::GroupChild && count == 1 &&
                                  !ast_.node(entries[0].node).is<Node::Prime>() && parent.cursor < parent.edge_end &&
                                  edges_[parent.cursor].second.is_group_child() &&
                                  ast_.node(edges_[parent.cursor].first).is<Node::Prime>();
        // Out of its braces a cell separator would end its cell and leave
        // the scripts after it an empty base.
        if ((slot == Slot::Kind::ScriptBase || read_as_base) && count == 1 && ast_.node(entries[0].node).ends_cell())
            return Outcome::Keep;
        // Out of its braces a member list with cell separators would join the
        // cells of the list around: a row end after a style switch would end
        // that switch's cell (`\displaystyle{\\ x}`).
        if (slot == Slot::Kind::GroupChild && (frame.members & MemberEndsCell) != 0) return Outcome::Keep;
        // An operand's list is written bare: with one item it reads back as
        // that item, whatever guard keeps the groups written.
        const bool operand = slot == Slot::Kind::InfixLeft || slot == Slot::Kind::InfixRight;
        if (operand && group.kind.is_implicit()) return decide_in_slot(frame, parent, entries, group.mode);
        if (frame.in_env_body && guard(FlattenGuard::EnvBody)) {
            if (lone_prime_superscript) {
                placed = true;
            } else {
                return keep(ReportCounter::EnvBodyHit);
            }
        }
        if (!placed) {
            switch (slot) {
                case Slot::Kind::EnvBody: return Outcome::Keep;
                case Slot::Kind::GroupChild:
                    if (guard(FlattenGuard::InfixScope) && (flags & HasInfix) != 0) {
                        return keep(ReportCounter::InfixScopeHit);
                    }
                    if (guard(FlattenGuard::DelimitedPair) && (flags & HasDelimited) != 0) {
                        return keep(ReportCounter::DelimitedPairHit);
                    }
                    if (guard(FlattenGuard::CommandContact) && !read_as_base) {
                        const Contact contact = touches_command(frame, parent, entries);
                        if (contact.contact) {
                            if (contact.via_scripted_base) recorder_.count(ReportCounter::CommandContactViaScriptedBaseHit);
                            return keep(ReportCounter::CommandContactHit);
                        }
                    }
                    break;
                default:
                    if (count != 1) return Outcome::Keep;
                    break;
            }
        }

        // Primes after the first member make it a script base.
        const bool first_spacing = count > 0 && is_atom_spacing_char(ast_.node(entries[0].node)) &&
                                   !(count > 1 && ast_.node(entries[1].node).is<Node::Prime>());
        switch (slot) {
            case Slot::Kind::ScriptBase:
                if (first_spacing && guard(FlattenGuard::LoneAtomSpacingChar) && count == 1) {
                    return keep(ReportCounter::LoneAtomSpacingCharHit);
                }
                break;
            case Slot::Kind::Argument:
                if (guard(FlattenGuard::CommandArgument) && count == 1 && (entries[0].flags & HasCommandLike) != 0) {
                    return keep(ReportCounter::CommandArgumentHit);
                }
                break;
            case Slot::Kind::GroupChild:
                if (count == 0 && guard(FlattenGuard::EmptyGroup)) return keep(ReportCounter::EmptyGroupHit);
                if (first_spacing && guard(FlattenGuard::LoneAtomSpacingChar) && count == 1) {
                    return keep(ReportCounter::LoneAtomSpacingCharHit);
                }
                if (first_spacing && guard(FlattenGuard::LeadingAtomSpacingChar) && count >= 2) {
                    return keep(ReportCounter::LeadingAtomSpacingCharHit);
                }
                break;
            default: break;
        }

        const std::optional<ContentMode> mode = slot_mode(parent.node, *frame.slot);
        if (!mode || *mode != group.mode) return Outcome::Keep;

        if (slot == Slot::Kind::GroupChild) return decide_in_list(frame, parent, entries, group.mode, read_as_base);
        return decide_in_slot(frame, parent, entries, group.mode);
    }

    // A group that stands in a list of its mode, past the guards: it goes
    // unless taking it out would change how its members or their
    // neighbours read back.
    Outcome decide_in_list(const Frame& frame, Frame& parent, std::span<const Entry> entries, ContentMode mode,
                           bool read_as_base) {
        if (read_as_base && guard(FlattenGuard::ScriptBase) && !is_atomic_base(entries[0]))
            return keep(ReportCounter::ScriptBaseHit);
        if (mode == ContentMode::Text && guards_.ligature_break && joins_ligature(frame, parent, entries))
            return Outcome::Keep;
        if (mode == ContentMode::Text &&
            (spacing_would_end_a_name(frame, parent, entries) || spacing_after_would_end_a_name(parent, entries)))
            return Outcome::Keep;
        if (mode == ContentMode::Text && (frame.members & MemberMathShift) != 0) return Outcome::Keep;
        const PrefixMeeting meeting = prefixes_would_be_lowered_again(frame, parent, entries, mode);
        if (meeting == PrefixMeeting::Inside) return Outcome::Keep;
        if (entries.empty() && parts_same_prefixes(frame, parent, mode)) {
            parting_ = Parting::Prefixes;
            if (sight_.parted_prefixes != nullptr) *sight_.parted_prefixes = true;
            return Outcome::Keep;
        }
        if (parent.list_bare && (frame.members & MemberCloses) != 0) return Outcome::Keep;
        std::optional<NodeId> next;
        if (parent.cursor < parent.edge_end && edges_[parent.cursor].second.is_group_child())
            next = edges_[parent.cursor].first;
        const std::optional<NodeId> before = written_before(frames_.size() - 1, frame);
        const auto next_lead = [&] { return lead_once_decided(next, parent); };
        if (entries.empty() ? would_fill_a_slot(before, next_lead)
                            : would_fill_a_slot(before, lead_of(entries.front().node)))
            return Outcome::Keep;
        // A group that follows one kept for it stays too: out of its
        // braces its first token might not fill the slot, and the group
        // before would go the next time.
        if (frame.list_begin > parent.list_begin && list_[frame.list_begin - 1].parts == Parting::Slot)
            return Outcome::Keep;
        if (!entries.empty() && would_fill_a_slot(entries.back().node, next_lead)) {
            parting_ = Parting::Slot;
            return Outcome::Keep;
        }
        if (primes_would_not_read_back(frame, parent, entries)) return Outcome::Keep;
        // A binary operator, relation, punctuation or large operator that
        // ends the group was set at the end of a list, spaced from nothing
        // after it; out of the braces, it would be spaced from what follows.
        // Kept while the leading one of a group is.
        if (guard(FlattenGuard::LeadingAtomSpacingChar) && entries.size() >= 2 && next &&
            spaced_from_what_follows(entries.back().node))
            return Outcome::Keep;
        // Kept for the next member alone: primes that come to follow
        // that one make it a script base, and the group goes then (see
        // `primes_landed`).
        if (meeting == PrefixMeeting::Next) {
            parting_ = Parting::PrefixRun;
            return Outcome::Keep;
        }
        return Outcome::Unwrap;
    }

    // A group alone in a slot of its mode, past the guards: its only member
    // takes its place unless that would read back otherwise.
    Outcome decide_in_slot(const Frame& frame, const Frame& parent, std::span<const Entry> entries, ContentMode mode) {
        const Slot::Kind slot = frame.slot->kind();
        if (entries.size() != 1) return Outcome::Keep;
        // An infix or a cell end alone as an infix operand is written in
        // braces, which read back as this group.
        const Node& only = ast_.node(entries[0].node);
        if ((slot == Slot::Kind::InfixLeft || slot == Slot::Kind::InfixRight) &&
            (only.is<Node::Infix>() || only.ends_cell()))
            return Outcome::Keep;
        if (slot == Slot::Kind::ScriptBase && guard(FlattenGuard::ScriptBase) && !is_atomic_base(entries[0])) {
            return keep(ReportCounter::ScriptBaseHit);
        }
        if (slot == Slot::Kind::ScriptBase && base_prime_would_not_read_back(parent, entries[0].node)) {
            return Outcome::Keep;
        }
        if (slot == Slot::Kind::Argument && holds_prefix(entries[0].node, mode) &&
            attribute_prefix(parent.node, mode)) {
            return Outcome::Keep;  // a prefix in a prefix: see below
        }
        // Lowering takes a prefix's body into the list around, where a cell
        // end that the braces of the body's one group (the argument's own,
        // once the list goes) no longer held would end a cell.
        if (slot == Slot::Kind::Argument && frame.is_list && is_brace_group_with_cell_end(entries[0].node) &&
            attribute_prefix(parent.node, mode))
            return Outcome::Keep;
        if (would_close_brackets(frame.bare, entries, slot == Slot::Kind::Argument)) return Outcome::Keep;
        if (slot == Slot::Kind::ScriptBase && frames_.size() >= 2 && parent.slot && parent.slot->is_group_child() &&
            would_fill_a_slot(written_before(frames_.size() - 2, parent), lead_of(entries[0].node)))
            return Outcome::Keep;
        return Outcome::Redirect;
    }

    // A character the guards of spacing atoms know, or a command (scripted
    // or not) of a class TeX spaces from the atom after it.
    bool spaced_from_what_follows(NodeId id) const {
        const Node& node = ast_.node(id);
        if (node.is<Node::Char>()) return is_atom_spacing_char(node);
        const support::AtomClass atom = support::atom_class(
            ast_, id, [](std::string_view name) { return lookup_prefix_form(ContentMode::Math, name) != nullptr; });
        return atom == support::AtomClass::Bin || atom == support::AtomClass::Rel ||
               atom == support::AtomClass::Punct || atom == support::AtomClass::Op;
    }

    // The first or last character of a text, or 0 for any other node.
    char text_edge(NodeId id, bool last) const {
        const auto* text = ast_.node(id).get_if<Node::Text>();
        if (text == nullptr || text->value.empty()) return 0;
        const std::string_view value = text->value;
        return last ? value.back() : value.front();
    }

    // Whether taking the group out of its text list would put two characters
    // side by side that join: the sibling before it (as the earlier decisions
    // left it) against its content, its content against the sibling after it
    // (which decides later, against what this decision leaves).
    bool joins_ligature(const Frame& frame, const Frame& parent, std::span<const Entry> entries) const {
        const char before = frame.list_begin > parent.list_begin ? text_edge(list_[frame.list_begin - 1].node, true) : 0;
        const char after = parent.cursor < parent.edge_end ? text_edge(edges_[parent.cursor].first, false) : 0;
        if (entries.empty()) return support::joins_in_text(before, after);
        return support::joins_in_text(before, text_edge(entries.front().node, false)) ||
               support::joins_in_text(text_edge(entries.back().node, true), after);
    }

    // In text, spacing right after a control word only ends its name: a
    // group between them keeps the spacing a text starts with, which TeX
    // would skip.
    // Likewise where the group ends in a control word and a text starting
    // with spacing follows it.
    bool spacing_after_would_end_a_name(const Frame& parent, std::span<const Entry> entries) const {
        if (entries.empty() || !support::is_bare_control_word(ast_.node(entries.back().node))) return false;
        if (parent.cursor >= parent.edge_end || !edges_[parent.cursor].second.is_group_child()) return false;
        return starts_with_shown_spacing(edges_[parent.cursor].first, only_spacing_from(parent, parent.cursor + 1));
    }

    // Whether the node is a text whose leading spacing a control word right
    // before it would take for its name's end. Spacing alone at the end of
    // a list is written as a control space, which shows.
    bool starts_with_shown_spacing(NodeId id, bool last) const {
        const auto* text = ast_.node(id).get_if<Node::Text>();
        if (text == nullptr) return false;
        const std::size_t spacing = support::leading_spacing(text->value);
        return spacing > 0 && !(last && spacing == text->value.size());
    }

    // Whether a text before the members of `list` from edge `from` on ends
    // the list once finalisation merges the texts flattening brings
    // together: only spacing follows, in texts and in groups that go, empty
    // or of spacing alone (where ligatures are kept, a group after spacing
    // stays before more spacing, and one of spacing stays).
    bool only_spacing_from(const Frame& list, std::size_t from) const {
        bool group = false;
        for (std::size_t i = from; i < list.edge_end; ++i) {
            ++util::work_count;
            if (!edges_[i].second.is_group_child()) return false;
            const NodeId id = edges_[i].first;
            if (const auto* text = ast_.node(id).get_if<Node::Text>()) {
                if (support::leading_spacing(text->value) != text->value.size() || (group && guards_.ligature_break))
                    return false;
                group = false;
                continue;
            }
            switch (blank_nest(id)) {
                case Blank::Empty:
                    if (guard(FlattenGuard::EmptyGroup)) return false;
                    group = true;
                    break;
                case Blank::Spacing:
                    if (guards_.ligature_break) return false;
                    break;
                case Blank::None: return false;
            }
        }
        return true;
    }

    bool spacing_would_end_a_name(const Frame& frame, const Frame& parent, std::span<const Entry> entries) const {
        if (frame.list_begin == parent.list_begin) return false;
        if (!support::is_bare_control_word(ast_.node(list_[frame.list_begin - 1].node))) return false;
        NodeId first;
        bool last = false;  // the text would end the list
        if (!entries.empty()) {
            first = entries.front().node;
            last = entries.size() == 1 && only_spacing_from(parent, parent.cursor);
        } else if (parent.cursor < parent.edge_end && edges_[parent.cursor].second.is_group_child()) {
            first = edges_[parent.cursor].first;
            last = only_spacing_from(parent, parent.cursor + 1);
        } else {
            return false;
        }
        return starts_with_shown_spacing(first, last);
    }

    // Primes read back as a script of the item they follow (see
    // `support::primes_join_wrongly`). The braces that part such a pair stay.
    // Not a guard: without them the text does not read back.
    support::PrimeHead prime_head(NodeId id, bool through_groups = true) const {
        return support::prime_head(ast_, id, through_groups);
    }
    bool joins_wrongly(NodeId before, NodeId after, bool through_groups) const {
        return support::primes_join_wrongly(ast_, before, after, through_groups);
    }
    bool primes_would_not_read_back(const Frame& frame, const Frame& parent, std::span<const Entry> entries) const {
        if (entries.empty()) {
            // An empty group parts the item before it from the one after.
            return frame.list_begin > parent.list_begin && parent.cursor < parent.edge_end &&
                   edges_[parent.cursor].second.is_group_child() &&
                   (joins_wrongly(list_[frame.list_begin - 1].node, edges_[parent.cursor].first, false) ||
                    primes_go_on_kept_braces(list_[frame.list_begin - 1].node, edges_[parent.cursor].first, false));
        }
        if (joins_held_primes(frame, parent, entries.front().node)) return true;
        if (frame.list_begin > parent.list_begin &&
            (joins_wrongly(list_[frame.list_begin - 1].node, entries.front().node, true) ||
             primes_go_on_kept_braces(list_[frame.list_begin - 1].node, entries.front().node, true)))
            return true;
        // Brace groups next, bases included, decide for themselves with these
        // entries before them; bare primes make the last entry their base.
        if (parent.cursor >= parent.edge_end) return false;
        const Edge next = edges_[parent.cursor];
        return next.second.is_group_child() && (joins_wrongly(entries.back().node, next.first, false) ||
                                                primes_go_on_kept_braces(entries.back().node, next.first, false));
    }
    // Primes after a brace group kept in the list make it their base, where
    // it is decided anew and may go; after a declarative they read as its
    // scripts, which a rule takes apart. Either settles only the next time.
    bool primes_go_on_kept_braces(NodeId before, NodeId after, bool through_groups) const {
        const Node& node = ast_.node(before);
        return (is_brace_group(node) || node.is<Node::Declarative>()) &&
               prime_head(after, through_groups) != support::PrimeHead::None;
    }
    // A merged superscript, as `x'^{...}` reads, holds the primes of its base
    // first and then the operand of its `^`. A prime that starts a brace
    // group of that operand stands on an empty base and is raised once more,
    // as in `x'^{'a}`: taken out of its braces it would join the held run.
    bool joins_held_primes(const Frame& frame, const Frame& parent, NodeId first) const {
        if (!parent.slot || parent.slot->kind() != Slot::Kind::ScriptSup || frame.list_begin == parent.list_begin)
            return false;
        const auto* g = ast_.node(parent.node).get_if<Node::Group>();
        if (g == nullptr || !g->kind.is_implicit()) return false;
        for (std::size_t i = parent.list_begin; i < frame.list_begin; ++i)
            if (!ast_.node(list_[i].node).is<Node::Prime>()) return false;
        return prime_head(first) != support::PrimeHead::None;
    }
    // A prime base that would replace its braces: after any item, or before
    // a superscript that starts with primes (the runs would read as one).
    bool base_prime_would_not_read_back(const Frame& scripted, NodeId base) const {
        if (prime_head(base) != support::PrimeHead::Bare) return false;
        const auto& s = std::get<Node::Scripted>(ast_.node(scripted.node).value);
        if (s.superscript) {
            if (ast_.node(*s.superscript).is<Node::Prime>()) return true;
            const auto* g = ast_.node(*s.superscript).get_if<Node::Group>();
            if (g != nullptr && g->kind.is_implicit() && !g->children.empty() &&
                ast_.node(g->children[0]).is<Node::Prime>())
                return true;
        }
        if (frames_.size() < 2 || !scripted.slot || !scripted.slot->is_group_child()) return false;
        return scripted.list_begin > frames_[frames_.size() - 2].list_begin;
    }

    // Lowering writes the content of a brace group it keeps relative to the
    // attribute values in force at the group. Out of its braces, an attribute
    // prefix of that content is read, the next time, as part of the list
    // around: where a value is in force there (the list is the body of a
    // prefix, or follows a declarative), or where it meets a prefix of the
    // same name, lowering would write it otherwise. Those braces stay, so
    // that a normalised output normalises to itself.
    bool attribute_prefix(NodeId id, ContentMode mode) const {
        const auto* command = ast_.node(id).get_if<Node::Command>();
        if (command == nullptr || lookup_prefix_form(mode, command->name) == nullptr) return false;
        std::size_t content = 0;
        bool same_mode = false;
        for (const auto& arg : command->args) {
            if (!arg || !std::holds_alternative<syntax::ast::ArgumentKind::Mandatory>(arg->kind.value) ||
                !arg->value.is_content())
                continue;
            ++content;
            same_mode = arg->value.content_mode() == mode;
        }
        return content == 1 && same_mode;
    }
    bool attribute_declarative(NodeId id, ContentMode mode) const {
        const auto* d = ast_.node(id).get_if<Node::Declarative>();
        return d != nullptr && d->args.empty() && lookup_declarative_form(mode, d->name) != nullptr;
    }
    // A prefix, or a brace group empty or holding one: in an argument slot
    // the group's braces are the argument's, and a prefix left with no
    // content goes.
    bool holds_prefix(NodeId id, ContentMode mode) const {
        if (attribute_prefix(id, mode)) return true;
        if (!is_brace_group(ast_.node(id))) return false;
        const auto children = ast_.children(id);
        for (NodeId child : children)
            if (attribute_prefix(child, mode)) return true;
        return children.empty();
    }
    // Whether the list is the body of an attribute prefix.
    bool prefix_body(const Frame& list, ContentMode mode) const {
        return list.slot && list.slot->kind() == Slot::Kind::Argument && frames_.size() >= 2 &&
               &frames_.back() == &list && attribute_prefix(frames_[frames_.size() - 2].node, mode);
    }
    // An empty group that is the last content of its list, attribute
    // declaratives aside, right after a declarative or as all of a prefix
    // body: without it the declarative governs nothing and goes, and so does
    // the prefix.
    bool only_content_of_list(const Frame& frame, const Frame& parent, ContentMode mode) const {
        for (std::size_t i = parent.cursor; i < parent.edge_end; ++i)
            if (!attribute_declarative(edges_[i].first, mode)) return false;
        if (frame.list_begin == parent.list_begin) return prefix_body(parent, mode);
        return attribute_declarative(list_[frame.list_begin - 1].node, mode);
    }
    PrefixMeeting prefixes_would_be_lowered_again(const Frame& frame, Frame& parent, std::span<const Entry> entries,
                                                  ContentMode mode) const {
        if (entries.empty()) return only_content_of_list(frame, parent, mode) ? PrefixMeeting::Inside : PrefixMeeting::None;
        if (frame.prefixes == 0) return PrefixMeeting::None;
        if (prefix_body(parent, mode)) return PrefixMeeting::Inside;
        for (; parent.declaratives_scanned < frame.list_begin; ++parent.declaratives_scanned) {
            const NodeId before = list_[parent.declaratives_scanned].node;
            if (attribute_declarative(before, mode)) {
                parent.declared = true;
                parent.declared_math_size = parent.declared_math_size ||
                    lookup_declarative_form(mode, std::get<Node::Declarative>(ast_.node(before).value).name)->attr ==
                        Attr::MathSize;
            } else {
                parent.content_before = true;
            }
        }
        // A lone prefix that is all the content governed by declaratives is
        // written the same either way, unless a math size would go inside
        // the font prefix.
        if (parent.declared && (parent.content_before || parent.declared_math_size || entries.size() > 1 ||
                                more_than_empty_groups_follow(parent)))
            return PrefixMeeting::Inside;
        if (frame.list_begin > parent.list_begin &&
            same_prefix(list_[frame.list_begin - 1].node, entries.front().node, mode))
            return PrefixMeeting::Inside;
        if (parent.cursor >= parent.edge_end || !edges_[parent.cursor].second.is_group_child())
            return PrefixMeeting::None;
        return same_prefix(entries.back().node, edges_[parent.cursor].first, mode) &&
                       !primes_follow(parent, parent.cursor + 1)
                   ? PrefixMeeting::Next
                   : PrefixMeeting::None;
    }
    // Whether a member of the list the walk has not reached is other than
    // an empty group that goes, as it does the next time before it is
    // looked at; a few nodes of a nest are looked at.
    bool more_than_empty_groups_follow(const Frame& list) const {
        if (guard(FlattenGuard::EmptyGroup)) return list.cursor < list.edge_end;
        for (std::size_t i = list.cursor; i < list.edge_end; ++i) {
            ++util::work_count;
            if (blank_nest(edges_[i].first) != Blank::Empty) return true;
        }
        return false;
    }

    // What a brace group holds that flattening takes out from the inside:
    // nothing but such groups, or spacing too; a few nodes are looked at.
    enum class Blank : std::uint8_t { None, Empty, Spacing };
    Blank blank_nest(NodeId id) const {
        std::array<NodeId, 8> nest;
        std::size_t top = 0;
        std::size_t seen = 0;
        Blank blank = Blank::Empty;
        nest[top++] = id;
        while (top > 0) {
            const NodeId at = nest[--top];
            if (const auto* text = ast_.node(at).get_if<Node::Text>(); text != nullptr && at != id) {
                if (support::leading_spacing(text->value) != text->value.size()) return Blank::None;
                blank = Blank::Spacing;
                continue;
            }
            if (!is_brace_group(ast_.node(at))) return Blank::None;
            const auto children = ast_.children(at);
            if ((seen += children.size()) >= nest.size()) return Blank::None;
            for (NodeId child : children) nest[top++] = child;
        }
        return blank;
    }

    // Whether primes will follow the list's member before the edge at
    // `after`, and so make it a script base, which is no prefix of the list:
    // that edge is a prime, or a brace group that starts with one and goes,
    // as it does unless a guard keeps groups beside commands.
    bool primes_follow(const Frame& list, std::size_t after) const {
        return after < list.edge_end && edges_[after].second.is_group_child() &&
               prime_head(edges_[after].first, !guard(FlattenGuard::CommandContact)) == support::PrimeHead::Bare;
    }

    bool same_prefix(NodeId a, NodeId b, ContentMode mode) const {
        return attribute_prefix(a, mode) && attribute_prefix(b, mode) &&
               std::get<Node::Command>(ast_.node(a).value).name == std::get<Node::Command>(ast_.node(b).value).name;
    }
    // An empty group that parts two prefixes of one name: without it they
    // would meet, and be lowered as one. Primes that come to follow the
    // second make it a script base, which meets nothing: see
    // `primes_landed`.
    bool parts_same_prefixes(const Frame& frame, const Frame& parent, ContentMode mode) const {
        return frame.list_begin > parent.list_begin && parent.cursor < parent.edge_end &&
               edges_[parent.cursor].second.is_group_child() &&
               same_prefix(list_[frame.list_begin - 1].node, edges_[parent.cursor].first, mode);
    }

    // A bare prime has come to stand at `at` in the rebuilt list: it is read
    // back as one run with a prime before it, and as a script of any other
    // item before it. The list is settled as it will read: a run is merged
    // here, not by the finalisation after the pass, so that the groups
    // around decide on one member; a prefix before it is its script base,
    // no prefix of the list (an empty group that parted them has gone); and
    // an empty group kept only to part the item from a prefix of its name
    // goes, as it would the next time.
    void primes_landed(Frame& list, std::size_t at) {
        if (at == list.list_begin) return;
        Entry& before = list_[at - 1];
        if (before.prefix) {
            before.prefix = false;
            --list.prefixes;
        }
        if (const auto* run = ast_.node(before.node).get_if<Node::Prime>()) {
            const std::uint64_t count = run->count + std::get<Node::Prime>(ast_.node(list_[at].node).value).count;
            ast_.replace_node(before.node, Node::Prime{count});
            drop_entry(list, at);
            recorder_.count(ReportCounter::PrimeRunMerges);
            return;
        }
        if (at - 1 > list.list_begin && list_[at - 2].parts == Parting::Prefixes) {
            drop_entry(list, at - 2);  // the prefixes are neighbours now
            recorder_.count(ReportCounter::RemovedEmpty);
        } else if (at - 1 > list.list_begin && list_[at - 2].parts == Parting::PrefixRun) {
            unwrap_entry(list, at - 2);  // its last prefix meets a script base now
        }
    }
    // Puts the members of a group kept in the list in its place, as if it
    // had gone when decided. They take its flags, which hold all of theirs;
    // a prefix among them that no prime follows counts as one of the list's.
    void unwrap_entry(Frame& list, std::size_t at) {
        const Entry kept = list_[at];
        const auto children = ast_.children(kept.node);
        const ContentMode mode = std::get<Node::Group>(ast_.node(kept.node).value).mode;
        std::vector<Entry> members;
        members.reserve(children.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            Entry member{children[i], kept.flags};
            member.prefix = attribute_prefix(children[i], mode) &&
                            !(i + 1 < children.size() && ast_.node(children[i + 1]).is<Node::Prime>());
            if (member.prefix) ++list.prefixes;
            list.members |= member_bits(list, children[i], ast_.node(children[i]));
            members.push_back(member);
        }
        ast_.detach_all_children(kept.node);
        removed_ = true;
        list.list_changed = true;
        to_free_.push_back(kept.node);  // freed once the list no longer holds it
        list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(at));
        list_.insert(list_.begin() + static_cast<std::ptrdiff_t>(at), members.begin(), members.end());
        const std::size_t grown = members.size() - 1;  // at least the prefix
        if (list.run_scanned > at) list.run_scanned += static_cast<Index>(grown);
        if (list.declaratives_scanned > at) list.declaratives_scanned += static_cast<Index>(grown);
        recorder_.count(members.size() == 1 ? ReportCounter::ReplacedSingleChild : ReportCounter::InlinedMultiChild);
    }
    // Takes a member out of the rebuilt list; its node is freed with the
    // list's unwrapped groups, once the list is set.
    void drop_entry(Frame& list, std::size_t at) {
        removed_ = true;
        list.list_changed = true;
        to_free_.push_back(list_[at].node);
        list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(at));
        if (list.run_scanned > at) --list.run_scanned;
        if (list.declaratives_scanned > at) --list.declaratives_scanned;
    }

    Outcome keep(ReportCounter hit) {
        recorder_.count(hit);
        return Outcome::Keep;
    }

    // The content mode of a slot of `parent`, or none.
    std::optional<ContentMode> slot_mode(NodeId parent, Slot slot) const {
        const Node& node = ast_.node(parent);
        switch (slot.kind()) {
            case Slot::Kind::GroupChild:
                if (const auto* root = node.get_if<Node::Root>()) return root->mode;
                if (const auto* group = node.get_if<Node::Group>()) return group->mode;
                return std::nullopt;
            case Slot::Kind::Argument: {
                const auto* args = node.args();
                if (args == nullptr || slot.index() >= args->size() || !(*args)[slot.index()]) return std::nullopt;
                return (*args)[slot.index()]->value.content_mode();
            }
            case Slot::Kind::EnvBody: return std::nullopt;
            default: return ContentMode::Math;
        }
    }

    bool is_atomic_base(const Entry& entry) const {
        const Node& node = ast_.node(entry.node);
        if (node.is<Node::Char>() || node.is<Node::Prime>()) return true;
        const auto* command = node.get_if<Node::Command>();
        if (command == nullptr) return false;
        for (const auto& arg : command->args)
            if (arg) return false;
        if ((entry.flags & HasScripted) != 0) return false;
        return std::find(NON_ATOMIC_BASE_NAMES.begin(), NON_ATOMIC_BASE_NAMES.end(), command->name) ==
               NON_ATOMIC_BASE_NAMES.end();
    }

    struct Contact {
        bool contact = false;
        bool via_scripted_base = false;
    };

    // Whether `node` passes `test`, itself or, with the scripted-base guard
    // on, as the end of its chain of script bases.
    template <class Test>
    Contact contact_as(const Node& node, Test test) const {
        if (test(node)) return {true, false};
        if (!guard(FlattenGuard::CommandLikeIncludesScriptedBase) || !node.is<Node::Scripted>()) return {};
        const Node* base = &node;
        while (const auto* scripted = base->get_if<Node::Scripted>()) base = &ast_.node(scripted->base);
        return test(*base) ? Contact{true, true} : Contact{};
    }

    Contact contact_for(NodeId id) const { return contact_as(ast_.node(id), is_command_like); }

    Contact unknown_command_head(const Node& node) const {
        return contact_as(node, [](const Node& n) {
            const auto* command = n.get_if<Node::Command>();
            return command != nullptr && !command->known;
        });
    }

    static bool is_brace_group(const Node& node) {
        const auto* group = node.get_if<Node::Group>();
        return group != nullptr && (group->kind.is_explicit() || group->kind.is_implicit());
    }

    // The state after `node` read as part of an optional run; `opening` when
    // the node must open it. In text the brackets sit inside text nodes, and
    // the spaces before `[` are passed over as the reading of an optional
    // argument does. A bracket with primes or scripts is the base they hang on.
    ArgRun through_optional(const Node& scripted, bool opening) const {
        const Node* base = &scripted;
        while (const auto* s = base->get_if<Node::Scripted>()) base = &ast_.node(s->base);
        const Node& node = *base;
        if (const auto* c = node.get_if<Node::Char>()) {
            if (opening) return c->value == U'[' ? ArgRun::Optional : ArgRun::None;
            return c->value == U']' ? ArgRun::AfterOptional : ArgRun::Optional;
        }
        if (const auto* t = node.get_if<Node::Text>()) {
            std::string_view text = t->value;
            if (opening) {
                text.remove_prefix(std::min(text.find_first_not_of(" \t\r\n"), text.size()));
                if (!text.starts_with('[')) return ArgRun::None;
                text.remove_prefix(1);
            }
            const std::size_t close = text.find(']');
            if (close == std::string_view::npos) return ArgRun::Optional;
            return close + 1 == text.size() ? ArgRun::AfterOptional : ArgRun::None;
        }
        return opening ? ArgRun::None : ArgRun::Optional;
    }

    void step_run(RunState& run, const Node& node) const {
        if (run.outer == ArgRun::Optional) {
            run.outer = through_optional(node, false);
            if (run.outer != ArgRun::Optional) {
                run.inner = ArgRun::None;
            } else if (const Contact head = unknown_command_head(node); head.contact) {
                run.inner = ArgRun::Head;
                run.inner_via_scripted_base = head.via_scripted_base;
            } else {
                run.inner = run.inner != ArgRun::None && is_brace_group(node) ? ArgRun::Groups : ArgRun::None;
            }
            return;
        }
        if (const Contact head = unknown_command_head(node); head.contact) {
            run.outer = ArgRun::Head;
            run.outer_via_scripted_base = head.via_scripted_base;
        } else if (run.outer != ArgRun::None && is_brace_group(node)) {
            run.outer = ArgRun::Groups;
        } else {
            run.outer = run.outer == ArgRun::Head ? through_optional(node, true) : ArgRun::None;
        }
    }

    // Whether the list entry at `at` would stand in an unknown command's
    // argument run. Entries before it are final, and a list's groups are
    // decided left to right, so each entry is stepped through once.
    Contact in_argument_run(Frame& list, std::size_t at) const {
        for (; list.run_scanned < at; ++list.run_scanned) step_run(list.run, ast_.node(list_[list.run_scanned].node));
        const RunState& run = list.run;
        if (run.outer == ArgRun::Optional) {
            return run.inner == ArgRun::None ? Contact{} : Contact{true, run.inner_via_scripted_base};
        }
        return run.outer == ArgRun::None ? Contact{} : Contact{true, run.outer_via_scripted_base};
    }

    // The sibling before the group and the group's first child, as the
    // earlier decisions left them, and the group's place in an unknown
    // command's argument run.
    Contact touches_command(const Frame& frame, Frame& parent, std::span<const Entry> entries) const {
        Contact result;
        auto add = [&](Contact c) {
            result.contact = result.contact || c.contact;
            result.via_scripted_base = result.via_scripted_base || c.via_scripted_base;
        };
        if (frame.list_begin > parent.list_begin) add(contact_for(list_[frame.list_begin - 1].node));
        if (!entries.empty()) add(contact_for(entries[0].node));
        add(in_argument_run(parent, frame.list_begin));
        return result;
    }

    // Declared first: the work-list references below bind into it.
    support::KeptBuffers<Buffers> kept_;
    Ast& ast_;
    const FlattenGroupsGuards& guards_;
    ReportRecorder& recorder_;
    std::vector<NodeId>* changed_lists_;
    const PassSight& sight_;
    std::vector<Frame>& frames_;
    std::vector<Edge>& edges_;
    std::vector<Entry>& list_;
    std::vector<NodeId>& to_free_;
    std::vector<NodeId>& ids_;
    std::vector<std::uint8_t>& closes_;
    bool removed_ = false;
    Parting parting_ = Parting::None;  // why the group just decided stays, if to part
};

}  // namespace

bool flatten_groups(syntax::Ast& ast, syntax::ast::NodeId root, const FlattenGroupsGuards& guards,
                    ReportRecorder& recorder, std::vector<syntax::ast::NodeId>* changed_lists,
                    const PassSight& sight) {
    util::work_count += ast.node_count();  // the walk, counted at once
    util::check_work();
    Flattener flattener(ast, guards, recorder, changed_lists, sight);
    flattener.run(root);
    return flattener.removed();
}

}  // namespace quorvel::transform::passes
