// Attribute lowering: works out which font, size and style values are in
// force for every piece of content, removes the commands that set them, and
// writes the values back around maximal runs of content in one canonical
// form.
//
// The mutually recursive steps of the algorithm (canonicalising a subtree,
// collecting a list, a prefix body or an explicit group) run as tasks on an
// explicit stack. A task collects its items one by one into the shared pair
// stack; a task started for an item leaves its pairs on top of the pairs of
// the task that started it, which is where that task's output continues.
//
// Every node a task rebuilds is a detached root while it is rebuilt, so the
// attaches stay cheap however deep the tree is. Subtrees holding nothing the
// pass acts on are left as they are: lowering them would change nothing.
#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "transform/buildrel.hpp"
#include "transform/passes/atom_class.hpp"
#include "transform/passes/exposure.hpp"
#include "transform/passes/passes.hpp"
#include "transform/passes/tree_support.hpp"
#include "util/work_count.hpp"

namespace quorvel::transform::passes {

namespace {

using support::AtomClass;

using syntax::Ast;
using syntax::ContentMode;
using syntax::NodeKind;
using syntax::Slot;
using syntax::ast::Argument;
using syntax::ast::ArgumentValue;
using syntax::ast::GroupKind;
using syntax::ast::Node;
using syntax::ast::NodeId;

constexpr std::size_t axis_index(Attr attr) noexcept { return static_cast<std::size_t>(attr); }

std::span<const Attr> axes_of(ContentMode mode) noexcept {
    if (mode == ContentMode::Math) return MATH_AXES;
    return TEXT_AXES;
}

// An attribute value is named by its line in CANONICAL_FORMS, which every
// recognised value has exactly one of: 1 + the line's index. 0 is unset.
using ValueCode = std::uint8_t;

const CanonicalForm* canonical_line(ValueCode code) noexcept {
    if (code == 0 || code > CANONICAL_FORMS.size()) return nullptr;
    return &CANONICAL_FORMS[code - 1];
}

struct RowCodes {
    std::array<ValueCode, DECLARATIVE_FORMS.size()> declarative{};
    std::array<ValueCode, PREFIX_FORMS.size()> prefix{};
};

// A row without a canonical line would still need a value of its own; it
// gets a code past the table, which writes nothing back.
const RowCodes& row_codes() {
    static const RowCodes codes = [] {
        RowCodes c;
        auto code_of = [](const AttributeCommandSpec& row, std::size_t fallback) -> ValueCode {
            const CanonicalForm* line = lookup_canonical_form(row.attr, row.value);
            return line != nullptr ? static_cast<ValueCode>(line - CANONICAL_FORMS.data() + 1)
                                   : static_cast<ValueCode>(fallback);
        };
        for (std::size_t i = 0; i < DECLARATIVE_FORMS.size(); ++i) c.declarative[i] = code_of(DECLARATIVE_FORMS[i], 64 + i);
        for (std::size_t i = 0; i < PREFIX_FORMS.size(); ++i) c.prefix[i] = code_of(PREFIX_FORMS[i], 128 + i);
        return c;
    }();
    return codes;
}

ValueCode code_of_declarative(const AttributeCommandSpec& row) {
    return row_codes().declarative[static_cast<std::size_t>(&row - DECLARATIVE_FORMS.data())];
}
ValueCode code_of_prefix(const AttributeCommandSpec& row) {
    return row_codes().prefix[static_cast<std::size_t>(&row - PREFIX_FORMS.data())];
}

// The attribute state in force, one value code per axis. Every collected
// pair carries a copy, so it is kept to seven bytes; equal codes are equal
// values, so it compares exactly as the model's `AttributeState` does.
class State {
public:
    ValueCode get(Attr attr) const noexcept { return slots_[axis_index(attr)]; }

    // False exactly when the axis already held the value.
    bool set(Attr attr, ValueCode code) noexcept {
        ValueCode& slot = slots_[axis_index(attr)];
        if (slot == code) return false;
        slot = code;
        return true;
    }

    void clear(std::span<const Attr> axes) noexcept {
        for (Attr attr : axes) slots_[axis_index(attr)] = 0;
    }

    AxisList diff_axes(const State& other, std::span<const Attr> axes) const noexcept {
        AxisList differing;
        for (Attr attr : axes)
            if (get(attr) != other.get(attr)) differing.push_back(attr);
        return differing;
    }

    friend bool operator==(const State&, const State&) = default;

private:
    std::array<ValueCode, ATTR_COUNT> slots_{};
};

// The distinct states of a task's pairs while there are a few: what a brace
// group or prefix body asks of its pairs depends on their states alone, so
// it asks these, which come up with the pairs of a task below instead of
// being gathered again at every level.
class StateSet {
public:
    static constexpr std::size_t kMost = 4;

    bool many() const noexcept { return many_; }
    std::span<const State> states() const noexcept { return {states_.data(), size_}; }

    void add(const State& state) noexcept {
        if (many_) return;
        for (std::size_t i = 0; i < size_; ++i)
            if (states_[i] == state) return;
        if (size_ == kMost) {
            many_ = true;
            return;
        }
        states_[size_++] = state;
    }
    void add(const StateSet& other) noexcept {
        if (other.many_) many_ = true;
        for (const State& state : other.states()) add(state);
    }
    void clear() noexcept {
        size_ = 0;
        many_ = false;
    }

private:
    std::array<State, kMost> states_{};
    std::uint8_t size_ = 0;
    bool many_ = false;
};

struct Pair {
    NodeId node;
    State state;
    // Pairs of one stretch stood side by side in the same list; a removed
    // command or a brace ends a stretch.
    std::uint32_t stretch = 0;
    // The first and the last pair of a brace group or prefix body that was
    // collected into the list around it: TeX set that group as one ordinary
    // atom, spaced from its neighbours as such.
    bool opens = false;
    bool closes = false;
    // An ellipsis that what lowering takes out parted from the cell end
    // after it (see `collect`).
    bool dots_parted = false;
};

// The stretch of a `&` or row end in a math list: it ends a cell.
constexpr std::uint32_t kCellEnd = UINT32_MAX;
// The stretch of a line break in the formula's own list, where it breaks
// the line: it stays out of the wrappers around it.
constexpr std::uint32_t kLineBreak = UINT32_MAX - 1;

// The axis TeX may set anew in a slot: fraction parts, scripts, cells, a
// root's index and the top of a stacked operator take a style of their own,
// whatever style stands outside. Which commands do is not known here, so
// every slot but a script base starts with no style, and a style switch in
// it stays.
constexpr std::array<Attr, 1> STYLE_AXIS{Attr::MathStyle};

// TeX sets every cell of an alignment as a formula of its own, which starts
// with no font family: a font outside the alignment does not reach its
// cells, and one inside a cell is not redundant to it.
constexpr std::array<Attr, 1> FONT_AXIS{Attr::MathFont};

bool is_dots(const Node& node) {
    const auto* command = node.get_if<Node::Command>();
    return command != nullptr && command->name == "dots" && command->args.empty();
}


// One bit of a 64-bit filter per name, from its length and end letters: a
// name whose bit is clear is in no list the filter was built from.
std::uint64_t name_bit(std::string_view name) noexcept {
    if (name.empty()) return 1;
    const auto mix = name.size() * 7 + static_cast<unsigned char>(name.front()) * 3 +
                     static_cast<unsigned char>(name.back());
    return std::uint64_t{1} << (mix & 63);
}

// Names any row of the two command tables uses, for the quick test of
// whether a subtree holds anything to lower; most other names are turned
// away by the filters without a search.
struct AttributeNames {
    std::vector<std::string_view> declaratives;
    std::vector<std::string_view> prefixes;
    std::uint64_t declarative_filter = 0;
    std::uint64_t prefix_filter = 0;

    bool is_declarative(std::string_view name) const {
        return (declarative_filter & name_bit(name)) != 0 &&
               std::binary_search(declaratives.begin(), declaratives.end(), name);
    }
    bool is_prefix(std::string_view name) const {
        return (prefix_filter & name_bit(name)) != 0 && std::binary_search(prefixes.begin(), prefixes.end(), name);
    }
};

const AttributeNames& attribute_names() {
    static const AttributeNames names = [] {
        AttributeNames n;
        for (const AttributeCommandSpec& row : DECLARATIVE_FORMS) n.declaratives.push_back(row.name);
        for (const AttributeCommandSpec& row : PREFIX_FORMS) n.prefixes.push_back(row.name);
        for (auto* list : {&n.declaratives, &n.prefixes}) {
            std::sort(list->begin(), list->end());
            list->erase(std::unique(list->begin(), list->end()), list->end());
        }
        for (std::string_view name : n.declaratives) n.declarative_filter |= name_bit(name);
        for (std::string_view name : n.prefixes) n.prefix_filter |= name_bit(name);
        return n;
    }();
    return names;
}

bool splits_around_white_space(std::string_view text) noexcept {
    const support::WhiteSpaceEdges edges = support::white_space_edges(text);
    return edges.leading < text.size() && (edges.leading > 0 || edges.trailing > 0);
}

bool is_white_space_only(std::string_view text) noexcept {
    return support::white_space_edges(text).leading == text.size();
}

// Whether a text stands where its own list or slot is collected in math
// mode. Elsewhere it is only collected in math when the group around it is
// dissolved by a math declarative or read as the body of a math prefix,
// which lowering visits for their own sake.
bool stands_in_math(const Ast& ast, NodeId id) {
    const syntax::ParentLink* link = ast.parent_link(id);
    if (link == nullptr) return true;
    const Node& parent = ast.node(link->parent);
    switch (link->slot.kind()) {
        case Slot::Kind::GroupChild:
            if (const auto* group = parent.get_if<Node::Group>()) return group->mode == ContentMode::Math;
            if (const auto* root = parent.get_if<Node::Root>()) return root->mode == ContentMode::Math;
            return true;
        case Slot::Kind::Argument: {
            const auto& arg = (*parent.args())[link->slot.index()];
            return arg->value.content_mode() != ContentMode::Text;
        }
        default: return true;
    }
}

// Whether lowering could change a node on its own: an attribute command of
// either mode, or a text in math with white space around its content.
bool acts_on(const Ast& ast, NodeId id, const Node& node) {
    const AttributeNames& names = attribute_names();
    if (const auto* d = node.get_if<Node::Declarative>()) return names.is_declarative(d->name);
    if (const auto* c = node.get_if<Node::Command>()) return names.is_prefix(c->name);
    if (const auto* t = node.get_if<Node::Text>()) {
        return stands_in_math(ast, id) && splits_around_white_space(t->value);
    }
    return false;
}

// The index of the only filled `Mandatory` slot holding content, if there is
// exactly one.
std::optional<std::size_t> single_mandatory_content(const syntax::ast::ArgumentSlots& args) {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& arg = args[i];
        if (!arg || !std::holds_alternative<syntax::ast::ArgumentKind::Mandatory>(arg->kind.value) ||
            !arg->value.is_content()) {
            continue;
        }
        if (found) return std::nullopt;
        found = i;
    }
    return found;
}

enum class Kind : std::uint8_t {
    List,        // the children of a Root or Group, emitted back into it
    Slots,       // the single-node slots of any other node, one at a time
    PrefixBody,  // the body of a prefix command, handed to the list around it
    Explicit,    // the content of a brace group holding a declarative
};

struct Task {
    Kind kind;
    ContentMode mode;  // the mode the items are collected in
    NodeId node;
    State start;    // the state the collection started with: the base of its runs
    State running;  // the state after the items collected so far
    std::size_t items_begin = 0;
    std::size_t cursor = 0;
    std::size_t items_end = 0;
    std::size_t pairs_begin = 0;
    // Slots: the node's own state and mode, its edges still to do, and
    // the placeholder standing in the slot being lowered.
    State node_state;
    ContentMode node_mode = ContentMode::Math;
    std::size_t edges_begin = 0;
    std::size_t edges_cursor = 0;
    std::size_t edges_end = 0;
    std::optional<NodeId> placeholder;
    bool env_body = false;
    // Somewhere below an environment body.
    bool in_env = false;
    // List: a math list, whose cells are lowered one by one from its
    // start; the pairs of the cell being collected begin at `cell_begin`
    // (the task's first pair in any other task).
    bool cells = false;
    std::size_t cell_begin = 0;
    // A row end here is no alignment's: the formula's own list when it
    // holds no `&` or `\cr`, and a brace group, prefix body or script base
    // standing in such a list, where TeX breaks nothing.
    bool line_list = false;
    // The item before was a declarative taken out of text: a spacing run
    // after it only ended its name.
    bool after_control_word = false;
    // Explicit: the group holds no declarative of its own; a group inside
    // it with the same start dissolved, and one did as its content declares.
    bool own_braces = false;
    bool differs_inside = false;
    bool declares_inside = false;
    // The support::MemberMark bits of the task's pairs, which decide whether
    // a brace group keeps its braces: marked as each pair is collected, and
    // handed on with the pairs a task leaves to the task below, so that no
    // group looks at them again.
    std::uint8_t holds = 0;
    StateSet states;  // of the task's pairs, kept as `holds` is
    // PrefixBody: the command's row; the state the absorption test and
    // (across modes) the emitted runs are measured against; the state of
    // the list around it; whether the body is a brace group collected by
    // a task of its own.
    const AttributeCommandSpec* row = nullptr;
    bool across_modes = false;
    bool explicit_body = false;
    State measure;
    State outer;
};

struct SlotEdge {
    NodeId child;
    ContentMode mode;
    bool env_body;
    bool own_style;  // see `STYLE_AXIS`
    bool argument;   // the writer puts its braces around the content, which reads back as its list
};

struct Run {
    std::size_t begin;
    std::size_t end;
    State state;
    std::uint8_t later_at_base;  // axes that a later run of the same list leaves at the base value
};

// A set of nodes: the version of each marked node, by slot index.
struct NodeMarks {
    std::vector<std::uint32_t> versions;
    std::vector<std::uint32_t> marked;

