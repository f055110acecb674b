#include "syntax/conversion.hpp"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "syntax/ast_internal.hpp"

namespace quorvel::syntax {

using ast::Node;
using ast::NodeId;
namespace sn = syntax_node;

// ---------------------------------------------------------------------------
// Errors

std::string_view message(FromSyntaxError error) {
    switch (error) {
        case FromSyntaxError::NotARoot: return "from_syntax expects a SyntaxNode::Root";
        case FromSyntaxError::InvalidPrimeCount: return "Prime count must be greater than zero";
        case FromSyntaxError::PrimeInTextMode: return "Prime nodes are only valid in math mode";
        case FromSyntaxError::EnvironmentBodyNotGroup:
            return "Environment body must be a Group node";
        case FromSyntaxError::StarSlotNotBoolean:
            return "Star argument slot must hold a Boolean value";
        case FromSyntaxError::BooleanOutsideStarSlot:
            return "Boolean argument value is only valid in a Star slot";
        case FromSyntaxError::InvalidCharacter:
            return "Character must be a Unicode scalar value";
    }
    return "";
}

std::string_view debug_name(FromSyntaxError error) {
    switch (error) {
        case FromSyntaxError::NotARoot: return "NotARoot";
        case FromSyntaxError::InvalidPrimeCount: return "InvalidPrimeCount";
        case FromSyntaxError::PrimeInTextMode: return "PrimeInTextMode";
        case FromSyntaxError::EnvironmentBodyNotGroup: return "EnvironmentBodyNotGroup";
        case FromSyntaxError::StarSlotNotBoolean: return "StarSlotNotBoolean";
        case FromSyntaxError::BooleanOutsideStarSlot: return "BooleanOutsideStarSlot";
        case FromSyntaxError::InvalidCharacter: return "InvalidCharacter";
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
    if (const auto* d = std::get_if<sn::ArgumentKind::Delimited>(&kind.value)) {
        return delimiter_ok(d->open) && delimiter_ok(d->close);
    }
    if (const auto* p = std::get_if<sn::ArgumentKind::Paired>(&kind.value)) {
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

std::optional<FromSyntaxError> check_argument(const sn::Argument& arg, VisitStack& stack) {
    const bool star = arg.kind.is_star();
    const bool boolean = std::holds_alternative<sn::ArgumentValue::Boolean>(arg.value.value);
    if (star && !boolean) return FromSyntaxError::StarSlotNotBoolean;
    if (boolean && !star) return FromSyntaxError::BooleanOutsideStarSlot;
    if (!argument_kind_ok(arg.kind)) return FromSyntaxError::InvalidCharacter;
    if (const auto* d = std::get_if<sn::ArgumentValue::Delimiter>(&arg.value.value)) {
        if (!delimiter_ok(d->value)) return FromSyntaxError::InvalidCharacter;
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

std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& top_node,
                                               std::optional<ContentMode> top_mode, bool top) {
    std::size_t count = 0;
    return validate_syntax(top_node, top_mode, top, count);
}

std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& top_node,
                                               std::optional<ContentMode> top_mode, bool top,
                                               std::size_t& node_count) {
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
            if (auto error = check_argument(*static_cast<const sn::Argument*>(item.target), stack)) {
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
                }
                push_children(v.children, v.mode, stack);
                break;
            }
            case NodeKind::Command: push_args(std::get<SyntaxNode::Command>(node.value).args, mode, stack); break;
            case NodeKind::Infix: {
                const auto& v = std::get<SyntaxNode::Infix>(node.value);
                push_box(v.right, mode, stack);
                push_box(v.left, mode, stack);
                push_args(v.args, mode, stack);
                break;
            }
            case NodeKind::Declarative: push_args(std::get<SyntaxNode::Declarative>(node.value).args, mode, stack); break;
            case NodeKind::Environment: {
                const auto& v = std::get<SyntaxNode::Environment>(node.value);
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
            case NodeKind::Char:
                if (!is_scalar_value(std::get<SyntaxNode::Char>(node.value).value)) {
                    return FromSyntaxError::InvalidCharacter;
                }
                break;
            default: break;  // Error, Text, ActiveSpace
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// Exchange tree to arena

namespace {

[[noreturn]] void missing_child() { unreachable("SyntaxNode is missing a required child"); }

ast::ChildList placeholder_list(std::size_t count) {
    ast::ChildList list;
    list.reserve(count);
    for (std::size_t i = 0; i < count; ++i) list.push_back(NodeId{});
    return list;
}

// Points the parent's field for `slot` at `child`.
void fill_field(Node& parent, Slot slot, NodeId child) {
    switch (slot.kind()) {
        case Slot::Kind::GroupChild: (*parent.child_list())[slot.index()] = child; break;
        case Slot::Kind::Argument: *(*parent.args())[slot.index()]->value.content_ptr() = child; break;
        case Slot::Kind::ScriptBase: std::get<Node::Scripted>(parent.value).base = child; break;
        case Slot::Kind::ScriptSub: std::get<Node::Scripted>(parent.value).subscript = child; break;
        case Slot::Kind::ScriptSup: std::get<Node::Scripted>(parent.value).superscript = child; break;
        case Slot::Kind::InfixLeft: std::get<Node::Infix>(parent.value).left = child; break;
        case Slot::Kind::InfixRight: std::get<Node::Infix>(parent.value).right = child; break;
        case Slot::Kind::EnvBody: std::get<Node::Environment>(parent.value).body = child; break;
    }
}

}  // namespace

// One top-down walk from an exchange tree to a new arena. `Tree` is
// `const SyntaxNode` to copy values out of the tree, or `SyntaxNode` to move
// them out and free each subtree once it has been built; `Spans` is likewise
// `const SpanTree` to read the span tree, or `SpanTree` to free it too.
//
// Each node is stored with placeholder child ids, which its children fill in
// as they are stored; nodes take their slots in pre-order of the edges. The
// walk keeps one frame per node on the current path, holding where in the
// node's parts it stands, so its stack grows with the depth only.
template <class Tree, class Spans>
class ArenaBuilder {
    static constexpr bool kTake = !std::is_const_v<Tree>;
    static constexpr bool kTakeSpans = !std::is_const_v<Spans>;
    using Slots = std::conditional_t<kTake, SyntaxNode::ArgumentSlots, const SyntaxNode::ArgumentSlots>;

public:
    ArenaBuilder(Ast::SyntaxBuildRecord* record, Spans* spans)
        : ast_(record != nullptr ? record->node_count : 0), record_(record), spans_(spans) {}

    Ast build(Tree& root) {
        auto* r = root.template get_if<SyntaxNode::Root>();
        if (r == nullptr) unreachable("from_syntax_root expects a SyntaxNode::Root");
        if (record_ != nullptr && record_->node_count > 0) {
            ast_.parents_.reserve(record_->node_count);
            if (spans_ != nullptr) record_->node_spans.reserve(record_->node_count);
        }
        ast_.root_ = ast_.nodes_.insert(Node::Root{placeholder_list(r->children.size()), r->mode});
        if (spans_ != nullptr) record_->node_spans.insert(ast_.root_, spans_->span);
        frames_.push_back(Frame{&root, ast_.root_, spans_});

        while (!frames_.empty()) {
            Frame& frame = frames_.back();
            Tree* child = nullptr;
            Slot slot;
            if (!next_part(frame, child, slot)) {
                if constexpr (kTake) release_parts(*frame.src);
                if constexpr (kTakeSpans) {
                    if (frame.spans != nullptr) std::vector<SpanTree>().swap(frame.spans->children);
                }
                frames_.pop_back();
                continue;
            }
            if (child == nullptr) missing_child();
            if (slot.kind() == Slot::Kind::EnvBody && !child->template is<SyntaxNode::Group>()) {
                internal_error("Environment body must be a Group node");
            }
            Spans* child_spans = nullptr;
            if (frame.spans != nullptr && frame.part < frame.spans->children.size()) {
                child_spans = &frame.spans->children[frame.part];
            }
            ++frame.part;
            const NodeId parent = frame.id;  // `frame` dies with the push below

            NodeId id = ast_.nodes_.insert_with([&] { return shallow_node(*child); });
            fill_field(*ast_.nodes_.get(parent), slot, id);  // the parent was stored just before
            ast_.set_link(id, parent, slot);
            if (child_spans != nullptr) record_->node_spans.insert(id, child_spans->span);
            if (has_parts(*child)) frames_.push_back(Frame{child, id, child_spans});
        }
        return std::move(ast_);
    }

private:
    struct Frame {
        Tree* src;
        NodeId id;
        Spans* spans;
        // The position among the node's parts: a phase (operand, arguments,
        // body, script) and an index within it.
        std::uint32_t phase = 0;
        std::uint32_t index = 0;
        // How many parts were taken, for the span children.
        std::uint32_t part = 0;
    };

    static bool has_parts(const SyntaxNode& node) {
        switch (node.kind()) {
            case NodeKind::Group: return !std::get<SyntaxNode::Group>(node.value).children.empty();
            case NodeKind::Command:
            case NodeKind::Declarative: return !node.args()->empty();
            case NodeKind::Infix:
            case NodeKind::Environment:
            case NodeKind::Scripted: return true;
            default: return false;
        }
    }

    // The next content argument from `index` on.
    static bool next_argument(Slots& args, std::uint32_t& index, Tree*& child, Slot& slot) {
        while (index < args.size()) {
            const std::uint32_t i = index++;
            auto& arg = args[i];
            if (!arg || !arg->value.is_content()) continue;
            child = arg->value.content();
            slot = Slot::argument(i);
            return true;
        }
        return false;
    }

    // The next part of the frame's node in edge order; false when none is left.
    static bool next_part(Frame& f, Tree*& child, Slot& slot) {
        auto& value = f.src->value;
        switch (f.src->kind()) {
            case NodeKind::Root:
            case NodeKind::Group: {
                auto& children = f.src->template is<SyntaxNode::Root>()
                                     ? std::get<SyntaxNode::Root>(value).children
                                     : std::get<SyntaxNode::Group>(value).children;
                if (f.index >= children.size()) return false;
                slot = Slot::group_child(f.index);
                child = &children[f.index++];
                return true;
            }
            case NodeKind::Command:
            case NodeKind::Declarative: return next_argument(*f.src->args(), f.index, child, slot);
            case NodeKind::Infix: {
                auto& v = std::get<SyntaxNode::Infix>(value);
                if (f.phase == 0) {
                    f.phase = 1;
                    child = v.left.get();
                    slot = Slot::infix_left();
                    return true;
                }
                if (f.phase == 1) {
                    if (next_argument(v.args, f.index, child, slot)) return true;
                    f.phase = 2;
                    child = v.right.get();
                    slot = Slot::infix_right();
                    return true;
                }
                return false;
            }
            case NodeKind::Environment: {
                auto& v = std::get<SyntaxNode::Environment>(value);
                if (f.phase == 0) {
                    if (next_argument(v.args, f.index, child, slot)) return true;
                    f.phase = 1;
                    child = v.body.get();
                    slot = Slot::env_body();
                    return true;
                }
                return false;
            }
            case NodeKind::Scripted: {
                auto& v = std::get<SyntaxNode::Scripted>(value);
                if (f.phase == 0) {
                    f.phase = 1;
                    child = v.base.get();
                    slot = Slot::script_base();
                    return true;
                }
                if (f.phase == 1) {
                    f.phase = 2;
                    if (v.subscript) {
                        child = v.subscript.get();
                        slot = Slot::script_sub();
                        return true;
                    }
                }
                if (f.phase == 2) {
                    f.phase = 3;
                    if (v.superscript) {
                        child = v.superscript.get();
                        slot = Slot::script_sup();
                        return true;
                    }
                }
                return false;
            }
            default: return false;
        }
    }

    // Frees the parts of a node whose parts were all built (and freed).
    static void release_parts(SyntaxNode& node) {
        switch (node.kind()) {
            case NodeKind::Root: std::vector<SyntaxNode>().swap(std::get<SyntaxNode::Root>(node.value).children); break;
            case NodeKind::Group: std::vector<SyntaxNode>().swap(std::get<SyntaxNode::Group>(node.value).children); break;
            case NodeKind::Infix: {
                auto& v = std::get<SyntaxNode::Infix>(node.value);
                v.left.reset();
                v.right.reset();
                v.args.clear();
                break;
            }
            case NodeKind::Environment: {
                auto& v = std::get<SyntaxNode::Environment>(node.value);
                v.body.reset();
                v.args.clear();
                break;
            }
            case NodeKind::Scripted: {
                auto& v = std::get<SyntaxNode::Scripted>(node.value);
                v.base.reset();
                v.subscript.reset();
                v.superscript.reset();
                break;
            }
            case NodeKind::Command:
            case NodeKind::Declarative: node.args()->clear(); break;
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

    ast::ArgumentSlots shallow_args(Slots& src) {
        ast::ArgumentSlots out;
        out.reserve(src.size());
        for (auto& slot : src) {
            if (!slot) {
                out.emplace_back();
                continue;
            }
            ast::Argument& arg = out.emplace_back(std::in_place).value();
            arg.kind = take(slot->kind);
            arg.no_leading_space = slot->no_leading_space;
            auto& v = slot->value.value;
            switch (v.index()) {
                // Content values get their node when it is built; a missing
                // one is refused now, before anything below the node is built.
                case 0:
                case 1:
                case 2: {
                    if (slot->value.content() == nullptr) missing_child();
                    if (v.index() == 0) arg.value = ast::ArgumentValue::MathContent{};
                    if (v.index() == 1) arg.value = ast::ArgumentValue::TextContent{};
                    if (v.index() == 2) arg.value = ast::ArgumentValue::OperatorNameContent{};
                    break;
                }
                case 3:
                    arg.value = ast::ArgumentValue::Delimiter{take(std::get<sn::ArgumentValue::Delimiter>(v).value)};
                    break;
                case 4: arg.value = ast::ArgumentValue::CSName{take(std::get<sn::ArgumentValue::CSName>(v).value)}; break;
                case 5:
                    arg.value = ast::ArgumentValue::Dimension{take(std::get<sn::ArgumentValue::Dimension>(v).value)};
                    break;
                case 6:
                    arg.value = ast::ArgumentValue::Integer{take(std::get<sn::ArgumentValue::Integer>(v).value)};
                    break;
                case 7: arg.value = ast::ArgumentValue::KeyVal{take(std::get<sn::ArgumentValue::KeyVal>(v).value)}; break;
                case 8: arg.value = ast::ArgumentValue::Column{take(std::get<sn::ArgumentValue::Column>(v).value)}; break;
                default:
                    arg.value = ast::ArgumentValue::Boolean{std::get<sn::ArgumentValue::Boolean>(v).value};
                    break;
            }
        }
        return out;
    }

    // The arena value of one exchange node, its child ids still placeholders.
    Node shallow_node(Tree& src) {
        auto& s = src.value;
        switch (src.kind()) {
            case NodeKind::Group: {
                auto& v = std::get<SyntaxNode::Group>(s);
                return Node::Group{placeholder_list(v.children.size()), take(v.kind), v.mode};
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
                if (record_ != nullptr) record_->has_error = true;
                return Node::Error{take(v.message), take(v.snippet)};
            }
            case NodeKind::Prime: return Node::Prime{std::get<SyntaxNode::Prime>(s).count};
            case NodeKind::Text: return Node::Text{take(std::get<SyntaxNode::Text>(s).value)};
            case NodeKind::Char: return Node::Char{std::get<SyntaxNode::Char>(s).value};
            case NodeKind::ActiveSpace: return Node::ActiveSpace{};
            default: unreachable("nested SyntaxNode::Root");
        }
    }

    Ast ast_;
    Ast::SyntaxBuildRecord* record_;
    Spans* spans_;
    // The path from the root; most trees are shallow enough to keep it inline.
    SmallVector<Frame, 16> frames_;
};

Ast Ast::from_syntax_root(const SyntaxNode& root) {
    return ArenaBuilder<const SyntaxNode, const SpanTree>(nullptr, nullptr).build(root);
}

Ast Ast::from_syntax_root(SyntaxNode&& root) {
    return ArenaBuilder<SyntaxNode, const SpanTree>(nullptr, nullptr).build(root);
}

Ast Ast::from_syntax_root(const SyntaxNode& root, const SpanTree* spans, SyntaxBuildRecord& record) {
    return ArenaBuilder<const SyntaxNode, const SpanTree>(&record, spans).build(root);
}

Ast Ast::from_syntax_root(SyntaxNode&& root, SpanTree&& spans, SyntaxBuildRecord& record) {
    return ArenaBuilder<SyntaxNode, SpanTree>(&record, &spans).build(root);
}

std::variant<Ast, FromSyntaxError> Ast::from_syntax(const SyntaxNode& root) {
    if (auto error = validate_syntax(root, std::nullopt, true)) return *error;
    return from_syntax_root(root);
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
                d = SyntaxNode::Command{v.name, export_args(v.args, jobs), v.known};
                break;
            }
            case NodeKind::Infix: {
                const auto& v = std::get<Node::Infix>(n.value);
                SyntaxNode::Infix out;
                out.name = v.name;
                out.left = export_box(v.left, jobs);
                out.args = export_args(v.args, jobs);
                out.right = export_box(v.right, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Declarative: {
                const auto& v = std::get<Node::Declarative>(n.value);
                d = SyntaxNode::Declarative{v.name, export_args(v.args, jobs)};
                break;
            }
            case NodeKind::Environment: {
                const auto& v = std::get<Node::Environment>(n.value);
                SyntaxNode::Environment out;
                out.name = v.name;
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
            case NodeKind::Text: d = SyntaxNode::Text{std::get<Node::Text>(n.value).value}; break;
            case NodeKind::Char: d = SyntaxNode::Char{std::get<Node::Char>(n.value).value}; break;
            case NodeKind::ActiveSpace: d = SyntaxNode::ActiveSpace{}; break;
            case NodeKind::Error: {
                const auto& v = std::get<Node::Error>(n.value);
                d = SyntaxNode::Error{v.message, v.snippet};
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
