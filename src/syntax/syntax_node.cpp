#include "syntax/syntax_node.hpp"

#include <algorithm>
#include <iterator>
#include <type_traits>

#include "syntax/list_buffers.hpp"
#include "util/release_walk.hpp"
#include "util/utf8.hpp"

namespace quorvel::syntax {

using syntax_node::Argument;
using syntax_node::ArgumentKind;
using syntax_node::ArgumentSlots;
using syntax_node::ArgumentValue;
using syntax_node::Delimiter;
using syntax_node::GroupKind;

// ---------------------------------------------------------------------------
// Boxed node storage

void* SyntaxNode::operator new(std::size_t size) {
    if (size != sizeof(SyntaxNode)) return ::operator new(size);
    return list_buffers::take_single<sizeof(SyntaxNode)>();
}

void SyntaxNode::operator delete(void* p, std::size_t size) noexcept {
    if (p == nullptr) return;
    if (size != sizeof(SyntaxNode)) {
        ::operator delete(p);
        return;
    }
    list_buffers::give_back_single<sizeof(SyntaxNode)>(p);
}

// ---------------------------------------------------------------------------
// Argument values

const SyntaxNode* ArgumentValue::content() const {
    const auto* box = content_box();
    return box ? box->get() : nullptr;
}

SyntaxNode* ArgumentValue::content() {
    auto* box = content_box();
    return box ? box->get() : nullptr;
}

syntax_node::Box<SyntaxNode>* ArgumentValue::content_box() {
    if (auto* v = std::get_if<MathContent>(&value)) return &v->node;
    if (auto* v = std::get_if<TextContent>(&value)) return &v->node;
    if (auto* v = std::get_if<OperatorNameContent>(&value)) return &v->node;
    return nullptr;
}

const syntax_node::Box<SyntaxNode>* ArgumentValue::content_box() const {
    return const_cast<ArgumentValue*>(this)->content_box();
}

std::optional<ContentMode> ArgumentValue::content_mode() const {
    switch (value.index()) {
        case 0: return ContentMode::Math;
        case 1: return ContentMode::Text;
        case 2: return ContentMode::Math;
        default: return std::nullopt;
    }
}

// ---------------------------------------------------------------------------
// Kinds

namespace {

template <std::size_t I>
using Alt = std::variant_alternative_t<I, SyntaxNode::Value>;

// The asserts pin each entry of the index-to-kind table to its alternative,
// so a reordering cannot silently remap kinds.
template <std::size_t I, NodeKind K, class T>
constexpr bool kPinned = std::is_same_v<Alt<I>, T> && SyntaxNode::kKinds[I] == K;
static_assert(std::variant_size_v<SyntaxNode::Value> == std::size(SyntaxNode::kKinds));
static_assert(kPinned<0, NodeKind::Root, SyntaxNode::Root> && kPinned<1, NodeKind::Group, SyntaxNode::Group> &&
              kPinned<2, NodeKind::Command, SyntaxNode::Command> && kPinned<3, NodeKind::Infix, SyntaxNode::Infix> &&
              kPinned<4, NodeKind::Declarative, SyntaxNode::Declarative> &&
              kPinned<5, NodeKind::Environment, SyntaxNode::Environment> &&
              kPinned<6, NodeKind::Scripted, SyntaxNode::Scripted> && kPinned<7, NodeKind::Error, SyntaxNode::Error> &&
              kPinned<8, NodeKind::Prime, SyntaxNode::Prime> && kPinned<9, NodeKind::Text, SyntaxNode::Text> &&
              kPinned<10, NodeKind::Char, SyntaxNode::Char> &&
              kPinned<11, NodeKind::ActiveSpace, SyntaxNode::ActiveSpace>);

}  // namespace

const SyntaxNode::ArgumentSlots* SyntaxNode::args() const {
    return const_cast<SyntaxNode*>(this)->args();
}

SyntaxNode::ArgumentSlots* SyntaxNode::args() {
    if (auto* v = get_if<Command>()) return &v->args;
    if (auto* v = get_if<Infix>()) return &v->args;
    if (auto* v = get_if<Declarative>()) return &v->args;
    if (auto* v = get_if<Environment>()) return &v->args;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Ownership: iterative destruction, copy and equality

namespace {

bool args_own_children(const ArgumentSlots& args) {
    for (const auto& slot : args) {
        if (slot && slot->value.content() != nullptr) return true;
    }
    return false;
}

void take_box(SyntaxNode::Box& box, std::vector<SyntaxNode>& out) {
    if (box) {
        out.push_back(std::move(*box));
        box.reset();
    }
}

void take_args(ArgumentSlots& args, std::vector<SyntaxNode>& out) {
    for (auto& slot : args) {
        if (!slot) continue;
        if (auto* box = slot->value.content_box()) take_box(*box, out);
    }
}

}  // namespace

bool SyntaxNode::owns_children() const {
    switch (kind()) {
        case NodeKind::Root: return !std::get<Root>(value).children.empty();
        case NodeKind::Group: return !std::get<Group>(value).children.empty();
        case NodeKind::Command: return args_own_children(std::get<Command>(value).args);
        case NodeKind::Infix: {
            const auto& v = std::get<Infix>(value);
            return v.left || v.right || args_own_children(v.args);
        }
        case NodeKind::Declarative: return args_own_children(std::get<Declarative>(value).args);
        case NodeKind::Environment: {
            const auto& v = std::get<Environment>(value);
            return v.body || args_own_children(v.args);
        }
        case NodeKind::Scripted: {
            const auto& v = std::get<Scripted>(value);
            return v.base || v.subscript || v.superscript;
        }
        default: return false;
    }
}

void SyntaxNode::take_children(std::vector<SyntaxNode>& out) {
    switch (kind()) {
        case NodeKind::Root: {
            auto& children = std::get<Root>(value).children;
            for (auto& child : children) out.push_back(std::move(child));
            children.clear();
            break;
        }
        case NodeKind::Group: {
            auto& children = std::get<Group>(value).children;
            for (auto& child : children) out.push_back(std::move(child));
            children.clear();
            break;
        }
        case NodeKind::Command: take_args(std::get<Command>(value).args, out); break;
        case NodeKind::Infix: {
            auto& v = std::get<Infix>(value);
            take_box(v.left, out);
            take_args(v.args, out);
            take_box(v.right, out);
            break;
        }
        case NodeKind::Declarative: take_args(std::get<Declarative>(value).args, out); break;
        case NodeKind::Environment: {
            auto& v = std::get<Environment>(value);
            take_args(v.args, out);
            take_box(v.body, out);
            break;
        }
        case NodeKind::Scripted: {
            auto& v = std::get<Scripted>(value);
            take_box(v.base, out);
            take_box(v.subscript, out);
            take_box(v.superscript, out);
            break;
        }
        default: break;
    }
}

namespace {

// Frees the owned subtrees of a node without moving any node.
void release_children(SyntaxNode& node) noexcept {
    switch (node.kind()) {
        case NodeKind::Root: std::get<SyntaxNode::Root>(node.value).children.clear(); break;
        case NodeKind::Group: std::get<SyntaxNode::Group>(node.value).children.clear(); break;
        default: {
            // Argument slots, operands, bodies and scripts: drop the subtree
            // boxes; the plain values stay until the node itself dies.
            if (auto* slots = node.args()) {
                for (auto& slot : *slots) {
                    if (!slot) continue;
                    if (auto* box = slot->value.content_box()) box->reset();
                }
            }
            if (auto* v = node.get_if<SyntaxNode::Infix>()) {
                v->left.reset();
                v->right.reset();
            } else if (auto* v = node.get_if<SyntaxNode::Environment>()) {
                v->body.reset();
            } else if (auto* v = node.get_if<SyntaxNode::Scripted>()) {
                v->base.reset();
                v->subscript.reset();
                v->superscript.reset();
            }
            break;
        }
    }
}

}  // namespace

void SyntaxNode::release_subtrees() noexcept {
    // The descendants that own children, each listed after its ancestors.
    // Released from the back, each one's own descendants are already
    // childless, so no destructor below this one recurses more than one level.
    std::vector<SyntaxNode*> owners;
    try {
        for_each_child([&owners](SyntaxNode& c) {
            if (c.owns_children()) owners.push_back(&c);
        });
        for (std::size_t i = 0; i < owners.size(); ++i) {
            owners[i]->for_each_child([&owners](SyntaxNode& c) {
                if (c.owns_children()) owners.push_back(&c);
            });
        }
    } catch (const std::bad_alloc&) {
        // Out of memory while a tree dies (often because of its size):
        // nothing is released yet, so take the walk that needs none.
        release_subtrees_in_place();
        return;
    }
    for (std::size_t i = owners.size(); i-- > 0;) release_children(*owners[i]);
}

void SyntaxNode::release_subtrees_in_place() noexcept {
    // A list's trailing children that own nothing are freed as the walk
    // meets them, so a long list is read once.
    const auto owning_child = [](SyntaxNode& node) -> SyntaxNode* {
        const auto from_list = [](std::vector<SyntaxNode>& children) -> SyntaxNode* {
            while (!children.empty() && !children.back().owns_children()) children.pop_back();
            return children.empty() ? nullptr : &children.back();
        };
        switch (node.kind()) {
            case NodeKind::Root: return from_list(std::get<Root>(node.value).children);
            case NodeKind::Group: return from_list(std::get<Group>(node.value).children);
            default: {
                SyntaxNode* found = nullptr;
                node.for_each_child([&found](SyntaxNode& c) {
                    if (found == nullptr && c.owns_children()) found = &c;
                });
                return found;
            }
        }
    };
    util::release_bottom_up(*this, owning_child, [](SyntaxNode& node) { release_children(node); });
}

SyntaxNode& SyntaxNode::operator=(SyntaxNode&& other) noexcept {
    if (this == &other) return *this;
    if (!may_own_children() || !owns_children()) {
        // No subtree of ours can hold `other`.
        value = std::move(other.value);
    } else {
        // `other` may live inside this node's subtree: move it out first.
        // The old value then dies inside the assignment, iteratively.
        SyntaxNode taken(std::move(other));
        value = std::move(taken.value);
    }
    return *this;
}

SyntaxNode::SyntaxNode(const SyntaxNode& other) : SyntaxNode() { copy_from(other); }

SyntaxNode& SyntaxNode::operator=(const SyntaxNode& other) {
    if (this != &other) {
        SyntaxNode copy(other);
        value.swap(copy.value);
    }
    return *this;
}

namespace {

struct CopyJob {
    const SyntaxNode* src;
    SyntaxNode* dst;
};

// A fresh placeholder box for a child still to be copied.
SyntaxNode::Box placeholder(const SyntaxNode::Box& src, std::vector<CopyJob>& jobs) {
    if (!src) return {};
    SyntaxNode::Box box{SyntaxNode()};
    jobs.push_back({src.get(), box.get()});
    return box;
}

ArgumentSlots copy_args(const ArgumentSlots& src, std::vector<CopyJob>& jobs) {
    ArgumentSlots out;
    out.reserve(src.size());
    for (const auto& slot : src) {
        if (!slot) {
            out.emplace_back();
            continue;
        }
        Argument arg;
        arg.kind = slot->kind;
        arg.no_leading_space = slot->no_leading_space;
        switch (slot->value.value.index()) {
            case 0:
                arg.value = ArgumentValue::MathContent{
                    placeholder(std::get<0>(slot->value.value).node, jobs)};
                break;
            case 1:
                arg.value = ArgumentValue::TextContent{
                    placeholder(std::get<1>(slot->value.value).node, jobs)};
                break;
            case 2:
                arg.value = ArgumentValue::OperatorNameContent{
                    placeholder(std::get<2>(slot->value.value).node, jobs)};
                break;
            default: arg.value = slot->value; break;  // plain data, no subtree
        }
        out.emplace_back(std::move(arg));
    }
    return out;
}

std::vector<SyntaxNode> placeholder_children(const std::vector<SyntaxNode>& src,
                                             std::vector<CopyJob>& jobs) {
    std::vector<SyntaxNode> out(src.size());
    for (std::size_t i = 0; i < src.size(); ++i) jobs.push_back({&src[i], &out[i]});
    return out;
}

}  // namespace

void SyntaxNode::copy_from(const SyntaxNode& root) {
    // Copies one level per job; child slots get placeholders whose final
    // addresses are stable (vectors are sized once, boxes are heap nodes).
    std::vector<CopyJob> jobs;
    jobs.push_back({&root, this});
    while (!jobs.empty()) {
        CopyJob job = jobs.back();
        jobs.pop_back();
        const Value& s = job.src->value;
        Value& d = job.dst->value;
        switch (job.src->kind()) {
            case NodeKind::Root: {
                const auto& v = std::get<Root>(s);
                d = Root{v.mode, {}};
                std::get<Root>(d).children = placeholder_children(v.children, jobs);
                break;
            }
            case NodeKind::Group: {
                const auto& v = std::get<Group>(s);
                d = Group{v.mode, v.kind, {}};
                std::get<Group>(d).children = placeholder_children(v.children, jobs);
                break;
            }
            case NodeKind::Command: {
                const auto& v = std::get<Command>(s);
                d = Command{v.name, copy_args(v.args, jobs), v.known};
                break;
            }
            case NodeKind::Infix: {
                const auto& v = std::get<Infix>(s);
                Infix out;
                out.name = v.name;
                out.left = placeholder(v.left, jobs);
                out.args = copy_args(v.args, jobs);
                out.right = placeholder(v.right, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Declarative: {
                const auto& v = std::get<Declarative>(s);
                d = Declarative{v.name, copy_args(v.args, jobs)};
                break;
            }
            case NodeKind::Environment: {
                const auto& v = std::get<Environment>(s);
                Environment out;
                out.name = v.name;
                out.args = copy_args(v.args, jobs);
                out.known = v.known;
                out.body = placeholder(v.body, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Scripted: {
                const auto& v = std::get<Scripted>(s);
                Scripted out;
                out.base = placeholder(v.base, jobs);
                out.subscript = placeholder(v.subscript, jobs);
                out.superscript = placeholder(v.superscript, jobs);
                d = std::move(out);
                break;
            }
            case NodeKind::Error: d = std::get<Error>(s); break;
            case NodeKind::Prime: d = std::get<Prime>(s); break;
            case NodeKind::Text: d = std::get<Text>(s); break;
            case NodeKind::Char: d = std::get<Char>(s); break;
            default: d = ActiveSpace{}; break;
        }
    }
}

namespace {

using Pair = std::pair<const SyntaxNode*, const SyntaxNode*>;

bool boxes_match(const SyntaxNode::Box& a, const SyntaxNode::Box& b, std::vector<Pair>& pairs) {
    if (!a || !b) return !a && !b;
    pairs.emplace_back(a.get(), b.get());
    return true;
}

// Compares slot shapes and plain values; content subtrees are queued.
bool args_match(const ArgumentSlots& a, const ArgumentSlots& b, std::vector<Pair>& pairs) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].has_value() != b[i].has_value()) return false;
        if (!a[i]) continue;
        const Argument& x = *a[i];
        const Argument& y = *b[i];
        if (!(x.kind == y.kind) || x.no_leading_space != y.no_leading_space) return false;
        if (x.value.value.index() != y.value.value.index()) return false;
        if (x.value.is_content()) {
            if (!boxes_match(*x.value.content_box(), *y.value.content_box(), pairs)) return false;
        } else if (!(x.value == y.value)) {
            return false;
        }
    }
    return true;
}

bool children_match(const std::vector<SyntaxNode>& a, const std::vector<SyntaxNode>& b,
                    std::vector<Pair>& pairs) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) pairs.emplace_back(&a[i], &b[i]);
    return true;
}

bool shallow_match(const SyntaxNode& a, const SyntaxNode& b, std::vector<Pair>& pairs) {
    const auto& s = a.value;
    const auto& t = b.value;
    if (s.index() != t.index()) return false;
    switch (a.kind()) {
        case NodeKind::Root: {
            const auto& x = std::get<SyntaxNode::Root>(s);
            const auto& y = std::get<SyntaxNode::Root>(t);
            return x.mode == y.mode && children_match(x.children, y.children, pairs);
        }
        case NodeKind::Group: {
            const auto& x = std::get<SyntaxNode::Group>(s);
            const auto& y = std::get<SyntaxNode::Group>(t);
            return x.mode == y.mode && x.kind == y.kind &&
                   children_match(x.children, y.children, pairs);
        }
        case NodeKind::Command: {
            const auto& x = std::get<SyntaxNode::Command>(s);
            const auto& y = std::get<SyntaxNode::Command>(t);
            return x.name == y.name && x.known == y.known && args_match(x.args, y.args, pairs);
        }
        case NodeKind::Infix: {
            const auto& x = std::get<SyntaxNode::Infix>(s);
            const auto& y = std::get<SyntaxNode::Infix>(t);
            return x.name == y.name && args_match(x.args, y.args, pairs) &&
                   boxes_match(x.left, y.left, pairs) && boxes_match(x.right, y.right, pairs);
        }
        case NodeKind::Declarative: {
            const auto& x = std::get<SyntaxNode::Declarative>(s);
            const auto& y = std::get<SyntaxNode::Declarative>(t);
            return x.name == y.name && args_match(x.args, y.args, pairs);
        }
        case NodeKind::Environment: {
            const auto& x = std::get<SyntaxNode::Environment>(s);
            const auto& y = std::get<SyntaxNode::Environment>(t);
            return x.name == y.name && x.known == y.known && args_match(x.args, y.args, pairs) &&
                   boxes_match(x.body, y.body, pairs);
        }
        case NodeKind::Scripted: {
            const auto& x = std::get<SyntaxNode::Scripted>(s);
            const auto& y = std::get<SyntaxNode::Scripted>(t);
            return boxes_match(x.base, y.base, pairs) &&
                   boxes_match(x.subscript, y.subscript, pairs) &&
                   boxes_match(x.superscript, y.superscript, pairs);
        }
        case NodeKind::Error: {
            const auto& x = std::get<SyntaxNode::Error>(s);
            const auto& y = std::get<SyntaxNode::Error>(t);
            return x.message == y.message && x.snippet == y.snippet;
        }
        case NodeKind::Prime: return std::get<SyntaxNode::Prime>(s).count == std::get<SyntaxNode::Prime>(t).count;
        case NodeKind::Text: return std::get<SyntaxNode::Text>(s).value == std::get<SyntaxNode::Text>(t).value;
        case NodeKind::Char: return std::get<SyntaxNode::Char>(s).value == std::get<SyntaxNode::Char>(t).value;
        default: return true;
    }
}

}  // namespace