    // False when the node was marked already.
    bool mark(NodeId id) {
        if (id.index >= versions.size()) versions.resize(std::size_t{id.index} + 1, 0);
        if (versions[id.index] == id.version) return false;
        versions[id.index] = id.version;
        marked.push_back(id.index);
        return true;
    }

    bool has(NodeId id) const {
        return id.index < versions.size() && versions[id.index] == id.version && id.version != 0;
    }

    void reset() {
        for (std::uint32_t index : marked) versions[index] = 0;
        support::reset(marked);
        if (versions.capacity() > support::kKeptCapacity) {
            versions.clear();
            versions.shrink_to_fit();
        }
    }
};

struct Buffers {
    std::vector<Task> tasks;
    std::vector<NodeId> items;
    std::vector<Pair> pairs;
    std::vector<SlotEdge> edges;
    std::vector<Run> runs;
    std::vector<NodeId> chunk;
    std::vector<NodeId> wrapped;
    std::vector<NodeId> out;
    std::vector<NodeId> ids;
    std::vector<NodeId> walk;
    std::vector<std::uint8_t> walk_under;  // per walk entry: what it lies inside (kIn... bits)
    std::vector<NodeId> standing;  // prefix commands that may stay as written
    NodeMarks dirty;
    // A `\buildrel` takes the `\over` after it as the end of its first
    // argument, no infix: the `\over`s whose left operand is one or holds
    // one as an item; the nodes at or above any other, whose `\over` the
    // parser may find further on.
    NodeMarks buildrel_over;
    NodeMarks buildrel;
    std::vector<NodeId> buildrels;
    std::vector<NodeId> infixes;

    void reset() {
        support::reset(tasks);
        support::reset(pairs);
        support::reset(edges);
        support::reset(runs);
        support::reset(items);
        support::reset(chunk);
        support::reset(wrapped);
        support::reset(out);
        support::reset(ids);
        support::reset(walk);
        support::reset(standing);
        support::reset(walk_under);
        support::reset(buildrels);
        support::reset(infixes);
        dirty.reset();
        buildrel.reset();
        buildrel_over.reset();
    }
};

class Lowering {
public:
    Lowering(Ast& ast, ReportRecorder& recorder, const FlattenGroupsGuards* flattening, const PassSight& sight)
        : ast_(ast),
          recorder_(recorder),
          math_(sight.math),
          text_(sight.text),
          empty_groups_go_(flattening != nullptr && !(*flattening)[FlattenGuard::EmptyGroup]),
          empty_groups_go_in_env_(empty_groups_go_ && !(*flattening)[FlattenGuard::EnvBody]),
          keeps_text_edges_(flattening == nullptr || flattening->ligature_break),
          atom_spacing_(flattening != nullptr && flattening->atom_spacing),
          tasks_(kept_.get().tasks),
          items_(kept_.get().items),
          pairs_(kept_.get().pairs),
          edges_(kept_.get().edges),
          runs_(kept_.get().runs),
          chunk_(kept_.get().chunk),
          wrapped_(kept_.get().wrapped),
          out_(kept_.get().out),
          ids_(kept_.get().ids) {}
    Lowering(const Lowering&) = delete;
    Lowering& operator=(const Lowering&) = delete;

    Lowered run(NodeId root) {
        std::vector<NodeId>& standing = kept_.get().standing;
        bool nested = false;
        if (!mark_dirty(root, standing, nested) && !standing.empty() && !nested && all_stand(standing)) {
            // Lowering would take each command apart and write the same one
            // back: only the counts change. A list ending in one, and every
            // single-node slot holding one, ends on a state its own does not
            // hold, which counts as an empty segment.
            for (NodeId id : standing) {
                const syntax::ParentLink* link = ast_.parent_link(id);
                const AttributeCommandSpec& row =
                    *lookup_prefix_form(*place_mode(*link), std::get<Node::Command>(ast_.node(id).value).name);
                count(row, AttributeCounter::ConsumedPrefixes);
                count(*canonical_line(code_of_prefix(row)), AttributeCounter::EmittedPrefixes);
                if (!link->slot.is_group_child() || link->slot.index() + 1 == ast_.children(link->parent).size())
                    recorder_.count(ReportCounter::EliminatedEmptySegments);
            }
            return Lowered::CountsOnly;
        }
        for (NodeId id : standing) mark_upwards(id, root);
        if (!dirty(root)) return Lowered::Nothing;
        push_canonicalize(root, State{}, ContentMode::Math);
        while (!tasks_.empty()) {
            Task& task = tasks_.back();
            if (task.cursor < task.items_end) {
                collect(items_[task.cursor++]);
            } else {
                complete();
            }
        }
        // A declarative written in the list of an infix is read into one
        // of its operands; one that joins the left operand governs the
        // right one, as those there were carried.
        for (NodeId id : kept_.get().infixes)
            if (ast_.node_opt(id) != nullptr && support::join_infix_neighbours(ast_, id) &&
                !transform::buildrel::closed_by(ast_, id))
                carry_declaratives(id);
        return Lowered::Rebuilt;
    }

private:
    // ---- Which subtrees hold anything to lower -------------------------------

    static constexpr std::uint8_t kInStanding = 1;  // inside a set-aside prefix command
    static constexpr std::uint8_t kInInfix = 2;     // inside an infix operand

    // Marks every node at or above something the pass acts on; false when the
    // tree holds nothing of the kind. Prefix commands that could stay as
    // written are set aside in `standing` instead; `nested` tells that one
    // of them lies inside another or in an infix operand.
    bool mark_dirty(NodeId root, std::vector<NodeId>& standing, bool& nested) {
        std::vector<NodeId>& walk = kept_.get().walk;
        std::vector<std::uint8_t>& under = kept_.get().walk_under;
        walk.push_back(root);
        under.push_back(0);
        while (!walk.empty()) {
            const NodeId id = walk.back();
            walk.pop_back();
            std::uint8_t in = under.back();
            under.pop_back();
            const Node& node = ast_.node(id);
            switch (node.kind()) {
                case NodeKind::Root:
                case NodeKind::Group: {
                    const syntax::ast::ChildList& list = *node.child_list();
                    walk.insert(walk.end(), list.begin(), list.end());
                    // One push per child: the lists are short, and a counted
                    // fill insert costs more than the pushes.
                    for (std::size_t i = 0; i < list.size(); ++i) under.push_back(in);
                    continue;  // a Root or Group is not acted on itself
                }
                case NodeKind::Command:
                case NodeKind::Declarative:
                case NodeKind::Text:
                    if ((in & kInInfix) != 0 && node.is<Node::Command>() &&
                        std::get<Node::Command>(node.value).name == "buildrel")
                        kept_.get().buildrels.push_back(id);
                    if (acts_on(ast_, id, node)) {
                        if (may_stand(id, node)) {
                            standing.push_back(id);
                            if (in != 0) nested = true;
                            in |= kInStanding;
                        } else {
                            mark_upwards(id, root);
                        }
                    }
                    break;
                case NodeKind::Infix: kept_.get().infixes.push_back(id); break;
                case NodeKind::Environment:
                case NodeKind::Scripted: break;
                default: continue;  // nothing below, nothing to act on
            }
            syntax::for_each_edge(node, [&](NodeId child, Slot slot) {
                walk.push_back(child);
                const bool infix = slot.kind() == Slot::Kind::InfixLeft || slot.kind() == Slot::Kind::InfixRight;
                under.push_back(infix ? in | kInInfix : in);
            });
        }
        for (NodeId id : kept_.get().buildrels) {
            if (const std::optional<NodeId> over = over_of_buildrel(id))
                kept_.get().buildrel_over.mark(*over);
            else
                mark_upwards(id, root, kept_.get().buildrel);
        }
        for (NodeId id : kept_.get().infixes) carry_across_infix(id, root);
        return dirty(root);
    }

    void mark_upwards(NodeId id, NodeId root) { mark_upwards(id, root, kept_.get().dirty); }

    void mark_upwards(NodeId id, NodeId root, NodeMarks& marks) {
        for (NodeId current = id; marks.mark(current) && current != root;) {
            const syntax::ParentLink* link = ast_.parent_link(current);
            if (link == nullptr) break;
            current = link->parent;
        }
    }

    // The mode the content of a place is collected in: a list's own mode,
    // an argument's content mode, math in a script slot. None for the places
    // lowering leaves as they are (infix operands) or where a command cannot
    // stand (an environment body).
    std::optional<ContentMode> place_mode(const syntax::ParentLink& link) const {
        const Node& parent = ast_.node(link.parent);
        switch (link.slot.kind()) {
            case Slot::Kind::GroupChild:
                if (const auto* root = parent.get_if<Node::Root>()) return root->mode;
                return std::get<Node::Group>(parent.value).mode;
            case Slot::Kind::Argument: return (*parent.args())[link.slot.index()]->value.content_mode();
            case Slot::Kind::ScriptBase:
            case Slot::Kind::ScriptSub:
            case Slot::Kind::ScriptSup: return ContentMode::Math;
            default: return std::nullopt;
        }
    }

