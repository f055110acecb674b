#include "syntax/ast.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <type_traits>

#include "syntax/ast_internal.hpp"
#include "util/thread_storage.hpp"

namespace quorvel::syntax {

using ast::Node;
using ast::NodeId;

// `Node::kind` reads the variant index as a NodeKind: pin the order.
template <std::size_t I, class T>
constexpr bool kAt = std::is_same_v<std::variant_alternative_t<I, Node::Value>, T>;
static_assert(kAt<0, Node::Root> && kAt<1, Node::Group> && kAt<2, Node::Command> &&
              kAt<3, Node::Infix> && kAt<4, Node::Declarative> && kAt<5, Node::Environment> &&
              kAt<6, Node::Scripted> && kAt<7, Node::Prime> && kAt<8, Node::Text> &&
              kAt<9, Node::Char> && kAt<10, Node::ActiveSpace> && kAt<11, Node::Error>);
static_assert(static_cast<int>(NodeKind::Error) == 11 && static_cast<int>(NodeKind::Prime) == 7);

// ---------------------------------------------------------------------------
// Value types

std::string ast::debug_string(NodeId id) {
    return "NodeId(" + std::to_string(id.index) + "v" + std::to_string(id.version) + ")";
}

std::optional<NodeId> ast::ArgumentValue::content() const {
    switch (value.index()) {
        case 0: return std::get<0>(value).node;
        case 1: return std::get<1>(value).node;
        case 2: return std::get<2>(value).node;
        default: return std::nullopt;
    }
}

NodeId* ast::ArgumentValue::content_ptr() {
    switch (value.index()) {
        case 0: return &std::get<0>(value).node;
        case 1: return &std::get<1>(value).node;
        case 2: return &std::get<2>(value).node;
        default: return nullptr;
    }
}

std::optional<ContentMode> ast::ArgumentValue::content_mode() const {
    switch (value.index()) {
        case 0: return ContentMode::Math;
        case 1: return ContentMode::Text;
        case 2: return ContentMode::Math;
        default: return std::nullopt;
    }
}

std::string debug_string(Slot slot) {
    switch (slot.kind()) {
        case Slot::Kind::GroupChild: return "GroupChild(" + std::to_string(slot.index()) + ")";
        case Slot::Kind::Argument: return "Argument(" + std::to_string(slot.index()) + ")";
        case Slot::Kind::ScriptBase: return "ScriptBase";
        case Slot::Kind::ScriptSub: return "ScriptSub";
        case Slot::Kind::ScriptSup: return "ScriptSup";
        case Slot::Kind::InfixLeft: return "InfixLeft";
        case Slot::Kind::InfixRight: return "InfixRight";
        case Slot::Kind::EnvBody: return "EnvBody";
    }
    return "EnvBody";
}

std::string debug_string(const ParentLink& link) {
    return "ParentLink { parent: " + ast::debug_string(link.parent) +
           ", slot: " + debug_string(link.slot) + " }";
}

std::string debug_string(NodeKind kind) { return std::string(node_kind_name(kind)); }

std::string debug_string(std::optional<NodeId> id) {
    return id ? "Some(" + ast::debug_string(*id) + ")" : "None";
}

std::string debug_string(const ast::ArgumentValue& value) {
    std::string out;
    auto tuple = [&out](std::string_view variant, std::string_view inner) {
        out += variant;
        out += '(';
        out += inner;
        out += ')';
    };
    auto quoted = [&tuple](std::string_view variant, const std::string& text) {
        std::string inner;
        append_debug_str(inner, text);
        tuple(variant, inner);
    };
    const auto& v = value.value;
    switch (v.index()) {
        case 0: tuple("MathContent", ast::debug_string(std::get<0>(v).node)); break;
        case 1: tuple("TextContent", ast::debug_string(std::get<1>(v).node)); break;
        case 2: tuple("OperatorNameContent", ast::debug_string(std::get<2>(v).node)); break;
        case 3: tuple("Delimiter", debug_string(std::get<3>(v).value)); break;
        case 4: quoted("CSName", std::get<4>(v).value); break;
        case 5: quoted("Dimension", std::get<5>(v).value); break;
        case 6: quoted("Integer", std::get<6>(v).value); break;
        case 7: quoted("KeyVal", std::get<7>(v).value); break;
        case 8: quoted("Column", std::get<8>(v).value); break;
        default: tuple("Boolean", std::get<9>(v).value ? "true" : "false"); break;
    }
    return out;
}

std::string debug_string(const ast::Argument& argument) {
    return "Argument { kind: " + debug_string(argument.kind) +
           (argument.no_leading_space ? ", no_leading_space: true, value: "
                                      : ", no_leading_space: false, value: ") +
           debug_string(argument.value) + " }";
}

namespace {

std::string debug_ids(const ast::ChildList& ids) {
    std::string out = "[";
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i > 0) out += ", ";
        out += ast::debug_string(ids[i]);
    }
    return out + "]";
}

std::string debug_args(const ast::ArgumentSlots& args) {
    std::string out = "[";
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (i > 0) out += ", ";
        out += args[i] ? "Some(" + debug_string(*args[i]) + ")" : "None";
    }
    return out + "]";
}

std::string debug_name(std::string_view name) {
    std::string out = "name: ";
    append_debug_str(out, name);
    return out;
}

