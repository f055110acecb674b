// The arena syntax tree: the editable form of one formula.
//
// Every node lives in one arena and is named by a generational
// `ast::NodeId`; children, operands, bodies and argument contents refer to
// other nodes by id, and every attached node has a `ParentLink`. Nodes that
// hang nowhere are detached roots: new nodes are born detached, only a
// detached root can be attached, and only a detached root can be freed.
//
// A failed invariant check throws `InternalError` with a fixed message; the
// document layer checks every edit beforehand, so only an inconsistency in
// the caller reaches those checks. All walks are iterative.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "syntax/compact_string.hpp"
#include "syntax/compact_vector.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/from_syntax_error.hpp"
#include "syntax/gap_vector.hpp"
#include "syntax/internal_error.hpp"
#include "syntax/node_kind.hpp"
#include "syntax/slot_map.hpp"
#include "syntax/small_vector.hpp"
#include "syntax/span_tree.hpp"
#include "syntax/syntax_node.hpp"

namespace quorvel::syntax {

namespace ast {

// The plain-data companion types are the same for both trees.
using Delimiter = syntax_node::Delimiter;
using GroupKind = syntax_node::GroupKind;
using ArgumentKind = syntax_node::ArgumentKind;

// What a filled slot holds; the three content values each own one node.
struct ArgumentValue {
    struct MathContent {
        NodeId node;
        bool operator==(const MathContent&) const = default;
    };
    struct TextContent {
        NodeId node;
        bool operator==(const TextContent&) const = default;
    };
    struct OperatorNameContent {
        NodeId node;
        bool operator==(const OperatorNameContent&) const = default;
    };
    struct Delimiter {
        ast::Delimiter value;
        bool operator==(const Delimiter&) const = default;
    };
    struct CSName {
        std::string value;
        bool operator==(const CSName&) const = default;
    };
    struct Dimension {
        std::string value;
        bool operator==(const Dimension&) const = default;
    };
    struct Integer {
        std::string value;
        bool operator==(const Integer&) const = default;
    };
    struct KeyVal {
        std::string value;
        bool operator==(const KeyVal&) const = default;
    };
    struct Column {
        std::string value;
        bool operator==(const Column&) const = default;
    };
    struct Boolean {
        bool value = false;
        bool operator==(const Boolean&) const = default;
    };
    using Value = std::variant<MathContent, TextContent, OperatorNameContent, Delimiter, CSName,
                               Dimension, Integer, KeyVal, Column, Boolean>;

    Value value;

    ArgumentValue() = default;
    ArgumentValue(MathContent v) : value(std::in_place_type<MathContent>, v) {}
    ArgumentValue(TextContent v) : value(std::in_place_type<TextContent>, v) {}
    ArgumentValue(OperatorNameContent v) : value(std::in_place_type<OperatorNameContent>, v) {}
    ArgumentValue(Delimiter v) : value(std::in_place_type<Delimiter>, std::move(v)) {}
    ArgumentValue(CSName v) : value(std::in_place_type<CSName>, std::move(v)) {}
    ArgumentValue(Dimension v) : value(std::in_place_type<Dimension>, std::move(v)) {}
    ArgumentValue(Integer v) : value(std::in_place_type<Integer>, std::move(v)) {}
    ArgumentValue(KeyVal v) : value(std::in_place_type<KeyVal>, std::move(v)) {}
    ArgumentValue(Column v) : value(std::in_place_type<Column>, std::move(v)) {}
    ArgumentValue(Boolean v) : value(std::in_place_type<Boolean>, v) {}

    bool is_content() const { return value.index() <= 2; }
    // The content node of a content value.
    std::optional<NodeId> content() const;
    NodeId* content_ptr();
    // Math for math and operator-name content, Text for text content.
    std::optional<ContentMode> content_mode() const;

    bool operator==(const ArgumentValue&) const = default;
};

struct Argument {
    ArgumentKind kind;
    bool no_leading_space = false;
    ArgumentValue value;

    bool operator==(const Argument&) const = default;
};

// One pointer wide: most nodes have no argument slots at all.
using ArgumentSlots = CompactVector<std::optional<Argument>>;

// Child lists of up to two entries are stored inline in the node; a long
// list edited in a batch keeps a gap where the edits happen.
using ChildList = GapVector<NodeId, 2>;

// Names and texts: 16 bytes, short ones inline.
using Name = CompactString;

// One node value. Copying it copies the ids it names, never the subtree.
struct Node {
    struct Root {
        ChildList children;
        ContentMode mode = ContentMode::Math;
        bool operator==(const Root&) const = default;
    };
    struct Group {
        ChildList children;
        GroupKind kind;
        ContentMode mode = ContentMode::Math;
        bool operator==(const Group&) const = default;
    };
    struct Command {
        Name name;
        ArgumentSlots args;
        bool known = false;
        bool operator==(const Command&) const = default;
    };
    struct Infix {
        Name name;
        ArgumentSlots args;
        NodeId left;
        NodeId right;
        bool operator==(const Infix&) const = default;
    };
    struct Declarative {
        Name name;
        ArgumentSlots args;
        bool operator==(const Declarative&) const = default;
    };
    struct Environment {
        Name name;
        ArgumentSlots args;
        bool known = false;
        NodeId body;
        bool operator==(const Environment&) const = default;
    };
    struct Scripted {
        NodeId base;
        std::optional<NodeId> subscript;
        std::optional<NodeId> superscript;
        bool operator==(const Scripted&) const = default;
    };
    struct Prime {
        std::uint64_t count = 0;
        bool operator==(const Prime&) const = default;
    };
    struct Text {
        Name value;
        bool operator==(const Text&) const = default;
    };
    struct Char {
        char32_t value = 0;
        bool operator==(const Char&) const = default;
    };
    struct ActiveSpace {
        bool operator==(const ActiveSpace&) const = default;
    };
    struct Error {
        Name message;
        Name snippet;
        bool operator==(const Error&) const = default;
    };