    // A prefix command in a list or a single-node slot, in the form
    // lowering writes its value back in: the canonical command of the
    // place's mode, known, with one plain mandatory argument holding an
    // implicit group of that mode. Its content then comes back unchanged
    // when nothing else in the tree is lowered, unless the group is empty
    // (the command then goes) or, in math, holds a text (white space splits
    // the content) or a cell end (written out of the wrapper).
    bool may_stand(NodeId id, const Node& node) const {
        const auto* command = node.get_if<Node::Command>();
        if (command == nullptr || !command->known || command->args.size() != 1) return false;
        if (single_mandatory_content(command->args) != std::optional<std::size_t>(0)) return false;
        const Argument& arg = *command->args[0];
        if (arg.no_leading_space) return false;
        const syntax::ParentLink* link = ast_.parent_link(id);
        if (link == nullptr) return false;
        const std::optional<ContentMode> place = place_mode(*link);
        if (!place) return false;
        const ContentMode mode = *place;
        if (arg.value.content_mode() != mode) return false;
        const AttributeCommandSpec* row = lookup_prefix_form(mode, command->name);
        if (row == nullptr) return false;
        const CanonicalForm* line = canonical_line(code_of_prefix(*row));
        if (line == nullptr || !line->declarative(mode) || !line->prefix(mode) || line->prefix(mode)->name != command->name)
            return false;
        const auto* body = ast_.node(*arg.value.content()).get_if<Node::Group>();
        if (body == nullptr || !body->kind.is_implicit() || body->mode != mode || body->children.empty()) return false;
        if (mode == ContentMode::Math) {
            for (NodeId child : body->children)
                if (ast_.node(child).is<Node::Text>() || ast_.node(child).ends_cell()) return false;
        }
        return true;
    }

    // Whether every set-aside command stays as written, when nothing else in
    // the tree is lowered and none lies inside another (which sets its state)
    // or in an infix operand (never lowered, so never counted): every state
    // is then empty but inside the commands, so each is written back unless
    // it stands in a list next to one of the same name (their content joins).
    bool all_stand(std::span<const NodeId> standing) const {
        for (NodeId id : standing) {
            const syntax::ParentLink* link = ast_.parent_link(id);
            if (!link->slot.is_group_child()) continue;
            const std::span<const NodeId> siblings = ast_.children(link->parent);
            const std::size_t index = link->slot.index();
            const syntax::ast::Name& name = std::get<Node::Command>(ast_.node(id).value).name;
            for (const std::size_t step : {std::size_t(-1), std::size_t(1)}) {
                // Empty groups that flattening takes out part no runs.
                std::size_t k = index + step;
                if (empty_groups_go_) {
                    const ContentMode mode = *place_mode(*link);
                    while (k < siblings.size() && is_empty_group(siblings[k], mode)) k += step;
                }
                if (k >= siblings.size()) continue;  // wraps below zero
                const auto* next = ast_.node(siblings[k]).get_if<Node::Command>();
                if (next != nullptr && next->name == name) return false;
            }
        }
        return true;
    }

    // False when the node was marked already.
    bool mark(NodeId id) { return kept_.get().dirty.mark(id); }

    bool dirty(NodeId id) const { return kept_.get().dirty.has(id); }

    // ---- Counting ------------------------------------------------------------

    void count(const AttributeCommandSpec& row, AttributeCounter counter) {
        if (recorder_.is_collecting()) recorder_.count_attribute(AttributeSet{row.value, row.attr}, counter);
    }
    void count(const CanonicalForm& line, AttributeCounter counter) {
        if (recorder_.is_collecting()) recorder_.count_attribute(AttributeSet{line.value, line.attr}, counter);
    }

    // Attribute commands at the end of a list (or cell) that govern no content.
    void check_empty_segment(const Task& task) {
        const State& last = pairs_.size() > task.cell_begin ? pairs_.back().state : task.start;
        if (!task.running.diff_axes(last, axes_of(task.mode)).empty()) {
            recorder_.count(ReportCounter::EliminatedEmptySegments);
        }
    }

    // ---- Starting tasks --------------------------------------------------------

    Task& push_task(Kind kind, ContentMode mode, NodeId node, const State& state) {
        ++stretch_;
        const bool in_env =
            !tasks_.empty() && (tasks_.back().in_env || (tasks_.back().kind == Kind::Slots && tasks_.back().env_body));
        const bool line_list = !tasks_.empty() && tasks_.back().line_list &&
                               (tasks_.back().kind != Kind::Slots || in_script_base(tasks_.back()));
        Task& task = tasks_.emplace_back();
        task.in_env = in_env;
        task.line_list = line_list && kind != Kind::List;
        task.kind = kind;
        task.mode = mode;
        task.node = node;
        task.start = state;
        task.running = state;
        task.items_begin = task.cursor = task.items_end = items_.size();
        task.pairs_begin = task.cell_begin = pairs_.size();
        task.edges_begin = task.edges_cursor = task.edges_end = edges_.size();
        return task;
    }

    // Whether the task writes its items back into a list or slot of its own,
    // rather than handing them to the task below it.
    static bool lists_items(const Task& task) { return task.kind == Kind::List || task.kind == Kind::Slots; }

    // Appends the pair of a node collected by the task on top.
    void add_pair(NodeId node, const State& state, std::uint32_t stretch = 0) {
        Task& task = tasks_.back();
        task.holds |= marks_of(node);
        task.states.add(state);
        pairs_.push_back({node, state, stretch, !lists_items(task) && pairs_.size() == task.pairs_begin});
    }

    // What a pair's node is of what keeps a group's braces (see
    // `support::member_marks`), an infix counted as a cell end: out of the
    // group (a `\buildrel`'s `\over`, before the tail a declarative may
    // stand in), its left operand would take the items before it.
    std::uint8_t marks_of(NodeId id) const {
        const Node& node = ast_.node(id);
        return support::member_marks(ast_, node) | (node.is<Node::Infix>() ? support::kEndsCell : 0);
    }

    // Hands the detached nodes to the task on top as its items.
    void add_items(std::span<const NodeId> nodes) {
        items_.insert(items_.end(), nodes.begin(), nodes.end());
        tasks_.back().items_end = items_.size();
    }

    // Hands the children of a Root or Group to the task on top as its items,
    // leaving them detached roots and the list empty.
    void take_children(NodeId list) {
        add_items(ast_.children(list));
        ast_.detach_all_children(list);
    }

    // Lowers everything below a dirty node in place; the node itself stays.
    void push_canonicalize(NodeId id, const State& state, ContentMode mode) {
        const Node& node = ast_.node(id);
        if (const auto* list = node.child_list()) {
            if (list->size() == 0) return;
            const ContentMode own = node.is<Node::Root>() ? std::get<Node::Root>(node.value).mode
                                                          : std::get<Node::Group>(node.value).mode;
            // A math list holding `&`, `\\` or `\cr` is the body of an
            // alignment, whose cells TeX sets as groups of their own: an
            // environment's, a plain TeX array's, `\substack`'s. The
            // formula's own list is one only with `&` or `\cr`: a `\\` alone
            // there breaks the line, and what runs goes on after it.
            const bool root = node.is<Node::Root>();
            const bool cells = own == ContentMode::Math && holds_cell_end_once_lowered(id, false, root);
            State start = state;
            // Math inside text (`$…$` in `\text`) is a formula of its own:
            // TeX starts it with no font family and in text style, so
            // nothing the enclosing math set reaches it.
            if (own != mode) start.clear(axes_of(own));
            if (cells) start.clear(FONT_AXIS);
            Task& task = push_task(Kind::List, own, id, start);
            task.cells = own == ContentMode::Math && (cells || !root);
            task.line_list = own == ContentMode::Math && root && !cells;
            take_children(id);
            return;
        }
        const std::size_t begin = edges_.size();
        syntax::for_each_edge(node, [&](NodeId child, Slot slot) {
            if (!dirty(child)) return;
            ContentMode edge_mode = ContentMode::Math;
            switch (slot.kind()) {
                case Slot::Kind::Argument:
                    edge_mode = *(*node.args())[slot.index()]->value.content_mode();
                    break;
                case Slot::Kind::InfixLeft:
                case Slot::Kind::InfixRight: return;  // infix operands are never lowered
                case Slot::Kind::ScriptSub:
                case Slot::Kind::ScriptSup:
                    // A cell end is never a script: one that prefixes hold
                    // alone as all of a script stays in them, as it was
                    // read, where lowering would make it the script itself
                    // (the script's braces are its slot's). A base keeps
                    // braces instead (see `finish_slot`).
                    if (is_wrapped_cell_end(child)) return;
                    break;
                default: break;
            }
            edges_.push_back({child, edge_mode, slot.kind() == Slot::Kind::EnvBody,
                              slot.kind() != Slot::Kind::ScriptBase, slot.kind() == Slot::Kind::Argument});
        });
        if (edges_.size() == begin) return;
        const std::size_t end = edges_.size();
        Task& task = push_task(Kind::Slots, mode, id, state);
        task.node_state = state;
        task.node_mode = mode;
        task.edges_begin = task.edges_cursor = begin;
        task.edges_end = end;
    }

    // A font or size declarative is an assignment that lasts to the end of
    // its group, and an infix splits its group without ending it: what the
    // left operand's own list sets governs the right operand too. A style
    // switch is an item of the left's list and stays there, as does whatever
    // a brace group or prefix inside it sets. A rule that turns the infix
    // into a prefix command gives each operand an argument of its own, so
    // the right operand gets, in front of its content, the declaratives it
    // lies under, unless its own leading ones set those axes anew. Where the
    // value is in force around the infix anyway, lowering finds it redundant.
    // Every infix is done here, those in operands included, which are not
    // lowered otherwise; each operand list is looked at once.
    void carry_across_infix(NodeId infix, NodeId root) {
        const auto& value = std::get<Node::Infix>(ast_.node(infix).value);
        const NodeId left = value.left;
        if (!dirty(left)) return;  // it holds no declarative
        if (value.name == "over" && (kept_.get().buildrel_over.has(infix) || kept_.get().buildrel.has(left))) return;
        if (const std::optional<NodeId> first = carry_declaratives(infix)) mark_upwards(*first, root);
    }

    // Puts the declaratives that the left operand of `infix` sets and the
    // right one does not set anew in front of the right one; the first of
    // them, if any.
    std::optional<NodeId> carry_declaratives(NodeId infix) {
        static constexpr std::array<Attr, 2> CARRIED{Attr::MathFont, Attr::MathSize};
        const auto& value = std::get<Node::Infix>(ast_.node(infix).value);
        const NodeId left = value.left;
        const NodeId right = value.right;
        State end;
        std::uint8_t carried = 0;
        for (NodeId item : operand_items(left)) {
            const AttributeCommandSpec* row = declarative_of(ast_.node(item), ContentMode::Math);
            if (row == nullptr || std::find(CARRIED.begin(), CARRIED.end(), row->attr) == CARRIED.end()) continue;
            end.set(row->attr, code_of_declarative(*row));
            carried |= axis_bit(row->attr);
        }
        if (carried == 0) return std::nullopt;
        bool governs = false;
        for (NodeId item : operand_items(right)) {
            const Node& node = ast_.node(item);
            if (const AttributeCommandSpec* row = declarative_of(node, ContentMode::Math))
                carried &= static_cast<std::uint8_t>(~axis_bit(row->attr));
            if (!node.is<Node::Declarative>()) {
                governs = true;  // content, or a script after its declarative
                break;
            }
        }
        if (!governs || carried == 0) return std::nullopt;

        ids_.clear();
        for (Attr attr : CARRIED) {
            if ((carried & axis_bit(attr)) == 0) continue;
            const CanonicalForm* line = canonical_line(end.get(attr));
            if (line == nullptr || !line->declarative(ContentMode::Math)) continue;
            ids_.push_back(ast_.new_node(Node::Declarative{std::string(line->declarative(ContentMode::Math)->name), {}}));
        }
        if (ids_.empty()) return std::nullopt;
        const NodeId first = ids_.front();
        support::add_to_operand(ast_, right, ids_, true);
        return first;
    }

