#include "syntax/conversion.hpp"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "syntax/ast_internal.hpp"
#include "syntax/list_buffers.hpp"
#include "syntax/read_back.hpp"
#include "syntax/node_spans.hpp"

namespace quorvel::syntax {

using ast::Node;
using ast::NodeId;
namespace sn = syntax_node;

// ---------------------------------------------------------------------------
// Errors

std::string message(const FromSyntaxError& error) {
    switch (error.kind()) {
        case FromSyntaxError::NotARoot: return "from_syntax expects a SyntaxNode::Root";
        case FromSyntaxError::InvalidPrimeCount: return "Prime count must be greater than zero";
        case FromSyntaxError::PrimeInTextMode: return "Prime nodes are only valid in math mode";
        case FromSyntaxError::EnvironmentBodyNotGroup: return "Environment body must be a Group node";
        case FromSyntaxError::StarSlotNotBoolean: return "Star argument slot must hold a Boolean value";
        case FromSyntaxError::BooleanOutsideStarSlot: return "Boolean argument value is only valid in a Star slot";
        case FromSyntaxError::InvalidCharacter: return "Character must be a Unicode scalar value";
        case FromSyntaxError::Unreadable: {
            // A sentence of its own, as the other messages are.
            std::string text = error.why();
            if (!text.empty() && text.front() >= 'a' && text.front() <= 'z') text.front() = static_cast<char>(text.front() - 'a' + 'A');
            return text;
        }
    }
    return "";
}

std::string_view debug_name(const FromSyntaxError& error) {
    switch (error.kind()) {
        case FromSyntaxError::NotARoot: return "NotARoot";
        case FromSyntaxError::InvalidPrimeCount: return "InvalidPrimeCount";
        case FromSyntaxError::PrimeInTextMode: return "PrimeInTextMode";
        case FromSyntaxError::EnvironmentBodyNotGroup: return "EnvironmentBodyNotGroup";
        case FromSyntaxError::StarSlotNotBoolean: return "StarSlotNotBoolean";
        case FromSyntaxError::BooleanOutsideStarSlot: return "BooleanOutsideStarSlot";
        case FromSyntaxError::InvalidCharacter: return "InvalidCharacter";
        case FromSyntaxError::Unreadable: return "Unreadable";
    }
    return "";
}

// ---------------------------------------------------------------------------
// Validation

namespace {

bool delimiter_ok(const sn::Delimiter& d) {
    const auto* c = d.as_char();
    return c == nullptr || is_scalar_value(c->value);
}

bool argument_kind_ok(const sn::ArgumentKind& kind) {
    if (const auto* d = kind.as_delimited()) {
        return delimiter_ok(d->open) && delimiter_ok(d->close);
    }
    if (const auto* p = kind.as_paired()) {
        return delimiter_ok(p->open) && delimiter_ok(p->close);
    }
    return true;
}

// The walk's work items: a node to visit in a mode, one argument slot to
// check and descend into, or the body check of an environment whose body
// has just been visited.
struct Visit {
    enum class Type : std::uint8_t { Node, Argument, EnvBody } type;
    std::optional<ContentMode> mode;
    const void* target;
};

// Most trees need only a short stack: keep it inline.
using VisitStack = SmallVector<Visit, 32>;

std::optional<FromSyntaxError> check_argument(const sn::Argument& arg, bool read_back, VisitStack& stack) {
    const bool star = arg.kind.is_star();
    const bool boolean = std::holds_alternative<sn::ArgumentValue::Boolean>(arg.value.value);
    if (star && !boolean) return FromSyntaxError::StarSlotNotBoolean;
    if (boolean && !star) return FromSyntaxError::BooleanOutsideStarSlot;
    if (!argument_kind_ok(arg.kind)) return FromSyntaxError::InvalidCharacter;
    if (const auto* d = std::get_if<sn::ArgumentValue::Delimiter>(&arg.value.value)) {
        if (!delimiter_ok(d->value)) return FromSyntaxError::InvalidCharacter;
    }
    if (const auto scalar = read_back ? scalar_of(arg.value) : std::nullopt) {
        if (auto why = check_scalar(arg.kind, *scalar, true)) return FromSyntaxError::unreadable(std::move(*why));
    }
    if (const SyntaxNode* content = arg.value.content()) {
        stack.push_back({Visit::Type::Node, arg.value.content_mode(), content});
    }
    return std::nullopt;
}

void push_args(const SyntaxNode::ArgumentSlots& args, std::optional<ContentMode> mode, VisitStack& stack) {
    for (std::size_t i = args.size(); i-- > 0;) {
        if (args[i]) stack.push_back({Visit::Type::Argument, mode, &*args[i]});
    }
}

void push_box(const SyntaxNode::Box& box, std::optional<ContentMode> mode, VisitStack& stack) {
    if (box) stack.push_back({Visit::Type::Node, mode, box.get()});
}

void push_children(const std::vector<SyntaxNode>& children, std::optional<ContentMode> mode, VisitStack& stack) {
    for (std::size_t i = children.size(); i-- > 0;) {
        stack.push_back({Visit::Type::Node, mode, &children[i]});
    }
}

}  // namespace

std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& top_node, std::optional<ContentMode> top_mode,
                                               bool top, Validation validation) {
    std::size_t count = 0;
    return validate_syntax(top_node, top_mode, top, count, validation);
}