const char* debug_bool(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string debug_string(const Node& node) {
    const auto& v = node.value;
    switch (node.kind()) {
        case NodeKind::Root: {
            const auto& x = std::get<Node::Root>(v);
            return "Root { children: " + debug_ids(x.children) + ", mode: " + debug_string(x.mode) + " }";
        }
        case NodeKind::Group: {
            const auto& x = std::get<Node::Group>(v);
            return "Group { children: " + debug_ids(x.children) + ", kind: " + debug_string(x.kind) +
                   ", mode: " + debug_string(x.mode) + " }";
        }
        case NodeKind::Command: {
            const auto& x = std::get<Node::Command>(v);
            return "Command { " + debug_name(x.name) + ", args: " + debug_args(x.args) +
                   ", known: " + debug_bool(x.known) + " }";
        }
        case NodeKind::Infix: {
            const auto& x = std::get<Node::Infix>(v);
            return "Infix { " + debug_name(x.name) + ", args: " + debug_args(x.args) +
                   ", left: " + ast::debug_string(x.left) + ", right: " + ast::debug_string(x.right) + " }";
        }
        case NodeKind::Declarative: {
            const auto& x = std::get<Node::Declarative>(v);
            return "Declarative { " + debug_name(x.name) + ", args: " + debug_args(x.args) + " }";
        }
        case NodeKind::Environment: {
            const auto& x = std::get<Node::Environment>(v);
            return "Environment { " + debug_name(x.name) + ", args: " + debug_args(x.args) +
                   ", known: " + debug_bool(x.known) + ", body: " + ast::debug_string(x.body) + " }";
        }
        case NodeKind::Scripted: {
            const auto& x = std::get<Node::Scripted>(v);
            return "Scripted { base: " + ast::debug_string(x.base) + ", subscript: " +
                   debug_string(x.subscript) + ", superscript: " + debug_string(x.superscript) + " }";
        }
        case NodeKind::Prime:
            return "Prime { count: " + std::to_string(std::get<Node::Prime>(v).count) + " }";
        case NodeKind::Text: {
            std::string out = "Text(";
            append_debug_str(out, std::get<Node::Text>(v).value);
            return out + ")";
        }
        case NodeKind::Char: {
            std::string out = "Char(";
            append_debug_char(out, std::get<Node::Char>(v).value);
            return out + ")";
        }
        case NodeKind::ActiveSpace: return "ActiveSpace";
        case NodeKind::Error: {
            const auto& x = std::get<Node::Error>(v);
            std::string out = "Error { message: ";
            append_debug_str(out, x.message);
            out += ", snippet: ";
            append_debug_str(out, x.snippet);
            return out + " }";
        }
    }
    return {};
}

// ---------------------------------------------------------------------------
// Internal helpers

namespace detail {

IdSet::IdSet(std::vector<NodeId> ids) : ids_(std::move(ids)) {
    std::sort(ids_.begin(), ids_.end(), less);
}

bool IdSet::contains(NodeId id) const { return std::binary_search(ids_.begin(), ids_.end(), id, less); }

bool IdSet::less(NodeId a, NodeId b) {
    return a.index != b.index ? a.index < b.index : a.version < b.version;
}

std::size_t first_repeat(const EdgeBuffer& edges) {
    if (edges.size() <= 16) {
        for (std::size_t k = 1; k < edges.size(); ++k) {
            for (std::size_t j = 0; j < k; ++j) {
                if (edges[j].id == edges[k].id) return k;
            }
        }
        return edges.size();
    }
    std::vector<NodeId> ids;
    ids.reserve(edges.size());
    for (const auto& e : edges) ids.push_back(e.id);
    return first_repeat(std::span<const NodeId>(ids));
}

std::size_t first_repeat(std::span<const NodeId> ids) {
    if (ids.size() <= 16) {
        for (std::size_t k = 1; k < ids.size(); ++k) {
            for (std::size_t j = 0; j < k; ++j) {
                if (ids[j] == ids[k]) return k;
            }
        }
        return ids.size();
    }
    std::vector<std::pair<NodeId, std::size_t>> sorted;
    sorted.reserve(ids.size());
    for (std::size_t k = 0; k < ids.size(); ++k) sorted.emplace_back(ids[k], k);
    std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
        if (a.first == b.first) return a.second < b.second;
        return IdSet::less(a.first, b.first);
    });
    std::size_t first = ids.size();
    for (std::size_t k = 1; k < sorted.size(); ++k) {
        if (sorted[k].first == sorted[k - 1].first) first = std::min(first, sorted[k].second);
    }
    return first;
}

}  // namespace detail