    // The `\over` whose left operand the `\buildrel` (or the scripts on it)
    // is, or is an item of: the buildrel rule reads that one as its own.
    std::optional<NodeId> over_of_buildrel(NodeId buildrel) const {
        const syntax::ParentLink* link = ast_.parent_link(buildrel);
        if (link != nullptr && link->slot.kind() == Slot::Kind::ScriptBase) link = ast_.parent_link(link->parent);
        if (link != nullptr && link->slot.is_group_child() && is_operand_list(link->parent))
            link = ast_.parent_link(link->parent);
        if (link == nullptr || link->slot.kind() != Slot::Kind::InfixLeft) return std::nullopt;
        if (std::get<Node::Infix>(ast_.node(link->parent).value).name != "over") return std::nullopt;
        return link->parent;
    }

    // An operand of several items is an implicit math group of them; one
    // of a single item is that item.
    bool is_operand_list(NodeId operand) const {
        const auto* group = ast_.node(operand).get_if<Node::Group>();
        return group != nullptr && group->kind.is_implicit() && group->mode == ContentMode::Math;
    }

    std::span<const NodeId> operand_items(const NodeId& operand) const {
        if (is_operand_list(operand)) return ast_.children(operand);
        return {&operand, 1};
    }

    // A prefix command met in the list of the task on top (its body is
    // collected in `mode`, starting from `state` with the row's value set).
    void push_prefix_body(NodeId command, std::size_t slot, const AttributeCommandSpec& row, ContentMode mode,
                          const State& measure, bool across_modes, const State& outer) {
        count(row, AttributeCounter::ConsumedPrefixes);
        State inner = measure;
        inner.set(row.attr, code_of_prefix(row));
        const NodeId body = *ast_.arg_slots(command)[slot]->value.content();
        const auto* group = ast_.node(body).get_if<Node::Group>();
        const bool implicit = group != nullptr && group->kind.is_implicit();
        const bool explicit_body = group != nullptr && group->kind.is_explicit();
        // An implicit body only hands over its children: emptied, it stays
        // in the command and is freed with it. Any other body is taken out
        // whole, a placeholder keeping its slot.
        if (!implicit) ast_.replace_content_child(body, support::new_placeholder(ast_, mode));

        Task& task = push_task(Kind::PrefixBody, mode, command, inner);
        task.row = &row;
        task.across_modes = across_modes;
        task.measure = measure;
        task.outer = outer;
        if (explicit_body) {
            task.explicit_body = true;
            push_explicit(body, inner, mode);
        } else if (implicit) {
            take_children(body);
        } else {
            add_items({&body, 1});
        }
    }

    // A brace group in a list: it keeps its braces unless a declarative of
    // its own changes the state of some of its content.
    void push_explicit(NodeId group, const State& state, ContentMode mode) {
        bool has_declarative = false;
        if (dirty(group)) {
            for (NodeId child : ast_.children(group)) {
                if (declarative_of(ast_.node(child), mode) != nullptr) {
                    has_declarative = true;
                    break;
                }
            }
        }
        if (!has_declarative && !dirty(group)) {
            add_pair(group, state);
            return;
        }
        Task& task = push_task(Kind::Explicit, mode, group, state);
        task.own_braces = !has_declarative;
        scan_budget_ += kScanPerGroup;
        take_children(group);
    }

    static const AttributeCommandSpec* recognised_declarative(const Node& node, ContentMode mode) {
        const auto* d = node.get_if<Node::Declarative>();
        if (d == nullptr || !d->args.empty()) return nullptr;
        const AttributeCommandSpec* row = lookup_declarative_form(mode, d->name);
        return row != nullptr && sets_font(*row, mode) ? row : nullptr;
    }

    // LaTeX defines `\cal` and `\mit` for math alone, doing nothing in text,
    // and `\oldstyle` not at all: the text families that have no text font
    // command set no font. Left as written, they read as they did.
    static bool sets_font(const AttributeCommandSpec& row, ContentMode mode) {
        if (mode != ContentMode::Text || row.attr != Attr::TextFamily) return true;
        const CanonicalForm* line = canonical_line(code_of_declarative(row));
        return line != nullptr && line->prefix(mode).has_value();
    }

    // A recognised declarative, or one that stands as the base of a script
    // in math, which TeX reads before the script (see `collect`).
    const AttributeCommandSpec* declarative_of(const Node& node, ContentMode mode) const {
        if (const auto* scripted = node.get_if<Node::Scripted>(); scripted != nullptr && mode == ContentMode::Math)
            return recognised_declarative(ast_.node(scripted->base), mode);
        return recognised_declarative(node, mode);
    }

    // ---- Collecting one item -------------------------------------------------

    void collect(NodeId id) {
        Task& task = tasks_.back();
        const ContentMode mode = task.mode;
        if (std::exchange(task.after_control_word, false)) {
            const std::optional<NodeId> rest = drop_name_end(id);
            if (!rest) return;
            id = *rest;
        }
        const Node& node = ast_.node(id);
        // A text with nothing in it (a rule took its spacing) writes
        // nothing: collected, it would keep a declarative before nothing.
        if (const auto* text = node.get_if<Node::Text>(); text != nullptr && text->value.empty() &&
                                                          task.kind != Kind::Slots) {
            ast_.remove_detached(id);
            return;
        }
        if (task.cells && node.ends_cell()) {
            // A `\dots` chooses its dots by the token after it, and a cell
            // end makes other dots than the brace or declarative that stood
            // there (`{\displaystyle\dots}&`): parted from the cell end by
            // what goes, it keeps a brace of its own to decide by where it
            // is written right before it (see `brace_parted_dots`); inside
            // a prefix, that prefix's brace follows it still.
            if (pairs_.size() > task.cell_begin && pairs_.back().stretch != stretch_ &&
                is_dots(ast_.node(pairs_.back().node)))
                pairs_.back().dots_parted = true;
            check_empty_segment(task);
            task.running = task.start;
            add_pair(id, task.start, kCellEnd);
            task.cell_begin = pairs_.size();
            ++stretch_;
            if (dirty(id)) push_canonicalize(id, task.start, mode);
            return;
        }

        if (mode == ContentMode::Math) {
            // TeX reads `\bf^2 x` as the declarative and then a script on an
            // empty base: the declarative governs the script and what follows.
            // A line break that breaks the line is no base either: the
            // script goes on the line after it, in the font running there.
            // The base keeps an empty group.
            if (const auto* scripted = node.get_if<Node::Scripted>();
                scripted != nullptr && (recognised_declarative(ast_.node(scripted->base), mode) != nullptr ||
                                        breaks_line(task, ast_.node(scripted->base)))) {
                const NodeId before = scripted->base;
                ast_.replace_content_child(before, new_group({}, GroupKind::Explicit{}, mode));
                collect(before);
                collect(id);
                return;
            }
        }
        if (const AttributeCommandSpec* row = recognised_declarative(node, mode)) {
            count(*row, AttributeCounter::ConsumedDeclaratives);
            if (!task.running.set(row->attr, code_of_declarative(*row))) {
                count(*row, AttributeCounter::RedundantDeclaratives);
            }
            ast_.remove_detached(id);
            if (mode == ContentMode::Text) drop_name_end_before(task);
            ++stretch_;
            // Every declarative name is a control word. In text the spacing
            // after it is no content; once the command is gone, the text
            // would otherwise carry it into a prefix, where it shows.
            task.after_control_word = mode == ContentMode::Text;
            return;
        }
        if (const auto* command = node.get_if<Node::Command>()) {
            if (const auto slot = single_mandatory_content(command->args); slot && !parts_math_shift(*command, *slot)) {
                if (const AttributeCommandSpec* row = lookup_prefix_form(mode, command->name)) {
                    const State running = task.running;
                    push_prefix_body(id, *slot, *row, mode, running, false, running);
                    return;
                }
                const ContentMode arg_mode = *command->args[*slot]->value.content_mode();
                if (arg_mode != mode) {
                    if (const AttributeCommandSpec* row = lookup_prefix_form(arg_mode, command->name)) {
                        const State running = task.running;
                        State measure = running;
                        measure.clear(axes_of(arg_mode));
                        push_prefix_body(id, *slot, *row, arg_mode, measure, true, running);
                        return;
                    }
                }
            }
        }
        const State running = task.running;
        if (const auto* group = node.get_if<Node::Group>(); group != nullptr && group->kind.is_explicit()) {
            push_explicit(id, running, mode);
            return;
        }
        add_pair(id, running, breaks_line(task, node) ? kLineBreak : stretch_);
        if (dirty(id)) push_canonicalize(id, running, mode);
    }

    // Whether `node`, collected by `task`, is a line break in the formula's
    // own list, where it breaks the line.
    bool breaks_line(const Task& task, const Node& node) const {
        return task.kind == Kind::List && ast_.node(task.node).is<Node::Root>() &&
               (support::is_line_break(node) || (!task.cells && is_row_end(node)));
    }

    static bool is_row_end(const Node& node) {
        const auto* command = node.get_if<Node::Command>();
        return command != nullptr && command->name == "\\";
    }

    // A text body holding a lone `\(` or `\)` keeps its prefix: where the
    // value is already in force, lowering would write the body bare, next
    // to a partner outside. The prefix stays an item like any other.
    bool parts_math_shift(const Node::Command& command, std::size_t slot) const {
        const ArgumentValue& value = command.args[slot]->value;
        if (value.content_mode() != ContentMode::Text) return false;
        const NodeId body = *value.content();
        if (!ast_.node(body).is<Node::Group>()) return support::is_lone_math_shift(ast_, body);
        const auto children = ast_.children(body);
        return std::any_of(children.begin(), children.end(),
                           [&](NodeId c) { return support::is_lone_math_shift(ast_, c); });
    }

    // Spacing alone between a control word that stays and a declarative
    // taken out only ended that word's name: once the declarative has gone,
    // it could end the list, where it would be written as a space.
    void drop_name_end_before(const Task& task) {
        const std::size_t n = pairs_.size();
        if (n < task.pairs_begin + 2 || pairs_[n - 1].stretch != stretch_ || pairs_[n - 2].stretch != stretch_) return;
        const auto* text = ast_.node(pairs_[n - 1].node).get_if<Node::Text>();
        if (text == nullptr || support::leading_spacing(text->value) != text->value.size()) return;
        if (!support::is_bare_control_word(ast_.node(pairs_[n - 2].node))) return;
        ast_.remove_detached(pairs_[n - 1].node);
        pairs_.pop_back();
    }

    // A text that followed a removed control word, without the spacing run
    // that only ended the word's name; none when nothing else is left. Any
    // other node comes back as it is.
    std::optional<NodeId> drop_name_end(NodeId id) {
        const auto* text = ast_.node(id).get_if<Node::Text>();
        if (text == nullptr) return id;
        const std::size_t spacing = support::leading_spacing(text->value);
        if (spacing == 0) return id;
        // A copy: a new node may move the arena.
        const std::string rest(std::string_view(text->value).substr(spacing));
        const std::optional<NodeId> kept = rest.empty() ? std::nullopt : std::optional<NodeId>(new_text(rest));
        ast_.remove_detached(id);
        return kept;
    }

    // ---- Finishing a task ----------------------------------------------------

