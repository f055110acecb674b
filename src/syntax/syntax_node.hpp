// The exchange tree: the plain, owned form of a syntax tree.
//
// Every child is held by value; there are no identifiers and no parent
// links. The grammar builds this form, documents convert from and to it,
// and whole trees cross the Python boundary in it.
//
// Deep trees are safe: copying, comparing, debug-printing and destroying a
// `SyntaxNode` walk with explicit stacks, never by recursion per level.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "syntax/compact_string.hpp"
#include "syntax/compact_vector.hpp"
#include "util/box.hpp"
#include "syntax/content_mode.hpp"
#include "syntax/node_kind.hpp"

namespace quorvel::syntax {

// A Unicode scalar value: at most U+10FFFF and not a surrogate. Every place
// where a character enters the trees from outside refuses anything else.
constexpr bool is_scalar_value(char32_t c) {
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

class SyntaxNode;

namespace syntax_node {

// An owning, deep-copying pointer; an empty `subscript`/`superscript` means
// the script is absent.
using util::Box;

// A delimiter: none (written "."), one character, or a control-sequence name
// without its backslash.
struct Delimiter {
    struct None {
        bool operator==(const None&) const = default;
    };
    struct Char {
        char32_t value = 0;
        bool operator==(const Char&) const = default;
    };
    struct Control {
        std::string name;
        bool operator==(const Control&) const = default;
    };
    using Value = std::variant<None, Char, Control>;

    Value value;

    Delimiter() = default;
    Delimiter(None v) : value(std::in_place_type<None>, v) {}
    Delimiter(Char v) : value(std::in_place_type<Char>, v) {}
    Delimiter(Control v) : value(std::in_place_type<Control>, std::move(v)) {}

    static Delimiter none() { return Delimiter(); }
    static Delimiter character(char32_t c) { return Delimiter(Char{c}); }
    static Delimiter control(std::string name) { return Delimiter(Control{std::move(name)}); }

    bool is_none() const { return std::holds_alternative<None>(value); }
    const Char* as_char() const { return std::get_if<Char>(&value); }
    const Control* as_control() const { return std::get_if<Control>(&value); }

    bool operator==(const Delimiter&) const = default;
};

class GroupKind {
public:
    struct Explicit {  // {...}
        bool operator==(const Explicit&) const = default;
    };
    struct Implicit {  // no delimiters of its own
        bool operator==(const Implicit&) const = default;
    };
    struct Delimited {  // \left ... \right
        Delimiter left;
        Delimiter right;
        bool operator==(const Delimited&) const = default;
    };
    struct InlineMath {  // $...$ inside text
        bool operator==(const InlineMath&) const = default;
    };

    GroupKind() noexcept = default;  // Explicit
    GroupKind(Explicit) noexcept : bits_(kExplicit) {}
    GroupKind(Implicit) noexcept : bits_(kImplicit) {}
    GroupKind(Delimited v) : bits_(reinterpret_cast<std::uintptr_t>(new Delimited(std::move(v)))) {}
    GroupKind(InlineMath) noexcept : bits_(kInlineMath) {}
    GroupKind(const GroupKind& other)
        : bits_(other.as_delimited() != nullptr
                    ? reinterpret_cast<std::uintptr_t>(new Delimited(*other.as_delimited()))
                    : other.bits_) {}
    GroupKind(GroupKind&& other) noexcept : bits_(std::exchange(other.bits_, kExplicit)) {}
    GroupKind& operator=(const GroupKind& other) {
        if (this != &other) *this = GroupKind(other);
        return *this;
    }
    GroupKind& operator=(GroupKind&& other) noexcept {
        if (this != &other) {
            release();
            bits_ = std::exchange(other.bits_, kExplicit);
        }
        return *this;
    }
    ~GroupKind() { release(); }

    // 0 Explicit, 1 Implicit, 2 Delimited, 3 InlineMath.
    std::size_t index() const noexcept { return bits_ <= kInlineMath ? bits_ : 2; }
    bool is_explicit() const { return bits_ == kExplicit; }
    bool is_implicit() const { return bits_ == kImplicit; }
    bool is_inline_math() const { return bits_ == kInlineMath; }
    const Delimited* as_delimited() const {
        return bits_ > kInlineMath ? reinterpret_cast<const Delimited*>(bits_) : nullptr;
    }

    friend bool operator==(const GroupKind& a, const GroupKind& b) {
        const Delimited* da = a.as_delimited();
        const Delimited* db = b.as_delimited();
        if (da == nullptr || db == nullptr) return a.bits_ == b.bits_;
        return *da == *db;
    }

private:
    // The three plain kinds are small numbers; anything larger is the
    // address of the rare delimiter pair. One word keeps every group small.
    static constexpr std::uintptr_t kExplicit = 0;
    static constexpr std::uintptr_t kImplicit = 1;
    static constexpr std::uintptr_t kInlineMath = 3;

    void release() noexcept { delete const_cast<Delimited*>(as_delimited()); }

    std::uintptr_t bits_ = kExplicit;
};

// The written form of one argument slot.
struct ArgumentKind {
    struct Mandatory {  // {...}
        bool operator==(const Mandatory&) const = default;
    };
    struct Optional {  // [...]
        bool operator==(const Optional&) const = default;
    };
    struct Star {  // a `*` flag
        bool operator==(const Star&) const = default;
    };
    struct Group {  // a braced group argument
        bool operator==(const Group&) const = default;
    };
    struct Delimited {
        Delimiter open;
        Delimiter close;
        bool operator==(const Delimited&) const = default;
    };
    struct Paired {  // the pair that was written, of those the slot allows
        Delimiter open;
        Delimiter close;
        bool operator==(const Paired&) const = default;
    };
    // The delimiter pairs are rare and large: behind a pointer they keep
    // every argument slot small.
    using Value = std::variant<Mandatory, Optional, Star, Group, Box<Delimited>, Box<Paired>>;

    Value value;

    ArgumentKind() = default;  // Mandatory
    ArgumentKind(Mandatory v) : value(std::in_place_type<Mandatory>, v) {}
    ArgumentKind(Optional v) : value(std::in_place_type<Optional>, v) {}
    ArgumentKind(Star v) : value(std::in_place_type<Star>, v) {}
    ArgumentKind(Group v) : value(std::in_place_type<Group>, v) {}
    ArgumentKind(Delimited v) : value(std::in_place_type<Box<Delimited>>, std::move(v)) {}
    ArgumentKind(Paired v) : value(std::in_place_type<Box<Paired>>, std::move(v)) {}

    bool is_star() const { return std::holds_alternative<Star>(value); }
    const Delimited* as_delimited() const {
        const auto* box = std::get_if<Box<Delimited>>(&value);
        return box != nullptr ? box->get() : nullptr;
    }
    const Paired* as_paired() const {
        const auto* box = std::get_if<Box<Paired>>(&value);
        return box != nullptr ? box->get() : nullptr;
    }

    bool operator==(const ArgumentKind&) const = default;
};

// What a filled slot holds. Only the three content values own a subtree.
struct ArgumentValue {
    struct MathContent {
        Box<SyntaxNode> node;
        friend bool operator==(const MathContent&, const MathContent&) = default;
    };
    struct TextContent {
        Box<SyntaxNode> node;
        friend bool operator==(const TextContent&, const TextContent&) = default;
    };
    struct OperatorNameContent {  // validated as math content
        Box<SyntaxNode> node;
        friend bool operator==(const OperatorNameContent&, const OperatorNameContent&) = default;
    };
    struct Delimiter {
        syntax_node::Delimiter value;
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
    struct Boolean {  // the value of a Star slot
        bool value = false;
        bool operator==(const Boolean&) const = default;
    };
    using Value = std::variant<MathContent, TextContent, OperatorNameContent, Delimiter, CSName,
                               Dimension, Integer, KeyVal, Column, Boolean>;

    Value value;

    ArgumentValue() = default;  // MathContent with no node: fill it before use
    ArgumentValue(MathContent v) : value(std::in_place_type<MathContent>, std::move(v)) {}
    ArgumentValue(TextContent v) : value(std::in_place_type<TextContent>, std::move(v)) {}
    ArgumentValue(OperatorNameContent v) : value(std::in_place_type<OperatorNameContent>, std::move(v)) {}
    ArgumentValue(Delimiter v) : value(std::in_place_type<Delimiter>, std::move(v)) {}
    ArgumentValue(CSName v) : value(std::in_place_type<CSName>, std::move(v)) {}
    ArgumentValue(Dimension v) : value(std::in_place_type<Dimension>, std::move(v)) {}
    ArgumentValue(Integer v) : value(std::in_place_type<Integer>, std::move(v)) {}
    ArgumentValue(KeyVal v) : value(std::in_place_type<KeyVal>, std::move(v)) {}
    ArgumentValue(Column v) : value(std::in_place_type<Column>, std::move(v)) {}
    ArgumentValue(Boolean v) : value(std::in_place_type<Boolean>, v) {}

    bool is_content() const { return value.index() <= 2; }
    // The content subtree, or null for the other values.
    const SyntaxNode* content() const;
    SyntaxNode* content();
    Box<SyntaxNode>* content_box();
    const Box<SyntaxNode>* content_box() const;
    // Math for math and operator-name content, Text for text content.
    std::optional<ContentMode> content_mode() const;

    friend bool operator==(const ArgumentValue&, const ArgumentValue&) = default;
};

// One filled argument slot.
struct Argument {
    ArgumentKind kind;
    bool no_leading_space = false;
    ArgumentValue value;

    friend bool operator==(const Argument&, const Argument&) = default;
};

// One entry per slot of the item's argument specification; empty when the
// slot was not written. One pointer wide: most nodes have no slots at all.
using ArgumentSlots = CompactVector<std::optional<Argument>>;

}  // namespace syntax_node

class SyntaxNode {
public:
    using Box = syntax_node::Box<SyntaxNode>;
    using ArgumentSlots = syntax_node::ArgumentSlots;

    struct Root {
        ContentMode mode = ContentMode::Math;
        std::vector<SyntaxNode> children;
    };
    struct Group {
        ContentMode mode = ContentMode::Math;  // the mode of the group's own children
        syntax_node::GroupKind kind;
        std::vector<SyntaxNode> children;
    };
    struct Command {
        CompactString name;  // without the backslash
        ArgumentSlots args;
        bool known = false;
    };
    struct Infix {
        CompactString name;
        ArgumentSlots args;
        Box left;
        Box right;
    };
    struct Declarative {
        CompactString name;
        ArgumentSlots args;
    };
    struct Environment {
        CompactString name;
        ArgumentSlots args;
        bool known = false;
        Box body;  // a Group in the body's mode
    };
    struct Scripted {
        Box base;
        Box subscript;    // empty when absent
        Box superscript;  // empty when absent
    };
    struct Error {
        CompactString message;
        CompactString snippet;  // written back unchanged
    };
    struct Prime {
        std::uint64_t count = 0;
    };
    struct Text {
        CompactString value;
    };
    struct Char {
        char32_t value = 0;
    };
    struct ActiveSpace {};

    // The variant order is the exchange order (Error at 7).
    using Value = std::variant<Root, Group, Command, Infix, Declarative, Environment, Scripted,
                               Error, Prime, Text, Char, ActiveSpace>;

    Value value;

    // An ActiveSpace; also the placeholder that copying and conversion fill in.
    SyntaxNode() noexcept : value(std::in_place_type<ActiveSpace>) {}
    SyntaxNode(Root v) : value(std::in_place_type<Root>, std::move(v)) {}
    SyntaxNode(Group v) : value(std::in_place_type<Group>, std::move(v)) {}
    SyntaxNode(Command v) : value(std::in_place_type<Command>, std::move(v)) {}
    SyntaxNode(Infix v) : value(std::in_place_type<Infix>, std::move(v)) {}
    SyntaxNode(Declarative v) : value(std::in_place_type<Declarative>, std::move(v)) {}
    SyntaxNode(Environment v) : value(std::in_place_type<Environment>, std::move(v)) {}
    SyntaxNode(Scripted v) : value(std::in_place_type<Scripted>, std::move(v)) {}
    SyntaxNode(Error v) : value(std::in_place_type<Error>, std::move(v)) {}
    SyntaxNode(Prime v) : value(std::in_place_type<Prime>, v) {}
    SyntaxNode(Text v) : value(std::in_place_type<Text>, std::move(v)) {}
    SyntaxNode(Char v) : value(std::in_place_type<Char>, v) {}
    SyntaxNode(ActiveSpace v) : value(std::in_place_type<ActiveSpace>, v) {}

    // Boxed nodes are made and freed by the thousand in every parse and
    // document build: their blocks are reused on the thread.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

    SyntaxNode(const SyntaxNode& other);
    SyntaxNode(SyntaxNode&& other) noexcept : value(std::move(other.value)) {}
    SyntaxNode& operator=(const SyntaxNode& other);
    SyntaxNode& operator=(SyntaxNode&& other) noexcept;
    ~SyntaxNode() {
        // Most nodes that die (leaves and moved-from shells) stop here.
        if (may_own_children() && owns_children()) release_subtrees();
    }

    // The kind of this node, by variant (not by index).
    NodeKind kind() const { return kKinds[value.index()]; }

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

    // The argument slots of a command-like node; null for other kinds.
    const ArgumentSlots* args() const;
    ArgumentSlots* args();

    // Value equality of the whole subtree.
    friend bool operator==(const SyntaxNode& a, const SyntaxNode& b);

    // Moves every owned child subtree (children, operands, body, base,
    // scripts, argument contents) onto `out`, leaving this node childless.
    // Used by the iterative destruction; also handy for consumers that
    // take a tree apart.
    void take_children(std::vector<SyntaxNode>& out);

    // Calls fn(child) for each owned child subtree, in the arena's edge order:
    // children; an infix's left operand, argument contents, right operand; an
    // environment's argument contents, then body; a script's base, subscript,
    // superscript; a command's argument contents.
    template <class F>
    void for_each_child(F&& fn) {
        auto args = [&fn](ArgumentSlots& slots) {
            for (auto& slot : slots) {
                if (!slot) continue;
                if (SyntaxNode* content = slot->value.content()) fn(*content);
            }
        };
        auto box = [&fn](Box& b) {
            if (b) fn(*b);
        };
        switch (value.index()) {
            case 0:
                for (auto& c : std::get<Root>(value).children) fn(c);
                break;
            case 1:
                for (auto& c : std::get<Group>(value).children) fn(c);
                break;
            case 2: args(std::get<Command>(value).args); break;
            case 3: {
                auto& v = std::get<Infix>(value);
                box(v.left);
                args(v.args);
                box(v.right);
                break;
            }
            case 4: args(std::get<Declarative>(value).args); break;
            case 5: {
                auto& v = std::get<Environment>(value);
                args(v.args);
                box(v.body);
                break;
            }
            case 6: {
                auto& v = std::get<Scripted>(value);
                box(v.base);
                box(v.subscript);
                box(v.superscript);
                break;
            }
            default: break;
        }
    }

    // Frees every owned subtree of this node (leaving it childless, or with
    // children that own nothing) with no allocation at all, bottom-up on a
    // path kept in a fixed ring. The destructor takes it when there is no
    // memory for its work list.
    void release_subtrees_in_place() noexcept;

    // Index-to-kind table of the variant (Error sits at 7 here, last in
    // NodeKind); the source file pins each entry to its alternative.
    static constexpr NodeKind kKinds[12] = {
        NodeKind::Root,   NodeKind::Group,       NodeKind::Command,  NodeKind::Infix,
        NodeKind::Declarative, NodeKind::Environment, NodeKind::Scripted, NodeKind::Error,
        NodeKind::Prime,  NodeKind::Text,        NodeKind::Char,     NodeKind::ActiveSpace,
    };

private:
    static constexpr std::size_t kLastOwningIndex = 6;  // Scripted
    // A quick test before `owns_children`: false for the kinds that own
    // nothing and for empty groups, roots and commands.
    bool may_own_children() const noexcept {
        if (const auto* g = std::get_if<Group>(&value)) return !g->children.empty();
        if (const auto* c = std::get_if<Command>(&value)) return !c->args.empty();
        if (const auto* r = std::get_if<Root>(&value)) return !r->children.empty();
        return value.index() <= kLastOwningIndex;
    }
    bool owns_children() const;
    // Frees every owned subtree without recursion per level. Out of memory
    // for its work list, it falls back on `release_subtrees_in_place`.
    void release_subtrees() noexcept;
    void copy_from(const SyntaxNode& other);
};

// Every alternative fits in 40 bytes beside the variant's index: the grammar
// holds one of these per node of a parse, so a growth here raises the peak of
// every large input.
static_assert(sizeof(SyntaxNode) <= 48);

// Debug forms in the derived style: `Group { mode: Math, kind: Explicit,
// children: [Char('x'), Text("ab")] }`. Used in messages of internal failures.
std::string debug_string(const SyntaxNode& node);
std::string debug_string(const syntax_node::Delimiter& delimiter);
std::string debug_string(const syntax_node::GroupKind& kind);
std::string debug_string(const syntax_node::ArgumentKind& kind);
std::string debug_string(const syntax_node::ArgumentValue& value);
std::string debug_string(const syntax_node::Argument& argument);
std::string debug_string(ContentMode mode);  // "Math" / "Text"

// Rust-style quoted debug forms of a string and a character.
void append_debug_str(std::string& out, std::string_view text);
void append_debug_char(std::string& out, char32_t c);

}  // namespace quorvel::syntax