    // Same order as NodeKind.
    using Value = std::variant<Root, Group, Command, Infix, Declarative, Environment, Scripted,
                               Prime, Text, Char, ActiveSpace, Error>;

    Value value;

    Node() noexcept : value(std::in_place_type<ActiveSpace>) {}
    Node(Root v) : value(std::in_place_type<Root>, std::move(v)) {}
    Node(Group v) : value(std::in_place_type<Group>, std::move(v)) {}
    Node(Command v) : value(std::in_place_type<Command>, std::move(v)) {}
    Node(Infix v) : value(std::in_place_type<Infix>, std::move(v)) {}
    Node(Declarative v) : value(std::in_place_type<Declarative>, std::move(v)) {}
    Node(Environment v) : value(std::in_place_type<Environment>, std::move(v)) {}
    Node(Scripted v) : value(std::in_place_type<Scripted>, v) {}
    Node(Prime v) : value(std::in_place_type<Prime>, v) {}
    Node(Text v) : value(std::in_place_type<Text>, std::move(v)) {}
    Node(Char v) : value(std::in_place_type<Char>, v) {}
    Node(ActiveSpace v) : value(std::in_place_type<ActiveSpace>, v) {}
    Node(Error v) : value(std::in_place_type<Error>, std::move(v)) {}

    NodeKind kind() const { return static_cast<NodeKind>(value.index()); }

    template <class T>
    bool is() const {
        return std::holds_alternative<T>(value);
    }
    template <class T>
    T* get_if() {
        return std::get_if<T>(&value);
    }
    template <class T>
    const T* get_if() const {
        return std::get_if<T>(&value);
    }

    // The child list of a Root or Group; null for other kinds.
    const ChildList* child_list() const { return const_cast<Node*>(this)->child_list(); }
    ChildList* child_list() {
        if (auto* v = get_if<Root>()) return &v->children;
        if (auto* v = get_if<Group>()) return &v->children;
        return nullptr;
    }
    // The `args` of a command-like node; null for other kinds.
    const ArgumentSlots* args() const { return const_cast<Node*>(this)->args(); }
    ArgumentSlots* args() {
        if (auto* v = get_if<Command>()) return &v->args;
        if (auto* v = get_if<Infix>()) return &v->args;
        if (auto* v = get_if<Declarative>()) return &v->args;
        if (auto* v = get_if<Environment>()) return &v->args;
        return nullptr;
    }
    // The `name` of a command-like node; null for other kinds.
    const Name* name() const {
        if (auto* v = get_if<Command>()) return &v->name;
        if (auto* v = get_if<Infix>()) return &v->name;
        if (auto* v = get_if<Declarative>()) return &v->name;
        if (auto* v = get_if<Environment>()) return &v->name;
        return nullptr;
    }

    // `&`, `\\` or `\cr`: the end of a cell of an alignment, which TeX
    // sets as a group of its own. The character `\&` is the command `&`.
    bool ends_cell() const {
        if (const auto* c = get_if<Char>()) return c->value == U'&';
        const auto* command = get_if<Command>();
        return command != nullptr && (command->name == "\\" || command->name == "cr");
    }

    bool operator==(const Node&) const = default;
};

// Every alternative fits in 40 bytes beside the variant's index: a change
// that grows a node grows every slot of every arena.
static_assert(sizeof(Node) <= 48);

}  // namespace ast

// Where a node hangs under its parent.
class Slot {
public:
    enum class Kind : std::uint8_t {
        GroupChild,
        Argument,
        ScriptBase,
        ScriptSub,
        ScriptSup,
        InfixLeft,
        InfixRight,
        EnvBody,
    };

    constexpr Slot() = default;
    static constexpr Slot group_child(std::size_t index) { return {Kind::GroupChild, index}; }
    static constexpr Slot argument(std::size_t index) { return {Kind::Argument, index}; }
    static constexpr Slot script_base() { return {Kind::ScriptBase, 0}; }
    static constexpr Slot script_sub() { return {Kind::ScriptSub, 0}; }
    static constexpr Slot script_sup() { return {Kind::ScriptSup, 0}; }
    static constexpr Slot infix_left() { return {Kind::InfixLeft, 0}; }
    static constexpr Slot infix_right() { return {Kind::InfixRight, 0}; }
    static constexpr Slot env_body() { return {Kind::EnvBody, 0}; }