namespace {

constexpr std::string_view kInvalidNodeId = "Invalid NodeId";

// The per-thread scratch of the edit operations is kept from call to call,
// but not once a huge edit has grown it.
template <class T>
void trim_scratch(std::vector<T>& scratch) {
    if (scratch.capacity() > 4096) {
        scratch.clear();
        scratch.shrink_to_fit();
    }
}

std::vector<NodeId> edge_ids(const Node& node) {
    std::vector<NodeId> ids;
    for_each_edge(node, [&](NodeId id, Slot) { ids.push_back(id); });
    return ids;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading

Ast Ast::with_root_mode(ContentMode mode) {
    Ast ast(1);
    if (ast.nodes_.insert(Node::Root{{}, mode}) != root_) internal_error("root must be the first node");
    return ast;
}

std::vector<Edge> Ast::node_edges(const Node& node) {
    std::vector<Edge> edges;
    for_each_edge(node, [&](NodeId id, Slot slot) { edges.emplace_back(id, slot); });
    return edges;
}

void Ast::invalid_node_id() { internal_error(std::string(kInvalidNodeId)); }

NodeKind Ast::kind(NodeId id) const { return node(id).kind(); }

NodeId Ast::child_at(NodeId id, std::size_t index) const {
    const auto* list = node(id).child_list();
    if (list == nullptr || index >= list->size()) {
        internal_error("index out of bounds: the len is " + std::to_string(list ? list->size() : 0) +
                       " but the index is " + std::to_string(index));
    }
    return (*list)[index];
}

std::optional<Slot> Ast::slot(NodeId id) const noexcept {
    const ParentLink* link = link_of(id);
    return link ? std::optional<Slot>(link->slot) : std::nullopt;
}

std::optional<NodeId> Ast::parent_id(NodeId id) const noexcept {
    // Only the index of a link can go stale in a batch, never the parent.
    const ParentLink* link = stored_link(id);
    return link ? std::optional<NodeId>(link->parent) : std::nullopt;
}

std::optional<NodeId> Ast::next_sibling(NodeId id) const {
    const ParentLink* link = link_of(id);
    if (link == nullptr || !link->slot.is_group_child()) return std::nullopt;
    const auto* list = node(link->parent).child_list();
    std::size_t next = link->slot.index() + 1;
    if (list == nullptr || next >= list->size()) return std::nullopt;
    return (*list)[next];
}

std::optional<NodeId> Ast::prev_sibling(NodeId id) const {
    const ParentLink* link = link_of(id);
    if (link == nullptr || !link->slot.is_group_child()) return std::nullopt;
    const auto* list = node(link->parent).child_list();
    std::size_t index = link->slot.index();
    if (list == nullptr || index == 0 || index - 1 >= list->size()) return std::nullopt;
    return (*list)[index - 1];
}

void Ast::push_children_reversed(const Node& node, std::vector<NodeId>& stack) {
    std::size_t mark = stack.size();
    for_each_edge(node, [&](NodeId id, Slot) { stack.push_back(id); });
    std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
}

bool Ast::subtree_contains(NodeId root, NodeId target) const {
    std::vector<NodeId> stack;
    stack.push_back(root);
    while (!stack.empty()) {
        NodeId id = stack.back();
        stack.pop_back();
        ++util::work_count;
        if (id == target) return true;
        push_children_reversed(node(id), stack);
    }
    return false;
}

void Ast::collect_postorder(NodeId id, std::vector<NodeId>& out) const {
    // The walk's stack is per thread and kept between calls: removals run
    // this for every dropped subtree, most of them a leaf or two.
    constinit thread_local util::ThreadCache<std::vector<std::pair<NodeId, bool>>> kept_stack;
    std::vector<std::pair<NodeId, bool>>& stack = *kept_stack;
    stack.clear();
    stack.emplace_back(id, false);
    const std::size_t first = out.size();
    while (!stack.empty()) {
        auto [current, expanded] = stack.back();
        stack.pop_back();
        if (expanded) {
            out.push_back(current);
            continue;
        }
        const Node& n = node(current);
        stack.emplace_back(current, true);
        std::size_t mark = stack.size();
        for_each_edge(n, [&](NodeId kid, Slot) { stack.emplace_back(kid, false); });
        std::reverse(stack.begin() + static_cast<std::ptrdiff_t>(mark), stack.end());
    }
    util::work_count += out.size() - first;
    trim_scratch(stack);
}

// ---------------------------------------------------------------------------
// Shared checks

void Ast::assert_child_is_detached_root(NodeId child) const {
    if (!nodes_.contains(child)) internal_error("Invalid child NodeId");
    if (child == root_) internal_error("Cannot attach the AST root as a child");
    if (has_link(child)) internal_error("Cannot attach child that already has a parent");
    if (!detached_.contains(child)) internal_error("Can only attach detached roots");
}

void Ast::assert_unique_direct_children(const Node& value) {
    detail::EdgeBuffer edges;
    detail::collect_edges(value, edges);
    if (detail::first_repeat(edges) != edges.size()) {
        internal_error("Node cannot reference the same child twice");
    }
}

void Ast::assert_detached_root_sequence(std::span<const NodeId> ids) const {
    std::size_t repeat = detail::first_repeat(ids);
    for (std::size_t k = 0; k < ids.size(); ++k) {
        if (k == repeat) internal_error("Node cannot appear in a replacement sequence twice");
        assert_child_is_detached_root(ids[k]);
    }
}

bool Ast::is_ancestor_or_self(NodeId ancestor, NodeId id) const {
    // Two walks answer this, links mirroring edges: up the parent links
    // from `id`, costing its depth, and down the subtree of `ancestor`,
    // costing its size. They run in lockstep, a step each, and the first to
    // finish answers, so a check costs the smaller of the two: a fresh leaf
    // put under a deep node, or a deep subtree put under a fresh node, is
    // constant. The down walk only has to run out: were `id` inside, the up
    // walk would meet `ancestor` before the subtree's nodes are all visited.
    // It reads child lists lazily, one child a step, on a stack whose first
    // frames are inline. The step bound keeps a corrupted link chain from
    // looping.
    static constexpr std::size_t kVisit = static_cast<std::size_t>(-1);
    struct Frame {
        NodeId node;
        std::size_t next;  // the container's next child, or kVisit: the node itself
    };
    SmallVector<Frame, 8> down;
    auto expand = [&](NodeId at) {
        const Node& n = node(at);
        if (const ast::ChildList* list = n.child_list()) {
            if (!list->empty()) down.push_back(Frame{at, 0});
            return;
        }
        for_each_edge(n, [&](NodeId child, Slot) { down.push_back(Frame{child, kVisit}); });
    };
    if (id == ancestor) return true;
    const ParentLink* link = stored_link(id);
    if (link == nullptr) return false;  // `id` tops its tree, as most new parents do
    expand(ancestor);
    std::size_t steps = 0;
    struct Count {
        std::size_t& steps;
        ~Count() { util::work_count += steps; }
    } count{steps};
    while (true) {
        if (link->parent == ancestor) return true;
        if (down.empty()) return false;
        NodeId at = down.back().node;
        if (std::size_t& next = down.back().next; next == kVisit) {
            down.pop_back();
        } else {
            const ast::ChildList& list = *node(at).child_list();
            at = list[next];
            if (++next == list.size()) down.pop_back();
        }
        expand(at);
        if (++steps > nodes_.size()) internal_error("Cannot create an ancestor cycle");
        link = stored_link(link->parent);
        if (link == nullptr) return false;
    }
}

void Ast::check_no_cycle(NodeId child, NodeId parent) const {
    if (shown_outside(child, parent)) return;
    if (is_ancestor_or_self(child, parent)) internal_error("Cannot create an ancestor cycle");
}

// ---------------------------------------------------------------------------
// Places known outside a detached subtree

namespace {

// Steps of each walk that looks for a known place: rules move material one
// or two levels.
constexpr int kOutsideSteps = 4;

bool is_leaf(const Node& node) {
    bool leaf = true;
    for_each_edge(node, [&](NodeId, Slot) { leaf = false; });
    return leaf;
}

// Nodes of a subtree small enough to walk for a place instead of knowing
// it: a symbol a rule makes, such as `\mathrm{d}`.
constexpr std::size_t kSmallSubtree = 8;

}  // namespace

bool Ast::small_without(NodeId root, NodeId place) const noexcept {
    NodeId stack[kSmallSubtree];
    std::size_t size = 0;
    std::size_t visited = 0;
    stack[size++] = root;
    bool fits = true;
    while (size > 0 && fits) {
        const NodeId at = stack[--size];
        const Node* n = nodes_.get(at);
        if (at == place || n == nullptr || ++visited > kSmallSubtree) return false;
        for_each_edge(*n, [&](NodeId child, Slot) {
            if (size == kSmallSubtree) fits = false;
            else stack[size++] = child;
        });
    }
    return fits;
}

void Ast::note_outside(NodeId root, NodeId place) noexcept {
    const Node* n = nodes_.get(root);
    if (n == nullptr || is_leaf(*n)) return;
    if (!outside_) {
        try {
            outside_ = OutsideRing{};
        } catch (const std::bad_alloc&) {
            return;
        }
    }
    forget_outside(root);
    OutsideRing& ring = *outside_;
    if (ring.count == kOutsideEntries) {
        std::copy(ring.entries + 1, ring.entries + kOutsideEntries, ring.entries);
        --ring.count;
    }
    ring.entries[ring.count++] = Outside{root, place};
}

void Ast::note_attached(NodeId parent, NodeId child) noexcept {
    if (outside_count() == 0) return;
    // An attachment brings into a noted root's subtree only the places in
    // the attached subtree: a leaf brings none but itself.
    if (const Node* n = nodes_.get(child); n != nullptr && is_leaf(*n)) {
        forget_place(child);
        forget_outside(child);
        return;
    }
    // Under a node with a parent, the attachment may lie inside any noted
    // root's subtree; under a detached root, only inside that root's.
    if (stored_link(parent) != nullptr) {
        forget_all_outside();
        return;
    }
    forget_outside(parent);
    forget_outside(child);
}

void Ast::forget_outside(NodeId root) noexcept {
    if (!outside_) return;
    OutsideRing& ring = *outside_;
    for (std::size_t k = 0; k < ring.count; ++k) {
        if (ring.entries[k].root != root) continue;
        std::copy(ring.entries + k + 1, ring.entries + ring.count, ring.entries + k);
        --ring.count;
        return;
    }
}

void Ast::forget_place(NodeId place) noexcept {
    if (!outside_) return;
    OutsideRing& ring = *outside_;
    std::uint8_t kept = 0;
    for (std::size_t k = 0; k < ring.count; ++k)
        if (ring.entries[k].place != place) ring.entries[kept++] = ring.entries[k];
    ring.count = kept;
}

const NodeId* Ast::known_outside(NodeId root) const noexcept {
    for (std::size_t k = 0; k < outside_count(); ++k)
        if (outside_->entries[k].root == root) return &outside_->entries[k].place;
    return nullptr;
}

template <class Edges>
std::optional<NodeId> Ast::outside_of_all(const Edges& edges) const noexcept {
    // The first known place of a child, when every other child is a leaf
    // elsewhere or shows it outside too.
    if (outside_count() == 0) return std::nullopt;
    std::optional<NodeId> place;
    for (const auto& [child, slot] : edges)
        if (const NodeId* known = known_outside(child)) {
            place = *known;
            break;
        }
    if (!place) return std::nullopt;
    for (const auto& [child, slot] : edges) {
        if (child == *place) return std::nullopt;
        if (!shown_outside(child, *place) && !small_without(child, *place)) return std::nullopt;
    }
    return place;
}

bool Ast::shown_outside(NodeId child, NodeId parent) const noexcept {
    const NodeId* place = known_outside(child);
    if (place == nullptr || stored_link(child) != nullptr) return false;
    // Up from the parent: were it inside the subtree, every node up to
    // `child` would be too, so meeting the place first shows it is not.
    NodeId at = parent;
    for (int step = 0; step < kOutsideSteps; ++step) {
        if (at == child) return false;
        if (at == *place) return true;
        const ParentLink* link = stored_link(at);
        if (link == nullptr) break;
        at = link->parent;
    }
    // Up from the place: an ancestor of a node outside the subtree of a
    // detached root is outside it too.
    at = *place;
    for (int step = 0; step < kOutsideSteps; ++step) {
        if (at == parent) return true;
        const ParentLink* link = stored_link(at);
        if (link == nullptr) break;
        at = link->parent;
    }
    return false;
}

ast::ChildList& Ast::container_mut(NodeId parent) {
    auto* list = node_mut(parent).child_list();
    if (list == nullptr) internal_error("Parent is not a root/group node");
    return *list;
}

void Ast::check_env_body(NodeId child) const {
    const Node* n = nodes_.get(child);
    if (n == nullptr) internal_error(std::string(kInvalidNodeId));
    if (!n->is<Node::Group>()) internal_error("Environment body must be a Group node");
}

// ---------------------------------------------------------------------------
// Edit primitives

namespace {

// Room for `more` elements in a work list, grown by doubling: the edits
// that make room for one record each must not reallocate every time.
template <class T>
void make_room(std::vector<T>& list, std::size_t more) {
    if (list.capacity() - list.size() >= more) return;
    list.reserve(std::max(list.size() + more, 2 * list.capacity()));
}

// The largest key among `ids`, for covering the detached set before an
// edit's first change.
NodeId max_id(std::span<const NodeId> ids, NodeId start = {}) {
    NodeId top = start;
    for (NodeId id : ids)
        if (id.index > top.index) top = id;
    return top;
}

// A step's log, kept on the thread between steps: the many small edits of
// a transform then allocate none of their own.
constexpr std::size_t kKeptLogCapacity = 1 << 14;
constinit thread_local util::ThreadCache<StepLog> kept_log;

}  // namespace

// ---------------------------------------------------------------------------
// Steps

void Ast::Step::open(Ast& ast) {
    StepLog* kept = &*kept_log;
    if (kept->in_use) {
        // A step on another arena holds the thread's log.
        own_ = std::make_unique<StepLog>();
        kept = own_.get();
    }
    ast_ = &ast;
    log_ = kept;
    log_->in_use = true;
    ast.log_.step = log_;
}

void Ast::Step::close() noexcept {
    if (!committed_) ast_->undo(*log_);
    ast_->log_.step = nullptr;
    log_->clear();
    log_->in_use = false;
    if (log_->records.capacity() > kKeptLogCapacity || log_->ids.capacity() > kKeptLogCapacity ||
        log_->values.capacity() > kKeptLogCapacity) [[unlikely]]
        *log_ = StepLog{};
}

void Ast::Step::keep() noexcept {
    committed_ = true;
    ast_->log_.step = nullptr;
    // The nodes freed below may be noted places.
    if (!log_->frees.empty()) ast_->forget_all_outside();
    for (const std::uint32_t r : log_->frees) {
        const StepRecord& record = log_->records[r];
        if (record.op == StepRecord::Op::Freed) {
            ast_->free_subtree(record.a);
        } else {
            ast_->nodes_.erase(record.a);  // a hoisted group, emptied
        }
    }
}

void Ast::log_room(std::size_t ids, bool value, bool frees) {
    StepLog* log = log_.step;
    if (log == nullptr) return;
    make_room(log->records, 1);
    if (ids > 0) make_room(log->ids, ids);
    if (value) make_room(log->values, 1);
    if (frees) make_room(log->frees, 1);
}

void Ast::undo(StepLog& log) noexcept {
    using Op = StepRecord::Op;
    // Taking edits back attaches without the notes: what the places outside
    // detached roots said may no longer hold.
    forget_all_outside();
    auto unlink_children = [this](const Node& value) {
        for_each_edge(value, [this](NodeId child, Slot) {
            drop_link(child);
            detached_.insert(child);
        });
    };
    auto link_children = [this](NodeId parent, const Node& value) {
        for_each_edge(value, [this, parent](NodeId child, Slot slot) {
            detached_.remove(child);
            set_link(child, parent, slot);
        });
    };
    for (std::size_t r = log.records.size(); r-- > 0;) {
        const StepRecord& record = log.records[r];
        switch (record.op) {
            case Op::NewNode:
                unlink_children(*nodes_.get(record.a));
                detached_.remove(record.a);
                nodes_.erase(record.a);
                break;
            case Op::Detached:
                container_mut(record.b).insert_in_place(record.index, &record.a, 1);
                detached_.remove(record.a);
                set_link(record.a, record.b, Slot::group_child(record.index));
                break;
            case Op::DetachedRange: {
                const NodeId* ids = log.ids.data() + record.begin;
                container_mut(record.b).insert_in_place(record.index, ids, record.count);
                for (std::uint32_t k = 0; k < record.count; ++k) {
                    detached_.remove(ids[k]);
                    set_link(ids[k], record.b, Slot::group_child(record.index + k));
                }
                break;
            }
            case Op::Inserted:
                container_mut(record.b).erase_in_place(record.index, record.index + 1);
                drop_link(record.a);
                detached_.insert(record.a);
                break;
            case Op::ReplacedValue: {
                Node& value = node_mut(record.a);
                unlink_children(value);
                value = std::move(log.values[record.begin]);
                link_children(record.a, value);
                break;
            }
            case Op::ReplacedChildren: {
                ast::ChildList& list = container_mut(record.b);
                for (std::size_t p = 0; p < list.size(); ++p) {
                    drop_link(list[p]);
                    detached_.insert(list[p]);
                }
                list.clear();
                const NodeId* ids = log.ids.data() + record.begin;
                list.insert_in_place(0, ids, record.count);
                for (std::uint32_t k = 0; k < record.count; ++k) {
                    detached_.remove(ids[k]);
                    set_link(ids[k], record.b, Slot::group_child(k));
                }
                break;
            }
            case Op::ContentSwap:
                *content_field(record.c, record.slot, record.b) = record.a;
                drop_link(record.b);
                detached_.insert(record.b);
                detached_.remove(record.a);
                set_link(record.a, record.c, record.slot);
                break;
            case Op::Hoisted:
                container_mut(record.a).insert_in_place(0, &record.b, 1);
                set_link(record.b, record.a, Slot::group_child(0));
                *content_field(record.c, record.slot, record.b) = record.a;
                set_link(record.a, record.c, record.slot);
                break;
            case Op::ConsumedInto: {
                Node& value = node_mut(record.a);
                Node consumed = std::move(value);
                value = std::move(log.values[record.begin]);
                link_children(record.a, value);
                Node& shell = node_mut(record.b);
                shell = std::move(consumed);
                for_each_edge(shell, [this, &record](NodeId child, Slot slot) { set_link(child, record.b, slot); });
                break;
            }
            case Op::Freed: detached_.insert(record.a); break;
        }
    }
    log.clear();
    // Positions were put back exactly; the links of the siblings behind
    // them are brought up to date here, once, over every list.
    nodes_.for_each([this](NodeId id, const Node& node) {
        const ast::ChildList* list = node.child_list();
        if (list == nullptr) return;
        const auto [front, back] = list->segments();
        std::size_t p = 0;
        for (const NodeId child : front) set_link(child, id, Slot::group_child(p++));
        for (const NodeId child : back) set_link(child, id, Slot::group_child(p++));
    });
    if (stale_) {
        stale_->from.clear();
        stale_->lists.clear();
    }
}

void Ast::free_subtree(NodeId top) noexcept {
    // Down to a node with nothing below it, which is freed; then up its
    // parent link to free the next. A list gives up its children from the
    // back; another node's children are found by their keys going stale.
    // Each step counts as work, as a freed node costs about four steps of a walk.
    NodeId at = top;
    for (;; util::work_count += 4) {
        Node& node = *nodes_.get(at);
        std::optional<NodeId> below;
        if (ast::ChildList* list = node.child_list()) {
            if (!list->empty()) {
                below = list->back();
                list->pop_back();
            }
        } else {
            for_each_edge(node, [&](NodeId child, Slot) {
                if (!below && nodes_.contains(child)) below = child;
            });
        }
        if (below) {
            at = *below;
            continue;
        }
        if (at == top) {
            drop_link(at);
            nodes_.erase(at);
            return;
        }
        const NodeId parent = stored_link(at)->parent;
        drop_link(at);
        detached_.remove(at);
        nodes_.erase(at);
        at = parent;
    }
}

// ---------------------------------------------------------------------------
// Edit primitives
//
// Each edit checks and allocates everything it needs first, then changes the
// tree with steps that cannot fail: one that throws leaves the tree as it
// was.

namespace {
// The open build limit of this thread.
constinit thread_local Ast::BuildLimit* open_limit = nullptr;
}  // namespace

Ast::BuildLimit::BuildLimit(const Ast& ast, std::size_t multiple, std::size_t constant) noexcept
    : ast_(ast), outer_(open_limit), multiple_(multiple), constant_(constant) {
    open_limit = this;
}

Ast::BuildLimit::~BuildLimit() { open_limit = outer_; }

void Ast::BuildLimit::charge(const Node& value) {
    if (!started_) {
        // Measured at the first new node, not when opened: a run that builds
        // nothing never walks the arena.
        started_ = true;
        ast_.for_each_node([&](NodeId, const Node& node) { measured_ += footprint(node); });
        const std::size_t most = std::numeric_limits<std::size_t>::max();
        allowance_ = measured_ > (most - constant_) / multiple_ ? most : measured_ * multiple_ + constant_;
    }
    const std::size_t bytes = footprint(value);
    if (bytes > allowance_ - built_) throw BuildLimitExceeded{};
    built_ += bytes;
}

std::size_t Ast::footprint(const Node& node) noexcept {
    std::size_t bytes = kSlotBytes;
    if (const ast::Name* name = node.name()) bytes += name->size();
    if (const auto* text = node.get_if<Node::Text>()) bytes += text->value.size();
    if (const auto* error = node.get_if<Node::Error>()) bytes += error->message.size() + error->snippet.size();
    if (const ast::ChildList* children = node.child_list()) bytes += children->size() * sizeof(NodeId);
    if (const ast::ArgumentSlots* args = node.args()) {
        bytes += args->size() * sizeof(std::optional<ast::Argument>);
        for (const auto& slot : *args) {
            if (!slot) continue;
            std::visit([&](const auto& v) {
                if constexpr (requires { v.value.size(); }) bytes += v.value.size();
            }, slot->value.value);
        }
    }
    return bytes;
}

NodeId Ast::new_node(Node value) {
    if (value.is<Node::Root>()) internal_error("Cannot create detached root node");
    if (open_limit != nullptr && &open_limit->ast_ == this) open_limit->charge(value);
    // A node costs about what 64 steps of a walk do; nothing is made
    // yet, so a run past its work bound may end here.
    util::work_count += 64;
    util::check_work();
    detail::EdgeBuffer edges;
    detail::collect_edges(value, edges);
    if (detail::first_repeat(edges) != edges.size()) {
        internal_error("Node cannot reference the same child twice");
    }
    // A fresh node is nobody's descendant, so no child can close a cycle.
    for (const auto& [child, slot] : edges) {
        assert_child_is_detached_root(child);
        if (slot.kind() == Slot::Kind::EnvBody) check_env_body(child);
    }
    log_room();
    const std::optional<NodeId> outside = outside_of_all(edges);
    NodeId id = nodes_.insert(std::move(value));
    try {
        detached_.insert(id);
    } catch (...) {
        nodes_.erase(id);
        throw;
    }
    for (const auto& [child, slot] : edges) {
        detached_.remove(child);
        set_link(child, id, slot);
        forget_outside(child);
    }
    log({StepRecord::Op::NewNode, {}, id, {}, {}});
    if (outside) note_outside(id, *outside);
    return id;
}

void Ast::append_scripted(std::vector<NodeId>& items, NodeId base, std::optional<NodeId> sub,
                          std::optional<NodeId> sup) {
    if (node(base).ends_cell()) {
        items.push_back(base);
        base = new_node(Node::Group{{}, ast::GroupKind::Implicit{}, ContentMode::Math});
    }
    items.push_back(new_node(Node::Scripted{base, sub, sup}));
}

NodeId Ast::implicit_math_group(std::span<const NodeId> children) {
    return new_node(Node::Group{ast::ChildList(children), ast::GroupKind::Implicit{}, ContentMode::Math});
}

void Ast::append_child(NodeId parent, NodeId child) {
    insert_child(parent, container_mut(parent).size(), child);
}

void Ast::insert_child(NodeId parent, std::size_t position, NodeId child) {
    assert_child_is_detached_root(child);
    check_no_cycle(child, parent);
    insert_checked_child(parent, position, child);
}

void Ast::insert_checked_child(NodeId parent, std::size_t position, NodeId child) {
    ast::ChildList& list = container_mut(parent);
    if (position > list.size()) {
        internal_error("insertion index (is " + std::to_string(position) +
                       ") should be <= len (is " + std::to_string(list.size()) + ")");
    }
    log_room();
    if (position < list.size()) prepare_shift(parent);
    insert_in_list(parent, list, position, child);  // the one change that may fail, and then changes nothing
    detached_.remove(child);
    set_link(child, parent, Slot::group_child(position));
    note_attached(parent, child);
    if (position + 1 < list.size()) shift_group_children(parent, position + 1);
    log({StepRecord::Op::Inserted, {}, child, parent, {}, static_cast<std::uint32_t>(position)});
}

// Lists shorter than this move their tail on every edit: it is cheaper
// than keeping track of a gap.
constexpr std::size_t kGapMinLength = 64;

bool Ast::use_gap(const ast::ChildList& list) const noexcept {
    return batch_depth_ > 0 && list.size() >= kGapMinLength;
}

void Ast::note_gap(NodeId parent) {
    if (!stale_) stale_ = StaleLists{};
    stale_->gapped.push_back(parent);
}

void Ast::insert_in_list(NodeId parent, ast::ChildList& list, std::size_t position, NodeId child) {
    if (!use_gap(list)) {
        list.insert(position, child);
        return;
    }
    // Noted first: a gap that outlived the batch would make reads write.
    if (!list.has_gap()) note_gap(parent);
    list.insert_at_gap(position, child);
}

void Ast::erase_from_list(NodeId parent, ast::ChildList& list, std::size_t first, std::size_t last) {
    if (!use_gap(list)) {
        list.erase(first, last);
        return;
    }
    if (!list.has_gap()) note_gap(parent);
    list.erase_at_gap(first, last);
}

void Ast::reindex_group_children(NodeId parent, std::size_t start) {
    const ast::ChildList& list = container_mut(parent);
    for (std::size_t p = start; p < list.size(); ++p) {
        set_link(list[p], parent, Slot::group_child(p));
    }
    if (start < list.size()) util::work_count += list.size() - start;
}

const ast::ChildList* Ast::live_child_list(NodeId parent) const noexcept {
    const ast::Node* node = nodes_.get(parent);
    return node != nullptr ? node->child_list() : nullptr;
}

void Ast::prepare_shift(NodeId parent) {
    if (batch_depth_ == 0) return;
    if (!stale_) stale_ = StaleLists{};
    if (stale_->from.get(parent) != nullptr) return;
    stale_->from.presize(parent.index);
    make_room(stale_->lists, 1);
}

void Ast::shift_group_children(NodeId parent, std::size_t start) {
    if (batch_depth_ == 0) {
        reindex_group_children(parent, start);
        return;
    }
    // After prepare_shift for this parent, nothing below allocates.
    if (!stale_) stale_ = StaleLists{};
    if (std::size_t* from = stale_->from.get(parent)) {
        *from = std::min(*from, start);
        return;
    }
    stale_->from.insert(parent, start);
    stale_->lists.push_back(parent);
}

const ParentLink* Ast::refresh_link(NodeId id, const ParentLink* link) noexcept {
    if (!link->slot.is_group_child()) return link;
    const NodeId parent = link->parent;
    std::size_t* from = stale_->from.get(parent);
    if (from == nullptr) return link;
    const ast::ChildList* list = live_child_list(parent);
    if (list == nullptr) return link;
    const std::size_t index = link->slot.index();
    if (index < list->size() && (*list)[index] == id) return link;
    // Everything before `from` is numbered; renumber up to the node.
    const std::size_t start = *from;
    std::size_t p = start;
    for (; p < list->size(); ++p) {
        set_link((*list)[p], parent, Slot::group_child(p));
        if ((*list)[p] == id) {
            *from = p + 1;
            break;
        }
    }
    util::work_count += p - start;
    if (*from >= list->size()) stale_->from.remove(parent);
    return stored_link(id);
}

void Ast::renumber_stale_lists() noexcept {
    if (!stale_) return;
    // Outside a batch no list holds a gap, so reading one changes nothing.
    for (const NodeId parent : stale_->gapped)
        if (const ast::ChildList* list = live_child_list(parent)) list->close_gap();
    stale_->gapped.clear();
    for (const NodeId parent : stale_->lists) {
        const std::size_t* from = stale_->from.get(parent);
        const ast::ChildList* list = live_child_list(parent);
        if (from == nullptr || list == nullptr) continue;
        for (std::size_t p = *from; p < list->size(); ++p) set_link((*list)[p], parent, Slot::group_child(p));
        if (*from < list->size()) util::work_count += list->size() - *from;
        stale_->from.remove(parent);
    }
    stale_->lists.clear();
    stale_->from.clear();
}

NodeId Ast::detach(NodeId id) {
    if (id == root_) internal_error("Cannot detach root node");
    const ParentLink* link = link_of(id);
    if (link == nullptr) internal_error("Cannot detach node without a parent");
    if (!link->slot.is_group_child()) internal_error("Can only detach GroupChild nodes");
    NodeId parent = link->parent;
    std::size_t index = link->slot.index();
    ast::ChildList& list = container_mut(parent);
    if (index >= list.size() || list[index] != id) {
        std::optional<NodeId> found;
        if (index < list.size()) found = list[index];
        equality_failure("Group child index must match detached node", debug_string(found),
                         debug_string(std::optional<NodeId>(id)));
    }
    detached_.cover(id);
    log_room();
    if (index + 1 < list.size()) prepare_shift(parent);
    erase_from_list(parent, list, index, index + 1);
    drop_link(id);
    detached_.insert(id);
    note_outside(id, parent);
    if (index < list.size()) shift_group_children(parent, index);
    log({StepRecord::Op::Detached, {}, id, parent, {}, static_cast<std::uint32_t>(index)});
    return id;
}

void Ast::remove_detached(NodeId id) {
    if (id == root_) internal_error("Cannot remove root node");
    if (!nodes_.contains(id)) internal_error(std::string(kInvalidNodeId));
    if (has_link(id)) internal_error("Can only remove detached roots");
    if (!detached_.contains(id)) internal_error("Node is not a detached root");
    log_room(0, false, true);
    detached_.remove(id);
    forget_outside(id);
    if (in_step()) {
        log_free({StepRecord::Op::Freed, {}, id});
        return;
    }
    free_subtree(id);
}

void Ast::remove_node(NodeId id) {
    Step step(*this);
    detach(id);
    remove_detached(id);
    step.commit();
}

void Ast::replace_node(NodeId id, Node value) {
    if (id == root_) internal_error("Cannot replace root node");
    if (!nodes_.contains(id)) internal_error(std::string(kInvalidNodeId));
    if (value.is<Node::Root>()) internal_error("Cannot replace node with root variant");
    assert_unique_direct_children(value);

    std::vector<NodeId> old_ids = edge_ids(node(id));
    detail::IdSet old_set(old_ids);
    std::vector<Edge> new_edges = node_edges(value);

    for (const auto& [child, slot] : new_edges) {
        if (slot.kind() == Slot::Kind::EnvBody) check_env_body(child);
        if (old_set.contains(child)) {
            const ParentLink* link = link_of(child);
            if (link == nullptr) internal_error("Existing child is missing parent link");
            if (link->parent != id) {
                equality_failure("Can only reuse direct children of the replaced node",
                                 ast::debug_string(link->parent), ast::debug_string(id));
            }
        } else {
            assert_child_is_detached_root(child);
            check_no_cycle(child, id);
        }
    }

    std::vector<NodeId> new_ids;
    new_ids.reserve(new_edges.size());
    for (const auto& edge : new_edges) new_ids.push_back(edge.first);
    detail::IdSet new_set(new_ids);
    // Undoing the step puts every child of either value through the set.
    detached_.cover(max_id(new_ids, max_id(old_ids)));
    log_room(0, true);

    for (NodeId old_child : old_ids) {
        if (!new_set.contains(old_child)) {
            drop_link(old_child);
            detached_.insert(old_child);
        }
    }
    for (NodeId new_child : new_ids) {
        if (!old_set.contains(new_child)) detached_.remove(new_child);
    }
    Node old = std::exchange(node_mut(id), std::move(value));
    for (const auto& [child, slot] : new_edges) set_link(child, id, slot);
    for (NodeId new_child : new_ids)
        if (!old_set.contains(new_child)) note_attached(id, new_child);
    for (NodeId old_child : old_ids)
        if (!new_set.contains(old_child)) note_outside(old_child, id);
    if (in_step()) {
        log({StepRecord::Op::ReplacedValue, {}, id, {}, {}, 0, static_cast<std::uint32_t>(log_.step->values.size())});
        log_.step->values.push_back(std::move(old));
    }
}

std::vector<NodeId> Ast::replace_children(NodeId parent, std::span<const NodeId> children) {
    // The old list is read in place: nothing below touches the node storage
    // until the list is overwritten. Membership in either list is a scan
    // while the lists are short, as nearly all are, and a binary search in
    // per-thread sorted copies past that, so a call allocates nothing but
    // the returned ids (and, in a step, the old list's copy in the log).
    ast::ChildList& old_list = container_mut(parent);
    const bool scan = old_list.size() * children.size() <= 256;
    constinit thread_local util::ThreadCache<std::vector<std::pair<NodeId, std::size_t>>> kept_positions;
    constinit thread_local util::ThreadCache<std::vector<NodeId>> kept_sorted;
    std::vector<std::pair<NodeId, std::size_t>>& old_positions = *kept_positions;
    std::vector<NodeId>& new_sorted = *kept_sorted;
    auto by_id = [](const auto& a, const auto& b) { return detail::IdSet::less(a.first, b.first); };
    if (!scan) {
        old_positions.clear();
        for (std::size_t j = 0; j < old_list.size(); ++j) old_positions.emplace_back(old_list[j], j);
        std::sort(old_positions.begin(), old_positions.end(), by_id);
        new_sorted.assign(children.begin(), children.end());
        std::sort(new_sorted.begin(), new_sorted.end(), detail::IdSet::less);
    }
    auto old_position = [&](NodeId id) -> std::optional<std::size_t> {
        if (scan) {
            for (std::size_t j = 0; j < old_list.size(); ++j)
                if (old_list[j] == id) return j;
            return std::nullopt;
        }
        auto it = std::lower_bound(old_positions.begin(), old_positions.end(),
                                   std::pair<NodeId, std::size_t>(id, 0), by_id);
        if (it == old_positions.end() || it->first != id) return std::nullopt;
        return it->second;
    };
    auto kept = [&](NodeId id) {
        if (scan) return std::find(children.begin(), children.end(), id) != children.end();
        return std::binary_search(new_sorted.begin(), new_sorted.end(), id, detail::IdSet::less);
    };

    std::size_t repeat = detail::first_repeat(children);
    NodeId top = max_id(children);
    for (std::size_t k = 0; k < children.size(); ++k) {
        NodeId child = children[k];
        if (k == repeat) internal_error("Node cannot reference the same child twice");
        if (!nodes_.contains(child)) internal_error("Invalid child NodeId");
        if (child == root_) internal_error("Cannot attach the AST root as a child");
        if (auto j = old_position(child)) {
            // A child kept in place cannot close a cycle once its link
            // is confirmed.
            const ParentLink* link = link_of(child);
            ParentLink expected{parent, Slot::group_child(*j)};
            if (link == nullptr || !(*link == expected)) {
                check_no_cycle(child, parent);
                equality_failure("Can only reuse direct children of the replaced parent",
                                 link ? "Some(" + debug_string(*link) + ")" : "None",
                                 "Some(" + debug_string(expected) + ")");
            }
        } else {
            check_no_cycle(child, parent);
            assert_child_is_detached_root(child);
        }
    }

    // Everything the change needs, made before it starts: the returned ids,
    // the room in the detached set and the list, and the old list in the log.
    std::vector<NodeId> dropped;
    std::size_t dropping = 0;
    for (std::size_t j = 0; j < old_list.size(); ++j) {
        top = old_list[j].index > top.index ? old_list[j] : top;
        if (!kept(old_list[j])) ++dropping;
    }
    dropped.reserve(dropping);
    detached_.cover(top);
    log_room(old_list.size());
    if (children.size() > old_list.capacity()) {
        // `children` is not the list itself, which cannot outgrow itself.
        old_list.reserve(children.size());
    }
    const std::uint32_t saved = in_step() ? static_cast<std::uint32_t>(log_.step->ids.size()) : 0;
    if (in_step())
        for (std::size_t j = 0; j < old_list.size(); ++j) log_.step->ids.push_back(old_list[j]);
    const std::size_t old_size = old_list.size();

    for (std::size_t j = 0; j < old_list.size(); ++j) {
        const NodeId old_child = old_list[j];
        if (!kept(old_child)) {
            drop_link(old_child);
            detached_.insert(old_child);
            dropped.push_back(old_child);
        }
    }
    for (NodeId child : children) detached_.remove(child);
    // Rewritten in place, keeping the list's storage; `children` may be the
    // list itself, and each slot is read before it is written.
    ast::ChildList& list = container_mut(parent);
    list.clear();
    for (NodeId child : children) list.push_back(child);
    reindex_group_children(parent, 0);
    // Every listed child is attached now: a kept one was already.
    for (NodeId child : children) note_attached(parent, child);
    for (NodeId old_child : dropped) note_outside(old_child, parent);
    trim_scratch(old_positions);
    trim_scratch(new_sorted);
    log({StepRecord::Op::ReplacedChildren, {}, {}, parent, {}, 0, saved, static_cast<std::uint32_t>(old_size)});
    return dropped;
}

std::vector<NodeId> Ast::detach_children_range(NodeId parent, std::size_t start,
                                               std::size_t end) {
    ast::ChildList& list = container_mut(parent);
    if (end > list.size()) {
        internal_error("range end index " + std::to_string(end) +
                       " out of range for slice of length " + std::to_string(list.size()));
    }
    if (start > end) {
        internal_error("slice index starts at " + std::to_string(start) + " but ends at " +
                       std::to_string(end));
    }
    std::vector<NodeId> removed;
    removed.reserve(end - start);
    for (std::size_t p = start; p < end; ++p) removed.push_back(list[p]);
    detached_.cover(max_id(removed));
    log_room(removed.size());
    if (end < list.size()) prepare_shift(parent);
    erase_from_list(parent, list, start, end);  // the one change that may fail, and then changes nothing
    const std::uint32_t saved = in_step() ? static_cast<std::uint32_t>(log_.step->ids.size()) : 0;
    for (NodeId id : removed) {
        drop_link(id);
        detached_.insert(id);
        if (in_step()) log_.step->ids.push_back(id);
        note_outside(id, parent);
    }
    // A cut tail leaves no child to renumber.
    if (start < list.size()) shift_group_children(parent, start);
    log({StepRecord::Op::DetachedRange, {}, {}, parent, {}, static_cast<std::uint32_t>(start), saved,
         static_cast<std::uint32_t>(removed.size())});
    return removed;
}

void Ast::detach_all_children(NodeId parent) {
    ast::ChildList& list = container_mut(parent);
    NodeId top;
    for (std::size_t p = 0; p < list.size(); ++p)
        if (list[p].index > top.index) top = list[p];
    detached_.cover(top);
    log_room(list.size());
    const std::uint32_t saved = in_step() ? static_cast<std::uint32_t>(log_.step->ids.size()) : 0;
    for (std::size_t p = 0; p < list.size(); ++p) {
        const NodeId id = list[p];
        drop_link(id);
        detached_.insert(id);
        if (in_step()) log_.step->ids.push_back(id);
        note_outside(id, parent);
    }
    const std::uint32_t count = static_cast<std::uint32_t>(list.size());
    list.clear();
    log({StepRecord::Op::DetachedRange, {}, {}, parent, {}, 0, saved, count});
}

NodeId Ast::clone_subtree(NodeId id) {
    if (id == root_) internal_error("Cannot clone root node as a detached subtree");
    if (!nodes_.contains(id)) internal_error(std::string(kInvalidNodeId));
    // A copy that runs out of memory halfway leaves no part behind.
    Step step(*this);
    const NodeId copy = clone_recursive(id);
    step.commit();
    return copy;
}

NodeId Ast::clone_recursive(NodeId id) {
    // Post-order: every child is copied before its parent, whose copy then
    // names the children's copies (kept on `copies` in edge order).
    std::vector<std::pair<NodeId, bool>> stack;
    std::vector<NodeId> copies;
    std::vector<NodeId> kids;
    stack.emplace_back(id, false);
    while (!stack.empty()) {
        auto [current, expanded] = stack.back();
        stack.pop_back();
        const Node& source = node(current);
        if (source.is<Node::Root>()) internal_error("Cannot clone root node as a detached subtree");
        if (!expanded) {
            stack.emplace_back(current, true);
            kids.clear();
            push_children_reversed(source, kids);
            for (NodeId kid : kids) stack.emplace_back(kid, false);
            continue;
        }
        Node copy = source;  // copy before new_node may move the arena's storage
        std::size_t count = 0;
        for_each_edge(copy, [&](NodeId, Slot) { ++count; });
        std::size_t first = copies.size() - count;
        std::size_t next = first;
        detail::for_each_edge_mut(copy, [&](NodeId& child) { child = copies[next++]; });
        copies.resize(first);
        copies.push_back(new_node(std::move(copy)));
    }
    return copies.back();
}

}  // namespace quorvel::syntax