bool operator==(const SyntaxNode& a, const SyntaxNode& b) {
    std::vector<Pair> pairs;
    pairs.emplace_back(&a, &b);
    while (!pairs.empty()) {
        auto [x, y] = pairs.back();
        pairs.pop_back();
        if (x == y) continue;
        if (!shallow_match(*x, *y, pairs)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Debug forms

namespace {

// An approximation of the escaping of non-printable and combining
// characters in debug output: control characters, non-ASCII spaces, line
// and paragraph separators, common format characters, private use and the
// main combining-mark blocks.
bool needs_unicode_escape(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;
    if (c == 0xA0 || c == 0xAD || c == 0x1680 || c == 0x061C || c == 0x180E) return true;
    if (c >= 0x2000 && c <= 0x200F) return true;
    if (c >= 0x2028 && c <= 0x202F) return true;
    if (c >= 0x205F && c <= 0x206F) return true;
    if (c == 0x3000 || c == 0xFEFF) return true;
    if (c >= 0x0300 && c <= 0x036F) return true;
    if (c >= 0x1AB0 && c <= 0x1AFF) return true;
    if (c >= 0x1DC0 && c <= 0x1DFF) return true;
    if (c >= 0x20D0 && c <= 0x20FF) return true;
    if (c >= 0xFE00 && c <= 0xFE0F) return true;
    if (c >= 0xFE20 && c <= 0xFE2F) return true;
    if (c >= 0xE000 && c <= 0xF8FF) return true;
    if (c >= 0xF0000) return true;
    if (c >= 0xD800 && c <= 0xDFFF) return true;
    return false;
}

void append_escaped(std::string& out, char32_t c, char quote) {
    switch (c) {
        case 0: out += "\\0"; return;
        case '\t': out += "\\t"; return;
        case '\r': out += "\\r"; return;
        case '\n': out += "\\n"; return;
        case '\\': out += "\\\\"; return;
        default: break;
    }
    if (c == static_cast<char32_t>(quote)) {
        out.push_back('\\');
        out.push_back(quote);
        return;
    }
    if (needs_unicode_escape(c)) {
        static constexpr char kHex[] = "0123456789abcdef";
        out += "\\u{";
        bool started = false;
        for (int shift = 20; shift >= 0; shift -= 4) {
            unsigned digit = (c >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                out.push_back(kHex[digit]);
                started = true;
            }
        }
        out.push_back('}');
        return;
    }
    util::utf8::append(out, c);
}

}  // namespace

void append_debug_str(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) append_escaped(out, util::utf8::decode_lossy(text, i), '"');
    out.push_back('"');
}

void append_debug_char(std::string& out, char32_t c) {
    out.push_back('\'');
    append_escaped(out, c, '\'');
    out.push_back('\'');
}

std::string debug_string(ContentMode mode) { return mode == ContentMode::Math ? "Math" : "Text"; }

namespace {

void append_delimiter(std::string& out, const Delimiter& d) {
    if (const auto* c = d.as_char()) {
        out += "Char(";
        append_debug_char(out, c->value);
        out += ")";
    } else if (const auto* c = d.as_control()) {
        out += "Control(";
        append_debug_str(out, c->name);
        out += ")";
    } else {
        out += "None";
    }
}

void append_delimiter_pair(std::string& out, std::string_view variant, std::string_view a_name,
                           const Delimiter& a, std::string_view b_name, const Delimiter& b) {
    out += variant;
    out += " { ";
    out += a_name;
    out += ": ";
    append_delimiter(out, a);
    out += ", ";
    out += b_name;
    out += ": ";
    append_delimiter(out, b);
    out += " }";
}

void append_group_kind(std::string& out, const GroupKind& kind) {
    switch (kind.index()) {
        case 0: out += "Explicit"; break;
        case 1: out += "Implicit"; break;
        case 2: {
            const auto& d = *kind.as_delimited();
            append_delimiter_pair(out, "Delimited", "left", d.left, "right", d.right);
            break;
        }
        default: out += "InlineMath"; break;
    }
}

void append_argument_kind(std::string& out, const ArgumentKind& kind) {
    switch (kind.value.index()) {
        case 0: out += "Mandatory"; break;
        case 1: out += "Optional"; break;
        case 2: out += "Star"; break;
        case 3: out += "Group"; break;
        case 4: {
            const auto& d = *kind.as_delimited();
            append_delimiter_pair(out, "Delimited", "open", d.open, "close", d.close);
            break;
        }
        default: {
            const auto& d = *kind.as_paired();
            append_delimiter_pair(out, "Paired", "open", d.open, "close", d.close);
            break;
        }
    }
}

// The debug writer works on a stack of pieces: literal text, or a node
// still to be expanded. Expanding a node pushes its own pieces in reverse,
// so output order is preserved without recursion.
class DebugWriter {
public:
    std::string run() {
        while (!stack_.empty()) {
            Piece piece = std::move(stack_.back());
            stack_.pop_back();
            if (piece.node) {
                expand(*piece.node);
            } else {
                out_ += piece.text;
            }
        }
        return std::move(out_);
    }

    void push_node(const SyntaxNode* node) { stage_node(node); }
    void push_argument(const Argument& arg) { stage_argument(arg); }
    void push_value(const ArgumentValue& value) { stage_value(value); }
    void commit() {
        for (auto it = staged_.rbegin(); it != staged_.rend(); ++it) stack_.push_back(std::move(*it));
        staged_.clear();
    }

private:
    struct Piece {
        std::string text;
        const SyntaxNode* node = nullptr;
    };

    void lit(std::string_view text) {
        if (!staged_.empty() && !staged_.back().node) {
            staged_.back().text += text;
        } else {
            staged_.push_back({std::string(text), nullptr});
        }
    }
    std::string& tail() {
        if (staged_.empty() || staged_.back().node) staged_.push_back({});
        return staged_.back().text;
    }
    void stage_node(const SyntaxNode* node) {
        if (node) {
            staged_.push_back({{}, node});
        } else {
            lit("<empty>");
        }
    }
    void stage_box(const SyntaxNode::Box& box) { stage_node(box.get()); }
    void stage_optional_box(const SyntaxNode::Box& box) {
        if (!box) {
            lit("None");
            return;
        }
        lit("Some(");
        stage_node(box.get());
        lit(")");
    }
    void stage_value(const ArgumentValue& value) {
        switch (value.value.index()) {
            case 0: lit("MathContent("); stage_box(std::get<0>(value.value).node); lit(")"); break;
            case 1: lit("TextContent("); stage_box(std::get<1>(value.value).node); lit(")"); break;
            case 2:
                lit("OperatorNameContent(");
                stage_box(std::get<2>(value.value).node);
                lit(")");
                break;
            case 3:
                lit("Delimiter(");
                append_delimiter(tail(), std::get<ArgumentValue::Delimiter>(value.value).value);
                lit(")");
                break;
            case 4: string_value("CSName", std::get<ArgumentValue::CSName>(value.value).value); break;
            case 5:
                string_value("Dimension", std::get<ArgumentValue::Dimension>(value.value).value);
                break;
            case 6: string_value("Integer", std::get<ArgumentValue::Integer>(value.value).value); break;
            case 7: string_value("KeyVal", std::get<ArgumentValue::KeyVal>(value.value).value); break;
            case 8: string_value("Column", std::get<ArgumentValue::Column>(value.value).value); break;
            default:
                lit(std::get<ArgumentValue::Boolean>(value.value).value ? "Boolean(true)"
                                                                        : "Boolean(false)");
                break;
        }
    }
    void string_value(std::string_view variant, const std::string& text) {
        lit(variant);
        lit("(");
        append_debug_str(tail(), text);
        lit(")");
    }
    void stage_argument(const Argument& arg) {
        lit("Argument { kind: ");
        append_argument_kind(tail(), arg.kind);
        lit(arg.no_leading_space ? ", no_leading_space: true, value: "
                                 : ", no_leading_space: false, value: ");
        stage_value(arg.value);
        lit(" }");
    }
    void stage_args(const ArgumentSlots& args) {
        lit("[");
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (i > 0) lit(", ");
            if (args[i]) {
                lit("Some(");
                stage_argument(*args[i]);
                lit(")");
            } else {
                lit("None");
            }
        }
        lit("]");
    }
    void stage_children(const std::vector<SyntaxNode>& children) {
        lit("[");
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (i > 0) lit(", ");
            stage_node(&children[i]);
        }
        lit("]");
    }
    void stage_name(std::string_view name) {
        lit("name: ");
        append_debug_str(tail(), name);
    }

    void expand(const SyntaxNode& node) {
        const auto& v = node.value;
        switch (node.kind()) {
            case NodeKind::Root: {
                const auto& x = std::get<SyntaxNode::Root>(v);
                lit("Root { mode: ");
                lit(debug_string(x.mode));
                lit(", children: ");
                stage_children(x.children);
                lit(" }");
                break;
            }
            case NodeKind::Group: {
                const auto& x = std::get<SyntaxNode::Group>(v);
                lit("Group { mode: ");
                lit(debug_string(x.mode));
                lit(", kind: ");
                append_group_kind(tail(), x.kind);
                lit(", children: ");
                stage_children(x.children);
                lit(" }");
                break;
            }
            case NodeKind::Command: {
                const auto& x = std::get<SyntaxNode::Command>(v);
                lit("Command { ");
                stage_name(x.name);
                lit(", args: ");
                stage_args(x.args);
                lit(x.known ? ", known: true }" : ", known: false }");
                break;
            }
            case NodeKind::Infix: {
                const auto& x = std::get<SyntaxNode::Infix>(v);
                lit("Infix { ");
                stage_name(x.name);
                lit(", args: ");
                stage_args(x.args);
                lit(", left: ");
                stage_box(x.left);
                lit(", right: ");
                stage_box(x.right);
                lit(" }");
                break;
            }
            case NodeKind::Declarative: {
                const auto& x = std::get<SyntaxNode::Declarative>(v);
                lit("Declarative { ");
                stage_name(x.name);
                lit(", args: ");
                stage_args(x.args);
                lit(" }");
                break;
            }
            case NodeKind::Environment: {
                const auto& x = std::get<SyntaxNode::Environment>(v);
                lit("Environment { ");
                stage_name(x.name);
                lit(", args: ");
                stage_args(x.args);
                lit(x.known ? ", known: true, body: " : ", known: false, body: ");
                stage_box(x.body);
                lit(" }");
                break;
            }
            case NodeKind::Scripted: {
                const auto& x = std::get<SyntaxNode::Scripted>(v);
                lit("Scripted { base: ");
                stage_box(x.base);
                lit(", subscript: ");
                stage_optional_box(x.subscript);
                lit(", superscript: ");
                stage_optional_box(x.superscript);
                lit(" }");
                break;
            }
            case NodeKind::Error: {
                const auto& x = std::get<SyntaxNode::Error>(v);
                lit("Error { message: ");
                append_debug_str(tail(), x.message);
                lit(", snippet: ");
                append_debug_str(tail(), x.snippet);
                lit(" }");
                break;
            }
            case NodeKind::Prime:
                lit("Prime { count: ");
                lit(std::to_string(std::get<SyntaxNode::Prime>(v).count));
                lit(" }");
                break;
            case NodeKind::Text:
                lit("Text(");
                append_debug_str(tail(), std::get<SyntaxNode::Text>(v).value);
                lit(")");
                break;
            case NodeKind::Char:
                lit("Char(");
                append_debug_char(tail(), std::get<SyntaxNode::Char>(v).value);
                lit(")");
                break;
            default: lit("ActiveSpace"); break;
        }
        commit();
    }

    std::vector<Piece> stack_;
    std::vector<Piece> staged_;
    std::string out_;
};

}  // namespace

std::string debug_string(const SyntaxNode& node) {
    DebugWriter writer;
    writer.push_node(&node);
    writer.commit();
    return writer.run();
}

std::string debug_string(const Delimiter& delimiter) {
    std::string out;
    append_delimiter(out, delimiter);
    return out;
}

std::string debug_string(const GroupKind& kind) {
    std::string out;
    append_group_kind(out, kind);
    return out;
}

std::string debug_string(const ArgumentKind& kind) {
    std::string out;
    append_argument_kind(out, kind);
    return out;
}

std::string debug_string(const ArgumentValue& value) {
    DebugWriter writer;
    writer.push_value(value);
    writer.commit();
    return writer.run();
}

std::string debug_string(const Argument& argument) {
    DebugWriter writer;
    writer.push_argument(argument);
    writer.commit();
    return writer.run();
}

}  // namespace quorvel::syntax