    constexpr Kind kind() const { return static_cast<Kind>(bits_ >> kIndexBits); }
    // The position of a GroupChild or Argument slot; 0 for the others.
    constexpr std::size_t index() const { return bits_ & kMaxIndex; }
    constexpr bool is_group_child() const { return kind() == Kind::GroupChild; }
    constexpr bool is_argument() const { return kind() == Kind::Argument; }

    friend constexpr bool operator==(Slot a, Slot b) = default;

private:
    static constexpr unsigned kIndexBits = 29;
    static constexpr std::uint32_t kMaxIndex = (std::uint32_t{1} << kIndexBits) - 1;

    constexpr Slot(Kind kind, std::size_t index)
        : bits_(static_cast<std::uint32_t>(static_cast<std::uint32_t>(kind) << kIndexBits) |
                static_cast<std::uint32_t>(index)) {
        if (index > kMaxIndex) [[unlikely]] internal_error("arena is full");
    }

    // The kind in the top three bits, the position below: a parent link is
    // then 12 bytes. A list of 2^29 children would need tens of gigabytes
    // of nodes first.
    std::uint32_t bits_ = 0;
};

// A default link (the all-zero parent key) names no parent.
struct ParentLink {
    ast::NodeId parent;
    Slot slot;

    friend bool operator==(const ParentLink&, const ParentLink&) = default;
};

using Edge = std::pair<ast::NodeId, Slot>;

// What an arena slot keeps beside its node: the parent link, and the node's
// source span when both offsets fit 32 bits (see NodeSpans).
struct NodeMeta {
    static constexpr std::uint32_t kNoSpan = 0xFFFFFFFFu;

    ParentLink link;
    std::uint32_t span_start = kNoSpan;  // kNoSpan: no span here
    std::uint32_t span_end = kNoSpan;
};

class NodeSpans;
struct ParsedRoot;

std::string debug_string(Slot slot);          // "GroupChild(0)", "ScriptBase"
std::string debug_string(const ParentLink& link);  // "ParentLink { parent: ..., slot: ... }"
std::string debug_string(NodeKind kind);
std::string debug_string(std::optional<ast::NodeId> id);  // "Some(NodeId(1v1))" / "None"
// Derived forms of arena values, children shown as ids:
// `Group { children: [NodeId(2v1)], kind: Explicit, mode: Math }`.
std::string debug_string(const ast::Node& node);
std::string debug_string(const ast::Argument& argument);
std::string debug_string(const ast::ArgumentValue& value);

// Calls fn(child, slot) for each child a node value names, in the one
// traversal order of the system: group children in order; content
// arguments in slot order, after an infix's left operand and before its
// right operand, before an environment's body; a script's base, then
// subscript, then superscript.
template <class F>
void for_each_edge(const ast::Node& node, F&& fn) {
    auto args = [&fn](const ast::ArgumentSlots& slots) {
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (!slots[i]) continue;
            if (auto content = slots[i]->value.content()) fn(*content, Slot::argument(i));
        }
    };
    auto children = [&fn](const ast::ChildList& list) {
        const auto [front, back] = list.segments();
        std::size_t i = 0;
        for (const ast::NodeId child : front) fn(child, Slot::group_child(i++));
        for (const ast::NodeId child : back) fn(child, Slot::group_child(i++));
    };
    switch (node.kind()) {
        case NodeKind::Root: children(std::get<ast::Node::Root>(node.value).children); break;
        case NodeKind::Group: children(std::get<ast::Node::Group>(node.value).children); break;
        case NodeKind::Command: args(std::get<ast::Node::Command>(node.value).args); break;
        case NodeKind::Declarative: args(std::get<ast::Node::Declarative>(node.value).args); break;
        case NodeKind::Infix: {
            const auto& v = std::get<ast::Node::Infix>(node.value);
            fn(v.left, Slot::infix_left());
            args(v.args);
            fn(v.right, Slot::infix_right());
            break;
        }
        case NodeKind::Environment: {
            const auto& v = std::get<ast::Node::Environment>(node.value);
            args(v.args);
            fn(v.body, Slot::env_body());
            break;
        }
        case NodeKind::Scripted: {
            const auto& v = std::get<ast::Node::Scripted>(node.value);
            fn(v.base, Slot::script_base());
            if (v.subscript) fn(*v.subscript, Slot::script_sub());
            if (v.superscript) fn(*v.superscript, Slot::script_sup());
            break;
        }
        default: break;
    }
}

namespace document {
class Document;
}  // namespace document