    void complete() {
        Task& task = tasks_.back();
        switch (task.kind) {
            case Kind::List: {
                check_empty_segment(task);
                if (task.cells) {
                    emit_cells(task, reads_as_brace_group());
                } else {
                    emit(task.pairs_begin, task.start, task.mode, task.mode, false);
                }
                support::truncate(pairs_, task.pairs_begin);
                ast_.replace_children(task.node, out_);
                break;
            }
            case Kind::Slots:
                if (task.placeholder) finish_slot(task);
                if (task.edges_cursor < task.edges_end) {
                    start_slot(task);
                    return;
                }
                support::truncate(edges_, task.edges_begin);
                break;
            case Kind::PrefixBody: complete_prefix_body(task); break;
            case Kind::Explicit: complete_explicit(task); break;
        }
        if (!lists_items(task) && pairs_.size() > task.pairs_begin) pairs_.back().closes = true;
        support::truncate(items_, task.items_begin);
        // The pairs a body or brace group leaves are the task's below.
        const bool leaves = task.kind == Kind::PrefixBody || task.kind == Kind::Explicit;
        const std::uint8_t holds = task.holds;
        const StateSet states = task.states;
        tasks_.pop_back();
        if (leaves && !tasks_.empty()) {
            tasks_.back().holds |= holds;
            tasks_.back().states.add(states);
        }
        ++stretch_;
    }

    // Whether a math list holds a cell end once lowering has taken the
    // bodies of its font prefixes into it, where it may write one bare; and
    // `through_braces`, in a brace group of it, where lowering may write one
    // of the list's. In the formula's own list a `\\` ends no cell.
    bool holds_cell_end_once_lowered(NodeId id, bool through_braces, bool root = false) {
        std::vector<NodeId>& walk = kept_.get().walk;
        walk.clear();
        if (const auto* children = ast_.node(id).child_list())
            walk.insert(walk.end(), children->begin(), children->end());
        else
            walk.push_back(id);
        while (!walk.empty()) {
            const Node& item = ast_.node(walk.back());
            walk.pop_back();
            ++util::work_count;
            if (item.ends_cell() && !(root && is_row_end(item))) return true;
            if (const auto* group = item.get_if<Node::Group>()) {
                if (through_braces && (group->kind.is_explicit() || group->kind.is_implicit()))
                    walk.insert(walk.end(), group->children.begin(), group->children.end());
            } else if (const std::optional<NodeId> body = taken_body(item, ContentMode::Math)) {
                push_body_items(walk, *body);
            }
        }
        return false;
    }

    // Whether the node is a cell end inside math prefixes and brace groups
    // that hold nothing else.
    bool is_wrapped_cell_end(NodeId id) const {
        for (;;) {
            ++util::work_count;
            const Node& node = ast_.node(id);
            if (node.ends_cell()) return true;
            if (const auto* group = node.get_if<Node::Group>()) {
                if (!(group->kind.is_explicit() || group->kind.is_implicit()) || group->children.size() != 1) return false;
                id = group->children[0];
                continue;
            }
            const std::optional<NodeId> body = taken_body(node, ContentMode::Math);
            if (!body) return false;
            id = *body;
        }
    }

    // The body of a font prefix of `mode` holding content of its mode, which
    // lowering takes apart into the list around the prefix.
    std::optional<NodeId> taken_body(const Node& item, ContentMode mode) const {
        const auto* command = item.get_if<Node::Command>();
        if (command == nullptr || lookup_prefix_form(mode, command->name) == nullptr) return std::nullopt;
        const auto slot = single_mandatory_content(command->args);
        if (!slot || command->args[*slot]->value.content_mode() != mode) return std::nullopt;
        return *command->args[*slot]->value.content();
    }

    // Puts on `walk` what a body taken apart hands to the list around it,
    // the first item on top: an implicit body its children, any other body
    // itself.
    void push_body_items(std::vector<NodeId>& walk, NodeId body) const {
        const auto* group = ast_.node(body).get_if<Node::Group>();
        if (group == nullptr || !group->kind.is_implicit()) {
            walk.push_back(body);
            return;
        }
        const std::size_t at = walk.size();
        walk.insert(walk.end(), group->children.begin(), group->children.end());
        std::reverse(walk.begin() + static_cast<std::ptrdiff_t>(at), walk.end());
    }

    void start_slot(Task& task) {
        const SlotEdge edge = edges_[task.edges_cursor++];
        State state = task.node_state;
        if (edge.mode == ContentMode::Text && task.node_mode == ContentMode::Math) state.clear(TEXT_AXES);
        if (edge.mode == ContentMode::Math && task.node_mode == ContentMode::Text) state.clear(MATH_AXES);
        if (edge.own_style) state.clear(STYLE_AXIS);
        // A slot's content is a list of cells (`\substack`'s, a plain TeX
        // array's), which starts with no font as an alignment's body does,
        // wherever its cell ends stand.
        if (edge.env_body || (edge.mode == ContentMode::Math && holds_cell_end_once_lowered(edge.child, true)))
            state.clear(FONT_AXIS);
        task.mode = edge.mode;
        task.start = task.running = state;
        task.env_body = edge.env_body;
        task.after_control_word = false;  // each slot is a list of its own
        task.holds = 0;
        const NodeId placeholder = support::new_placeholder(ast_, edge.mode);
        ast_.replace_content_child(edge.child, placeholder);
        task.placeholder = placeholder;
        support::truncate(items_, task.items_begin);
        items_.push_back(edge.child);
        task.cursor = task.items_begin;
        task.items_end = items_.size();
        task.pairs_begin = task.cell_begin = pairs_.size();
    }

    void finish_slot(Task& task) {
        check_empty_segment(task);
        const bool base = in_script_base(task);
        if (holds_cells(task) && !(base && keeps_row_ends(task)))
            emit_cells(task, reads_as_brace_group());
        else
            emit(task.pairs_begin, task.start, task.mode, task.mode, false);
        support::truncate(pairs_, task.pairs_begin);
        NodeId result;
        // An environment body must stay a group, and a cell end that a
        // prefix body brought is no script base.
        if (out_.size() == 1 && !(task.env_body && !ast_.node(out_[0]).is<Node::Group>()) &&
            !(base && ast_.node(out_[0]).ends_cell())) {
            result = out_[0];
        } else {
            result = new_group(out_, GroupKind::Implicit{}, task.mode);
        }
        support::replace_in_slot_and_free(ast_, *task.placeholder, result);
        task.placeholder.reset();
    }

    void complete_prefix_body(Task& task) {
        if (!task.explicit_body) check_empty_segment(task);
        const AttributeCommandSpec& row = *task.row;
        const bool text_body = task.mode == ContentMode::Text && pairs_.size() > task.pairs_begin;
        const bool absorbed = (recorder_.is_collecting() || (text_body && !keeps_text_edges_)) &&
                              prefix_is_fully_absorbed(task, row);
        if (absorbed) count(row, AttributeCounter::RedundantPrefixes);
        if (task.across_modes) {
            emit(task.pairs_begin, task.measure, task.mode, other_mode(task.mode), true);
            forget_pairs(task);
            for (NodeId n : out_) add_pair(n, task.outer);
        } else if (text_body && (!absorbed || keeps_text_edges_)) {
            // A text font command adds the italic correction of the
            // character before it and of its own last one where the font
            // after is upright, whatever its value: one with content keeps
            // its shape, while rendering is kept even where it changes
            // nothing. Its body is written relative to its own value and it
            // stands in the list around as one item, never split into runs
            // or merged with its neighbours.
            emit(task.pairs_begin, task.start, task.mode, task.mode, false);
            forget_pairs(task);
            const CanonicalForm& line = *canonical_line(code_of_prefix(row));
            add_pair(new_prefix(line.prefix(task.mode)->name, out_, task.mode), task.outer, stretch_);
            count(line, AttributeCounter::EmittedPrefixes);
        }
        ast_.remove_detached(task.node);
    }

    // Past a few states the pairs are looked at, each at a cost: only a
    // report, or a text prefix that may go, asks.
    bool prefix_is_fully_absorbed(const Task& task, const AttributeCommandSpec& row) const {
        if (pairs_.size() == task.pairs_begin) return true;
        const ValueCode code = code_of_prefix(row);
        if (task.measure.get(row.attr) == code) return true;
        const auto keeps = [&](const State& state) { return state.get(row.attr) == code; };
        if (!task.states.many()) return std::none_of(task.states.states().begin(), task.states.states().end(), keeps);
        util::work_count += pairs_.size() - task.pairs_begin;
        util::check_work();
        for (std::size_t i = task.pairs_begin; i < pairs_.size(); ++i)
            if (keeps(pairs_[i].state)) return false;
        return true;
    }

    void complete_explicit(Task& task) {
        check_empty_segment(task);
        // A text group holding a lone `\(` or `\)` keeps its braces, as
        // flattening keeps them, whatever it declares: its content joined to
        // the list around, the shift would pair with one there.
        // So does a math group holding a cell end: joined to the list around,
        // its cells would join those of that list; or a line break, which
        // does nothing in the group and would break the line there.
        const bool parts_shift = (task.mode == ContentMode::Text && (task.holds & support::kMathShift) != 0) ||
                                 (task.mode == ContentMode::Math && (task.holds & support::kEndsCell) != 0);
        if (task.own_braces || parts_shift) {
            // Braces with no declarative of their own stay, and their content
            // is written inside them, unless that puts a declarative directly
            // into the group: read again, the group would then dissolve, as
            // it does here.
            if (parts_shift || !(declares_outside(task) || leaves_a_declarative(task)) || spaces_as_atom(task)) {
                write_inside(task);
            } else {
                task.declares_inside = true;
                dissolve(task);
            }
            return;
        }
        if (differs(task)) {
            if (spaces_as_atom(task)) {
                write_inside(task);
            } else {
                dissolve(task);  // its content joins the list around it
            }
            return;
        }
        ids_.clear();
        for (std::size_t i = task.pairs_begin; i < pairs_.size(); ++i) {
            brace_parted_dots(ids_, i);
            place(i, task.pairs_begin, pairs_[i].node, task.mode, ids_);
        }
        support::truncate(pairs_, task.pairs_begin);
        ast_.replace_children(task.node, ids_);
        keep_braces(task);
    }

    // Written inside the braces, the pairs leave font-blind items out of
    // their font runs (see `emit_runs`): one that then takes a declarative
    // would put it directly into the group, where it dissolves the next
    // time. The states are taken as they will be written; once changed,
    // those noted of the pairs are noted anew.
    bool leaves_a_declarative(Task& task) {
        if (!atom_spacing_ || task.mode != ContentMode::Math) return false;
        if (!leave_font_blind_edges(task.pairs_begin, pairs_.size(), task.start)) return false;
        task.states.clear();
        util::work_count += pairs_.size() - task.pairs_begin;
        for (std::size_t i = task.pairs_begin; i < pairs_.size(); ++i) task.states.add(pairs_[i].state);
        return true;
    }

    // The braces stay, the content written inside them.
    void write_inside(Task& task) {
        if (holds_cells(task) && !keeps_row_ends(task))
            emit_cells(task, reads_as_brace_group());
        else
            emit(task.pairs_begin, task.start, task.mode, task.mode, false);
        ast_.replace_children(task.node, out_);
        keep_braces(task);
    }

    // The group, its content written inside it, is the one pair it leaves.
    void keep_braces(Task& task) {
        forget_pairs(task);
        add_pair(task.node, task.start);
    }

    // Drops the task's pairs and what was noted of them.
    void forget_pairs(Task& task) {
        support::truncate(pairs_, task.pairs_begin);
        task.holds = 0;
        task.states.clear();
    }

