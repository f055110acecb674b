#include "syntax/conversion.hpp"

#include <algorithm>
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

std::optional<FromSyntaxError> check_argument(const sn::Argument& arg, std::vector<Visit>& stack) {
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

void push_args(const SyntaxNode::ArgumentSlots& args, std::optional<ContentMode> mode,
               std::vector<Visit>& stack) {
    for (std::size_t i = args.size(); i-- > 0;) {
        if (args[i]) stack.push_back({Visit::Type::Argument, mode, &*args[i]});
    }
}

void push_box(const SyntaxNode::Box& box, std::optional<ContentMode> mode,
              std::vector<Visit>& stack) {
    if (box) stack.push_back({Visit::Type::Node, mode, box.get()});
}

void push_children(const std::vector<SyntaxNode>& children, std::optional<ContentMode> mode,
                   std::vector<Visit>& stack) {
    for (std::size_t i = children.size(); i-- > 0;) {
        stack.push_back({Visit::Type::Node, mode, &children[i]});
    }
}

}  // namespace

std::optional<FromSyntaxError> validate_syntax(const SyntaxNode& top_node,
                                               std::optional<ContentMode> top_mode, bool top) {
    std::vector<Visit> stack;
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

ast::ArgumentSlots shallow_args(const SyntaxNode::ArgumentSlots& src) {
    ast::ArgumentSlots out;
    out.reserve(src.size());
    for (const auto& slot : src) {
        if (!slot) {
            out.emplace_back();
            continue;
        }
        ast::Argument arg;
        arg.kind = slot->kind;
        arg.no_leading_space = slot->no_leading_space;
        const auto& v = slot->value.value;
        switch (v.index()) {
            // Content values get their node when it is converted.
            case 0: arg.value = ast::ArgumentValue::MathContent{}; break;
            case 1: arg.value = ast::ArgumentValue::TextContent{}; break;
            case 2: arg.value = ast::ArgumentValue::OperatorNameContent{}; break;
            case 3:
                arg.value = ast::ArgumentValue::Delimiter{std::get<sn::ArgumentValue::Delimiter>(v).value};
                break;
            case 4: arg.value = ast::ArgumentValue::CSName{std::get<sn::ArgumentValue::CSName>(v).value}; break;
            case 5:
                arg.value = ast::ArgumentValue::Dimension{std::get<sn::ArgumentValue::Dimension>(v).value};
                break;
            case 6:
                arg.value = ast::ArgumentValue::Integer{std::get<sn::ArgumentValue::Integer>(v).value};
                break;
            case 7: arg.value = ast::ArgumentValue::KeyVal{std::get<sn::ArgumentValue::KeyVal>(v).value}; break;
            case 8: arg.value = ast::ArgumentValue::Column{std::get<sn::ArgumentValue::Column>(v).value}; break;
            default:
                arg.value = ast::ArgumentValue::Boolean{std::get<sn::ArgumentValue::Boolean>(v).value};
                break;
        }
        out.emplace_back(std::move(arg));
    }
    return out;
}

ast::ChildList placeholder_list(std::size_t count) {
    ast::ChildList list;
    list.reserve(count);
    for (std::size_t i = 0; i < count; ++i) list.push_back(NodeId{});
    return list;
}

// The arena value of one exchange node, its child ids still placeholders.
Node shallow_node(const SyntaxNode& src) {
    const auto& s = src.value;
    switch (src.kind()) {
        case NodeKind::Group: {
            const auto& v = std::get<SyntaxNode::Group>(s);
            return Node::Group{placeholder_list(v.children.size()), v.kind, v.mode};
        }
        case NodeKind::Command: {
            const auto& v = std::get<SyntaxNode::Command>(s);
            return Node::Command{v.name, shallow_args(v.args), v.known};
        }
        case NodeKind::Infix: {
            const auto& v = std::get<SyntaxNode::Infix>(s);
            if (!v.left || !v.right) missing_child();
            return Node::Infix{v.name, shallow_args(v.args), NodeId{}, NodeId{}};
        }
        case NodeKind::Declarative: {
            const auto& v = std::get<SyntaxNode::Declarative>(s);
            return Node::Declarative{v.name, shallow_args(v.args)};
        }
        case NodeKind::Environment: {
            const auto& v = std::get<SyntaxNode::Environment>(s);
            if (!v.body) missing_child();
            return Node::Environment{v.name, shallow_args(v.args), v.known, NodeId{}};
        }
        case NodeKind::Scripted: {
            const auto& v = std::get<SyntaxNode::Scripted>(s);
            if (!v.base) missing_child();
            Node::Scripted out{NodeId{}, std::nullopt, std::nullopt};
            if (v.subscript) out.subscript = NodeId{};
            if (v.superscript) out.superscript = NodeId{};
            return out;
        }
        case NodeKind::Error: {
            const auto& v = std::get<SyntaxNode::Error>(s);
            return Node::Error{v.message, v.snippet};
        }
        case NodeKind::Prime: return Node::Prime{std::get<SyntaxNode::Prime>(s).count};
        case NodeKind::Text: return Node::Text{std::get<SyntaxNode::Text>(s).value};
        case NodeKind::Char: return Node::Char{std::get<SyntaxNode::Char>(s).value};
        case NodeKind::ActiveSpace: return Node::ActiveSpace{};
        default: unreachable("nested SyntaxNode::Root");
    }
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

struct BuildJob {
    const SyntaxNode* src;
    NodeId parent;
    Slot slot;
};

void push_build_jobs(const SyntaxNode& src, NodeId parent, std::vector<BuildJob>& jobs) {
    std::size_t mark = jobs.size();
    for_each_syntax_edge(src, [&](const SyntaxNode* child, Slot slot) {
        if (child == nullptr) missing_child();
        jobs.push_back({child, parent, slot});
    });
    std::reverse(jobs.begin() + static_cast<std::ptrdiff_t>(mark), jobs.end());
}

}  // namespace

Ast Ast::from_syntax_root(const SyntaxNode& root) {
    const auto* r = root.get_if<SyntaxNode::Root>();
    if (r == nullptr) unreachable("from_syntax_root expects a SyntaxNode::Root");

    // Top-down: each node is stored with placeholder child ids, which its
    // children fill in as they are stored. The result is the same tree the
    // bottom-up description builds; only the order of slot allocation
    // differs, and that is not observable.
    Ast ast;
    ast.root_ = ast.nodes_.insert(Node::Root{placeholder_list(r->children.size()), r->mode});
    std::vector<BuildJob> jobs;
    push_build_jobs(root, ast.root_, jobs);
    while (!jobs.empty()) {
        BuildJob job = jobs.back();
        jobs.pop_back();
        if (job.slot.kind() == Slot::Kind::EnvBody && !job.src->is<SyntaxNode::Group>()) {
            internal_error("Environment body must be a Group node");
        }
        NodeId id = ast.nodes_.insert(shallow_node(*job.src));
        fill_field(ast.node_mut(job.parent), job.slot, id);
        ast.set_link(id, job.parent, job.slot);
        push_build_jobs(*job.src, id, jobs);
    }
    return ast;
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