// How to take back one edit made inside a step (see Ast::Step): the kind of
// edit, the nodes and place it touched, and where its saved ids or value
// wait in the log.
struct StepRecord {
    enum class Op : std::uint8_t {
        NewNode,           // a: the new node
        Detached,          // a: the child, b: its list, index: its position
        DetachedRange,     // b: the list, index: the first position, ids: the children
        Inserted,          // a: the child, b: its list, index: its position
        ReplacedValue,     // a: the node, values: its old value
        ReplacedChildren,  // b: the list, ids: its old children
        ContentSwap,       // a: the old content, b: the new, c: the parent, slot
        Hoisted,           // a: the freed group, b: its child, c: the parent, slot
        ConsumedInto,      // a: the node, b: the consumed root, values: the node's old value
        Freed,             // a: a detached root freed when the step ends
    };
    Op op = Op::NewNode;
    Slot slot = {};
    ast::NodeId a = {};
    ast::NodeId b = {};
    ast::NodeId c = {};
    std::uint32_t index = 0;
    std::uint32_t begin = 0;  // first saved id, or the saved value
    std::uint32_t count = 0;  // saved ids
};

struct StepLog {
    std::vector<StepRecord> records;
    std::vector<ast::NodeId> ids;
    std::vector<ast::Node> values;
    std::vector<std::uint32_t> frees;  // the Freed and Hoisted records, whose nodes the commit frees
    bool in_use = false;               // lent to a step

    void clear() noexcept {
        records.clear();
        ids.clear();
        values.clear();
        frees.clear();
    }
};

// What `new_node` throws past the allowance of an open `Ast::BuildLimit`;
// the limit itself tells the figures.
struct BuildLimitExceeded : std::exception {
    const char* what() const noexcept override { return "build limit exceeded"; }
};

class Ast {
public:
    // ---- Construction ----------------------------------------------------

    // An arena holding only an empty Root of the given mode.
    static Ast with_root_mode(ContentMode mode);

    // Builds an arena from an exchange tree that must be a Root (validate it
    // first). Nested Roots, non-Group environment bodies and missing
    // required children are internal errors.
    static Ast from_syntax_root(const SyntaxNode& root);
    // The same, moving names, texts and argument values out of `root` and
    // freeing its subtrees on the way: `root` is left an empty shell.
    static Ast from_syntax_root(SyntaxNode&& root);
    // Validates (from the top, mode none) and builds; the first failure of
    // the validation walk is returned instead of an arena.
    static std::variant<Ast, FromSyntaxError> from_syntax(const SyntaxNode& root);

    Ast(const Ast&) = default;
    Ast(Ast&&) noexcept = default;
    Ast& operator=(const Ast&) = default;
    Ast& operator=(Ast&&) noexcept = default;

    // ---- Reading ---------------------------------------------------------

    ast::NodeId root() const noexcept { return root_; }
    // Number of live nodes, detached ones included.
    std::size_t node_count() const noexcept { return nodes_.size(); }

    // The (child, slot) pairs a node value names, in traversal order.
    static std::vector<Edge> node_edges(const ast::Node& node);

    NodeKind kind(ast::NodeId id) const;
    // Null for a stale id; never fails.
    const ast::Node* node_opt(ast::NodeId id) const noexcept { return nodes_.get(id); }
    // "Invalid NodeId" for a stale id.
    const ast::Node& node(ast::NodeId id) const {
        const ast::Node* n = nodes_.get(id);
        if (n == nullptr) [[unlikely]] invalid_node_id();
        return *n;
    }
    bool contains(ast::NodeId id) const noexcept { return nodes_.contains(id); }

    // Child list of a Root or Group; empty for other kinds. In a batch this
    // costs the length of the list behind its last edit; `child_count` and
    // `child_at` cost nothing more than a lookup.
    std::span<const ast::NodeId> children(ast::NodeId id) const {
        const auto* list = node(id).child_list();
        return list ? list->span() : std::span<const ast::NodeId>{};
    }
    std::size_t child_count(ast::NodeId id) const {
        const auto* list = node(id).child_list();
        return list ? list->size() : 0;
    }
    // Child `index` (below child_count) of a Root or Group.
    ast::NodeId child_at(ast::NodeId id, std::size_t index) const;
    // `args` of a command-like node; empty for other kinds.
    std::span<const std::optional<ast::Argument>> arg_slots(ast::NodeId id) const {
        const auto* args = node(id).args();
        return args ? std::span<const std::optional<ast::Argument>>(*args)
                    : std::span<const std::optional<ast::Argument>>{};
    }

    std::optional<Slot> slot(ast::NodeId id) const noexcept;
    std::optional<ast::NodeId> parent_id(ast::NodeId id) const noexcept;
    const ParentLink* parent_link(ast::NodeId id) const noexcept { return link_of(id); }
    std::optional<ast::NodeId> next_sibling(ast::NodeId id) const;
    std::optional<ast::NodeId> prev_sibling(ast::NodeId id) const;
    bool is_detached_root(ast::NodeId id) const noexcept { return detached_.contains(id); }