    // Whether the braces around a style switch set the spacing beside them.
    // TeX spaces a brace group as one ordinary atom in the style around it;
    // dissolved after another atom, its first atom would be spaced from that
    // one by its own class, in the new style. The braces go only where TeX
    // sets no space either way, or nothing stands before them in their list,
    // and nothing after them: what follows would need braces around each of
    // the content's runs, each again an atom of its own. In a prefix body
    // the braces stay: the prefix is taken apart, and its runs written
    // with the style outside it.
    bool spaces_as_atom(const Task& task) {
        if (!atom_spacing_ || task.mode != ContentMode::Math || pairs_.size() == task.pairs_begin) return false;
        const Task& around = tasks_[tasks_.size() - 2];
        const bool in_prefix = around.kind == Kind::PrefixBody;
        // First in its cell: after any cell end, one a prefix body brought or
        // one in braces too. Where a row end is no alignment's, it is a line
        // break, which ends in an empty box: it starts no cell.
        const bool cells = !around.line_list;
        const bool first = task.pairs_begin == around.cell_begin ||
                           (cells && task.pairs_begin > around.pairs_begin &&
                            ast_.node(pairs_[task.pairs_begin - 1].node).ends_cell());
        const bool followed = content_follows(around);
        if (first && !followed && !in_prefix) return false;
        const ValueCode style = task.start.get(Attr::MathStyle);
        const auto switches = [&](const State& state) { return state.get(Attr::MathStyle) != style; };
        if (!task.states.many()) {
            if (std::none_of(task.states.states().begin(), task.states.states().end(), switches)) return false;
        } else {
            bool found = false;
            for (std::size_t i = task.pairs_begin; i < pairs_.size() && !found; ++i) {
                if (scan_budget_ == 0) return true;  // see `declares_outside`
                --scan_budget_;
                found = switches(pairs_[i].state);
            }
            if (!found) return false;
        }
        if (followed || in_prefix) return true;
        const AtomClass before = atom_class(pairs_[task.pairs_begin - 1].node);
        return !(before == AtomClass::Ord || before == AtomClass::Open || before == AtomClass::Close) ||
               atom_class(pairs_[task.pairs_begin].node) != AtomClass::Ord;
    }

    // Whether content follows, in its cell, the item `around` collected
    // last: declaratives, and prefixes of nothing else, govern nothing and
    // go.
    bool content_follows(const Task& around) {
        for (std::size_t i = around.cursor; i < around.items_end; ++i) {
            switch (first_written(items_[i], around.mode)) {
                case Written::Nothing: continue;
                case Written::CellEnd: return false;
                case Written::Content: return true;
            }
        }
        return false;
    }

    enum class Written : std::uint8_t { Nothing, CellEnd, Content };

    // What an item writes first: nothing, when it holds only declaratives,
    // texts of nothing and prefixes of `mode` whose bodies hold only those;
    // a cell end, which a prefix body that lowering takes apart may bring;
    // or content.
    Written first_written(NodeId id, ContentMode mode) {
        std::vector<NodeId>& walk = kept_.get().walk;
        walk.assign(1, id);
        while (!walk.empty()) {
            const Node& item = ast_.node(walk.back());
            walk.pop_back();
            ++util::work_count;
            if (recognised_declarative(item, mode) != nullptr) continue;
            if (const auto* text = item.get_if<Node::Text>(); text != nullptr && text->value.empty()) continue;
            if (item.ends_cell()) return Written::CellEnd;
            const std::optional<NodeId> body = taken_body(item, mode);
            if (!body) return Written::Content;
            push_body_items(walk, *body);
        }
        return Written::Nothing;
    }

    AtomClass atom_class(NodeId id) const {
        return support::atom_class(ast_, id, [](std::string_view name) { return attribute_names().is_prefix(name); });
    }

    // An item a font run may leave out at its edge: a binary operator,
    // relation, punctuation or large operator with no scripts, whose font
    // does not matter to TeX.
    bool is_font_blind(NodeId id) const {
        if (ast_.node(id).is<Node::Scripted>()) return false;
        const AtomClass atom = atom_class(id);
        return atom == AtomClass::Op || atom == AtomClass::Bin || atom == AtomClass::Rel || atom == AtomClass::Punct;
    }

    // ---- Writing the values back ---------------------------------------------

    NodeId new_group(std::span<const NodeId> children, GroupKind kind, ContentMode mode) {
        return ast_.new_node(Node::Group{syntax::ast::ChildList(children), std::move(kind), mode});
    }

    // Replaces the pairs from `begin` on by the nodes that carry their values
    // relative to `base`, into `out_`. `placement` is the mode of the list
    // the nodes will stand in; with `continued`, more of that list follows.
    void emit(std::size_t begin, const State& base, ContentMode mode, ContentMode placement, bool continued) {
        out_.clear();
        emit_runs(begin, pairs_.size(), base, mode, placement, continued);
    }

    // The cells of a math list, each written on its own relative to the
    // task's start, with the `&` and row ends between them: no font or
    // declarative is written across a cell end, those a prefix body brought
    // included, so that a cell end stands in the list the writing reads
    // back as. Where a cell end ends nothing (a brace group, a script), no
    // declarative is left in force at one either (`continued`); a list of
    // cells, an argument's among them, ends everything at each.
    void emit_cells(const Task& task, bool continued) {
        out_.clear();
        std::size_t from = task.pairs_begin;
        for (std::size_t i = from; i < pairs_.size(); ++i) {
            if (!ast_.node(pairs_[i].node).ends_cell()) continue;
            emit_runs(from, i, task.start, task.mode, task.mode, continued);
            brace_parted_dots(out_, i);
            out_.push_back(pairs_[i].node);
            from = i + 1;
        }
        emit_runs(from, pairs_.size(), task.start, task.mode, task.mode, false);
    }

    // Before pair `i` is written into `into`: an ellipsis parted from that
    // cell end in the source and now written bare right before it goes
    // into braces.
    void brace_parted_dots(std::vector<NodeId>& into, std::size_t i) {
        if (i == 0 || !pairs_[i - 1].dots_parted || into.empty() || into.back() != pairs_[i - 1].node) return;
        into.back() = new_group({&into.back(), 1}, GroupKind::Explicit{}, ContentMode::Math);
    }

    // Whether the pairs of the task hold a math cell end, their list then
    // written cell by cell (see `emit_cells`).
    static bool holds_cells(const Task& task) {
        return task.mode == ContentMode::Math && (task.holds & support::kEndsCell) != 0;
    }

    // Whether a row end that a prefix body brought into the task's list
    // stays in the prefix: where the list is no alignment's and holds no
    // other cell end.
    bool keeps_row_ends(const Task& task) const {
        if (!task.line_list) return false;
        for (std::size_t i = task.pairs_begin; i < pairs_.size(); ++i) {
            const Node& node = ast_.node(pairs_[i].node);
            if (node.ends_cell() && !is_row_end(node)) return false;
        }
        return true;
    }

    // Whether the slot the Slots task is lowering is a script base.
    bool in_script_base(const Task& slots) const {
        return slots.edges_cursor > slots.edges_begin && !edges_[slots.edges_cursor - 1].own_style;
    }

    // Whether what the task on top writes reads back as a brace group,
    // where a cell end ends nothing: a brace group's list, or a slot's
    // content, or an implicit group's list, as a list member or a script,
    // all written in braces. An argument's content, an environment's body,
    // the formula's own list and a delimited group's read back as lists
    // of their own.
    bool reads_as_brace_group() const {
        const Task& task = tasks_.back();
        if (task.kind != Kind::Slots) {
            const auto* group = ast_.node(task.node).get_if<Node::Group>();
            if (group == nullptr || !(group->kind.is_explicit() || group->kind.is_implicit())) return false;
            if (tasks_.size() < 2 || tasks_[tasks_.size() - 2].kind != Kind::Slots) return true;
        }
        const Task& slots = task.kind == Kind::Slots ? task : tasks_[tasks_.size() - 2];
        const SlotEdge& edge = edges_[slots.edges_cursor - 1];
        return !edge.argument && !edge.env_body;
    }

    // Appends to `out_` the nodes that carry the values of the pairs in
    // [begin, end) relative to `base`.
    void emit_runs(std::size_t begin, std::size_t end, const State& base, ContentMode mode, ContentMode placement,
                   bool continued) {
        // Written into a list of the other mode, an empty group stays, as
        // it does anywhere in an environment body while that guard holds.
        empties_go_ = empty_groups_go_ && placement == mode && (empty_groups_go_in_env_ || !tasks_.back().in_env);
        if (empties_go_) join_empty_groups(begin, end, base, mode);
        written_ = base;
        const bool spaced = atom_spacing_ && mode == ContentMode::Math && placement == mode;
        if (spaced) leave_font_blind_edges(begin, end, base);
        runs_.clear();
        for (std::size_t i = begin; i < end;) {
            std::size_t j = i + 1;
            while (j < end && pairs_[j].state == pairs_[i].state &&
                   !(spaced && (parts_groups(j, base) || parts_box(j, base))))
                ++j;
            // Cut only at a box's edge, two runs of one atom each would
            // read back as two atoms TeX joins: they stay one run.
            if (!runs_.empty() && runs_.back().end == i && runs_.back().state == pairs_[i].state &&
                runs_.back().end - runs_.back().begin == 1 && j - i == 1 && !parts_groups(i, base))
                runs_.back().end = j;
            else
                runs_.push_back({i, j, pairs_[i].state, 0});
            i = j;
        }
        std::uint8_t at_base = 0;
        for (std::size_t r = runs_.size(); r-- > 0;) {
            runs_[r].later_at_base = at_base;
            for (Attr attr : axes_of(mode))
                if (runs_[r].state.get(attr) == base.get(attr)) at_base |= axis_bit(attr);
        }
        for (const Run& run : runs_) {
            chunk_.clear();
            if (mode == ContentMode::Text) {
                for (std::size_t i = run.begin; i < run.end; ++i)
                    place(i, run.begin, pairs_[i].node, ContentMode::Text, chunk_);
                wrap_chunk(run, base, mode, placement, continued);
                continue;
            }
            // White space stays outside the wrappers: a text with white space
            // around its content is split, and white-space texts end a chunk.
            for (std::size_t i = run.begin; i < run.end; ++i) {
                NodeId id = pairs_[i].node;
                const auto* text = ast_.node(id).get_if<Node::Text>();
                // A line break of the formula's own list stays out of the
                // wrappers: anything a prefix body or brace group brought,
                // a row end among them, stood in a group, where TeX breaks
                // no line.
                if (pairs_[i].stretch == kLineBreak) {
                    wrap_chunk(run, base, mode, placement, continued);
                    brace_parted_dots(out_, i);
                    out_.push_back(id);
                } else if (text == nullptr) {
                    // Content of a dissolved group or prefix body may start
                    // with primes that its braces kept off the item before.
                    if (i > run.begin && support::primes_join_wrongly(ast_, pairs_[i - 1].node, id, false)) {
                        id = new_group({&id, 1}, GroupKind::Explicit{}, ContentMode::Math);
                    }
                    place(i, run.begin, id, ContentMode::Math, chunk_);
                } else if (is_white_space_only(text->value)) {
                    wrap_chunk(run, base, mode, placement, continued);
                    out_.push_back(id);
                } else if (!splits_around_white_space(text->value)) {
                    chunk_.push_back(id);
                } else {
                    const syntax::ast::Name value = std::get<Node::Text>(ast_.node(id).value).value;
                    ast_.remove_detached(id);
                    const support::WhiteSpaceEdges edges = support::white_space_edges(value);
                    const std::string_view all(value);
                    if (edges.leading > 0) {
                        wrap_chunk(run, base, mode, placement, continued);
                        out_.push_back(new_text(all.substr(0, edges.leading)));
                    }
                    chunk_.push_back(new_text(all.substr(edges.leading, all.size() - edges.leading - edges.trailing)));
                    if (edges.trailing > 0) {
                        wrap_chunk(run, base, mode, placement, continued);
                        out_.push_back(new_text(all.substr(all.size() - edges.trailing)));
                    }
                }
            }
            wrap_chunk(run, base, mode, placement, continued);
        }
    }