std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& top_node, std::optional<ContentMode> top_mode,
                                               bool top, std::size_t& node_count, Validation validation) {
    const bool read_back = validation == Validation::ReadBack;
    // The name check of a read-back walk, as an error.
    const auto name_error = [&](std::string_view name, bool environment) -> std::optional<FromSyntaxError> {
        if (read_back) {
            auto why = environment ? check_environment_name(name) : check_command_name(name);
            if (why) return FromSyntaxError::unreadable(std::move(*why));
        } else if (!(environment ? is_environment_name(name) : is_control_sequence_name(name))) {
            // Even an unchecked tree holds only names the writer can write
            // as one control sequence or environment name.
            return FromSyntaxError::unreadable(*(environment ? check_environment_name(name) : check_command_name(name)));
        }
        return std::nullopt;
    };
    node_count = top ? 1 : 0;  // a Root top is not an item of the walk
    VisitStack stack;
    if (top) {
        const auto* root = top_node.get_if<SyntaxNode::Root>();
        if (root == nullptr) return FromSyntaxError::NotARoot;
        push_children(root->children, root->mode, stack);
    } else {
        stack.push_back({Visit::Type::Node, top_mode, &top_node});
    }

    // Items are pushed in reverse so that they pop in walk order.
    while (!stack.empty()) {
        Visit item = stack.back();
        stack.pop_back();
        if (item.type == Visit::Type::Argument) {
            if (auto error = check_argument(*static_cast<const sn::Argument*>(item.target), read_back, stack)) {
                return error;
            }
            continue;
        }
        const auto& node = *static_cast<const SyntaxNode*>(item.target);
        if (item.type == Visit::Type::EnvBody) {
            if (!node.is<SyntaxNode::Group>()) return FromSyntaxError::EnvironmentBodyNotGroup;
            continue;
        }
        ++node_count;
        const auto mode = item.mode;
        switch (node.kind()) {
            case NodeKind::Root: return FromSyntaxError::NotARoot;
            case NodeKind::Group: {
                const auto& v = std::get<SyntaxNode::Group>(node.value);
                if (const auto* d = v.kind.as_delimited()) {
                    if (!delimiter_ok(d->left) || !delimiter_ok(d->right)) {
                        return FromSyntaxError::InvalidCharacter;
                    }
                    for (const sn::Delimiter* side : {&d->left, &d->right}) {
                        auto why = read_back ? check_delimiter(*side) : std::nullopt;
                        if (why) return FromSyntaxError::unreadable(std::move(*why));
                    }
                }
                push_children(v.children, v.mode, stack);
                break;
            }
            case NodeKind::Command: {
                const auto& v = std::get<SyntaxNode::Command>(node.value);
                if (auto error = name_error(v.name, false)) return error;
                push_args(v.args, mode, stack);
                break;
            }
            case NodeKind::Infix: {
                const auto& v = std::get<SyntaxNode::Infix>(node.value);
                if (auto error = name_error(v.name, false)) return error;
                push_box(v.right, mode, stack);
                push_box(v.left, mode, stack);
                push_args(v.args, mode, stack);
                break;
            }
            case NodeKind::Declarative: {
                const auto& v = std::get<SyntaxNode::Declarative>(node.value);
                if (auto error = name_error(v.name, false)) return error;
                push_args(v.args, mode, stack);
                break;
            }
            case NodeKind::Environment: {
                const auto& v = std::get<SyntaxNode::Environment>(node.value);
                if (auto error = name_error(v.name, true)) return error;
                if (v.body) stack.push_back({Visit::Type::EnvBody, std::nullopt, v.body.get()});
                push_box(v.body, std::nullopt, stack);
                push_args(v.args, mode, stack);
                break;
            }
            case NodeKind::Scripted: {
                const auto& v = std::get<SyntaxNode::Scripted>(node.value);
                push_box(v.superscript, mode, stack);
                push_box(v.subscript, mode, stack);
                push_box(v.base, mode, stack);
                break;
            }
            case NodeKind::Prime: {
                if (std::get<SyntaxNode::Prime>(node.value).count == 0) {
                    return FromSyntaxError::InvalidPrimeCount;
                }
                if (mode != ContentMode::Math) return FromSyntaxError::PrimeInTextMode;
                break;
            }
            case NodeKind::Char: {
                const char32_t c = std::get<SyntaxNode::Char>(node.value).value;
                if (!is_scalar_value(c)) return FromSyntaxError::InvalidCharacter;
                // Checked as the edits check a character they make: as in
                // math, which holds every character text does.
                if (auto why = read_back ? check_char(c, ContentMode::Math) : std::nullopt) {
                    return FromSyntaxError::unreadable(std::move(*why));
                }
                break;
            }
            case NodeKind::Text: {
                const std::string_view text(std::get<SyntaxNode::Text>(node.value).value);
                if (auto why = read_back ? check_text(text) : std::nullopt) {
                    return FromSyntaxError::unreadable(std::move(*why));
                }
                break;
            }
            default: break;  // Error, ActiveSpace
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Exchange tree to arena

namespace {

// The variant index of the last exchange kind that can own parts.
constexpr std::size_t kLastOwnerIndex = 6;
static_assert(std::is_same_v<std::variant_alternative_t<kLastOwnerIndex, SyntaxNode::Value>, SyntaxNode::Scripted>);
static_assert(std::is_same_v<std::variant_alternative_t<kLastOwnerIndex + 1, SyntaxNode::Value>, SyntaxNode::Error>);

[[noreturn]] void missing_child() { unreachable("SyntaxNode is missing a required child"); }

// An empty child list with room for `count` ids, which arrive in order.
ast::ChildList child_list(std::size_t count) {
    ast::ChildList list;
    list.reserve(count);
    return list;
}

// The child list of a Root or Group.
ast::ChildList& list_of(Node& node) {
    if (auto* g = node.get_if<Node::Group>()) return g->children;
    return std::get<Node::Root>(node.value).children;
}

// Points the parent's field for `slot` at `child`; group children arrive in
// order, so each is appended.
void fill_field(Node& parent, Slot slot, NodeId child) {
    switch (slot.kind()) {
        case Slot::Kind::GroupChild: list_of(parent).push_back(child); break;
        case Slot::Kind::Argument: *(*parent.args())[slot.index()]->value.content_ptr() = child; break;
        case Slot::Kind::ScriptBase: std::get<Node::Scripted>(parent.value).base = child; break;
        case Slot::Kind::ScriptSub: std::get<Node::Scripted>(parent.value).subscript = child; break;
        case Slot::Kind::ScriptSup: std::get<Node::Scripted>(parent.value).superscript = child; break;
        case Slot::Kind::InfixLeft: std::get<Node::Infix>(parent.value).left = child; break;
        case Slot::Kind::InfixRight: std::get<Node::Infix>(parent.value).right = child; break;
        case Slot::Kind::EnvBody: std::get<Node::Environment>(parent.value).body = child; break;
    }
}

// A stack that keeps its first N entries in a plain array and spills the
// rest to the heap; unlike SmallVector, a push inlines to a store.
template <class T, std::size_t N>
class InlineStack {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    bool empty() const noexcept { return size_ == 0; }
    void push(const T& value) {
        if (size_ < N) {
            inline_[size_++] = value;
        } else {
            spill_.push_back(value);
            ++size_;
        }
    }
    // Entries in the spill are newer than all inline ones.
    T& top() noexcept { return size_ > N ? spill_.back() : inline_[size_ - 1]; }
    void pop() noexcept {
        if (size_ > N) spill_.pop_back();
        --size_;
    }

private:
    std::size_t size_ = 0;
    T inline_[N];
    std::vector<T> spill_;
};

// The nodes of the trees `seed` adds (through the function it is given).
template <class Seed>
std::size_t count_nodes(Seed&& seed) {
    // Nodes whose parts are still to be counted; the order does not matter.
    InlineStack<const SyntaxNode*, 64> owners;
    std::size_t count = 0;
    auto push = [&owners](const SyntaxNode* node) {
        if (node->value.index() <= kLastOwnerIndex) owners.push(node);
    };
    auto add = [&](const SyntaxNode* child) {
        if (child == nullptr) return;
        ++count;
        push(child);
    };
    auto add_args = [&](const SyntaxNode::ArgumentSlots& args) {
        for (const auto& slot : args) {
            if (slot) add(slot->value.content());
        }
    };
    seed([&](const SyntaxNode* node) {
        ++count;
        push(node);
    });
    while (!owners.empty()) {
        const SyntaxNode* node = owners.top();
        owners.pop();
        switch (node->kind()) {
            case NodeKind::Root:
            case NodeKind::Group: {
                // Lists hold nearly all nodes.
                const auto& list = node->kind() == NodeKind::Root ? std::get<SyntaxNode::Root>(node->value).children
                                                                  : std::get<SyntaxNode::Group>(node->value).children;
                count += list.size();
                for (const SyntaxNode& child : list) push(&child);
                break;
            }
            case NodeKind::Command: add_args(std::get<SyntaxNode::Command>(node->value).args); break;
            case NodeKind::Declarative: add_args(std::get<SyntaxNode::Declarative>(node->value).args); break;
            case NodeKind::Infix: {
                const auto& v = std::get<SyntaxNode::Infix>(node->value);
                add(v.left.get());
                add(v.right.get());
                add_args(v.args);
                break;
            }
            case NodeKind::Environment: {
                const auto& v = std::get<SyntaxNode::Environment>(node->value);
                add(v.body.get());
                add_args(v.args);
                break;
            }
            case NodeKind::Scripted: {
                const auto& v = std::get<SyntaxNode::Scripted>(node->value);
                add(v.base.get());
                add(v.subscript.get());
                add(v.superscript.get());
                break;
            }
            default: break;
        }
    }
    return count;
}

}  // namespace

std::size_t count_syntax_nodes(const SyntaxNode& top) {
    return count_nodes([&](auto&& add) { add(&top); });
}

std::size_t count_syntax_nodes(std::span<const SyntaxNode> items) {
    return count_nodes([&](auto&& add) {
        for (const SyntaxNode& item : items) add(&item);
    });
}

// One top-down walk from an exchange tree into a fresh arena. `Tree` is
// `const SyntaxNode` to copy values out of the tree, or `SyntaxNode` to move
// them out and free each subtree once it has been built; `Spans` is likewise
// `const SpanTree` to read the span tree, or `SpanTree` to free it too.
//
// Nodes take their slots in pre-order of the edges; a node is stored before
// its parts, which fill in its child ids as they are stored. The walk keeps
// one frame per node on the current path, holding where in the node's parts
// it stands, so its stack grows with the depth only.
template <class Tree, class Spans>
class ArenaBuilder {
    static constexpr bool kTake = !std::is_const_v<Tree>;
    static constexpr bool kTakeSpans = !std::is_const_v<Spans>;
    using Slots = std::conditional_t<kTake, SyntaxNode::ArgumentSlots, const SyntaxNode::ArgumentSlots>;
    using Children = std::conditional_t<kTake, std::vector<SyntaxNode>, const std::vector<SyntaxNode>>;

public:
    ArenaBuilder(Ast& ast, NodeSpans* node_spans) : ast_(ast), node_spans_(node_spans) {}

    // The arena was made with room for every node: links and spans live in
    // its slots, so no table needs sizing here.
    bool build(Tree& root, std::size_t /*node_count*/, Spans* spans) {
        auto* r = root.template get_if<SyntaxNode::Root>();
        if (r == nullptr) unreachable("from_syntax_root expects a SyntaxNode::Root");
        if (node_spans_ == nullptr) spans = nullptr;
        if (ast_.nodes_.append_with([&] { return Node(Node::Root{child_list(r->children.size()), r->mode}); }) !=
            Ast::root_) {
            internal_error("root must be the first node");
        }
        if (spans != nullptr) node_spans_->insert(ast_, ast_.root_, spans->span);
        frames_.push(frame(&root, spans, ast_.root_));
        while (!frames_.empty()) step();
        return has_error_;
    }

    // The same for a parsed root in blocks (the moving form only): each
    // block is freed once its items and everything below them are built.
    bool build_blocks(ParsedRoot& root) {
        static_assert(kTake && kTakeSpans);
        std::size_t total = root.last.nodes.size();
        for (const ParsedBlock& b : root.blocks) total += b.nodes.size();
        if (ast_.nodes_.append_with([&] { return Node(Node::Root{child_list(total), root.mode}); }) != Ast::root_) {
            internal_error("root must be the first node");
        }
        if (node_spans_ != nullptr) node_spans_->insert(ast_, ast_.root_, root.span);
        std::size_t index = 0;
        for (std::size_t k = 0; k <= root.blocks.size(); ++k) {
            ParsedBlock& block = k < root.blocks.size() ? root.blocks[k] : root.last;
            const std::size_t span_count = node_spans_ != nullptr ? block.spans.size() : 0;
            for (std::size_t i = 0; i < block.nodes.size(); ++i, ++index) {
                SyntaxNode& child = block.nodes[i];
                SpanTree* child_spans = i < span_count ? &block.spans[i] : nullptr;
                const NodeId id = store(child, ast_.root_, Slot::group_child(index), child_spans);
                list_of(ast_.nodes_.occupied(ast_.root_.index)).push_back(id);
                if (!has_parts(child)) continue;
                frames_.push(frame(&child, child_spans, id));
                while (!frames_.empty()) step();
            }
            list_buffers::give_back(block.nodes);
            list_buffers::give_back(block.spans);
        }
        return has_error_;
    }

private:
    // Plain data without initializers: the stack's inline array of frames
    // is then left as it is until used.
    struct Frame {
        Tree* src;
        Spans* spans;
        NodeId id;
        // The position among the node's parts: a phase (operand, arguments,
        // body, script) and an index within it.
        std::uint32_t phase;
        std::uint32_t index;
        // How many parts were taken, for the span children.
        std::uint32_t part;
    };
    static Frame frame(Tree* src, Spans* spans, NodeId id) { return Frame{src, spans, id, 0, 0, 0}; }

    // Stores the next part of the top frame's node, or pops the frame when
    // none is left.
    void step() {
        Frame& f = frames_.top();
        auto& value = f.src->value;
        switch (f.src->kind()) {
            case NodeKind::Root:
            case NodeKind::Group: {
                // Most parts are leaves in a list: take them in one go.
                // The frame's fields are kept in locals: the stores below
                // could alias them.
                Children& children = f.src->kind() == NodeKind::Root ? std::get<SyntaxNode::Root>(value).children
                                                                      : std::get<SyntaxNode::Group>(value).children;
                Tree* const first = children.data();
                const std::size_t count = children.size();
                Spans* const span_first = f.spans != nullptr ? f.spans->children.data() : nullptr;
                const std::size_t span_count = f.spans != nullptr ? f.spans->children.size() : 0;
                const NodeId parent = f.id;
                for (std::uint32_t i = f.index; i < count; ++i) {
                    Tree& child = first[i];
                    Spans* child_spans = i < span_count ? span_first + i : nullptr;
                    const bool owner = has_parts(child);
                    const NodeId id = store(child, parent, Slot::group_child(i), child_spans);
                    list_of(ast_.nodes_.occupied(parent.index)).push_back(id);
                    if (owner) {
                        f.index = i + 1;
                        f.part = i + 1;
                        frames_.push(frame(&child, child_spans, id));
                        return;
                    }
                }
                break;
            }
            // Parts that are leaves are taken in one go; a part with parts
            // of its own pushes its frame, and the walk goes on there.
            case NodeKind::Command:
            case NodeKind::Declarative: {
                auto& args = *f.src->args();
                while (Tree* child = next_argument(f, args)) {
                    if (take_part(f, child, Slot::argument(f.index - 1))) return;
                }
                break;
            }
            case NodeKind::Infix: {
                auto& v = std::get<SyntaxNode::Infix>(value);
                if (f.phase == 0) {
                    f.phase = 1;
                    if (take_part(f, v.left.get(), Slot::infix_left())) return;
                }
                if (f.phase == 1) {
                    while (Tree* child = next_argument(f, v.args)) {
                        if (take_part(f, child, Slot::argument(f.index - 1))) return;
                    }
                    f.phase = 2;
                    if (take_part(f, v.right.get(), Slot::infix_right())) return;
                }
                break;
            }
            case NodeKind::Environment: {
                auto& v = std::get<SyntaxNode::Environment>(value);
                if (f.phase == 0) {
                    while (Tree* child = next_argument(f, v.args)) {
                        if (take_part(f, child, Slot::argument(f.index - 1))) return;
                    }
                    f.phase = 1;
                    if (v.body && !v.body->template is<SyntaxNode::Group>()) {
                        internal_error("Environment body must be a Group node");
                    }
                    if (take_part(f, v.body.get(), Slot::env_body())) return;
                }
                break;
            }
            case NodeKind::Scripted: {
                auto& v = std::get<SyntaxNode::Scripted>(value);
                if (f.phase == 0) {
                    f.phase = 1;
                    if (take_part(f, v.base.get(), Slot::script_base())) return;
                }
                if (f.phase == 1) {
                    f.phase = 2;
                    if (v.subscript && take_part(f, v.subscript.get(), Slot::script_sub())) return;
                }
                if (f.phase == 2) {
                    f.phase = 3;
                    if (v.superscript && take_part(f, v.superscript.get(), Slot::script_sup())) return;
                }
                break;
            }
            default: break;
        }
        if constexpr (kTake) release_parts(*f.src);
        if constexpr (kTakeSpans) {
            if (f.spans != nullptr) list_buffers::give_back(f.spans->children);
        }
        frames_.pop();
    }

    // The span child of the frame's next part, if any.
    static Spans* next_spans(Frame& f) {
        const std::uint32_t part = f.part++;
        if (f.spans == nullptr || part >= f.spans->children.size()) return nullptr;
        return &f.spans->children[part];
    }

    // Stores one node with its parent link and span; its child ids come later.
    [[gnu::always_inline]] NodeId store(Tree& child, NodeId parent, Slot slot, Spans* child_spans) {
        NodeId id;
        if (const auto* c = child.template get_if<SyntaxNode::Char>()) {
            id = ast_.nodes_.append_with([c] { return Node(Node::Char{c->value}); });
        } else {
            id = ast_.nodes_.append_with([&] { return shallow_node(child); });
        }
        ast_.nodes_.occupied_link(id.index).link = ParentLink{parent, slot};
        if (child_spans != nullptr) node_spans_->insert(ast_, id, child_spans->span);
        return id;
    }

    // Stores `child` as the frame's part in `slot`; true when it has parts
    // of its own, whose frame was pushed (which invalidates `f`).
    bool take_part(Frame& f, Tree* child, Slot slot) {
        if (child == nullptr) missing_child();
        Spans* child_spans = next_spans(f);
        const NodeId id = store(*child, f.id, slot, child_spans);
        // The parent is looked up again: the store may have moved it.
        fill_field(ast_.nodes_.occupied(f.id.index), slot, id);
        if (!has_parts(*child)) return false;
        frames_.push(frame(child, child_spans, id));
        return true;
    }

    // The next content argument from the frame's index on, which is left
    // just past it; null when none is left.
    static Tree* next_argument(Frame& f, Slots& args) {
        while (f.index < args.size()) {
            auto& arg = args[f.index++];
            if (arg && arg->value.is_content()) return arg->value.content();
        }
        return nullptr;
    }

    static bool has_parts(const SyntaxNode& node) {
        switch (node.kind()) {
            case NodeKind::Group: return !std::get<SyntaxNode::Group>(node.value).children.empty();
            case NodeKind::Command: return !std::get<SyntaxNode::Command>(node.value).args.empty();
            case NodeKind::Declarative: return !std::get<SyntaxNode::Declarative>(node.value).args.empty();
            case NodeKind::Infix:
            case NodeKind::Environment:
            case NodeKind::Scripted: return true;
            default: return false;
        }
    }

    // Frees the parts of a node whose parts were all built (and freed).
    static void release_parts(SyntaxNode& node) {
        switch (node.kind()) {
            // The parser's next lists reuse the blocks of these.
            case NodeKind::Root: list_buffers::give_back(std::get<SyntaxNode::Root>(node.value).children); break;
            case NodeKind::Group: list_buffers::give_back(std::get<SyntaxNode::Group>(node.value).children); break;
            case NodeKind::Infix: {
                auto& v = std::get<SyntaxNode::Infix>(node.value);
                v.left.reset();
                v.right.reset();
                list_buffers::give_back(v.args);
                break;
            }
            case NodeKind::Environment: {
                auto& v = std::get<SyntaxNode::Environment>(node.value);
                v.body.reset();
                list_buffers::give_back(v.args);
                break;
            }
            case NodeKind::Scripted: {
                auto& v = std::get<SyntaxNode::Scripted>(node.value);
                v.base.reset();
                v.subscript.reset();
                v.superscript.reset();
                break;
            }
            case NodeKind::Command: list_buffers::give_back(std::get<SyntaxNode::Command>(node.value).args); break;
            case NodeKind::Declarative: list_buffers::give_back(std::get<SyntaxNode::Declarative>(node.value).args); break;
            default: break;
        }
    }

    // A value of the exchange tree for the arena: moved out or copied.
    template <class T>
    static std::remove_const_t<T> take(T& value) {
        if constexpr (kTake) {
            return std::move(value);
        } else {
            return value;
        }
    }

    static ast::ArgumentValue shallow_value(std::conditional_t<kTake, sn::ArgumentValue, const sn::ArgumentValue>& src) {
        auto& v = src.value;
        switch (v.index()) {
            // Content values get their node when it is built; a missing one
            // is refused now, before anything below the node is built.
            case 0:
                if (std::get<0>(v).node.get() == nullptr) missing_child();
                return ast::ArgumentValue::MathContent{};
            case 1:
                if (std::get<1>(v).node.get() == nullptr) missing_child();
                return ast::ArgumentValue::TextContent{};
            case 2:
                if (std::get<2>(v).node.get() == nullptr) missing_child();
                return ast::ArgumentValue::OperatorNameContent{};
            case 3: return ast::ArgumentValue::Delimiter{take(std::get<sn::ArgumentValue::Delimiter>(v).value)};
            case 4: return ast::ArgumentValue::CSName{take(std::get<sn::ArgumentValue::CSName>(v).value)};
            case 5: return ast::ArgumentValue::Dimension{take(std::get<sn::ArgumentValue::Dimension>(v).value)};
            case 6: return ast::ArgumentValue::Integer{take(std::get<sn::ArgumentValue::Integer>(v).value)};
            case 7: return ast::ArgumentValue::KeyVal{take(std::get<sn::ArgumentValue::KeyVal>(v).value)};
            case 8: return ast::ArgumentValue::Column{take(std::get<sn::ArgumentValue::Column>(v).value)};
            default: return ast::ArgumentValue::Boolean{std::get<sn::ArgumentValue::Boolean>(v).value};
        }
    }

    static ast::ArgumentSlots shallow_args(Slots& src) {
        ast::ArgumentSlots out;
        out.reserve(src.size());
        for (auto& slot : src) {
            if (!slot) {
                out.emplace_back();
                continue;
            }
            out.emplace_back(std::in_place, ast::Argument{take(slot->kind), slot->no_leading_space, shallow_value(slot->value)});
        }
        return out;
    }

    // The arena value of one exchange node, without its child ids.
    Node shallow_node(Tree& src) {
        auto& s = src.value;
        switch (src.kind()) {
            case NodeKind::Char: return Node::Char{std::get<SyntaxNode::Char>(s).value};
            case NodeKind::Group: {
                auto& v = std::get<SyntaxNode::Group>(s);
                return Node::Group{child_list(v.children.size()), take(v.kind), v.mode};
            }
            case NodeKind::Command: {
                auto& v = std::get<SyntaxNode::Command>(s);
                return Node::Command{take(v.name), shallow_args(v.args), v.known};
            }
            case NodeKind::Infix: {
                auto& v = std::get<SyntaxNode::Infix>(s);
                if (!v.left || !v.right) missing_child();
                return Node::Infix{take(v.name), shallow_args(v.args), NodeId{}, NodeId{}};
            }
            case NodeKind::Declarative: {
                auto& v = std::get<SyntaxNode::Declarative>(s);
                return Node::Declarative{take(v.name), shallow_args(v.args)};
            }
            case NodeKind::Environment: {
                auto& v = std::get<SyntaxNode::Environment>(s);
                if (!v.body) missing_child();
                return Node::Environment{take(v.name), shallow_args(v.args), v.known, NodeId{}};
            }
            case NodeKind::Scripted: {
                auto& v = std::get<SyntaxNode::Scripted>(s);
                if (!v.base) missing_child();
                Node::Scripted out{NodeId{}, std::nullopt, std::nullopt};
                if (v.subscript) out.subscript = NodeId{};
                if (v.superscript) out.superscript = NodeId{};
                return out;
            }
            case NodeKind::Error: {
                auto& v = std::get<SyntaxNode::Error>(s);
                has_error_ = true;
                return Node::Error{take(v.message), take(v.snippet)};
            }
            case NodeKind::Prime: return Node::Prime{std::get<SyntaxNode::Prime>(s).count};
            case NodeKind::Text: return Node::Text{take(std::get<SyntaxNode::Text>(s).value)};
            case NodeKind::ActiveSpace: return Node::ActiveSpace{};
            default: unreachable("nested SyntaxNode::Root");
        }
    }

    Ast& ast_;
    NodeSpans* node_spans_;
    bool has_error_ = false;
    // The path from the root; most trees are shallow enough to keep it inline.
    InlineStack<Frame, 16> frames_;
};

bool Ast::build_from_syntax(const SyntaxNode& root, std::size_t node_count, const SpanTree* spans,
                            NodeSpans* node_spans) {
    return ArenaBuilder<const SyntaxNode, const SpanTree>(*this, node_spans).build(root, node_count, spans);
}

bool Ast::build_from_syntax(SyntaxNode&& root, std::size_t node_count, SpanTree* spans,
                            NodeSpans* node_spans) {
    return ArenaBuilder<SyntaxNode, SpanTree>(*this, node_spans).build(root, node_count, spans);
}

bool Ast::build_from_parsed(ParsedRoot& root, NodeSpans* node_spans) {
    return ArenaBuilder<SyntaxNode, SpanTree>(*this, node_spans).build_blocks(root);
}

Ast Ast::from_syntax_root(const SyntaxNode& root) {
    const std::size_t count = count_syntax_nodes(root);
    Ast ast(count);
    ast.build_from_syntax(root, count, nullptr, nullptr);
    return ast;
}

Ast Ast::from_syntax_root(SyntaxNode&& root) {
    const std::size_t count = count_syntax_nodes(root);
    Ast ast(count);
    ast.build_from_syntax(std::move(root), count, nullptr, nullptr);
    return ast;
}

std::variant<Ast, FromSyntaxError> Ast::from_syntax(const SyntaxNode& root) {
    std::size_t count = 0;
    if (auto error = validate_syntax(root, std::nullopt, true, count)) return *error;
    Ast ast(count);
    ast.build_from_syntax(root, count, nullptr, nullptr);
    return ast;
}

// ---------------------------------------------------------------------------
// Arena to exchange tree

namespace {

struct ExportJob {
    NodeId src;
    SyntaxNode* dst;
};

SyntaxNode::Box export_box(NodeId id, std::vector<ExportJob>& jobs) {
    SyntaxNode::Box box{SyntaxNode()};
    jobs.push_back({id, box.get()});
    return box;
}

SyntaxNode::ArgumentSlots export_args(const ast::ArgumentSlots& src, std::vector<ExportJob>& jobs) {
    SyntaxNode::ArgumentSlots out;
    out.reserve(src.size());
    for (const auto& slot : src) {
        if (!slot) {
            out.emplace_back();
            continue;
        }
        sn::Argument arg;
        arg.kind = slot->kind;
        arg.no_leading_space = slot->no_leading_space;
        const auto& v = slot->value.value;
        switch (v.index()) {
            case 0: arg.value = sn::ArgumentValue::MathContent{export_box(std::get<0>(v).node, jobs)}; break;
            case 1: arg.value = sn::ArgumentValue::TextContent{export_box(std::get<1>(v).node, jobs)}; break;
            case 2:
                arg.value = sn::ArgumentValue::OperatorNameContent{export_box(std::get<2>(v).node, jobs)};
                break;
            case 3:
                arg.value = sn::ArgumentValue::Delimiter{std::get<ast::ArgumentValue::Delimiter>(v).value};
                break;
            case 4: arg.value = sn::ArgumentValue::CSName{std::get<ast::ArgumentValue::CSName>(v).value}; break;
            case 5:
                arg.value = sn::ArgumentValue::Dimension{std::get<ast::ArgumentValue::Dimension>(v).value};
                break;
            case 6:
                arg.value = sn::ArgumentValue::Integer{std::get<ast::ArgumentValue::Integer>(v).value};
                break;
            case 7: arg.value = sn::ArgumentValue::KeyVal{std::get<ast::ArgumentValue::KeyVal>(v).value}; break;
            case 8: arg.value = sn::ArgumentValue::Column{std::get<ast::ArgumentValue::Column>(v).value}; break;
            default:
                arg.value = sn::ArgumentValue::Boolean{std::get<ast::ArgumentValue::Boolean>(v).value};
                break;
        }
        out.emplace_back(std::move(arg));
    }
    return out;
}

std::vector<SyntaxNode> export_children(const ast::ChildList& src, std::vector<ExportJob>& jobs) {
    std::vector<SyntaxNode> out(src.size());
    for (std::size_t i = 0; i < src.size(); ++i) jobs.push_back({src[i], &out[i]});
    return out;
}

}  // namespace

SyntaxNode Ast::to_syntax_node(NodeId id) const { return to_syntax_impl(id, true); }

SyntaxNode Ast::to_syntax_impl(NodeId id, bool allow_root) const {
    SyntaxNode result;
    std::vector<ExportJob> jobs;
    jobs.push_back({id, &result});
    bool first = true;
    while (!jobs.empty()) {
        ExportJob job = jobs.back();
        jobs.pop_back();
        const Node& n = node(job.src);
        auto& d = job.dst->value;
        switch (n.kind()) {
            case NodeKind::Root: {
                if (!(first && allow_root)) unreachable("Root node below the tree root");
                const auto& v = std::get<Node::Root>(n.value);
                d = SyntaxNode::Root{v.mode, {}};
                std::get<SyntaxNode::Root>(d).children = export_children(v.children, jobs);
                break;
            }
            case NodeKind::Group: {
                const auto& v = std::get<Node::Group>(n.value);
                d = SyntaxNode::Group{v.mode, v.kind, {}};
                std::get<SyntaxNode::Group>(d).children = export_children(v.children, jobs);
                break;
            }
            case NodeKind::Command: {
                const auto& v = std::get<Node::Command>(n.value);
                d = SyntaxNode::Command{v.name.str(), export_args(v.args, jobs), v.known};
                break;
            }
            case NodeKind::Infix: {
                const auto& v = std::get<Node::Infix>(n.value);
                SyntaxNode::Infix out;
                out.name = v.name.str();
                out.left = export_box(v.left, jobs);
                out.args = export_args(v.args, jobs);
                out.right = export_box(v.right, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Declarative: {
                const auto& v = std::get<Node::Declarative>(n.value);
                d = SyntaxNode::Declarative{v.name.str(), export_args(v.args, jobs)};
                break;
            }
            case NodeKind::Environment: {
                const auto& v = std::get<Node::Environment>(n.value);
                SyntaxNode::Environment out;
                out.name = v.name.str();
                out.args = export_args(v.args, jobs);
                out.known = v.known;
                out.body = export_box(v.body, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Scripted: {
                const auto& v = std::get<Node::Scripted>(n.value);
                SyntaxNode::Scripted out;
                out.base = export_box(v.base, jobs);
                if (v.subscript) out.subscript = export_box(*v.subscript, jobs);
                if (v.superscript) out.superscript = export_box(*v.superscript, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Prime: d = SyntaxNode::Prime{std::get<Node::Prime>(n.value).count}; break;
            case NodeKind::Text: d = SyntaxNode::Text{std::get<Node::Text>(n.value).value.str()}; break;
            case NodeKind::Char: d = SyntaxNode::Char{std::get<Node::Char>(n.value).value}; break;
            case NodeKind::ActiveSpace: d = SyntaxNode::ActiveSpace{}; break;
            case NodeKind::Error: {
                const auto& v = std::get<Node::Error>(n.value);
                d = SyntaxNode::Error{v.message.str(), v.snippet.str()};
                break;
            }
        }
        first = false;
    }
    return result;
}

std::optional<sn::Argument> Ast::to_syntax_arg_slot(const std::optional<ast::Argument>& slot) const {
    if (!slot) return std::nullopt;
    std::vector<ExportJob> jobs;
    SyntaxNode::ArgumentSlots one = export_args(ast::ArgumentSlots{slot}, jobs);
    // Each content placeholder is filled by its own iterative conversion.
    for (const ExportJob& job : jobs) *job.dst = to_syntax_impl(job.src, false);
    return std::move(one.front());
}

}  // namespace quorvel::syntax