    // True when `target` equals `root` or lies anywhere below it.
    bool subtree_contains(ast::NodeId root, ast::NodeId target) const;
    // Appends the subtree of `id` in post-order: child subtrees in edge
    // order, then the node.
    void collect_postorder(ast::NodeId id, std::vector<ast::NodeId>& out) const;

    // Depth-first pre-order search from `start` (included).
    template <class Pred>
    std::optional<ast::NodeId> find_impl(ast::NodeId start, Pred&& pred) const {
        std::optional<ast::NodeId> found;
        walk_preorder(start, [&](ast::NodeId id, const ast::Node& node) {
            if (pred(node)) {
                found = id;
                return false;
            }
            return true;
        });
        return found;
    }
    // Every accepted node of the pre-order walk from `start`, appended to out.
    template <class Pred>
    void find_all_impl(ast::NodeId start, Pred&& pred, std::vector<ast::NodeId>& out) const {
        walk_preorder(start, [&](ast::NodeId id, const ast::Node& node) {
            if (pred(node)) out.push_back(id);
            return true;
        });
    }
    // Pre-order walk; fn(id, node) returns false to stop. Stale ids met on
    // the way are "Invalid NodeId". Counts its nodes as work, and may end a
    // run past its work bound (util::check_work).
    template <class F>
    void walk_preorder(ast::NodeId start, F&& fn) const {
        std::vector<ast::NodeId> stack;
        stack.push_back(start);
        std::size_t visited = 0;
        while (!stack.empty()) {
            ast::NodeId id = stack.back();
            stack.pop_back();
            const ast::Node& n = node(id);
            ++visited;
            if (!fn(id, n)) break;
            push_children_reversed(n, stack);
        }
        util::work_count += visited;
        util::check_work();
    }

    // Calls fn(id, node) for every live node, detached ones included, in
    // slot order (not a tree order).
    template <class F>
    void for_each_node(F&& fn) const {
        nodes_.for_each(fn);
    }
    // Whether pred(id, node) holds for some live node, detached ones
    // included, asked in slot order up to the first that it holds for.
    template <class P>
    bool any_node(P&& pred) const {
        return nodes_.any_of(pred);
    }

    // ---- Edit primitives -------------------------------------------------

    // A new detached root holding `value`; every child it names must be a
    // detached root and becomes attached to it.
    ast::NodeId new_node(ast::Node value);
    // Appends to the math list `items` being built the items that put the
    // scripts (detached roots, taken over) on `base`, as a reading of their
    // text gives them: a cell end is never a script base, so its scripts go
    // on an empty group after it.
    void append_scripted(std::vector<ast::NodeId>& items, ast::NodeId base, std::optional<ast::NodeId> sub,
                         std::optional<ast::NodeId> sup);
    ast::NodeId implicit_math_group(std::span<const ast::NodeId> children);

    // While a batch is open, an edit of a long child list does not renumber
    // the siblings after it at once: a link is brought up to date when it is
    // read, walking forward from the first edit, and every list is up to date
    // again when the batch closes. Nor does it move the siblings after it:
    // the list keeps a gap at its last edit (see GapVector), closed when the
    // batch closes or the list is read whole. Rules that edit list after list
    // from left to right then cost the distance between edits, not the
    // list's length each. Batches are for the one holder of a mutable Ast: a
    // read during a batch updates links and closes gaps.
    class EditBatch {
    public:
        explicit EditBatch(Ast& ast) noexcept : ast_(ast) { ++ast_.batch_depth_; }
        ~EditBatch() {
            if (--ast_.batch_depth_ == 0) {
                ast_.renumber_stale_lists();
                ast_.outside_.reset();
            }
        }
        EditBatch(const EditBatch&) = delete;
        EditBatch& operator=(const EditBatch&) = delete;

    private:
        Ast& ast_;
    };

    // A step makes a series of edits one: either all of them stand or none
    // does. While a step is open each edit records how to take it back,
    // having made room for the record (and for everything else it needs)
    // before its first change, and nodes it drops are freed only when the
    // step commits. A step left without `commit`, as when an edit runs out
    // of memory, takes its edits back newest first without allocating: the
    // tree is then exactly as it was when the step opened, links and all.
    // Steps nest; an inner one is part of the outermost. Every edit below
    // that is made of several changes opens one of its own.
    class Step {
    public:
        explicit Step(Ast& ast) {
            if (ast.log_.step == nullptr) open(ast);
        }
        ~Step() {
            if (ast_ != nullptr) close();
        }
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;
        // Keeps the edits and frees what they dropped.
        void commit() noexcept {
            if (ast_ != nullptr && !committed_) keep();
        }

    private:
        void open(Ast& ast);
        void close() noexcept;
        void keep() noexcept;

        Ast* ast_ = nullptr;  // null for a nested step
        bool committed_ = false;
        StepLog* log_ = nullptr;  // the thread's, or `own_` while that one is lent
        std::unique_ptr<StepLog> own_;
    };

    // The log of the open step, records of nested steps included; null
    // outside a step.
    const StepLog* step_log() const noexcept { return log_.step; }