    // Whether a run of pairs in `state` is written inside a font prefix, a
    // group TeX sets as one ordinary atom.
    bool in_font_prefix(const State& state, const State& base) const {
        const ValueCode font = state.get(Attr::MathFont);
        if (font == base.get(Attr::MathFont)) return false;
        const CanonicalForm* line = canonical_line(font);
        return line != nullptr && line->prefix(ContentMode::Math).has_value();
    }

    // A font prefix around a run makes one ordinary atom of it, so an atom
    // of another class at its edge loses the spacing TeX gave it from its
    // neighbour outside the run, where the two stood side by side. Such an
    // item, if its font does not matter to TeX, is left out of the run: it
    // takes the font of the list. Whether one left out is then written with
    // a declarative outside every prefix (a size the prefix held inside).
    bool leave_font_blind_edges(std::size_t begin, std::size_t end, const State& base) {
        const ValueCode font = base.get(Attr::MathFont);
        bool declares = false;
        const auto leave = [&](std::size_t k) {
            pairs_[k].state.set(Attr::MathFont, font);
            declares = declares || declared_outside(pairs_[k].state, base, ContentMode::Math, false) != 0;
        };
        for (std::size_t i = begin; i < end; ++i) {
            if (!may_leave_run(i, begin, end, base)) continue;
            leave(i);
            // The pairs before may now stand at their run's end.
            for (std::size_t k = i; k > begin && may_leave_run(k - 1, begin, end, base); --k) leave(k - 1);
        }
        return declares;
    }

    // Whether pair `i` is such an item at the edge of its font run, beside
    // a neighbour it was spaced from, and TeX spaces it from its neighbours
    // out of the run as it did in the source. There a neighbour at the edge
    // of a brace group or prefix body was an ordinary atom; in the output,
    // one written inside a prefix is.
    bool may_leave_run(std::size_t i, std::size_t begin, std::size_t end, const State& base) const {
        const Pair& pair = pairs_[i];
        if (!in_font_prefix(pair.state, base) || !is_font_blind(pair.node)) return false;
        const bool has_before = i > begin;
        const bool has_after = i + 1 < end;
        if (!((has_before && pairs_[i - 1].state != pair.state) || (has_after && pairs_[i + 1].state != pair.state)))
            return false;
        // A group's edge facing a neighbour: the item was inside an ordinary atom.
        if ((has_before && pair.opens) || (has_after && pair.closes)) return false;
        const auto source = [&](std::size_t n, bool before) -> std::optional<AtomClass> {
            if (n < begin || n >= end) return std::nullopt;
            return (before ? pairs_[n].closes : pairs_[n].opens) ? AtomClass::Ord : atom_class(pairs_[n].node);
        };
        const auto output = [&](std::size_t n) -> std::optional<AtomClass> {
            if (n < begin || n >= end) return std::nullopt;
            return in_font_prefix(pairs_[n].state, base) ? AtomClass::Ord : atom_class(pairs_[n].node);
        };
        const AtomClass self = atom_class(pair.node);
        const std::optional<AtomClass> before_in = source(i - 1, true);
        const std::optional<AtomClass> after_in = source(i + 1, false);
        const std::optional<AtomClass> before_out = output(i - 1);
        const std::optional<AtomClass> after_out = output(i + 1);
        const AtomClass in = resolved(before_in, self, after_in);
        const AtomClass out = resolved(before_out, self, after_out);
        return spacing_kept(before_in, before_out, in, out, true) && spacing_kept(after_in, after_out, in, out, false);
    }

    // The class TeX sets an atom in: a binary operator with no operand
    // before it, or an operator, relation, opening or punctuation there, or
    // a relation, closing or punctuation after it, is ordinary.
    static AtomClass resolved(std::optional<AtomClass> before, AtomClass self, std::optional<AtomClass> after) {
        if (self != AtomClass::Bin) return self;
        if (!before || *before == AtomClass::Bin || *before == AtomClass::Op || *before == AtomClass::Rel ||
            *before == AtomClass::Open || *before == AtomClass::Punct)
            return AtomClass::Ord;
        if (after && (*after == AtomClass::Rel || *after == AtomClass::Close || *after == AtomClass::Punct))
            return AtomClass::Ord;
        return self;
    }

    // Whether TeX sets the same space between an item (`in` in the source,
    // `out` in the output, both resolved) and its neighbour on one side in
    // both; no neighbour keeps it. A neighbour of a class not known here, or
    // a binary operator in one of them only, does not.
    static bool spacing_kept(std::optional<AtomClass> neighbour_in, std::optional<AtomClass> neighbour_out,
                             AtomClass in, AtomClass out, bool neighbour_before) {
        if (!neighbour_in) return true;
        if (*neighbour_in == AtomClass::Other || *neighbour_out == AtomClass::Other) return false;
        if ((*neighbour_in == AtomClass::Bin || *neighbour_out == AtomClass::Bin) && *neighbour_in != *neighbour_out)
            return false;
        return neighbour_before ? tex_space(*neighbour_in, in) == tex_space(*neighbour_out, out)
                                : tex_space(in, *neighbour_in) == tex_space(out, *neighbour_out);
    }

    // TeX's space between two atoms: 0 none, 1 thin, and only in display
    // and text style: 2 thin, 3 medium, 4 thick; 9 where it never meets.
    static std::uint8_t tex_space(AtomClass left, AtomClass right) {
        static constexpr std::uint8_t TABLE[8][8] = {
            {0, 1, 3, 4, 0, 0, 0, 2}, {1, 1, 9, 4, 0, 0, 0, 2}, {3, 3, 9, 9, 3, 9, 9, 3},
            {4, 4, 9, 0, 4, 0, 0, 4}, {0, 0, 9, 0, 0, 0, 0, 0}, {0, 1, 3, 4, 0, 0, 0, 2},
            {2, 2, 9, 2, 2, 2, 2, 2}, {2, 1, 3, 4, 2, 0, 2, 2},
        };
        return TABLE[static_cast<std::size_t>(left)][static_cast<std::size_t>(right)];
    }

    // Whether a font run is cut before pair `j`: where a brace group or
    // prefix body of the source ends or starts between `j - 1` and `j`
    // with an atom of another class than ordinary (or one not known), one
    // prefix around both would set that atom beside the other, spaced by
    // its own class; each keeps a prefix of its own.
    bool parts_groups(std::size_t j, const State& base) const {
        if (!in_font_prefix(pairs_[j].state, base)) return false;
        return (pairs_[j - 1].closes && atom_class(pairs_[j - 1].node) != AtomClass::Ord) ||
               (pairs_[j].opens && atom_class(pairs_[j].node) != AtomClass::Ord);
    }

    // The same where such a group held more than one atom, a box of its
    // own, beside a character that TeX would join to the character across
    // its edge in a kern or a ligature: one prefix around both joins them.
    bool parts_box(std::size_t j, const State& base) const {
        if (!in_font_prefix(pairs_[j].state, base)) return false;
        const Pair& before = pairs_[j - 1];
        const Pair& after = pairs_[j];
        const bool box_edge = (before.closes && !before.opens) || (after.opens && !after.closes);
        return box_edge && ast_.node(before.node).is<Node::Char>() && character_nucleus(after.node);
    }

    // Whether an atom's nucleus is a character: TeX kerns or joins a bare
    // character before it to it, whatever scripts it bears.
    bool character_nucleus(NodeId id) const {
        const Node& node = ast_.node(id);
        if (const auto* scripted = node.get_if<Node::Scripted>()) return ast_.node(scripted->base).is<Node::Char>();
        return node.is<Node::Char>();
    }

    // Flattening will take the empty groups out of a list, so the runs are
    // cut on the list without them: an empty group takes the state of the
    // content after it (before it, when last; the base in a list of
    // nothing else). It then neither parts two runs nor stands as a run of
    // its own, which would put a declarative before nothing, or braces
    // around a run that ends the list once it has gone. Joining the content
    // after it, it stays out of a brace group kept before it.
    void join_empty_groups(std::size_t begin, std::size_t end, const State& base, ContentMode mode) {
        std::size_t last = end;
        while (last > begin && is_empty_group(pairs_[last - 1].node, mode)) --last;
        const State tail = last > begin ? pairs_[last - 1].state : base;
        for (std::size_t i = last; i < end; ++i) pairs_[i].state = tail;
        for (std::size_t i = last; i-- > begin + 1;)
            if (is_empty_group(pairs_[i - 1].node, mode)) pairs_[i - 1].state = pairs_[i].state;
    }

    // A brace or implicit group of the list's mode holding nothing but such
    // groups, which flattening takes out from the inside. A few nodes are
    // looked at; a larger nest counts as content, as it did before.
    bool is_empty_group(NodeId id, ContentMode mode) const {
        std::array<NodeId, kEmptyNestLimit> stack;
        std::size_t top = 0;
        std::size_t seen = 0;
        stack[top++] = id;
        while (top > 0) {
            const auto* group = ast_.node(stack[--top]).get_if<Node::Group>();
            if (group == nullptr || group->mode != mode ||
                !(group->kind.is_explicit() || group->kind.is_implicit()))
                return false;
            seen += group->children.size();
            if (seen >= kEmptyNestLimit) return false;
            for (NodeId child : group->children) stack[top++] = child;
        }
        return true;
    }

    // Whether two texts of one run, written side by side, would join into a
    // ligature that a removed command or brace kept apart, or spacing would
    // come right after a control word, which would take it for its name's
    // end; an empty brace group between them keeps them apart still.
    bool would_join(const Pair& before, const Pair& after) const {
        if (before.stretch == after.stretch) return false;
        const auto* first = ast_.node(before.node).get_if<Node::Text>();
        const auto* second = ast_.node(after.node).get_if<Node::Text>();
        if (second != nullptr && support::leading_spacing(second->value) > 0 &&
            support::is_bare_control_word(ast_.node(before.node)))
            return true;
        if (first == nullptr || second == nullptr || first->value.empty() || second->value.empty()) return false;
        return support::joins_in_text(std::string_view(first->value).back(), std::string_view(second->value).front());
    }

    // Appends pair `i`, written as `written`, to `into`, where the pairs from
    // `first` on stand side by side. Where the pair before, last in `into`,
    // would take its first token into an open slot (`\dv{}\bf{}`, or
    // `\braket(\displaystyle'` once the declarative leaves an empty base),
    // that pair goes into braces (see `brace_last`); two texts that would
    // join into a ligature are parted.
    void place(std::size_t i, std::size_t first, NodeId written, ContentMode mode, std::vector<NodeId>& into) {
        if (i == first) {
            into.push_back(written);
            return;
        }
        const Pair& before = pairs_[i - 1];
        if (!into.empty() && into.back() == before.node) brace_last(into, written, mode);
        if (mode == ContentMode::Text && would_join(before, pairs_[i]))
            into.push_back(new_group({}, GroupKind::Explicit{}, ContentMode::Text));
        into.push_back(written);
    }

    // Where the item last in `into` would take the first token of `next`
    // into an open slot, the item goes into braces, and so does each item
    // before it that would take those braces; a row end gets its slot
    // closed instead.
    void brace_last(std::vector<NodeId>& into, NodeId next, ContentMode mode) {
        if (math_ == nullptr || text_ == nullptr || into.empty() || !takes(into.back(), support::lead_token(ast_, next)))
            return;
        if (support::close_row_end(ast_, into.back())) return;
        const support::LeadToken brace{support::LeadToken::Kind::Brace, U'{', {}};
        std::size_t k = into.size() - 1;
        do {
            into[k] = new_group({&into[k], 1}, GroupKind::Explicit{}, mode);
        } while (k-- > 0 && takes(into[k], brace));
    }