    // While one is open on a thread, the new nodes of its arena count, in
    // bytes, against `multiple` times what the arena held when the first of
    // them came plus `constant`: a rewrite that copies an argument twice
    // doubles its output with each level of nesting, and memory must run out
    // on no input. The node that would pass the allowance is not made:
    // `new_node` throws `BuildLimitExceeded` instead (inside a step, which
    // then takes back what it made). Limits nest; the innermost counts.
    class BuildLimit {
    public:
        BuildLimit(const Ast& ast, std::size_t multiple, std::size_t constant) noexcept;
        ~BuildLimit();
        BuildLimit(const BuildLimit&) = delete;
        BuildLimit& operator=(const BuildLimit&) = delete;

        // What the arena held when the first new node came (0 before it),
        // and what has been built since, in bytes.
        std::size_t measured() const noexcept { return measured_; }
        std::size_t built() const noexcept { return built_; }
        std::size_t allowance() const noexcept { return allowance_; }

    private:
        friend class Ast;
        void charge(const ast::Node& value);

        const Ast& ast_;
        BuildLimit* outer_;
        std::size_t multiple_;
        std::size_t constant_;
        std::size_t measured_ = 0;
        std::size_t allowance_ = 0;
        std::size_t built_ = 0;
        bool started_ = false;
    };
    // Roughly what a node takes: its slot and the heap blocks of its names,
    // texts, child list and argument slots.
    static std::size_t footprint(const ast::Node& node) noexcept;

    void append_child(ast::NodeId parent, ast::NodeId child);
    void insert_child(ast::NodeId parent, std::size_t position, ast::NodeId child);
    void reindex_group_children(ast::NodeId parent, std::size_t start);
    // After an insertion or removal at `start`: the children from `start` on
    // have moved (their own links exist); renumbered now, or lazily in a batch.
    void shift_group_children(ast::NodeId parent, std::size_t start);
    ast::NodeId detach(ast::NodeId id);
    // Frees a detached root and its whole subtree (inside a step, when the
    // step commits; the root is no detached root from the call on).
    void remove_detached(ast::NodeId id);
    void remove_node(ast::NodeId id);
    // Stores a new value under `id` (same id, same place); the old children
    // the new value does not name become detached roots.
    void replace_node(ast::NodeId id, ast::Node value);
    // Sets the child list of a Root or Group; returns the old children that
    // were left out, now detached roots, in their old order.
    std::vector<ast::NodeId> replace_children(ast::NodeId parent,
                                              std::span<const ast::NodeId> children);
    std::vector<ast::NodeId> detach_children_range(ast::NodeId parent, std::size_t start,
                                                   std::size_t end);
    // detach_children_range over the whole list, without building the list
    // of the detached: the list keeps its storage.
    void detach_all_children(ast::NodeId parent);
    ast::NodeId clone_subtree(ast::NodeId id);

    void assert_child_is_detached_root(ast::NodeId child) const;
    static void assert_unique_direct_children(const ast::Node& value);
    void assert_detached_root_sequence(std::span<const ast::NodeId> ids) const;

    // ---- Structural rewrites ---------------------------------------------

    void replace_content_child(ast::NodeId old_child, ast::NodeId new_child);
    // Puts the only child of `group`, a Group in a single-node slot, into
    // that slot and frees the emptied group.
    void hoist_only_child(ast::NodeId group);
    void replace_node_drop_detached_children(ast::NodeId id, ast::Node value);
    void replace_with_math_sequence(ast::NodeId id, std::vector<ast::NodeId> before,
                                    ast::NodeId middle, std::vector<ast::NodeId> after);
    void replace_with_math_sequence_preserving_scripts(ast::NodeId id,
                                                       std::vector<ast::NodeId> before,
                                                       ast::NodeId middle,
                                                       std::vector<ast::NodeId> after);
    void append_cloned_math_content(std::vector<ast::NodeId>& out, ast::NodeId id);
    // Cuts `id` out of the tree with its subtree and id, in constant time,
    // and returns it, a detached root: a group child leaves its list; a node
    // in a single-node slot (an argument, operand, script or body) leaves an
    // empty implicit group there. A detached root is returned as it is. A
    // rule that keeps part of what it replaces moves that part this way, so
    // that it costs nothing per node and stays in the fixed point's pass.
    ast::NodeId take(ast::NodeId id);
    // The moving form of append_cloned_math_content: the children of an
    // implicit math group are cut out of it, leaving it empty in its slot;
    // any other node is taken whole.
    void append_taken_math_content(std::vector<ast::NodeId>& out, ast::NodeId id);

    // ---- Conversion back to the exchange tree ----------------------------

    SyntaxNode to_syntax_node(ast::NodeId id) const;
    // The whole tree from the root; detached subtrees are left out.
    SyntaxNode to_syntax() const { return to_syntax_node(root_); }
    std::optional<syntax_node::Argument> to_syntax_arg_slot(
        const std::optional<ast::Argument>& slot) const;

private:
    Ast() = default;
    // An arena with no node at all, room for `capacity`: only for a build.
    explicit Ast(std::size_t capacity) : nodes_(capacity) {}

    template <class Tree, class Spans>
    friend class ArenaBuilder;
    friend class document::Document;
    friend class NodeSpans;

    // Builds an exchange tree of `node_count` nodes (the Root included) into
    // this arena, fresh from `Ast(node_count)`; a wrong count costs only
    // regrowth. With a span tree of the same shape, a node's k-th part (in
    // edge order) takes the k-th span child into `node_spans`; a part left
    // without one gets no span, nor does anything below it. The moving form
    // takes both trees apart on the way, leaving empty shells. Returns
    // whether an Error node was built.
    bool build_from_syntax(const SyntaxNode& root, std::size_t node_count, const SpanTree* spans,
                           NodeSpans* node_spans);
    bool build_from_syntax(SyntaxNode&& root, std::size_t node_count, SpanTree* spans,
                           NodeSpans* node_spans);
    // The moving form for a parsed root in blocks, freeing each block once
    // built.
    bool build_from_parsed(ParsedRoot& root, NodeSpans* node_spans);

    ast::Node& node_mut(ast::NodeId id) {
        ast::Node* n = nodes_.get(id);
        if (n == nullptr) [[unlikely]] invalid_node_id();
        return *n;
    }
    // "Invalid NodeId", out of the lookups' way.
    [[noreturn, gnu::cold]] static void invalid_node_id();
    static void push_children_reversed(const ast::Node& node, std::vector<ast::NodeId>& stack);

    // The link of `id` with an up-to-date child index; null for a root.
    const ParentLink* link_of(ast::NodeId id) const noexcept {
        const ParentLink* link = stored_link(id);
        if (link == nullptr || !stale_ || stale_->lists.empty()) return link;
        return const_cast<Ast*>(this)->refresh_link(id, link);
    }
    const ParentLink* refresh_link(ast::NodeId id, const ParentLink* link) noexcept;
    void renumber_stale_lists() noexcept;
    // Room for a deferred renumbering of the list of `parent`, made before
    // an edit's first change so that `shift_group_children` cannot fail.
    void prepare_shift(ast::NodeId parent);
    // Room in the open step's log for one record, `ids` saved ids, a saved
    // value and a node to free; nothing outside a step.
    void log_room(std::size_t ids = 0, bool value = false, bool frees = false);
    // Logs a record whose node the commit frees.
    void log_free(const StepRecord& record) noexcept {
        log_.step->frees.push_back(static_cast<std::uint32_t>(log_.step->records.size()));
        log_.step->records.push_back(record);
    }
    void log(const StepRecord& record) noexcept {
        if (log_.step != nullptr) log_.step->records.push_back(record);
    }
    bool in_step() const noexcept { return log_.step != nullptr; }
    // Takes back the records of `log`, newest first, and renumbers every
    // list; allocates nothing.
    void undo(StepLog& log) noexcept;
    // Frees a node and everything below it, bottom-up along the parent
    // links, allocating nothing.
    void free_subtree(ast::NodeId top) noexcept;
    // Moves the value of the detached root `middle` under `id` (in place of
    // its value), leaving `middle` an empty leaf and the old children of `id`
    // detached roots.
    void consume_into(ast::NodeId id, ast::NodeId middle);
    // insert_child for a child already known to be a detached root outside
    // whose subtree `parent` lies.
    void insert_checked_child(ast::NodeId parent, std::size_t position, ast::NodeId child);
    // Insertion and removal in the list of `parent`, through its gap in a
    // batch when the list is long.
    bool use_gap(const ast::ChildList& list) const noexcept;
    void note_gap(ast::NodeId parent);
    void insert_in_list(ast::NodeId parent, ast::ChildList& list, std::size_t position, ast::NodeId child);
    void erase_from_list(ast::NodeId parent, ast::ChildList& list, std::size_t first, std::size_t last);
    // The child list of a parent that may have been freed meanwhile.
    const ast::ChildList* live_child_list(ast::NodeId parent) const noexcept;

    // The link as stored, index possibly stale in a batch; null for a root
    // or a stale id.
    const ParentLink* stored_link(ast::NodeId id) const noexcept {
        const NodeMeta* meta = nodes_.link(id);
        return meta != nullptr && meta->link.parent.version != 0 ? &meta->link : nullptr;
    }
    bool has_link(ast::NodeId id) const noexcept { return stored_link(id) != nullptr; }
    void set_link(ast::NodeId child, ast::NodeId parent, Slot slot) {
        NodeMeta* meta = nodes_.link(child);
        if (meta == nullptr) [[unlikely]] invalid_node_id();
        meta->link = ParentLink{parent, slot};
    }
    void drop_link(ast::NodeId child) {
        if (NodeMeta* meta = nodes_.link(child)) meta->link = ParentLink{};
    }