    bool takes(NodeId item, support::LeadToken token) const {
        const Node& node = ast_.node(item);
        if (!node.is<Node::Command>() && !node.is<Node::Declarative>() && !node.is<Node::Environment>()) return false;
        return support::takes_token(ast_, *math_, *text_, item, token);
    }

    bool starts_with_spacing(NodeId id) const {
        const auto* text = ast_.node(id).get_if<Node::Text>();
        return text != nullptr && support::leading_spacing(text->value) > 0;
    }

    // A prefix command of `mode` around the nodes.
    NodeId new_prefix(std::string_view name, std::span<const NodeId> nodes, ContentMode mode) {
        const NodeId body = new_group(nodes, GroupKind::Implicit{}, mode);
        syntax::ast::ArgumentSlots args;
        args.push_back(Argument{syntax::ast::ArgumentKind::Mandatory{}, false, ArgumentValue::MathContent{body}});
        if (mode == ContentMode::Text) args.back()->value = ArgumentValue::TextContent{body};
        return ast_.new_node(Node::Command{std::string(name), std::move(args), true});
    }

    NodeId new_text(std::string_view text) { return ast_.new_node(Node::Text{std::string(text)}); }

    static std::uint8_t axis_bit(Attr attr) { return static_cast<std::uint8_t>(1u << axis_index(attr)); }

    // Wraps the gathered chunk (if any) into `out_` and empties it. A
    // declarative wrapper left standing in front of the chunk would govern
    // whatever follows it in the same list; when what follows is not meant to
    // carry that value, the chunk and its declaratives go into braces.
    void wrap_chunk(const Run& run, const State& base, ContentMode mode, ContentMode placement, bool continued) {
        if (chunk_.empty()) return;
        // A chunk of empty groups alone (a line break parts it from the
        // content they joined) is written bare: flattening takes them out,
        // and a wrapper would be left around nothing.
        if (empties_go_ &&
            std::all_of(chunk_.begin(), chunk_.end(), [&](NodeId id) { return is_empty_group(id, mode); })) {
            brace_last(out_, chunk_.front(), placement);
            out_.insert(out_.end(), chunk_.begin(), chunk_.end());
            chunk_.clear();
            return;
        }
        const bool across = placement != mode;
        const std::uint8_t declared = declared_outside(run.state, base, mode, across);
        if (declared != 0 && (continued || (declared & run.later_at_base) != 0)) {
            // The declaratives written before, unbraced, still hold: what
            // they set is not written again, as it would not be read again.
            // Written relative to them, a run that still declares outside
            // every prefix goes into braces; one that needs prefixes alone
            // (a size then going inside the font's) stays bare, and sets
            // nothing for what follows.
            const bool braced = declared_outside(run.state, written_, mode, across) != 0;
            wrap_segment_with_canonical(run.state, written_, mode, across);
            if (braced) {
                const NodeId group = new_group(wrapped_, GroupKind::Explicit{}, placement);
                brace_last(out_, group, placement);
                out_.push_back(group);
            } else {
                if (!wrapped_.empty()) brace_last(out_, wrapped_.front(), placement);
                out_.insert(out_.end(), wrapped_.begin(), wrapped_.end());
            }
        } else {
            const std::uint8_t outside = wrap_segment_with_canonical(run.state, written_, mode, across);
            for (Attr attr : axes_of(mode))
                if ((outside & axis_bit(attr)) != 0) written_.set(attr, run.state.get(attr));
            if (!wrapped_.empty()) brace_last(out_, wrapped_.front(), placement);
            out_.insert(out_.end(), wrapped_.begin(), wrapped_.end());
        }
        chunk_.clear();
    }

    // Whether some pair's state differs from the start of the task.
    bool differs(const Task& task) {
        if (task.differs_inside) return true;
        if (!task.states.many()) {
            const auto states = task.states.states();
            return std::any_of(states.begin(), states.end(), [&](const State& s) { return s != task.start; });
        }
        for (std::size_t i = task.pairs_begin; i < pairs_.size(); ++i) {
            if (scan_budget_ == 0) return true;  // see `declares_outside`
            --scan_budget_;
            if (pairs_[i].state != task.start) return true;
        }
        return false;
    }

    // A group whose content joins the list around: an enclosing group that
    // starts where it did learns what its pairs showed without looking at
    // them again.
    void dissolve(const Task& task) {
        ast_.remove_detached(task.node);
        if (tasks_.size() < 2) return;
        Task& around = tasks_[tasks_.size() - 2];
        if (around.kind != Kind::Explicit || around.start != task.start) return;
        around.differs_inside = true;
        around.declares_inside = around.declares_inside || task.declares_inside;
    }

    // Whether writing the pairs of the task relative to its start state
    // puts a declarative outside every prefix.
    bool declares_outside(const Task& task) {
        if (task.declares_inside) return true;
        if (!task.states.many()) {
            const auto states = task.states.states();
            return std::any_of(states.begin(), states.end(),
                               [&](const State& s) { return declared_outside(s, task.start, task.mode, false) != 0; });
        }
        for (std::size_t i = task.pairs_begin; i < pairs_.size(); ++i) {
            // Past the budget the group dissolves, as a group that declares
            // does: its pairs keep their states, so the content keeps its
            // attributes.
            if (scan_budget_ == 0) return true;
            --scan_budget_;
            if (i > task.pairs_begin && pairs_[i].state == pairs_[i - 1].state) continue;
            if (declared_outside(pairs_[i].state, task.start, task.mode, false) != 0) return true;
        }
        return false;
    }

    // The axes that writing `segment` relative to `base` puts as
    // declaratives outside every prefix.
    std::uint8_t declared_outside(const State& segment, const State& base, ContentMode mode, bool across) const {
        std::uint8_t outside = 0;
        for (Attr attr : wrap_axes(segment, base, mode, across)) {
            const CanonicalForm* line = canonical_line(segment.get(attr));
            if (line == nullptr || !line->declarative(mode)) continue;
            outside = line->prefix(mode) ? 0 : outside | axis_bit(attr);
        }
        return outside;
    }

    // The axes a run is wrapped for, the first innermost.
    AxisList wrap_axes(const State& segment, const State& base, ContentMode mode, bool across) const {
        AxisList axes = segment.diff_axes(base, axes_of(mode));
        if (mode == ContentMode::Math && axes.size() == 2 && axes[0] == Attr::MathFont && axes[1] == Attr::MathSize) {
            AxisList swapped;
            swapped.push_back(Attr::MathSize);
            swapped.push_back(Attr::MathFont);
            axes = swapped;  // the size declarative then lands inside the font prefix
        }
        if (across) {
            // Written into a list of the other mode, a declarative outside
            // every prefix would be read in that mode: the axes written as
            // declaratives go innermost, inside the prefixes.
            AxisList inner;
            AxisList outer;
            for (Attr attr : axes) {
                const CanonicalForm* line = canonical_line(segment.get(attr));
                (line != nullptr && !line->prefix(mode) ? inner : outer).push_back(attr);
            }
            for (Attr attr : outer) inner.push_back(attr);
            axes = inner;
        }
        return axes;
    }

    // Wraps `chunk_` into `wrapped_` with the forms of the values that
    // `segment` holds and `base` does not, the first axis innermost. Returns
    // the axes written as declaratives that stand outside every prefix.
    std::uint8_t wrap_segment_with_canonical(const State& segment, const State& base, ContentMode mode, bool across) {
        wrapped_.assign(chunk_.begin(), chunk_.end());
        const AxisList axes = wrap_axes(segment, base, mode, across);
        std::uint8_t outside = 0;
        for (Attr attr : axes) {
            const CanonicalForm* line = canonical_line(segment.get(attr));
            if (line == nullptr || !line->declarative(mode)) continue;
            if (const auto& prefix = line->prefix(mode)) {
                const NodeId command = new_prefix(prefix->name, wrapped_, mode);
                wrapped_.assign(1, command);
                count(*line, AttributeCounter::EmittedPrefixes);
                outside = 0;
            } else {
                const NodeId declarative =
                    ast_.new_node(Node::Declarative{std::string(line->declarative(mode)->name), {}});
                // In text, spacing right after the new control word would
                // only end its name: an empty group keeps it content.
                if (mode == ContentMode::Text && !wrapped_.empty() && starts_with_spacing(wrapped_.front())) {
                    wrapped_.insert(wrapped_.begin(), new_group({}, GroupKind::Explicit{}, ContentMode::Text));
                }
                // In math, primes right after it would be read as its
                // scripts: braces keep them the content's own.
                if (mode == ContentMode::Math && !wrapped_.empty() &&
                    support::prime_head(ast_, wrapped_.front(), false) != support::PrimeHead::None) {
                    wrapped_.front() = new_group({&wrapped_.front(), 1}, GroupKind::Explicit{}, ContentMode::Math);
                }
                wrapped_.insert(wrapped_.begin(), declarative);
                count(*line, AttributeCounter::EmittedDeclaratives);
                outside |= axis_bit(attr);
            }
        }
        return outside;
    }

    // Declared first: the work-list references below bind into it.
    support::KeptBuffers<Buffers> kept_;
    Ast& ast_;
    ReportRecorder& recorder_;
    const knowledge::KnowledgeBase* math_;
    const knowledge::KnowledgeBase* text_;
    const bool empty_groups_go_;
    const bool empty_groups_go_in_env_;
    // Text font commands that change nothing stay, for their italic
    // corrections: while flattening keeps ligatures apart, rendering is kept.
    const bool keeps_text_edges_;
    const bool atom_spacing_;
    State written_;  // emitting a list: the state its declaratives written so far leave in force
    bool empties_go_ = false;  // emitting a list: flattening takes its empty groups out
    std::vector<Task>& tasks_;
    std::vector<NodeId>& items_;
    std::vector<Pair>& pairs_;
    std::vector<SlotEdge>& edges_;
    std::vector<Run>& runs_;
    std::vector<NodeId>& chunk_;
    std::vector<NodeId>& wrapped_;
    std::vector<NodeId>& out_;
    std::vector<NodeId>& ids_;
    std::uint32_t stretch_ = 1;
    static constexpr std::size_t kEmptyNestLimit = 8;
    // Pairs the brace groups may look at to decide whether they dissolve: a
    // fixed allowance and a share per group, so that nested groups cost
    // linear time.
    static constexpr std::size_t kScanPerGroup = 64;
    std::size_t scan_budget_ = std::size_t{1} << 16;
};

// Whether some live node of the arena, detached ones included, is one the
// pass acts on. Most trees hold none: a sweep over the slots, without the
// walk's stack, then answers for the whole pass.
bool holds_anything_to_lower(const Ast& ast) {
    return ast.any_node([&](NodeId id, const Node& node) {
        const NodeKind kind = node.kind();
        return (kind == NodeKind::Command || kind == NodeKind::Declarative || kind == NodeKind::Text) &&
               acts_on(ast, id, node);
    });
}

}  // namespace

Lowered lower_attributes(syntax::Ast& ast, syntax::ast::NodeId root, ReportRecorder& recorder,
                         const FlattenGroupsGuards* flattening, const PassSight& sight) {
    util::work_count += ast.node_count();  // the walk, counted at once
    util::check_work();
    if (!holds_anything_to_lower(ast)) return Lowered::Nothing;
    return Lowering(ast, recorder, flattening, sight).run(root);
}

}  // namespace quorvel::transform::passes