    // True when `ancestor` is `id` or one of its ancestors by parent links.
    bool is_ancestor_or_self(ast::NodeId ancestor, ast::NodeId id) const;
    void check_no_cycle(ast::NodeId child, ast::NodeId parent) const;

    // Places known to lie outside a detached root's subtree: the parent it
    // was cut from, or, for a new node, a place outside the subtree of each
    // of its children. The cycle check costs the smaller of the new child's
    // subtree and the parent's depth, and a rule that rewrites every level of
    // a deep nest cuts a large subtree out and puts it back deep down, at
    // every level. But it puts it back near where it was (an operand one
    // level up, a sibling under its neighbour): a short walk between the new
    // parent and the known place shows that the parent lies outside.
    //
    // A place stays outside unless something is attached inside the root's
    // subtree: an attachment under a node that has a parent forgets every
    // entry, one under a detached root forgets that root's. Entries cost no
    // allocation once the ring is made; the oldest gives way to a new one.
    // The ring is made on the first note and dropped when the outermost
    // batch closes, so a document read and kept pays one pointer for it.
    // Notes only save walks: where the ring cannot be made, none is kept.
    struct Outside {
        ast::NodeId root;
        ast::NodeId place;
    };
    static constexpr std::size_t kOutsideEntries = 4;
    struct OutsideRing {
        std::uint8_t count = 0;
        Outside entries[kOutsideEntries]{};
    };
    std::size_t outside_count() const noexcept { return outside_ ? outside_->count : 0; }
    void forget_all_outside() noexcept {
        if (outside_) outside_->count = 0;
    }
    // Notes that `place` lies outside the subtree of the detached root
    // `root`; a leaf's check is immediate and is not noted.
    void note_outside(ast::NodeId root, ast::NodeId place) noexcept;
    // After `child` was attached under `parent`.
    void note_attached(ast::NodeId parent, ast::NodeId child) noexcept;
    void forget_outside(ast::NodeId root) noexcept;
    // Forgets the entries whose place is `place`.
    void forget_place(ast::NodeId place) noexcept;
    // Whether the subtree of `root` is small and a walk of it shows that
    // `place` lies outside (false: not shown, either way).
    bool small_without(ast::NodeId root, ast::NodeId place) const noexcept;
    const ast::NodeId* known_outside(ast::NodeId root) const noexcept;
    // Whether a short walk shows that `parent` lies outside the subtree of
    // the detached root `child` (false: not shown, either way).
    bool shown_outside(ast::NodeId child, ast::NodeId parent) const noexcept;
    // A place outside the subtree of each of the (detached) children named
    // by `edges`, so outside that of a new node over them, if one is known.
    template <class Edges>
    std::optional<ast::NodeId> outside_of_all(const Edges& edges) const noexcept;
    // The field of `parent` that holds `old_child` in the single-node `slot`.
    ast::NodeId* content_field(ast::NodeId parent, Slot slot, ast::NodeId old_child);
    // The container check: resolves and is a Root or Group.
    ast::ChildList& container_mut(ast::NodeId parent);
    void check_env_body(ast::NodeId child) const;
    ast::NodeId clone_recursive(ast::NodeId id);
    SyntaxNode to_syntax_impl(ast::NodeId id, bool allow_root) const;

    // Each slot carries its node's parent link and span, the link in the
    // room its free-list entry takes while free: no tables of their own.
    ast::SlotMap<ast::Node, NodeMeta> nodes_;
    ast::KeySet detached_;
    // The root is the first node stored in a fresh arena and is never
    // removed: its key is the same in every arena, and takes no room.
    static constexpr ast::NodeId root_{1, 1};
    // Inside a batch: for each list whose children from some index on may
    // carry stale indices, that index; and the lists, for closing the batch.
    // Made on the first deferred renumbering: most arenas never defer one,
    // and a pointer keeps every document small.
    //
    // The same box holds the rare source spans whose offsets pass 32 bits
    // (see NodeSpans), so that they too cost a document nothing until used.
    struct StaleLists {
        ast::SecondaryMap<std::size_t> from;
        std::vector<ast::NodeId> lists;
        ast::SecondaryMap<Span> wide_spans;
        // Lists that may hold a gap (repeats allowed), closed with the batch.
        std::vector<ast::NodeId> gapped;
    };
    syntax_node::Box<StaleLists> stale_;
    // The log of the open step; a copy of the arena opens none.
    struct StepPointer {
        StepLog* step = nullptr;
        StepPointer() = default;
        StepPointer(const StepPointer&) noexcept {}
        StepPointer& operator=(const StepPointer&) noexcept { return *this; }
    };
    StepPointer log_;
    syntax_node::Box<OutsideRing> outside_;
    // Last, so that the document's flags take the room after it.
    int batch_depth_ = 0;

public:
    // The room each node takes in its arena (checked below).
    static constexpr std::size_t kSlotBytes = decltype(nodes_)::slot_bytes();
};

// A 48-byte node, a 12-byte parent link, an 8-byte span and the version.
static_assert(Ast::kSlotBytes <= 72);

}  // namespace quorvel::syntax
